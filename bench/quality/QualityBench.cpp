// Head quality on known heads. Each known head (testing/KnownHeads.h) is drawn front and
// side as photos with known cameras; the whole program runs headless on them (the driver) with
// automatic recognition, once with the profile facing left and once mirrored to face right, and
// once more with every point at its true place (the oracle); each export is read back and
// measured against the true head in millimetres (testing/HeadMetric.h), as is the undeformed
// generic head.
// Then the frame rate of each shader type.
//
//   vultari_quality_bench [work folder] [--attribute]      (default: a fresh folder under /tmp)
// With --attribute, each head is also rebuilt from its automatic points with one group of points
// at its true place at a time: what each group's recognition costs the shape.
// The work folder keeps every photo, export and view, and montage.png: each head's photos and
// results side by side.
#include "testing/KnownHeadPhotos.h"
#include "testing/KnownHeads.h"
#include "bench/quality/Likeness.h"
#include "bench/ShortRun.h"
#include "collada/Colladaasset.h"
#include "platform/base/Paths.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Headattributes.h"
#include "render/Colladaengine.h"
#include "testing/DriverSupport.h"
#include "testing/HeadInvariants.h"
#include "testing/HeadMetric.h"
#include "platform/base/Memory.h"

#include <GL/glew.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

constexpr double kMmPerUnit = 28.0;  // one model unit of the generic head
const char* const kHuman = "/usr/share/assimp/models/Collada/human.zae";

// A short run measures the first two heads only: the generic head (no hair) and MakeHuman's (hair).
const std::vector<KnownHead>& BenchHeads()
{
    static const std::vector<KnownHead> heads =
        ShortRun() ? std::vector<KnownHead>(KnownHeads().begin(), KnownHeads().begin() + 2) : KnownHeads();
    return heads;
}

int Driver(const std::string& arguments, std::string* output = nullptr)
{
    return RunCommand(std::string(VULTARI_DRIVER) + " " + arguments + " 2>&1", output);
}

std::string Q(const fs::path& p) { return ShellQuoted(p.string()); }

// ---- the photos and the truth ------------------------------------------------------------------


struct Truth {
    HeadSurface surface;
    HeadCorners corners;
    std::vector<Vec3> front;  // the 27 true front points in 3D
    std::string pointsLeft, pointsRight;  // points files
};

HeadSurface Surface(const KnownHeadMaker& maker, const KnownHeadMeshes& m)
{
    return {m.head, KnownHeadLandmarks(maker, m.head, m.rightEye, m.leftEye)};
}

bool WriteImage(const fs::path& path, const cv::Mat& image)
{
    bool ok = !image.empty() && cv::imwrite(path.string(), image);
    if (!ok)
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return ok;
}

// Draws the photos of every known head into its folder and returns the truths.
bool MakePhotos(const KnownHeadMaker& maker, const fs::path& dir, std::vector<Truth>& truths)
{
    TXMLDocument document;
    const std::unique_ptr<TColladaEngine> engine = KnownHeadEngine(document);
    if (!engine)
        return false;
    for (const KnownHead& head : BenchHeads()) {
        const fs::path folder = dir / head.name;
        KnownHeadMeshes meshes;
        if (!DrawKnownHead(maker, *engine, head, folder, &meshes))
            return false;
        Truth t;
        t.surface = Surface(maker, meshes);
        t.corners = {meshes.head, meshes.leftEye, meshes.rightEye};
        t.front = maker.FrontPoints(head.shape);
        t.pointsLeft = ReadWholeFile((folder / "truth-left.json").string());
        t.pointsRight = ReadWholeFile((folder / "truth-right.json").string());
        truths.push_back(std::move(t));
    }
    return true;
}

// ---- one reconstruction and its measure --------------------------------------------------------

struct Job {
    size_t head = 0;
    std::string kind;  // "auto-left", "auto-right", "oracle"
    int exitCode = -1;
    HeadError error;
    double worstPoint = -1;  // px, recognized against true
    std::string worstName;
    PhotoLikeness front, side;
    Registration atFront, atSide;
    RegionReach reach;
    SeamStep seam;
    NormalDeviation normals;  // of the exported head
    std::string message;  // the first message the program showed: recognition refused, a file failed
    std::string note;     // recognition found no face or outline and went on from the default points
    int frontFallback = -1, profileFallback = -1;  // points the proportions placed (the driver's report)
};

// What every job's likeness measures share: the anchors, the undeformed head and its source.
struct LikenessContext {
    const GenericData* generic = nullptr;
    LikenessAnchors anchors;
    HeadCorners undeformed;
};

// The head surface and eyes of an export, through the program's own reader, in the node's frame.
bool ReadExport(const KnownHeadMaker& maker, const fs::path& path, HeadSurface& out, HeadCorners* corners = nullptr,
                NormalDeviation* normals = nullptr)
{
    TXMLDocument document;
    TColladaAsset asset(&document);
    try {
        if (!asset.Load(path.string()))
            return false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
        return false;
    }
    const std::vector<float> head = PlacedPositions(asset, "Cube"), right = PlacedPositions(asset, "RightEye"),
                             left = PlacedPositions(asset, "LeftEye");
    if (head.empty())
        return false;
    for (const auto& node : asset.visualScenes.nodes)
        if (normals && node->name == "Cube" && node->geometryIndex >= 0 &&
            size_t(node->geometryIndex) < asset.geometries.geometries.size())
            *normals = MeasureNormals(*asset.geometries.geometries[size_t(node->geometryIndex)]);
    out = {head, KnownHeadLandmarks(maker, head, right, left)};
    if (corners)
        *corners = {head, left, right};
    return true;
}

// Largest distance between recognized and true points, and its point's name.
void PointError(const std::string& recognized, const std::string& truth, Job& job)
{
    THeadAttributes a, b;
    const cv::Size size(kPhotoWidth, kPhotoHeight);
    if (!ApplyPointsJson(recognized, a, size, size, size, size) || !ApplyPointsJson(truth, b, size, size, size, size))
        return;
    auto check = [&](const THPoint* p, const THPoint* q, const char* set) {
        const double d = std::hypot(p->x - q->x, p->y - q->y);
        if (d > job.worstPoint) {
            job.worstPoint = d;
            job.worstName = std::string(set) + " " + q->name;
        }
    };
    for (int i = 0; i < FrontPoint::Count; ++i)
        check(a.front[i], b.front[i], "front");
    for (int i = 0; i < ProfilePoint::Count; ++i)
        check(a.profile[i], b.profile[i], "profile");
}

// The points a run reconstructed from, as its points file holds them.
bool ReadPoints(const fs::path& path, THeadAttributes& points)
{
    const cv::Size size(kPhotoWidth, kPhotoHeight);
    return ApplyPointsJson(ReadWholeFile(path.string()), points, size, size, size, size);
}

void MeasureLikeness(const LikenessContext& c, const fs::path& out, const fs::path& folder, const Truth& truth,
                     const HeadCorners& result, bool mirrored, Job& job)
{
    constexpr double kFaceRadius = 95.0 / kMmPerUnit;  // the shape measure's face
    cv::Mat shown;
    job.front = ComparePhoto(cv::imread((folder / "front.png").string()), cv::imread((out / "result-front.png").string()),
                             truth.corners, c.anchors, truth.front, false, kFaceRadius, &shown);
    if (!shown.empty())
        WriteImage(out / "likeness-front.png", shown);
    // The result is drawn facing left whichever way its profile photo faced.
    job.side = ComparePhoto(cv::imread((folder / "side-left.png").string()), cv::imread((out / "result-side.png").string()),
                            truth.corners, c.anchors, truth.front, true, kFaceRadius, &shown);
    if (!shown.empty())
        WriteImage(out / "likeness-side.png", shown);
    job.atFront = CompareRegistration(truth.corners, result, c.anchors, false);
    job.atSide = CompareRegistration(truth.corners, result, c.anchors, true);
    THeadAttributes points;
    if (ReadPoints(out / "points.json", points)) {
        job.reach = MeasureReach(*c.generic, c.undeformed, result, c.anchors, points, mirrored);
        job.seam = MeasureSeam(cv::imread((out / "work/data/textures/headtexture.bmp").string()), points, &shown);
        if (!shown.empty())
            WriteImage(out / "seam.png", shown);
    }
}

// How many points recognition left to the proportions, from the driver's "recognition fallback:
// front N of 27 (...); profile M of 14 (...)" line.
void ReadFallbackCounts(const std::string& output, Job& job)
{
    const size_t at = output.find("recognition fallback: ");
    if (at == std::string::npos)
        return;
    const std::string line = output.substr(at, output.find('\n', at) - at);
    const size_t front = line.find("front "), profile = line.find("; profile ");
    if (front != std::string::npos)
        job.frontFallback = std::atoi(line.c_str() + front + 6);
    if (profile != std::string::npos)
        job.profileFallback = std::atoi(line.c_str() + profile + 10);
}

void RunJob(const KnownHeadMaker& maker, const LikenessContext& likeness, const fs::path& dir, const Truth& truth, Job& job)
{
    const fs::path folder = dir / BenchHeads()[job.head].name;
    const fs::path out = folder / job.kind;
    fs::create_directories(out);
    const bool right = job.kind == "auto-right";
    std::string args = "run --front " + Q(folder / "front.png") + " --profile " +
                       Q(folder / (right ? "side-right.png" : "side-left.png")) + " --points " + Q(out / "points.json") +
                       " --views " + Q(out / "result") + " --export " + Q(out / "head.dae") + " --workdir " + Q(out / "work");
    if (job.kind == "oracle")
        args += " --set-points " + Q(folder / "truth-left.json");
    std::string output;
    job.exitCode = Driver(args, &output);
    std::ofstream(out / "driver.log") << output;
    // Any message means the run is not what is measured (default points measure the defaults).
    // A face or outline that recognition did not find is a result to show, not a failed run: the
    // program then goes on from its default points, as it does for the user.
    for (size_t at = output.find("message: "); at != std::string::npos; at = output.find("message: ", at + 1)) {
        const std::string text = output.substr(at, output.find('\n', at) - at);
        if (text.find("placed at default positions") != std::string::npos)
            job.note = text;
        else if (job.message.empty())
            job.message = text;
    }
    ReadFallbackCounts(output, job);
    if (job.exitCode != 0)
        return;
    HeadSurface result;
    HeadCorners corners;
    if (ReadExport(maker, out / "head.dae", result, &corners, &job.normals)) {
        job.error = CompareHeads(truth.surface, result, kMmPerUnit);
        MeasureLikeness(likeness, out, folder, truth, corners, right, job);
    }
    PointError(ReadWholeFile((out / "points.json").string()), right ? truth.pointsRight : truth.pointsLeft, job);
}

void RunAll(const KnownHeadMaker& maker, const LikenessContext& likeness, const fs::path& dir, const std::vector<Truth>& truths,
            std::vector<Job>& jobs)
{
    std::atomic<size_t> next{0};
    const unsigned workers = std::max(1u, std::min(6u, std::thread::hardware_concurrency()));
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < workers; ++w)
        pool.emplace_back([&] {
            for (size_t i; (i = next++) < jobs.size();)
                RunJob(maker, likeness, dir, truths[jobs[i].head], jobs[i]);
        });
    for (std::thread& t : pool)
        t.join();
}

// The texture seam on the real front photos, each beside a known head's drawn profile (the known
// heads' even paint hides a band that real skin shows).
struct RealRun {
    std::string name, front, profileHead;
    int exitCode = -1;
    SeamStep seam;
};

std::vector<RealRun> RunRealPhotos(const fs::path& dir)
{
    const std::string deps = VULTARI_DEPS_DIR;
    std::vector<RealRun> runs = {
        {"astronaut", deps + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png", "generic"},
        {"grace hopper", deps + "/facedetect/usr/share/doc/facedetect/examples/grace_hopper_512x512.jpg", "mh"},
        {"mona", deps + "/node-opencv/usr/share/doc/node-opencv/examples/files/mona.png", "mh"},
    };
    std::vector<std::thread> pool;
    for (RealRun& r : runs)
        pool.emplace_back([&dir, &r] {
            const fs::path out = dir / "real" / r.name;
            fs::create_directories(out);
            std::string output;
            r.exitCode = Driver("run --front " + ShellQuoted(r.front) + " --profile " + Q(dir / r.profileHead / "side-left.png") +
                                    " --points " + Q(out / "points.json") + " --views " + Q(out / "result") + " --workdir " +
                                    Q(out / "work"),
                                &output);
            std::ofstream(out / "driver.log") << output;
            THeadAttributes points;
            // The points file is in the photo's pixels as loaded; the atlas is laid out on the stored ones.
            const cv::Mat front = cv::imread(r.front), profile = cv::imread((dir / r.profileHead / "side-left.png").string());
            if (r.exitCode != 0 || front.empty() || profile.empty() ||
                !ApplyPointsJson(ReadWholeFile((out / "points.json").string()), points, front.size(), front.size(),
                                 profile.size(), profile.size()))
                return;
            cv::Mat shown;
            r.seam = MeasureSeam(cv::imread((out / "work/data/textures/headtexture.bmp").string()), points, &shown);
            if (!shown.empty())
                WriteImage(out / "seam.png", shown);
        });
    for (std::thread& t : pool)
        t.join();
    return runs;
}

// ---- report ------------------------------------------------------------------------------------

cv::Mat Tile(const fs::path& path, const std::string& caption)
{
    cv::Mat image = cv::imread(path.string());
    if (image.empty())
        image = cv::Mat(kPhotoHeight, kPhotoWidth, CV_8UC3, cv::Scalar(40, 40, 40));
    cv::Mat small;
    cv::resize(image, small, {kPhotoWidth / 3, kPhotoHeight / 3}, 0, 0, cv::INTER_AREA);
    cv::putText(small, caption, {6, 18}, cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
    return small;
}

void WriteMontage(const fs::path& dir)
{
    std::vector<cv::Mat> rows;
    for (const KnownHead& head : BenchHeads()) {
        const fs::path f = dir / head.name;
        std::vector<cv::Mat> tiles = {Tile(f / "front.png", head.name + " front"), Tile(f / "side-left.png", "profile"),
                                      Tile(f / "auto-left/result-front.png", "automatic"),
                                      Tile(f / "auto-left/result-side.png", "automatic"),
                                      Tile(f / "auto-right/result-side.png", "automatic, right-facing"),
                                      Tile(f / "oracle/result-front.png", "true points"),
                                      Tile(f / "oracle/result-side.png", "true points")};
        cv::Mat row;
        cv::hconcat(tiles, row);
        rows.push_back(row);
    }
    cv::Mat all;
    cv::vconcat(rows, all);
    WriteImage(dir / "montage.png", all);
}

// Eyes and mouth close up, per head: the photo, the automatic result, the result from the true points.
void WriteCloseUps(const fs::path& dir, const std::vector<Truth>& truths)
{
    constexpr int kHeight = 150;
    std::vector<cv::Mat> rows;
    for (size_t h = 0; h < BenchHeads().size(); ++h) {
        const fs::path f = dir / BenchHeads()[h].name;
        std::vector<cv::Mat> tiles;
        for (const bool eyes : {true, false})
            for (const auto& [file, caption] : {std::pair<std::string, std::string>{"front.png", BenchHeads()[h].name + " photo"},
                                                {"auto-left/result-front.png", "automatic"},
                                                {"oracle/result-front.png", "true points"}}) {
                const cv::Mat image = cv::imread((f / file).string());
                cv::Mat tile = eyes ? EyesCloseUp(image, truths[h].front, kHeight) : MouthCloseUp(image, truths[h].front, kHeight);
                cv::putText(tile, caption, {6, 16}, cv::FONT_HERSHEY_SIMPLEX, 0.45, cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
                tiles.push_back(tile);
            }
        cv::Mat row;
        cv::hconcat(tiles, row);
        if (!rows.empty() && row.cols != rows.front().cols)
            cv::resize(row, row, {rows.front().cols, row.rows});
        rows.push_back(row);
    }
    cv::Mat all;
    cv::vconcat(rows, all);
    WriteImage(dir / "closeups.png", all);
}

// A measure or "--" where there is none (NaN; below zero too when `signedValue` is false).
std::string Number(double v, const char* format = "%6.1f", bool signedValue = false)
{
    char text[32];
    if (std::isnan(v) || (!signedValue && v < 0))
        return "    --";
    std::snprintf(text, sizeof text, format, v);
    return text;
}

void PrintLikeness(const std::vector<Job>& jobs)
{
    std::printf("\nphotometric likeness: mean CIE76 dE inside the true face mask, the result drawn unlit by the photo's "
                "camera against the photo (all / eye boxes / mouth box); seam: the head texture's colour step across "
                "the front/profile fade (and the same step inside the front part)\n");
    std::printf("%-22s %-10s %20s %20s %15s\n", "head", "run", "front all/eyes/mouth", "side all/eyes/mouth", "seam / inside");
    for (const Job& j : jobs)
        std::printf("%-22s %-10s %6s %6s %6s %6s %6s %6s %6s / %6s\n", BenchHeads()[j.head].name.c_str(), j.kind.c_str(),
                    Number(j.front.all).c_str(), Number(j.front.eyes).c_str(), Number(j.front.mouth).c_str(),
                    Number(j.side.all).c_str(), Number(j.side.eyes).c_str(), Number(j.side.mouth).c_str(),
                    Number(j.seam.step).c_str(), Number(j.seam.inside).c_str());
    std::printf("\nregistration: where the result draws each feature against where the photo shows it, %% of the eye "
                "distance (the worse of a pair); reach: of each region's requested move, %% the mesh made\n");
    std::printf("%-22s %-10s %27s %27s %27s\n", "head", "run", "front eyes/mouth/nose/chin", "side eyes/mouth/nose/chin",
                "reach eyes/nose/mouth/ears");
    for (const Job& j : jobs)
        std::printf("%-22s %-10s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s %6s\n", BenchHeads()[j.head].name.c_str(),
                    j.kind.c_str(), Number(j.atFront.eyes).c_str(), Number(j.atFront.mouth).c_str(),
                    Number(j.atFront.nose).c_str(), Number(j.atFront.chin).c_str(), Number(j.atSide.eyes).c_str(),
                    Number(j.atSide.mouth).c_str(), Number(j.atSide.nose).c_str(), Number(j.atSide.chin).c_str(),
                    Number(j.reach.eyes, "%6.0f", true).c_str(), Number(j.reach.nose, "%6.0f", true).c_str(),
                    Number(j.reach.mouth, "%6.0f", true).c_str(), Number(j.reach.ears, "%6.0f", true).c_str());
}

std::string Cell(const HeadError& e)
{
    char text[48];
    if (!e.valid)
        return "    -- /   --";
    std::snprintf(text, sizeof text, "%5.2f / %5.2f", e.median, e.p95);
    return text;
}

// ---- what each group of automatic points costs -------------------------------------------------

// A group of points that recognition places together (or that share one use in the head).
struct PointGroup {
    const char* name;
    bool profile;
    std::vector<int> points;
};

std::vector<int> AllPoints(int count)
{
    std::vector<int> all(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        all[size_t(i)] = i;
    return all;
}

const std::vector<PointGroup>& PointGroups()
{
    namespace F = FrontPoint;
    namespace P = ProfilePoint;
    static const std::vector<PointGroup> groups = {
        {"f eyes", false, {F::LeftEyeCenter, F::LeftEyeLeft, F::LeftEyeRight, F::LeftEyeTop, F::LeftEyeBottom,
                           F::RightEyeCenter, F::RightEyeLeft, F::RightEyeRight, F::RightEyeTop, F::RightEyeBottom}},
        {"f mouth", false, {F::MouthCenter, F::MouthLeft, F::MouthRight, F::MouthTop, F::MouthBottom}},
        {"f nose", false, {F::NoseTip, F::NoseLeft, F::NoseRight, F::NoseTop, F::NoseBottom}},
        {"f ears", false, {F::LeftEar, F::RightEar}},
        {"f sides", false, {F::LeftHead, F::RightHead}},
        {"f crown", false, {F::TopHead}},
        {"f chin", false, {F::BottomHead}},
        {"f centre", false, {F::HeadCenter}},
        {"p eye", true, {P::EyeCenter}},
        {"p mouth", true, {P::MouthCenter}},
        {"p nose", true, {P::NoseTip, P::NoseRoot, P::LeftHead}},
        {"p ear", true, {P::EarCenter, P::EarLeft, P::EarRight, P::EarTop, P::EarBottom}},
        {"p back", true, {P::RightHead}},
        {"p crown", true, {P::TopHead}},
        {"p chin", true, {P::BottomHead}},
        {"p centre", true, {P::HeadCenter}},
        {"f all", false, AllPoints(F::Count)},
        {"p all", true, AllPoints(P::Count)},
    };
    return groups;
}

// A points file that names only the group's points, at their true places (the driver leaves every
// other point where recognition put it).
std::string GroupJson(const std::string& truth, const PointGroup& group)
{
    THeadAttributes t;
    const cv::Size size(kPhotoWidth, kPhotoHeight);
    if (!ApplyPointsJson(truth, t, size, size, size, size))
        return {};
    std::string out = "{\n  \"points\": [\n";
    for (size_t k = 0; k < group.points.size(); ++k) {
        const THPoint* q = group.profile ? t.profile[group.points[k]] : t.front[group.points[k]];
        out += std::string("    {\"set\": \"") + (group.profile ? "profile" : "front") + "\", \"index\": " +
               std::to_string(group.points[k]) + ", \"x\": " + std::to_string(q->x) + ", \"y\": " + std::to_string(q->y) +
               (k + 1 == group.points.size() ? "}\n" : "},\n");
    }
    return out + "  ]\n}\n";
}

struct AttributionJob {
    size_t head = 0, group = 0;
    HeadError error;
};

// The left-facing automatic run again, with one group of points set to the truth; only the export
// is measured.
void RunAttribution(const KnownHeadMaker& maker, const fs::path& dir, const Truth& truth, AttributionJob& job)
{
    const PointGroup& group = PointGroups()[job.group];
    const fs::path folder = dir / BenchHeads()[job.head].name;
    std::string name = std::string("true-") + group.name;
    std::replace(name.begin(), name.end(), ' ', '-');
    const fs::path out = folder / "attribution" / name;
    fs::create_directories(out);
    const std::string points = GroupJson(truth.pointsLeft, group);
    if (points.empty() || !(std::ofstream(out / "set.json") << points))
        return;
    std::string output;
    const int code = Driver("run --front " + Q(folder / "front.png") + " --profile " + Q(folder / "side-left.png") +
                                " --set-points " + Q(out / "set.json") + " --export " + Q(out / "head.dae") + " --workdir " +
                                Q(out / "work"),
                            &output);
    std::ofstream(out / "driver.log") << output;
    HeadSurface result;
    if (code == 0 && ReadExport(maker, out / "head.dae", result))
        job.error = CompareHeads(truth.surface, result, kMmPerUnit);
    // Hundreds of these runs: keep the points and the log, not the data trees and exports.
    std::error_code ignored;
    for (const char* bulky : {"work", "textures", "head.dae"})
        fs::remove_all(out / bulky, ignored);
}

// Per head, the automatic result's face median and p95 with each group at its true place; a group
// whose truth lowers the error much is the one whose recognition costs the shape most.
void PrintAttribution(const KnownHeadMaker& maker, const fs::path& dir, const std::vector<Truth>& truths,
                      const std::vector<Job>& jobs)
{
    std::vector<AttributionJob> work;
    for (size_t h = 0; h < BenchHeads().size(); ++h)
        for (size_t g = 0; g < PointGroups().size(); ++g)
            work.push_back({h, g, {}});
    std::atomic<size_t> next{0};
    const unsigned workers = std::max(1u, std::min(6u, std::thread::hardware_concurrency()));
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < workers; ++w)
        pool.emplace_back([&] {
            for (size_t i; (i = next++) < work.size();)
                RunAttribution(maker, dir, truths[work[i].head], work[i]);
        });
    for (std::thread& t : pool)
        t.join();
    for (const bool p95 : {false, true}) {
        std::printf("\nautomatic (left) face %s in mm with one group of points at its true place (f front, p profile)\n",
                    p95 ? "p95" : "median");
        std::printf("%-22s %8s", "head", "auto");
        for (const PointGroup& g : PointGroups())
            std::printf(" %8s", g.name);
        std::printf("\n");
        for (size_t h = 0; h < BenchHeads().size(); ++h) {
            const HeadError* automatic = nullptr;
            for (const Job& j : jobs)
                if (j.head == h && j.kind == "auto-left")
                    automatic = &j.error;
            auto cell = [p95](const HeadError& e) { return e.valid ? Number(p95 ? e.p95 : e.median, "%8.2f") : std::string("      --"); };
            std::printf("%-22s %8s", BenchHeads()[h].name.c_str(), automatic ? cell(*automatic).c_str() : "      --");
            for (const AttributionJob& a : work)
                if (a.head == h)
                    std::printf(" %8s", cell(a.error).c_str());
            std::printf("\n");
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    bool attribute = false;
    fs::path dir;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--attribute")
            attribute = true;
        else
            dir = argv[i];
    }
    if (dir.empty())
        dir = fs::temp_directory_path() / ("vultari-quality-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    dir = fs::absolute(dir);
    std::printf("head quality on %zu known heads in %s (photos %d x %d)\n", BenchHeads().size(), dir.c_str(), kPhotoWidth,
                kPhotoHeight);
    KeepGLDriverLoaded();

    GenericData generic;
    try {
        generic = BuildGeneric(kHuman);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot build the known heads from %s: %s\n", kHuman, e.what());
        return 1;
    }
    const KnownHeadMaker maker(generic);
    std::vector<Truth> truths;
    if (!MakePhotos(maker, dir, truths))
        return 1;

    std::vector<Job> jobs;
    for (size_t h = 0; h < BenchHeads().size(); ++h)
        for (const char* kind : {"auto-left", "auto-right", "oracle"})
            jobs.push_back({h, kind});
    LikenessContext likeness;
    likeness.generic = &generic;
    {
        const KnownHeadMeshes m = maker.Meshes(HeadShape{});
        likeness.undeformed = {m.head, m.leftEye, m.rightEye};
        likeness.anchors = FindAnchors(maker, generic, likeness.undeformed);
    }
    RunAll(maker, likeness, dir, truths, jobs);
    WriteMontage(dir);
    WriteCloseUps(dir, truths);

    const HeadSurface undeformed = Surface(maker, maker.Meshes(HeadShape{}));
    std::printf("\nface median / p95 distance in mm (true face within 95 mm of the nose tip); ratio: automatic "
                "median over undeformed median, the worse facing\n");
    std::printf("%-22s %15s %15s %15s %6s %15s  %s\n", "head", "undeformed", "auto left", "auto right", "ratio",
                "oracle", "worst point error (automatic, left | right)");
    int failures = 0;
    for (size_t h = 0; h < BenchHeads().size(); ++h) {
        const Job* job[3];
        for (const Job& j : jobs)
            if (j.head == h)
                job[j.kind == "auto-left" ? 0 : j.kind == "auto-right" ? 1 : 2] = &j;
        const HeadError base = CompareHeads(truths[h].surface, undeformed, kMmPerUnit);
        double ratio = 0;  // automatic over undeformed, the worse facing
        for (int k = 0; k < 2; ++k) {
            if (job[k]->exitCode != 0 || !job[k]->error.valid)
                ++failures;
            if (job[k]->error.valid && base.median > 0)
                ratio = std::max(ratio, job[k]->error.median / base.median);
        }
        char points[160];
        std::snprintf(points, sizeof points, "%.0f px %s | %.0f px %s", job[0]->worstPoint, job[0]->worstName.c_str(),
                      job[1]->worstPoint, job[1]->worstName.c_str());
        char ratioText[16] = "    --";  // the generic head against itself: no baseline to divide by
        if (base.median > 0.01)
            std::snprintf(ratioText, sizeof ratioText, "%6.2f", ratio);
        std::printf("%-22s %15s %15s %15s %6s %15s  %s\n", BenchHeads()[h].name.c_str(), Cell(base).c_str(),
                    Cell(job[0]->error).c_str(), Cell(job[1]->error).c_str(), ratioText, Cell(job[2]->error).c_str(),
                    points);
        for (int k = 0; k < 3; ++k)
            if (!job[k]->message.empty()) {
                ++failures;
                std::printf("  %s: FAILED, the program said \"%s\" (see %s)\n", job[k]->kind.c_str(),
                            job[k]->message.c_str(), (dir / BenchHeads()[h].name / job[k]->kind / "driver.log").c_str());
            }
        for (int k = 0; k < 3; ++k)
            if (!job[k]->note.empty())
                std::printf("  %s: the program said \"%s\"\n", job[k]->kind.c_str(), job[k]->note.c_str());
        for (int k = 0; k < 3; ++k)
            if (job[k]->exitCode != 0)
                std::printf("  %s: the driver ended with %d (see %s)\n", job[k]->kind.c_str(), job[k]->exitCode,
                            (dir / BenchHeads()[h].name / job[k]->kind / "driver.log").c_str());
    }
    std::printf("\npoints the proportions placed where recognition measured nothing (automatic left | right), of %d front "
                "and %d profile points\n", int(FrontPoint::Count), int(ProfilePoint::Count));
    for (size_t h = 0; h < BenchHeads().size(); ++h) {
        std::printf("%-22s", BenchHeads()[h].name.c_str());
        for (const Job& j : jobs)
            if (j.head == h && j.kind != "oracle")
                std::printf("%s front %2d, profile %2d", j.kind == "auto-left" ? "" : "  |", j.frontFallback, j.profileFallback);
        std::printf("\n");
    }
    if (attribute)
        PrintAttribution(maker, dir, truths, jobs);
    std::printf("\nstored head normals against the exported surface's, degrees p95 / max (automatic left, right; true points)\n");
    for (const Job& j : jobs)
        std::printf(j.kind == "auto-left" ? "%-22s %5.1f / %5.1f" : "%s   %5.1f / %5.1f%s", j.kind == "auto-left" ? BenchHeads()[j.head].name.c_str() : "",
                    j.normals.p95, j.normals.max, j.kind == "oracle" ? "\n" : "");
    std::printf("montage: %s\n", (dir / "montage.png").c_str());
    PrintLikeness(jobs);
    std::printf("close-ups of eyes and mouth: %s\n", (dir / "closeups.png").c_str());
    std::printf("\nseam on real front photos beside a drawn profile (dE across the fade / the same step inside the front part)\n");
    for (const RealRun& r : RunRealPhotos(dir)) {
        std::printf("%-14s (profile of %-8s) %6s / %6s", r.name.c_str(), r.profileHead.c_str(), Number(r.seam.step).c_str(),
                    Number(r.seam.inside).c_str());
        if (r.exitCode != 0)
            std::printf("  the driver ended with %d (see %s)", r.exitCode, (dir / "real" / r.name / "driver.log").c_str());
        std::printf("\n");
    }

    std::string output;
    const fs::path g = dir / BenchHeads()[0].name;
    if (Driver("run --front " + Q(g / "front.png") + " --profile " + Q(g / "side-left.png") + " --fps " + (ShortRun() ? "5" : "30") + " --workdir " +
                   Q(dir / "work-fps"),
               &output) != 0)
        return 1;
    std::printf("\nRenderFrame frame rate, llvmpipe, %d x %d:\n", kViewWidth, kViewHeight);
    for (size_t at = output.find("fps shader"); at != std::string::npos; at = output.find("fps shader", at + 1))
        std::printf("  %s\n", output.substr(at, output.find('\n', at) - at).c_str());
    if (failures != 0)
        std::fprintf(stderr, "quality bench: %d runs failed; their distances measure nothing\n", failures);
    return failures == 0 ? 0 : 1;
}
