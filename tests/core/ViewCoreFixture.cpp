#include "tests/core/ViewCoreFixture.h"

#include "collada/Colladaasset.h"
#include "core/Weightmanager.h"
#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/image/Graphics.h"
#include "platform/gl/GLContext.h"
#include "render/Colladaengine.h"
#include "testing/GLSupport.h"

#include <GL/glew.h>

#include <cmath>
#include <fstream>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

struct Shared {
    ~Shared()
    {
        core.reset();
        std::error_code ec;
        if (!folder.empty())
            fs::remove_all(folder, ec);
    }
    TXMLDocument document;
    std::unique_ptr<TVultari> core;
    std::string folder;
    std::string error;
    bool tried = false;
};

Shared& TheShared()
{
    static Shared shared;
    return shared;
}

int& Swaps()
{
    static int count = 0;
    return count;
}

cv::Mat& LastFrame()
{
    static cv::Mat frame;
    return frame;
}

void (*originalSwap)(GLSurface*) = nullptr;

void CountingSwap(GLSurface* surface)
{
    ++Swaps();
    LastFrame() = ReadWindow();
    originalSwap(surface);
}

// A square on the plane y = 0 facing the camera (-y), as two de-indexed triangles.
std::unique_ptr<TGeometry> Square(const std::string& name, float x0, float x1, float z0, float z1)
{
    auto g = std::make_unique<TGeometry>();
    g->name = name;
    const float corners[6][4] = {{x0, z0, 0, 0}, {x1, z0, 1, 0}, {x1, z1, 1, 1},
                                 {x0, z0, 0, 0}, {x1, z1, 1, 1}, {x0, z1, 0, 1}};
    for (int i = 0; i < 6; ++i) {
        g->positions.insert(g->positions.end(), {corners[i][0], 0.0f, corners[i][1]});
        g->normals.insert(g->normals.end(), {0.0f, -1.0f, 0.0f});
        g->texCoords.insert(g->texCoords.end(), {corners[i][2], corners[i][3]});
        g->triangles.push_back(i);
    }
    return g;
}

TColladaAsset* MakeAsset(TVultari& core, const std::string& key, std::vector<std::unique_ptr<TGeometry>> meshes,
                         int texture, bool tangents)
{
    auto* asset = new TColladaAsset(core.engine->xmlDocument);
    auto effect = std::make_unique<TEffect>();
    effect->name = key + "-fx";
    effect->imageName = key + "-image";
    effect->imageIndex = 0;
    asset->effects.effects.push_back(std::move(effect));
    asset->images.names.push_back(key + "-image");
    asset->images.files.push_back("data/textures/" + key + ".bmp");
    for (size_t i = 0; i < meshes.size(); ++i) {
        auto node = std::make_unique<TNode>();
        node->name = i == 0 && key == "head" ? "Cube" : meshes[i]->name;
        node->geometryName = meshes[i]->name;
        node->materialName = key;
        node->geometryIndex = static_cast<int>(i);
        node->effectIndex = 0;
        node->textures.push_back(texture);
        if (tangents) {
            meshes[i]->tangentAttribute = core.normalMappingTangent;
            meshes[i]->binormalAttribute = core.normalMappingBinormal;
            meshes[i]->ComputeTangentSpace();
        }
        asset->geometries.geometries.push_back(std::move(meshes[i]));
        asset->visualScenes.nodes.push_back(std::move(node));
    }
    core.engine->CreateBuffers(asset);
    core.engine->models.push_back(asset);
    return asset;
}

cv::Mat Solid(cv::Vec3b bgr)
{
    return cv::Mat(16, 16, CV_8UC3, cv::Scalar(bgr[0], bgr[1], bgr[2]));
}

} // namespace

namespace {

// The tests' own data tree: the build's shaders, cascades and skin table, a plain black marker,
// and empty weight maps (nothing here deforms a head), so the tests depend on no generated model.
std::string MakeDataTree()
{
    const fs::path build = ProgramFolder();
    const fs::path tree = fs::temp_directory_path() / ("vultari-view-data-" + std::to_string(::getpid()));
    fs::remove_all(tree);
    fs::create_directories(tree / "data/textures");
    fs::create_directories(tree / "data/weights");
    fs::create_directories(tree / "data/models");
    for (const char* part : {"data/shaders", "haarcascades", "data/SkinLocusYCrCb.jpg", "data/models/generic_head.txt"})
        if (fs::exists(build / part))
            fs::create_symlink(build / part, tree / part);
    TBitmap marker(5, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
            marker.Canvas()->SetPixel(x, y, clBlack);
    marker.SaveToFile((tree / "data/textures/mark.bmp").string());
    for (int slot = 0; slot < TWeightManager::SlotCount; ++slot)
        std::ofstream(tree / "data/weights" / (std::string(TWeightManager::SlotName(slot)) + ".wgh"));
    return tree.string() + "/";
}

} // namespace

TVultari* SharedCore()
{
    Shared& s = TheShared();
    if (!s.tried) {
        s.tried = true;
        try {
            KeepGLDriverLoaded();
            s.folder = MakeDataTree();
            SetProgramFolder(s.folder);
            s.core = std::make_unique<TVultari>(&s.document, 0, kPanelWidth, kPanelHeight);
        } catch (const std::exception& e) {
            s.error = e.what();
        }
    }
    return s.core.get();
}

const std::string& SharedProgramFolder()
{
    return TheShared().folder;
}

const std::string& CoreError()
{
    return TheShared().error;
}

TempFolder::TempFolder(const std::string& tag)
{
    path = fs::temp_directory_path() / ("vultari-" + tag + "-" + std::to_string(::getpid()) + "-" +
                                        std::to_string(reinterpret_cast<uintptr_t>(this)));
    fs::remove_all(path);
    fs::create_directories(path);
}

TempFolder::~TempFolder()
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

std::string WriteImage(const TempFolder& folder, const std::string& name, const cv::Mat& image)
{
    std::string file = folder / name;
    cv::imwrite(file, image);
    return file;
}

ReconstructedScene::ReconstructedScene(TVultari& c) : core(c)
{
    TTextureEngine& textures = *core.engine->textureEngine;
    // Texture colours as BGR bytes.
    baseTexture = textures.LoadTexture(WriteImage(folder, "head.bmp", Solid({40, 40, 220})), GL_TEXTURE0);
    int eyeTexture = textures.LoadTexture(WriteImage(folder, "eyes.bmp", Solid({40, 220, 40})), GL_TEXTURE0);
    int hairTexture = textures.LoadTexture(WriteImage(folder, "hairs.bmp", Solid({220, 40, 40})), GL_TEXTURE0);
    normalMap = textures.LoadTexture(WriteImage(folder, "normalmap.bmp", Solid({255, 128, 128})), GL_TEXTURE1);

    std::vector<std::unique_ptr<TGeometry>> head, eyes, hairs;
    head.push_back(Square("head-mesh", -2, 2, -2, 2));
    eyes.push_back(Square("eye-right", 2.5f, 3.5f, -1, 1));
    eyes.push_back(Square("eye-left", 3.5f, 4.5f, -1, 1));
    hairs.push_back(Square("hair-mesh", -2, 2, 2.5f, 4.5f));
    TColladaAsset* headAsset = MakeAsset(core, "head", std::move(head), baseTexture, true);
    headAsset->visualScenes.nodes[0]->textures.push_back(normalMap);
    MakeAsset(core, "eyes", std::move(eyes), eyeTexture, false);
    MakeAsset(core, "hairs", std::move(hairs), hairTexture, false);

    core.headModel = 0;
    core.eyesModel = 1;
    core.hairsModel = 2;
    core.headNode = 0;
    core.headEffect = 0;
    core.normalMapTexture = normalMap;
    core.rotating = false;
    core.yaw = core.pitch = 0;
    core.reconstructed = true;
    core.displayMode = 3;
    core.ApplyShaders();
}

ReconstructedScene::~ReconstructedScene()
{
    core.engine->ClearModels();
    core.engine->textureEngine->Clear();
    core.headModel = core.eyesModel = core.hairsModel = -1;
    core.headNode = core.headEffect = -1;
    core.normalMapTexture = -1;
    core.reconstructed = false;
    core.displayMode = 0;
    core.rotating = false;
    core.yaw = core.pitch = 0;
}

cv::Point ScenePixel(float x, float z)
{
    const double f = 1.0 / std::tan(17.5 * M_PI / 180.0);
    const double aspect = static_cast<double>(kPanelWidth) / kPanelHeight;
    const double ndcX = f / aspect * x / 20.0;
    const double ndcY = f * z / 20.0;
    return {static_cast<int>((ndcX + 1) / 2 * kPanelWidth), static_cast<int>((1 - ndcY) / 2 * kPanelHeight)};
}

SwapCounter::SwapCounter()
{
    Swaps() = 0;
    LastFrame().release();
    originalSwap = glPlatform.SwapBuffers;
    glPlatform.SwapBuffers = CountingSwap;
}

SwapCounter::~SwapCounter()
{
    glPlatform.SwapBuffers = originalSwap;
}

int SwapCounter::Count() const
{
    return Swaps();
}

const cv::Mat& SwapCounter::Last() const
{
    return LastFrame();
}

cv::Mat ReadWindow()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glReadBuffer(GL_BACK);
    cv::Mat rgba(kPanelHeight, kPanelWidth, CV_8UC4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kPanelWidth, kPanelHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data);
    cv::Mat bgr;
    cv::cvtColor(rgba, bgr, cv::COLOR_RGBA2BGR);
    cv::flip(bgr, bgr, 0);
    return bgr;
}
