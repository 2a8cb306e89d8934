// Quality of the whole pipeline, measured with the headless driver: the generic head and a known
// deformation of it are drawn front and side as photos, reconstructed with automatic recognition,
// drawn again with the same cameras, and compared with the photos (silhouette IoU, PSNR over the
// head) and with the known head (vertex-set distance). Then the frame rate of each shader type.
//
//   vultari_quality_bench [work folder]      (default: a fresh folder under /tmp)
#include "tests/e2e/DriverSupport.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace {

int Driver(const std::string& arguments, std::string* output = nullptr)
{
    std::string command = std::string(VULTARI_DRIVER) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    int status = ::pclose(pipe);
    if (output != nullptr)
        *output = text;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code != 0)
        std::fprintf(stderr, "driver %s failed (%d):\n%s\n", arguments.c_str(), code, text.c_str());
    return code;
}

std::vector<float> ReadPositions(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<float> values(static_cast<size_t>(in.tellg()) / sizeof(float));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(values.data()), static_cast<std::streamsize>(values.size() * sizeof(float)));
    return values;
}

std::string Q(const fs::path& p)
{
    std::string quoted(1, '\'');
    quoted.append(p.string()).push_back('\'');
    return quoted;
}

struct Views {
    double iouFront = 0, iouSide = 0, psnrFront = 0, psnrSide = 0;
};

// The result's silhouettes come from its white views (its texture may show the photos' background),
// its colours from its unlit views (the texture carries the photos' light already).
Views Compare(const fs::path& photoFront, const fs::path& photoSide, const std::string& result)
{
    Views v;
    cv::Mat pf = cv::imread(photoFront.string()), ps = cv::imread(photoSide.string());
    cv::Mat rf = cv::imread(result + "-front.png"), rs = cv::imread(result + "-side.png");
    cv::Mat sf = cv::imread(result + "-front-silhouette.png"), ss = cv::imread(result + "-side-silhouette.png");
    if (pf.empty() || ps.empty() || rf.empty() || rs.empty() || sf.empty() || ss.empty())
        return v;
    cv::Mat mpf = ForegroundMask(pf, kPhotoBackground), mps = ForegroundMask(ps, kPhotoBackground);
    v.iouFront = MaskIoU(mpf, ForegroundMask(sf, kPhotoBackground));
    v.iouSide = MaskIoU(mps, ForegroundMask(ss, kPhotoBackground));
    v.psnrFront = MaskPsnr(pf, rf, mpf);
    v.psnrSide = MaskPsnr(ps, rs, mps);
    return v;
}

} // namespace

int main(int argc, char** argv)
{
    fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("vultari-quality-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::printf("quality benchmark in %s (photos %d x %d, automatic recognition)\n", dir.c_str(), kPhotoWidth, kPhotoHeight);

    // The undeformed generic head is the baseline every case is measured against as well.
    if (Driver("photos --front " + Q(dir / "generic-front.png") + " --side " + Q(dir / "generic-side.png") + " --mesh " +
               Q(dir / "generic.bin") + " --workdir " + Q(dir / "work-photos")) != 0)
        return 1;
    const std::vector<float> generic = ReadPositions(dir / "generic.bin");

    std::printf("\n%-10s %8s %8s %10s %10s %12s %12s %14s %14s %8s\n", "head", "IoU-f", "IoU-s", "PSNR-f dB",
                "PSNR-s dB", "dist mean", "dist max", "generic mean", "generic max", "time s");
    int failures = 0;
    for (const char* name : {"generic", "deformed"}) {
        const bool deformed = std::string(name) == "deformed";
        const fs::path front = dir / (std::string(name) + "-front.png"), side = dir / (std::string(name) + "-side.png");
        const fs::path known = dir / (std::string(name) + ".bin");
        if (deformed &&
            Driver("photos --deformed --front " + Q(front) + " --side " + Q(side) + " --mesh " + Q(known) + " --workdir " +
                   Q(dir / "work-photos")) != 0) {
            ++failures;
            continue;
        }
        auto start = std::chrono::steady_clock::now();
        const fs::path result = dir / (std::string(name) + "-result");
        const fs::path mesh = dir / (std::string(name) + "-result.bin");
        if (Driver("run --front " + Q(front) + " --profile " + Q(side) + " --views " + Q(result) + " --mesh " + Q(mesh) +
                   " --points " + Q(dir / (std::string(name) + "-points.json")) + " --workdir " + Q(dir / ("work-" + std::string(name)))) != 0) {
            ++failures;
            continue;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        Views v = Compare(front, side, result.string());
        const std::vector<float> truth = ReadPositions(known);
        SurfaceDistance d = VertexSetDistance(ReadPositions(mesh), truth);
        SurfaceDistance baseline = VertexSetDistance(generic, truth);
        std::printf("%-10s %8.3f %8.3f %10.2f %10.2f %12.4f %12.4f %14.4f %14.4f %8.2f\n", name, v.iouFront, v.iouSide,
                    v.psnrFront, v.psnrSide, d.mean, d.max, baseline.mean, baseline.max, seconds);
    }
    std::printf("(distances in model units, about 2.8 cm each; \"generic\" columns: the undeformed generic head "
                "against the same known head)\n");

    std::string output;
    if (Driver("run --front " + Q(dir / "generic-front.png") + " --profile " + Q(dir / "generic-side.png") +
                   " --fps 30 --workdir " + Q(dir / "work-fps"),
               &output) != 0)
        return 1;
    std::printf("\nRenderFrame frame rate, llvmpipe, %d x %d:\n", kViewWidth, kViewHeight);
    for (size_t at = output.find("fps shader"); at != std::string::npos; at = output.find("fps shader", at + 1))
        std::printf("  %s\n", output.substr(at, output.find('\n', at) - at).c_str());
    return failures == 0 ? 0 : 1;
}
