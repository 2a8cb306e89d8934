// vultari_driver: runs the whole program without a window, for the end-to-end tests and the quality
// benchmark. Not a user feature.
//
//   vultari_driver photos --front F.png --side S.png [--deformed] [--mesh M.bin] [--workdir DIR]
//       draws the generic head (or its known deformation) front and side as photos; --mesh writes
//       the head's vertex positions (float32 x, y, z each).
//   vultari_driver run --front F --profile P [--set-points T.json] [--points J.json] [--frames PREFIX] [--turn D]
//                      [--export D.dae] [--views PREFIX] [--mesh M.bin] [--fps N] [--workdir DIR]
//       builds the core object on a headless context of the 3D panel's size, loads both photos,
//       with --set-points puts every point the file names where it says (the file's format is that
//       of --points, in the loaded photos' pixels; the quality benchmark's true points), writes the
//       points, reconstructs, draws one frame per shader type into
//       PREFIX-shader<N>.png (with --turn D also PREFIX-turned-shader<N>.png, the head turned D
//       degrees by a mouse drag), exports, and with --views draws the result with the photo cameras
//       (unlit, PREFIX-front.png and PREFIX-side.png: its texture carries the photos' light; and
//       white, PREFIX-front-silhouette.png and PREFIX-side-silhouette.png);
//       --fps N times N frames of each shader type and prints "fps shader T: F".
//
// --workdir copies the program's data tree into DIR and runs there, so that the textures the
// reconstruction writes never touch the build's own tree (tests run side by side).
// Exit codes: 0 done, 2 usage, 3 no core object, 4 a photo did not load, 5 no head reconstructed,
// 6 export failed, 7 an output file could not be written.
#include "testing/DriverSupport.h"

#include "collada/Colladaasset.h"
#include "core/Vultari.h"
#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "recognition/Generichead.h"
#include "tools/genhead/Head.h"
#include "platform/base/Memory.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include <GL/glew.h>
#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace {

using Options = std::map<std::string, std::string>;

int Usage()
{
    std::fprintf(stderr,
                 "usage: vultari_driver photos --front F.png --side S.png [--deformed] [--mesh M.bin] [--workdir DIR]\n"
                 "       vultari_driver run --front F --profile P [--set-points T.json] [--points J.json] [--frames PREFIX] [--turn D]\n"
                 "                          [--export D.dae] [--views PREFIX] [--mesh M.bin] [--fps N] [--workdir DIR]\n");
    return 2;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 2; i < argc; ++i) {
        std::string key = argv[i];
        if (key.rfind("--", 0) != 0)
            return false;
        if (key == "--deformed") {
            options[key] = "1";
            continue;
        }
        if (i + 1 >= argc)
            return false;
        options[key] = argv[++i];
    }
    return true;
}

std::string Option(const Options& options, const std::string& key)
{
    auto it = options.find(key);
    return it == options.end() ? std::string() : it->second;
}

// A private copy of the data tree beside which the program then runs.
bool UseWorkdir(const std::string& dir)
{
    std::error_code ec;
    fs::path to(dir);
    fs::create_directories(to, ec);
    const std::string from = ProgramFolder();
    for (const char* part : {"data", "haarcascades"}) {
        fs::path source = fs::path(from) / part;
        if (!fs::exists(source))
            continue;
        fs::remove_all(to / part, ec);
        fs::copy(source, to / part, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
        if (ec) {
            std::fprintf(stderr, "cannot copy %s into %s: %s\n", source.c_str(), dir.c_str(), ec.message().c_str());
            return false;
        }
    }
    SetProgramFolder(fs::absolute(to).string());
    return true;
}

bool WriteImage(const std::string& path, const cv::Mat& image)
{
    bool ok = false;
    try {
        ok = !image.empty() && cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        ok = false;
    }
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return ok;
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    if (!out)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

bool WritePositions(const std::string& path, const std::vector<float>& positions)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(positions.data()), static_cast<std::streamsize>(positions.size() * sizeof(float)));
    out.close();
    if (!out)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

// The size of a photo as the decoder gives it; false when it does not decode.
bool LoadedSize(const std::string& path, cv::Size& size)
{
    try {
        const cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
        size = photo.size();
        if (photo.empty())
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return !photo.empty();
    } catch (const cv::Exception& e) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), e.what());
        return false;
    }
}

std::vector<int> AllModels(const TColladaEngine& engine)
{
    std::vector<int> all;
    for (size_t i = 0; i < engine.models.size(); ++i)
        all.push_back(static_cast<int>(i));
    return all;
}

int Photos(const Options& options)
{
    const std::string front = Option(options, "--front"), side = Option(options, "--side");
    if (front.empty() || side.empty())
        return Usage();
    TXMLDocument document;
    TColladaEngine engine(&document, 0, kViewWidth, kViewHeight, 35.0f, 0.1f, 100.0f);
    glewInit();  // the views call GL through GLEW, as the core object does
    for (const char* model : {"data/models/head.dae", "data/models/eyes.dae", "data/models/hairs.dae"}) {
        if (engine.LoadModel(ProgramFolder() + model) < 0) {
            std::fprintf(stderr, "cannot read %s\n", model);
            return 7;
        }
    }
    // The models name their images by file; they live in the data tree's textures folder.
    engine.LoadTextures(ProgramFolder() + "data/textures/");
    // eyes.dae holds each eyeball forward by what every reconstruction pushes it back; the photos
    // show the head as it is, with the eyeballs in their openings (geometry 0 right, 1 left).
    {
        TColladaAsset& eyes = *engine.models[1];
        const TGenericHead facts = ReadGenericHead(ProgramFolder() + kGenericHeadPath);
        for (size_t g = 0; g < 2 && g < eyes.geometries.geometries.size(); ++g)
            eyeballs::PushBack(eyes.geometries.geometries[g]->positions, g == 0 ? facts.rightEyePushBack : facts.leftEyePushBack);
        engine.UpdateBuffers(&eyes);
    }
    if (!Option(options, "--deformed").empty()) {
        for (TColladaAsset* asset : engine.models) {
            for (auto& geometry : asset->geometries.geometries)
                DeformHead(geometry->positions);
            engine.UpdateBuffers(asset);
        }
    }
    // The hair is drawn as lines, as in the program; head and eyes filled.
    engine.models[0]->polygonMode = 6914;
    engine.models[1]->polygonMode = 6914;
    engine.models[2]->polygonMode = 6913;
    const std::vector<int> models = AllModels(engine);
    if (!WriteImage(front, RenderModelView(engine, models, ViewSide::Front, kPhotoWidth, kPhotoHeight)) ||
        !WriteImage(side, RenderModelView(engine, models, ViewSide::Side, kPhotoWidth, kPhotoHeight)))
        return 7;
    const std::string mesh = Option(options, "--mesh");
    if (!mesh.empty() && !WritePositions(mesh, engine.models[0]->geometries.geometries.at(0)->positions))
        return 7;
    return 0;
}

// Which points the recognizers placed by proportion because their measurement failed.
void PrintRecognitionReport(const TVultari& core)
{
    const TRecognitionReport& report = core.recognizer->report;
    std::string front, profile;
    for (int i = 0; i < FrontPoint::Count; ++i)
        if (report.frontFallback[size_t(i)])
            front += (front.empty() ? "" : ", ") + core.headAttributes->front[i]->name;
    for (int i = 0; i < ProfilePoint::Count; ++i)
        if (report.profileFallback[size_t(i)])
            profile += (profile.empty() ? "" : ", ") + core.headAttributes->profile[i]->name;
    std::printf("recognition fallback: front %zu of %d (%s); profile %zu of %d (%s)%s\n", report.frontFallback.count(),
                int(FrontPoint::Count), front.c_str(), report.profileFallback.count(), int(ProfilePoint::Count),
                profile.c_str(), report.facingUndecided ? "; facing undecided" : "");
}

int Run(const Options& options)
{
    const std::string frontPath = Option(options, "--front"), profilePath = Option(options, "--profile");
    if (frontPath.empty() || profilePath.empty())
        return Usage();
    TXMLDocument document;
    std::unique_ptr<TVultari> core;
    try {
        core = std::make_unique<TVultari>(&document, 0, kViewWidth, kViewHeight);
    } catch (const Exception& e) {
        std::fprintf(stderr, "no core object: %s\n", e.what());
        return 3;
    }
    // The render-settings dialog hands its settings over at start-up.
    core->SetRenderSettings(1, 0.0f, true, false, true);

    // The core checks each file before it is decoded; the sizes as loaded (before recognition
    // shrinks the photos) are read only from photos it accepted.
    if (!core->LoadFrontImage(frontPath) || !core->LoadProfileImage(profilePath))
        return 4;
    cv::Size frontLoaded, profileLoaded;
    if (!LoadedSize(frontPath, frontLoaded) || !LoadedSize(profilePath, profileLoaded))
        return 4;
    PrintRecognitionReport(*core);

    const std::string setPoints = Option(options, "--set-points");
    if (!setPoints.empty()) {
        std::ifstream in(setPoints, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            std::fprintf(stderr, "cannot read %s\n", setPoints.c_str());
            return 2;
        }
        THeadAttributes& points = *core->headAttributes;
        std::vector<std::pair<int, int>> before;
        for (const THPoint* p : points.front)
            before.push_back({p->x, p->y});
        for (const THPoint* p : points.profile)
            before.push_back({p->x, p->y});
        if (!ApplyPointsJson(text, points, core->recognizer->frontImage.size(), frontLoaded,
                             core->recognizer->profileImage.size(), profileLoaded)) {
            std::fprintf(stderr, "%s is no points file\n", setPoints.c_str());
            return 2;
        }
        // The file placed what it moved, as a user would by hand.
        size_t k = 0;
        for (const THPoint* p : points.front)
            if (before[k++] != std::pair<int, int>{p->x, p->y})
                core->recognizer->report.frontFallback.reset(k - 1);
        for (const THPoint* p : points.profile)
            if (before[k++] != std::pair<int, int>{p->x, p->y})
                core->recognizer->report.profileFallback.reset(k - 1 - FrontPoint::Count);
    }

    const std::string pointsPath = Option(options, "--points");
    if (!pointsPath.empty() &&
        !WriteText(pointsPath, PointsJson(*core->headAttributes, core->recognizer->frontImage.size(), frontLoaded,
                                          core->recognizer->profileImage.size(), profileLoaded)))
        return 7;

    core->Reconstruct();
    if (!core->reconstructed || core->displayMode != 3)
        return 5;

    const std::string frames = Option(options, "--frames");
    if (!frames.empty()) {
        FrameCapture capture(kViewWidth, kViewHeight);
        for (int type = 0; type <= 3; ++type) {
            core->SetRenderSettings(type, 0.0f, true, false, true);
            // The first frame leaves the head view in place; the light is then set in the models'
            // coordinates by one timer tick, as the running program does.
            core->RenderFrame();
            core->LightStep();
            core->RenderFrame();
            if (!WriteImage(frames + "-shader" + std::to_string(type) + ".png", capture.Last()))
                return 7;
        }
        const std::string turn = Option(options, "--turn");
        if (!turn.empty()) {
            // A drag across the view, as the user turns the head (0.2 degrees a pixel).
            const int pixels = static_cast<int>(std::lround(std::atof(turn.c_str()) / 0.2));
            core->BeginRotate(0, 0);
            core->Rotate(pixels, 0);
            core->EndRotate();
            for (int type = 0; type <= 3; ++type) {
                core->SetRenderSettings(type, 0.0f, true, false, true);
                core->RenderFrame();
                core->RenderFrame();
                if (!WriteImage(frames + "-turned-shader" + std::to_string(type) + ".png", capture.Last()))
                    return 7;
            }
        }
    }

    const std::string views = Option(options, "--views");
    if (!views.empty()) {
        // Unlit: the head texture was painted from the lit photos and carries their light already.
        std::vector<int> models = {core->headModel, core->eyesModel, core->hairsModel};
        auto view = [&](ViewSide side, ViewLook look) {
            return RenderModelView(*core->engine, models, side, kPhotoWidth, kPhotoHeight, kPhotoBackground, 6.0f, look);
        };
        if (!WriteImage(views + "-front.png", view(ViewSide::Front, ViewLook::Unlit)) ||
            !WriteImage(views + "-side.png", view(ViewSide::Side, ViewLook::Unlit)) ||
            !WriteImage(views + "-front-silhouette.png", view(ViewSide::Front, ViewLook::Silhouette)) ||
            !WriteImage(views + "-side-silhouette.png", view(ViewSide::Side, ViewLook::Silhouette)))
            return 7;
    }
    const std::string mesh = Option(options, "--mesh");
    if (!mesh.empty() &&
        !WritePositions(mesh, core->engine->models.at(static_cast<size_t>(core->headModel))->geometries.geometries.at(0)->positions))
        return 7;

    const std::string fps = Option(options, "--fps");
    if (!fps.empty()) {
        const int count = std::max(1, std::atoi(fps.c_str()));
        for (int type = 0; type <= 3; ++type) {
            core->SetRenderSettings(type, 0.0f, true, false, true);
            core->RenderFrame();
            core->LightStep();
            core->RenderFrame();
            glFinish();
            auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < count; ++i)
                core->RenderFrame();
            glFinish();
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("fps shader %d: %.2f (%d frames of %d x %d)\n", type, count / seconds, count, kViewWidth, kViewHeight);
        }
        std::fflush(stdout);
    }

    const std::string exportPath = Option(options, "--export");
    if (!exportPath.empty() && !core->ExportCollada(exportPath))
        return 6;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    if (argc < 2)
        return Usage();
    Options options;
    if (!ParseOptions(argc, argv, options))
        return Usage();
    // Messages the program would show in a box go to standard error.
    SetMessageSink([](const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });
    const std::string workdir = Option(options, "--workdir");
    if (!workdir.empty() && !UseWorkdir(workdir))
        return 7;
    const std::string command = argv[1];
    KeepGLDriverLoaded();
    try {
        if (command == "photos")
            return Photos(options);
        if (command == "run")
            return Run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 7;
    }
    return Usage();
}
