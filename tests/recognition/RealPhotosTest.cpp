// Recognition on real photos with the installed cascades: relations between the points, not pixels.
// Odd photos (tiny, thin, grey, huge) must never crash and keep every point inside the photo.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/base/Messages.h"
#include "tests/recognition/RecognitionFixture.h"

using namespace testdata;
using namespace FrontPoint;

namespace {
class RealPhotoTest : public ::testing::TestWithParam<std::string> {};

TEST_P(RealPhotoTest, FrontPointsLieWhereTheFaceIs)
{
    TRecognizer r;
    THeadAttributes a;
    ScopedMessageCapture messages;
    // A real face: the detector must find one; remember it to check the points against it.
    std::vector<cv::Rect> faces;
    const TDetector real = r.detector;
    r.detector = [&](TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params) {
        std::vector<cv::Rect> hits = real(kind, grey, params);
        if (kind == TCascadeKind::FrontFace)
            faces = hits;
        return hits;
    };
    ASSERT_TRUE(r.LoadFrontImage(GetParam())) << GetParam();
    ASSERT_TRUE(r.RecognizeFront(&a));
    EXPECT_TRUE(messages.Texts().empty());
    ASSERT_EQ(faces.size(), 1u) << "the frontal-face cascade finds the face";
    const cv::Rect f = faces[0];
    auto P = [&](int i) { return a.front[i]->GetPosition(); };
    for (THPoint* p : a.front)
        EXPECT_TRUE(Inside(p, r.frontImage)) << p->name;

    EXPECT_TRUE(f.contains(P(HeadCenter)));
    // Eyes in the upper half of the face, the left one on the left.
    EXPECT_LT(P(LeftEyeCenter).y, f.y + f.height / 2);
    EXPECT_LT(P(RightEyeCenter).y, f.y + f.height / 2);
    EXPECT_GT(P(LeftEyeCenter).y, f.y);
    EXPECT_LT(P(LeftEyeCenter).x, P(RightEyeCenter).x);
    EXPECT_LT(P(LeftEyeLeft).x, P(LeftEyeRight).x);
    EXPECT_LT(P(RightEyeLeft).x, P(RightEyeRight).x);
    // Nose between the eyes and the mouth, below the eye line and between the eyes across.
    EXPECT_GT(P(NoseTip).y, std::max(P(LeftEyeCenter).y, P(RightEyeCenter).y));
    EXPECT_LT(P(NoseTip).y, P(MouthCenter).y);
    EXPECT_GT(P(NoseTip).x, P(LeftEyeCenter).x);
    EXPECT_LT(P(NoseTip).x, P(RightEyeCenter).x);
    EXPECT_GT(P(MouthCenter).x, P(LeftEyeCenter).x);
    EXPECT_LT(P(MouthCenter).x, P(RightEyeCenter).x);
    EXPECT_LT(P(MouthLeft).x, P(MouthRight).x);
    // Borders around the face and its features.
    EXPECT_LT(P(TopHead).y, P(LeftEyeCenter).y);
    EXPECT_GT(P(BottomHead).y, P(MouthCenter).y);
    EXPECT_LT(P(LeftHead).x, P(LeftEyeLeft).x);
    EXPECT_GT(P(RightHead).x, P(RightEyeRight).x);
    EXPECT_LE(P(LeftEar).x, P(LeftEyeCenter).x);
    EXPECT_GE(P(RightEar).x, P(RightEyeCenter).x);
    // The head is about as wide as the face, not the photo.
    const int width = P(RightHead).x - P(LeftHead).x;
    EXPECT_GT(width, f.width * 0.6);
    EXPECT_LT(width, f.width * 1.6);
    // Every border lies around its own centre, within a fifth of the head's width, or a quarter more
    // than the generic head has it from its centre where that is further.
    auto limit = [&](int border) {
        double own = 0;
        for (const TFrontOffset& o : r.generic->proportions.borderOffsets)
            if (o.point == border)
                own = std::hypot(o.dx, o.dy);
        return width * std::max(0.2, 1.25 * own);
    };
    struct Around {
        int centre, left, right, top, bottom;
    };
    for (const Around& g : {Around{LeftEyeCenter, LeftEyeLeft, LeftEyeRight, LeftEyeTop, LeftEyeBottom},
                            Around{RightEyeCenter, RightEyeLeft, RightEyeRight, RightEyeTop, RightEyeBottom},
                            Around{NoseTip, NoseLeft, NoseRight, NoseTop, NoseBottom},
                            Around{MouthCenter, MouthLeft, MouthRight, MouthTop, MouthBottom}}) {
        const cv::Point c = P(g.centre);
        const char* name = g.centre == NoseTip ? "nose" : g.centre == MouthCenter ? "mouth" : "eye";
        EXPECT_LT(P(g.left).x, c.x) << name;
        EXPECT_GT(P(g.right).x, c.x) << name;
        EXPECT_LT(P(g.top).y, c.y) << name;
        EXPECT_GT(P(g.bottom).y, c.y) << name;
        for (int b : {g.left, g.right, g.top, g.bottom})
            EXPECT_LT(cv::norm(P(b) - c), limit(b)) << name;
    }
    // The lips' junction is measured on each of these faces, a smile with a crease past the
    // corners and open lips included, and its corners lie beside the eyes' inner halves.
    EXPECT_FALSE(r.report.frontFallback[MouthLeft]);
    EXPECT_FALSE(r.report.frontFallback[MouthRight]);
    EXPECT_LT(P(MouthLeft).x, (P(LeftEyeCenter).x + P(RightEyeCenter).x) / 2);
    EXPECT_GT(P(MouthLeft).x, P(LeftEyeLeft).x);
    EXPECT_LT(P(MouthRight).x, P(RightEyeRight).x);
    // Crown and chin: the eyes lie between them near the middle, as on every head.
    const double eyeShare = double(P(LeftEyeCenter).y - P(TopHead).y) / (P(BottomHead).y - P(TopHead).y);
    EXPECT_GT(eyeShare, 0.35);
    EXPECT_LT(eyeShare, 0.6);
}

// The same photo gives the same points every time: on one thread and on all of OpenCV's, and
// from a recognizer that has run before (nothing carries over from the last photo).
TEST_P(RealPhotoTest, SamePhotoGivesTheSamePoints)
{
    const int threads = cv::getNumThreads();
    std::vector<std::vector<cv::Point>> runs;
    TRecognizer reused;
    for (const int count : {1, threads}) {
        cv::setNumThreads(count);
        TRecognizer fresh;
        for (TRecognizer* r : {&fresh, &reused}) {
            THeadAttributes a;
            ASSERT_TRUE(r->LoadFrontImage(GetParam()));
            ASSERT_TRUE(r->RecognizeFront(&a));
            std::vector<cv::Point> points;
            for (const THPoint* p : a.front)
                points.push_back(p->GetPosition());
            runs.push_back(points);
        }
    }
    cv::setNumThreads(threads);
    for (size_t k = 1; k < runs.size(); ++k)
        EXPECT_EQ(runs[k], runs[0]) << "run " << k;
}

TEST_P(RealPhotoTest, BiggestFaceSearchAgreesWithASearchOverEverySize)
{
    TRecognizer r;
    cv::Mat photo = cv::imread(GetParam(), cv::IMREAD_COLOR);
    ASSERT_FALSE(photo.empty());
    for (int side : {0, 1300}) {
        cv::Mat scaled = side ? r.ResizeToMax(photo, side, true) : photo;
        cv::Mat grey;
        cv::cvtColor(scaled, grey, cv::COLOR_BGR2GRAY);
        cv::equalizeHist(grey, grey);
        std::vector<cv::Rect> all;
        r.frontFaceCascade->detectMultiScale(grey, all, 1.1, 3, 0, cv::Size(30, 30));
        ASSERT_FALSE(all.empty());
        cv::Rect largest;
        for (const cv::Rect& x : all)
            if (x.area() > largest.area())
                largest = x;
        const std::vector<cv::Rect> biggest = r.detector(TCascadeKind::FrontFace, grey, TDetectParams{1.1, 3, {30, 30}, true});
        ASSERT_EQ(biggest.size(), 1u);
        const double overlap = double((biggest[0] & largest).area()) / double((biggest[0] | largest).area());
        EXPECT_GT(overlap, 0.9) << "size " << scaled.cols;
    }
}

TEST_P(RealPhotoTest, ProfileRecognitionKeepsPointsInside)
{
    TRecognizer r;
    THeadAttributes a;
    ASSERT_TRUE(r.LoadProfileImage(GetParam()));
    r.RecognizeProfile(&a, false);
    for (THPoint* p : a.profile)
        EXPECT_TRUE(Inside(p, r.profileImage)) << p->name;
}

std::string PhotoName(const ::testing::TestParamInfo<std::string>& param)
{
    const std::string& path = param.param;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_first_of("._", slash);
    return path.substr(slash + 1, dot - slash - 1);
}

INSTANTIATE_TEST_SUITE_P(Photos, RealPhotoTest, ::testing::Values(Astronaut(), GraceHopper(), Mona()), PhotoName);

struct OddPhoto {
    const char* name;
    cv::Mat (*make)();
};

void PrintTo(const OddPhoto& p, std::ostream* os)
{
    *os << p.name;
}

std::string OddPhotoName(const ::testing::TestParamInfo<OddPhoto>& param)
{
    return param.param.name;
}

class OddPhotoTest : public ::testing::TestWithParam<OddPhoto> {};

TEST_P(OddPhotoTest, NeverCrashesAndKeepsPointsInside)
{
    TRecognizer r;
    THeadAttributes a;
    ScopedMessageCapture messages;
    const cv::Mat photo = GetParam().make();
    r.frontImage = photo.clone();
    r.profileImage = photo.clone();
    r.RecognizeFront(&a);
    r.RecognizeProfile(&a, false);
    r.RecognizeProfile(&a, true);
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_LE(std::max(r.frontImage.cols, r.frontImage.rows), 1300);
    for (THPoint* p : a.front)
        EXPECT_TRUE(Inside(p, r.frontImage)) << p->name;
    for (THPoint* p : a.profile)
        EXPECT_TRUE(Inside(p, r.profileImage)) << p->name;
    // The bitmaps the editor asks for exist for any photo.
    EXPECT_EQ(std::max(r.ResizedBitmap(r.frontImage, 200, true)->Width(), r.ResizedBitmap(r.frontImage, 200, true)->Height()), 200);
}

cv::Mat Noise(int w, int h)
{
    cv::Mat m(h, w, CV_8UC3);
    cv::randu(m, 0, 256);
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    Photos, OddPhotoTest,
    ::testing::Values(OddPhoto{"OnePixel", [] { return Plain(1, 1, kSkin); }},
                      OddPhoto{"Tiny", [] { return Noise(20, 20); }},
                      OddPhoto{"OneRow", [] { return Plain(20, 1, kSkin); }},
                      OddPhoto{"OneColumn", [] { return Noise(1, 20); }},
                      OddPhoto{"Thin", [] { return Noise(3000, 2); }},
                      OddPhoto{"Greyscale", [] {
                                   cv::Mat grey = cv::imread(Astronaut(), cv::IMREAD_GRAYSCALE), out;
                                   cv::cvtColor(grey, out, cv::COLOR_GRAY2BGR);
                                   return out;
                               }},
                      OddPhoto{"Huge", [] {
                                   cv::Mat m = Plain(6000, 4000);
                                   cv::ellipse(m, {3000, 2000}, {900, 1300}, 0, 0, 360, kSkin, cv::FILLED);
                                   return m;
                               }}),
    OddPhotoName);
}
