// Measuring the generic head and deforming it, on small meshes whose numbers are worked by hand.
#include <gtest/gtest.h>

#include <cmath>

#include "collada/Geometry.h"
#include "core/Deformation.h"
#include "core/Vultari.h"
#include "core/Weightmanager.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "testing/TestHelpers.h"

namespace {
// The anchors of the tests' generic head, as the deformation uses them (floats).
struct TAnchorF {
    float x, y, z;
};
const TGenericHead kGeneric = TestGenericHead();
TAnchorF AsFloats(const TModelPoint& p) { return {float(p.x), float(p.y), float(p.z)}; }
const TAnchorF LeftEyeAnchor = AsFloats(kGeneric.leftEye), RightEyeAnchor = AsFloats(kGeneric.rightEye);
}  // namespace

namespace {

using W = TWeightManager;

// A head of loose vertices with chosen weights.
struct MiniHead {
    TGeometry mesh;
    TWeightManager weights{TWeightManager::NoFiles{}};

    size_t Add(float x, float y, float z, std::initializer_list<std::pair<int, float>> inMaps = {})
    {
        const size_t v = mesh.positions.size() / 3;
        for (float c : {x, y, z})
            mesh.positions.push_back(c);
        for (auto& map : weights.weights)
            map.resize(v + 1, 0.0f);
        for (const auto& [slot, w] : inMaps)
            weights.weights[slot][v] = w;
        return v;
    }
    float X(size_t v) const { return mesh.positions[3 * v]; }
    float Y(size_t v) const { return mesh.positions[3 * v + 1]; }
    float Z(size_t v) const { return mesh.positions[3 * v + 2]; }
};

TEST(SmallArithmetic, LerpAbsIntSwapInts)
{
    EXPECT_FLOAT_EQ(TVultari::Lerp(2, 10, 0.25f), 4.0f);
    EXPECT_FLOAT_EQ(TVultari::Lerp(2, 10, 0), 2.0f);
    EXPECT_FLOAT_EQ(TVultari::Lerp(2, 10, 1), 10.0f);
    // The blend is taken in double and rounded once: 0.109000005, where std::lerp gives 0.108999997.
    EXPECT_EQ(TVultari::Lerp(0.1f, 0.2f, 0.09f), 0.109000005f);
    EXPECT_EQ(TVultari::AbsInt(-7), 7);
    EXPECT_EQ(TVultari::AbsInt(7), 7);
    EXPECT_EQ(TVultari::AbsInt(0), 0);
    int32_t a = 3, b = 9;
    TVultari::SwapInts(&a, &b);
    EXPECT_EQ(a, 9);
    EXPECT_EQ(b, 3);
}

TEST(MeasureHead, ExtentsIndicesAndLastMarkedVertices)
{
    MiniHead h;
    h.Add(-2, 1, 3);                                           // 0
    h.Add(0, -3, 0.5f, {{W::tip_of_the_nose, 1}});             // 1
    h.Add(0.5f, -2, 0.2f, {{W::tip_of_the_nose, 0.5f}});       // 2: the last marked tip wins
    h.Add(1, 0, -4, {{W::head_bottom, 1}});                    // 3
    h.Add(0, 0, -1, {{W::head_bottom, 1}});                    // 4: the last marked chin wins, though higher
    h.Add(0.3f, -1, -1, {{W::mouth_borders, 1}});              // 5
    h.Add(-0.3f, -1, -1.5f, {{W::mouth_borders, 1}});          // 6
    h.Add(0.3f, -1, -1.2f, {{W::mouth_borders, 1}});           // 7: ties the x maximum: the first is kept
    h.Add(-2.5f, 0.5f, 1, {{W::left_ear_borders, 1}});         // 8
    h.Add(-2.5f, 1.5f, 0.2f, {{W::left_ear_borders, 1}});      // 9
    const THeadExtents e = MeasureHead(h.mesh, h.weights);
    EXPECT_EQ(e.maxX, 1.0f);
    EXPECT_EQ(e.minX, -2.5f);
    EXPECT_EQ(e.maxY, 1.5f);
    EXPECT_EQ(e.minY, -3.0f);
    EXPECT_EQ(e.maxZ, 3.0f);
    EXPECT_EQ(e.chinZ, -1.0f);
    EXPECT_TRUE(e.chinFound);
    EXPECT_EQ(e.noseTipIndex, 6u);  // x float of vertex 2
    EXPECT_TRUE(e.mouth.found);
    EXPECT_EQ(e.mouth.maxA.index, 15u);
    EXPECT_EQ(e.mouth.minA.index, 18u);
    EXPECT_EQ(e.mouth.maxB.index, 17u);
    EXPECT_EQ(e.mouth.minB.index, 20u);
    EXPECT_EQ(e.ear.maxA.index, 28u);  // y of vertex 9
    EXPECT_EQ(e.ear.minA.index, 25u);
    EXPECT_EQ(e.ear.maxB.value, 1.0f);
    EXPECT_EQ(e.ear.minB.value, 0.2f);
    EXPECT_FALSE(e.nose.found);
    EXPECT_EQ(e.nose.maxA.value, -10000.0f);
    EXPECT_EQ(e.nose.minA.value, 10000.0f);
}

// Front and profile points of a head 300 px wide and 400 px high in front, 350 px deep and 400 px
// high in profile, eye 80 px above the nose tip in both.
void SetPhotoPoints(THeadAttributes& p)
{
    SetWorkedAtlasPoints(p);
    p.front[FrontPoint::LeftHead]->x = 350, p.front[FrontPoint::RightHead]->x = 650;  // width 300
    p.front[FrontPoint::TopHead]->y = 100, p.front[FrontPoint::BottomHead]->y = 500;  // height 400
    p.front[FrontPoint::NoseTip]->y = 360, p.front[FrontPoint::LeftEyeCenter]->y = 280;   // eye height 80
    p.profile[ProfilePoint::LeftHead]->x = 200, p.profile[ProfilePoint::RightHead]->x = 550;  // depth 350
    p.profile[ProfilePoint::TopHead]->y = 100, p.profile[ProfilePoint::BottomHead]->y = 500;  // height 400
    p.profile[ProfilePoint::NoseTip]->y = 360, p.profile[ProfilePoint::EyeCenter]->y = 280;    // eye height 80
}

TEST(MeasureScales, WorkedNumbersAndFallbacks)
{
    THeadExtents e;
    e.maxX = 3, e.minX = -3;  // model width 6
    e.maxZ = 4, e.chinZ = -4;  // model height 8
    e.maxY = 3.5f, e.minY = -3.5f;  // model depth 7
    THeadAttributes p;
    SetPhotoPoints(p);
    TReconstructionScales s = MeasureScales(e, p);
    EXPECT_FLOAT_EQ(s.t, 6.0f * 400 / 300 / 8);  // 1
    EXPECT_FLOAT_EQ(s.u, 350.0f * 8 * 1 / 400 / 7);  // 1
    EXPECT_FLOAT_EQ(s.v, 6.0f / 300);
    EXPECT_FLOAT_EQ(s.w, 1.0f);

    p.front[FrontPoint::BottomHead]->y = 420;  // front height 320: t = 0.8, and u uses that t
    s = MeasureScales(e, p);
    EXPECT_FLOAT_EQ(s.t, 0.8f);
    EXPECT_FLOAT_EQ(s.u, 0.8f);
    p.profile[ProfilePoint::EyeCenter]->y = 300;  // profile eye height 60: w = 80 / 60
    EXPECT_FLOAT_EQ(MeasureScales(e, p).w, 80.0f / 60.0f);

    // Zero divisors leave their factor at 1.
    p.front[FrontPoint::BottomHead]->y = p.front[FrontPoint::TopHead]->y;  // front height 0: t = 1, u with t = 1
    s = MeasureScales(e, p);
    EXPECT_EQ(s.t, 1.0f);
    EXPECT_FLOAT_EQ(s.u, 1.0f);
    p.profile[ProfilePoint::NoseTip]->y = p.profile[ProfilePoint::EyeCenter]->y;  // profile eye height 0
    EXPECT_EQ(MeasureScales(e, p).w, 1.0f);
    SetPhotoPoints(p);
    p.front[FrontPoint::RightHead]->x = p.front[FrontPoint::LeftHead]->x;  // front width 0: no t, no v
    s = MeasureScales(e, p);
    EXPECT_EQ(s.t, 1.0f);
    EXPECT_EQ(s.v, 1.0f);
    EXPECT_TRUE(std::isfinite(s.u));
    THeadExtents flat = e;
    flat.maxY = flat.minY = 0;  // model depth 0
    SetPhotoPoints(p);
    EXPECT_EQ(MeasureScales(flat, p).u, 1.0f);
}

// A head border on the photo's edge was clamped there: the head reaches at least that far, so the
// size it bounds is only the least size. A scale that size would lower stays at the generic head's
// proportion, a scale it raises is kept; a scale bounded from both sides is 1. Away from the edge,
// or with the photo's size unknown, the same borders scale as measured.
TEST(MeasureScales, BordersOnThePhotosEdgeBoundTheScales)
{
    THeadExtents e;
    e.maxX = 3, e.minX = -3;  // model width 6
    e.maxZ = 4, e.chinZ = -4;  // model height 8
    e.maxY = 3.5f, e.minY = -3.5f;  // model depth 7
    const TPhotoSize front{1000, 600}, profile{800, 600};
    struct Case {
        const char* what;
        int frontLeft, frontTop, frontBottom;  // the front 300 px wide from frontLeft
        int profileRight, profileDepth, profileTop;  // the profile 400 px high from profileTop
        bool sizesKnown;
        float t, u;
    };
    // t = 6 h / 300 / 8 for front height h; u = d 8 t / 400 / 7 for profile depth d.
    const Case cases[] = {
        {"all inside, a short head", 350, 180, 500, 550, 350, 100, true, 0.8f, 0.8f},
        {"short head, bottom on the last row: t at least 1", 350, 279, 599, 550, 350, 100, true, 1.0f, 1.0f},
        {"tall head, bottom on the last row: t kept", 350, 119, 599, 550, 350, 100, true, 1.2f, 1.2f},
        {"short head, bottom on the last row, sizes unknown", 350, 279, 599, 550, 350, 100, false, 0.8f, 0.8f},
        {"tall head, left border on the first column: t at most 1", 0, 100, 580, 550, 350, 100, true, 1.0f, 1.0f},
        {"short head, left border on the first column: t kept", 0, 180, 500, 550, 350, 100, true, 0.8f, 0.8f},
        {"tall head, width and height both clamped", 0, 0, 480, 550, 350, 100, true, 1.0f, 1.0f},
        {"shallow head, back on the last column: u at least 1", 350, 100, 500, 799, 280, 100, true, 1.0f, 1.0f},
        {"deep head, back on the last column: u kept", 350, 100, 500, 799, 420, 100, true, 1.0f, 1.2f},
        {"shallow head, back mirrored from the first column", 350, 100, 500, 800, 280, 100, true, 1.0f, 1.0f},
        {"shallow head, back beyond the photo", 350, 100, 500, 900, 280, 100, true, 1.0f, 1.0f},
        {"deep head, crown on the first row: u at most 1", 350, 100, 500, 550, 420, 0, true, 1.0f, 1.0f},
        {"shallow head, crown on the first row: u kept", 350, 100, 500, 550, 280, 0, true, 1.0f, 0.8f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        THeadAttributes p;
        SetPhotoPoints(p);
        p.front[FrontPoint::LeftHead]->x = c.frontLeft, p.front[FrontPoint::RightHead]->x = c.frontLeft + 300;
        p.front[FrontPoint::TopHead]->y = c.frontTop, p.front[FrontPoint::BottomHead]->y = c.frontBottom;
        p.profile[ProfilePoint::RightHead]->x = c.profileRight;
        p.profile[ProfilePoint::LeftHead]->x = c.profileRight - c.profileDepth;
        p.profile[ProfilePoint::TopHead]->y = c.profileTop, p.profile[ProfilePoint::BottomHead]->y = c.profileTop + 400;
        const TReconstructionScales s =
            c.sizesKnown ? MeasureScales(e, p, front, profile) : MeasureScales(e, p);
        EXPECT_FLOAT_EQ(s.t, c.t);
        EXPECT_FLOAT_EQ(s.u, c.u);
        EXPECT_FLOAT_EQ(s.v, 6.0f / 300);  // v keeps the photo's own measure
    }
}

// Head borders that no head has (one dragged onto the face) would scale the head's height and depth
// far beyond any head's proportions: t and u stop at 1.5 times or 1 / 1.5 of the generic's, u
// measured with the t that is kept. Proportions within that range pass unchanged (above).
TEST(MeasureScales, ProportionsNoHeadHasAreKeptToTheMost)
{
    THeadExtents e;
    e.maxX = 3, e.minX = -3;  // model width 6
    e.maxZ = 4, e.chinZ = -4;  // model height 8
    e.maxY = 3.5f, e.minY = -3.5f;  // model depth 7
    struct Borders {
        const char* what;
        int frontLeft, frontRight, frontTop, frontBottom, profileLeft, profileRight;
        float t, u;
    };
    const Borders cases[] = {
        {"front borders a fifth apart: the head 5 x as tall", 350, 410, 100, 500, 200, 550, 1.5f, 1.5f},
        {"front borders over the photo: the head a fifth as tall", 0, 1500, 100, 500, 200, 550, 1 / 1.5f, 1 / 1.5f},
        {"front borders a fifth apart, a shallow profile: u from the t kept", 350, 410, 100, 500, 200, 480, 1.5f, 1.2f},
        {"a tall head with a deep profile: u stops, t does not", 350, 590, 100, 500, 200, 650, 1.25f, 1.5f},
        {"front top and bottom borders almost together", 350, 650, 290, 310, 200, 550, 1 / 1.5f, 1 / 1.5f},
        {"profile borders almost together", 350, 650, 100, 500, 540, 550, 1.0f, 1 / 1.5f},
        {"profile borders over the photo", 350, 650, 100, 500, 0, 1500, 1.0f, 1.5f},
    };
    for (const Borders& c : cases) {
        SCOPED_TRACE(c.what);
        THeadAttributes p;
        SetPhotoPoints(p);
        p.front[FrontPoint::LeftHead]->x = c.frontLeft, p.front[FrontPoint::RightHead]->x = c.frontRight;
        p.front[FrontPoint::TopHead]->y = c.frontTop, p.front[FrontPoint::BottomHead]->y = c.frontBottom;
        p.profile[ProfilePoint::LeftHead]->x = c.profileLeft, p.profile[ProfilePoint::RightHead]->x = c.profileRight;
        const TReconstructionScales s = MeasureScales(e, p);
        EXPECT_FLOAT_EQ(s.t, c.t);
        EXPECT_FLOAT_EQ(s.u, c.u);
        EXPECT_FLOAT_EQ(s.v, 6.0f / float(c.frontRight - c.frontLeft));  // v keeps the photo's own measure
    }
}

// The mini head used by the deformation tests: a tip, a vertex outside every region, a vertex on
// the left-eye anchor with full weight, a nose region and a profile consistent with t and u.
struct DeformFixture {
    MiniHead h;
    TGeometry leftEye, rightEye, hairs;
    THeadAttributes points;
    size_t tip, plain, onEye;
    TReconstructionScales s;

    DeformFixture()
    {
        tip = h.Add(0, -2, 0, {{W::tip_of_the_nose, 1}});
        plain = h.Add(1.5f, 2, 3);
        onEye = h.Add(LeftEyeAnchor.x, LeftEyeAnchor.y, LeftEyeAnchor.z, {{W::left_eye, 1}});
        hairs.positions = {0.5f, 1, 4};
        s.t = 1.1f;
        s.u = 1.2f;
        s.v = 0.01f;
        s.w = 1;
        // Points that put every feature where the anchors go under t and u: no displacement.
        SetWorkedAtlasPoints(points);
        const float tx = 0, ty = -2, tz = 0;
        auto fx = [&](float x) { return static_cast<int>(std::lround(500 + (x - tx) / s.v)); };
        auto fy = [&](float z) { return static_cast<int>(std::lround(300 - s.t * (z - tz) / s.v)); };
        auto px = [&](float y) { return static_cast<int>(std::lround(300 + s.u * (y - ty) / s.v)); };
        points.front[FrontPoint::NoseTip]->SetPosition(fx(tx), fy(tz));
        points.profile[ProfilePoint::NoseTip]->SetPosition(px(ty), fy(tz));
        points.front[FrontPoint::LeftEyeCenter]->SetPosition(fx(LeftEyeAnchor.x), fy(LeftEyeAnchor.z));
        points.profile[ProfilePoint::EyeCenter]->SetPosition(px(LeftEyeAnchor.y), fy(LeftEyeAnchor.z));
    }
    TDeformationReport Run()
    {
        return DeformMeshes(h.mesh, leftEye, rightEye, hairs, MeasureHead(h.mesh, h.weights), points, s, h.weights, kGeneric);
    }
};

TEST(DeformMeshes, VertexOutsideEveryRegionIsOnlyScaled)
{
    DeformFixture fx;
    const TDeformationReport r = fx.Run();
    EXPECT_EQ(r.tipY, -2.0f);
    EXPECT_NEAR(fx.h.X(fx.plain), 1.5f, 1e-6);
    EXPECT_NEAR(fx.h.Y(fx.plain), 1.2f * 2, 1e-5);
    EXPECT_NEAR(fx.h.Z(fx.plain), 1.1f * 3, 1e-5);
    // The nose tip ends at (tx, u ty, t tz).
    EXPECT_NEAR(fx.h.Y(fx.tip), 1.2f * -2, 1e-5);
    // The hair is scaled like the head and never moved by a region.
    EXPECT_NEAR(fx.hairs.positions[0], 0.5f, 1e-6);
    EXPECT_NEAR(fx.hairs.positions[1], 1.2f, 1e-5);
    EXPECT_NEAR(fx.hairs.positions[2], 4.4f, 1e-5);
}

TEST(DeformMeshes, AnchorsAreNormalisedLikeTheMesh)
{
    // A vertex on the left-eye anchor, in a photo whose eye sits where the scaled anchor goes, has
    // nothing to move: it ends where plain scaling puts it. Anchors moved without the depth and
    // height scales would shift it by (u - 1) ty and (t - 1) tz.
    DeformFixture fx;
    fx.Run();
    EXPECT_NEAR(fx.h.X(fx.onEye), LeftEyeAnchor.x, 0.006f);
    EXPECT_NEAR(fx.h.Y(fx.onEye), 1.2f * LeftEyeAnchor.y, 0.006f);
    EXPECT_NEAR(fx.h.Z(fx.onEye), 1.1f * LeftEyeAnchor.z, 0.006f);
}

// Each eyeball moves by its eye region's move with the region's weight over the eye (the map's
// peak), and back by its push-back.
TEST(DeformMeshes, EyeballsMoveWithTheirSocketsAndGoBackByTheirPushBack)
{
    DeformFixture fx;
    // The right eye region carries half of its move (its map's peak is 0.5), the left one all.
    fx.h.Add(RightEyeAnchor.x, RightEyeAnchor.y, RightEyeAnchor.z, {{W::right_eye, 0.5f}});
    fx.leftEye.positions = {LeftEyeAnchor.x, LeftEyeAnchor.y, LeftEyeAnchor.z, LeftEyeAnchor.x + 0.3f,
                            LeftEyeAnchor.y + 0.3f, LeftEyeAnchor.z - 0.2f};
    fx.rightEye.positions = {RightEyeAnchor.x, RightEyeAnchor.y, RightEyeAnchor.z, RightEyeAnchor.x - 0.3f,
                             RightEyeAnchor.y + 0.3f, RightEyeAnchor.z + 0.2f};
    const std::vector<float> left0 = fx.leftEye.positions, right0 = fx.rightEye.positions;
    fx.s.t = fx.s.u = 1;
    // Right eye 20 px further right in the photo than the anchor: displacement 0.2 in x.
    THPoint* rightEye = fx.points.front[FrontPoint::RightEyeCenter];
    THPoint* leftEye = fx.points.front[FrontPoint::LeftEyeCenter];
    rightEye->SetPosition(500 + static_cast<int>(std::lround(RightEyeAnchor.x / 0.01f)) + 20,
                          static_cast<int>(std::lround(300 - RightEyeAnchor.z / 0.01f)));
    leftEye->SetPosition(500 + static_cast<int>(std::lround(LeftEyeAnchor.x / 0.01f)),
                         static_cast<int>(std::lround(300 - LeftEyeAnchor.z / 0.01f)));
    fx.points.profile[ProfilePoint::EyeCenter]->SetPosition(300 + static_cast<int>(std::lround((LeftEyeAnchor.y + 2) / 0.01f)),
                                                            static_cast<int>(std::lround(300 - LeftEyeAnchor.z / 0.01f)));
    // The left eye 30 px higher in the photo than the anchor: the left region moves up by 0.3.
    leftEye->SetPosition(leftEye->x, leftEye->y - 30);
    fx.Run();
    const float pushLeft = static_cast<float>(kGeneric.leftEyePushBack);
    const float pushRight = static_cast<float>(kGeneric.rightEyePushBack);
    ASSERT_GT(pushLeft, 0.0f);
    for (size_t k = 0; k < 6; k += 3) {
        EXPECT_NEAR(fx.leftEye.positions[k], left0[k], 0.004f) << "vertex " << k / 3;
        EXPECT_NEAR(fx.leftEye.positions[k + 1], left0[k + 1] + pushLeft, 0.004f) << "vertex " << k / 3;
        EXPECT_NEAR(fx.leftEye.positions[k + 2], left0[k + 2] + 0.3f, 0.004f) << "the whole move, vertex " << k / 3;
        EXPECT_NEAR(fx.rightEye.positions[k], right0[k] + 0.5f * 0.2f, 0.004f) << "half the move, vertex " << k / 3;
        EXPECT_NEAR(fx.rightEye.positions[k + 1], right0[k + 1] + pushRight, 0.004f) << "vertex " << k / 3;
        EXPECT_NEAR(fx.rightEye.positions[k + 2], right0[k + 2], 0.004f) << "vertex " << k / 3;
    }
}

TEST(DeformMeshes, NoseDepthFactorFromTipAndNoseTopDepth)
{
    // Tip at y -2, top of the nose region (its z maximum) at y -1.5: the model nose is 0.5 deep.
    // The photo's nose is 75 px deep at 0.01 units a pixel: 0.75 deep, 1.5 times the model's. A face
    // that the depth scale already deepens needs only the rest of that from the stretch.
    struct Case {
        float faceU, factor;
    };
    for (const Case& c : {Case{1.0f, 1.5f}, Case{1.2f, 1.25f}, Case{0.75f, 2.0f}}) {
        SCOPED_TRACE(c.faceU);
        MiniHead h;
        const size_t tip = h.Add(0, -2, 0, {{W::tip_of_the_nose, 1}, {W::nose, 1}});
        h.Add(0, -1.5f, 0.8f, {{W::nose_borders, 1}, {W::nose, 0.5f}});
        h.Add(0.2f, -1.6f, 0.1f, {{W::nose_borders, 1}});
        THeadAttributes p;
        SetWorkedAtlasPoints(p);
        p.profile[ProfilePoint::NoseTip]->x = 250, p.profile[ProfilePoint::NoseRoot]->x = 325;
        TGeometry none;
        TReconstructionScales s;
        s.v = 0.01f;
        s.u = s.faceU = c.faceU;
        const THeadExtents e = MeasureHead(h.mesh, h.weights);
        const TDeformationReport r = DeformMeshes(h.mesh, none, none, none, e, p, s, h.weights, kGeneric);
        EXPECT_NEAR(r.noseDepthFactor, c.factor, 1e-5);
        // The tip (nose weight 1) is stretched about the generic head's stretch plane; the depth
        // scale then takes it, with the whole head, about the model's origin.
        const float plane = static_cast<float>(kGeneric.noseStretchY);
        EXPECT_NEAR(r.tipY, plane + (-2 - plane) * c.factor, 1e-5);
        EXPECT_NEAR(h.Y(tip), r.tipY * c.faceU, 1e-5);
    }
}

TEST(DeformMeshes, DegenerateRegionsFallBackToOne)
{
    // No region map marks anything: every scale is 1 and nothing becomes NaN.
    MiniHead h;
    h.Add(0, -2, 0, {{W::tip_of_the_nose, 1}});
    h.Add(1, 1, 1, {{W::nose, 1}, {W::mouth, 1}, {W::left_ear, 1}});
    THeadAttributes p;
    SetWorkedAtlasPoints(p);
    TGeometry none;
    TReconstructionScales s;
    s.v = 0.01f;
    const TDeformationReport r = DeformMeshes(h.mesh, none, none, none, MeasureHead(h.mesh, h.weights), p, s, h.weights, kGeneric);
    for (float f : {r.noseDepthFactor, r.noseXScale, r.noseZScale, r.mouthXScale, r.mouthZScale, r.earYScale,
                    r.earZScale, r.leftEyeXScale, r.leftEyeZScale, r.rightEyeXScale, r.rightEyeZScale})
        EXPECT_EQ(f, 1.0f);
    for (float c : h.mesh.positions)
        EXPECT_TRUE(std::isfinite(c));
}

TEST(DeformMeshes, ShallowEarIsScaledInFloats)
{
    // The ear region is 0.5 units deep; a photo ear 75 px deep at 0.01 units a pixel gives 1.5,
    // not the 1.0 that a depth truncated to whole units (0) would leave.
    MiniHead h;
    h.Add(0, -2, 0, {{W::tip_of_the_nose, 1}});
    h.Add(-2.5f, 2.5f, 0.5f, {{W::left_ear_borders, 1}});
    h.Add(-2.5f, 3.0f, 0.9f, {{W::left_ear_borders, 1}});
    THeadAttributes p;
    SetWorkedAtlasPoints(p);
    p.profile[ProfilePoint::EarLeft]->x = 465, p.profile[ProfilePoint::EarRight]->x = 540;
    p.profile[ProfilePoint::EarTop]->y = 270, p.profile[ProfilePoint::EarBottom]->y = 310;  // 40 px high against 0.4 units: 1.0
    TGeometry none;
    TReconstructionScales s;
    s.v = 0.01f;
    const TDeformationReport r = DeformMeshes(h.mesh, none, none, none, MeasureHead(h.mesh, h.weights), p, s, h.weights, kGeneric);
    EXPECT_NEAR(r.earYScale, 1.5f, 1e-5);
    EXPECT_NEAR(r.earZScale, 1.0f, 1e-5);
}

// A head whose skull behind the ears is deeper or flatter than the generic head's, its face the
// same: the face keeps its depth and only the skull takes the change, its back still ending where
// the profile's border puts it, with nothing folded on the way. A head deeper all through, its ear
// as far back as its skull says, is deepened all through. An ear the proportions placed measures
// nothing: the whole head then takes the skull's change, as before the ear was consulted. The
// model's origin stays where it is, as under one scale.
TEST(DeformMeshes, DeeperSkullKeepsTheFace)
{
    // The ear anchor 3.2 behind the tip, the back 7 behind it.
    struct Head {
        MiniHead h;
        size_t tip, cheek, skull[3], back, origin;
        Head()
        {
            const float y = static_cast<float>(kGeneric.leftEar.y) - 3.2f;
            const float eyes = static_cast<float>(0.5 * (kGeneric.leftEye.z + kGeneric.rightEye.z));
            tip = h.Add(0, y, 0, {{W::tip_of_the_nose, 1}});
            h.Add(0, y + 1, eyes - 4, {{W::head_bottom, 1}});
            h.Add(0, y + 2.5f, eyes + 4);
            h.Add(-3, y + 2.5f, 0);
            h.Add(3, y + 2.5f, 0);
            cheek = h.Add(1, y + 1, 1);
            skull[0] = h.Add(0, y + 4, 1.5f), skull[1] = h.Add(0, y + 5, 1.5f), skull[2] = h.Add(0, y + 6, 1.5f);
            back = h.Add(0, y + 7, 0);
            origin = h.Add(0, 0, 1.5f);
        }
    };
    struct Case {
        const char* what;
        int profileDepth, earBehindTip;  // px at 0.02 units a pixel: 350 and 160 are the generic's
        bool earMeasured;
        float u, faceU;
    };
    const Case cases[] = {
        {"deeper skull, ear in place", 420, 160, true, 1.2f, 1.0f},
        {"deeper skull, ear forward", 420, 150, true, 1.2f, 1.0f},
        {"flatter skull, ear in place", 280, 160, true, 0.8f, 1.0f},
        {"much flatter skull, ear in place", 240, 160, true, 240.0f / 350, 1.0f},
        {"deeper all through", 420, 192, true, 1.2f, 1.2f},
        {"deeper skull, ear placed by the proportions", 420, 160, false, 1.2f, 1.2f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Head head;
        MiniHead& moved = head.h;
        const size_t cheek = head.cheek, back = head.back;
        const THeadExtents e = MeasureHead(moved.mesh, moved.weights);
        THeadAttributes p;
        SetPhotoPoints(p);  // front 300 x 400 px, profile 400 px high: t = 1, 0.02 units a pixel
        // The eyes halfway, as on the head: the same height scale above and below them.
        p.front[FrontPoint::LeftEyeCenter]->y = p.front[FrontPoint::RightEyeCenter]->y = 300;
        p.profile[ProfilePoint::LeftHead]->x = 200, p.profile[ProfilePoint::RightHead]->x = 200 + c.profileDepth;
        p.profile[ProfilePoint::NoseTip]->x = 200, p.profile[ProfilePoint::EarCenter]->x = 200 + c.earBehindTip;
        TMeasuredPoints measured;
        measured.profileEar = c.earMeasured;
        const TReconstructionScales s = MeasureScales(e, p, {}, {}, measured, &kGeneric);
        ASSERT_FLOAT_EQ(s.t, 1.0f);
        EXPECT_FLOAT_EQ(s.u, c.u);
        EXPECT_NEAR(s.faceU, c.faceU, 1e-5);
        TGeometry none;
        DeformMeshes(moved.mesh, none, none, none, e, p, s, moved.weights, kGeneric);
        const float tip = moved.Y(head.tip);
        EXPECT_NEAR(moved.Y(cheek) - tip, c.faceU * 1.0f, 1e-4) << "the cheek, 1 behind the tip";
        EXPECT_NEAR(moved.Y(back) - tip, s.u * 7.0f, 1e-4) << "the back";
        EXPECT_NEAR(moved.Y(head.origin), 0.0f, 1e-5) << "the model's origin keeps its place";
        float before = moved.Y(cheek);
        for (size_t v : head.skull) {
            EXPECT_GT(moved.Y(v), before) << "vertex " << v;
            before = moved.Y(v);
            EXPECT_FLOAT_EQ(moved.Z(v), 1.5f);
        }
        EXPECT_GT(moved.Y(back), before);
    }
}

// A head whose lower face is longer or shorter than the generic head's, or whose crown is higher:
// each part takes its own height scale from the eye line, so the chin reaches the photo's chin and
// the crown the photo's crown, the other part keeping its height. Below the eyes the scale turns
// over the mid-face, nothing folded; one scale above and below is the plain height scale t, and so is
// a difference that the rows' whole pixels cannot tell from none.
TEST(DeformMeshes, LowerFaceFollowsTheChin)
{
    const float eyeZ = static_cast<float>(0.5 * (kGeneric.leftEye.z + kGeneric.rightEye.z));
    struct Head {
        MiniHead h;
        size_t brow, crown, forehead, chin, below[5];  // below the eyes, top down, the last under the chin
        float belowZ[5];
        explicit Head(float eyes) : belowZ{eyes - 0.3f, 0, -1, eyes - 3.5f, eyes - 5}
        {
            below[1] = h.Add(0, -2, 0, {{W::tip_of_the_nose, 1}});
            chin = h.Add(0, -1, eyes - 4, {{W::head_bottom, 1}});
            crown = h.Add(0, 0.5f, eyes + 4);
            h.Add(-3, 0.5f, 0);
            h.Add(3, 0.5f, 0);
            brow = h.Add(0, -1.5f, eyes);
            forehead = h.Add(0, -1.5f, eyes + 2);
            below[0] = h.Add(0.5f, -1.6f, belowZ[0]), below[2] = h.Add(0, -1.8f, belowZ[2]);
            below[3] = h.Add(0, -1.2f, belowZ[3]), below[4] = h.Add(0, 0.5f, belowZ[4]);
        }
    };
    struct Case {
        const char* what;
        int top, bottom;  // front rows; the eyes on row 275, 0.02 units a pixel: 200 px are the generic's 4 units
        float tAbove, tBelow, t;
    };
    const Case cases[] = {
        {"longer lower face", 75, 535, 1.0f, 1.3f, 1.15f},
        {"shorter lower face", 75, 435, 1.0f, 0.8f, 0.9f},
        {"higher crown", 35, 475, 1.2f, 1.0f, 1.1f},
        {"taller all through", 55, 495, 1.1f, 1.1f, 1.1f},
        {"a chin two pixels lower, within the rows' pixels", 75, 477, 6.0f * 402 / 300 / 8, 6.0f * 402 / 300 / 8,
         6.0f * 402 / 300 / 8},
        {"a chin dragged far down: no head is 1.5 times as long below the eyes", 75, 580, 6.0f * 505 / 300 / 8,
         6.0f * 505 / 300 / 8, 6.0f * 505 / 300 / 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Head head(eyeZ);
        MiniHead& moved = head.h;
        const THeadExtents e = MeasureHead(moved.mesh, moved.weights);
        THeadAttributes p;
        SetPhotoPoints(p);
        p.front[FrontPoint::LeftEyeCenter]->y = p.front[FrontPoint::RightEyeCenter]->y = 275;
        p.front[FrontPoint::TopHead]->y = c.top, p.front[FrontPoint::BottomHead]->y = c.bottom;
        TMeasuredPoints measured;
        measured.profileEar = false;  // one depth scale: only the height is bent here
        const TReconstructionScales s = MeasureScales(e, p, {}, {}, measured, &kGeneric);
        EXPECT_FLOAT_EQ(s.t, c.t);
        EXPECT_NEAR(s.tAbove, c.tAbove, 1e-5);
        EXPECT_NEAR(s.tBelow, c.tBelow, 1e-5);
        TGeometry none;
        DeformMeshes(moved.mesh, none, none, none, e, p, s, moved.weights, kGeneric);
        const float brow = moved.Z(head.brow), tip = moved.Z(head.below[1]);
        EXPECT_NEAR(moved.Z(head.crown) - brow, c.tAbove * 4, 1e-4) << "the crown";
        EXPECT_NEAR(moved.Z(head.forehead) - brow, c.tAbove * 2, 1e-4) << "the forehead";
        EXPECT_NEAR(brow - moved.Z(head.chin), c.tBelow * 4, 1e-4) << "the chin";
        float above = brow;
        for (int k = 0; k < 5; ++k) {
            const float z = moved.Z(head.below[k]);
            if (c.tAbove == c.tBelow) {
                EXPECT_NEAR(z - tip, c.t * head.belowZ[k], 1e-4) << "below the eyes, " << k;
            }
            EXPECT_LT(z, above) << "below the eyes, " << k;
            above = z;
        }
        EXPECT_GT(moved.Z(head.below[3]), moved.Z(head.chin));
        EXPECT_LT(moved.Z(head.below[4]), moved.Z(head.chin));
        EXPECT_NEAR(moved.Y(head.forehead) - moved.Y(head.below[1]), s.u * 0.5f, 1e-4) << "depth as before";
    }
}

}  // namespace
