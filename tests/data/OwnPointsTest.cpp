// The reconstruction's own measurement and deformation and the texture builder's own fit (core),
// run on the generic head's own feature points, must give the generic head back. The atlas it would
// compose from photos of the generic head must have every feature near the layout's fixed
// reference, so that its global fit keeps the layout (scale 1, a small shift) and its local moves
// are small. This calls the builder itself (core), so the data and the code cannot disagree.
//
// Each feature's distance from its reference is the move the builder gives that feature's disc
// (its global shift for the nose), so the identity's tolerance of 0.02 for texture coordinates
// bounds every one of them. Closer is not possible for all: the anchors put the eyes 0.154 units
// below the ears, and the atlas keeps that order (its front and side parts are aligned at the top
// of the head), while the references have the ears' v 0.012 below the eyes'.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "collada/Colladaasset.h"
#include "core/Deformation.h"
#include "core/Texturecreator.h"
#include "core/Weightmanager.h"
#include "platform/base/Numbers.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/FrontProportions.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "tests/e2e/HeadInvariants.h"
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

bool ReadPoints(THeadAttributes& points) {
    std::ifstream in("data/models/head_features.txt");
    std::string line;
    int seen = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream l(line);
        std::string set, index, t[5];
        l >> set >> index >> t[0] >> t[1] >> t[2] >> t[3] >> t[4];
        const auto i = ParseInt(index);
        const auto vx = ParseDouble(t[3]), vy = ParseDouble(t[4]);
        if (!i || !vx || !vy) return false;
        const Camera& c = set == "front" ? kFront : kSide;
        THPoint* p = set == "front" ? (*i < 27 ? points.front[*i] : nullptr) : (*i < 14 ? points.profile[*i] : nullptr);
        if (!p || *i < 0) return false;
        p->x = RoundHalfEven(c.cx + kPixelsPerUnit * *vx);
        p->y = RoundHalfEven(c.cy + kPixelsPerUnit * *vy);
        ++seen;
    }
    return seen == 41;
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
        ASSERT_TRUE(ReadPoints(points));
        for (int slot = 0; slot < TWeightManager::SlotCount; ++slot) maps.weights[slot] = ReadMap(kWeightNames[slot]);
        // Both photos show the head at one scale, so the builder scales neither.
        ASSERT_EQ(std::abs(points.front[23]->y - points.front[24]->y), std::abs(points.profile[13]->y - points.profile[12]->y));
        layout = TTextureCreator::MeasureAtlas(&points);
        ASSERT_TRUE(layout.valid) << layout.problem;
    }
    TTexCoord Front(const THPoint* p) const {
        return {float(p->x - points.front[2]->x + layout.Q + layout.M) / layout.Wa,
                1.0f - float(p->y - points.front[24]->y + layout.M) / layout.Ha};
    }
    TTexCoord ProfileLeft(const THPoint* p) const {
        return {float(points.profile[11]->x + layout.M - p->x) / layout.Wa,
                1.0f - float(p->y - points.profile[12]->y + layout.M) / layout.Ha};
    }
    TTexCoord ProfileRight(const THPoint* p) const {
        return {float(p->x + layout.Wa - layout.M - points.profile[11]->x) / layout.Wa,
                1.0f - float(p->y - points.profile[12]->y + layout.M) / layout.Ha};
    }
    TGeometry& Head() { return *asset.geometries.geometries[0]; }

    TXMLDocument doc;
    TColladaAsset asset{&doc};
    THeadAttributes points;
    TWeightManager maps{TWeightManager::NoFiles{}};
    TAtlasLayout layout;
};

TEST_F(OwnPoints, TheAtlasOfItsOwnPhotosHasEveryFeatureOnItsReference) {
    struct Case {
        const char* feature;
        TTexCoord atlas, reference;
    };
    const THPoint* const* f = points.front;
    const THPoint* ear = points.profile[5];
    const Case cases[] = {
        {"nose tip", Front(f[16]), {0.5151004f, 0.42300156f}},  {"left eye", Front(f[1]), {0.4429995f, 0.5326073f}},
        {"right eye", Front(f[6]), {0.5828313f, 0.52675647f}},  {"mouth", Front(f[11]), {0.5113153f, 0.30832553f}},
        {"left ear", ProfileLeft(ear), {0.20125f, 0.5175644f}}, {"right ear", ProfileRight(ear), {0.8056777f, 0.5175644f}},
    };
    double worst = 0;
    for (const Case& c : cases) {
        const double du = c.atlas.u - c.reference.u, dv = c.atlas.v - c.reference.v;
        std::printf("  %-9s atlas (%.4f, %.4f), reference (%.4f, %.4f), off by (%+.4f, %+.4f)\n", c.feature, c.atlas.u,
                    c.atlas.v, c.reference.u, c.reference.v, du, dv);
        EXPECT_LT(std::abs(du), kIdentityTolerance) << c.feature;
        EXPECT_LT(std::abs(dv), kIdentityTolerance) << c.feature;
        worst = std::max({worst, std::abs(du), std::abs(dv)});
    }
    std::printf("atlas %d x %d: features within %.4f of the references\n", layout.Wa, layout.Ha, worst);
}

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
    const double Ws = points.front[26]->x - points.front[25]->x, Hs = points.front[23]->y - points.front[24]->y;
    const double su = (Ws / layout.Wa) / (maxU - minU) * 1.15, sv = (Hs / layout.Ha) / (maxV - minV);
    std::printf("global fit scale %.4f %.4f\n", su, sv);
    EXPECT_NEAR(su, 1.0, 0.01);
    EXPECT_NEAR(sv, 1.0, 0.01);
}

TEST_F(OwnPoints, TheWholeFitOfItsOwnPhotosGivesTheLayoutBack) {
    const std::vector<float> generic = Head().texCoords;
    TTextureCreator::FitTextureCoordinates(&points, layout, &Head(), nullptr, &maps);
    const std::vector<float>& fitted = Head().texCoords;
    ASSERT_EQ(fitted.size(), generic.size());
    double worst = 0, sum = 0;
    size_t worstAt = 0;
    for (size_t k = 0; k < fitted.size(); ++k) {
        const double d = std::abs(fitted[k] - generic[k]);
        sum += d;
        if (d > worst) worst = d, worstAt = k;
    }
    std::printf("fit of its own photos: texture coordinates move by at most %.4f (float %zu), mean %.5f\n", worst,
                worstAt, sum / fitted.size());
    EXPECT_LT(worst, kIdentityTolerance) << "float " << worstAt << ": " << fitted[worstAt] << " against " << generic[worstAt];
}

TEST_F(OwnPoints, TheWholeFitOfItsOwnPhotosPutsEveryFeatureOnThePhotos) {
    TTextureCreator::FitTextureCoordinates(&points, layout, &Head(), nullptr, &maps);
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
    for (size_t v = 0; v < maps.weights[0].size(); ++v)
        if (maps.weights[0][v] > 0) tip = v;
    const THPoint* const* f = points.front;
    struct Case {
        const char* what;
        TTexCoord got, want;
    };
    const Case cases[] = {{"nose tip", {uv[2 * tip], uv[2 * tip + 1]}, Front(f[16])},
                          {"left eye", middle(3), Front(f[1])},
                          {"right eye", middle(5), Front(f[6])},
                          {"mouth", middle(9), Front(f[11])},
                          {"left ear", middle(11), ProfileLeft(points.profile[5])},
                          {"right ear", middle(13), ProfileRight(points.profile[5])}};
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
    const TDeformationReport r = DeformMeshes(head, leftEye, rightEye, hairs, extents, points, scales, maps);
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
    DeformMeshes(Head(), left, right, hairs, extents, points, scales, maps);
    struct Case {
        const char* what;
        const TGeometry& eye;
        const std::vector<float>& stored;
        float anchor[3];
        double pushBack;
    };
    const Case cases[] = {{"right eyeball", right, storedRight, {1.252f, -0.732f, 0.502f}, 0.45 * 0.3},
                          {"left eyeball", left, storedLeft, {-1.023f, -0.732f, 0.502f}, 0.4 * 0.25}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<float>& p = c.eye.positions;
        ASSERT_EQ(p.size(), c.stored.size());
        size_t apex = 1;
        double worst = 0;
        for (size_t k = 0; k + 2 < p.size(); k += 3) {
            if (p[k + 1] < p[apex]) apex = k + 1;
            worst = std::max(worst, std::hypot(p[k] - c.stored[k], p[k + 1] - (c.stored[k + 1] + c.pushBack),
                                               p[k + 2] - c.stored[k + 2]));
        }
        const double d = std::hypot(p[apex - 1] - c.anchor[0], p[apex] - c.anchor[1], p[apex + 1] - c.anchor[2]);
        EXPECT_LT(d, 0.05) << "the eyeball's front ends at " << p[apex - 1] << " " << p[apex] << " " << p[apex + 1];
        EXPECT_LT(worst, 0.08) << "the eyeball moved away from its place in the head";
        // Seen from the front, the eyeball fills its opening in the deformed head and shows nowhere else.
        const EyeballView view = LookAtEyeball(Head(), p);
        EXPECT_TRUE(view.InItsOpening()) << view.Describe();
        std::printf("%s: %s\n", c.what, view.Describe().c_str());
        std::printf("%s: front %.4f from its anchor (depth %+.4f), largest move from its place %.4f\n", c.what, d,
                    p[apex] - c.anchor[1], worst);
    }
}

// The front recognizer places what it does not detect by the generic head's proportions; they
// must be those of its own points, or the reconstruction of a photo of it would not give it back.
TEST_F(OwnPoints, TheFrontRecognizersProportionsAreThoseOfItsOwnPoints) {
    const THPoint* const* f = points.front;
    const double width = f[26]->x - f[25]->x;
    const double height = f[23]->y - f[24]->y;
    // One pixel of the 150-pixel-a-unit photo, in head widths, besides the constants' 4 digits.
    const double tolerance = 1.0 / width + 1e-4;
    EXPECT_NEAR(height / width, FrontProportion::HeightPerWidth, 2 * tolerance);
    EXPECT_NEAR((f[25]->y - f[24]->y) / height, FrontProportion::ExtremesBelowCrown, 2 * tolerance);
    for (const FrontProportion::TShare& s : FrontProportion::CentreShares) {
        EXPECT_NEAR((f[s.point]->x - f[25]->x) / width, s.fx, tolerance) << f[s.point]->name;
        EXPECT_NEAR((f[s.point]->y - f[24]->y) / height, s.fy, tolerance) << f[s.point]->name;
    }
    for (const FrontProportion::TOffset& o : FrontProportion::BorderOffsets) {
        EXPECT_NEAR((f[o.point]->x - f[o.from]->x) / width, o.dx, tolerance) << f[o.point]->name;
        EXPECT_NEAR((f[o.point]->y - f[o.from]->y) / width, o.dy, tolerance) << f[o.point]->name;
    }
}

}  // namespace
