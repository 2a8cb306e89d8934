// Times photo loading plus recognition at the size recognition works at (1300 pixels on the
// larger side): a front photo and a profile photo, each written to a JPEG file first.
// Usage: recognition_bench [DEPS_DIR]   (prints milliseconds: median and best of the runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/ShortRun.h"
#include "platform/base/Messages.h"
#include "recognition/Recognizer.h"

namespace {
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A photo scaled so that its larger side is 1300 pixels, saved as JPEG.
std::string Prepare(const std::string& source, const std::string& out)
{
    cv::Mat photo = cv::imread(source, cv::IMREAD_COLOR);
    if (photo.empty())
        return "";
    const double f = 1300.0 / std::max(photo.cols, photo.rows);
    cv::resize(photo, photo, cv::Size(), f, f, cv::INTER_CUBIC);
    return cv::imwrite(out, photo) ? out : "";
}

struct Stats {
    double median, best;
};

template <typename F>
Stats Time(int runs, F&& f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        f();
        t.push_back(Ms(Clock::now() - start));
    }
    std::sort(t.begin(), t.end());
    return {t[t.size() / 2], t.front()};
}
}

int main(int argc, char** argv)
{
    const std::string deps = argc > 1 ? argv[1] : VULTARI_DEPS_DIR;
    const std::string tmp = std::filesystem::temp_directory_path().string();
    // Both photos scaled up to 1300 pixels: Grace Hopper's face then spans about 590 pixels, the
    // astronaut's about 250. The profile steps do not depend on the pose, so a front photo serves.
    const std::string hopper = Prepare(deps + "/facedetect/usr/share/doc/facedetect/examples/grace_hopper_512x512.jpg",
                                       tmp + "/vultari_bench_hopper.jpg");
    const std::string astronaut = Prepare(deps + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png",
                                          tmp + "/vultari_bench_astronaut.jpg");
    if (hopper.empty() || astronaut.empty()) {
        std::fprintf(stderr, "recognition_bench: test photos missing under %s (run scripts/setup)\n", deps.c_str());
        return 1;
    }
    SetMessageSink([](const std::string& text) { std::fprintf(stderr, "message: %s\n", text.c_str()); });
    const auto startup = Clock::now();
    TRecognizer recognizer;
    const double setup = Ms(Clock::now() - startup);
    THeadAttributes points;
    const int runs = ShortRun() ? 2 : 15;

    // Time spent inside the cascades, through the detection seam.
    double detectMs = 0;
    double kindMs[5] = {};  // one per TCascadeKind
    const TDetector cascades = recognizer.detector;
    recognizer.detector = [&](TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params) {
        const auto start = Clock::now();
        std::vector<cv::Rect> hits = cascades(kind, grey, params);
        const double ms = Ms(Clock::now() - start);
        detectMs += ms;
        kindMs[static_cast<int>(kind)] += ms;
        return hits;
    };

    bool ok = true;
    std::printf("recognizer start-up (skin table + 5 cascades): %7.1f ms\n", setup);
    for (const auto& [name, path] : {std::pair<const char*, std::string>{"grace_hopper", hopper}, {"astronaut", astronaut}}) {
        detectMs = 0;
        std::fill(std::begin(kindMs), std::end(kindMs), 0.0);
        const Stats f = Time(runs, [&] { ok &= recognizer.LoadFrontImage(path) && recognizer.RecognizeFront(&points); });
        std::printf("front   load + RecognizeFront   %-12s (%dx%d): median %7.1f ms, best %7.1f ms; cascades %5.1f ms (mean of a run)\n",
                    name, recognizer.frontImage.cols, recognizer.frontImage.rows, f.median, f.best, detectMs / runs);
        std::printf("        cascades (mean of a run): face %5.1f ms, eyes %5.1f ms, nose %5.1f ms, mouth %5.1f ms\n",
                    kindMs[0] / runs, kindMs[1] / runs, kindMs[2] / runs, kindMs[3] / runs);
    }
    const Stats p = Time(runs, [&] {
        ok &= recognizer.LoadProfileImage(astronaut) && recognizer.RecognizeProfile(&points, false);
    });
    std::printf("profile load + RecognizeProfile %-12s (%dx%d): median %7.1f ms, best %7.1f ms\n", "astronaut",
                recognizer.profileImage.cols, recognizer.profileImage.rows, p.median, p.best);

    // The eye, nose and mouth searches are independent of each other: run one after the other (as
    // recognition does) and at the same time, on the grey face region of the big face.
    {
        cv::Mat photo = cv::imread(hopper, cv::IMREAD_COLOR), grey;
        cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
        cv::equalizeHist(grey, grey);
        const std::vector<cv::Rect> faces = cascades(TCascadeKind::FrontFace, grey, TDetectParams{1.1, 3, {30, 30}, true});
        if (!faces.empty()) {
            const cv::Mat region = grey(faces.front());
            const TDetectParams params{1.1, 2, {0, 0}, false};
            const TCascadeKind kinds[3] = {TCascadeKind::Eyes, TCascadeKind::Nose, TCascadeKind::Mouth};
            const Stats one = Time(5, [&] {
                for (TCascadeKind kind : kinds)
                    cascades(kind, region, params);
            });
            const Stats together = Time(5, [&] {
                std::vector<std::future<std::vector<cv::Rect>>> running;
                for (TCascadeKind kind : kinds)
                    running.push_back(std::async(std::launch::async, [&, kind] { return cascades(kind, region, params); }));
                for (auto& r : running)
                    r.get();
            });
            std::printf("eyes + nose + mouth in a %dx%d face: one after the other median %7.1f ms, "
                        "concurrently median %7.1f ms (OpenCV threads: %d)\n",
                        region.cols, region.rows, one.median, together.median, cv::getNumThreads());
        }
    }
    cv::Mat mask(1300, 1300, CV_8UC1);
    cv::randu(mask, 0, 2);
    mask *= 255;
    cv::Mat smoothed;
    const Stats m = Time(runs, [&] { cv::medianBlur(mask, smoothed, 31); });
    std::printf("  the 31x31 median of a 1300x1300 mask alone:            median %7.1f ms, best %7.1f ms\n", m.median, m.best);
    std::printf("runs: %d each; all recognitions succeeded: %s\n", runs, ok ? "yes" : "no");
    return ok ? 0 : 1;
}
