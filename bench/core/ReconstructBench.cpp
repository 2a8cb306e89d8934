// Reconstruction benchmark on the generic data tree, headless.
//
// 1. Speed: one whole reconstruction from two 1300-pixel photos (the generic head drawn by the
//    engine), then each of its parts timed on its own: model reload, atlas fill, texture-coordinate
//    fit, patches, normal map, bitmap writing, texture upload, deformation, buffer upload.
// 2. Quality: the generic head changed by known smooth changes (wider, deeper, longer nose, lower
//    mouth) is drawn, reconstructed from the generic head, and compared with the changed head:
//    mean and largest vertex distance in model units, against the unchanged generic head as the
//    baseline, plain and after fitting a uniform scale (photos carry proportions, not a size).
//
// Run: cmake --build build --target bench_core   (or xvfb-run -a build/bin/core_reconstruct_bench)
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "bench/ShortRun.h"
#include "collada/Colladaasset.h"
#include "core/Deformation.h"
#include "core/Texturecreator.h"
#include "core/Vultari.h"
#include "core/Weightmanager.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "tests/core/GenericViews.h"
#include "tests/core/TestHelpers.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

template <typename F>
double Best(int runs, F&& f)
{
    double best = 1e99;
    for (int i = 0; i < (ShortRun() ? 1 : runs); ++i) {
        const auto a = Clock::now();
        f();
        best = std::min(best, Ms(a, Clock::now()));
    }
    return best;
}

}  // namespace

int main()
{
    const std::string build = ProgramFolder();
    TGenericFeatures features;
    std::string error;
    if (!ReadGenericFeatures(build + "data/models/head_features.txt", features, error)) {
        std::fprintf(stderr, "core bench: %s\n", error.c_str());
        return 1;
    }
    ScopedProgramFolder folder("bench");
    CopyDataTree(build, folder.Folder());
    ScopedMessageCapture messages;
    TXMLDocument document;
    TVultari core(&document, 0, 697, 647);
    TColladaEngine& engine = *core.engine;
    const std::string models = folder.Folder() + "data/models/";

    // Photos of the generic head.
    int head = engine.LoadModel(models + "head.dae"), eyes = engine.LoadModel(models + "eyes.dae");
    engine.LoadTextures("");
    const cv::Mat front = RenderView(engine, {head, eyes}, FrontCamera());
    const cv::Mat side = RenderView(engine, {head, eyes}, SideCamera());
    engine.ClearModels();
    engine.textureEngine->Clear();
    GivePhotos(core, front, side, features);
    std::printf("photos %d x %d and %d x %d pixels\n", front.cols, front.rows, side.cols, side.rows);

    // 1. Speed.
    core.Reconstruct();
    if (!messages.Texts().empty() || !core.reconstructed) {
        std::fprintf(stderr, "core bench: the reconstruction failed: %s\n",
                     messages.Texts().empty() ? "?" : messages.Texts()[0].c_str());
        return 1;
    }
    const double whole = Best(5, [&] { core.Reconstruct(); });
    std::printf("\nreconstruction, best of %d: %.1f ms (goal 300 ms)\n", ShortRun() ? 1 : 5, whole);

    std::unique_ptr<TColladaAsset> headAsset, hairsAsset;
    const double load = Best(3, [&] {
        TColladaAsset h(&document), e(&document), r(&document);
        h.Load(models + "head.dae");
        h.geometries.geometries[0]->ComputeTangentSpace();
        e.Load(models + "eyes.dae");
        r.Load(models + "hairs.dae");
    });
    headAsset = std::make_unique<TColladaAsset>(&document);
    headAsset->Load(models + "head.dae");
    hairsAsset = std::make_unique<TColladaAsset>(&document);
    hairsAsset->Load(models + "hairs.dae");
    TGeometry& headMesh = *headAsset->geometries.geometries[0];
    TGeometry& hairsMesh = *hairsAsset->geometries.geometries[0];
    const std::vector<float> texCoords = headMesh.texCoords, hairCoords = hairsMesh.texCoords;

    const THeadAttributes& points = *core.headAttributes;
    TTextureCreator creator;
    std::unique_ptr<THeadAttributes> scaled(points.CloneScaledProfile(1.0f));
    const TAtlasLayout layout = TTextureCreator::MeasureAtlas(scaled.get());
    cv::Mat atlas;
    const double fill = Best(3, [&] { atlas = TTextureCreator::FillAtlas(front, side, scaled.get(), layout); });
    TTexCoord hairTarget{};
    const double fit = Best(3, [&] {
        headMesh.texCoords = texCoords;
        hairsMesh.texCoords = hairCoords;
        hairTarget = TTextureCreator::FitTextureCoordinates(scaled.get(), layout, &headMesh, &hairsMesh, core.weightManager);
    });
    std::array<int, 10> calls{};
    const double patches = Best(3, [&] {
        cv::Mat copy = atlas.clone();
        calls = creator.PaintPatches(copy, scaled.get(), layout, hairTarget);
    });
    cv::Mat normal;
    const double normalMap = Best(3, [&] { normal = creator.CreateNormalMap(atlas); });
    const std::string textures = folder.Folder() + "data/textures/";
    const double write = Best(3, [&] {
        cv::imwrite(textures + "headtexture.bmp", atlas);
        cv::imwrite(textures + "normalmap.bmp", normal);
        cv::imwrite(textures + "eye.bmp", TTextureCreator::CreateEyeTexture(front, &points));
    });
    const double upload = Best(3, [&] {
        TTextureEngine cache;
        cache.LoadTexture(textures + "headtexture.bmp", 0x84C0);
        cache.LoadTexture(textures + "eye.bmp", 0x84C0);
        cache.LoadTexture(textures + "normalmap.bmp", 0x84C1);
    });
    double deform = 1e99;
    for (int run = 0; run < 3; ++run) {
        TColladaAsset h(&document);
        h.Load(models + "head.dae");
        TGeometry none1, none2, none3;
        const auto start = Clock::now();
        const THeadExtents e = MeasureHead(*h.geometries.geometries[0], *core.weightManager);
        DeformMeshes(*h.geometries.geometries[0], none1, none2, none3, e, points, MeasureScales(e, points),
                     *core.weightManager);
        deform = std::min(deform, Ms(start, Clock::now()));
    }
    const double buffers = Best(3, [&] {
        for (TColladaAsset* asset : engine.models)
            engine.UpdateBuffers(asset);
    });
    int patchCalls = 0;
    for (int c : calls)
        patchCalls += c;
    std::printf("  three models read, de-indexed, tangents  %7.1f ms\n", load);
    std::printf("  atlas fill %d x %d                      %7.1f ms\n", layout.Wa, layout.Ha, fill);
    std::printf("  texture-coordinate fit (head, hair)       %7.1f ms\n", fit);
    std::printf("  %3d patches                               %7.1f ms\n", patchCalls, patches);
    std::printf("  normal map                                %7.1f ms\n", normalMap);
    std::printf("  three bitmaps written                     %7.1f ms\n", write);
    std::printf("  three textures read and uploaded          %7.1f ms\n", upload);
    std::printf("  measurement and deformation               %7.1f ms\n", deform);
    std::printf("  vertex buffers re-uploaded                %7.1f ms\n", buffers);

    // 2. Quality.
    std::printf("\nchanged head: width x%.2f, depth x%.2f, nose %.2f longer, mouth %.2f lower\n", THeadChange{}.width,
                THeadChange{}.depth, THeadChange{}.noseLength, THeadChange{}.mouthDrop);
    TColladaAsset generic(&document);
    generic.Load(models + "head.dae");
    const std::vector<float>& genericPositions = generic.geometries.geometries[0]->positions;
    const std::vector<float>& nose = core.weightManager->weights[TWeightManager::nose];
    const std::vector<float>& mouth = core.weightManager->weights[TWeightManager::mouth];
    const THeadChange change;
    std::vector<float> changed = genericPositions;
    change.Apply(changed, nose, mouth);

    // The feature points move with the nearest vertex's weights.
    TGenericFeatures moved = features;
    auto nearestWeights = [&](const cv::Point3f& p, float& n, float& m) {
        double best = 1e99;
        for (size_t v = 0; 3 * v + 2 < genericPositions.size(); ++v) {
            const double dx = genericPositions[3 * v] - p.x, dy = genericPositions[3 * v + 1] - p.y,
                         dz = genericPositions[3 * v + 2] - p.z;
            const double d = dx * dx + dy * dy + dz * dz;
            if (d < best)
                best = d, n = nose[v], m = mouth[v];
        }
    };
    auto move = [&](cv::Point3f& p) {
        float n = 0, m = 0;
        nearestWeights(p, n, m);
        p = change.Apply(p, n, m);
    };
    for (cv::Point3f& p : moved.front)
        move(p);
    for (cv::Point3f& p : moved.profile)
        move(p);

    // Photos of the changed head.
    head = engine.LoadModel(models + "head.dae");
    eyes = engine.LoadModel(models + "eyes.dae");
    engine.LoadTextures("");
    engine.models[static_cast<size_t>(head)]->geometries.geometries[0]->positions = changed;
    engine.UpdateBuffers(engine.models[static_cast<size_t>(head)]);
    const cv::Mat changedFront = RenderView(engine, {head, eyes}, FrontCamera());
    const cv::Mat changedSide = RenderView(engine, {head, eyes}, SideCamera());
    // The registries start empty for the run, as after the program's own clear.
    engine.ClearModels();
    engine.textureEngine->Clear();
    GivePhotos(core, changedFront, changedSide, moved);
    messages.Clear();
    core.Reconstruct();
    if (!messages.Texts().empty()) {
        std::fprintf(stderr, "core bench: the changed head did not reconstruct: %s\n", messages.Texts()[0].c_str());
        return 1;
    }
    const std::vector<float>& result = core.engine->models[static_cast<size_t>(core.headModel)]->geometries.geometries[0]->positions;
    const TMeshDistance base = MeshDistance(genericPositions, changed);
    const TMeshDistance got = MeshDistance(result, changed);
    std::printf("                        mean     max   (after a uniform scale: mean     max)\n");
    std::printf("  generic head       %7.4f %7.4f                          %7.4f %7.4f\n", base.mean, base.max,
                base.shapeMean, base.shapeMax);
    std::printf("  reconstruction     %7.4f %7.4f                          %7.4f %7.4f\n", got.mean, got.max,
                got.shapeMean, got.shapeMax);
    std::printf("  %s\n", got.mean < base.mean ? "the reconstruction is closer" : "the reconstruction is NOT closer");
    return got.mean < base.mean ? 0 : 2;
}
