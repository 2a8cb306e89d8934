// The texture builder: pixel operations, patch blending, normal map, atlas measures and fill,
// texture-coordinate fitting, the patch groups and the whole build on real photos.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "collada/Geometry.h"
#include "core/Texturecreator.h"
#include "core/Weightmanager.h"
#include "platform/base/Messages.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "testing/TestHelpers.h"

namespace {
// The generic head whose layout references the worked atlas is laid out for.
const TGenericHead kGeneric = TestGenericHead();

using TC = TTextureCreator;

cv::Mat Uniform(int w, int h, uint8_t b, uint8_t g, uint8_t r) { return cv::Mat(h, w, CV_8UC3, cv::Scalar(b, g, r)); }

cv::Vec3b At(const cv::Mat& m, int x, int y) { return m.at<cv::Vec3b>(y, x); }

// An image whose pixel (x, y) tells where it came from: (x mod 256, y mod 256, tag).
cv::Mat Coded(int w, int h, uint8_t tag)
{
    cv::Mat m(h, w, CV_8UC3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            m.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(x % 256), static_cast<uint8_t>(y % 256), tag);
    return m;
}

// ---------------------------------------------------------------------------------------------
// Pixel and arithmetic operations

struct BlendCase {
    uint8_t a, b;
    float t;
    uint8_t expected;
};
void PrintTo(const BlendCase& c, std::ostream* os)
{
    *os << int(c.a) << " and " << int(c.b) << " at " << c.t;
}

class BlendPixelTest : public ::testing::TestWithParam<BlendCase> {};

TEST_P(BlendPixelTest, RoundsHalvesToEvenAndKeepsLow8Bits)
{
    const BlendCase& c = GetParam();
    const cv::Mat a = Uniform(2, 2, c.a, c.a, c.a), b = Uniform(2, 2, c.b, c.b, c.b);
    cv::Mat target = Uniform(2, 2, 7, 7, 7);
    TC::BlendPixel(a, b, target, c.t, 0, 0, 1, 1, 1, 0);
    EXPECT_EQ(At(target, 1, 0), cv::Vec3b(c.expected, c.expected, c.expected));
    EXPECT_EQ(At(target, 0, 0), cv::Vec3b(7, 7, 7));  // only the target pixel
}

INSTANTIATE_TEST_SUITE_P(Table, BlendPixelTest,
                         ::testing::Values(BlendCase{100, 101, 0.5f, 100},  // 100.5 -> 100
                                           BlendCase{100, 103, 0.5f, 102},  // 101.5 -> 102
                                           BlendCase{0, 255, 0.0f, 0}, BlendCase{0, 255, 1.0f, 255},
                                           BlendCase{10, 20, 0.25f, 12},    // 12.5 -> 12
                                           BlendCase{100, 200, 2.0f, 44}),
                         [](const auto& param) { return "Case" + std::to_string(param.index); });  // 300 -> low 8 bits 44

TEST(PixelOps, CopyAndBlendIgnorePositionsOutsideTheirImages)
{
    const cv::Mat source = Uniform(4, 3, 200, 201, 202);
    const int bad[][6] = {{-1, 0, 0, 0}, {4, 0, 0, 0}, {0, -1, 0, 0}, {0, 3, 0, 0},
                          {0, 0, -1, 0}, {0, 0, 5, 0}, {0, 0, 0, -1}, {0, 0, 0, 5}};
    for (const auto& p : bad) {
        cv::Mat target = Uniform(5, 5, 1, 2, 3);
        const cv::Mat before = target.clone();
        TC::CopyPixel(source, target, p[0], p[1], p[2], p[3]);
        TC::BlendPixel(source, source, target, 0.5f, p[0], p[1], 0, 0, p[2], p[3]);
        TC::BlendPixel(source, source, target, 0.5f, 0, 0, p[0], p[1], p[2], p[3]);
        EXPECT_EQ(cv::norm(target, before, cv::NORM_INF), 0.0) << p[0] << " " << p[1] << " " << p[2] << " " << p[3];
    }
    cv::Mat target = Uniform(5, 5, 1, 2, 3);
    TC::CopyPixel(source, target, 3, 2, 4, 4);
    EXPECT_EQ(At(target, 4, 4), cv::Vec3b(200, 201, 202));
}

TEST(PixelOps, GetAndSetAddressChannelsOfOnePixel)
{
    cv::Mat m = Uniform(3, 2, 0, 0, 0);
    TC::SetPixel(m, 2, 1, 77, 1);
    EXPECT_EQ(At(m, 2, 1), cv::Vec3b(0, 77, 0));
    EXPECT_EQ(TC::GetPixel(m, 2, 1, 1), 77);
    EXPECT_EQ(TC::GetPixel(m, 1, 1, 1), 0);
}

TEST(ArithmeticOps, MinMaxClampLerpDistanceAbs)
{
    // Min returns its second argument on a tie, Max likewise: visible with signed zeros.
    EXPECT_TRUE(std::signbit(TC::Min(0.0f, -0.0f)));
    EXPECT_FALSE(std::signbit(TC::Min(-0.0f, 0.0f)));
    EXPECT_FALSE(std::signbit(TC::Max(-0.0f, 0.0f)));
    EXPECT_TRUE(std::signbit(TC::Max(0.0f, -0.0f)));
    EXPECT_EQ(TC::Min(1, 2), 1);
    EXPECT_EQ(TC::Max(1, 2), 2);
    EXPECT_EQ(TC::Clamp(1.5f, 0, 1), 1.0f);
    EXPECT_EQ(TC::Clamp(0.0f, 0.01f, 1), 0.01f);
    EXPECT_EQ(TC::Clamp(0.5f, 0, 1), 0.5f);
    EXPECT_FLOAT_EQ(TC::Lerp(2, 6, 0.25f), 3.0f);
    EXPECT_EQ(TC::Lerp(0.1f, 0.2f, 0.09f), 0.109000005f);  // in double, rounded once (std::lerp: 0.108999997)
    EXPECT_FLOAT_EQ(TC::Distance(1, 1, 4, 5), 5.0f);
    EXPECT_EQ(TC::Abs(-3), 3);
    EXPECT_EQ(TC::Abs(3), 3);
}

TEST(ArithmeticOps, FalloffOfTheLocalWarps)
{
    const struct {
        float d, expected;
    } table[] = {{0.0f, 1.0f}, {0.0449f, 1.0f}, {0.045f, 1.0f}, {0.0675f, 0.5f}, {0.08f, 0.2222222f},
                 {0.0899f, 0.0022222f}, {0.09f, 0.0f}, {0.5f, 0.0f}};
    for (const auto& row : table)
        EXPECT_NEAR(TC::Falloff(row.d), row.expected, 1e-5) << row.d;
}

// ---------------------------------------------------------------------------------------------
// Patches

TEST(BlendPatch, OpaqueCoreHalfwayAtEightNothingAtTheRim)
{
    TTextureCreator creator;
    const cv::Mat source = Uniform(40, 40, 200, 200, 200);
    cv::Mat target = Uniform(40, 40, 100, 100, 100);
    creator.BlendPatch(source, target, 20, 20, 20, 20, 10, 0.6f);
    const struct {
        int x, y;
        uint8_t expected;
    } table[] = {{20, 20, 200}, {26, 20, 200}, {20, 14, 200}, {28, 20, 150}, {12, 20, 150},
                 {10, 20, 100}, {20, 10, 100}, {11, 11, 100}, {30, 20, 100}, {29, 29, 100}};
    for (const auto& row : table)
        EXPECT_EQ(At(target, row.x, row.y)[0], row.expected) << row.x << "," << row.y;
    // Between 6 and 10 the weight falls off linearly: distance 7 gives 0.75.
    EXPECT_EQ(At(target, 27, 20)[0], 175);
}

TEST(BlendPatch, TargetPartlyOutsideWritesOnlyTheInside)
{
    TTextureCreator creator;
    const cv::Mat source = Uniform(40, 40, 250, 250, 250);
    cv::Mat target = Uniform(12, 12, 0, 0, 0);
    creator.BlendPatch(source, target, 20, 20, 2, 2, 10, 0.5f);
    EXPECT_EQ(At(target, 2, 2)[0], 250);
    EXPECT_EQ(At(target, 0, 0)[0], 250);  // distance 2.8 < 5
    EXPECT_EQ(At(target, 11, 11)[0], 0);  // distance 12.7 > 10
}

TEST(BlendPatch, SameImageReadsOnlyPixelsFromBeforeTheCall)
{
    TTextureCreator creator;
    cv::Mat image = Coded(60, 40, 9);
    const cv::Mat before = image.clone();
    // Squares overlap: source around (20, 20), target around (25, 20); hardness near 1 copies the core.
    creator.BlendPatch(image, image, 20, 20, 25, 20, 8, 0.99f);
    for (int y = 14; y <= 26; ++y)
        for (int x = 14; x <= 26; ++x) {
            if (TC::Distance(20, 20, static_cast<float>(x), static_cast<float>(y)) > 7.5f)
                continue;
            ASSERT_EQ(At(image, x + 5, y), At(before, x, y)) << x << "," << y;
        }
}

TEST(BlendPatch, DegenerateRadiusAndHardnessWriteNoGarbage)
{
    TTextureCreator creator;
    const cv::Mat source = Uniform(20, 20, 90, 90, 90);
    cv::Mat target = Uniform(20, 20, 10, 10, 10);
    creator.BlendPatch(source, target, 10, 10, 10, 10, 0, 0.5f);
    creator.BlendPatch(source, target, 10, 10, 10, 10, -3, 0.5f);
    EXPECT_EQ(cv::norm(target, Uniform(20, 20, 10, 10, 10), cv::NORM_INF), 0.0);
    // Hardness 1: a hard disc, no division by zero.
    creator.BlendPatch(source, target, 10, 10, 10, 10, 5, 1.0f);
    EXPECT_EQ(At(target, 10, 10)[0], 90);
    EXPECT_EQ(At(target, 13, 13)[0], 90);  // distance 4.2
    EXPECT_EQ(At(target, 5, 10)[0], 10);   // distance 5: the rim stays
}

TEST(BlendPatch, SquareMostlyOffTheImageKeepsItsFade)
{
    // Radius 100 around (-60, 20): only the fading rim reaches the 40 x 40 image.
    TTextureCreator creator;
    const cv::Mat source = Uniform(40, 40, 200, 200, 200);
    cv::Mat target = Uniform(40, 40, 100, 100, 100);
    creator.BlendPatch(source, target, -60, 20, -60, 20, 100, 0.5f);
    const struct {
        int x, y;
        uint8_t expected;
    } table[] = {{0, 20, 180},    // distance 60: w = 0.4 / 0.5
                 {20, 20, 140},   // distance 80: w = 0.4
                 {39, 20, 102}};  // distance 99: w = 0.02
    for (const auto& row : table)
        EXPECT_EQ(At(target, row.x, row.y)[0], row.expected) << row.x << "," << row.y;
}

TEST(BlendPatch, RadiusFarBeyondTheImageCopiesItsOpaqueCore)
{
    TTextureCreator creator;
    const cv::Mat source = Coded(40, 30, 4);
    cv::Mat target = Uniform(40, 30, 0, 0, 0);
    creator.BlendPatch(source, target, 20, 15, 20, 15, 3000, 0.09f);  // opaque within 270
    EXPECT_EQ(cv::norm(target, source, cv::NORM_INF), 0.0);
}

// ---------------------------------------------------------------------------------------------
// Normal map

TEST(NormalMap, UniformImageIsFlatExceptLastRowAndColumn)
{
    TTextureCreator creator;
    const cv::Mat image = Uniform(5, 4, 30, 60, 90);
    const cv::Mat map = creator.CreateNormalMap(image);
    ASSERT_EQ(map.size(), image.size());
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const cv::Vec3b expected = (x == 4 || y == 3) ? cv::Vec3b(30, 60, 90) : cv::Vec3b(255, 127, 127);
            EXPECT_EQ(At(map, x, y), expected) << x << "," << y;
        }
}

TEST(NormalMap, GreySteps)
{
    TTextureCreator creator;
    // Grey 100 everywhere but column 1 (right step) or row 1 (down step) at 200.
    cv::Mat right = Uniform(3, 3, 100, 100, 100), down = right.clone();
    right.col(1).setTo(cv::Scalar(200, 200, 200));
    down.row(1).setTo(cv::Scalar(200, 200, 200));
    EXPECT_EQ(At(creator.CreateNormalMap(right), 0, 0), cv::Vec3b(218, 127, 36));  // n = (-0.7071, 0, 0.7071)
    EXPECT_EQ(At(creator.CreateNormalMap(down), 0, 0), cv::Vec3b(218, 36, 127));   // n = (0, -0.7071, 0.7071)
    // A step down to the right: p = -1 gives n.x = +0.7071.
    cv::Mat fall = Uniform(3, 3, 200, 200, 200);
    fall.col(1).setTo(cv::Scalar(100, 100, 100));
    EXPECT_EQ(At(creator.CreateNormalMap(fall), 0, 0), cv::Vec3b(218, 127, 218));
}

TEST(NormalMap, ChannelsStayInTheirRanges)
{
    TTextureCreator creator;
    cv::Mat noise(64, 64, CV_8UC3);
    cv::randu(noise, 0, 256);
    const cv::Mat map = creator.CreateNormalMap(noise);
    for (int y = 0; y < 63; ++y)
        for (int x = 0; x < 63; ++x) {
            const cv::Vec3b p = At(map, x, y);
            ASSERT_GE(p[0], 161);
            ASSERT_GE(p[1], 8);
            ASSERT_LE(p[1], 246);
            ASSERT_GE(p[2], 8);
            ASSERT_LE(p[2], 246);
        }
}

// ---------------------------------------------------------------------------------------------
// Atlas measures and fill

TEST(AtlasMeasures, WorkedExample)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    EXPECT_TRUE(a.valid) << a.problem;
    EXPECT_EQ(a.W, 300);
    EXPECT_EQ(a.H, 400);
    EXPECT_EQ(a.E, 200);
    EXPECT_EQ(a.P, 250);
    EXPECT_EQ(a.O, 27);
    EXPECT_EQ(a.M, 60);
    EXPECT_EQ(a.S, 30);
    EXPECT_EQ(a.Q, 223);
    EXPECT_EQ(a.Wa, 766);
    EXPECT_EQ(a.Ha, 520);
}

TEST(AtlasMeasures, RoundsHalvesToEven)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    points.front[FrontPoint::LeftHead]->x = 350;
    points.front[FrontPoint::RightHead]->x = 400;  // W = 50: O = rounded(4.5) = 4, S = 5
    points.front[FrontPoint::TopHead]->y = 100;
    points.front[FrontPoint::BottomHead]->y = 130;  // H = 30: M = rounded(4.5) = 4
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    EXPECT_EQ(a.O, 4);
    EXPECT_EQ(a.S, 5);
    EXPECT_EQ(a.M, 4);
    points.front[FrontPoint::RightHead]->x = 375;  // W = 25: S = rounded(2.5) = 2
    EXPECT_EQ(TC::MeasureAtlas(&points).S, 2);
}

TEST(AtlasMeasures, ImpossibleSetsAreRefused)
{
    struct Case {
        const char* what;
        void (*change)(THeadAttributes&);
    };
    const Case cases[] = {
        {"face height 0", [](THeadAttributes& p) { p.front[FrontPoint::BottomHead]->y = p.front[FrontPoint::TopHead]->y; }},
        {"eye span 0", [](THeadAttributes& p) { p.front[FrontPoint::RightEyeRight]->x = p.front[FrontPoint::LeftEyeLeft]->x; }},
        {"Q < 0", [](THeadAttributes& p) { p.profile[ProfilePoint::RightHead]->x = p.profile[ProfilePoint::EyeCenter]->x + 5; }},
        {"atlas too large", [](THeadAttributes& p) { p.profile[ProfilePoint::RightHead]->x = 200000; }},
    };
    for (const Case& c : cases) {
        THeadAttributes points;
        SetWorkedAtlasPoints(points);
        c.change(points);
        const TAtlasLayout a = TC::MeasureAtlas(&points);
        EXPECT_FALSE(a.valid) << c.what;
        EXPECT_FALSE(a.problem.empty()) << c.what;
    }
}

TEST(AtlasFill, EveryColumnRangeTakesItsSource)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Mat front = Coded(1000, 700, 1), profile = Coded(900, 700, 2);
    const cv::Mat atlas = TC::FillAtlas(front, profile, &points, a);
    ASSERT_EQ(atlas.cols, 766);
    ASSERT_EQ(atlas.rows, 520);
    const int M = 60, Q = 223, E = 200, S = 30, O = 27, e = Q + M + E;
    const int f2x = 400, f8x = 600, f24y = 100, p11x = 550, p1x = 300, p12y = 100;
    auto code = [](int x, int y, int tag) { return cv::Vec3b(static_cast<uint8_t>(x % 256), static_cast<uint8_t>(y % 256), static_cast<uint8_t>(tag)); };
    // Every pixel of the copied ranges, on every row: the mirrored profile up to Q + M - S, the
    // front between the seams, the unmirrored profile from e + S on.
    int wrong = 0;
    for (int row = 0; row < a.Ha; ++row) {
        for (int x = 0; x <= Q + M - S; ++x)
            wrong += At(atlas, x, row) != code(p11x + M - x, row + p12y - M, 2);
        for (int x = Q + M; x < e; ++x)
            wrong += At(atlas, x, row) != code(x + f2x - M - Q, row + f24y - M, 1);
        for (int x = e + S; x < a.Wa; ++x)
            wrong += At(atlas, x, row) != code(x + p1x + O - e, row + p12y - M, 2);
    }
    EXPECT_EQ(wrong, 0);
    const int y = 77;
    // Left seam: t = 1/S at its first column; right seam: t = 0 at its first column.
    {
        const int x = Q + M - S + 1;
        const float t = 1.0f / S;
        const cv::Vec3b pa = code(p11x + M - x, y + p12y - M, 2), pb = code(x + f2x - M - Q, y + f24y - M, 1);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(At(atlas, x, y)[c], static_cast<uint8_t>(std::nearbyint(pa[c] * (1.0 - double(t)) + pb[c] * double(t)))) << c;
    }
    EXPECT_EQ(At(atlas, e, y), code(e + f8x - E - M - Q, y + f24y - M, 1));
}

TEST(AtlasFill, PixelsWithoutASourceAreBlack)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    // Photos too small for the layout: most of the atlas has no source.
    const cv::Mat front = Uniform(420, 150, 50, 60, 70), profile = Uniform(300, 150, 80, 90, 100);
    const cv::Mat atlas = TC::FillAtlas(front, profile, &points, a);
    EXPECT_EQ(At(atlas, 300, 400), cv::Vec3b(0, 0, 0));   // front rows end at 150
    EXPECT_EQ(At(atlas, 765, 10), cv::Vec3b(0, 0, 0));    // profile columns end at 300
    EXPECT_EQ(At(atlas, 300, 10), cv::Vec3b(50, 60, 70));
    // Every pixel of the copied ranges: its photo's colour exactly where its source lies inside
    // that photo, black elsewhere.
    const int M = 60, Q = 223, S = 30, O = 27, e = Q + M + 200;
    const int f2x = 400, f24y = 100, p11x = 550, p1x = 300, p12y = 100;
    auto expected = [](const cv::Mat& photo, int sx, int sy, cv::Vec3b colour) {
        return sx >= 0 && sy >= 0 && sx < photo.cols && sy < photo.rows ? colour : cv::Vec3b(0, 0, 0);
    };
    int wrong = 0, black = 0;
    for (int y = 0; y < a.Ha; ++y)
        for (int x = 0; x < a.Wa; ++x) {
            cv::Vec3b want;
            if (x <= Q + M - S)
                want = expected(profile, p11x + M - x, y + p12y - M, {80, 90, 100});
            else if (x >= Q + M && x < e)
                want = expected(front, x + f2x - M - Q, y + f24y - M, {50, 60, 70});
            else if (x >= e + S)
                want = expected(profile, x + p1x + O - e, y + p12y - M, {80, 90, 100});
            else
                continue;
            wrong += At(atlas, x, y) != want;
            black += want == cv::Vec3b(0, 0, 0);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(black, 0);
}

// ---------------------------------------------------------------------------------------------
// Seams

// A skin-coloured photo, lit from the left, with a fine texture so that its colours have a spread.
cv::Mat Skin(int w, int h, cv::Vec3d bgr)
{
    cv::Mat m(h, w, CV_8UC3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double light = 1.0 - 0.15 * x / w + 0.02 * (((x * 7 + y * 13) % 11) - 5);
            for (int c = 0; c < 3; ++c)
                m.at<cv::Vec3b>(y, x)[c] = cv::saturate_cast<uint8_t>(bgr[c] * light);
        }
    return m;
}

cv::Vec3d MeanLab(const cv::Mat& atlas, cv::Rect area)
{
    cv::Mat lab;
    atlas(area).convertTo(lab, CV_32F, 1.0 / 255.0);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    const cv::Scalar m = cv::mean(lab);
    return {m[0], m[1], m[2]};
}

// The colour step (CIE Lab distance) across each seam: the front part's first columns against
// the profile's just beyond the cross-fade `fade`, over the rows from the eyes to the mouth.
std::array<double, 2> SeamSteps(const cv::Mat& atlas, const TAtlasLayout& a, int fade)
{
    const int strip = 10, top = 270 - 100 + a.M, height = 150;
    const int left = a.Q + a.M, right = a.Q + a.M + a.E;
    return {cv::norm(MeanLab(atlas, {left, top, strip, height}) - MeanLab(atlas, {left - fade - strip, top, strip, height})),
            cv::norm(MeanLab(atlas, {right - strip, top, strip, height}) - MeanLab(atlas, {right + fade, top, strip, height}))};
}

TEST(AtlasSeams, TheProfileTakesTheFrontsColourAtTheSeamAndKeepsItsOwnAtTheBack)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Mat front = Skin(1000, 700, {120, 150, 205}), profile = Skin(900, 700, {95, 115, 150});
    const int fade = 45;  // 0.15 head widths of 300
    cv::Mat plain = TC::FillAtlas(front, profile, &points, a);
    const std::array<double, 2> before = SeamSteps(plain, a, fade);
    cv::Mat matched = plain.clone();
    TC::BlendSeams(matched, front, profile, &points, a, true);
    const std::array<double, 2> after = SeamSteps(matched, a, fade);
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side == 0 ? "left seam" : "right seam");
        EXPECT_GT(before[side], 10.0) << "the photos differ: the plain fill shows a step";
        EXPECT_LT(after[side], 2.0);
    }
    // At the back of the head the profile keeps its own colours.
    for (int x : {0, 3, a.Wa - 4, a.Wa - 1})
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(At(matched, x, 250)[c], At(plain, x, 250)[c], 2) << x;
}

TEST(AtlasSeams, TheFrontsDarkeningFaceSideDoesNotDarkenTheProfile)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const int fade = 45;
    // Both photos of one exposure; beyond each eye's outer corner (x 400 and 600) the front sees
    // the face's side ever more obliquely: darker as it turns away, to 40 % at the fade's end.
    cv::Mat front = Skin(1000, 700, {120, 150, 205});
    const cv::Mat profile = Skin(900, 700, {120, 150, 205});
    for (int y = 0; y < front.rows; ++y)
        for (int x = 0; x < front.cols; ++x) {
            const int beyond = std::max(400 - x, x - 599);
            if (beyond > 0)
                front.at<cv::Vec3b>(y, x) *= std::max(0.4, 1.0 - 0.6 * beyond * beyond / (fade * fade));
        }
    const cv::Mat plain = TC::FillAtlas(front, profile, &points, a);
    cv::Mat atlas = plain.clone();
    TC::BlendSeams(atlas, front, profile, &points, a, true);
    // The profile beyond the fade goes on from the front's colour at the eye corner, as it did
    // before the blend: the front's darker side is its angle, not its exposure.
    const std::array<double, 2> before = SeamSteps(plain, a, fade), after = SeamSteps(atlas, a, fade);
    for (int side = 0; side < 2; ++side) {
        SCOPED_TRACE(side == 0 ? "left seam" : "right seam");
        EXPECT_LT(before[side], 2.5) << "the fixture's photos differ in exposure";
        EXPECT_LT(after[side], 2.5);
    }
}

TEST(AtlasSeams, TheMatchedProfileKeepsItsOwnShading)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const int fade = 45;
    // The front's rows beside the seam differ much (bands, as eye corner, cheek and shadows do);
    // the profile is brighter at the top than at the bottom, and of another exposure.
    cv::Mat front = Skin(1000, 700, {120, 150, 205});
    for (int y = 0; y < front.rows; ++y)
        if (y / 10 % 2)
            front.row(y) *= 0.7;
    cv::Mat profile = Skin(900, 700, {95, 115, 150});
    for (int y = 0; y < profile.rows; ++y)
        profile.row(y) *= 1.0 - 0.5 * y / profile.rows;
    const cv::Mat plain = TC::FillAtlas(front, profile, &points, a);
    cv::Mat atlas = plain.clone();
    TC::BlendSeams(atlas, front, profile, &points, a, true);
    // Just beyond each fade, the profile's light from row 200 to row 350 falls as much as before.
    auto fall = [](const cv::Mat& image, int x) {
        return MeanLab(image, {x, 200, 10, 10})[0] - MeanLab(image, {x, 350, 10, 10})[0];
    };
    for (int x : {a.Q + a.M - fade - 15, a.Q + a.M + a.E + fade + 5}) {
        EXPECT_GT(fall(plain, x), 3.0) << "the fixture's profile has no shading";
        EXPECT_NEAR(fall(atlas, x), fall(plain, x), 0.15 * fall(plain, x)) << "at column " << x;
        EXPECT_GT(cv::norm(MeanLab(atlas, {x, 270, 10, 10}) - MeanLab(plain, {x, 270, 10, 10})), 5.0)
            << "the profile was not matched at column " << x;
    }
}

TEST(AtlasSeams, TheCrossFadeRunsFromTheEyeCornerOutwardsOverItsWholeWidth)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Mat front = Coded(1000, 700, 1), profile = Coded(900, 700, 2);
    cv::Mat atlas = TC::FillAtlas(front, profile, &points, a);
    TC::BlendSeams(atlas, front, profile, &points, a, false);
    const int M = 60, Q = 223, E = 200, O = 27, e = Q + M + E, fade = 45;
    const int f2x = 400, f8x = 600, f24y = 100, p11x = 550, p1x = 300, p12y = 100, y = 77;
    auto code = [](int x, int yy, int tag) { return cv::Vec3d(x % 256, yy % 256, tag); };
    auto expectBlend = [&](int x, cv::Vec3d profilePixel, cv::Vec3d frontPixel, double frontShare) {
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(At(atlas, x, y)[c], profilePixel[c] + frontShare * (frontPixel[c] - profilePixel[c]), 0.51)
                << "column " << x << " channel " << c;
    };
    for (int k : {0, 20, fade - 1}) {
        const double share = std::pow((fade - k - 0.5) / fade, 1.5);
        // Left: the mirrored profile against the front photo left of the left eye's outer corner.
        const int xl = Q + M - 1 - k;
        expectBlend(xl, code(p11x + M - xl, y + p12y - M, 2), code(xl + f2x - M - Q, y + f24y - M, 1), share);
        // Right: the front right of the right eye's outer corner against the profile.
        const int xr = e + k;
        expectBlend(xr, code(xr + p1x + O - e, y + p12y - M, 2), code(xr + f8x - E - M - Q, y + f24y - M, 1), share);
    }
    // Beyond the fade the profile alone, the front part untouched.
    EXPECT_EQ(At(atlas, Q + M - fade - 1, y), cv::Vec3b(static_cast<uint8_t>((p11x + M - (Q + M - fade - 1)) % 256), y + p12y - M, 2));
    EXPECT_EQ(At(atlas, Q + M, y), cv::Vec3b(static_cast<uint8_t>(f2x % 256), y + f24y - M, 1));
}

TEST(AtlasSeams, PastTheFrontsFaceTheProfileTakesOver)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const int left = a.Q + a.M, y = 200;  // atlas row 200: photo row 240 of both; the fade is 45 wide
    // The front's face ends 20 columns beyond the left eye's outer corner (x 400): a blue backdrop.
    cv::Mat front = Skin(1000, 700, {120, 150, 205});
    front(cv::Rect(0, 0, 380, 700)).setTo(cv::Scalar(200, 90, 40));
    const cv::Mat profile = Skin(900, 700, {95, 115, 150});
    cv::Mat faceSkin(700, 1000, CV_8U, cv::Scalar(0)), profileSkin(700, 900, CV_8U, cv::Scalar(255));
    faceSkin(cv::Rect(380, 0, 620, 700)).setTo(255);
    const cv::Mat plain = TC::FillAtlas(front, profile, &points, a);
    auto blended = [&](const cv::Mat& frontSkin, bool match) {
        cv::Mat atlas = plain.clone();
        TC::BlendSeams(atlas, front, profile, &points, a, match, frontSkin, profileSkin);
        return atlas;
    };
    auto distance = [](cv::Vec3b p, cv::Vec3b q) { return cv::norm(cv::Vec3d(p) - cv::Vec3d(q)); };
    // Past the face (k = 19 on) the profile alone, right from the face's outline (its column k
    // of the fade is the profile's 327 + 1 + k); near the seam (k = 5) the front's share as ever.
    const cv::Mat masked = blended(faceSkin, false), unmasked = blended(cv::Mat(), false);
    for (int k : {20, 22, 35})
        EXPECT_LT(distance(At(masked, left - 1 - k, y), At(profile, 328 + k, y + 40)), 1.5) << "backdrop in the fade at " << k;
    EXPECT_GT(distance(At(unmasked, left - 1 - 22, y), At(profile, 328 + 22, y + 40)), 20) << "the fixture shows no fault";
    EXPECT_LT(distance(At(masked, left - 1 - 5, y), At(unmasked, left - 1 - 5, y)), 1.5);
    // A front that shows no skin beside the seam (its points dragged off the face) lends the
    // profile no colour: it keeps its own.
    const cv::Mat none(700, 1000, CV_8U, cv::Scalar(0));
    cv::Mat offFace = plain.clone();
    TC::BlendSeams(offFace, front, profile, &points, a, true, none, profileSkin);
    for (int k : {50, 100})
        EXPECT_LT(distance(At(offFace, left - 1 - k, y), At(plain, left - 1 - k, y)), 1.5) << k;
}

TEST(AtlasSeams, HairBesideTheFaceThatTheMaskTakesForSkinLendsTheProfileNoColour)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const int fade = 45;
    // Brown hair falls beside the face up to the left eye's outer corner (x 400); the skin table
    // takes it for skin, as it does in a painting.
    cv::Mat front = Skin(1000, 700, {120, 150, 205});
    front(cv::Rect(300, 0, 100, 700)).setTo(cv::Scalar(40, 55, 80));
    const cv::Mat profile = Skin(900, 700, {95, 115, 150});
    const cv::Mat frontSkin(700, 1000, CV_8U, cv::Scalar(255)), profileSkin(700, 900, CV_8U, cv::Scalar(255));
    cv::Mat atlas = TC::FillAtlas(front, profile, &points, a);
    TC::BlendSeams(atlas, front, profile, &points, a, true, frontSkin, profileSkin);
    const cv::Vec3d hair = MeanLab(front, {300, 270, 100, 150}), face = MeanLab(front, {400, 270, 45, 150});
    EXPECT_GT(cv::norm(hair - face), 20) << "the fixture's hair is of the skin's colour";
    // Beyond the fade the profile has the face's colour, not the hair's.
    EXPECT_LT(SeamSteps(atlas, a, fade)[0], 3.0);
    EXPECT_LT(SeamSteps(atlas, a, fade)[1], 2.0) << "the right seam has no hair";
}

// ---------------------------------------------------------------------------------------------
// Hair and chin-band sources

// An atlas of the worked layout: profile parts in `side`, the front part (x 283..482) in `skin`.
cv::Mat WorkedAtlas(const TAtlasLayout& a, cv::Scalar side, cv::Scalar skin)
{
    cv::Mat atlas(a.Ha, a.Wa, CV_8UC3, side);
    atlas(cv::Rect(a.Q + a.M, 0, a.E, a.Ha)).setTo(skin);
    return atlas;
}

TEST(PatchSources, TheBandBelowTheChinTakesSkinFromBetweenTheLipAndTheChin)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Scalar side(150, 120, 100), skin(120, 150, 205), lips(60, 40, 190);
    cv::Mat atlas = WorkedAtlas(a, side, skin);
    // Lips from the upper to the lower border (rows 405..435 of the photo: atlas 365..395), and a
    // mole at the mouth's left end that makes that part of the chin uneven.
    atlas(cv::Rect(460 - 400 + 283, 365, 80, 31)).setTo(lips);
    cv::circle(atlas, {460 - 400 + 283, 427}, 6, cv::Scalar(40, 50, 60), cv::FILLED);
    int radius = 0;
    const cv::Point chin = TC::ChinSkin(atlas, cv::Mat(), &points, a, &radius);
    ASSERT_GE(chin.x, 0);
    EXPECT_EQ(chin.y, (435 + 500) / 2 - 100 + 60);
    EXPECT_EQ(radius, (500 - 435) * 2 / 5);
    EXPECT_GT(cv::norm(chin - cv::Point(343, 427)), radius) << "the disc takes in the mole";

    TC creator;
    auto band = [&](const TPatchSources& sources) {
        cv::Mat painted = atlas.clone();
        creator.PaintPatches(painted, &points, a, {0.2f, 0.62f}, sources);
        // Below the chin (rows beyond Hs + M = 460), away from the jaw patches.
        return cv::mean(painted(cv::Rect(300, 480, 160, 40)));
    };
    TPatchSources own;
    own.chin = chin;
    own.chinRadius = radius;
    const cv::Scalar before = band(TPatchSources()), after = band(own);
    EXPECT_GT(cv::norm(before - skin), 40) << "the fixture's default source lies in the profile part";
    EXPECT_LT(cv::norm(after - skin), 3);
}

TEST(PatchSources, TheFrontsHairLineIsFoundAboveTheForeheadWhateverItsLight)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Scalar skin(120, 150, 205), brightSkin(160, 195, 250);
    struct Case {
        const char* what;
        cv::Scalar hair;
    };
    const Case cases[] = {{"dark hair", cv::Scalar(30, 35, 45)}, {"blond hair", cv::Scalar(90, 175, 200)}};
    for (const Case& c : cases) {
        cv::Mat atlas = WorkedAtlas(a, cv::Scalar(150, 120, 100), skin);
        const int front = a.Q + a.M;
        // The hair down to row 130 of the atlas, a brightly lit forehead below it to the eyes (row 230).
        atlas(cv::Rect(front, 0, a.E, 130)).setTo(c.hair);
        atlas(cv::Rect(front, 130, a.E, 100)).setTo(brightSkin);
        const cv::Point hair = TC::FrontHair(atlas, cv::Mat(), &points, a);
        ASSERT_GE(hair.x, 0) << c.what;
        EXPECT_EQ(hair.x, 500 - 400 + front) << c.what;
        // In the hair, below the top of the head (row M = 60).
        EXPECT_LT(hair.y, 130) << c.what;
        EXPECT_GE(hair.y, a.M) << c.what;
        const cv::Vec3b at = atlas.at<cv::Vec3b>(hair);
        EXPECT_EQ(cv::Scalar(at[0], at[1], at[2]), c.hair) << c.what;
    }
    // A bald head: no hair line at all.
    cv::Mat bald = WorkedAtlas(a, cv::Scalar(150, 120, 100), skin);
    bald(cv::Rect(a.Q + a.M, 0, a.E, 230)).setTo(brightSkin);
    EXPECT_EQ(TC::FrontHair(bald, cv::Mat(), &points, a), cv::Point(-1, -1));
}

TEST(PatchSources, StrandsAndHairPatchesTakeTheFirstPlaceThatShowsHair)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Scalar skin(120, 150, 205), hair(30, 35, 45);
    // Above the ear of the profile part: the strands' place, the patches' place 78 rows higher.
    const cv::Point strands(120, 250), patches(120, 172);
    const int front = a.Q + a.M;
    struct Case {
        const char* what;
        int profileHairTo;  // the profile's hair reaches down to this row (0: none)
        int frontHairTo;    // the front's hair reaches down to this row (0: none)
        bool earOutline;    // a thin dark outline through the strands' place
        cv::Point strandsFrom, patchesFrom;
    };
    const cv::Point own(-1, -1), frontLine(500 - 400 + front, -2);
    const Case cases[] = {
        {"bald, the ear's outline at the strands", 0, 0, true, patches, own},
        {"hair above the ear, skin at the strands", 200, 130, false, patches, own},
        {"hair over both places", 300, 130, false, own, own},
        {"skin above the ear, hair in the front", 0, 130, false, frontLine, frontLine},
    };
    for (const Case& c : cases) {
        cv::Mat atlas = WorkedAtlas(a, skin, skin);
        if (c.profileHairTo > 0)
            atlas(cv::Rect(0, 0, front, c.profileHairTo)).setTo(hair);
        if (c.frontHairTo > 0)
            atlas(cv::Rect(front, 0, a.E, c.frontHairTo)).setTo(hair);
        if (c.earOutline)
            cv::ellipse(atlas, strands + cv::Point(0, 40), {30, 45}, 0, 0, 360, cv::Scalar(20, 20, 25), 3);
        const THairSources got = TC::HairSources(atlas, cv::Mat(), cv::Mat(), &points, a, strands, patches);
        auto expect = [&](cv::Point from, cv::Point want, const char* which) {
            if (want.y == -2) {
                EXPECT_EQ(from.x, want.x) << c.what << ": " << which;
                EXPECT_LT(from.y, c.frontHairTo) << c.what << ": " << which << " from the front's hair";
            } else {
                EXPECT_EQ(from, want) << c.what << ": " << which;
            }
        };
        expect(got.strands, c.strandsFrom, "strands");
        expect(got.patches, c.patchesFrom, "patches");
    }
    // Skin by the mask is no hair, whatever its colour.
    cv::Mat dark = WorkedAtlas(a, hair, skin), allSkin(a.Ha, a.Wa, CV_8U, cv::Scalar(255));
    EXPECT_TRUE(TC::ShowsHair(dark, cv::Mat(), cv::Mat(), &points, a, strands));
    EXPECT_FALSE(TC::ShowsHair(dark, allSkin, cv::Mat(), &points, a, strands));
}

// ---------------------------------------------------------------------------------------------
// Texture coordinates

// A head geometry of loose vertices (texture coordinates only) and weights for it.
struct WarpFixture {
    TGeometry head, hairs;
    TWeightManager weights{TWeightManager::NoFiles{}};
    THeadAttributes points;
    TAtlasLayout layout;

    WarpFixture()
    {
        SetWorkedAtlasPoints(points);
        layout = TC::MeasureAtlas(&points);
    }
    // Appends a vertex with its weights in the given slots; returns its number.
    size_t Add(float u, float v, std::initializer_list<int> inSlots = {})
    {
        const size_t vertex = head.texCoords.size() / 2;
        head.texCoords.push_back(u);
        head.texCoords.push_back(v);
        for (auto& map : weights.weights)
            map.resize(vertex + 1, 0.0f);
        for (int slot : inSlots)
            weights.weights[slot][vertex] = 1.0f;
        return vertex;
    }
    TTexCoord Coord(size_t vertex) const { return {head.texCoords[2 * vertex], head.texCoords[2 * vertex + 1]}; }
    TTexCoord AtlasCoordOf(int x, int y) const
    {
        return {static_cast<float>(x) / layout.Wa, 1.0f - static_cast<float>(y) / layout.Ha};
    }
    TTexCoord FrontCoord(const THPoint* p) const
    {
        return AtlasCoordOf(p->x - points.front[FrontPoint::LeftEyeLeft]->x + layout.Q + layout.M,
                            p->y - points.front[FrontPoint::TopHead]->y + layout.M);
    }
};

// The share of its warp that the left eye's region gives a coordinate on its feature, in u and v alike.
constexpr float kLeftEyeShare = 0.8f;

TEST(TextureFit, GlobalFitAndEyeWarpOfAVertexOnTheGenericEyeCentre)
{
    WarpFixture fx;
    // Face span chosen so that the global scale is 1 in both directions: spanU * Wa = 1.15 * Ws,
    // spanV * Ha = Hs.
    const float spanU = 1.15f * 300.0f / 766.0f, spanV = 400.0f / 520.0f;
    fx.Add(0.1f, 0.1f, {TWeightManager::face_borders});
    fx.Add(0.1f + spanU, 0.1f + spanV, {TWeightManager::face_borders});
    const size_t eye = fx.Add(0.4429995f, 0.5326073f);  // R1, the generic left eye centre
    TC::FitTextureCoordinates(&fx.points, fx.layout, &fx.head, nullptr, &fx.weights, kGeneric);

    const TTexCoord nose = fx.FrontCoord(fx.points.front[FrontPoint::NoseTip]);
    const TTexCoord offset{nose.u - 0.5151004f, nose.v - 0.42300156f};
    // With scale 1 the fit is a pure shift by offset.
    const TTexCoord R1f{0.4429995f + offset.u, 0.5326073f + offset.v};
    const TTexCoord T1 = fx.FrontCoord(fx.points.front[FrontPoint::LeftEyeCenter]);
    const TTexCoord D1{T1.u - R1f.u, T1.v - R1f.v};
    // The left-eye region has no rim vertices: its scale falls back to 1 and the second move is a
    // no-op. The vertex sits on R1' (weight 1), so it moves by the region's share of D1, in u and in v.
    const TTexCoord got = fx.Coord(eye);
    EXPECT_NEAR(got.u, R1f.u + kLeftEyeShare * D1.u, 2e-5);
    EXPECT_NEAR(got.v, R1f.v + kLeftEyeShare * D1.v, 2e-5);
    EXPECT_GT(std::abs(D1.u) + std::abs(D1.v), 0.005f);  // the move is visible at all
}

// The deformed head, vertex by vertex: positions before and after, in the fixture's vertex order.
struct MovedHead {
    TDeformedHead deformed;
    std::vector<float> after;
    void Add(TModelPoint before, TModelPoint moved)
    {
        deformed.before.insert(deformed.before.end(), {float(before.x), float(before.y), float(before.z)});
        after.insert(after.end(), {float(moved.x), float(moved.y), float(moved.z)});
    }
};

// Each coordinate follows its vertex's regional move through the photo its atlas part shows: x and z
// in the front, depth and z in the profiles (mirrored on the left); the whole head's scaling about
// the nose tip is the global fit's and moves nothing. 100 atlas pixels a model unit: the model is 3
// units wide, the worked front head 300 pixels, and both photos see the eye as far above the nose tip.
TEST(TextureFit, CoordinatesFollowTheirVerticesRegionalMoves)
{
    const float spanU = 1.15f * 300.0f / 766.0f, spanV = 400.0f / 520.0f;
    constexpr double kHeight = 1.2, kDepth = 0.9;  // the whole head's scales
    const TModelPoint move{0.2, 0.5, -0.1};
    struct Case {
        const char* what;
        TTexCoord fitted;  // where the global fit puts the vertex, far from every feature
        bool regional;     // moved by `move`, else only by the whole head's scaling
        float du, dv;      // expected change, atlas pixels
    };
    const Case cases[] = {
        {"front", {0.60f, 0.70f}, true, 0.2f * 100, -0.1f * 100},
        {"mirrored profile", {0.10f, 0.70f}, true, -0.5f * 100, -0.1f * 100},
        {"plain profile", {0.90f, 0.70f}, true, 0.5f * 100, -0.1f * 100},
        {"whole-head scaling only", {0.60f, 0.80f}, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WarpFixture still, moved;
        MovedHead head;
        const TTexCoord nose = still.FrontCoord(still.points.front[FrontPoint::NoseTip]);
        const TTexCoord offset{nose.u - 0.5151004f, nose.v - 0.42300156f};
        for (WarpFixture* fx : {&still, &moved}) {
            fx->Add(0.1f, 0.1f, {TWeightManager::face_borders});
            fx->Add(0.1f + spanU, 0.1f + spanV, {TWeightManager::face_borders});
            fx->Add(0.5151004f, 0.42300156f, {TWeightManager::tip_of_the_nose});
            fx->Add(c.fitted.u - offset.u, c.fitted.v - offset.v);
        }
        const TModelPoint tip{0.1, -1.0, 0.3}, tipAfter{0.1, -1.1, 0.4};
        auto scaled = [&](TModelPoint p) {
            return TModelPoint{tipAfter.x + (p.x - tip.x), tipAfter.y + kDepth * (p.y - tip.y), tipAfter.z + kHeight * (p.z - tip.z)};
        };
        const TModelPoint left{-1.5, 0, 0}, right{1.5, 0, 0}, vertex{0.5, 0.2, 1.0};
        head.Add(left, scaled(left));
        head.Add(right, scaled(right));
        head.Add(tip, tipAfter);
        const TModelPoint to = scaled(vertex);
        head.Add(vertex, c.regional ? TModelPoint{to.x + move.x, to.y + move.y, to.z + move.z} : to);
        head.deformed.heightScale = float(kHeight);
        head.deformed.depthScale = float(kDepth);
        moved.head.positions = head.after;

        TC::FitTextureCoordinates(&still.points, still.layout, &still.head, nullptr, &still.weights, kGeneric);
        TC::FitTextureCoordinates(&moved.points, moved.layout, &moved.head, nullptr, &moved.weights, kGeneric, &head.deformed);
        EXPECT_NEAR(still.Coord(3).u, c.fitted.u, 1e-5);
        EXPECT_NEAR(still.Coord(3).v, c.fitted.v, 1e-5);
        EXPECT_NEAR((moved.Coord(3).u - still.Coord(3).u) * 766, c.du, 1e-2);
        EXPECT_NEAR((moved.Coord(3).v - still.Coord(3).v) * 520, c.dv, 1e-2);
    }
}

// Wherever the deformation took the mesh's eye, the fit lays the photo's eye onto it: the eye's
// coordinates first follow the mesh's move, then take the region's share of the way from where
// the mesh's eye is to the photo's eye.
TEST(TextureFit, ThePhotosEyeGoesWhereTheMeshsEyeIs)
{
    const float spanU = 1.15f * 300.0f / 766.0f, spanV = 400.0f / 520.0f;
    const TModelPoint reached[] = {{0, 0, 0}, {0.1, 0, 0.15}, {-0.05, 0.3, -0.2}};
    for (const TModelPoint& m : reached) {
        WarpFixture fx;
        MovedHead head;
        fx.Add(0.1f, 0.1f, {TWeightManager::face_borders});
        head.Add({-1.5, 0, 0}, {-1.5, 0, 0});
        fx.Add(0.1f + spanU, 0.1f + spanV, {TWeightManager::face_borders});
        head.Add({1.5, 0, 0}, {1.5, 0, 0});
        fx.Add(0.5151004f, 0.42300156f, {TWeightManager::tip_of_the_nose});
        head.Add({0, -1, 0}, {0, -1, 0});
        const size_t eye = fx.Add(0.4429995f, 0.5326073f);  // R1, the generic left eye centre
        head.Add({-1, -0.7, 0.5}, {-1 + m.x, -0.7 + m.y, 0.5 + m.z});
        fx.head.positions = head.after;
        TC::FitTextureCoordinates(&fx.points, fx.layout, &fx.head, nullptr, &fx.weights, kGeneric, &head.deformed);

        const TTexCoord nose = fx.FrontCoord(fx.points.front[FrontPoint::NoseTip]);
        // Where the mesh's eye is drawn: the generic eye moved by the global fit (a shift here) and
        // by the mesh's move at 100 front pixels a unit (depth does not show in the front).
        const TTexCoord mesh{0.4429995f + nose.u - 0.5151004f + float(m.x) * 100 / 766,
                             0.5326073f + nose.v - 0.42300156f + float(m.z) * 100 / 520};
        const TTexCoord T1 = fx.FrontCoord(fx.points.front[FrontPoint::LeftEyeCenter]);
        const TTexCoord got = fx.Coord(eye);
        EXPECT_NEAR(got.u, mesh.u + kLeftEyeShare * (T1.u - mesh.u), 2e-5) << m.x << " " << m.z;
        EXPECT_NEAR(got.v, mesh.v + kLeftEyeShare * (T1.v - mesh.v), 2e-5) << m.x << " " << m.z;
    }
}

// A deformed head that does not fit the coordinates (another vertex count) is no deformed head:
// the fit is the one without it.
TEST(TextureFit, ADeformedHeadOfAnotherSizeIsIgnored)
{
    WarpFixture with, without;
    for (WarpFixture* fx : {&with, &without}) {
        fx->Add(0.1f, 0.1f, {TWeightManager::face_borders});
        fx->Add(0.5f, 0.9f, {TWeightManager::face_borders});
        fx->Add(0.5151004f, 0.42300156f, {TWeightManager::tip_of_the_nose});
        fx->Add(0.45f, 0.53f);
    }
    TDeformedHead deformed;
    deformed.before.assign(9, 0.0f);  // three vertices
    with.head.positions.assign(12, 1.0f);
    TC::FitTextureCoordinates(&with.points, with.layout, &with.head, nullptr, &with.weights, kGeneric, &deformed);
    TC::FitTextureCoordinates(&without.points, without.layout, &without.head, nullptr, &without.weights, kGeneric);
    EXPECT_EQ(with.head.texCoords, without.head.texCoords);
}

TEST(TextureFit, ClampKeepsCoordinatesInTheAtlas)
{
    WarpFixture fx;
    fx.Add(0.0f, 0.0f, {TWeightManager::face_borders});
    fx.Add(0.2f, 0.2f, {TWeightManager::face_borders});
    const size_t low = fx.Add(-3.0f, -3.0f), high = fx.Add(4.0f, 4.0f);
    TC::FitTextureCoordinates(&fx.points, fx.layout, &fx.head, nullptr, &fx.weights, kGeneric);
    EXPECT_EQ(fx.Coord(low).u, 0.0f);
    EXPECT_EQ(fx.Coord(low).v, 0.01f);
    EXPECT_EQ(fx.Coord(high).u, 1.0f);
    EXPECT_EQ(fx.Coord(high).v, 1.0f);
}

TEST(TextureFit, ZeroSpansGiveFiniteCoordinates)
{
    WarpFixture fx;  // no region has a vertex of positive weight: every span is 0
    for (int i = 0; i < 50; ++i)
        fx.Add(0.02f * i, 1.0f - 0.02f * i);
    TC::FitTextureCoordinates(&fx.points, fx.layout, &fx.head, nullptr, &fx.weights, kGeneric);
    for (float c : fx.head.texCoords) {
        ASSERT_TRUE(std::isfinite(c));
        ASSERT_GE(c, 0.0f);
        ASSERT_LE(c, 1.0f);
    }
}

TEST(TextureFit, HairsAreShrunkAroundHalfTheirMeanOntoTheEarTarget)
{
    WarpFixture fx;
    fx.hairs.texCoords = {0.5f, 0.5f, 0.7f, 0.3f};  // sums u 1.2, v 0.8 over 4 floats: c = (0.3, 0.2)
    const TTexCoord hairTarget = TC::FitTextureCoordinates(&fx.points, fx.layout, nullptr, &fx.hairs, &fx.weights, kGeneric);
    // T4: the profile ear centre in the mirrored left part, raised by 0.1.
    const THPoint* ear = fx.points.profile[ProfilePoint::EarCenter];
    const TTexCoord T4 = fx.AtlasCoordOf(fx.points.profile[ProfilePoint::RightHead]->x + fx.layout.M - ear->x,
                                         ear->y - fx.points.profile[ProfilePoint::TopHead]->y + fx.layout.M);
    EXPECT_NEAR(hairTarget.u, T4.u, 1e-6);
    EXPECT_NEAR(hairTarget.v, T4.v + 0.1f, 1e-6);
    EXPECT_NEAR(fx.hairs.texCoords[0], (0.5f - 0.3f) * 0.3f + hairTarget.u, 1e-6);
    EXPECT_NEAR(fx.hairs.texCoords[1], (0.5f - 0.2f) * 0.3f + hairTarget.v, 1e-6);
    EXPECT_NEAR(fx.hairs.texCoords[2], (0.7f - 0.3f) * 0.3f + hairTarget.u, 1e-6);
    EXPECT_NEAR(fx.hairs.texCoords[3], (0.3f - 0.2f) * 0.3f + hairTarget.v, 1e-6);
}

TEST(TextureFit, HairsWithoutCoordinatesAreLeftAlone)
{
    WarpFixture fx;
    const TTexCoord hairTarget = TC::FitTextureCoordinates(&fx.points, fx.layout, nullptr, &fx.hairs, &fx.weights, kGeneric);
    EXPECT_TRUE(fx.hairs.texCoords.empty());
    EXPECT_TRUE(std::isfinite(hairTarget.u) && std::isfinite(hairTarget.v));
}

// ---------------------------------------------------------------------------------------------
// Patch groups and eye texture

TEST(PatchGroups, WorkedCountOf114Calls)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    cv::Mat atlas = Coded(a.Wa, a.Ha, 5);
    TTextureCreator creator;
    const std::array<int, 10> calls = creator.PaintPatches(atlas, &points, a, {0.2f, 0.62f});
    EXPECT_EQ(calls, (std::array<int, 10>{32, 1, 1, 32, 18, 18, 1, 1, 5, 5}));
    int total = 0;
    for (int c : calls)
        total += c;
    EXPECT_EQ(total, 114);
}

TEST(PatchGroups, TheBandBelowTheChinIsEvenSkinWithNoGridOfPatches)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Scalar side(150, 120, 100), skin(120, 150, 205), neck(40, 45, 50);
    cv::Mat atlas = WorkedAtlas(a, side, skin);
    // Below the chin (rows beyond Hs + M = 460) the photos show a dark neck.
    atlas(cv::Rect(0, 461, a.Wa, a.Ha - 461)).setTo(neck);
    TPatchSources sources;
    sources.chin = {383, 427};
    sources.chinRadius = 26;
    TC creator;
    creator.PaintPatches(atlas, &points, a, {0.2f, 0.62f}, sources);
    // Under the patches' first row (468), beside the jaw patches: skin everywhere, none of the neck
    // left between the patches' centres.
    int worst = 0;
    for (const cv::Rect& part : {cv::Rect(0, 470, 200, 48), cv::Rect(570, 470, a.Wa - 570, 48)})
        for (int y = part.y; y < part.y + part.height; ++y)
            for (int x = part.x; x < part.x + part.width; ++x)
                for (int c = 0; c < 3; ++c)
                    worst = std::max(worst, std::abs(At(atlas, x, y)[c] - static_cast<int>(skin[c])));
    EXPECT_LE(worst, 3);
}

TEST(PatchGroups, TinyFaceSkipsTheLoopsInsteadOfLoopingForever)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    points.front[FrontPoint::TopHead]->y = 300;
    points.front[FrontPoint::BottomHead]->y = 305;  // Hs = 5: Hs div 8 = 0
    points.front[FrontPoint::LeftHead]->x = 497;
    points.front[FrontPoint::RightHead]->x = 503;  // Ws = 6: Ws div 8 = 0
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    ASSERT_TRUE(a.valid) << a.problem;
    cv::Mat atlas = Coded(a.Wa, a.Ha, 5);
    TTextureCreator creator;
    const std::array<int, 10> calls = creator.PaintPatches(atlas, &points, a, {0.2f, 0.62f});
    EXPECT_EQ(calls[0], 0);
    EXPECT_EQ(calls[3], 0);
    EXPECT_EQ(calls[4], 0);
    EXPECT_EQ(calls[5], 0);
    EXPECT_EQ(calls[8], 5);
}

// The skin over each eye goes where the mesh's eye opening took its coordinates, when the fit says
// where that is; else over the photo's eye. The worked photo's left eye is at atlas (318, 240), the
// right one at (448, 240); the mesh's eyes here 40 rows higher.
TEST(PatchGroups, TheSkinOverTheEyesGoesWhereTheMeshsEyesAre)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    const cv::Mat original = Coded(a.Wa, a.Ha, 5);
    TPatchSources onMesh;
    onMesh.leftEye = {318, 200};
    onMesh.rightEye = {448, 200};
    struct Case {
        const char* what;
        TPatchSources sources;
        cv::Point painted, kept;
    };
    const Case cases[] = {{"photo's eyes", TPatchSources(), {318, 240}, {318, 200}},
                          {"mesh's eyes", onMesh, {318, 200}, {318, 240}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        cv::Mat atlas = original.clone();
        TTextureCreator creator;
        const std::array<int, 10> calls = creator.PaintPatches(atlas, &points, a, {0.2f, 0.62f}, c.sources);
        EXPECT_EQ(calls[8], 5);
        EXPECT_EQ(calls[9], 5);
        for (const cv::Point& p : {c.painted, c.painted + cv::Point(130, 0)})
            EXPECT_NE(At(atlas, p.x, p.y), At(original, p.x, p.y)) << p;
        EXPECT_EQ(At(atlas, c.kept.x, c.kept.y), At(original, c.kept.x, c.kept.y));
        EXPECT_EQ(At(atlas, c.kept.x + 130, c.kept.y), At(original, c.kept.x + 130, c.kept.y));
    }
}

namespace {
// The process's peak resident memory since the last ResetPeakMemory, in bytes (0 when unknown).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemory()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) * 1024.0;
    return 0;
}
double CurrentMemory()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) * 1024.0;
    return 0;
}
}  // namespace

TEST(PatchGroups, EyePatchOfAFarDraggedBorderCostsNoMoreThanTheAtlas)
{
    // The eye patches' radius follows the eye height. In a large photo (the worked points four
    // times over give a 3064 x 2080 atlas) a left eye's bottom border dragged 4000 rows down makes
    // the middle eye patch: radius 3427, centred below the atlas, its square reaching into it.
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    for (THPoint* p : points.front)
        p->x *= 4, p->y *= 4;
    for (THPoint* p : points.profile)
        p->x *= 4, p->y *= 4;
    points.front[FrontPoint::LeftEyeBottom]->y += 4000;
    const TAtlasLayout a = TC::MeasureAtlas(&points);
    ASSERT_TRUE(a.valid) << a.problem;
    ASSERT_EQ(a.Wa, 3064);
    ASSERT_EQ(a.Ha, 2080);
    const THPoint* const* f = points.front;
    const int eyeH = f[FrontPoint::LeftEyeBottom]->y - f[FrontPoint::LeftEyeTop]->y;
    const int half = (f[FrontPoint::LeftEyeRight]->x - f[FrontPoint::LeftEyeLeft]->x) / 2, anchorX = a.Q + a.M;
    const int radius = static_cast<int>(std::nearbyint(0.6 * eyeH * 1.4));
    const int cy = f[FrontPoint::LeftEyeBottom]->y - f[FrontPoint::TopHead]->y + a.M +
                   static_cast<int>(std::nearbyint(0.03 * (f[FrontPoint::BottomHead]->y - f[FrontPoint::TopHead]->y)));
    ASSERT_EQ(radius, 3427);
    ASSERT_LT(cy - radius, a.Ha);  // the square overlaps the atlas

    cv::Mat atlas = Coded(a.Wa, a.Ha, 5);
    TTextureCreator creator;
    ResetPeakMemory();
    const double before = CurrentMemory();
    creator.BlendPatch(atlas, atlas, anchorX + half, cy, anchorX + half,
                       f[FrontPoint::LeftEyeCenter]->y - f[FrontPoint::TopHead]->y + a.M, radius, 0.09f);
    const double grown = PeakMemory() - before;
    ASSERT_GT(before, 0.0) << "no memory figures on this system";
    // Within a copy and a float mask of the atlas (44 MB), not a mask of the whole 6854-pixel square (188 MB).
    EXPECT_LT(grown, 44.0 * 1024 * 1024) << "peak grew by " << grown / (1024 * 1024) << " MB";
}

// The square runs from the eye's outer corner across its width and is centred between its top and
// bottom (as the eyeball is mapped from its opening), not on its centre point, which lies low.
TEST(EyeTexture, SquareAroundTheLeftEyesOpening)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    points.front[FrontPoint::LeftEyeLeft]->x = 100;
    points.front[FrontPoint::LeftEyeRight]->x = 141;  // N = 20
    points.front[FrontPoint::LeftEyeCenter]->y = 70;
    points.front[FrontPoint::LeftEyeTop]->y = 50;
    points.front[FrontPoint::LeftEyeBottom]->y = 74;  // middle 62
    const cv::Mat photo = Coded(300, 200, 3);
    const cv::Mat eye = TC::CreateEyeTexture(photo, &points);
    ASSERT_EQ(eye.cols, 40);
    ASSERT_EQ(eye.rows, 40);
    EXPECT_EQ(At(eye, 0, 0), At(photo, 100, 42));  // top row is photo row 62 - 20
    EXPECT_EQ(At(eye, 39, 39), At(photo, 139, 81));
}

TEST(EyeTexture, PartlyOutsideStaysBlackAndNarrowEyesGiveNone)
{
    THeadAttributes points;
    SetWorkedAtlasPoints(points);
    points.front[FrontPoint::LeftEyeLeft]->x = 290;
    points.front[FrontPoint::LeftEyeRight]->x = 310;  // N = 10, square x 290..309 on a 300-wide photo
    points.front[FrontPoint::LeftEyeTop]->y = 0;
    points.front[FrontPoint::LeftEyeBottom]->y = 10;  // middle 5: rows -5..14
    const cv::Mat photo = Uniform(300, 200, 9, 9, 9);
    const cv::Mat eye = TC::CreateEyeTexture(photo, &points);
    ASSERT_EQ(eye.cols, 20);
    EXPECT_EQ(At(eye, 0, 0), cv::Vec3b(0, 0, 0));    // row -5
    EXPECT_EQ(At(eye, 15, 10), cv::Vec3b(0, 0, 0));  // column 305
    EXPECT_EQ(At(eye, 5, 10), cv::Vec3b(9, 9, 9));
    points.front[FrontPoint::LeftEyeRight]->x = 291;  // width 1: N = 0
    EXPECT_TRUE(TC::CreateEyeTexture(photo, &points).empty());
    points.front[FrontPoint::LeftEyeRight]->x = 280;  // borders reversed
    EXPECT_TRUE(TC::CreateEyeTexture(photo, &points).empty());
}

// ---------------------------------------------------------------------------------------------
// The whole build

class CreateTextureTest : public ::testing::Test {
protected:
    ScopedProgramFolder folder{"texture"};
    WarpFixture fx;
    TTextureCreator creator;
    cv::Mat front, profile;

    void SetUp() override
    {
        std::filesystem::create_directories(folder.Path() / "data/textures");
        front = Coded(800, 600, 1);
        profile = Coded(800, 600, 2);
        fx.Add(0.3f, 0.2f, {TWeightManager::face_borders});
        fx.Add(0.7f, 0.8f, {TWeightManager::face_borders});
        fx.Add(0.5f, 0.5f);
        fx.hairs.texCoords = {0.5f, 0.5f};
    }
    bool Exists(const char* name) const { return std::filesystem::exists(folder.Path() / "data/textures" / name); }
};

TEST_F(CreateTextureTest, WritesEyeAndNormalMapAndReturnsTheAtlas)
{
    const cv::Mat atlas = creator.CreateTexture(front, profile, &fx.points, &fx.head, &fx.hairs, &fx.weights, kGeneric);
    ASSERT_FALSE(atlas.empty());
    EXPECT_EQ(atlas.cols, 766);
    EXPECT_EQ(atlas.rows, 520);
    const cv::Mat eye = cv::imread((folder.Path() / "data/textures/eye.bmp").string());
    EXPECT_EQ(eye.cols, 70);  // left eye borders 400 and 470: N = 35
    const cv::Mat normal = cv::imread((folder.Path() / "data/textures/normalmap.bmp").string());
    EXPECT_EQ(normal.size(), atlas.size());
    // The normal map belongs to the finished atlas (after the patches).
    EXPECT_EQ(cv::norm(normal, creator.CreateNormalMap(atlas), cv::NORM_INF), 0.0);
    for (float c : fx.head.texCoords)
        EXPECT_TRUE(c >= 0.0f && c <= 1.0f);
    EXPECT_NE(fx.hairs.texCoords[0], 0.5f);
}

TEST_F(CreateTextureTest, MissingInputsChangeNothing)
{
    const std::vector<float> before = fx.head.texCoords, hairsBefore = fx.hairs.texCoords;
    EXPECT_TRUE(creator.CreateTexture(front, profile, nullptr, &fx.head, &fx.hairs, &fx.weights, kGeneric).empty());
    EXPECT_TRUE(creator.CreateTexture(cv::Mat(), profile, &fx.points, &fx.head, &fx.hairs, &fx.weights, kGeneric).empty());
    EXPECT_TRUE(creator.CreateTexture(front, cv::Mat(), &fx.points, &fx.head, &fx.hairs, &fx.weights, kGeneric).empty());
    EXPECT_EQ(fx.head.texCoords, before);
    EXPECT_EQ(fx.hairs.texCoords, hairsBefore);
    EXPECT_FALSE(Exists("eye.bmp"));
    EXPECT_FALSE(Exists("normalmap.bmp"));
}

TEST_F(CreateTextureTest, ImpossiblePointsGiveAMessageAndChangeNothing)
{
    const std::vector<float> before = fx.head.texCoords;
    const struct {
        const char* what;
        void (*change)(THeadAttributes&);
    } cases[] = {
        {"front face height 0", [](THeadAttributes& p) { p.front[FrontPoint::BottomHead]->y = p.front[FrontPoint::TopHead]->y; }},
        {"profile face height 0", [](THeadAttributes& p) { p.profile[ProfilePoint::BottomHead]->y = p.profile[ProfilePoint::TopHead]->y; }},
        {"eye span 0", [](THeadAttributes& p) { p.front[FrontPoint::RightEyeRight]->x = p.front[FrontPoint::LeftEyeLeft]->x; }},
        {"Q < 0", [](THeadAttributes& p) { p.profile[ProfilePoint::RightHead]->x = p.profile[ProfilePoint::EyeCenter]->x; }},
        {"enormous enlargement", [](THeadAttributes& p) { p.front[FrontPoint::BottomHead]->y = p.front[FrontPoint::TopHead]->y + 1; }},
    };
    for (const auto& c : cases) {
        THeadAttributes points;
        SetWorkedAtlasPoints(points);
        c.change(points);
        ScopedMessageCapture messages;
        EXPECT_TRUE(creator.CreateTexture(front, profile, &points, &fx.head, &fx.hairs, &fx.weights, kGeneric).empty()) << c.what;
        EXPECT_EQ(messages.Texts().size(), 1u) << c.what;
        EXPECT_EQ(fx.head.texCoords, before) << c.what;
        EXPECT_FALSE(Exists("eye.bmp")) << c.what;
    }
}

TEST_F(CreateTextureTest, SmallerProfileFaceIsEnlarged)
{
    // Profile face 200 high against the front's 400: the profile and its points are doubled, so the
    // atlas keeps twice the profile span P on each side.
    for (int i = 0; i < 14; ++i) {
        fx.points.profile[i]->x /= 2;
        fx.points.profile[i]->y /= 2;
    }
    const cv::Mat atlas = creator.CreateTexture(front, profile, &fx.points, &fx.head, &fx.hairs, &fx.weights, kGeneric);
    ASSERT_FALSE(atlas.empty());
    // P = |275 - 150| * 2 = 250 again: the same 766 x 520 atlas as the unscaled set.
    EXPECT_EQ(atlas.cols, 766);
    EXPECT_EQ(atlas.rows, 520);
    // The caller's points are left as they were.
    EXPECT_EQ(fx.points.profile[ProfilePoint::RightHead]->x, 275);
}

TEST(CreateTextureRealPhotos, AstronautFrontAndMonaProfile)
{
    const std::string frontFile = DepsFile("python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png");
    const std::string profileFile = DepsFile("node-opencv/usr/share/doc/node-opencv/examples/files/mona.png");
    if (frontFile.empty() || profileFile.empty())
        GTEST_SKIP() << "test photos not unpacked (scripts/fetch-deps)";
    ScopedProgramFolder folder("texture-real");
    std::filesystem::create_directories(folder.Path() / "data/textures");
    const cv::Mat front = cv::imread(frontFile, cv::IMREAD_COLOR), profile = cv::imread(profileFile, cv::IMREAD_COLOR);
    ASSERT_FALSE(front.empty());
    ASSERT_FALSE(profile.empty());
    THeadAttributes points;
    points.SetDefaultFrontPositions(front.cols, front.rows);
    points.SetDefaultProfilePositions(profile.cols, profile.rows, false);
    WarpFixture fx;
    fx.Add(0.3f, 0.2f, {TWeightManager::face_borders});
    fx.Add(0.7f, 0.8f, {TWeightManager::face_borders});
    TTextureCreator creator;
    const cv::Mat atlas = creator.CreateTexture(front, profile, &points, &fx.head, &fx.hairs, &fx.weights, kGeneric);
    ASSERT_FALSE(atlas.empty());
    // The front part of the atlas shows the photo's centre: compare a patch below the eyes with the photo.
    THeadAttributes* scaledCopy = nullptr;
    const int Hf = std::abs(points.front[FrontPoint::BottomHead]->y - points.front[FrontPoint::TopHead]->y);
    const int Hp = std::abs(points.profile[ProfilePoint::BottomHead]->y - points.profile[ProfilePoint::TopHead]->y);
    cv::Mat frontWork = front;
    if (Hf < Hp) {
        const float s = static_cast<float>(Hp) / Hf;
        cv::resize(front, frontWork, cv::Size(static_cast<int>(std::nearbyint(front.cols * double(s))),
                                              static_cast<int>(std::nearbyint(front.rows * double(s)))));
        scaledCopy = points.CloneScaledFront(s);
    } else {
        scaledCopy = points.CloneScaledProfile(static_cast<float>(Hf) / Hp);
    }
    std::unique_ptr<THeadAttributes> copy(scaledCopy);
    const TAtlasLayout a = TC::MeasureAtlas(copy.get());
    EXPECT_EQ(atlas.cols, a.Wa);
    EXPECT_EQ(atlas.rows, a.Ha);
    const int ax = a.Q + a.M + (copy->front[FrontPoint::LeftEyeRight]->x - copy->front[FrontPoint::LeftEyeLeft]->x);  // right of the left eye
    const int ay = copy->front[FrontPoint::NoseTip]->y - copy->front[FrontPoint::TopHead]->y + a.M;        // nose height: no patch there
    const cv::Vec3b got = At(atlas, ax, ay);
    const cv::Vec3b expected =
        At(frontWork, ax + copy->front[FrontPoint::LeftEyeLeft]->x - a.M - a.Q, ay + copy->front[FrontPoint::TopHead]->y - a.M);
    EXPECT_EQ(got, expected);
}

// A head on a plain backdrop: a skin face, a dark cap of hair reaching the photo's top edge with a
// pocket of backdrop inside it, and white eyes inside the face.
struct BackdropPhoto {
    cv::Mat photo, skin;
    const cv::Vec3b backdrop{170, 100, 40}, face{120, 150, 220}, hair{30, 28, 30}, eye{240, 240, 240};
    BackdropPhoto() : photo(200, 200, CV_8UC3, cv::Scalar(170, 100, 40)), skin(200, 200, CV_8UC1, cv::Scalar(0))
    {
        cv::circle(photo, {100, 110}, 60, cv::Scalar(face), cv::FILLED);
        cv::circle(skin, {100, 110}, 60, cv::Scalar(255), cv::FILLED);
        cv::rectangle(photo, cv::Rect(50, 0, 100, 50), cv::Scalar(hair), cv::FILLED);
        cv::rectangle(skin, cv::Rect(50, 0, 100, 50), cv::Scalar(0), cv::FILLED);
        cv::rectangle(photo, cv::Rect(90, 20, 10, 10), cv::Scalar(backdrop), cv::FILLED);  // the pocket
        cv::circle(photo, {80, 110}, 6, cv::Scalar(eye), cv::FILLED);
        cv::circle(skin, {80, 110}, 6, cv::Scalar(0), cv::FILLED);
    }
};

TEST(PhotoBackground, TheMaskHoldsTheBackdropAndItsPocketsButNotHairEyesOrSkin)
{
    const BackdropPhoto p;
    const cv::Mat background = TTextureCreator::BackgroundMask(p.photo, p.skin);
    ASSERT_EQ(background.size(), p.photo.size());
    struct Case {
        const char* what;
        cv::Point at;
        bool marked;
    };
    const Case cases[] = {{"backdrop corner", {2, 197}, true},  {"backdrop beside the head", {20, 100}, true},
                          {"pocket in the hair", {95, 25}, true}, {"hair", {60, 10}, false},
                          {"face", {100, 140}, false},           {"eye", {80, 110}, false}};
    for (const Case& c : cases)
        EXPECT_EQ(background.at<uint8_t>(c.at) != 0, c.marked) << c.what;
}

TEST(PhotoBackground, TheFillTakesNoColourFromTheOutlinesFringe)
{
    // Hair left, backdrop right, between them three columns where the photo mixed the two; the
    // mask marks the backdrop alone.
    const cv::Vec3b hair{30, 28, 30}, backdrop{170, 100, 40}, fringe{100, 64, 35};
    cv::Mat atlas(60, 60, CV_8UC3, cv::Scalar(hair[0], hair[1], hair[2]));
    atlas(cv::Rect(30, 0, 3, 60)).setTo(cv::Scalar(fringe[0], fringe[1], fringe[2]));
    atlas(cv::Rect(33, 0, 27, 60)).setTo(cv::Scalar(backdrop[0], backdrop[1], backdrop[2]));
    cv::Mat background(60, 60, CV_8UC1, cv::Scalar(0));
    background(cv::Rect(33, 0, 27, 60)).setTo(255);
    TTextureCreator::KeepBackgroundOut(atlas, background);
    for (int y = 0; y < 60; ++y)
        for (int x = 40; x < 60; ++x)
            ASSERT_LE(cv::norm(cv::Vec3i(atlas.at<cv::Vec3b>(y, x)) - cv::Vec3i(hair), cv::NORM_INF), 2) << x << ", " << y;
}

TEST(PhotoBackground, KeepingItOutLeavesNoBackdropAndTheRestAsItWas)
{
    const BackdropPhoto p;
    const cv::Mat background = TTextureCreator::BackgroundMask(p.photo, p.skin);
    cv::Mat atlas = p.photo.clone();
    TTextureCreator::KeepBackgroundOut(atlas, background);
    int backdrop = 0, changed = 0;
    for (int y = 0; y < atlas.rows; ++y)
        for (int x = 0; x < atlas.cols; ++x) {
            const cv::Vec3b c = atlas.at<cv::Vec3b>(y, x);
            backdrop += cv::norm(cv::Vec3i(c) - cv::Vec3i(p.backdrop), cv::NORM_INF) <= 12;
            changed += !background.at<uint8_t>(y, x) && c != p.photo.at<cv::Vec3b>(y, x);
        }
    EXPECT_EQ(backdrop, 0);
    EXPECT_EQ(changed, 0) << "pixels outside the background changed";
}

}  // namespace
