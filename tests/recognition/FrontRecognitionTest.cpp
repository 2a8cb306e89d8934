// Front-photo recognition: the geometric rules from given hits on painted photos.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "recognition/Generichead.h"
#include "tests/recognition/RecognitionFixture.h"

using namespace testdata;
using namespace FrontPoint;

namespace {
// A 1000 x 800 photo with a skin-coloured elliptic head; the face is reported at F.
const cv::Rect F(340, 230, 320, 320); // centre (500, 390); upper half: y < 390
constexpr int kCx = 500;

cv::Mat HeadPhoto()
{
    cv::Mat photo = Plain(1000, 800);
    cv::ellipse(photo, cv::Point(500, 420), cv::Size(170, 230), 0, 0, 360, kSkin, cv::FILLED);
    return photo;
}

// A hit (relative to the face) whose centre in the photo is `c`; even sizes keep the centre exact.
cv::Rect HitAt(cv::Point c, int w = 40, int h = 30)
{
    return {c.x - F.x - w / 2, c.y - F.y - h / 2, w, h};
}

// The generic head the recognizer reads from the program folder.
const TGenericHead& Generic()
{
    static const TGenericHead head = ReadGenericHead(ProgramFolder() + kGenericHeadPath);
    return head;
}

// Where a border belongs by the generic head's proportions, from its centre and the head width.
cv::Point Border(const THeadAttributes& a, int border)
{
    const int width = a.front[RightHead]->x - a.front[LeftHead]->x;
    for (const TFrontOffset& o : Generic().proportions.borderOffsets)
        if (o.point == border)
            return a.front[o.from]->GetPosition() + cv::Point(RoundHalfEven(o.dx * width), RoundHalfEven(o.dy * width));
    ADD_FAILURE() << "no offset for point " << border;
    return {};
}

// Where a centre's estimate lies in the head box.
cv::Point Estimate(const THeadAttributes& a, int centre)
{
    const int L = a.front[LeftHead]->x, T = a.front[TopHead]->y;
    const int HW = a.front[RightHead]->x - L, HH = a.front[BottomHead]->y - T;
    for (const TFrontShare& s : Generic().proportions.centreShares)
        if (s.point == centre)
            return {RoundHalfEven(L + s.fx * HW), RoundHalfEven(T + s.fy * HH)};
    ADD_FAILURE() << "no share for point " << centre;
    return {};
}

class FrontRecognitionTest : public ::testing::Test {
protected:
    TRecognizer r;
    THeadAttributes points;
    FakeDetector fake;
    ScopedMessageCapture messages;

    void SetUp() override
    {
        ASSERT_TRUE(r.SkinTableUsable());
        r.detector = fake.Function();
        r.frontImage = HeadPhoto();
        fake.hits[TCascadeKind::FrontFace] = {F};
    }
    cv::Point At(int i) const { return points.front[i]->GetPosition(); }
    bool Run()
    {
        const bool ok = r.RecognizeFront(&points);
        for (THPoint* p : points.front)
            EXPECT_TRUE(Inside(p, r.frontImage)) << p->name << " at " << p->x << "," << p->y;
        return ok;
    }
};

TEST_F(FrontRecognitionTest, PreconditionsAreCheckedInOrderAndChangeNothing)
{
    struct Case {
        void (*breakIt)(TRecognizer&);
        const char* message;
    };
    const std::vector<Case> cases = {
        {[](TRecognizer& x) { x.frontImage.release(); }, "Please load front image before recognition"},
        {[](TRecognizer& x) { x.frontFaceCascade.reset(); x.eyeCascade.reset(); }, "FrontHead Haar cascade is not loaded"},
        {[](TRecognizer& x) { x.eyeCascade.reset(); x.mouthCascade.reset(); }, "Eyes Haar cascade is not loaded"},
        {[](TRecognizer& x) { x.noseCascade.reset(); }, "Nose Haar cascade is not loaded"},
        {[](TRecognizer& x) { x.mouthCascade.reset(); x.skinLocus.release(); }, "Mouth Haar cascade is not loaded"},
        {[](TRecognizer& x) { x.skinLocus.release(); }, "Skin colour table is not loaded"},
    };
    for (const Case& c : cases) {
        TRecognizer fresh;
        fresh.detector = fake.Function();
        fresh.frontImage = Plain(2600, 1950);
        c.breakIt(fresh);
        messages.Clear();
        points.front[3]->SetPosition(7, 8);
        EXPECT_FALSE(fresh.RecognizeFront(&points));
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(points.front[3]->GetPosition(), cv::Point(7, 8));
        EXPECT_EQ(points.front[0]->GetPosition(), cv::Point(0, 0));
        if (!fresh.frontImage.empty()) {
            EXPECT_EQ(fresh.frontImage.size(), cv::Size(2600, 1950));
        }
    }
    EXPECT_TRUE(fake.calls.empty());
}

TEST_F(FrontRecognitionTest, LargePhotoIsShrunkFirstAndSmallOnesAreKept)
{
    r.frontImage = Plain(2600, 1950);
    fake.hits.clear();
    ASSERT_TRUE(Run());
    EXPECT_EQ(r.frontImage.size(), cv::Size(1300, 975));
    ASSERT_FALSE(fake.calls.empty());
    EXPECT_EQ(fake.calls[0].image, cv::Size(1300, 975));
    // Defaults are for the shrunk photo: the root is the centre of the default head box.
    const int L = RoundHalfEven(1300 * 0.3584), R = RoundHalfEven(1300 * 0.6377);
    EXPECT_EQ(At(HeadCenter).x, RoundHalfEven(L + (R - L) * 0.5));

    const cv::Mat before = r.frontImage.clone();
    ASSERT_TRUE(Run());
    EXPECT_EQ(r.frontImage.size(), cv::Size(1300, 975));
    EXPECT_EQ(cv::norm(before, r.frontImage, cv::NORM_INF), 0.0);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(FrontRecognitionTest, DetectionsUseTheFaceRegionAndTheirParameters)
{
    ASSERT_TRUE(Run());
    ASSERT_EQ(fake.calls.size(), 4u);
    const TCascadeKind order[] = {TCascadeKind::FrontFace, TCascadeKind::Eyes, TCascadeKind::Nose, TCascadeKind::Mouth};
    for (size_t i = 0; i < 4; ++i) {
        const DetectCall& c = fake.calls[i];
        EXPECT_EQ(c.kind, order[i]);
        EXPECT_EQ(c.type, CV_8UC1);
        EXPECT_DOUBLE_EQ(c.params.scaleFactor, 1.1);
        if (i == 0) {
            EXPECT_EQ(c.image, cv::Size(1000, 800));
            EXPECT_EQ(c.params.minNeighbors, 3);
            EXPECT_EQ(c.params.minSize, cv::Size(30, 30));
            EXPECT_TRUE(c.params.biggestOnly);
        } else {
            EXPECT_EQ(c.image, F.size());
            EXPECT_EQ(c.params.minNeighbors, 2);
            EXPECT_EQ(c.params.minSize, cv::Size(0, 0));
            EXPECT_FALSE(c.params.biggestOnly);
        }
    }
}

TEST_F(FrontRecognitionTest, WithoutAFaceTheDefaultHeadBoxStandsIn)
{
    fake.hits.clear();
    ASSERT_TRUE(Run());
    // Default box of 1000 x 800: x 358..638, y 171..664.
    const cv::Rect box(358, 171, 280, 493);
    EXPECT_EQ(At(HeadCenter), cv::Point(498, 418)); // round(417.5) = 418
    EXPECT_EQ(At(TopHead).x, 358 + 140);
    EXPECT_EQ(At(BottomHead).x, 358 + 140);
    // The feature detections search that box.
    ASSERT_EQ(fake.calls.size(), 4u);
    EXPECT_EQ(fake.calls[1].image, box.size());
}

TEST_F(FrontRecognitionTest, HeadBordersComeFromTheSkinOutline)
{
    ASSERT_TRUE(Run());
    // The ellipse (centre 420, half-axes 170 x 230) is met by the scan rows 150 + 4.8 i of the box
    // from y = 190; the smoothing drops the first and the last. Its mean width over those rows is
    // the outline's share of the head's extremes.
    std::vector<int> met;
    for (int i = 0; i < 100; ++i)
        if (150 + (i * 480) / 100 > 190)
            met.push_back(150 + (i * 480) / 100);
    double sum = 0;
    for (size_t k = 1; k + 1 < met.size(); ++k)
        sum += 2 * 170 * std::sqrt(1 - std::pow((met[k] - 420) / 230.0, 2));
    const double width = sum / double(met.size() - 2) / Generic().outlineShare;
    EXPECT_NEAR(At(RightHead).x - At(LeftHead).x, width, 4);
    EXPECT_NEAR(At(LeftHead).x + At(RightHead).x, 2 * kCx, 1) << "a symmetric head has symmetric borders";
    EXPECT_EQ(At(HeadCenter), cv::Point(kCx, 390));
    // Crown and chin by the head's proportions, above and below the face's centre.
    const int w = At(RightHead).x - At(LeftHead).x;
    EXPECT_EQ(At(TopHead), cv::Point(F.x + F.width / 2, RoundHalfEven(390 - Generic().crownAboveFaceCentre * w)));
    EXPECT_EQ(At(BottomHead).y - At(TopHead).y, RoundHalfEven(Generic().proportions.heightPerWidth * w));
    EXPECT_EQ(At(BottomHead).x, F.x + F.width / 2);
    EXPECT_EQ(At(LeftHead).y, At(RightHead).y);
    EXPECT_GT(At(LeftHead).y, At(TopHead).y);
    EXPECT_LT(At(LeftHead).y, At(LeftEyeCenter).y) << "the extremes are the ears' upper part";
}

TEST_F(FrontRecognitionTest, PhotoWithoutSkinFallsBackToTheFaceSides)
{
    // A grey photo has no skin: the borders are the face rectangle's sides, not the defaults.
    cv::Mat grey(800, 1000, CV_8UC3, cv::Scalar(128, 128, 128));
    cv::circle(grey, {500, 400}, 150, cv::Scalar(90, 90, 90), cv::FILLED);
    r.frontImage = grey;
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(LeftHead).x, F.x);
    EXPECT_EQ(At(RightHead).x, F.x + F.width);
}

TEST_F(FrontRecognitionTest, ScansThatEndAtThePhotoEdgeAddNoOutline)
{
    // A face at the left edge: the scan box starts left of the photo, and without skin there the
    // scan stops at the edge. That is no outline: the border falls back to the face's side.
    const cv::Rect edgeFace(10, 200, 200, 200); // scan box from x = -5 to 225
    fake.hits[TCascadeKind::FrontFace] = {edgeFace};
    cv::Mat photo = Plain(1000, 800);
    cv::rectangle(photo, cv::Rect(190, 100, 33, 600), kSkin, cv::FILLED); // skin only at x 190..222
    r.frontImage = photo;
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(LeftHead).x, edgeFace.x);
    EXPECT_EQ(At(RightHead).x, 222) << "one side without outline: the other is not widened either";
}

struct EyeCase {
    const char* what;
    std::vector<cv::Rect> hits;
    cv::Point e1, e2;
};

void PrintTo(const EyeCase& c, std::ostream* os)
{
    *os << c.what;
}

class EyeChoiceTest : public FrontRecognitionTest, public ::testing::WithParamInterface<EyeCase> {};

TEST_P(EyeChoiceTest, PlacesBothEyesAndTheirBorders)
{
    const EyeCase& c = GetParam();
    fake.hits[TCascadeKind::Eyes] = c.hits;
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(LeftEyeCenter), c.e1) << c.what;
    EXPECT_EQ(At(RightEyeCenter), c.e2) << c.what;
    // The rim of the opening around the centre, not the rectangle's sides (which take in the brow).
    for (int b : {LeftEyeLeft, LeftEyeRight, LeftEyeTop, LeftEyeBottom, RightEyeLeft, RightEyeRight, RightEyeTop,
                  RightEyeBottom})
        EXPECT_EQ(At(b), Border(points, b)) << c.what << " " << points.front[b]->name;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, EyeChoiceTest,
    ::testing::Values(
        EyeCase{"one hit left of the centre: the right eye is its mirror", {HitAt({460, 330})}, {460, 330}, {540, 330}},
        EyeCase{"one hit right of the centre: the left eye is its mirror", {HitAt({540, 330})}, {460, 330}, {540, 330}},
        EyeCase{"odd sizes: centres round to even", {HitAt({461, 330}, 41, 31)}, {462, 330}, {538, 330}},
        EyeCase{"two hits: the smaller x is the left eye", {HitAt({540, 330}), HitAt({450, 340})}, {450, 340},
                {540, 330}},
        EyeCase{"both left: a third hit on the right replaces the right eye",
                {HitAt({380, 330}), HitAt({460, 330}), HitAt({550, 335})}, {380, 330}, {550, 335}},
        EyeCase{"both left without a third: the right eye mirrors the left", {HitAt({380, 330}), HitAt({460, 330})},
                {380, 330}, {620, 330}},
        EyeCase{"both right, third also right: the left eye mirrors the right",
                {HitAt({540, 330}), HitAt({610, 330}), HitAt({560, 335})}, {390, 330}, {610, 330}},
        EyeCase{"a hit on the middle row of the face is ignored", {HitAt({460, 390}), HitAt({540, 330})}, {460, 330},
                {540, 330}},
        EyeCase{"equal x: the first hit is the left eye, then the right is mirrored",
                {HitAt({460, 330}), HitAt({460, 350}, 40, 40)}, {460, 330}, {540, 330}}));

TEST_F(FrontRecognitionTest, WithoutEyeHitsTheEyesKeepTheirEstimates)
{
    fake.hits[TCascadeKind::Eyes] = {HitAt({460, 391}), HitAt({540, 500})}; // both in the lower half
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(LeftEyeCenter), Estimate(points, LeftEyeCenter));
    EXPECT_EQ(At(RightEyeCenter), Estimate(points, RightEyeCenter));
    EXPECT_EQ(At(LeftEyeLeft), Border(points, LeftEyeLeft));
    EXPECT_EQ(At(RightEyeRight), Border(points, RightEyeRight));
}

class NoseMouthTest : public FrontRecognitionTest {
protected:
    void SetUp() override
    {
        FrontRecognitionTest::SetUp();
        // Eyes at (460, 330) and (540, 330): middle 500, eye line 330, distance 80.
        fake.hits[TCascadeKind::Eyes] = {HitAt({460, 330}), HitAt({540, 330})};
    }
};

TEST_F(NoseMouthTest, NoseIsTheCentralHitBelowTheEyes)
{
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 320}, 20, 20), HitAt({500, 330}, 20, 20), HitAt({520, 420}, 20, 20),
                                     HitAt({490, 430}, 20, 20), HitAt({470, 440}, 20, 20)};
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(NoseTip), cv::Point(490, 430));
    for (int b : {NoseLeft, NoseRight, NoseTop, NoseBottom})
        EXPECT_EQ(At(b), Border(points, b)) << points.front[b]->name;
}

TEST_F(NoseMouthTest, NoseAboveTheEyeLineIsNeverChosen)
{
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 320}, 20, 20), HitAt({500, 330}, 20, 20)};
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(NoseTip), Estimate(points, NoseTip));
}

TEST_F(NoseMouthTest, MouthHitsCloseToTheNoseOrTheSidesAreNeverChosen)
{
    fake.hits[TCascadeKind::Nose] = {HitAt({490, 430}, 20, 20)};
    ASSERT_TRUE(Run()); // learn the head borders, which do not depend on the hits
    const int xl = At(LeftHead).x, xr = At(RightHead).x, m = (xr - xl) / 5;

    struct Case {
        const char* what;
        std::vector<cv::Rect> hits;
        bool found;
        cv::Point mouth;
        int left, right;
    };
    const std::vector<Case> cases = {
        {"within D/3 rows of the nose", {HitAt({495, 456}, 60, 30)}, false, {}, 0, 0},
        {"above the nose", {HitAt({495, 400}, 60, 30)}, false, {}, 0, 0},
        {"on the left margin", {HitAt({xl + m, 520}, 60, 30)}, false, {}, 0, 0},
        {"on the right margin", {HitAt({xr - m, 520}, 60, 30)}, false, {}, 0, 0},
        {"just more than D/3 below", {HitAt({495, 457}, 60, 30)}, true, {495, 457}, 465, 525},
        {"the most central acceptable hit",
         {HitAt({505, 500}, 60, 30), HitAt({498, 520}, 70, 30), HitAt({499, 450}, 60, 30), HitAt({480, 510}, 60, 30)},
         true, {498, 520}, 463, 533},
    };
    for (const Case& c : cases) {
        THeadAttributes fresh;
        fake.hits[TCascadeKind::Mouth] = c.hits;
        ASSERT_TRUE(r.RecognizeFront(&fresh));
        const cv::Point M = fresh.front[MouthCenter]->GetPosition();
        if (c.found) {
            EXPECT_EQ(M, c.mouth) << c.what;
            // The rectangle's sides are the lips' corners; top and bottom by the head's proportions.
            EXPECT_EQ(fresh.front[MouthLeft]->x, c.left) << c.what;
            EXPECT_EQ(fresh.front[MouthRight]->x, c.right) << c.what;
        } else {
            // Without a mouth the lips' junction hangs below the nose by the head's proportions.
            const TFrontOffset& o = Generic().proportions.mouthFromNose;
            const int w = xr - xl;
            EXPECT_EQ(M, cv::Point(490 + RoundHalfEven(o.dx * w), 430 + RoundHalfEven(o.dy * w))) << c.what;
            for (int b : {MouthLeft, MouthRight})
                EXPECT_EQ(fresh.front[b]->GetPosition(), Border(fresh, b)) << c.what;
        }
        for (int b : {MouthTop, MouthBottom})
            EXPECT_EQ(fresh.front[b]->GetPosition(), Border(fresh, b)) << c.what;
    }
}

TEST_F(FrontRecognitionTest, EarsStayAtTheirPlacesInTheHeadBox)
{
    // A head whose left side slants: the outline at the ears' rows says nothing about where the
    // ears' centres are, so they keep their places in the head box.
    cv::Mat photo = Plain(1000, 800);
    std::vector<cv::Point> head = {{300, 150}, {700, 150}, {700, 700}, {300 + 550 / 4, 700}};
    cv::fillConvexPoly(photo, head, kSkin);
    r.frontImage = photo;
    fake.hits[TCascadeKind::Eyes] = {HitAt({460, 330}), HitAt({540, 330})};
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 450}, 20, 20)};
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(LeftEar), Estimate(points, LeftEar));
    EXPECT_EQ(At(RightEar), Estimate(points, RightEar));
    EXPECT_GT(At(LeftEar).x, At(LeftHead).x);
    EXPECT_LT(At(RightEar).x, At(RightHead).x);
}

TEST_F(FrontRecognitionTest, PointsFollowTheFaceNotTheFraming)
{
    // The same head and hits in a larger photo, shifted: every point shifts with them, none keeps a
    // place that depends on the photo's size.
    fake.hits[TCascadeKind::Eyes] = {HitAt({460, 330}), HitAt({540, 330})};
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 450}, 20, 20)};
    fake.hits[TCascadeKind::Mouth] = {HitAt({500, 520}, 60, 30)};
    ASSERT_TRUE(Run());
    const cv::Point shift(170, 90);
    cv::Mat larger = Plain(1280, 1000);
    HeadPhoto().copyTo(larger(cv::Rect(shift, cv::Size(1000, 800))));
    TRecognizer framed;
    framed.detector = fake.Function();
    framed.frontImage = larger;
    fake.hits[TCascadeKind::FrontFace] = {F + shift};
    THeadAttributes moved;
    ASSERT_TRUE(framed.RecognizeFront(&moved));
    for (int i = 0; i < Count; ++i)
        EXPECT_EQ(moved.front[i]->GetPosition(), At(i) + shift) << points.front[i]->name;
}

TEST_F(FrontRecognitionTest, PointsNearTheEdgeStayInsideThePhoto)
{
    // A face in the top-left corner puts the top border above the photo and mirrored eyes
    // outside it; every point is kept inside (Run checks all 27).
    fake.hits[TCascadeKind::FrontFace] = {cv::Rect(0, 0, 120, 120)};
    fake.hits[TCascadeKind::Eyes] = {HitAt({F.x + 2, F.y + 2}, 4, 4)};
    fake.hits[TCascadeKind::Mouth] = {cv::Rect(-50, 100, 10, 10)};
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(TopHead).y, 0);
}

TEST_F(FrontRecognitionTest, OddFaceAndFeatureRectanglesNeverCrash)
{
    // A detector may hand out anything: the face rectangle is clipped before a sub-image is taken
    // and every point still ends inside the photo (Run checks them).
    const std::vector<cv::Rect> faces = {{-500, -500, 100, 100}, {900, 700, 400, 400}, {0, 0, 0, 0},
                                         {500, 400, 0, 300},     {-100, -100, 1400, 1200}, {999, 799, 1, 1}};
    const std::vector<cv::Rect> junk = {{-30, -30, 10, 10}, {5000, 5000, 40, 40}, {0, 0, 0, 0}, {10, 10, -5, -5}};
    for (const cv::Rect& face : faces) {
        THeadAttributes fresh;
        fake.hits[TCascadeKind::FrontFace] = {face};
        fake.hits[TCascadeKind::Eyes] = junk;
        fake.hits[TCascadeKind::Nose] = junk;
        fake.hits[TCascadeKind::Mouth] = junk;
        ASSERT_TRUE(r.RecognizeFront(&fresh)) << face;
        for (THPoint* p : fresh.front)
            EXPECT_TRUE(Inside(p, r.frontImage)) << face << " " << p->name;
    }
}

TEST_F(FrontRecognitionTest, ProfilePointsAreNotTouched)
{
    points.profile[4]->SetPosition(11, 12);
    ASSERT_TRUE(Run());
    EXPECT_EQ(points.profile[4]->GetPosition(), cv::Point(11, 12));
    EXPECT_EQ(points.profile[0]->GetPosition(), cv::Point(0, 0));
}
}
