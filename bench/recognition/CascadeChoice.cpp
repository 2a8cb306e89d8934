// Compares candidate frontal-face cascades on the test photos: hits, largest hit and time, with
// the parameters front recognition uses (scale 1.1, 3 neighbours, at least 30 x 30, on the
// equalised grey photo at its own size and at 1300 pixels). Then the candidate eye cascades inside
// the largest face of the installed face cascade, with the eye search's parameters (scale 1.1,
// 2 neighbours, no minimum size): hits, hits in the upper half of the face on each side of its
// centre (the ones recognition keeps), and time.
// Usage: cascade_choice [DEPS_DIR]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

namespace {
// The photo as recognition searches it: scaled so its larger side is `size` (0: as it is), grey,
// histogram-equalised.
cv::Mat EqualisedGrey(const cv::Mat& photo, int size)
{
    cv::Mat scaled = photo;
    if (size > 0) {
        const double f = double(size) / std::max(photo.cols, photo.rows);
        cv::resize(photo, scaled, cv::Size(), f, f, cv::INTER_LINEAR);
    }
    cv::Mat grey;
    cv::cvtColor(scaled, grey, cv::COLOR_BGR2GRAY);
    cv::equalizeHist(grey, grey);
    return grey;
}

// "Find the biggest object": the hit of largest area, an empty rectangle for none.
cv::Rect Largest(const std::vector<cv::Rect>& hits)
{
    cv::Rect biggest;
    for (const cv::Rect& r : hits)
        if (r.area() > biggest.area())
            biggest = r;
    return biggest;
}
}

int main(int argc, char** argv)
{
    const std::string deps = argc > 1 ? argv[1] : VULTARI_DEPS_DIR;
    const std::vector<std::string> photos = {
        deps + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png",
        deps + "/facedetect/usr/share/doc/facedetect/examples/grace_hopper_512x512.jpg",
        deps + "/node-opencv/usr/share/doc/node-opencv/examples/files/mona.png",
    };
    const std::vector<std::string> cascades = {"haarcascade_frontalface_alt_tree.xml", "haarcascade_frontalface_alt.xml",
                                               "haarcascade_frontalface_alt2.xml", "haarcascade_frontalface_default.xml"};
    int failures = 0;
    for (const std::string& name : cascades) {
        cv::CascadeClassifier cascade;
        if (!cascade.load("/usr/share/opencv4/haarcascades/" + name)) {
            std::printf("%-40s cannot be loaded\n", name.c_str());
            continue;
        }
        for (const std::string& path : photos) {
            cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
            if (photo.empty()) {
                std::printf("missing photo %s\n", path.c_str());
                ++failures;
                continue;
            }
            for (int size : {0, 1300}) {
                const cv::Mat grey = EqualisedGrey(photo, size);
                std::vector<cv::Rect> hits;
                const auto start = std::chrono::steady_clock::now();
                cascade.detectMultiScale(grey, hits, 1.1, 3, 0, cv::Size(30, 30));
                const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                const cv::Rect biggest = Largest(hits);
                const std::string file = path.substr(path.find_last_of('/') + 1);
                std::printf("%-40s %-26s %4dx%-4d hits %2zu  largest (%d,%d %dx%d)  %7.1f ms\n", name.c_str(), file.c_str(),
                            grey.cols, grey.rows, hits.size(), biggest.x, biggest.y, biggest.width, biggest.height, ms);
            }
        }
    }

    cv::CascadeClassifier face;
    if (!face.load("/usr/share/opencv4/haarcascades/haarcascade_frontalface_alt.xml")) {
        std::printf("haarcascade_frontalface_alt.xml cannot be loaded\n");
        return 1;
    }
    for (const std::string name : {"haarcascade_eye_tree_eyeglasses.xml", "haarcascade_eye.xml"}) {
        cv::CascadeClassifier eyes;
        if (!eyes.load("/usr/share/opencv4/haarcascades/" + name)) {
            std::printf("%-40s cannot be loaded\n", name.c_str());
            continue;
        }
        for (const std::string& path : photos) {
            cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
            if (photo.empty())
                continue;
            for (int size : {0, 1300}) {
                const cv::Mat grey = EqualisedGrey(photo, size);
                std::vector<cv::Rect> faces;
                face.detectMultiScale(grey, faces, 1.1, 3, 0, cv::Size(30, 30));
                const cv::Rect F = Largest(faces) & cv::Rect(0, 0, grey.cols, grey.rows);
                if (F.area() == 0) {
                    std::printf("%-40s no face in %s\n", name.c_str(), path.c_str());
                    continue;
                }
                std::vector<cv::Rect> hits;
                const auto start = std::chrono::steady_clock::now();
                eyes.detectMultiScale(grey(F), hits, 1.1, 2, 0, cv::Size(0, 0));
                const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
                int left = 0, right = 0;
                for (const cv::Rect& r : hits) {
                    const double cx = r.x + r.width * 0.5, cy = r.y + r.height * 0.5;
                    if (cy < F.height / 2)
                        ++(cx < F.width * 0.5 ? left : right);
                }
                const std::string file = path.substr(path.find_last_of('/') + 1);
                std::printf("%-40s %-26s %4dx%-4d face %4dx%-4d eye hits %2zu, kept left %d right %d  %7.1f ms\n", name.c_str(),
                            file.c_str(), grey.cols, grey.rows, F.width, F.height, hits.size(), left, right, ms);
            }
        }
    }
    return failures == 0 ? 0 : 1;
}
