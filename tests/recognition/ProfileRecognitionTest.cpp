// Profile-photo recognition: facing decision, flipping and the placement rules on painted silhouettes.
#include <bitset>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/base/Paths.h"
#include "recognition/Generichead.h"
#include "tests/recognition/RecognitionFixture.h"

using namespace testdata;
using namespace ProfilePoint;

namespace {
constexpr int kW = 900, kH = 1000;
// The drawn head's photo has room behind and above it for the back and the top of the generic head
// laid over it.
constexpr int kHeadW = 1100, kHeadH = 1100;

// A head looking toward smaller x: forehead, nose root, nose, lips, chin, jaw, neck, back of head.
cv::Mat LeftFacingHead()
{
    cv::Mat photo = Plain(kHeadW, kHeadH);
    const std::vector<cv::Point> outline = {{400, 210}, {300, 250}, {300, 480}, {320, 500}, {240, 600},
                                            {310, 630}, {300, 680}, {310, 760}, {360, 820}, {560, 840},
                                            {560, kHeadH - 1}, {720, kHeadH - 1}, {760, 500}, {600, 220}};
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{outline}, kSkin);
    return photo;
}

// Dark hair painted over the top and the back of the left-facing head: the skin then ends at the
// hair, not at the background.
const cv::Scalar kHair(40, 40, 40);
cv::Mat LeftFacingHeadWithHair()
{
    cv::Mat photo = LeftFacingHead();
    const std::vector<cv::Point> hair = {{290, 170}, {620, 190}, {790, 520}, {700, 640}, {560, 330}, {290, 300}};
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{hair}, kHair);
    return photo;
}

// The generic head's own profile points in its side view (model units, x toward the back, y down).
std::map<int, cv::Point2d> GenericProfileView()
{
    const TGenericHead head = ReadGenericHead(ProgramFolder() + kGenericHeadPath);
    std::map<int, cv::Point2d> out;
    for (size_t i = 0; i < head.profile.size(); ++i)
        out[int(i)] = {head.profile[i].y, -head.profile[i].z};
    return out;
}

cv::Mat Flipped(const cv::Mat& photo)
{
    cv::Mat out;
    cv::flip(photo, out, 1);
    return out;
}

std::vector<cv::Point> ProfilePositions(const THeadAttributes& a)
{
    std::vector<cv::Point> out;
    for (THPoint* p : a.profile)
        out.push_back(p->GetPosition());
    return out;
}

class ProfileRecognitionTest : public ::testing::Test {
protected:
    TRecognizer r;
    THeadAttributes points;
    ScopedMessageCapture messages;

    void SetUp() override
    {
        ASSERT_TRUE(r.SkinTableUsable());
        ASSERT_TRUE(r.profileFaceCascade);
    }
    cv::Point At(int i) const { return points.profile[i]->GetPosition(); }
    void ExpectInside()
    {
        for (THPoint* p : points.profile)
            EXPECT_TRUE(Inside(p, r.profileImage)) << p->name << " at " << p->x << "," << p->y;
    }
    // The points a fresh set gets from the left-facing head.
    std::vector<cv::Point> LeftFacingResult()
    {
        TRecognizer other;
        THeadAttributes a;
        other.profileImage = LeftFacingHead();
        EXPECT_TRUE(other.RecognizeProfile(&a, false));
        return ProfilePositions(a);
    }
    void ExpectDefaults(bool mirrored, int w, int h)
    {
        THeadAttributes d;
        d.SetDefaultProfilePositions(w, h, false);
        for (int i = 0; i < Count; ++i) {
            const cv::Point p = d.profile[i]->GetPosition();
            EXPECT_EQ(At(i), mirrored ? cv::Point(w - p.x, p.y) : p) << i;
        }
    }
};

TEST_F(ProfileRecognitionTest, LeftFacingHeadGetsItsFeatures)
{
    const cv::Mat photo = LeftFacingHead();
    r.profileImage = photo.clone();
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    EXPECT_EQ(points.profileOrientation, 0);
    EXPECT_EQ(cv::norm(photo, r.profileImage, cv::NORM_INF), 0.0) << "a left-facing photo is not flipped";
    ExpectInside();
    // Tip of the nose: the leftmost face-line point, at the apex (240, 600).
    EXPECT_GE(At(NoseTip).x, 240);
    EXPECT_LE(At(NoseTip).x, 252);
    EXPECT_NEAR(At(NoseTip).y, 600, 12);
    // Nose root: the top of the rising run above the tip, at the notch (320, 500).
    EXPECT_NEAR(At(NoseRoot).y, 500, 12);
    EXPECT_NEAR(At(NoseRoot).x, 318, 6);
    // Chin: the big step to the right below it (jaw line from 820 to 840).
    EXPECT_GE(At(BottomHead).y, 800);
    EXPECT_LE(At(BottomHead).y, 845);
    // The order of the features down the face and across the head.
    EXPECT_LT(At(TopHead).y, At(EyeCenter).y);
    EXPECT_LT(At(EyeCenter).y, At(NoseTip).y);
    EXPECT_LT(At(NoseTip).y, At(MouthCenter).y);
    EXPECT_LT(At(MouthCenter).y, At(BottomHead).y);
    EXPECT_LT(At(LeftHead).x, At(EyeCenter).x);
    EXPECT_LT(At(EyeCenter).x, At(EarCenter).x);
    EXPECT_LT(At(EarCenter).x, At(RightHead).x);
    EXPECT_LT(At(EarLeft).x, At(EarCenter).x);
    EXPECT_GT(At(EarRight).x, At(EarCenter).x);
    EXPECT_LT(At(EarTop).y, At(EarCenter).y);
    EXPECT_GT(At(EarBottom).y, At(EarCenter).y);
    // The head borders mean what the generic head's own points mean: the tip of the nose, the chin.
    EXPECT_EQ(At(LeftHead), At(NoseTip));
    EXPECT_LT(At(BottomHead).x, At(HeadCenter).x);
    // The bald head's skin meets the background at the back and on top: the silhouette shows the
    // back of the skull (furthest back above the nose root, on the edge to (760, 500)) and the crown
    // (the apex at (400, 210)).
    EXPECT_NEAR(At(RightHead).x, 760, 3);
    EXPECT_NEAR(At(TopHead).y, 210, 2);
    EXPECT_NEAR(At(TopHead).x, 400, 4);
    // The head's centre is the middle of its box.
    EXPECT_EQ(At(HeadCenter), cv::Point((At(LeftHead).x + At(RightHead).x) / 2, (At(TopHead).y + At(BottomHead).y) / 2));
    // What the silhouette does not show sits where the generic head has it, scaled by the nose
    // root's height over the chin: the eye and the ear.
    const std::map<int, cv::Point2d> g = GenericProfileView();
    ASSERT_EQ(g.size(), size_t(Count));
    const double k = double(At(BottomHead).y - At(NoseRoot).y) / (g.at(BottomHead).y - g.at(NoseRoot).y);
    auto expectOffset = [&](int index, int from) {
        const cv::Point2d expected = (g.at(index) - g.at(from)) * k;
        EXPECT_NEAR(At(index).x - At(from).x, expected.x, 1.0) << points.profile[index]->name;
        EXPECT_NEAR(At(index).y - At(from).y, expected.y, 1.0) << points.profile[index]->name;
    };
    expectOffset(EyeCenter, NoseRoot);
    for (int ear : {EarCenter, EarLeft, EarRight, EarTop, EarBottom})
        expectOffset(ear, NoseRoot);
    // The report: measured are the face line's points, the skull's borders and so the centre; the
    // eye and the ear come from the proportions, and so does the mouth (one lip, no notch).
    std::bitset<Count> expected;
    for (int i : {EyeCenter, MouthCenter, EarCenter, EarLeft, EarRight, EarTop, EarBottom})
        expected.set(size_t(i));
    EXPECT_EQ(r.report.profileFallback, expected);
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(ProfileRecognitionTest, HairOverTheSkullLeavesItsBordersToTheGenericHead)
{
    r.profileImage = LeftFacingHeadWithHair();
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    ExpectInside();
    // The skin ends at the hair: the back and the top of the skull are placed from the generic head
    // laid over the face (scaled by the nose root's height over the chin), and counted as such.
    const std::map<int, cv::Point2d> g = GenericProfileView();
    const double k = double(At(BottomHead).y - At(NoseRoot).y) / (g.at(BottomHead).y - g.at(NoseRoot).y);
    const cv::Point2d back = (g.at(RightHead) - g.at(NoseTip)) * k, top = (g.at(TopHead) - g.at(NoseRoot)) * k;
    EXPECT_NEAR(At(RightHead).x - At(NoseTip).x, back.x, 1.0);
    EXPECT_NEAR(At(RightHead).y - At(NoseTip).y, back.y, 1.0);
    EXPECT_NEAR(At(TopHead).x - At(NoseRoot).x, top.x, 1.0);
    EXPECT_NEAR(At(TopHead).y - At(NoseRoot).y, top.y, 1.0);
    for (int i : {RightHead, TopHead, HeadCenter})
        EXPECT_TRUE(r.report.profileFallback[size_t(i)]) << points.profile[i]->name;
    EXPECT_FALSE(r.report.profileFallback[BottomHead]);
    EXPECT_EQ(At(HeadCenter), cv::Point((At(LeftHead).x + At(RightHead).x) / 2, (At(TopHead).y + At(BottomHead).y) / 2));
}

// A face line drawn row by row: nose tip, lips and chin with known rows. The face is a polygon
// whose left edge passes these points; the head behind it is plain skin.
cv::Mat FaceWithLips(const std::vector<cv::Point>& face)
{
    cv::Mat photo = Plain(kHeadW, kHeadH);
    std::vector<cv::Point> outline = {{400, 110}, {300, 150}, {300, 380}};
    outline.insert(outline.end(), face.begin(), face.end());
    for (const cv::Point& q : std::vector<cv::Point>{{560, 840}, {560, kHeadH - 1}, {720, kHeadH - 1}, {760, 400}, {600, 120}})
        outline.push_back(q);
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{outline}, kSkin);
    return photo;
}

TEST_F(ProfileRecognitionTest, FaceLineFeaturesArePlacedToTheRow)
{
    // A nose whose tip is upright from row 590 to 610, under a root that stays at its depth from
    // row 392 to 400; below the nose the upper lip comes forward to x = 290, the lips meet in a
    // notch at row 700 (x = 330), the lower lip comes forward to x = 300, then the chin, and the
    // line turns into the throat at row 800.
    const std::vector<cv::Point> face = {{320, 392}, {320, 400}, {240, 590}, {240, 610}, {300, 640}, {290, 670},
                                         {330, 700}, {300, 720}, {300, 730}, {320, 750}, {305, 780}, {305, 795},
                                         {318, 800}, {420, 820}};
    r.profileImage = FaceWithLips(face);
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    // The sampled line hits the tip's run once; the point is its middle row.
    EXPECT_EQ(At(NoseTip).x, 240);
    EXPECT_NEAR(At(NoseTip).y, 600, 1);
    EXPECT_NEAR(At(NoseRoot).y, 396, 3);
    EXPECT_EQ(At(NoseRoot).x, 320);
    // The mouth at the notch's row, as far forward as both lips reach (the lower lip's 300).
    EXPECT_NEAR(At(MouthCenter).y, 700, 1);
    EXPECT_NEAR(At(MouthCenter).x, 300, 1);
    EXPECT_FALSE(r.report.profileFallback[MouthCenter]);
    // The chin where the line starts receding 1.5 pixels a row or more: at the corner (305, 795)
    // and no further up than the corner's reach.
    EXPECT_GE(At(BottomHead).y, 792);
    EXPECT_LE(At(BottomHead).y, 800);
}

TEST_F(ProfileRecognitionTest, MouthWithoutANotchNearTheGenericHeadsIsPlacedByProportion)
{
    // Lips far below where the generic head has its mouth (the notch at row 790, just over the
    // chin) are not taken for the mouth; nor is a face line with no notch at all.
    const std::vector<std::vector<cv::Point>> faces = {
        {{320, 400}, {240, 600}, {300, 640}, {300, 760}, {290, 775}, {330, 790}, {300, 800}, {300, 810}, {420, 830}},
        {{320, 400}, {240, 600}, {300, 640}, {300, 800}, {420, 830}},
    };
    for (const std::vector<cv::Point>& face : faces) {
        r.profileImage = FaceWithLips(face);
        THeadAttributes a;
        ASSERT_TRUE(r.RecognizeProfile(&a, false));
        EXPECT_TRUE(r.report.profileFallback[MouthCenter]);
        const THPoint* const* q = a.profile;
        const int depth = q[RightHead]->x - q[LeftHead]->x, height = q[BottomHead]->y - q[TopHead]->y;
        // By the skin box (the crown measured on it may lie a ray's step higher).
        EXPECT_NEAR(q[MouthCenter]->y, q[BottomHead]->y - r.generic->profileMouthAboveChin * height, height * 0.01 + 1);
        EXPECT_NEAR(q[MouthCenter]->x, q[LeftHead]->x + r.generic->profileMouthBehindTip * depth, depth * 0.05 + 1);
    }
}

TEST_F(ProfileRecognitionTest, RightFacingHeadIsFlippedAndItsPointsMirrored)
{
    const std::vector<cv::Point> left = LeftFacingResult();
    r.profileImage = Flipped(LeftFacingHead());
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    EXPECT_EQ(points.profileOrientation, 1);
    EXPECT_EQ(cv::norm(LeftFacingHead(), r.profileImage, cv::NORM_INF), 0.0) << "stored in the left-facing form";
    for (int i = 0; i < Count; ++i)
        EXPECT_EQ(At(i), cv::Point(kHeadW - left[size_t(i)].x, left[size_t(i)].y)) << points.profile[i]->name;
    // The points now match the photo as loaded: the tip lies on the right, near x = 1100 - 240.
    EXPECT_GT(At(NoseTip).x, At(HeadCenter).x);
}

TEST_F(ProfileRecognitionTest, KeepingTheOrientationSkipsTheFacingDecision)
{
    const std::vector<cv::Point> left = LeftFacingResult();
    r.profileImage = LeftFacingHead(); // the stored form; the user said the photo was mirrored
    points.profileOrientation = 1;
    ASSERT_TRUE(r.RecognizeProfile(&points, true));
    EXPECT_EQ(points.profileOrientation, 1);
    EXPECT_EQ(cv::norm(LeftFacingHead(), r.profileImage, cv::NORM_INF), 0.0) << "not flipped again";
    for (int i = 0; i < Count; ++i)
        EXPECT_EQ(At(i), cv::Point(kHeadW - left[size_t(i)].x, left[size_t(i)].y)) << i;

    // Keeping the flag 0 on a right-facing photo does not flip it either.
    THeadAttributes other;
    r.profileImage = Flipped(LeftFacingHead());
    ASSERT_TRUE(r.RecognizeProfile(&other, true));
    EXPECT_EQ(other.profileOrientation, 0);
    EXPECT_EQ(cv::norm(Flipped(LeftFacingHead()), r.profileImage, cv::NORM_INF), 0.0);
}

TEST_F(ProfileRecognitionTest, OrientationDetectionFlipsOnlyOnEvidence)
{
    struct Case {
        const char* what;
        cv::Mat photo;
        int startFlag;
        int endFlag;
        bool flipped;
    };
    const std::vector<Case> cases = {
        {"left-facing", LeftFacingHead(), 0, 0, false},
        {"left-facing, points were mirrored", LeftFacingHead(), 1, 0, false},
        {"right-facing", Flipped(LeftFacingHead()), 0, 1, true},
        {"no skin at all keeps the flag", Plain(kW, kH, cv::Scalar(128, 128, 128)), 1, 1, false},
        {"no skin at all keeps the flag 0", Plain(kW, kH), 0, 0, false},
        {"skin everywhere: no outline inside the photo", Plain(kW, kH, kSkin), 1, 1, false},
    };
    for (const Case& c : cases) {
        THeadAttributes a;
        a.SetDefaultProfilePositions(c.photo.cols, c.photo.rows, false);
        a.profileOrientation = c.startFlag;
        const std::vector<cv::Point> before = ProfilePositions(a);
        r.profileImage = c.photo.clone();
        r.DetectProfileOrientation(&a);
        EXPECT_EQ(a.profileOrientation, c.endFlag) << c.what;
        const cv::Mat expected = c.flipped ? Flipped(c.photo) : c.photo;
        EXPECT_EQ(cv::norm(expected, r.profileImage, cv::NORM_INF), 0.0) << c.what;
        const bool mirrored = c.startFlag != c.endFlag;
        for (int i = 0; i < Count; ++i)
            EXPECT_EQ(a.profile[i]->GetPosition(),
                      mirrored ? cv::Point(c.photo.cols - before[size_t(i)].x, before[size_t(i)].y) : before[size_t(i)])
                << c.what << " " << i;
    }
    EXPECT_TRUE(messages.Texts().empty());
}

// Drawn heads that look toward smaller x, each tried as drawn and mirrored.
TEST_F(ProfileRecognitionTest, FacingIsFoundOnHeadsOfEveryShape)
{
    struct Case {
        const char* what;
        std::vector<std::vector<cv::Point>> shapes;
        int tipX; // where the tip of the nose is drawn
    };
    const std::vector<cv::Point> head = {{400, 110}, {300, 150}, {300, 380}, {320, 400}, {240, 500},
                                         {310, 530}, {300, 580}, {310, 660}, {360, 720}, {560, 740},
                                         {560, 999}, {720, 999}, {760, 400}, {600, 120}};
    // Skin only where hair does not cover it: forehead, face, the skin behind the ear, the neck.
    const std::vector<cv::Point> underHair = {{330, 260}, {300, 380}, {320, 400}, {240, 500}, {310, 530},
                                              {300, 580}, {310, 660}, {360, 720}, {560, 740}, {560, 999},
                                              {700, 999}, {640, 560}, {560, 470}, {520, 300}};
    // The outline of a rendered bald head, its nose drawn 60 pixels longer and its neck cut short.
    // Rays that run far along a nose outweigh the broad back of the head: the sum over the outline
    // points to the back.
    const std::vector<cv::Point> longNose = {
        {371, 101}, {332, 137}, {300, 202}, {295, 232}, {308, 234}, {326, 250}, {297, 245}, {295, 287}, {191, 342},
        {195, 354}, {280, 366}, {274, 387}, {290, 399}, {283, 416}, {299, 433}, {303, 463}, {322, 477}, {389, 482},
        {406, 489}, {421, 512}, {427, 520}, {520, 520}, {631, 520}, {611, 454}, {609, 401}, {614, 377}, {662, 303},
        {671, 274}, {676, 207}, {667, 171}, {654, 148}, {604, 99},  {544, 77},  {488, 72},  {439, 76}};
    const std::vector<Case> cases = {
        {"bald head on a neck", {head}, 240},
        {"bare shoulder", {head, {{560, 860}, {890, 860}, {890, 960}, {560, 960}}}, 240},
        {"hair over the skull", {underHair}, 240},
        {"long nose, short neck", {longNose}, 191},
    };
    for (const Case& c : cases) {
        cv::Mat photo = Plain(kW, kH);
        cv::fillPoly(photo, c.shapes, kSkin);
        for (bool mirrored : {false, true}) {
            const std::string what = std::string(c.what) + (mirrored ? ", mirrored" : "");
            THeadAttributes a;
            r.profileImage = mirrored ? Flipped(photo) : photo.clone();
            ASSERT_TRUE(r.RecognizeProfile(&a, false)) << what;
            EXPECT_EQ(a.profileOrientation, mirrored ? 1 : 0) << what;
            EXPECT_EQ(cv::norm(photo, r.profileImage, cv::NORM_INF), 0.0) << what << ": stored left-facing";
            // The tip of the nose is at the drawn apex, in the photo as loaded.
            const cv::Point tip = a.profile[NoseTip]->GetPosition();
            EXPECT_GE(mirrored ? kW - tip.x : tip.x, c.tipX) << what;
            EXPECT_LE(mirrored ? kW - tip.x : tip.x, c.tipX + 12) << what;
        }
    }
}

TEST_F(ProfileRecognitionTest, FaceShellsAndContradictingCues)
{
    // A face shell: a scan of the face alone, much less deep than tall, its lowest part the chin
    // at the front. Its nose decides, the chin is no neck; a profile-face cascade that sees the
    // face the other way contradicts it.
    const std::vector<cv::Point> shell = {{420, 150}, {380, 200}, {370, 380}, {300, 470}, {370, 520},
                                          {375, 600}, {340, 720}, {360, 790}, {470, 790}, {560, 680}, {600, 150}};
    struct Case {
        const char* what;
        int vote; // the cascade's hits on the photo as loaded minus those on its mirror
        bool decided;
    };
    cv::Mat photo = Plain(kW, kH);
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{shell}, kSkin);
    for (const Case& c : {Case{"face shell", 0, true}, Case{"the cascade agrees", 1, true},
                          Case{"the cascade disagrees", -1, false}}) {
        for (bool mirrored : {false, true}) {
            const std::string what = std::string(c.what) + (mirrored ? ", mirrored" : "");
            const cv::Mat loaded = mirrored ? Flipped(photo) : photo.clone();
            int asked = 0;
            r.detector = [&](TCascadeKind, const cv::Mat&, const TDetectParams&) {
                // Toward smaller x in the left-facing form: the mirror of a mirrored photo.
                const bool onLoaded = asked++ % 2 == 0;
                const int towardSmallerX = c.vote * (mirrored ? -1 : 1);
                const bool hit = onLoaded ? towardSmallerX > 0 : towardSmallerX < 0;
                return std::vector<cv::Rect>(hit ? 1 : 0, cv::Rect(10, 10, 50, 50));
            };
            for (bool alone : {false, true}) { // the facing alone, and within the recognition
                THeadAttributes a;
                messages.Clear();
                r.profileImage = loaded.clone();
                if (alone)
                    r.DetectProfileOrientation(&a);
                else
                    r.RecognizeProfile(&a, false);
                EXPECT_EQ(r.report.facingUndecided, !c.decided) << what;
                if (c.decided) {
                    EXPECT_EQ(a.profileOrientation, mirrored ? 1 : 0) << what;
                    EXPECT_EQ(cv::norm(photo, r.profileImage, cv::NORM_INF), 0.0) << what << ": stored left-facing";
                    EXPECT_TRUE(messages.Texts().empty()) << what;
                } else {
                    // Kept as loaded, and the user is told so.
                    EXPECT_GT(asked, 0) << what;
                    EXPECT_EQ(a.profileOrientation, 0) << what;
                    EXPECT_EQ(cv::norm(loaded, r.profileImage, cv::NORM_INF), 0.0) << what;
                    ASSERT_EQ(messages.Texts().size(), 1u) << what;
                    EXPECT_NE(messages.Texts()[0].find("facing could not be decided"), std::string::npos) << what;
                }
            }
        }
    }
}

TEST_F(ProfileRecognitionTest, ProfileFaceCascadeBreaksATie)
{
    // An upright ellipse on a neck under its middle: the neck does not tell the facing. A dark
    // square on the photo's left tells the detector's calls on the photo from those on its mirror.
    cv::Mat tie = Plain(kW, kH);
    cv::ellipse(tie, {450, 450}, {200, 300}, 0, 0, 360, kSkin, cv::FILLED);
    cv::rectangle(tie, cv::Rect(370, 700, 160, 299), kSkin, cv::FILLED);
    cv::Mat head = LeftFacingHead();
    for (cv::Mat* m : {&tie, &head})
        cv::rectangle(*m, cv::Rect(20, 20, 60, 60), cv::Scalar(0, 0, 0), cv::FILLED);
    struct Case {
        const char* what;
        const cv::Mat& photo;
        int hitsAsIs, hitsMirrored;
        int startFlag, endFlag;
    };
    const std::vector<Case> cases = {
        {"faces in the photo", tie, 2, 0, 1, 0},
        {"faces in its mirror image", tie, 1, 3, 0, 1},
        // The neck decides where it lies clearly behind the centroid; the cascade is not asked.
        {"a neck under the back of the head", head, 0, 3, 1, 0},
    };
    for (const Case& c : cases) {
        int calls = 0;
        r.detector = [&](TCascadeKind kind, const cv::Mat& grey, const TDetectParams&) {
            EXPECT_EQ(kind, TCascadeKind::ProfileFace);
            ++calls;
            // (the search may see a shrunk copy)
            const int at = grey.cols / 20;
            const bool asIs = grey.at<std::uint8_t>(at, at) < grey.at<std::uint8_t>(at, grey.cols - at);
            return std::vector<cv::Rect>(size_t(asIs ? c.hitsAsIs : c.hitsMirrored), cv::Rect(300, 300, 200, 200));
        };
        THeadAttributes a;
        a.profileOrientation = c.startFlag;
        r.profileImage = c.photo.clone();
        r.DetectProfileOrientation(&a);
        EXPECT_EQ(a.profileOrientation, c.endFlag) << c.what;
        EXPECT_EQ(calls, &c.photo == &tie ? 2 : 0) << c.what;
        const bool flipped = c.startFlag == 0 && c.endFlag == 1;
        EXPECT_EQ(cv::norm(flipped ? Flipped(c.photo) : c.photo, r.profileImage, cv::NORM_INF), 0.0) << c.what;
    }
}

TEST_F(ProfileRecognitionTest, PhotoWithoutAnOutlineIsRefusedWithoutAMessage)
{
    struct Case {
        const char* what;
        cv::Mat photo;
    };
    for (const Case& c : {Case{"no skin", Plain(kW, kH, cv::Scalar(128, 128, 128))},
                          Case{"all skin", Plain(kW, kH, kSkin)}}) {
        for (bool keep : {false, true}) {
            THeadAttributes a;
            a.profileOrientation = keep ? 1 : 0;
            r.profileImage = c.photo.clone();
            EXPECT_FALSE(r.RecognizeProfile(&a, keep)) << c.what;
            EXPECT_EQ(a.profileOrientation, keep ? 1 : 0) << c.what;
            EXPECT_EQ(cv::norm(c.photo, r.profileImage, cv::NORM_INF), 0.0) << c.what;
            points.profileOrientation = a.profileOrientation;
            for (int i = 0; i < Count; ++i)
                points.profile[i]->CopyPosition(a.profile[i]);
            ExpectDefaults(keep, kW, kH);
        }
    }
    EXPECT_TRUE(messages.Texts().empty());
}

TEST_F(ProfileRecognitionTest, StraightFaceLineKeepsTheBoxBottomAndPutsTheNoseOnTop)
{
    cv::Mat photo = Plain(kW, kH);
    cv::rectangle(photo, cv::Rect(300, 200, 400, 600), kSkin, cv::FILLED);
    r.profileImage = photo;
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    ExpectInside();
    // Every face-line point has x = 300: the upper one wins the tie, and the root is the tip.
    EXPECT_EQ(At(NoseTip).x, 300);
    EXPECT_LT(At(NoseTip).y, 200 + 20);
    EXPECT_EQ(At(NoseRoot), At(NoseTip));
    // No step to the right below the centroid: the bottom border stays on the head box.
    // The rays end within one step (5 pixels) past the last skin row, 799.
    EXPECT_GE(At(BottomHead).y, 800);
    EXPECT_LE(At(BottomHead).y, 805);
    // The bottom border is the box's middle; the crown, measured on the flat top, the top's middle.
    EXPECT_NEAR(At(BottomHead).x, At(TopHead).x, 3);
}

TEST_F(ProfileRecognitionTest, ChinIsTheLowestOfEqualStepsToTheRight)
{
    // The face line steps 40 pixels to the right at y = 620 and again at y = 720, both below the
    // centroid. Walking up from the bottom, the first of the equal steps (the lower one) wins.
    cv::Mat photo = Plain(kW, kH);
    const std::vector<cv::Point> outline = {{300, 200}, {700, 200}, {700, 800}, {380, 800},
                                            {380, 720}, {340, 720}, {340, 620}, {300, 620}};
    cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{outline}, kSkin);
    r.profileImage = photo;
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    EXPECT_GE(At(BottomHead).y, 705);
    EXPECT_LT(At(BottomHead).y, 720);
}

TEST_F(ProfileRecognitionTest, NeitherMouthNorLipsAreTakenForTheChin)
{
    // Nose tip at (240, 500) under a notch at (320, 400); the chin's step into the throat lies near
    // y = 725 in each.
    struct Case {
        const char* what;
        std::vector<cv::Point> outline;
    };
    const std::vector<Case> cases = {
        // The open mouth steps 85 pixels back at y = 575, more than the chin's step (70 pixels over
        // the jaw's underside at y = 720), but the lower lip comes forward again.
        {"open mouth",
         {{400, 110}, {300, 150}, {300, 380}, {320, 400}, {240, 500}, {300, 540}, {300, 570}, {385, 575}, {385, 615},
          {305, 620}, {305, 660}, {320, 720}, {390, 730}, {390, 999}, {720, 999}, {760, 400}, {600, 120}}},
        // Full lips over a receding chin: the face steps 80 pixels back under the lips and stays
        // back, more than the chin's 60-pixel step, but the lips lie within a nose's height of the tip.
        {"lips over a receding chin",
         {{400, 110}, {300, 150}, {300, 380}, {320, 400}, {240, 500}, {300, 540}, {300, 555}, {380, 560}, {380, 700},
          {390, 720}, {450, 730}, {450, 999}, {720, 999}, {760, 400}, {600, 120}}},
    };
    for (const Case& c : cases) {
        cv::Mat photo = Plain(kW, kH);
        cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{c.outline}, kSkin);
        r.profileImage = photo;
        THeadAttributes fresh;
        ASSERT_TRUE(r.RecognizeProfile(&fresh, false)) << c.what;
        EXPECT_GE(fresh.profile[BottomHead]->y, 700) << c.what;
        EXPECT_LE(fresh.profile[BottomHead]->y, 740) << c.what;
    }
}

TEST_F(ProfileRecognitionTest, NoseRootStopsWhereTheFaceLineStopsReceding)
{
    // Nose tip at (240, 500) and a notch at (320, 400) in each; the foreheads differ above it.
    struct Case {
        const char* what;
        std::vector<cv::Point> forehead; // from the notch up to the crown at y = 110
        int rootYLow, rootYHigh;         // the nose root's row lies in [low, high]
    };
    constexpr int kAtTheBrow = -1;  // low: a few rows above the brow's height
    const std::vector<Case> cases = {
        // The brow comes forward above the notch: the root is the notch.
        {"brow", {{300, 380}, {300, 150}}, 388, 412},
        // The line stands upright above the notch, then recedes to the crown: the root is where it
        // stopped receding, not the crown.
        {"upright forehead", {{320, 300}, {330, 250}, {400, 150}}, 388, 412},
        // The forehead keeps receding from the notch to the crown: the root stops at the brow's
        // height above the tip (the generic head's share of the crown-to-chin height).
        {"sloping forehead", {{470, 130}}, kAtTheBrow, 412},
    };
    for (const Case& c : cases) {
        std::vector<cv::Point> outline = {{320, 400}, {240, 500}, {310, 530}, {300, 580}, {310, 660}, {360, 720},
                                          {560, 740}, {560, 999}, {720, 999}, {760, 400}, {600, 120}, {480, 110}};
        outline.insert(outline.end(), c.forehead.rbegin(), c.forehead.rend());
        cv::Mat photo = Plain(kW, kH);
        cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{outline}, kSkin);
        THeadAttributes a;
        r.profileImage = photo;
        ASSERT_TRUE(r.RecognizeProfile(&a, false)) << c.what;
        const cv::Point tip = a.profile[NoseTip]->GetPosition(), root = a.profile[NoseRoot]->GetPosition();
        EXPECT_NEAR(tip.y, 500, 12) << c.what;
        const int height = a.profile[BottomHead]->y - a.profile[TopHead]->y;
        const int low = c.rootYLow != kAtTheBrow ? c.rootYLow : RoundHalfEven(tip.y - r.generic->browOverTip * height) - 5;
        EXPECT_GE(root.y, low) << c.what;
        EXPECT_LE(root.y, c.rootYHigh) << c.what;
        EXPECT_GE(root.x, 300) << c.what << ": at least as deep as the notch's bridge";
    }
}

TEST_F(ProfileRecognitionTest, PreconditionsAndShrinking)
{
    EXPECT_FALSE(r.RecognizeProfile(&points, false));
    r.DetectProfileOrientation(&points);
    EXPECT_EQ(messages.Texts(), std::vector<std::string>(2, "Please load profile image before recognition"));
    messages.Clear();

    r.profileImage = Plain(1950, 2600);
    r.profileFaceCascade.reset();
    EXPECT_FALSE(r.RecognizeProfile(&points, false));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"ProfileHead Haar cascade is not loaded"});
    EXPECT_EQ(r.profileImage.size(), cv::Size(1950, 2600));
    EXPECT_EQ(points.profile[ProfilePoint::HeadCenter]->GetPosition(), cv::Point(0, 0));

    TRecognizer fresh;
    fresh.profileImage = Plain(1950, 2600);
    cv::rectangle(fresh.profileImage, cv::Rect(600, 800, 800, 1000), kSkin, cv::FILLED);
    EXPECT_TRUE(fresh.RecognizeProfile(&points, false));
    EXPECT_EQ(fresh.profileImage.size(), cv::Size(975, 1300));
    for (THPoint* p : points.profile)
        EXPECT_TRUE(Inside(p, fresh.profileImage)) << p->name;
}

TEST_F(ProfileRecognitionTest, FrontPointsAreNotTouched)
{
    points.front[FrontPoint::LeftEyeBottom]->SetPosition(3, 4);
    r.profileImage = LeftFacingHead();
    ASSERT_TRUE(r.RecognizeProfile(&points, false));
    EXPECT_EQ(points.front[FrontPoint::LeftEyeBottom]->GetPosition(), cv::Point(3, 4));
    EXPECT_EQ(points.front[FrontPoint::HeadCenter]->GetPosition(), cv::Point(0, 0));
}
}
