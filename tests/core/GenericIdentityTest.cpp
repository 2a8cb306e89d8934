// Photos of the generic head give the generic head back. The generic head is drawn with the
// project's engine in orthographic front and side views, textured with a skin texture that carries
// a coloured mark on each feature of the generic texture layout; those views and the head's own
// feature points are handed to the core as photos and points, and the reconstruction must return
// the generic positions, and texture coordinates that give every corner the place the photos show
// it, with the marks in the head texture where the photos show them. Then the three shaders must light that head like skin.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "collada/Colladaasset.h"
#include "core/Texturecreator.h"
#include "core/Weightmanager.h"
#include "core/Vultari.h"
#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/base/Paths.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "testing/GenericViews.h"
#include "testing/TestHelpers.h"

namespace {

namespace fs = std::filesystem;

const cv::Vec3b kSkin(140, 160, 210);
struct Mark {
    const char* feature;
    int reference;  // LayoutRef
    cv::Vec3b colour;
    bool survivesPatches;  // the eyes are painted over with skin (the eyeballs carry the eye texture)
};
const Mark kMarks[] = {
    {"nose tip", LayoutRef::NoseTip, {0, 0, 255}, true},
    {"mouth", LayoutRef::Mouth, {255, 0, 255}, true},
    // One colour for both ears: the side view sees one ear, and both profile parts of the atlas show it.
    {"left ear", LayoutRef::LeftEar, {0, 255, 255}, true},
    {"right ear", LayoutRef::RightEar, {0, 255, 255}, true},
    {"left eye", LayoutRef::LeftEye, {0, 255, 0}, false},
    {"right eye", LayoutRef::RightEye, {0, 255, 0}, false},
};

// Where the generic head's layout has a mark's feature.
TLayoutPoint At(const TGenericHead& g, const Mark& m) { return g.layout[size_t(m.reference)]; }

cv::Mat MarkedSkin(const TGenericHead& g)
{
    const int size = 1024;
    cv::Mat texture(size, size, CV_8UC3, cv::Scalar(kSkin[0], kSkin[1], kSkin[2]));
    for (const Mark& m : kMarks)
        cv::circle(texture, cv::Point(RoundHalfEven(At(g, m).u * size), RoundHalfEven((1 - At(g, m).v) * size)), 12,
                   cv::Scalar(m.colour[0], m.colour[1], m.colour[2]), cv::FILLED);
    return texture;
}

struct Shared {
    std::string error;
    std::unique_ptr<ScopedProgramFolder> folder;
    TXMLDocument document;
    std::unique_ptr<TVultari> core;
    std::unique_ptr<TColladaAsset> generic;  // the generic head as loaded
    cv::Mat front, side;
    std::vector<std::string> messages;
};
Shared* shared = nullptr;

class GenericIdentity : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        shared = new Shared;
        const std::string build = ProgramFolder();
        TGenericFeatures features;
        if (!ReadGenericFeatures(build + kGenericHeadPath, features, shared->error))
            return;
        shared->folder = std::make_unique<ScopedProgramFolder>("identity");
        const std::string folder = shared->folder->Folder();
        CopyDataTree(build, folder);
        cv::imwrite(folder + "data/textures/headtexture.bmp", MarkedSkin(ReadGenericHead(folder + kGenericHeadPath)));
        ScopedMessageCapture messages;
        shared->core = std::make_unique<TVultari>(&shared->document, 0, 697, 647);
        TColladaEngine& engine = *shared->core->engine;

        // The photos: the generic head and its eyes, unlit, with their own textures.
        const int head = engine.LoadModel(folder + "data/models/head.dae");
        const int eyes = engine.LoadModel(folder + "data/models/eyes.dae");
        if (head < 0 || eyes < 0) {
            shared->error = "the generic models do not load";
            return;
        }
        engine.LoadTextures("");
        shared->front = RenderView(engine, {head, eyes}, FrontCamera());
        shared->side = RenderView(engine, {head, eyes}, SideCamera());
        if (const char* keep = std::getenv("VULTARI_KEEP_VIEWS")) {
            cv::imwrite(std::string(keep) + "/identity-front.png", shared->front);
            cv::imwrite(std::string(keep) + "/identity-side.png", shared->side);
        }
        engine.ClearModels();
        engine.textureEngine->Clear();

        GivePhotos(*shared->core, shared->front, shared->side, features);
        shared->core->Reconstruct();
        shared->messages = messages.Texts();
        if (const char* keep = std::getenv("VULTARI_KEEP_VIEWS"))
            fs::copy_file(folder + "data/textures/headtexture.bmp", std::string(keep) + "/identity-atlas.bmp",
                          fs::copy_options::overwrite_existing);
        shared->generic = std::make_unique<TColladaAsset>(&shared->document);
        if (!shared->generic->Load(folder + "data/models/head.dae"))
            shared->error = "the generic head does not load a second time";
    }
    static void TearDownTestSuite()
    {
        delete shared;
        shared = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(shared->error.empty()) << shared->error;
        ASSERT_TRUE(shared->messages.empty()) << shared->messages[0];
        ASSERT_TRUE(shared->core->reconstructed);
    }
    TVultari& Core() { return *shared->core; }
    const TGeometry& Head() { return *Core().engine->models[0]->geometries.geometries[0]; }
    const TGeometry& GenericHead() { return *shared->generic->geometries.geometries[0]; }
};

TEST_F(GenericIdentity, PhotosShowTheMarksAtTheFeaturePoints)
{
    // The fixture itself: the cameras and the feature file agree, so the photos show the nose mark
    // at the front nose tip, the ear mark at the profile's ear centre, skin at the head centre.
    const THeadAttributes& points = *Core().headAttributes;
    const THPoint* tip = points.front[FrontPoint::NoseTip];
    const THPoint* earCentre = points.profile[ProfilePoint::EarCenter];
    const cv::Vec3b nose = shared->front.at<cv::Vec3b>(tip->y, tip->x);
    const cv::Vec3b ear = shared->side.at<cv::Vec3b>(earCentre->y, earCentre->x);
    const cv::Vec3b cheek = shared->front.at<cv::Vec3b>(tip->y, (tip->x + points.front[FrontPoint::LeftHead]->x) / 2);
    EXPECT_LT(cv::norm(cv::Vec3d(nose) - cv::Vec3d(kMarks[0].colour)), 60.0) << nose;
    EXPECT_LT(cv::norm(cv::Vec3d(ear) - cv::Vec3d(kMarks[2].colour)), 60.0) << ear;
    EXPECT_LT(cv::norm(cv::Vec3d(cheek) - cv::Vec3d(kSkin)), 30.0) << cheek;
}

TEST_F(GenericIdentity, PositionsAreTheGenericHead)
{
    const std::vector<float>& got = Head().positions;
    const std::vector<float>& want = GenericHead().positions;
    ASSERT_EQ(got.size(), want.size());
    double worst = 0, sum = 0;
    size_t worstVertex = 0;
    for (size_t v = 0; v < got.size() / 3; ++v) {
        double d = 0;
        for (int c = 0; c < 3; ++c)
            d += (got[3 * v + c] - want[3 * v + c]) * (got[3 * v + c] - want[3 * v + c]);
        d = std::sqrt(d);
        sum += d;
        if (d > worst)
            worst = d, worstVertex = v;
    }
    EXPECT_LT(worst, 0.02) << "vertex " << worstVertex << " at (" << got[3 * worstVertex] << ", "
                           << got[3 * worstVertex + 1] << ", " << got[3 * worstVertex + 2] << "), generic ("
                           << want[3 * worstVertex] << ", " << want[3 * worstVertex + 1] << ", "
                           << want[3 * worstVertex + 2] << "); mean " << sum / (got.size() / 3);
}

// Atlas coordinates of the photos' pixels, as the texture builder composes its atlas of them: the
// front photo, the mirrored profile (image-left part) and the plain profile.
struct AtlasOfPhotos {
    const THeadAttributes& points;
    TAtlasLayout layout = TTextureCreator::MeasureAtlas(&points);
    cv::Point2d Front(cv::Point2d px) const
    {
        return {(px.x - points.front[FrontPoint::LeftEyeLeft]->x + layout.Q + layout.M) / layout.Wa,
                1.0 - (px.y - points.front[FrontPoint::TopHead]->y + layout.M) / layout.Ha};
    }
    cv::Point2d Profile(cv::Point2d px, bool mirrored) const
    {
        const int back = points.profile[ProfilePoint::RightHead]->x;
        const double u = mirrored ? back + layout.M - px.x : px.x + layout.Wa - layout.M - back;
        return {u / layout.Wa, 1.0 - (px.y - points.profile[ProfilePoint::TopHead]->y + layout.M) / layout.Ha};
    }
};

TEST_F(GenericIdentity, TextureCoordinatesAreWhereThePhotosShowEachCorner)
{
    // The builder's fit moves the generic layout's features from its fixed references onto the
    // photos' features; the layout is made so that this gives every corner the place its photos
    // show it: on the face between the eyes' outer corners (short of the 0.45-unit cross-fade to
    // the side photo) the front photo's, on each ear the side photo's (mirrored for the left ear).
    const AtlasOfPhotos atlas{*Core().headAttributes};
    ASSERT_TRUE(atlas.layout.valid) << atlas.layout.problem;
    const TViewCamera front = FrontCamera(), side = SideCamera();
    const std::vector<float>& p = GenericHead().positions;
    const std::vector<float>& got = Head().texCoords;
    ASSERT_EQ(got.size() / 2, p.size() / 3);
    std::vector<float> leftEar, rightEar;
    TWeightManager::LoadWeights(leftEar, shared->folder->Folder() + "data/weights/left_ear.wgh");
    TWeightManager::LoadWeights(rightEar, shared->folder->Folder() + "data/weights/right_ear.wgh");
    ASSERT_EQ(leftEar.size(), p.size() / 3);
    ASSERT_EQ(rightEar.size(), p.size() / 3);
    const THPoint* const* f = Core().headAttributes->front;
    const double xl = (f[FrontPoint::LeftEyeLeft]->x - front.cx) / front.ppu + 0.45;
    const double xr = (f[FrontPoint::RightEyeRight]->x - front.cx) / front.ppu - 0.45;
    const double zChin = (front.cy - f[FrontPoint::BottomHead]->y) / front.ppu;
    auto frontPx = [&](size_t v) { return cv::Point2d(front.cx + front.ppu * p[3 * v], front.cy - front.ppu * p[3 * v + 2]); };
    auto sidePx = [&](size_t v) { return cv::Point2d(side.cx + side.ppu * p[3 * v + 1], side.cy - side.ppu * p[3 * v + 2]); };
    struct Region {
        const char* what;
        std::function<bool(size_t)> in;
        std::function<cv::Point2d(size_t)> seen;
    };
    const Region regions[] = {
        {"face", [&](size_t v) { return p[3 * v] > xl && p[3 * v] < xr && p[3 * v + 1] < -0.2 && p[3 * v + 2] > zChin; },
         [&](size_t v) { return atlas.Front(frontPx(v)); }},
        {"left ear", [&](size_t v) { return leftEar[v] > 0.5f; }, [&](size_t v) { return atlas.Profile(sidePx(v), true); }},
        {"right ear", [&](size_t v) { return rightEar[v] > 0.5f; }, [&](size_t v) { return atlas.Profile(sidePx(v), false); }},
    };
    for (const Region& r : regions) {
        double worst = 0;
        size_t worstAt = 0, count = 0;
        for (size_t v = 0; v < p.size() / 3; ++v) {
            if (!r.in(v))
                continue;
            ++count;
            const cv::Point2d want = r.seen(v);
            const double d = std::max(std::fabs(got[2 * v] - want.x), std::fabs(got[2 * v + 1] - want.y));
            if (d > worst)
                worst = d, worstAt = v;
        }
        std::printf("%-9s %5zu corners end within %.4f of their photos\n", r.what, count, worst);
        EXPECT_GT(count, 300u) << r.what;
        EXPECT_LT(worst, 0.02) << r.what << ": corner " << worstAt << " at (" << got[2 * worstAt] << ", "
                               << got[2 * worstAt + 1] << ")";
    }
}

// Where a mark's colour is in the atlas: the centre of its pixels in texture coordinates.
cv::Point2d MarkCentre(const cv::Mat& atlas, const cv::Vec3b& colour, double u0, double u1)
{
    double su = 0, sv = 0;
    int n = 0;
    for (int y = 0; y < atlas.rows; ++y)
        for (int x = static_cast<int>(u0 * atlas.cols); x < static_cast<int>(u1 * atlas.cols); ++x)
            if (cv::norm(cv::Vec3d(atlas.at<cv::Vec3b>(y, x)) - cv::Vec3d(colour)) < 60)
                su += (x + 0.5) / atlas.cols, sv += 1 - (y + 0.5) / atlas.rows, ++n;
    return n ? cv::Point2d(su / n, sv / n) : cv::Point2d(-1, -1);
}

// The atlas near texture coordinate (u, v): the smallest colour distance to `colour` within 4 pixels.
double NearestColour(const cv::Mat& atlas, double u, double v, const cv::Vec3b& colour)
{
    const int x = RoundHalfEven(u * atlas.cols), y = RoundHalfEven((1 - v) * atlas.rows);
    double best = 1e9;
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx) {
            const int px = std::clamp(x + dx, 0, atlas.cols - 1), py = std::clamp(y + dy, 0, atlas.rows - 1);
            best = std::min(best, cv::norm(cv::Vec3d(atlas.at<cv::Vec3b>(py, px)) - cv::Vec3d(colour)));
        }
    return best;
}

TEST_F(GenericIdentity, HeadTextureShowsTheFeaturesWhereThePhotosShowThem)
{
    // The layout carries each mark on its feature, so the photos show the marks on the features and
    // the atlas composed of them has each mark at its feature point's place.
    const cv::Mat atlas = cv::imread(shared->folder->Folder() + "data/textures/headtexture.bmp", cv::IMREAD_COLOR);
    ASSERT_FALSE(atlas.empty());
    const AtlasOfPhotos photos{*Core().headAttributes};
    const THPoint* const* f = Core().headAttributes->front;
    const THPoint* ear = Core().headAttributes->profile[ProfilePoint::EarCenter];
    const cv::Point2d at[] = {photos.Front({double(f[FrontPoint::NoseTip]->x), double(f[FrontPoint::NoseTip]->y)}),
                              photos.Front({double(f[FrontPoint::MouthCenter]->x), double(f[FrontPoint::MouthCenter]->y)}),
                              photos.Profile({double(ear->x), double(ear->y)}, true), photos.Profile({double(ear->x), double(ear->y)}, false)};
    for (size_t i = 0; i < std::size(at); ++i) {
        const Mark& m = kMarks[i];
        ASSERT_TRUE(m.survivesPatches);
        const cv::Point2d found = MarkCentre(atlas, m.colour, at[i].x - 0.1, at[i].x + 0.1);
        EXPECT_LT(NearestColour(atlas, at[i].x, at[i].y, m.colour), 60.0)
            << m.feature << ": the photos show it at (" << at[i].x << ", " << at[i].y << "), the atlas has it at ("
            << found.x << ", " << found.y << ")";
    }
}

TEST_F(GenericIdentity, FittedHeadSamplesTheMarksOnItsFeatures)
{
    // Whatever the layout's offset, the fitted texture coordinates of the vertex on each feature
    // must point at that feature in the atlas: that is what makes the drawn head look right.
    const cv::Mat atlas = cv::imread(shared->folder->Folder() + "data/textures/headtexture.bmp", cv::IMREAD_COLOR);
    ASSERT_FALSE(atlas.empty());
    const std::vector<float>& generic = GenericHead().texCoords;
    const std::vector<float>& fitted = Head().texCoords;
    for (const Mark& m : kMarks) {
        if (!m.survivesPatches)
            continue;
        size_t nearest = 0;
        double best = 1e9;
        for (size_t k = 0; k + 1 < generic.size(); k += 2) {
            const TLayoutPoint at = At(*shared->core->recognizer->generic, m);
            const double d = std::hypot(generic[k] - at.u, generic[k + 1] - at.v);
            if (d < best)
                best = d, nearest = k;
        }
        ASSERT_LT(best, 0.01) << m.feature << ": no vertex near the mark";
        EXPECT_LT(NearestColour(atlas, fitted[nearest], fitted[nearest + 1], m.colour), 60.0)
            << m.feature << " sampled at (" << fitted[nearest] << ", " << fitted[nearest + 1] << ")";
    }
}

// The 3D view of the reconstructed head with one shader type and the light at `angle`.
cv::Mat Frame(TVultari& core, int shaderType, float angle)
{
    core.SetRenderSettings(shaderType, 0, true, false, false);
    core.RenderFrame();  // leaves the head view as the modelview, where the light is placed
    core.lightAngle = angle;
    core.LightStep();
    core.RenderFrame();
    core.engine->MakeCurrent();
    cv::Mat rgba(647, 697, CV_8UC4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 697, 647, GL_BGRA, GL_UNSIGNED_BYTE, rgba.data);
    cv::Mat bgr;
    cv::cvtColor(rgba, bgr, cv::COLOR_BGRA2BGR);
    cv::flip(bgr, bgr, 0);
    return bgr;
}

struct HeadPixels {
    cv::Scalar mean;
    double left = 0, right = 0;  // mean brightness of the head's left and right halves
    int count = 0;
};

HeadPixels Measure(const cv::Mat& frame)
{
    cv::Mat grey, mask;
    cv::cvtColor(frame, grey, cv::COLOR_BGR2GRAY);
    mask = grey > 8;
    HeadPixels h;
    h.count = cv::countNonZero(mask);
    h.mean = cv::mean(frame, mask);
    const cv::Moments m = cv::moments(mask, true);
    const int cx = m.m00 > 0 ? static_cast<int>(m.m10 / m.m00) : frame.cols / 2;
    const cv::Rect leftHalf(0, 0, cx, frame.rows), rightHalf(cx, 0, frame.cols - cx, frame.rows);
    h.left = cv::mean(grey(leftHalf), mask(leftHalf))[0];
    h.right = cv::mean(grey(rightHalf), mask(rightHalf))[0];
    return h;
}

TEST_F(GenericIdentity, ShadersLightTheSkin)
{
    TVultari& core = Core();
    const float pi = 3.14159265f;
    for (int type : {1, 2, 3}) {
        const cv::Mat frame = Frame(core, type, 0);
        if (const char* keep = std::getenv("VULTARI_KEEP_VIEWS"))
            cv::imwrite(std::string(keep) + "/shader-" + std::to_string(type) + ".png", frame);
        const HeadPixels front = Measure(frame);
        ASSERT_GT(front.count, 697 * 647 / 20) << "type " << type << ": the head covers too little of the view";
        // Skin: red above green above blue, neither black nor blown out.
        EXPECT_GT(front.mean[2], front.mean[1]) << "type " << type;
        EXPECT_GT(front.mean[1], front.mean[0]) << "type " << type;
        const double brightness = (front.mean[0] + front.mean[1] + front.mean[2]) / 3;
        EXPECT_GT(brightness, 50) << "type " << type;
        EXPECT_LT(brightness, 235) << "type " << type;
        // The light from the right lights the right half, from the left the left half.
        const HeadPixels fromRight = Measure(Frame(core, type, pi / 2));
        const HeadPixels fromLeft = Measure(Frame(core, type, 3 * pi / 2));
        EXPECT_GT(fromRight.right, fromRight.left + 10) << "type " << type;
        EXPECT_GT(fromLeft.left, fromLeft.right + 10) << "type " << type;
    }
    // The diffused light is the same light, only softer: no blotches where surfaces share texture
    // space. Against the per-pixel Phong frame, few head pixels may be much darker.
    cv::Mat phong, diffused;
    cv::cvtColor(Frame(core, 1, 0), phong, cv::COLOR_BGR2GRAY);
    cv::cvtColor(Frame(core, 3, 0), diffused, cv::COLOR_BGR2GRAY);
    cv::Mat darker = (phong.clone() - diffused) > 40;
    const cv::Mat head = phong > 8;
    darker &= head;
    const double fraction = static_cast<double>(cv::countNonZero(darker)) / cv::countNonZero(head);
    std::printf("texture-space diffusion: %.2f %% of the head much darker than Phong\n", 100 * fraction);
    EXPECT_LT(fraction, 0.02);
    core.SetRenderSettings(0, 0, true, false, true);
}

}  // namespace
