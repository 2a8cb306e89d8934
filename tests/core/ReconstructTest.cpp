// The reconstruction on the synthetic generic head: preconditions, the identity (points of the
// generic head give the generic head back), known stretches, orientation, defaults, and failures
// that must leave the previous head, view, points and files exactly as they were.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "collada/Colladaasset.h"
#include "core/Weightmanager.h"
#include "platform/base/Messages.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "tests/core/CoreFixture.h"
#include "testing/HeadInvariants.h"

namespace {

namespace fs = std::filesystem;

TGeometry& Geometry(TVultari& core, int model, int index)
{
    return *core.engine->models[static_cast<size_t>(model)]->geometries.geometries[static_cast<size_t>(index)];
}

std::vector<std::pair<int, int>> Points(const THeadAttributes& a)
{
    std::vector<std::pair<int, int>> out;
    for (const THPoint* p : a.front)
        out.push_back({p->x, p->y});
    for (const THPoint* p : a.profile)
        out.push_back({p->x, p->y});
    return out;
}

std::string FileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) : std::string("<none>");
}

// Largest distance between the head's vertices and the corners of a synthetic head.
float MaxDistance(const TGeometry& mesh, const TSyntheticHead& head)
{
    float worst = 0;
    for (size_t i = 0; i < head.corners.size(); ++i) {
        const float dx = mesh.positions[3 * i] - head.corners[i].x, dy = mesh.positions[3 * i + 1] - head.corners[i].y,
                    dz = mesh.positions[3 * i + 2] - head.corners[i].z;
        worst = std::max(worst, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    return worst;
}

class Reconstruct : public ::testing::Test {
protected:
    CoreFixture fx{"reconstruct"};
    TVultari& core = *fx.core;
    fs::path Textures() const { return fx.folder.Path() / "data/textures"; }
};

TEST_F(Reconstruct, NeedsBothPhotosAndTheirBitmaps)
{
    ScopedMessageCapture messages;
    core.Reconstruct();
    ASSERT_EQ(messages.Texts(), std::vector<std::string>{"Error: please reload front head image"});
    fx.LoadPhotos();
    delete core.profileEditBitmap;
    core.profileEditBitmap = nullptr;
    messages.Clear();
    const auto before = Points(*core.headAttributes);
    core.Reconstruct();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error: please reload profile head image"});
    delete core.frontThumbnail;
    core.frontThumbnail = nullptr;
    messages.Clear();
    core.Reconstruct();
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error: please reload front head image"});
    EXPECT_EQ(Points(*core.headAttributes), before);
    EXPECT_TRUE(core.engine->models.empty());
    EXPECT_FALSE(core.reconstructed);
    EXPECT_EQ(core.displayMode, 0);
}

TEST_F(Reconstruct, PointsOfTheGenericHeadGiveTheGenericHead)
{
    fx.LoadPhotos();
    const auto before = Points(*core.headAttributes);
    ScopedMessageCapture messages;
    core.Reconstruct();
    ASSERT_TRUE(messages.Texts().empty()) << messages.Texts()[0];
    ASSERT_TRUE(core.reconstructed);
    EXPECT_EQ(core.displayMode, 3);
    EXPECT_EQ(core.headModel, 0);
    EXPECT_EQ(core.eyesModel, 1);
    EXPECT_EQ(core.hairsModel, 2);
    ASSERT_EQ(core.engine->models.size(), 3u);

    const TGeometry& head = Geometry(core, core.headModel, 0);
    ASSERT_EQ(head.positions.size(), 3 * fx.generic.corners.size());
    EXPECT_LT(MaxDistance(head, fx.generic), 0.02f);
    // The buffers carry the deformed positions.
    core.engine->MakeCurrent();
    std::vector<float> uploaded(head.positions.size());
    glBindBuffer(GL_ARRAY_BUFFER, head.positionBuffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(uploaded.size() * sizeof(float)), uploaded.data());
    EXPECT_EQ(uploaded, head.positions);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // The eyeballs move with their (unmoved) eye regions and go back by their push-back.
    const TGenericHead facts = TestGenericHead();
    TColladaAsset* eyesDocument = new TColladaAsset(&fx.document);
    ASSERT_TRUE(eyesDocument->Load(fx.folder.Folder() + "data/models/eyes.dae"));
    const TGeometry& loadedRight = *eyesDocument->geometries.geometries[0];
    const TGeometry& loadedLeft = *eyesDocument->geometries.geometries[1];
    const TGeometry& right = Geometry(core, core.eyesModel, 0);
    const TGeometry& left = Geometry(core, core.eyesModel, 1);
    for (size_t k = 0; k < left.positions.size(); k += 3) {
        EXPECT_NEAR(left.positions[k], loadedLeft.positions[k], 0.01f);
        EXPECT_NEAR(left.positions[k + 1], loadedLeft.positions[k + 1] + facts.leftEyePushBack, 0.01f);
        EXPECT_NEAR(right.positions[k + 1], loadedRight.positions[k + 1] + facts.rightEyePushBack, 0.01f);
        EXPECT_NEAR(right.positions[k + 2], loadedRight.positions[k + 2], 0.01f);
    }
    delete eyesDocument;

    // Node, effect, textures: the head texture on unit 0, the normal map appended on unit 1.
    TColladaAsset* headAsset = core.engine->models[0];
    EXPECT_EQ(core.headNode, headAsset->visualScenes.IndexOf("Cube"));
    const TNode& cube = *headAsset->visualScenes.nodes[static_cast<size_t>(core.headNode)];
    EXPECT_EQ(core.headEffect, cube.effectIndex);
    ASSERT_EQ(cube.textures.size(), 2u);
    const auto& cache = core.engine->textureEngine->textures;
    EXPECT_EQ(cache[static_cast<size_t>(cube.textures[0])]->textureUnit, GL_TEXTURE0);
    EXPECT_EQ(cache[static_cast<size_t>(cube.textures[1])]->textureUnit, GL_TEXTURE1);
    EXPECT_EQ(cube.textures[1], static_cast<int>(cache.size()) - 1);
    EXPECT_EQ(core.normalMapTexture, cube.textures[1]);
    EXPECT_NE(cache[static_cast<size_t>(cube.textures[1])]->fileName.find("normalmap.bmp"), std::string::npos);
    EXPECT_EQ(core.engine->models[2]->polygonMode, GL_LINE);
    EXPECT_EQ(headAsset->polygonMode, GL_FILL);
    for (const char* name : {"headtexture.bmp", "eye.bmp", "normalmap.bmp"})
        EXPECT_TRUE(fs::exists(Textures() / name)) << name;

    // The run keeps the points (already ordered, not mirrored) and the head's texture
    // coordinates stay inside the atlas.
    EXPECT_EQ(Points(*core.headAttributes), before);
    for (size_t k = 0; k < head.texCoords.size(); ++k) {
        ASSERT_GE(head.texCoords[k], k % 2 ? 0.01f : 0.0f);
        ASSERT_LE(head.texCoords[k], 1.0f);
    }
}

TEST_F(Reconstruct, SecondRunGivesTheSameHead)
{
    fx.LoadPhotos();
    core.Reconstruct();
    ASSERT_TRUE(core.reconstructed);
    const std::vector<float> positions = Geometry(core, 0, 0).positions, texCoords = Geometry(core, 0, 0).texCoords;
    core.yaw = 30;
    core.Reconstruct();
    EXPECT_EQ(Geometry(core, 0, 0).positions, positions);
    EXPECT_EQ(Geometry(core, 0, 0).texCoords, texCoords);
    EXPECT_EQ(core.engine->models.size(), 3u);
    EXPECT_EQ(core.engine->textureEngine->textures.size(), 3u);  // head and hairs share one image, the eyes another
    EXPECT_EQ(core.yaw, 0.0f);
}

// Mean distance over the corners whose weight in `slot` is above one half.
float RegionDistance(const std::vector<float>& positions, const TSyntheticHead& head, int slot)
{
    double sum = 0;
    int count = 0;
    for (size_t i = 0; i < head.corners.size(); ++i) {
        if (head.weights[slot][i] <= 0.5f)
            continue;
        const float dx = positions[3 * i] - head.corners[i].x, dy = positions[3 * i + 1] - head.corners[i].y,
                    dz = positions[3 * i + 2] - head.corners[i].z;
        sum += std::sqrt(dx * dx + dy * dy + dz * dz);
        ++count;
    }
    return count ? static_cast<float>(sum / count) : 0.0f;
}

TEST_F(Reconstruct, ChangedHeadsComeBackCloserThanTheGenericHead)
{
    fx.LoadPhotos();
    const std::vector<float> generic = Positions(fx.generic);
    const struct {
        const char* what;
        TSyntheticChange change;
    } table[] = {
        {"wider", {1.1f, 1, 1, 0, 0}},
        {"deeper", {1, 1.2f, 1, 0, 0}},
        {"taller", {1, 1, 1.15f, 0, 0}},
        {"narrower, deeper and taller", {0.92f, 1.1f, 1.08f, 0, 0}},
    };
    for (const auto& row : table) {
        const TSyntheticHead changed = MakeSyntheticHead(row.change);
        fx.ProjectPoints(changed);
        core.Reconstruct();
        ASSERT_TRUE(core.reconstructed) << row.what;
        // Photos carry proportions, not a size: compare shapes.
        const float baseline = ShapeDistance(generic, changed);
        const float result = ShapeDistance(Geometry(core, 0, 0).positions, changed);
        EXPECT_LT(result, 0.1f * baseline) << row.what << ": baseline " << baseline;
    }
}

TEST_F(Reconstruct, LowerMouthMovesTheMouthRegion)
{
    fx.LoadPhotos();
    TSyntheticChange change;
    change.mouthDrop = 0.3f;
    const TSyntheticHead changed = MakeSyntheticHead(change);
    fx.ProjectPoints(changed);
    core.Reconstruct();
    ASSERT_TRUE(core.reconstructed);
    const float baseline = RegionDistance(Positions(fx.generic), changed, TWeightManager::mouth);
    const float result = RegionDistance(Geometry(core, 0, 0).positions, changed, TWeightManager::mouth);
    EXPECT_GT(baseline, 0.15f);
    EXPECT_LT(result, 0.1f * baseline) << "baseline " << baseline;
}

TEST_F(Reconstruct, LongerNoseReachesItsTip)
{
    fx.LoadPhotos();
    TSyntheticChange change;
    change.noseLength = 0.4f;
    const TSyntheticHead changed = MakeSyntheticHead(change);
    fx.ProjectPoints(changed);
    core.Reconstruct();
    ASSERT_TRUE(core.reconstructed);
    // The tip corner: the one that tip_of_the_nose marks last.
    size_t tip = 0;
    for (size_t i = 0; i < fx.generic.corners.size(); ++i)
        if (fx.generic.weights[TWeightManager::tip_of_the_nose][i] > 0)
            tip = i;
    const float y = Geometry(core, 0, 0).positions[3 * tip + 1];
    // The tip comes most of the way. It overshoots a little because the head's depth, which gives
    // the depth scale, runs to the nose tip, so the longer nose deepens the whole head as well.
    const float baselineError = std::fabs(fx.generic.tipY - changed.tipY);
    EXPECT_LT(y, fx.generic.tipY - 0.5f * baselineError);
    EXPECT_LT(std::fabs(y - changed.tipY), 0.4f * baselineError) << "generic " << fx.generic.tipY;
}

TEST_F(Reconstruct, CombinedChangeComesBackCloser)
{
    fx.LoadPhotos();
    const TSyntheticHead changed = MakeSyntheticHead({1.08f, 1.15f, 1.1f, 0.3f, 0.25f});
    fx.ProjectPoints(changed);
    core.Reconstruct();
    ASSERT_TRUE(core.reconstructed);
    const float baseline = ShapeDistance(Positions(fx.generic), changed);
    const float result = ShapeDistance(Geometry(core, 0, 0).positions, changed);
    EXPECT_LT(result, baseline);
}

// What a buffer of the current context holds, as floats.
std::vector<float> Uploaded(unsigned int buffer, size_t count)
{
    std::vector<float> out(count);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count * sizeof(float)), out.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return out;
}

TEST_F(Reconstruct, MovedHeadIsShadedByItsOwnSurface)
{
    fx.LoadPhotos();
    const struct {
        const char* what;
        TSyntheticChange change;
    } table[] = {
        {"narrower, deeper and taller", {0.92f, 1.1f, 1.08f, 0, 0}},
        {"longer nose, lower mouth", {1.08f, 1.15f, 1.1f, 0.3f, 0.25f}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        fx.ProjectPoints(MakeSyntheticHead(row.change));
        core.Reconstruct();
        ASSERT_TRUE(core.reconstructed);
        TGeometry& head = Geometry(core, core.headModel, 0);
        const std::pair<const char*, TGeometry*> meshes[] = {
            {"head", &head}, {"right eyeball", &Geometry(core, core.eyesModel, 0)}, {"left eyeball", &Geometry(core, core.eyesModel, 1)}};
        core.engine->MakeCurrent();
        for (const auto& [what, mesh] : meshes) {
            const NormalDeviation normals = MeasureNormals(*mesh);
            EXPECT_GT(normals.corners, 0) << what;
            EXPECT_LT(normals.p95, 5.0) << what << ": " << normals.Describe();
            EXPECT_LT(normals.max, 5.0) << what << ": " << normals.Describe();
            // The view draws what the export writes.
            EXPECT_EQ(Uploaded(mesh->normalBuffer, mesh->normals.size()), mesh->normals) << what;
        }
        // The head's tangent frames stand on its new normals and follow its new texture
        // coordinates: each tangent is its triangle's direction of increasing u, taken across the
        // normal, and the binormal lies across the normal too.
        ASSERT_EQ(head.tangents.size(), head.normals.size());
        ASSERT_EQ(head.binormals.size(), head.normals.size());
        double worstTangent = 0, worstAcross = 0;
        for (size_t t = 0; t + 2 < head.triangles.size(); t += 3) {
            const float* p = &head.positions[3 * t];
            const float* uv = &head.texCoords[2 * t];
            const double dU1 = uv[2] - uv[0], dV1 = uv[3] - uv[1], dU2 = uv[4] - uv[0], dV2 = uv[5] - uv[1];
            const double det = dU1 * dV2 - dU2 * dV1;
            if (std::fabs(det) < 1e-9)
                continue;
            double u[3];
            for (int c = 0; c < 3; ++c)
                u[c] = (dV2 * (p[3 + c] - p[c]) - dV1 * (p[6 + c] - p[c])) / det;
            for (size_t k = 3 * t; k < 3 * t + 9; k += 3) {
                const float* n = &head.normals[k];
                const float* tangent = &head.tangents[k];
                const float* b = &head.binormals[k];
                const double along = n[0] * u[0] + n[1] * u[1] + n[2] * u[2];
                const double a[3] = {u[0] - along * n[0], u[1] - along * n[1], u[2] - along * n[2]};
                const double length = std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
                if (length < 1e-6)
                    continue;
                const double cosine = (a[0] * tangent[0] + a[1] * tangent[1] + a[2] * tangent[2]) / length;
                worstTangent = std::max(worstTangent, std::acos(std::clamp(cosine, -1.0, 1.0)) * 180 / M_PI);
                worstAcross = std::max({worstAcross, std::fabs(double(n[0] * tangent[0] + n[1] * tangent[1] + n[2] * tangent[2])),
                                        std::fabs(double(n[0] * b[0] + n[1] * b[1] + n[2] * b[2]))});
            }
        }
        EXPECT_LT(worstTangent, 0.5) << "degrees";
        EXPECT_LT(worstAcross, 1e-4);
        EXPECT_EQ(Uploaded(head.tangentBuffer, head.tangents.size()), head.tangents);
    }
}

TEST_F(Reconstruct, MirroredProfileGivesTheSameHeadAndStaysMirrored)
{
    fx.LoadPhotos();
    core.Reconstruct();
    const std::vector<float> leftFacing = Geometry(core, 0, 0).positions;
    const int width = core.recognizer->profileImage.cols;
    core.headAttributes->SetProfileOrientation(1, width);
    const auto mirrored = Points(*core.headAttributes);
    core.Reconstruct();
    EXPECT_EQ(Geometry(core, 0, 0).positions, leftFacing);
    EXPECT_EQ(core.headAttributes->profileOrientation, 1);
    EXPECT_EQ(Points(*core.headAttributes), mirrored);
}

TEST_F(Reconstruct, ReversedBordersAreOrderedAndStaySo)
{
    fx.LoadPhotos();
    core.Reconstruct();
    const std::vector<float> ordered = Geometry(core, 0, 0).positions;
    THPoint* const* f = core.headAttributes->front;
    THPoint* const* p = core.headAttributes->profile;
    std::swap(f[FrontPoint::LeftHead]->x, f[FrontPoint::RightHead]->x);
    std::swap(f[FrontPoint::BottomHead]->y, f[FrontPoint::TopHead]->y);
    std::swap(p[ProfilePoint::LeftHead]->x, p[ProfilePoint::RightHead]->x);
    std::swap(p[ProfilePoint::TopHead]->y, p[ProfilePoint::BottomHead]->y);
    core.Reconstruct();
    EXPECT_EQ(Geometry(core, 0, 0).positions, ordered);
    EXPECT_LT(f[FrontPoint::LeftHead]->x, f[FrontPoint::RightHead]->x);
    EXPECT_LT(f[FrontPoint::TopHead]->y, f[FrontPoint::BottomHead]->y);
    EXPECT_LT(p[ProfilePoint::LeftHead]->x, p[ProfilePoint::RightHead]->x);
    EXPECT_LT(p[ProfilePoint::TopHead]->y, p[ProfilePoint::BottomHead]->y);
}

// Points never placed get the defaults for each photo's own size, so the head texture is cut from
// the photos (all skin here) and not from the black beyond a smaller photo's edge.
TEST_F(Reconstruct, UnrecognisedPhotosGetTheDefaultPointsOfTheirSize)
{
    const cv::Size sizes[][2] = {{{400, 300}, {300, 400}}, {{1200, 1000}, {1000, 1000}}, {{2400, 1600}, {1600, 2000}}};
    for (const auto& size : sizes) {
        fx.LoadPhotos();
        const cv::Scalar skin(120, 150, 210);
        core.recognizer->frontImage = cv::Mat(size[0], CV_8UC3, skin);
        core.recognizer->profileImage = cv::Mat(size[1], CV_8UC3, skin);
        for (THPoint* p : core.headAttributes->front)
            p->SetPosition(0, 0);
        for (THPoint* p : core.headAttributes->profile)
            p->SetPosition(0, 0);
        ScopedMessageCapture messages;
        core.Reconstruct();
        EXPECT_TRUE(core.reconstructed) << size[0];
        THeadAttributes expected;
        expected.SetDefaultFrontPositions(size[0].width, size[0].height);
        expected.SetDefaultProfilePositions(size[1].width, size[1].height, false);
        EXPECT_EQ(Points(*core.headAttributes), Points(expected)) << size[0];
        for (float c : Geometry(core, 0, 0).positions)
            ASSERT_TRUE(std::isfinite(c));
        const cv::Mat atlas = cv::imread((Textures() / "headtexture.bmp").string(), cv::IMREAD_COLOR);
        ASSERT_FALSE(atlas.empty()) << size[0];
        cv::Mat grey, black;
        cv::cvtColor(atlas, grey, cv::COLOR_BGR2GRAY);
        const double blackShare = cv::countNonZero(grey < 20) / static_cast<double>(grey.total());
        EXPECT_LT(blackShare, 0.05) << size[0] << ": " << 100 * blackShare << " % of the head texture is black";
    }
}

// The same picture as front and profile (as loaded, or mirrored into the profile's facing): the
// head is built and the user is told why its side shows a face.
TEST_F(Reconstruct, TheSamePhotoAsFrontAndProfileIsNamed)
{
    const std::string same = "The front and profile photos are the same picture, so the side of the head is painted "
                             "from the front view. Load a photo taken from the side and reconstruct again.";
    struct Case {
        const char* what;
        bool mirrored, same;
    };
    const Case cases[] = {{"different photos", false, false}, {"the same photo", false, true}, {"mirrored", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fx.LoadPhotos();
        if (c.same) {
            cv::Mat front = fx.core->recognizer->frontImage.clone();
            front(cv::Rect(0, 0, front.cols / 3, front.rows)).setTo(cv::Scalar(30, 40, 50));  // not symmetric
            core.recognizer->frontImage = front;
            if (c.mirrored)
                cv::flip(front, core.recognizer->profileImage, 1);
            else
                core.recognizer->profileImage = front.clone();
        }
        ScopedMessageCapture messages;
        core.Reconstruct();
        EXPECT_TRUE(core.reconstructed);
        EXPECT_EQ(core.displayMode, 3);
        EXPECT_EQ(messages.Texts(), c.same ? std::vector<std::string>{same} : std::vector<std::string>{});
    }
}

TEST_F(Reconstruct, ImpossibleAtlasKeepsTheEarlierTextureAndStillBuildsTheHead)
{
    fx.LoadPhotos();
    core.Reconstruct();
    ASSERT_TRUE(core.reconstructed);
    const std::string atlasBefore = FileBytes(Textures() / "headtexture.bmp");
    THPoint* const* f = core.headAttributes->front;
    f[FrontPoint::RightEyeRight]->x = f[FrontPoint::LeftEyeLeft]->x;  // the eyes span nothing: no atlas
    ScopedMessageCapture messages;
    core.Reconstruct();
    EXPECT_EQ(messages.Texts().size(), 1u);
    EXPECT_TRUE(core.reconstructed);
    EXPECT_EQ(core.displayMode, 3);
    EXPECT_EQ(FileBytes(Textures() / "headtexture.bmp"), atlasBefore);
    for (float c : Geometry(core, 0, 0).positions)
        ASSERT_TRUE(std::isfinite(c));
}

// Everything a failed run must leave as it was.
struct TState {
    std::vector<TColladaAsset*> models;
    std::vector<float> headPositions;
    std::vector<unsigned> textureIds;
    int displayMode, headModel, headNode;
    float yaw, pitch;
    bool reconstructed, useTangentAttributes;
    std::vector<std::pair<int, int>> points;
    int orientation;
    std::string atlas, eye, normalMap;

    static TState Of(TVultari& core, const fs::path& textures)
    {
        TState s;
        s.models = core.engine->models;
        if (!s.models.empty())
            s.headPositions = Geometry(core, 0, 0).positions;
        for (TTexture* t : core.engine->textureEngine->textures)
            s.textureIds.push_back(t->textureId);
        s.displayMode = core.displayMode;
        s.headModel = core.headModel;
        s.headNode = core.headNode;
        s.yaw = core.yaw;
        s.pitch = core.pitch;
        s.reconstructed = core.reconstructed;
        s.useTangentAttributes = core.engine->useTangentAttributes;
        s.points = Points(*core.headAttributes);
        s.orientation = core.headAttributes->profileOrientation;
        s.atlas = FileBytes(textures / "headtexture.bmp");
        s.eye = FileBytes(textures / "eye.bmp");
        s.normalMap = FileBytes(textures / "normalmap.bmp");
        return s;
    }
    void ExpectEqual(const TState& o, const std::string& what) const
    {
        EXPECT_EQ(models, o.models) << what;
        EXPECT_EQ(headPositions, o.headPositions) << what;
        EXPECT_EQ(textureIds, o.textureIds) << what;
        EXPECT_EQ(displayMode, o.displayMode) << what;
        EXPECT_EQ(headModel, o.headModel) << what;
        EXPECT_EQ(headNode, o.headNode) << what;
        EXPECT_EQ(yaw, o.yaw) << what;
        EXPECT_EQ(pitch, o.pitch) << what;
        EXPECT_EQ(reconstructed, o.reconstructed) << what;
        EXPECT_EQ(useTangentAttributes, o.useTangentAttributes) << what;
        EXPECT_EQ(points, o.points) << what;
        EXPECT_EQ(orientation, o.orientation) << what;
        EXPECT_TRUE(atlas == o.atlas) << what;
        EXPECT_TRUE(eye == o.eye) << what;
        EXPECT_TRUE(normalMap == o.normalMap) << what;
    }
};

struct FailureCase {
    const char* what;
    const char* messagePart;  // the message must say what went wrong
    void (*breakIt)(CoreFixture& fx);
};

void Write(CoreFixture& fx, const char* relative, const std::string& text) { fx.folder.WriteFile(relative, text); }

const FailureCase failures[] = {
    {"head model missing", "head.dae", [](CoreFixture& fx) { fs::remove(fx.folder.Path() / "data/models/head.dae"); }},
    {"hairs model malformed", "hairs.dae", [](CoreFixture& fx) { Write(fx, "data/models/hairs.dae", "<COLLADA><oops"); }},
    {"eyes model without geometries library", "eyes.dae",
     [](CoreFixture& fx) { Write(fx, "data/models/eyes.dae", "<COLLADA><library_visual_scenes/></COLLADA>"); }},
    {"eyes model with one geometry", "eyes.dae",
     [](CoreFixture& fx) {
         std::string text = FileBytes(fx.folder.Path() / "data/models/eyes.dae");
         const size_t start = text.find("    <geometry id=\"LeftEye\"");
         const size_t end = text.find("</geometry>", start) + std::string("</geometry>\n").size();
         text.erase(start, end - start);
         Write(fx, "data/models/eyes.dae", text);
     }},
    {"head without node Cube", "Cube",
     [](CoreFixture& fx) { Write(fx, "data/models/head.dae", HeadDocument(fx.generic, false)); }},
    {"weight map shorter than the head", "mouth.wgh",
     [](CoreFixture& fx) { fx.core->weightManager->weights[TWeightManager::mouth].resize(100); }},
    {"eye texture path missing", "missing.bmp",
     [](CoreFixture& fx) {
         std::string text = FileBytes(fx.folder.Path() / "data/models/eyes.dae");
         const size_t at = text.find("data/textures/eye.bmp");
         text.replace(at, std::string("data/textures/eye.bmp").size(), "data/textures/missing.bmp");
         Write(fx, "data/models/eyes.dae", text);
     }},
    {"front head width 0", "head borders",
     [](CoreFixture& fx) { fx.core->headAttributes->front[FrontPoint::RightHead]->x = fx.core->headAttributes->front[FrontPoint::LeftHead]->x; }},
};

TEST_F(Reconstruct, FailuresKeepThePreviousHeadExactly)
{
    fx.LoadPhotos();
    core.Reconstruct();
    ASSERT_TRUE(core.reconstructed);
    // Put the view in a state of its own so that a reset would show.
    core.yaw = 12;
    core.pitch = -3;
    core.headAttributes->SetProfileOrientation(1, core.recognizer->profileImage.cols);
    const std::string good = FileBytes(fx.folder.Path() / "data/models/head.dae");
    const std::string goodEyes = FileBytes(fx.folder.Path() / "data/models/eyes.dae");
    const std::string goodHairs = FileBytes(fx.folder.Path() / "data/models/hairs.dae");
    const std::vector<float> goodMouth = core.weightManager->weights[TWeightManager::mouth];

    for (const FailureCase& c : failures) {
        c.breakIt(fx);
        const TState before = TState::Of(core, Textures());
        ScopedMessageCapture messages;
        core.Reconstruct();
        ASSERT_EQ(messages.Texts().size(), 1u) << c.what;
        EXPECT_NE(messages.Texts()[0].find(c.messagePart), std::string::npos) << c.what << ": " << messages.Texts()[0];
        TState::Of(core, Textures()).ExpectEqual(before, c.what);
        // Repair for the next case; the head still draws from its own buffers.
        Write(fx, "data/models/head.dae", good);
        Write(fx, "data/models/eyes.dae", goodEyes);
        Write(fx, "data/models/hairs.dae", goodHairs);
        core.weightManager->weights[TWeightManager::mouth] = goodMouth;
        core.headAttributes->SetProfileOrientation(0, core.recognizer->profileImage.cols);
        ProjectFeaturePoints(fx.generic, kPixelsPerUnit, *core.headAttributes);
        core.headAttributes->SetProfileOrientation(1, core.recognizer->profileImage.cols);
    }
    // And a repaired tree reconstructs again.
    core.Reconstruct();
    EXPECT_EQ(core.yaw, 0.0f);
    EXPECT_LT(MaxDistance(Geometry(core, 0, 0), fx.generic), 0.02f);
}

TEST_F(Reconstruct, FirstRunThatFailsLeavesNoHeadAndNoFiles)
{
    fx.LoadPhotos();
    Write(fx, "data/models/head.dae", HeadDocument(fx.generic, false));
    ScopedMessageCapture messages;
    core.Reconstruct();
    EXPECT_EQ(messages.Texts().size(), 1u);
    EXPECT_FALSE(core.reconstructed);
    EXPECT_EQ(core.displayMode, 0);
    EXPECT_TRUE(core.engine->models.empty());
    EXPECT_TRUE(core.engine->textureEngine->textures.empty());
    for (const char* name : {"headtexture.bmp", "eye.bmp", "normalmap.bmp"})
        EXPECT_FALSE(fs::exists(Textures() / name)) << name;
}

}  // namespace
