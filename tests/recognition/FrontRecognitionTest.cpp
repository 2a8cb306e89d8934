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
// A 1000 x 800 photo with a skin-coloured elliptic head; the face is reported at F, as wide as
// the features are searched at, so that the searches see the photo's own pixels.
const cv::Rect F(380, 270, 240, 240); // centre (500, 390); upper half: y < 390
constexpr int kCx = 500;

// Hair stands on the crown (y 235), so the crown is placed by the head's proportions; a bald head
// shows its crown against the backdrop.
cv::Mat HeadPhoto(const cv::Scalar& skin = kSkin, bool bald = false)
{
    cv::Mat photo = Plain(1000, 800);
    cv::ellipse(photo, cv::Point(500, 410), cv::Size(125, 175), 0, 0, 360, skin, cv::FILLED);
    if (!bald)
        cv::rectangle(photo, cv::Rect(470, 215, 61, 20), cv::Scalar(40, 40, 40), cv::FILLED);
    // A neck as wide as the jaw, so that no chin shows under the mouth.
    cv::rectangle(photo, cv::Rect(450, 560, 101, 240), skin, cv::FILLED);
    return photo;
}

// A hit in photo pixels whose centre is `c`; even sizes keep the centre exact.
cv::Rect HitAt(cv::Point c, int w = 40, int h = 30)
{
    return {c.x - w / 2, c.y - h / 2, w, h};
}

// The generic head the recognizer reads from the program folder.
const TGenericHead& Generic()
{
    static const TGenericHead head = ReadGenericHead(ProgramFolder() + kGenericHeadPath);
    return head;
}

// The eyes' distance in head widths on the generic head.
double EyeShare()
{
    double l = 0, r = 0;
    for (const TFrontShare& s : Generic().proportions.centreShares) {
        l = s.point == LeftEyeCenter ? s.fx : l;
        r = s.point == RightEyeCenter ? s.fx : r;
    }
    return r - l;
}

// Where a border belongs by the generic head's proportions, from its centre and a width (the head
// width, or the one the measured eyes give), turned by the roll.
cv::Point Border(const THeadAttributes& a, int border, double width, double roll = 0)
{
    for (const TFrontOffset& o : Generic().proportions.borderOffsets)
        if (o.point == border) {
            const double dx = o.dx * width, dy = o.dy * width;
            return a.front[o.from]->GetPosition() + cv::Point(RoundHalfEven(std::cos(roll) * dx - std::sin(roll) * dy),
                                                              RoundHalfEven(std::sin(roll) * dx + std::cos(roll) * dy));
        }
    ADD_FAILURE() << "no offset for point " << border;
    return {};
}

// By the head width.
cv::Point Border(const THeadAttributes& a, int border)
{
    return Border(a, border, a.front[RightHead]->x - a.front[LeftHead]->x);
}

// By the width the two eye centres give (both measured), with their roll.
cv::Point EyeBorder(const THeadAttributes& a, int border)
{
    const cv::Point d = a.front[RightEyeCenter]->GetPosition() - a.front[LeftEyeCenter]->GetPosition();
    return Border(a, border, std::hypot(d.x, d.y) / EyeShare(), std::atan2(double(d.y), double(d.x)));
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

// Where the head's centre lies in the final head box, as on the generic head (its middle).
cv::Point CentreInBox(const THeadAttributes& a)
{
    const auto& g = Generic().front;
    const double fx = (g[HeadCenter].x - g[LeftHead].x) / (g[RightHead].x - g[LeftHead].x);
    const double fy = (g[TopHead].z - g[HeadCenter].z) / (g[TopHead].z - g[BottomHead].z);
    const int L = a.front[LeftHead]->x, T = a.front[TopHead]->y;
    return {RoundHalfEven(L + fx * (a.front[RightHead]->x - L)), RoundHalfEven(T + fy * (a.front[BottomHead]->y - T))};
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
        fake.inPhoto = true;
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
        points.front[FrontPoint::LeftEyeRight]->SetPosition(7, 8);
        EXPECT_FALSE(fresh.RecognizeFront(&points));
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(points.front[FrontPoint::LeftEyeRight]->GetPosition(), cv::Point(7, 8));
        EXPECT_EQ(points.front[FrontPoint::HeadCenter]->GetPosition(), cv::Point(0, 0));
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

// The parts of the face each feature is searched in, in shares of the face rectangle.
struct ZoneCase {
    TCascadeKind kind;
    double x0, y0, x1, y1;
};
const ZoneCase kZones[] = {{TCascadeKind::Eyes, 0.05, 0.12, 0.55, 0.62},
                           {TCascadeKind::Eyes, 0.45, 0.12, 0.95, 0.62},
                           {TCascadeKind::Nose, 0.2, 0.3, 0.8, 0.9},
                           {TCascadeKind::Mouth, 0.1, 0.55, 0.9, 1.0}};

TEST_F(FrontRecognitionTest, FeaturesAreSearchedInTheirZonesAtOneFaceSize)
{
    // The same zones at the face's own size (240 pixels wide), and for a face twice and half as
    // large: each zone is scaled to that width, so a search costs the same at any face size.
    for (const double grow : {1.0, 2.0, 0.5}) {
        const cv::Rect face(RoundHalfEven(500 - 120 * grow), RoundHalfEven(390 - 120 * grow), RoundHalfEven(240 * grow),
                            RoundHalfEven(240 * grow));
        fake.hits[TCascadeKind::FrontFace] = {face};
        fake.calls.clear();
        ASSERT_TRUE(Run());
        ASSERT_EQ(fake.calls.size(), 5u) << grow;
        const DetectCall& first = fake.calls[0];
        EXPECT_EQ(first.kind, TCascadeKind::FrontFace);
        EXPECT_EQ(first.image, cv::Size(1000, 800));
        EXPECT_EQ(first.params.minNeighbors, 3);
        EXPECT_EQ(first.params.minSize, cv::Size(30, 30));
        EXPECT_TRUE(first.params.biggestOnly);
        for (size_t i = 1; i < 5; ++i) {
            const DetectCall& c = fake.calls[i];
            const ZoneCase& z = kZones[i - 1];
            EXPECT_EQ(c.kind, z.kind) << i;
            EXPECT_EQ(c.type, CV_8UC1);
            EXPECT_DOUBLE_EQ(c.params.scaleFactor, 1.1);
            EXPECT_EQ(c.params.minNeighbors, 2);
            EXPECT_EQ(c.params.minSize, cv::Size(0, 0));
            EXPECT_FALSE(c.params.biggestOnly);
            EXPECT_EQ(c.params.origin, cv::Point2d(face.x + RoundHalfEven(z.x0 * face.width), face.y + RoundHalfEven(z.y0 * face.height)))
                << grow << " " << i;
            const int w = RoundHalfEven(z.x1 * face.width) - RoundHalfEven(z.x0 * face.width);
            EXPECT_NEAR(c.image.width, w / grow, 1) << grow << " " << i;
            EXPECT_NEAR(c.params.scale, 1 / grow, 0.01) << grow << " " << i;
        }
    }
}

TEST_F(FrontRecognitionTest, WithoutAFaceTheDefaultHeadBoxStandsIn)
{
    fake.hits.clear();
    ASSERT_TRUE(Run());
    // Default box of 1000 x 800: x 358..638, y 171..664.
    const cv::Rect box(358, 171, 280, 493);
    EXPECT_EQ(At(HeadCenter), CentreInBox(points));
    EXPECT_EQ(At(TopHead).x, 358 + 140);
    EXPECT_EQ(At(BottomHead).x, 358 + 140);
    // Without a hit the face is searched once more with finer size steps, the rest alike.
    ASSERT_EQ(fake.calls.size(), 6u);
    for (size_t i : {0u, 1u}) {
        EXPECT_EQ(fake.calls[i].kind, TCascadeKind::FrontFace) << i;
        EXPECT_EQ(fake.calls[i].params.minNeighbors, 3) << i;
        EXPECT_EQ(fake.calls[i].params.minSize, cv::Size(30, 30)) << i;
        EXPECT_TRUE(fake.calls[i].params.biggestOnly) << i;
    }
    EXPECT_DOUBLE_EQ(fake.calls[0].params.scaleFactor, 1.1);
    EXPECT_LT(fake.calls[1].params.scaleFactor, 1.1);
    EXPECT_GT(fake.calls[1].params.scaleFactor, 1.0);
    // The feature detections search the zones of that box.
    EXPECT_EQ(fake.calls[2].params.origin, cv::Point2d(box.x + RoundHalfEven(0.05 * box.width), box.y + RoundHalfEven(0.12 * box.height)));
}

TEST_F(FrontRecognitionTest, ABaldHeadsCrownIsWhereThePhotoShowsIt)
{
    struct Case {
        const char* what;
        bool bald;
        int crownMoveDown;  // the photo moved down under the same face box
    };
    const Case cases[] = {{"bald: the skin's top", true, 0},
                          {"hair on the crown: by proportion", false, 0},
                          {"bald, far below where the proportion puts it: not believed", true, 120}};
    for (const Case& c : cases) {
        cv::Mat photo = Plain(1000, 800);
        HeadPhoto(kSkin, c.bald)(cv::Rect(0, 0, 1000, 800 - c.crownMoveDown)).copyTo(photo(cv::Rect(0, c.crownMoveDown, 1000, 800 - c.crownMoveDown)));
        r.frontImage = photo;
        THeadAttributes fresh;
        ASSERT_TRUE(r.RecognizeFront(&fresh)) << c.what;
        const int crown = fresh.front[TopHead]->y;
        const int w = fresh.front[RightHead]->x - fresh.front[LeftHead]->x;
        const int byProportion = RoundHalfEven(390 - Generic().crownAboveFaceCentre * w);
        if (c.bald && c.crownMoveDown == 0) {
            EXPECT_NEAR(crown, 235, 2) << c.what;
            EXPECT_FALSE(r.report.frontFallback[TopHead]) << c.what;
            // The estimates and the row of the extremes follow the measured box.
            const int HH = fresh.front[BottomHead]->y - crown;
            EXPECT_EQ(fresh.front[NoseTip]->GetPosition(), Estimate(fresh, NoseTip)) << c.what;
            EXPECT_EQ(fresh.front[LeftHead]->y, crown + RoundHalfEven(Generic().proportions.extremesBelowCrown * HH)) << c.what;
        } else {
            EXPECT_EQ(crown, byProportion) << c.what;
            EXPECT_TRUE(r.report.frontFallback[TopHead]) << c.what;
        }
    }
}

TEST_F(FrontRecognitionTest, HeadBordersComeFromTheSkinOutline)
{
    ASSERT_TRUE(Run());
    // The ellipse (centre 410, half-axes 125 x 175) is met by the scan rows 210 + 3.6 i of the box
    // from y = 235 to 585; the smoothing drops the first and the last. Its mean width over those
    // rows is the outline's share of the head's extremes.
    std::vector<int> met;
    for (int i = 0; i < 100; ++i)
        if (210 + (i * 360) / 100 > 235 && 210 + (i * 360) / 100 < 585)
            met.push_back(210 + (i * 360) / 100);
    double sum = 0;
    for (size_t k = 1; k + 1 < met.size(); ++k)
        sum += 2 * 125 * std::sqrt(1 - std::pow((met[k] - 410) / 175.0, 2));
    const double width = sum / double(met.size() - 2) / Generic().outlineShare;
    EXPECT_NEAR(At(RightHead).x - At(LeftHead).x, width, 4);
    EXPECT_NEAR(At(LeftHead).x + At(RightHead).x, 2 * kCx, 1) << "a symmetric head has symmetric borders";
    // The head's centre is the box's, above the face's centre at the features; placing it moves
    // none of the points that hang from it.
    EXPECT_EQ(At(HeadCenter), CentreInBox(points));
    EXPECT_LT(At(HeadCenter).y, 390);
    for (int i : {LeftEyeCenter, RightEyeCenter, NoseTip, MouthCenter})
        EXPECT_EQ(At(i), Estimate(points, i)) << points.front[i]->name;
    // Crown and chin by the head's proportions, above and below the face's centre.
    const int w = At(RightHead).x - At(LeftHead).x;
    EXPECT_EQ(At(TopHead), cv::Point(F.x + F.width / 2, RoundHalfEven(390 - Generic().crownAboveFaceCentre * w)));
    EXPECT_EQ(At(BottomHead).y - At(TopHead).y, RoundHalfEven(Generic().proportions.heightPerWidth * w));
    EXPECT_EQ(At(BottomHead).x, F.x + F.width / 2);
    EXPECT_EQ(At(LeftHead).y, At(RightHead).y);
    EXPECT_GT(At(LeftHead).y, At(TopHead).y);
    // The extremes lie above or below the eyes as the generic head has them.
    const bool extremesAboveEyes = Generic().front[LeftHead].z > Generic().front[LeftEyeCenter].z;
    EXPECT_EQ(At(LeftHead).y < At(LeftEyeCenter).y, extremesAboveEyes);
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

TEST_F(FrontRecognitionTest, EachEyeIsTheHitOfItsHalfNearestToItsEstimate)
{
    ASSERT_TRUE(Run()); // the estimates do not depend on the eye hits
    const cv::Point e1 = Estimate(points, LeftEyeCenter), e2 = Estimate(points, RightEyeCenter);
    const double reach = cv::norm(e2 - e1) / 3;
    ASSERT_LT(e1.y, 390);
    const cv::Point near(RoundHalfEven(reach / 2), 0), far(RoundHalfEven(reach) + 2, 0);
    struct Case {
        const char* what;
        std::vector<cv::Rect> hits;
        cv::Point left, right;
    };
    const std::vector<Case> cases = {
        {"one hit on each side", {HitAt(e1 + near), HitAt(e2 - near)}, e1 + near, e2 - near},
        {"only the left: the right keeps its estimate", {HitAt(e1 - near)}, e1 - near, e2},
        {"only the right: the left keeps its estimate", {HitAt(e2 + cv::Point(0, 6))}, e1, e2 + cv::Point(0, 6)},
        {"of two on one side the nearer", {HitAt(e1 + near), HitAt(e1 + cv::Point(2, 1))}, e1 + cv::Point(2, 1), e2},
        {"further than a third of the eye distance: no eye", {HitAt(e1 - far), HitAt(e2 + far)}, e1, e2},
        // A centre a pixel and a half off the estimate, so that it never rounds back onto it.
        {"odd sizes: centres round to even", {cv::Rect(e1.x - 22, e1.y - 17, 41, 31)},
         {RoundHalfEven(e1.x - 1.5), RoundHalfEven(e1.y - 1.5)}, e2},
    };
    for (const Case& c : cases) {
        THeadAttributes fresh;
        fake.hits[TCascadeKind::Eyes] = c.hits;
        ASSERT_TRUE(r.RecognizeFront(&fresh));
        EXPECT_EQ(fresh.front[LeftEyeCenter]->GetPosition(), c.left) << c.what;
        EXPECT_EQ(fresh.front[RightEyeCenter]->GetPosition(), c.right) << c.what;
        const bool both = c.left != e1 && c.right != e2;
        EXPECT_EQ(r.report.frontFallback[LeftEyeCenter], c.left == e1) << c.what;
        EXPECT_EQ(r.report.frontFallback[RightEyeCenter], c.right == e2) << c.what;
        // The rim of each opening around its centre: scaled by the measured eye distance and
        // turned by its roll when both eyes were found, by the head width otherwise.
        for (int b : {LeftEyeLeft, LeftEyeRight, LeftEyeTop, LeftEyeBottom, RightEyeLeft, RightEyeRight, RightEyeTop,
                      RightEyeBottom})
            EXPECT_EQ(fresh.front[b]->GetPosition(), both ? EyeBorder(fresh, b) : Border(fresh, b))
                << c.what << " " << fresh.front[b]->name;
    }
}

TEST_F(FrontRecognitionTest, ATurnedFaceTurnsTheBorders)
{
    ASSERT_TRUE(Run());
    const cv::Point e1 = Estimate(points, LeftEyeCenter), e2 = Estimate(points, RightEyeCenter);
    // The right eye 14 pixels lower: a roll of about 5 degrees.
    fake.hits[TCascadeKind::Eyes] = {HitAt(e1 + cv::Point(4, -7)), HitAt(e2 + cv::Point(-4, 7))};
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 440}, 20, 20)};
    THeadAttributes turned;
    ASSERT_TRUE(r.RecognizeFront(&turned));
    const cv::Point d = turned.front[RightEyeCenter]->GetPosition() - turned.front[LeftEyeCenter]->GetPosition();
    ASSERT_EQ(d.y, 14);
    for (int b : {LeftEyeLeft, RightEyeRight, NoseLeft, NoseRight, NoseTop, NoseBottom})
        EXPECT_EQ(turned.front[b]->GetPosition(), EyeBorder(turned, b)) << turned.front[b]->name;
    // The outer corners lie on the eye line's slope, not level with their centres.
    EXPECT_LT(turned.front[LeftEyeLeft]->y, turned.front[LeftEyeCenter]->y);
    EXPECT_GT(turned.front[RightEyeRight]->y, turned.front[RightEyeCenter]->y);
}

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
        // Eyes at (460, 350) and (540, 350), near their estimates: middle 500, eye line 350,
        // distance 80.
        fake.hits[TCascadeKind::Eyes] = {HitAt({460, 350}), HitAt({540, 350})};
    }
};

TEST_F(NoseMouthTest, NoseIsTheCentralHitBelowTheEyes)
{
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 320}, 20, 20), HitAt({500, 330}, 20, 20), HitAt({520, 420}, 20, 20),
                                     HitAt({490, 430}, 20, 20), HitAt({470, 440}, 20, 20)};
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(NoseTip), cv::Point(490, 430));
    EXPECT_FALSE(r.report.frontFallback[NoseTip]);
    for (int b : {NoseLeft, NoseRight, NoseTop, NoseBottom}) {
        EXPECT_EQ(At(b), EyeBorder(points, b)) << points.front[b]->name;
        EXPECT_TRUE(r.report.frontFallback[b]);
    }
}

TEST_F(NoseMouthTest, NoseAboveTheEyeLineIsNeverChosen)
{
    fake.hits[TCascadeKind::Nose] = {HitAt({500, 320}, 20, 20), HitAt({500, 330}, 20, 20)};
    ASSERT_TRUE(Run());
    EXPECT_EQ(At(NoseTip), Estimate(points, NoseTip));
    EXPECT_TRUE(r.report.frontFallback[NoseTip]);
}

TEST_F(NoseMouthTest, MouthHitsCloseToTheNoseOrTheSidesAreNeverChosen)
{
    fake.hits[TCascadeKind::Nose] = {HitAt({490, 430}, 20, 20)};
    ASSERT_TRUE(Run()); // learn the head borders, which do not depend on the hits
    const int xl = At(LeftHead).x, xr = At(RightHead).x, m = (xr - xl) / 5;
    // Twice the lips' junction below the nose, by the width the eyes give.
    const int chinRow = 430 + RoundHalfEven(2 * Generic().proportions.mouthFromNose.dy * 80 / EyeShare());

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
         {HitAt({505, 470}, 60, 30), HitAt({498, 480}, 70, 30), HitAt({499, 450}, 60, 30), HitAt({480, 475}, 60, 30)},
         true, {498, 480}, 463, 533},
        {"as far below the nose as a chin", {HitAt({500, chinRow + 1}, 60, 30)}, false, {}, 0, 0},
        {"just above that", {HitAt({500, chinRow - 1}, 60, 30)}, true, {500, chinRow - 1}, 470, 530},
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
            // (scaled by the width the measured eyes give).
            const TFrontOffset& o = Generic().proportions.mouthFromNose;
            const double w = 80 / EyeShare();
            EXPECT_EQ(M, cv::Point(490 + RoundHalfEven(o.dx * w), 430 + RoundHalfEven(o.dy * w))) << c.what;
            for (int b : {MouthLeft, MouthRight})
                EXPECT_EQ(fresh.front[b]->GetPosition(), EyeBorder(fresh, b)) << c.what;
        }
        EXPECT_EQ(r.report.frontFallback[MouthCenter], !c.found) << c.what;
        // No lip line on plain skin: the corners are never measured here.
        EXPECT_TRUE(r.report.frontFallback[MouthLeft]) << c.what;
        for (int b : {MouthTop, MouthBottom})
            EXPECT_EQ(fresh.front[b]->GetPosition(), EyeBorder(fresh, b)) << c.what;
    }
}

// The nose's lower border hangs between the found tip and the found lips' junction at the generic
// head's share of that drop; without either it keeps its place by the proportions around the tip.
TEST_F(NoseMouthTest, NoseBottomLiesOnTheWayFromTheFoundTipToTheFoundMouth)
{
    const TModelPoint &tip = Generic().front[NoseTip], &base = Generic().front[NoseBottom], &lips = Generic().front[MouthCenter];
    const double share = (tip.z - base.z) / (tip.z - lips.z);
    ASSERT_GT(share, 0.1);
    ASSERT_LT(share, 0.9);
    struct Case {
        const char* what;
        bool nose, mouth;
    };
    const Case cases[] = {{"tip and mouth found", true, true},
                          {"no tip found", false, true},
                          {"no mouth found", true, false}};
    for (const Case& c : cases) {
        // A tip off the middle and a mouth further off, so that the way between them slants.
        fake.hits[TCascadeKind::Nose] = c.nose ? std::vector<cv::Rect>{HitAt({490, 430}, 20, 20)} : std::vector<cv::Rect>{};
        fake.hits[TCascadeKind::Mouth] = c.mouth ? std::vector<cv::Rect>{HitAt({510, 500}, 60, 30)} : std::vector<cv::Rect>{};
        THeadAttributes fresh;
        ASSERT_TRUE(r.RecognizeFront(&fresh));
        ASSERT_EQ(r.report.frontFallback[NoseTip], !c.nose) << c.what;
        ASSERT_EQ(r.report.frontFallback[MouthCenter], !c.mouth) << c.what;
        const cv::Point t = fresh.front[NoseTip]->GetPosition(), m = fresh.front[MouthCenter]->GetPosition();
        const cv::Point expected = c.nose && c.mouth
                                       ? t + cv::Point(RoundHalfEven(share * (m.x - t.x)), RoundHalfEven(share * (m.y - t.y)))
                                       : EyeBorder(fresh, NoseBottom);
        EXPECT_EQ(fresh.front[NoseBottom]->GetPosition(), expected) << c.what;
        // Placed from what was found, not found itself: it stays counted as a proportion's point.
        EXPECT_TRUE(r.report.frontFallback[NoseBottom]) << c.what;
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
    for (auto& [kind, hits] : fake.hits)
        for (cv::Rect& h : hits)
            h += shift;
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
    points.profile[ProfilePoint::NoseRoot]->SetPosition(11, 12);
    ASSERT_TRUE(Run());
    EXPECT_EQ(points.profile[ProfilePoint::NoseRoot]->GetPosition(), cv::Point(11, 12));
    EXPECT_EQ(points.profile[ProfilePoint::HeadCenter]->GetPosition(), cv::Point(0, 0));
}

// The grey-level steps on drawn features: dark irises, a dark lip line, the shadow under a chin.
TEST_F(FrontRecognitionTest, IrisesLipLineAndChinAreMeasuredWhereTheyAreDrawn)
{
    ASSERT_TRUE(Run()); // plain skin: nothing to measure, every step falls back
    for (int i : {LeftEyeCenter, RightEyeCenter, MouthLeft, MouthRight, BottomHead})
        EXPECT_TRUE(r.report.frontFallback[i]) << points.front[i]->name;
    const cv::Point e1 = Estimate(points, LeftEyeCenter) + cv::Point(4, 3);
    const cv::Point e2 = Estimate(points, RightEyeCenter) + cv::Point(-2, 3);
    const cv::Point mouth = At(MouthCenter);
    const int D = e2.x - e1.x;
    const int lipY = mouth.y + 6, chinY = mouth.y + RoundHalfEven(0.8 * D);
    const cv::Scalar dark(40, 40, 60), shadow(70, 90, 140);

    // The first guess of the mouth need not sit on its middle: one corner may lie further from
    // it than half the widest mouth, on a light or a dark skin.
    const int nearSide = RoundHalfEven(0.35 * D), farSide = RoundHalfEven(0.8 * D);
    const cv::Scalar darkSkin(45, 65, 95), darkLips(15, 15, 30);

    struct Case {
        const char* what;
        bool irises, lips, chin, underLip = false, litCurve = false;
        int lipLeft = -40, lipRight = 40; // the drawn corners' columns from the mouth's guess
        bool darkFace = false;
    };
    for (const Case& c :
         {Case{"irises", true, false, false}, Case{"lips", true, true, false}, Case{"all", true, true, true},
          Case{"chin without irises", false, false, true}, Case{"shadow under the lip", true, true, false, true},
          Case{"chin under a darkening curve", true, true, true, false, true},
          Case{"lips right of the guess", true, true, false, false, false, -nearSide, farSide},
          Case{"dark skin, lips left of the guess", false, true, false, false, false, -farSide, nearSide, true}}) {
        cv::Mat photo = HeadPhoto(c.darkFace ? darkSkin : kSkin);
        if (c.irises)
            for (cv::Point e : {e1, e2})
                cv::circle(photo, e, 7, dark, cv::FILLED);
        if (c.lips)
            cv::line(photo, {mouth.x + c.lipLeft, lipY}, {mouth.x + c.lipRight, lipY}, c.darkFace ? darkLips : dark, 3);
        if (c.underLip)
            cv::rectangle(photo, cv::Rect(mouth.x - 40, lipY + 9, 81, 2), shadow, cv::FILLED);
        if (c.chin)
            cv::rectangle(photo, cv::Rect(mouth.x - 70, chinY, 141, 60), shadow, cv::FILLED);
        // The chin's underside turns from the light: the skin darkens slowly over a sixth of the
        // eye distance before the shadow's edge, which is still where the chin ends. A photo's
        // skin spans those tones (here a shaded patch beside the head), so equalising the grey
        // levels would stretch the slow part and leave the edge, whose tones nothing else has, flat.
        if (c.litCurve) {
            const cv::Scalar under(80, 100, 160);
            auto curve = [&](double t) { return (1 - 0.3 * t) * kSkin + 0.3 * t * under; };
            for (int y = chinY - D / 6; y < chinY; ++y)
                cv::line(photo, {mouth.x - 70, y}, {mouth.x + 70, y}, curve((y - (chinY - D / 6)) / (D / 6.0)));
            for (int x = 0; x < 150; ++x)
                cv::line(photo, {20 + x, 20}, {20 + x, 420}, curve(x / 149.0));
            cv::rectangle(photo, cv::Rect(mouth.x - 70, chinY, 141, 60), under, cv::FILLED);
        }
        r.frontImage = photo;
        THeadAttributes a;
        ASSERT_TRUE(r.RecognizeFront(&a)) << c.what;
        auto P = [&](int i) { return a.front[i]->GetPosition(); };
        const auto& fell = r.report.frontFallback;
        EXPECT_EQ(!fell[LeftEyeCenter] && !fell[RightEyeCenter], c.irises) << c.what;
        if (c.irises) {
            EXPECT_LE(cv::norm(P(LeftEyeCenter) - e1), 1.5) << c.what;
            EXPECT_LE(cv::norm(P(RightEyeCenter) - e2), 1.5) << c.what;
        }
        EXPECT_EQ(!fell[MouthLeft] && !fell[MouthRight], c.lips) << c.what;
        if (c.lips) {
            EXPECT_NEAR(P(MouthLeft).x, mouth.x + c.lipLeft, 2) << c.what;
            EXPECT_NEAR(P(MouthRight).x, mouth.x + c.lipRight, 2) << c.what;
            EXPECT_NEAR(P(MouthCenter).x, mouth.x + (c.lipLeft + c.lipRight) / 2, 2) << c.what;
            EXPECT_NEAR(P(MouthCenter).y, lipY, 1) << c.what;
            EXPECT_NEAR(P(MouthLeft).y, lipY, 1) << c.what;
            // A thin line is all the lips: the upper one ends where its darkness does; the
            // lower one ends above the shadow under it, and without one it is not measured.
            EXPECT_FALSE(fell[MouthTop]) << c.what;
            EXPECT_LT(P(MouthTop).y, lipY) << c.what;
            EXPECT_GE(P(MouthTop).y, lipY - 4) << c.what;
            EXPECT_EQ(!fell[MouthBottom], c.underLip) << c.what;
            if (c.underLip) {
                EXPECT_NEAR(P(MouthBottom).y, lipY + 8, 2) << c.what;
            }
        }
        EXPECT_EQ(!fell[BottomHead], c.chin) << c.what;
        if (c.chin) {
            EXPECT_NEAR(P(BottomHead).y, chinY, 2) << c.what;
            // The crown hangs from the chin: at the eyes' share above it when the eyes were
            // measured, at the height the outline's width gives otherwise.
            const double eyeY = (P(LeftEyeCenter).y + P(RightEyeCenter).y) / 2.0;
            const double eyeShare = (eyeY - P(TopHead).y) / (P(BottomHead).y - P(TopHead).y);
            if (c.irises)
                EXPECT_NEAR(eyeShare, (Estimate(points, LeftEyeCenter).y - points.front[TopHead]->y) /
                                          double(points.front[BottomHead]->y - points.front[TopHead]->y),
                            0.01)
                    << c.what;
            else
                EXPECT_EQ(P(BottomHead).y - P(TopHead).y,
                          RoundHalfEven(Generic().proportions.heightPerWidth * (P(RightHead).x - P(LeftHead).x)))
                    << c.what;
        }
    }
}

// Closed lips as a render or a photo shows them: a dark upper lip, a lighter lower one, and between
// them a darker gap that a few light teeth break. The gap's row is the lips' junction, not the
// upper lip, which is darker than the gap's mean once the photo's grey levels are equalised.
TEST_F(FrontRecognitionTest, TheLipsJunctionIsTheGapBetweenTheLipsNotTheDarkUpperLip)
{
    ASSERT_TRUE(Run());
    const cv::Point mouth = At(MouthCenter);
    const cv::Scalar upperLip(55, 55, 110), lowerLip(80, 85, 150), gap(20, 20, 30), tooth(200, 205, 210);
    for (const int lipY : {mouth.y + 6, mouth.y - 5}) {
        cv::Mat photo = HeadPhoto();
        cv::ellipse(photo, {mouth.x, lipY}, cv::Size(42, 9), 0, 180, 360, upperLip, cv::FILLED);
        cv::ellipse(photo, {mouth.x, lipY}, cv::Size(42, 10), 0, 0, 180, lowerLip, cv::FILLED);
        cv::line(photo, {mouth.x - 42, lipY}, {mouth.x + 42, lipY}, gap, 3);
        for (int x = mouth.x - 34; x <= mouth.x + 34; x += 12)
            cv::rectangle(photo, cv::Rect(x, lipY - 1, 2, 3), tooth, cv::FILLED);
        r.frontImage = photo;
        THeadAttributes a;
        ASSERT_TRUE(r.RecognizeFront(&a)) << lipY;
        EXPECT_FALSE(r.report.frontFallback[MouthCenter]) << lipY;
        EXPECT_NEAR(a.front[MouthCenter]->y, lipY, 1) << lipY;
        EXPECT_NEAR(a.front[MouthLeft]->y, lipY, 2) << lipY;
        EXPECT_NEAR(a.front[MouthRight]->y, lipY, 2) << lipY;
    }
}

// A cheek in shadow beside one corner, darker than the skin over the mouth's middle: the line
// still ends where it ends without the shadow and does not run on into it.
TEST_F(FrontRecognitionTest, TheLipLineEndsAtTheCornerBesideACheekInShadow)
{
    ASSERT_TRUE(Run());
    const cv::Point mouth = At(MouthCenter);
    const cv::Scalar lip(60, 60, 120), gap(20, 20, 30);
    auto corners = [&](int shadowSide, cv::Point2d& left, cv::Point2d& right) {
        cv::Mat photo = HeadPhoto();
        if (shadowSide != 0) {
            const int corner = mouth.x + shadowSide * 40;
            cv::rectangle(photo, shadowSide < 0 ? cv::Rect(corner - 70, mouth.y - 40, 70, 80) : cv::Rect(corner + 1, mouth.y - 40, 70, 80),
                          kSkin * 0.4, cv::FILLED);
        }
        cv::ellipse(photo, mouth, cv::Size(40, 10), 0, 0, 360, lip, cv::FILLED);
        cv::line(photo, {mouth.x - 40, mouth.y}, {mouth.x + 40, mouth.y}, gap, 3);
        r.frontImage = photo;
        THeadAttributes a;
        if (!r.RecognizeFront(&a) || r.report.frontFallback[MouthCenter])
            return false;
        left = a.front[MouthLeft]->GetPosition();
        right = a.front[MouthRight]->GetPosition();
        return true;
    };
    cv::Point2d left, right;
    ASSERT_TRUE(corners(0, left, right));
    EXPECT_NEAR(right.x - left.x, 80, 12);
    for (const int side : {-1, +1}) {
        cv::Point2d l, rr;
        ASSERT_TRUE(corners(side, l, rr)) << side;
        // A few pixels of the shadow blur into the corner; running on would take it 0.7 eye distances out.
        EXPECT_NEAR(l.x, left.x, 6) << side;
        EXPECT_NEAR(rr.x, right.x, 6) << side;
    }
}

// Eyes the first guess misses by more than a lid's height: an iris between the whites of its eye,
// a brow's width below the guess, is still found, and a brow as far above it, dark along its whole
// length, is never taken for an eye.
TEST_F(FrontRecognitionTest, AnIrisBetweenItsWhitesIsFoundFarFromTheGuessABrowNever)
{
    ASSERT_TRUE(Run());
    const cv::Point g1 = Estimate(points, LeftEyeCenter), g2 = Estimate(points, RightEyeCenter);
    const int D = g2.x - g1.x;
    const cv::Scalar white(225, 225, 225), iris(40, 40, 60), brow(50, 50, 70);
    struct Case {
        const char* what;
        bool eyes, brows;
    };
    for (const Case& c : {Case{"eyes below the guess, brows above it", true, true}, Case{"eyes alone", true, false},
                          Case{"brows alone", false, true}}) {
        cv::Mat photo = HeadPhoto();
        const cv::Point down(0, RoundHalfEven(0.22 * D)), shift(2, 0);
        for (cv::Point g : {g1, g2}) {
            if (c.eyes) {
                cv::ellipse(photo, g + down, cv::Size(RoundHalfEven(0.22 * D), RoundHalfEven(0.07 * D)), 0, 0, 360, white, cv::FILLED);
                cv::circle(photo, g + down + shift, RoundHalfEven(0.07 * D), iris, cv::FILLED);
            }
            if (c.brows)
                cv::rectangle(photo, cv::Rect(g.x - RoundHalfEven(0.3 * D), g.y - RoundHalfEven(0.25 * D), RoundHalfEven(0.6 * D),
                                              RoundHalfEven(0.06 * D)),
                              brow, cv::FILLED);
        }
        r.frontImage = photo;
        THeadAttributes a;
        ASSERT_TRUE(r.RecognizeFront(&a)) << c.what;
        const auto& fell = r.report.frontFallback;
        EXPECT_EQ(!fell[LeftEyeCenter] && !fell[RightEyeCenter], c.eyes) << c.what;
        if (c.eyes) {
            EXPECT_LE(cv::norm(a.front[LeftEyeCenter]->GetPosition() - (g1 + down + shift)), 1.5) << c.what;
            EXPECT_LE(cv::norm(a.front[RightEyeCenter]->GetPosition() - (g2 + down + shift)), 1.5) << c.what;
        } else {
            EXPECT_EQ(a.front[LeftEyeCenter]->GetPosition(), g1) << c.what;
            EXPECT_EQ(a.front[RightEyeCenter]->GetPosition(), g2) << c.what;
        }
    }
}
}
