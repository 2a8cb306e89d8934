#pragma once
// Shared pieces of the recognition tests: photos painted in skin and background colours, a
// detector that hands out given hits and records its calls, and the test photos' paths.
#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/base/Numbers.h"
#include "recognition/Recognizer.h"

namespace testdata {
// Inside the skin model (Cr about 165, Cb about 101) and well outside it.
const cv::Scalar kSkin(120, 150, 220);
const cv::Scalar kBackground(200, 120, 40);

inline cv::Mat Plain(int w, int h, const cv::Scalar& colour = kBackground)
{
    return cv::Mat(h, w, CV_8UC3, colour);
}

inline std::string Deps()
{
    return VULTARI_DEPS_DIR;
}
inline std::string Astronaut()
{
    return Deps() + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
}
inline std::string GraceHopper()
{
    return Deps() + "/facedetect/usr/share/doc/facedetect/examples/grace_hopper_512x512.jpg";
}
inline std::string Mona()
{
    return Deps() + "/node-opencv/usr/share/doc/node-opencv/examples/files/mona.png";
}

struct DetectCall {
    TCascadeKind kind;
    cv::Size image;
    int type;
    TDetectParams params;
};

// Hands out fixed hits per cascade and records every call. With inPhoto the hits are in photo
// pixels: each search gets those that overlap the part of the photo it sees, in its own pixels.
struct FakeDetector {
    std::map<TCascadeKind, std::vector<cv::Rect>> hits;
    std::vector<DetectCall> calls;
    bool inPhoto = false;

    TDetector Function()
    {
        return [this](TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params) {
            calls.push_back({kind, grey.size(), grey.type(), params});
            auto it = hits.find(kind);
            if (it == hits.end())
                return std::vector<cv::Rect>();
            if (!inPhoto)
                return it->second;
            std::vector<cv::Rect> seen;
            for (const cv::Rect& h : it->second) {
                const cv::Rect r(RoundHalfEven((h.x - params.origin.x) * params.scale),
                                 RoundHalfEven((h.y - params.origin.y) * params.scale), RoundHalfEven(h.width * params.scale),
                                 RoundHalfEven(h.height * params.scale));
                if ((r & cv::Rect(0, 0, grey.cols, grey.rows)).area() > 0)
                    seen.push_back(r);
            }
            return seen;
        };
    }
};

inline bool Inside(const THPoint* p, const cv::Mat& photo)
{
    return p->x >= 0 && p->y >= 0 && p->x < photo.cols && p->y < photo.rows;
}
}
