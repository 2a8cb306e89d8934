// TVultari::Reconstruct: the generic head, eyes and hair are loaded afresh, painted from the photos
// and deformed to the measured proportions. Everything that can fail happens before the current head
// is touched: the new models and textures are built in the engine's emptied registries while the old
// ones wait aside, and only a complete new head replaces them.
#include <GL/glew.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <sstream>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "collada/Colladaasset.h"
#include "core/Deformation.h"
#include "core/Surfaceframes.h"
#include "platform/base/Numbers.h"
#include "core/Texturecreator.h"
#include "core/Vultari.h"
#include "core/Weightmanager.h"
#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"

float TVultari::Lerp(float a, float b, float f) { return BlendInDouble(a, b, f); }

int32_t TVultari::AbsInt(int32_t n) { return std::abs(n); }

void TVultari::SwapInts(int32_t* a, int32_t* b)
{
    const int32_t keep = *a;
    *a = *b;
    *b = keep;
}

namespace {

// The positions of all 41 points and the orientation flag, to put back after a failed run.
class TPointSnapshot {
public:
    explicit TPointSnapshot(const THeadAttributes* a) : orientation(a->profileOrientation)
    {
        for (const THPoint* p : a->front)
            positions.push_back({p->x, p->y});
        for (const THPoint* p : a->profile)
            positions.push_back({p->x, p->y});
    }
    void Restore(THeadAttributes* a) const
    {
        size_t i = 0;
        for (THPoint* p : a->front)
            p->SetPosition(positions[i].first, positions[i].second), ++i;
        for (THPoint* p : a->profile)
            p->SetPosition(positions[i].first, positions[i].second), ++i;
        a->profileOrientation = orientation;
    }

private:
    std::vector<std::pair<int, int>> positions;
    int orientation;
};

// The bytes of the three bitmaps that a run rewrites, to put back after a failed run so that the
// data tree (and so an export) keeps matching the head that is still shown.
class TBitmapBackup {
public:
    explicit TBitmapBackup(const std::string& folder)
    {
        for (const char* name : {"data/textures/headtexture.bmp", "data/textures/eye.bmp", "data/textures/normalmap.bmp"}) {
            TFile file{folder + name, std::nullopt};
            // Read whole: these files are megabytes, too many for a character-by-character copy.
            std::ifstream in(file.path, std::ios::binary | std::ios::ate);
            if (in) {
                std::string bytes(static_cast<size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
                in.seekg(0);
                if (in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())))
                    file.bytes = std::move(bytes);
            }
            files.push_back(std::move(file));
        }
    }
    void Restore() const
    {
        for (const TFile& file : files) {
            std::error_code ignored;
            if (!file.bytes) {
                std::filesystem::remove(file.path, ignored);
                continue;
            }
            std::ofstream out(file.path, std::ios::binary | std::ios::trunc);
            out << *file.bytes;
        }
    }

private:
    struct TFile {
        std::string path;
        std::optional<std::string> bytes;  // nullopt: the file did not exist
    };
    std::vector<TFile> files;
};

// A reason to stop the run: the message for the user.
struct TReconstructFailure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw TReconstructFailure{message}; }

// The same picture, as loaded or mirrored (the profile photo may have been turned to face left).
bool SamePicture(const cv::Mat& front, const cv::Mat& profile)
{
    if (front.size() != profile.size() || front.type() != profile.type())
        return false;
    if (cv::norm(front, profile, cv::NORM_INF) == 0)
        return true;
    cv::Mat mirrored;
    cv::flip(profile, mirrored, 1);
    return cv::norm(front, mirrored, cv::NORM_INF) == 0;
}

// Loads one model into the engine's registry; a file that does not read as an asset stops the run.
int Load(TColladaEngine* engine, const std::string& path, bool withTangents, int tangent, int binormal)
{
    const int index = withTangents ? engine->LoadModelWithTangents(path, tangent, binormal) : engine->LoadModel(path);
    if (index < 0)
        Fail("Error: cannot read the model \"" + path + "\"");
    return index;
}

TColladaAsset* Model(TColladaEngine* engine, int index) { return engine->models[static_cast<size_t>(index)]; }

// First geometry of an asset, or stops the run when the model has fewer than `needed`.
TGeometry* GeometryOf(TColladaAsset* asset, size_t index, size_t needed, const std::string& path)
{
    if (asset->geometries.geometries.size() < needed)
        Fail("Error: the model \"" + path + "\" has " + std::to_string(asset->geometries.geometries.size()) +
             " geometries; it needs " + std::to_string(needed));
    return asset->geometries.geometries[index].get();
}

// An image being written to `written` goes into the texture cache as it is, under every name by
// which the models refer to that file, so that their texture upload need not read it back. False
// when no model refers to it.
bool ProvideTexture(TColladaEngine* engine, const std::string& written, int unit, const cv::Mat& image)
{
    std::error_code ec;
    const std::filesystem::path target = std::filesystem::weakly_canonical(written, ec);
    if (image.empty() || ec)
        return false;
    bool provided = false;
    for (TColladaAsset* model : engine->models)
        for (const std::string& file : model->images.files) {
            const std::filesystem::path named = std::filesystem::weakly_canonical(ResolveDataPath(file), ec);
            if (!ec && named == target) {
                engine->textureEngine->LoadTexture(file, unit, image);
                provided = true;
            }
        }
    return provided;
}

bool WriteImage(const std::string& path, const cv::Mat& image)
{
    try {
        return cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        return false;
    }
}

void SwapIfGreater(int& a, int& b)
{
    if (a > b)
        TVultari::SwapInts(&a, &b);
}

}  // namespace

void TVultari::Reconstruct()
{
    if (!IsFrontLoaded() || !frontThumbnail || !frontEditBitmap) {
        ShowMessage("Error: please reload front head image");
        return;
    }
    if (!IsProfileLoaded() || !profileThumbnail || !profileEditBitmap) {
        ShowMessage("Error: please reload profile head image");
        return;
    }
    engine->MakeCurrent();
    THeadAttributes* points = headAttributes;
    const TPointSnapshot savedPoints(points);

    // Profile points in their left-facing form for the run; the flag is restored at the end.
    const bool mirrored = points->profileOrientation == 1;
    const int profileWidth = recognizer->profileImage.cols;
    if (mirrored)
        points->SetProfileOrientation(0, profileWidth);
    // Points never placed get the defaults for the photo they belong to: any other frame puts
    // them beside a smaller photo, whose texture would then be cut from outside it.
    if (points->front[FrontPoint::HeadCenter]->x == 0)
        points->SetDefaultFrontPositions(recognizer->frontImage.cols, recognizer->frontImage.rows);
    if (points->profile[ProfilePoint::HeadCenter]->x == 0)
        points->SetDefaultProfilePositions(profileWidth, recognizer->profileImage.rows, false);
    SwapIfGreater(points->front[FrontPoint::LeftHead]->x, points->front[FrontPoint::RightHead]->x);
    SwapIfGreater(points->profile[ProfilePoint::LeftHead]->x, points->profile[ProfilePoint::RightHead]->x);
    SwapIfGreater(points->front[FrontPoint::TopHead]->y, points->front[FrontPoint::BottomHead]->y);
    SwapIfGreater(points->profile[ProfilePoint::TopHead]->y, points->profile[ProfilePoint::BottomHead]->y);

    if (points->front[FrontPoint::LeftHead]->x == points->front[FrontPoint::RightHead]->x) {
        // Nothing would say how large a pixel is: refuse before anything is built.
        savedPoints.Restore(points);
        ShowMessage("Error: the left and right head borders of the front image coincide; please move them apart");
        return;
    }

    // The view draws nothing while the registries hold a head under construction (a message box
    // shown meanwhile runs the idle loop); a failed run puts the mode back.
    const int32_t previousDisplayMode = displayMode;
    displayMode = dmNothing;
    // The current head waits aside; the registries are empty for the new one, as after a clear.
    std::vector<TColladaAsset*> oldModels = std::move(engine->models);
    engine->models.clear();
    std::vector<TTexture*> oldTextures = std::move(engine->textureEngine->textures);
    engine->textureEngine->textures.clear();
    const bool oldUseTangentAttributes = engine->useTangentAttributes;
    const std::string folder = ProgramFolder();
    const TBitmapBackup savedBitmaps(folder);
    // Any failure drops the half-built head and puts back the previous one exactly, then says why.
    auto restorePrevious = [&](const std::string& message) {
        engine->ClearModels();
        engine->textureEngine->Clear();
        engine->models = std::move(oldModels);
        engine->textureEngine->textures = std::move(oldTextures);
        engine->useTangentAttributes = oldUseTangentAttributes;
        savedBitmaps.Restore();
        savedPoints.Restore(points);
        displayMode = previousDisplayMode;
        ShowMessage(message);
    };

    try {
        const std::string headPath = folder + "data/models/head.dae";
        const std::string eyesPath = folder + "data/models/eyes.dae";
        const std::string hairsPath = folder + "data/models/hairs.dae";
        const int newHead = Load(engine, headPath, true, normalMappingTangent, normalMappingBinormal);
        const int newEyes = Load(engine, eyesPath, false, -1, -1);
        const int newHairs = Load(engine, hairsPath, false, -1, -1);
        TColladaAsset* headAsset = Model(engine, newHead);
        TGeometry* headMesh = GeometryOf(headAsset, 0, 1, headPath);
        TGeometry* hairsMesh = GeometryOf(Model(engine, newHairs), 0, 1, hairsPath);
        TGeometry* leftEyeMesh = GeometryOf(Model(engine, newEyes), 1, 2, eyesPath);
        TGeometry* rightEyeMesh = GeometryOf(Model(engine, newEyes), 0, 2, eyesPath);

        // Everything the later steps index without a bound must fit the head before it is used.
        const size_t vertexCount = headMesh->positions.size() / 3;
        if (vertexCount == 0 || headMesh->positions.size() % 3 != 0)
            Fail("Error: the head model \"" + headPath + "\" has no usable vertices");
        if (headMesh->texCoords.size() != 2 * vertexCount)
            Fail("Error: the head model \"" + headPath + "\" has no texture coordinate for every vertex");
        for (int slot = 0; slot < TWeightManager::SlotCount; ++slot)
            if (weightManager->weights[slot].size() < vertexCount)
                Fail(std::string("Error: the weight map \"") + TWeightManager::SlotName(slot) + ".wgh\" holds " +
                     std::to_string(weightManager->weights[slot].size()) + " weights; the head model has " +
                     std::to_string(vertexCount) + " vertices");
        const int cubeNode = headAsset->visualScenes.IndexOf("Cube");
        if (cubeNode < 0)
            Fail("Error: the head model \"" + headPath + "\" has no node named \"Cube\"");
        TNode* cube = headAsset->visualScenes.nodes[static_cast<size_t>(cubeNode)].get();
        if (cube->effectIndex < 0)
            Fail("Error: the node \"Cube\" of the head model has no effect");
        const THeadExtents extents = MeasureHead(*headMesh, *weightManager);
        if (!extents.noseTipFound || !extents.chinFound)
            Fail(std::string("Error: the weight map \"") + (extents.noseTipFound ? "head_bottom" : "tip_of_the_nose") +
                 ".wgh\" marks no vertex");

        // Measurements and the deformation; the texture coordinates then follow the deformed head.
        TDeformedHead deformed;
        deformed.before = headMesh->positions;
        TMeasuredPoints measured;
        measured.profileEar = !recognizer->report.profileFallback[ProfilePoint::EarCenter];
        const TReconstructionScales scales =
            MeasureScales(extents, *points, {recognizer->frontImage.cols, recognizer->frontImage.rows},
                          {recognizer->profileImage.cols, recognizer->profileImage.rows}, measured,
                          recognizer->generic.get());
        deformed.heightScale = scales.t;
        deformed.depthScale = scales.u;
        DeformMeshes(*headMesh, *leftEyeMesh, *rightEyeMesh, *hairsMesh, extents, *points, scales, *weightManager,
                     *recognizer->generic);

        // Head texture, eye texture and normal map, and the texture coordinates of head and hair.
        cv::Mat normalMapImage;
        const cv::Mat atlas = textureCreator->CreateTexture(recognizer->frontImage, recognizer->profileImage, points,
                                                            headMesh, hairsMesh, weightManager, *recognizer->generic,
                                                            recognizer->SkinOf(recognizer->frontImage),
                                                            recognizer->SkinOf(recognizer->profileImage), &normalMapImage,
                                                            &deformed);
        const std::string atlasPath = folder + "data/textures/headtexture.bmp";
        const std::string normalMapPath = folder + "data/textures/normalmap.bmp";
        // The atlas and the normal map are written meanwhile: the upload and the surface frames do not
        // read the files. A failure leaves this block only after the writes have ended (the futures
        // wait).
        std::future<bool> atlasWritten, normalMapWritten;
        if (!atlas.empty()) {
            atlasWritten = std::async(std::launch::async, [&atlas, &atlasPath] { return WriteImage(atlasPath, atlas); });
            if (!ProvideTexture(engine, atlasPath, GL_TEXTURE0, atlas))
                atlasWritten.wait();  // a model reads the file itself
        }
        if (!normalMapImage.empty())
            normalMapWritten = std::async(std::launch::async,
                                          [&normalMapImage, &normalMapPath] { return WriteImage(normalMapPath, normalMapImage); });
        engine->LoadTextures("");
        if (cube->textures.empty())
            Fail("Error: the node \"Cube\" of the head model has no texture");

        // The view's lighting and the export need the moved surface's normals, not the generic head's;
        // the tangents follow the fitted texture coordinates.
        for (TGeometry* mesh : {headMesh, leftEyeMesh, rightEyeMesh})
            RecomputeSurfaceFrames(*mesh);

        const int normalMap = normalMapImage.empty()
                                  ? engine->textureEngine->LoadTexture(normalMapPath, GL_TEXTURE1)
                                  : engine->textureEngine->LoadTexture(normalMapPath, GL_TEXTURE1, normalMapImage);
        cube->textures.push_back(normalMap);

        headAsset->polygonMode = GL_FILL;
        Model(engine, newEyes)->polygonMode = GL_FILL;
        Model(engine, newHairs)->polygonMode = GL_LINE;
        engine->UpdateBuffers(headAsset);
        engine->UpdateBuffers(Model(engine, newEyes));
        engine->UpdateBuffers(Model(engine, newHairs));

        if (atlasWritten.valid() && !atlasWritten.get())
            throw FileOpenError(atlasPath, "The file cannot be written");
        if (normalMapWritten.valid() && !normalMapWritten.get())
            throw FileOpenError(normalMapPath, "The file cannot be written");

        // The new head is complete: the old one goes.
        std::vector<TColladaAsset*> newModels = std::move(engine->models);
        engine->models = std::move(oldModels);
        engine->ClearModels();
        engine->models = std::move(newModels);
        std::vector<TTexture*> newTextures = std::move(engine->textureEngine->textures);
        engine->textureEngine->textures = std::move(oldTextures);
        engine->textureEngine->Clear();
        engine->textureEngine->textures = std::move(newTextures);

        headModel = newHead;
        eyesModel = newEyes;
        hairsModel = newHairs;
        headNode = cubeNode;
        headEffect = cube->effectIndex;
        normalMapTexture = normalMap;
    } catch (const TReconstructFailure& failure) {
        restorePrevious(failure.message);
        return;
    } catch (const std::exception& error) {
        // A file that cannot be read or written (Exception names it), or the image library's error.
        restorePrevious(error.what());
        return;
    }

    if (mirrored)
        points->SetProfileOrientation(1, profileWidth);
    rotating = false;
    yaw = 0;
    pitch = 0;
    displayMode = dm3DView;
    reconstructed = true;
    ApplyShaders();
    if (SamePicture(recognizer->frontImage, recognizer->profileImage))
        ShowMessage("The front and profile photos are the same picture, so the side of the head is painted from the "
                    "front view. Load a photo taken from the side and reconstruct again.");
}
