#include "testing/KnownHeadPhotos.h"

#include <cmath>
#include <cstdio>
#include <fstream>

#include <GL/glew.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "collada/Colladaasset.h"
#include "platform/base/Paths.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Headattributes.h"
#include "render/Colladaengine.h"
#include "testing/DriverSupport.h"

namespace fs = std::filesystem;

namespace {

bool WriteImage(const fs::path& path, const cv::Mat& image)
{
    bool ok = !image.empty() && cv::imwrite(path.string(), image);
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return ok;
}

void SetImage(TColladaEngine& engine, const KnownHeadMeshes& m)
{
    auto set = [&](int model, size_t geometry, const std::vector<float>& positions) {
        auto& g = *engine.models[size_t(model)]->geometries.geometries.at(geometry);
        if (g.positions.size() == positions.size())
            g.positions = positions;
        else
            std::fprintf(stderr, "model %d geometry %zu: %zu positions, known head has %zu\n", model, geometry,
                         g.positions.size(), positions.size());
    };
    set(0, 0, m.head);
    auto& head = *engine.models[0]->geometries.geometries.at(0);
    if (head.normals.size() == m.headNormals.size())
        head.normals = m.headNormals;
    set(1, 0, m.rightEye);
    set(1, 1, m.leftEye);
    set(2, 0, m.hair);
    for (TColladaAsset* asset : engine.models)
        engine.UpdateBuffers(asset);
}

}  // namespace

cv::Point PhotoPixel(double across, double up)
{
    const double perUnit = kPhotoHeight / 12.0;
    return {static_cast<int>(std::lround(kPhotoWidth / 2.0 + across * perUnit - 0.5)),
            static_cast<int>(std::lround(kPhotoHeight / 2.0 - up * perUnit - 0.5))};
}

std::string TruthJson(const std::vector<Vec3>& front, const std::vector<Vec3>& profile, bool mirrored)
{
    THeadAttributes points;
    for (int i = 0; i < FrontPoint::Count; ++i) {
        const cv::Point p = PhotoPixel(front[size_t(i)].x, front[size_t(i)].z);
        points.front[i]->SetPosition(p.x, p.y);
    }
    for (int i = 0; i < ProfilePoint::Count; ++i) {
        const cv::Point p = PhotoPixel(profile[size_t(i)].y, profile[size_t(i)].z);
        points.profile[i]->SetPosition(mirrored ? kPhotoWidth - p.x : p.x, p.y);
    }
    points.profileOrientation = mirrored ? 1 : 0;
    const cv::Size size(kPhotoWidth, kPhotoHeight);
    return PointsJson(points, size, size, size, size);
}

std::unique_ptr<TColladaEngine> KnownHeadEngine(TXMLDocument& document)
{
    auto engine = std::make_unique<TColladaEngine>(&document, 0, kViewWidth, kViewHeight, 35.0f, 0.1f, 100.0f);
    glewInit();
    for (const char* model : {"data/models/head.dae", "data/models/eyes.dae", "data/models/hairs.dae"})
        if (engine->LoadModel(ProgramFolder() + model) < 0) {
            std::fprintf(stderr, "cannot read %s\n", model);
            return nullptr;
        }
    engine->models[0]->polygonMode = 6914;
    engine->models[1]->polygonMode = 6914;
    engine->models[2]->polygonMode = 6913;  // the hair as lines, as in the program
    return engine;
}

bool DrawKnownHead(const KnownHeadMaker& maker, TColladaEngine& engine, const KnownHead& head, const fs::path& folder,
                   KnownHeadMeshes* meshesOut)
{
    fs::create_directories(folder / "textures");
    if (!WriteImage(folder / "textures/headtexture.bmp", maker.PaintSkin(head.look, 1024)) ||
        !WriteImage(folder / "textures/eye.bmp", maker.PaintEye(head.look)))
        return false;
    const KnownHeadMeshes meshes = maker.Meshes(head.shape);
    SetImage(engine, meshes);
    for (TColladaAsset* asset : engine.models)
        for (auto& node : asset->visualScenes.nodes)
            node->textures.clear();
    engine.LoadTextures((folder / "textures").string() + "/");
    std::vector<int> models = {0, 1};
    if (head.look.hair)
        models.push_back(2);
    const cv::Mat front = RenderModelView(engine, models, ViewSide::Front, kPhotoWidth, kPhotoHeight);
    const cv::Mat side = RenderModelView(engine, models, ViewSide::Side, kPhotoWidth, kPhotoHeight);
    cv::Mat mirrored;
    cv::flip(side, mirrored, 1);
    if (!WriteImage(folder / "front.png", front) || !WriteImage(folder / "side-left.png", side) ||
        !WriteImage(folder / "side-right.png", mirrored))
        return false;
    const std::vector<Vec3> fp = maker.FrontPoints(head.shape), pp = maker.ProfilePoints(head.shape);
    std::ofstream(folder / "truth-left.json") << TruthJson(fp, pp, false);
    std::ofstream(folder / "truth-right.json") << TruthJson(fp, pp, true);
    if (meshesOut)
        *meshesOut = meshes;
    return true;
}
