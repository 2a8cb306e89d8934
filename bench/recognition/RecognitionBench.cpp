// Times photo loading plus recognition at the size recognition works at (1300 pixels on the
// larger side): a front photo and a profile photo, each written to a JPEG file first.
// Usage: recognition_bench [--runs N] [--program-folder DIR] [DEPS_DIR]
//   prints milliseconds: median and best of N runs (15 unless given). A recognizer that cannot run
//   (a cascade or the skin table missing) or a recognition that refuses ends the benchmark with a
//   message and exit status 1: figures of a refused run would be meaningless.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <string>
#include <vector>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/BenchPhotos.h"
#include "bench/ShortRun.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "recognition/Majority.h"
#include "recognition/Recognizer.h"
#include "platform/base/Memory.h"

namespace {
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

const char* KindName(TCascadeKind kind)
{
    switch (kind) {
    case TCascadeKind::FrontFace: return "face";
    case TCascadeKind::Eyes: return "eyes";
    case TCascadeKind::Nose: return "nose";
    case TCascadeKind::Mouth: return "mouth";
    case TCascadeKind::ProfileFace: return "profile face";
    }
    return "other";
}

// Time per cascade kind; keyed by the kind itself, so that a new kind is counted too.
using KindTimes = std::map<TCascadeKind, double>;

void PrintKinds(const KindTimes& times, int runs)
{
    std::printf("        cascades (mean of a run):");
    const char* separator = " ";
    for (const auto& [kind, ms] : times) {
        std::printf("%s%s %5.1f ms", separator, KindName(kind), ms / runs);
        separator = ", ";
    }
    std::printf("\n");
}

[[noreturn]] void Refuse(const std::string& what, const std::vector<std::string>& messages)
{
    std::fprintf(stderr, "recognition_bench: %s", what.c_str());
    for (const std::string& m : messages)
        std::fprintf(stderr, "\n  message: %s", m.c_str());
    std::fprintf(stderr, "\nrecognition_bench: no figures: the recognition did not run as it does in the program\n");
    std::exit(1);
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
    KeepFreedMemoryForReuse();
    std::string deps = VULTARI_DEPS_DIR;
    int runs = ShortRun() ? 2 : 15;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--program-folder" && i + 1 < argc) {
            SetProgramFolder(argv[++i]);
        } else if (!arg.empty() && arg[0] != '-') {
            deps = arg;
        } else {
            std::fprintf(stderr, "usage: recognition_bench [--runs N] [--program-folder DIR] [DEPS_DIR]\n");
            return 2;
        }
    }
    if (runs < 1) {
        std::fprintf(stderr, "recognition_bench: --runs needs a positive number\n");
        return 2;
    }
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
    std::vector<std::string> messages;
    SetMessageSink([&](const std::string& text) { messages.push_back(text); });
    const auto startup = Clock::now();
    TRecognizer recognizer;
    const double setup = Ms(Clock::now() - startup);
    if (!messages.empty())
        Refuse("the recognizer cannot load its data from " + ProgramFolder(), messages);
    THeadAttributes points;

    // Time spent inside the cascades, through the detection seam; and whether the face cascade
    // found a face (without one the front points are the defaults, not a recognition).
    double detectMs = 0;
    KindTimes kindMs;
    size_t faceHits = 0;
    const TDetector cascades = recognizer.detector;
    recognizer.detector = [&](TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params) {
        const auto start = Clock::now();
        std::vector<cv::Rect> hits = cascades(kind, grey, params);
        const double ms = Ms(Clock::now() - start);
        detectMs += ms;
        kindMs[kind] += ms;
        if (kind == TCascadeKind::FrontFace)
            faceHits += hits.size();
        return hits;
    };
    auto check = [&](bool ok, const std::string& what) {
        if (!ok || !messages.empty())
            Refuse(what + (ok ? " showed a message" : " failed"), messages);
    };

    std::printf("recognizer start-up (skin table + 5 cascades): %7.1f ms\n", setup);
    for (const auto& [name, path] : {std::pair<const char*, std::string>{"grace_hopper", hopper}, {"astronaut", astronaut}}) {
        detectMs = 0;
        faceHits = 0;
        kindMs.clear();
        const Stats f = Time(runs, [&] {
            check(recognizer.LoadFrontImage(path), std::string("loading ") + path);
            check(recognizer.RecognizeFront(&points), std::string("front recognition of ") + name);
        });
        if (faceHits == 0)
            Refuse(std::string("the face cascade found no face in ") + name, messages);
        std::printf("front   load + RecognizeFront   %-12s (%dx%d): median %7.1f ms, best %7.1f ms; cascades %5.1f ms (mean of a run)\n",
                    name, recognizer.frontImage.cols, recognizer.frontImage.rows, f.median, f.best, detectMs / runs);
        PrintKinds(kindMs, runs);
    }
    detectMs = 0;
    kindMs.clear();
    const Stats p = Time(runs, [&] {
        check(recognizer.LoadProfileImage(astronaut), "loading " + astronaut);
        check(recognizer.RecognizeProfile(&points, false), "profile recognition of astronaut");
    });
    std::printf("profile load + RecognizeProfile %-12s (%dx%d): median %7.1f ms, best %7.1f ms; cascades %5.1f ms (mean of a run)\n",
                "astronaut", recognizer.profileImage.cols, recognizer.profileImage.rows, p.median, p.best, detectMs / runs);
    PrintKinds(kindMs, runs);

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
            const int few = std::min(runs, 5);
            const Stats one = Time(few, [&] {
                for (TCascadeKind kind : kinds)
                    cascades(kind, region, params);
            });
            const Stats together = Time(few, [&] {
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
    const Stats majority = Time(runs, [&] { smoothed = SquareMajority(mask, 31); });
    std::printf("  its 31x31 majority (what the silhouette uses):         median %7.1f ms, best %7.1f ms\n", majority.median,
                majority.best);
    std::printf("runs: %d each; every recognition succeeded\n", runs);
    return 0;
}
