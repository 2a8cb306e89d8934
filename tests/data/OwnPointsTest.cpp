// The reconstruction's own measurement and deformation and the texture builder's own fit (core),
// run on the generic head's own feature points, must give the generic head back. The builder's fit
// of photos of the generic head must give every corner of the layout the place those photos show
// it, and keep the layout's scale. This calls the builder itself (core), so the data and the code
// cannot disagree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "collada/Colladaasset.h"
#include "core/Deformation.h"
#include "core/Texturecreator.h"
#include "core/Weightmanager.h"
#include "platform/base/Numbers.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "testing/HeadInvariants.h"
#include "tools/genhead/Generic.h"

namespace {

// Orthographic photos at 150 pixels a unit, the front view (x, -z) and the side view from +x
// (y, -z), centred as the identity test's photos are.
struct Camera {
    double cx, cy;
};
constexpr double kPixelsPerUnit = 150;
constexpr Camera kFront{600, 640}, kSide{520, 640};
// How far the reconstruction of the generic head from its own photos may move a texture coordinate.
constexpr double kIdentityTolerance = 0.02;

// The generic head's facts as the program reads them.
const TGenericHead& Facts() {
    static const TGenericHead facts = ReadGenericHead(std::string("./") + kGenericHeadPath);
    return facts;
}

void ReadPoints(THeadAttributes& points) {
    const TGenericHead& g = Facts();
    for (size_t i = 0; i < g.front.size(); ++i)
        points.front[i]->SetPosition(RoundHalfEven(kFront.cx + kPixelsPerUnit * g.front[i].x),
                                     RoundHalfEven(kFront.cy - kPixelsPerUnit * g.front[i].z));
    for (size_t i = 0; i < g.profile.size(); ++i)
        points.profile[i]->SetPosition(RoundHalfEven(kSide.cx + kPixelsPerUnit * g.profile[i].y),
                                       RoundHalfEven(kSide.cy - kPixelsPerUnit * g.profile[i].z));
}

// The depth (y) of a mesh's surface seen from the front at (x, z): the nearest of its triangles
// over that point; NaN where it shows nothing.
double FrontDepth(const TGeometry& g, double x, double z) {
    const std::vector<float>& p = g.positions;
    double nearest = std::nan("");
    for (size_t t = 0; t + 2 < g.triangles.size(); t += 3) {
        const size_t a = 3 * size_t(g.triangles[t]), b = 3 * size_t(g.triangles[t + 1]), c = 3 * size_t(g.triangles[t + 2]);
        const double area = (p[b] - p[a]) * (p[c + 2] - p[a + 2]) - (p[c] - p[a]) * (p[b + 2] - p[a + 2]);
        if (std::abs(area) < 1e-12) continue;
        const double wb = ((x - p[a]) * (p[c + 2] - p[a + 2]) - (p[c] - p[a]) * (z - p[a + 2])) / area;
        const double wc = ((p[b] - p[a]) * (z - p[a + 2]) - (x - p[a]) * (p[b + 2] - p[a + 2])) / area;
        if (wb < 0 || wc < 0 || wb + wc > 1) continue;
        const double y = p[a + 1] + wb * (p[b + 1] - p[a + 1]) + wc * (p[c + 1] - p[a + 1]);
        if (std::isnan(nearest) || y < nearest) nearest = y;
    }
    return nearest;
}

std::vector<float> ReadMap(const char* name) {
    std::vector<float> out;
    TWeightManager::LoadWeights(out, std::string("data/weights/") + name + ".wgh");
    return out;
}

class OwnPoints : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(asset.Load("data/models/head.dae"));
        ReadPoints(points);
        for (int slot = 0; slot < TWeightManager::SlotCount; ++slot) maps.weights[slot] = ReadMap(kWeightNames[slot]);
        // Both photos show the head at one scale, so the builder scales neither.
        ASSERT_EQ(std::abs(points.front[FrontPoint::BottomHead]->y - points.front[FrontPoint::TopHead]->y),
                  std::abs(points.profile[ProfilePoint::BottomHead]->y - points.profile[ProfilePoint::TopHead]->y));
        layout = TTextureCreator::MeasureAtlas(&points);
        ASSERT_TRUE(layout.valid) << layout.problem;
    }
    // Atlas coordinates of a pixel of the front photo, of the mirrored and of the plain profile.
    TTexCoord FrontAt(double x, double y) const {
        return {float(x - points.front[FrontPoint::LeftEyeLeft]->x + layout.Q + layout.M) / layout.Wa,
                1.0f - float(y - points.front[FrontPoint::TopHead]->y + layout.M) / layout.Ha};
    }
    TTexCoord LeftAt(double x, double y) const {
        return {float(points.profile[ProfilePoint::RightHead]->x + layout.M - x) / layout.Wa,
                1.0f - float(y - points.profile[ProfilePoint::TopHead]->y + layout.M) / layout.Ha};
    }
    TTexCoord RightAt(double x, double y) const {
        return {float(x + layout.Wa - layout.M - points.profile[ProfilePoint::RightHead]->x) / layout.Wa,
                1.0f - float(y - points.profile[ProfilePoint::TopHead]->y + layout.M) / layout.Ha};
    }
    TTexCoord Front(const THPoint* p) const { return FrontAt(p->x, p->y); }
    TTexCoord ProfileLeft(const THPoint* p) const { return LeftAt(p->x, p->y); }
    TTexCoord ProfileRight(const THPoint* p) const { return RightAt(p->x, p->y); }
    TGeometry& Head() { return *asset.geometries.geometries[0]; }

    TXMLDocument doc;
    TColladaAsset asset{&doc};
    THeadAttributes points;
    TWeightManager maps{TWeightManager::NoFiles{}};
    TAtlasLayout layout;
};

TEST_F(OwnPoints, TheGlobalFitOfItsOwnPhotosKeepsTheLayoutsScale) {
    // The builder's scale: the photo's face size over the face outline's spans in the layout.
    const std::vector<float>& uv = Head().texCoords;
    const std::vector<float>& face = maps.weights[TWeightManager::face_borders];
    float maxU = 0, minU = 1, maxV = 0, minV = 1;
    for (size_t k = 0; k < uv.size(); ++k) {
        if (!(face[k / 2] > 0)) continue;
        if (k % 2 == 0) maxU = std::max(maxU, uv[k]), minU = std::min(minU, uv[k]);
        else maxV = std::max(maxV, uv[k]), minV = std::min(minV, uv[k]);
    }
    const double Ws = points.front[FrontPoint::RightHead]->x - points.front[FrontPoint::LeftHead]->x;
    const double Hs = points.front[FrontPoint::BottomHead]->y - points.front[FrontPoint::TopHead]->y;
    const double su = (Ws / layout.Wa) / (maxU - minU) * 1.15, sv = (Hs / layout.Ha) / (maxV - minV);
    std::printf("global fit scale %.4f %.4f\n", su, sv);
    EXPECT_NEAR(su, 1.0, 0.01);
    EXPECT_NEAR(sv, 1.0, 0.01);
}

// The builder moves the layout's features from its fixed references onto the photos' features; the
// layout is that move undone, so the fit of its own photos gives every corner the place its photos
// show it: on the face between the eyes' outer corners (short of the cross-fade, 0.45 units, to the
// side photo) the front photo's, on each ear the side photo's (mirrored for the left ear).
// The same holds as the program runs, the head deformed from its own points first and the fit
// following it: every corner ends where the photos show the deformed corner.
void ExpectCornersWherePhotosShowThem(const std::vector<float>& p, const std::vector<float>& uv, const THeadAttributes& points,
                                      const TAtlasLayout& layout, const TWeightManager& maps);

TEST_F(OwnPoints, TheWholeFitOfItsOwnPhotosPutsEveryCornerWhereThePhotosShowIt) {
    for (const bool deformed : {false, true}) {
        SCOPED_TRACE(deformed ? "deformed first" : "undeformed");
        TXMLDocument d;
        TColladaAsset a{&d};
        ASSERT_TRUE(a.Load("data/models/head.dae"));
        TGeometry& head = *a.geometries.geometries[0];
        TDeformedHead moved;
        if (deformed) {
            TGeometry leftEye, rightEye, hairs;
            moved.before = head.positions;
            const THeadExtents extents = MeasureHead(head, maps);
            const TReconstructionScales scales = MeasureScales(extents, points);
            moved.heightScale = scales.t;
            moved.depthScale = scales.u;
            DeformMeshes(head, leftEye, rightEye, hairs, extents, points, scales, maps, Facts());
        }
        TTextureCreator::FitTextureCoordinates(&points, layout, &head, nullptr, &maps, Facts(), deformed ? &moved : nullptr);
        ExpectCornersWherePhotosShowThem(head.positions, head.texCoords, points, layout, maps);
    }
}

void ExpectCornersWherePhotosShowThem(const std::vector<float>& p, const std::vector<float>& uv, const THeadAttributes& points,
                                      const TAtlasLayout& layout, const TWeightManager& maps) {
    auto FrontAt = [&](double x, double y) {
        return TTexCoord{float(x - points.front[FrontPoint::LeftEyeLeft]->x + layout.Q + layout.M) / layout.Wa,
                         1.0f - float(y - points.front[FrontPoint::TopHead]->y + layout.M) / layout.Ha};
    };
    auto LeftAt = [&](double x, double y) {
        return TTexCoord{float(points.profile[ProfilePoint::RightHead]->x + layout.M - x) / layout.Wa,
                         1.0f - float(y - points.profile[ProfilePoint::TopHead]->y + layout.M) / layout.Ha};
    };
    auto RightAt = [&](double x, double y) {
        return TTexCoord{float(x + layout.Wa - layout.M - points.profile[ProfilePoint::RightHead]->x) / layout.Wa,
                         1.0f - float(y - points.profile[ProfilePoint::TopHead]->y + layout.M) / layout.Ha};
    };
    const THPoint* const* f = points.front;
    const double xl = (f[FrontPoint::LeftEyeLeft]->x - kFront.cx) / kPixelsPerUnit + 0.45;
    const double xr = (f[FrontPoint::RightEyeRight]->x - kFront.cx) / kPixelsPerUnit - 0.45;
    const double zChin = (kFront.cy - f[FrontPoint::BottomHead]->y) / kPixelsPerUnit;
    auto frontBand = [&](size_t v) { return p[3 * v] > xl && p[3 * v] < xr && p[3 * v + 1] < -0.2 && p[3 * v + 2] > zChin; };
    auto photoX = [&](const Camera& c, double a) { return c.cx + kPixelsPerUnit * a; };
    auto photoY = [&](const Camera& c, size_t v) { return c.cy - kPixelsPerUnit * p[3 * v + 2]; };
    struct Region {
        const char* what;
        std::function<bool(size_t)> in;
        std::function<TTexCoord(size_t)> seen;
    };
    const Region regions[] = {
        {"face", frontBand, [&](size_t v) { return FrontAt(photoX(kFront, p[3 * v]), photoY(kFront, v)); }},
        {"left ear", [&](size_t v) { return maps.weights[TWeightManager::left_ear][v] > 0.5f; },
         [&](size_t v) { return LeftAt(photoX(kSide, p[3 * v + 1]), photoY(kSide, v)); }},
        {"right ear", [&](size_t v) { return maps.weights[TWeightManager::right_ear][v] > 0.5f; },
         [&](size_t v) { return RightAt(photoX(kSide, p[3 * v + 1]), photoY(kSide, v)); }},
    };
    for (const Region& r : regions) {
        double worst = 0;
        size_t worstAt = 0, count = 0;
        for (size_t v = 0; v < p.size() / 3; ++v) {
            if (!r.in(v)) continue;
            ++count;
            const TTexCoord want = r.seen(v);
            const double d = std::max(std::abs(uv[2 * v] - want.u), std::abs(uv[2 * v + 1] - want.v));
            if (d > worst) worst = d, worstAt = v;
        }
        std::printf("%-9s %5zu corners end within %.4f of their photos\n", r.what, count, worst);
        EXPECT_GT(count, 300u) << r.what;
        EXPECT_LT(worst, kIdentityTolerance) << r.what << ": corner " << worstAt << " at " << p[3 * worstAt] << " "
                                             << p[3 * worstAt + 1] << " " << p[3 * worstAt + 2];
    }
}

TEST_F(OwnPoints, TheWholeFitOfItsOwnPhotosPutsEveryFeatureOnThePhotos) {
    TTextureCreator::FitTextureCoordinates(&points, layout, &Head(), nullptr, &maps, Facts());
    const std::vector<float>& uv = Head().texCoords;
    // Where the features ended: the middle of each rim, and the nose tip.
    auto middle = [&](int slot) {
        double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
        for (size_t k = 0; k < uv.size(); ++k)
            if (maps.weights[slot][k / 2] > 0) {
                lo[k % 2] = std::min<double>(lo[k % 2], uv[k]);
                hi[k % 2] = std::max<double>(hi[k % 2], uv[k]);
            }
        return TTexCoord{float(0.5 * (lo[0] + hi[0])), float(0.5 * (lo[1] + hi[1]))};
    };
    size_t tip = 0;
    for (size_t v = 0; v < maps.weights[TWeightManager::tip_of_the_nose].size(); ++v)
        if (maps.weights[TWeightManager::tip_of_the_nose][v] > 0) tip = v;
    const THPoint* const* f = points.front;
    const THPoint* ear = points.profile[ProfilePoint::EarCenter];
    struct Case {
        const char* what;
        TTexCoord got, want;
    };
    const Case cases[] = {{"nose tip", {uv[2 * tip], uv[2 * tip + 1]}, Front(f[FrontPoint::NoseTip])},
                          {"left eye", middle(TWeightManager::left_eye_borders), Front(f[FrontPoint::LeftEyeCenter])},
                          {"right eye", middle(TWeightManager::right_eye_borders), Front(f[FrontPoint::RightEyeCenter])},
                          {"mouth", middle(TWeightManager::mouth_borders), Front(f[FrontPoint::MouthCenter])},
                          {"left ear", middle(TWeightManager::left_ear_borders), ProfileLeft(ear)},
                          {"right ear", middle(TWeightManager::right_ear_borders), ProfileRight(ear)}};
    double worst = 0;
    for (const Case& c : cases) {
        const double d = std::hypot(c.got.u - c.want.u, c.got.v - c.want.v);
        EXPECT_LT(d, 0.012) << c.what << " ends at " << c.got.u << " " << c.got.v << ", the photos have it at "
                            << c.want.u << " " << c.want.v;
        worst = std::max(worst, d);
    }
    std::printf("features end within %.4f of the photos\n", worst);
}

TEST_F(OwnPoints, ReconstructingTheGenericHeadFromItsOwnPointsMovesItLittle) {
    TGeometry& head = Head();
    const std::vector<float> original = head.positions;
    TGeometry leftEye, rightEye, hairs;
    const THeadExtents extents = MeasureHead(head, maps);
    const TReconstructionScales scales = MeasureScales(extents, points);
    EXPECT_NEAR(scales.t, 1.0, 0.01);
    EXPECT_NEAR(scales.u, 1.0, 0.01);
    EXPECT_NEAR(scales.w, 1.0, 0.02);
    const TDeformationReport r = DeformMeshes(head, leftEye, rightEye, hairs, extents, points, scales, maps, Facts());
    EXPECT_NEAR(r.noseDepthFactor, 1.0, 0.05) << "the nose stretch of its own photos";
    for (float s : {r.noseXScale, r.noseZScale, r.mouthXScale, r.mouthZScale, r.earZScale, r.earYScale,
                    r.leftEyeXScale, r.leftEyeZScale, r.rightEyeXScale, r.rightEyeZScale})
        EXPECT_NEAR(s, 1.0, 0.06);
    double worst = 0;
    size_t worstAt = 0;
    for (size_t k = 0; k + 2 < original.size(); k += 3) {
        const double d = std::hypot(head.positions[k] - original[k], head.positions[k + 1] - original[k + 1],
                                    head.positions[k + 2] - original[k + 2]);
        if (d > worst) worst = d, worstAt = k / 3;
    }
    EXPECT_LT(worst, 0.08) << "corner " << worstAt << " moved furthest";
    std::printf("identity: t %.4f u %.4f w %.4f nose depth %.4f, largest move %.4f units\n", scales.t, scales.u,
                scales.w, r.noseDepthFactor, worst);
}

// The reconstruction of its own photos pushes each eyeball back into its opening: its front ends on
// the eye anchor that the head's opening was made around, the whole eyeball moved little from there.
TEST_F(OwnPoints, ReconstructingItsOwnPointsPutsTheEyeballsIntoTheirOpenings) {
    TXMLDocument eyesDoc;
    TColladaAsset eyes{&eyesDoc};
    ASSERT_TRUE(eyes.Load("data/models/eyes.dae"));
    ASSERT_EQ(eyes.geometries.geometries.size(), 2u);
    TGeometry& right = *eyes.geometries.geometries[0];
    TGeometry& left = *eyes.geometries.geometries[1];
    const std::vector<float> storedRight = right.positions, storedLeft = left.positions;
    TGeometry hairs;
    const THeadExtents extents = MeasureHead(Head(), maps);
    const TReconstructionScales scales = MeasureScales(extents, points);
    DeformMeshes(Head(), left, right, hairs, extents, points, scales, maps, Facts());
    struct Case {
        const char* what;
        const TGeometry& eye;
        const std::vector<float>& stored;
        TModelPoint anchor;
        double pushBack;
    };
    const Case cases[] = {{"right eyeball", right, storedRight, Facts().rightEye, Facts().rightEyePushBack},
                          {"left eyeball", left, storedLeft, Facts().leftEye, Facts().leftEyePushBack}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float>& p = c.eye.positions;
        ASSERT_EQ(p.size(), c.stored.size());
        double worst = 0;
        for (size_t k = 0; k + 2 < p.size(); k += 3)
            worst = std::max(worst, std::hypot(p[k] - c.stored[k], p[k + 1] - (c.stored[k + 1] + c.pushBack),
                                               p[k + 2] - c.stored[k + 2]));
        // The eye centre is the iris on the eyeball's front, in the middle of the opening.
        const double depth = FrontDepth(c.eye, c.anchor.x, c.anchor.z);
        ASSERT_FALSE(std::isnan(depth)) << "no eyeball in front of the eye centre";
        const double d = depth - c.anchor.y;
        EXPECT_LT(std::abs(d), 0.05) << "the eyeball's front at the eye centre ends at depth " << depth;
        EXPECT_LT(worst, 0.08) << "the eyeball moved away from its place in the head";
        // Seen from the front, the eyeball fills its opening in the deformed head and shows nowhere else.
        const EyeballView view = LookAtEyeball(Head(), p);
        EXPECT_TRUE(view.InItsOpening()) << view.Describe();
        std::printf("%s: %s\n", c.what, view.Describe().c_str());
        std::printf("%s: front at its anchor %+.4f deeper than the anchor, largest move from its place %.4f\n", c.what, d,
                    worst);
    }
}

// The front recognizer places what it does not detect by the generic head's proportions; they
// must be those of its own points, or the reconstruction of a photo of it would not give it back.
TEST_F(OwnPoints, TheFrontRecognizersProportionsAreThoseOfItsOwnPoints) {
    const THPoint* const* f = points.front;
    const double width = f[FrontPoint::RightHead]->x - f[FrontPoint::LeftHead]->x;
    const double height = f[FrontPoint::BottomHead]->y - f[FrontPoint::TopHead]->y;
    // One pixel of the 150-pixel-a-unit photo, in head widths.
    const double tolerance = 1.0 / width;
    const TFrontProportions& pr = Facts().proportions;
    EXPECT_NEAR(height / width, pr.heightPerWidth, 2 * tolerance);
    EXPECT_NEAR((f[FrontPoint::LeftHead]->y - f[FrontPoint::TopHead]->y) / height, pr.extremesBelowCrown, 2 * tolerance);
    ASSERT_EQ(pr.centreShares.size(), 6u);
    ASSERT_EQ(pr.borderOffsets.size(), 16u);
    for (const TFrontShare& s : pr.centreShares) {
        EXPECT_NEAR((f[s.point]->x - f[FrontPoint::LeftHead]->x) / width, s.fx, tolerance) << f[s.point]->name;
        EXPECT_NEAR((f[s.point]->y - f[FrontPoint::TopHead]->y) / height, s.fy, tolerance) << f[s.point]->name;
    }
    for (const TFrontOffset& o : pr.borderOffsets) {
        EXPECT_NEAR((f[o.point]->x - f[o.from]->x) / width, o.dx, tolerance) << f[o.point]->name;
        EXPECT_NEAR((f[o.point]->y - f[o.from]->y) / width, o.dy, tolerance) << f[o.point]->name;
    }
}

}  // namespace
