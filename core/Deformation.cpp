#include "core/Deformation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "collada/Geometry.h"
#include "core/Vultari.h"
#include "core/Weightmanager.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"

namespace {

using W = TWeightManager;

void Improve(TRegionBox& box, bool isA, float value, size_t k)
{
    box.found = true;
    TExtreme& high = isA ? box.maxA : box.maxB;
    TExtreme& low = isA ? box.minA : box.minB;
    if (value > high.value)
        high = {value, k};
    if (value < low.value)
        low = {value, k};
}

void StartBox(TRegionBox& box)
{
    box.maxA = box.maxB = {-10000.0f, 0};
    box.minA = box.minB = {10000.0f, 0};
    box.found = false;
}

// A quotient whose divisor may be 0: the factor then stays 1.
float FactorOr1(double numerator, double divisor)
{
    if (divisor == 0.0)
        return 1.0f;
    const float f = static_cast<float>(numerator / divisor);
    return std::isfinite(f) ? f : 1.0f;
}

// How far the head's height and depth may differ, for its width, from the generic head's: a factor
// of 1.5 either way. Adult heads differ in these proportions by about a fifth; a photo that asks for
// more has a misplaced head border (dragged onto the face, say). Scaled that unevenly, the nose's
// depth stretch, guarded on the unscaled head, would turn triangles over, and the eyeballs' fixed
// push-back behind the lids would shrink to nothing against the deepened head.
constexpr double kMostProportion = 1.5;

float Proportion(float scale)
{
    return static_cast<float>(std::clamp(static_cast<double>(scale), 1.0 / kMostProportion, kMostProportion));
}

int Px(const THPoint* p) { return p->x; }
int Py(const THPoint* p) { return p->y; }

// The size of a region in the normalised head: the difference of two positions.
double Size(const std::vector<float>& pos, const TExtreme& high, const TExtreme& low)
{
    return static_cast<double>(pos[high.index]) - pos[low.index];
}

struct TVec {
    float x, y, z;
};

// Scale about a: a + (p - a) * s.
float About(float p, float a, float s) { return static_cast<float>(a + (static_cast<double>(p) - a) * s); }
float Shift(float p, float d) { return static_cast<float>(static_cast<double>(p) + d); }

// An eyeball moves with its socket: every point of it by the move its eye region gives that point
// (scaled about the anchor, then shifted) with the region's weight over the eye, the map's peak, so
// lids, socket and eyeball take one move; then back into the socket by the push-back eyes.dae
// keeps it forward by.
void MoveEyeball(std::vector<float>& pos, const TVec& anchor, float scaleX, float scaleZ, const TVec& d, float weight,
                 float pushBack)
{
    for (size_t k = 0; k < pos.size(); ++k) {
        float& p = pos[k];
        switch (k % 3) {
        case 0:
            p = TVultari::Lerp(p, About(p, anchor.x, scaleX), weight);
            p = TVultari::Lerp(p, Shift(p, d.x), weight);
            break;
        case 1:
            p = static_cast<float>(static_cast<double>(TVultari::Lerp(p, Shift(p, d.y), weight)) + pushBack);
            break;
        default:
            p = TVultari::Lerp(p, About(p, anchor.z, scaleZ), weight);
            p = TVultari::Lerp(p, Shift(p, d.z), weight);
            break;
        }
    }
}

// The largest value of a map: a region's weight over its feature.
float Peak(const std::vector<float>& map)
{
    float peak = 0;
    for (float w : map)
        peak = std::max(peak, w);
    return peak;
}

// How far a region's weighted move may go before the triangles of its fade turn over. With w
// linear across a triangle and g its gradient in the triangle's plane, a shift by d changes the
// triangle's normal n into n' with n . n' = |n|^2 (1 + d . g), and a scale by s along axis k about
// a into one with n . n' = |n|^2 (1 + (s - 1) c), c = (p_k - a_k) g_k + w (1 - n_k^2) at the worst
// corner (n unit). A move turns a triangle over exactly when that factor falls below 0, and the
// factor is also how much the triangle grows along the move. Each move keeps the factor within
// 1 -+ kCarry: a triangle that two full moves share (a fade ring under both the shift and the scale
// of its region, or where two regions' fades overlap) still keeps its side and stays within 3x.
constexpr double kCarry = 0.5;

struct TFade {
    std::vector<TVec> gradients;  // g of every triangle the map touches
    double lowest[3] = {0, 0, 0}, highest[3] = {0, 0, 0};  // range of c per axis
};

TFade MeasureFade(const std::vector<float>& pos, const std::vector<int>& triangles, const std::vector<float>& w,
                  const TVec& anchor)
{
    TFade fade;
    const double a[3] = {anchor.x, anchor.y, anchor.z};
    const size_t vertices = std::min(pos.size() / 3, w.size());
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        const size_t c[3] = {size_t(triangles[t]), size_t(triangles[t + 1]), size_t(triangles[t + 2])};
        if (std::max({c[0], c[1], c[2]}) >= vertices)
            continue;
        const double w0 = w[c[0]], w1 = w[c[1]], w2 = w[c[2]];
        if (w0 <= 0 && w1 <= 0 && w2 <= 0)
            continue;
        double e1[3], e2[3];
        for (int k = 0; k < 3; ++k) {
            e1[k] = double(pos[3 * c[1] + k]) - pos[3 * c[0] + k];
            e2[k] = double(pos[3 * c[2] + k]) - pos[3 * c[0] + k];
        }
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        const double area2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        if (area2 <= 0)
            continue;
        // g = ((w1 - w0) e2 x n + (w2 - w0) n x e1) / |n|^2: g . e1 = w1 - w0, g . e2 = w2 - w0.
        const double e2n[3] = {e2[1] * n[2] - e2[2] * n[1], e2[2] * n[0] - e2[0] * n[2], e2[0] * n[1] - e2[1] * n[0]};
        const double ne1[3] = {n[1] * e1[2] - n[2] * e1[1], n[2] * e1[0] - n[0] * e1[2], n[0] * e1[1] - n[1] * e1[0]};
        double g[3];
        for (int k = 0; k < 3; ++k)
            g[k] = ((w1 - w0) * e2n[k] + (w2 - w0) * ne1[k]) / area2;
        fade.gradients.push_back({float(g[0]), float(g[1]), float(g[2])});
        for (int k = 0; k < 3; ++k) {
            const double inPlane = 1.0 - n[k] * n[k] / area2;
            for (size_t corner : c) {
                const double value = (double(pos[3 * corner + k]) - a[k]) * g[k] + w[corner] * inPlane;
                fade.lowest[k] = std::min(fade.lowest[k], value);
                fade.highest[k] = std::max(fade.highest[k], value);
            }
        }
    }
    return fade;
}

// A region's scale along one axis, kept to what its fade carries.
float Carried(float scale, const TFade& fade, int axis)
{
    const double m = static_cast<double>(scale) - 1.0;
    const double change = std::fabs(m) * std::max(-fade.lowest[axis], fade.highest[axis]);
    if (change <= kCarry)
        return scale;
    return static_cast<float>(1.0 + m * kCarry / change);
}

// A region's shift, shortened to what its fade carries.
TVec Carried(const TVec& d, const TFade& fade)
{
    double change = 0;
    for (const TVec& g : fade.gradients)
        change = std::max(change, std::fabs(double(d.x) * g.x + double(d.y) * g.y + double(d.z) * g.z));
    if (change <= kCarry)
        return d;
    const double f = kCarry / change;
    return {static_cast<float>(d.x * f), static_cast<float>(d.y * f), static_cast<float>(d.z * f)};
}

struct TRegionAnchors {
    TVec mouth, leftEye, rightEye, leftEar, rightEar;
};
struct TRegionShifts {
    TVec *mouth, *leftEye, *rightEye, *leftEar, *rightEar;
};

// Keeps every region's scales and shift to what its fade carries, on the normalised head. Photos of
// a head need far less than the fades carry once the maps fade smoothly; points dragged off the
// face ask for more, and would turn triangles over and stretch them without bound.
void CarryRegionMoves(const TGeometry& head, const std::vector<float>* map, const TRegionAnchors& anchors,
                      TDeformationReport& r, const TRegionShifts& d)
{
    const std::vector<float>& pos = head.positions;
    const std::vector<int>& tris = head.triangles;
    const TFade nose = MeasureFade(pos, tris, map[W::nose], TVec{0, 0, 0});
    const TFade mouth = MeasureFade(pos, tris, map[W::mouth], anchors.mouth);
    const TFade leftEye = MeasureFade(pos, tris, map[W::left_eye], anchors.leftEye);
    const TFade rightEye = MeasureFade(pos, tris, map[W::right_eye], anchors.rightEye);
    const TFade leftEar = MeasureFade(pos, tris, map[W::left_ear], anchors.leftEar);
    const TFade rightEar = MeasureFade(pos, tris, map[W::right_ear], anchors.rightEar);
    r.noseXScale = Carried(r.noseXScale, nose, 0);
    r.noseZScale = Carried(r.noseZScale, nose, 2);
    r.mouthXScale = Carried(r.mouthXScale, mouth, 0);
    r.mouthZScale = Carried(r.mouthZScale, mouth, 2);
    r.leftEyeXScale = Carried(r.leftEyeXScale, leftEye, 0);
    r.leftEyeZScale = Carried(r.leftEyeZScale, leftEye, 2);
    r.rightEyeXScale = Carried(r.rightEyeXScale, rightEye, 0);
    r.rightEyeZScale = Carried(r.rightEyeZScale, rightEye, 2);
    // One ear scale serves both ears: each ear's fade bounds it.
    r.earYScale = Carried(Carried(r.earYScale, leftEar, 1), rightEar, 1);
    r.earZScale = Carried(Carried(r.earZScale, leftEar, 2), rightEar, 2);
    *d.mouth = Carried(*d.mouth, mouth);
    *d.leftEye = Carried(*d.leftEye, leftEye);
    *d.rightEye = Carried(*d.rightEye, rightEye);
    *d.leftEar = Carried(*d.leftEar, leftEar);
    *d.rightEar = Carried(*d.rightEar, rightEar);
}

}  // namespace

THeadExtents MeasureHead(const TGeometry& head, const TWeightManager& weights)
{
    THeadExtents e;
    StartBox(e.mouth);
    StartBox(e.nose);
    StartBox(e.leftEye);
    StartBox(e.rightEye);
    StartBox(e.ear);
    const std::vector<float>& pos = head.positions;
    const auto& map = weights.weights;
    for (size_t k = 0; k < pos.size(); ++k) {
        const float p = pos[k];
        const size_t vertex = k / 3;
        switch (k % 3) {
        case 0:
            if (p > e.maxX) e.maxX = p;
            if (p < e.minX) e.minX = p;
            if (map[W::tip_of_the_nose][vertex] > 0) {
                e.noseTipIndex = k;
                e.noseTipFound = true;
            }
            if (map[W::mouth_borders][vertex] > 0) Improve(e.mouth, true, p, k);
            if (map[W::nose_borders][vertex] > 0) Improve(e.nose, true, p, k);
            if (map[W::left_eye_borders][vertex] > 0) Improve(e.leftEye, true, p, k);
            if (map[W::right_eye_borders][vertex] > 0) Improve(e.rightEye, true, p, k);
            break;
        case 1:
            if (p > e.maxY) e.maxY = p;
            if (p < e.minY) e.minY = p;
            if (map[W::left_ear_borders][vertex] > 0) Improve(e.ear, true, p, k);
            break;
        default:
            if (p > e.maxZ) e.maxZ = p;
            if (map[W::head_bottom][vertex] > 0) {
                e.chinZ = p;  // the last marked vertex wins, whatever its height
                e.chinFound = true;
            }
            if (map[W::mouth_borders][vertex] > 0) Improve(e.mouth, false, p, k);
            if (map[W::nose_borders][vertex] > 0) Improve(e.nose, false, p, k);
            if (map[W::left_eye_borders][vertex] > 0) Improve(e.leftEye, false, p, k);
            if (map[W::right_eye_borders][vertex] > 0) Improve(e.rightEye, false, p, k);
            if (map[W::left_ear_borders][vertex] > 0) Improve(e.ear, false, p, k);
            break;
        }
    }
    return e;
}

TReconstructionScales MeasureScales(const THeadExtents& e, const THeadAttributes& points)
{
    const THPoint* const* f = points.front;
    const THPoint* const* p = points.profile;
    const int frontWidth = TVultari::AbsInt(Px(f[25]) - Px(f[26]));
    const int frontHeight = TVultari::AbsInt(Py(f[23]) - Py(f[24]));
    const int profileDepth = TVultari::AbsInt(Px(p[10]) - Px(p[11]));
    const int profileHeight = TVultari::AbsInt(Py(p[13]) - Py(p[12]));

    const float modelWidth = e.maxX - e.minX;
    const float modelHeight = e.maxZ - e.chinZ;
    const float modelDepth = e.maxY - e.minY;

    TReconstructionScales s;
    if (frontWidth != 0 && frontHeight != 0 && modelWidth != 0 && modelHeight != 0)
        s.t = Proportion(FactorOr1(static_cast<double>(modelWidth) * frontHeight / frontWidth, modelHeight));
    if (profileDepth != 0 && profileHeight != 0 && modelDepth != 0 && modelHeight != 0)
        s.u = Proportion(FactorOr1(static_cast<double>(profileDepth) * modelHeight * s.t / profileHeight, modelDepth));
    s.v = FactorOr1(modelWidth, frontWidth);

    const int frontEyeHeight = TVultari::AbsInt(Py(f[1]) - Py(f[16]));
    const int profileEyeHeight = TVultari::AbsInt(Py(p[1]) - Py(p[3]));
    if (profileEyeHeight != 0)
        s.w = FactorOr1(frontEyeHeight, profileEyeHeight);
    return s;
}

TDeformationReport DeformMeshes(TGeometry& head, TGeometry& leftEye, TGeometry& rightEye, TGeometry& hairs,
                                const THeadExtents& e, const THeadAttributes& points,
                                const TReconstructionScales& s, const TWeightManager& weights,
                                const TGenericHead& generic)
{
    const float NoseAnchorY = static_cast<float>(generic.noseStretchY);
    const THPoint* const* f = points.front;
    const THPoint* const* p = points.profile;
    const auto& map = weights.weights;
    std::vector<float>& pos = head.positions;
    const double t = s.t, u = s.u, v = s.v, w = s.w;
    TDeformationReport r;

    // 1. Nose depth factor: the photo's nose depth (tip to root, across the profile) against the
    // depth between the tip and the top of the nose region in the unmoved head, in floats.
    const int photoNoseLength = TVultari::AbsInt(Px(p[3]) - Px(p[4]));
    if (e.noseTipFound && e.nose.found && e.nose.maxB.index >= 1) {
        const double modelNoseLength =
            std::fabs(static_cast<double>(pos[e.noseTipIndex + 1]) - pos[e.nose.maxB.index - 1]);
        r.noseDepthFactor = FactorOr1(photoNoseLength * v * w, modelNoseLength);
        const TFade noseDepthFade = MeasureFade(pos, head.triangles, map[W::nose], TVec{0, NoseAnchorY, 0});
        r.noseDepthFactor = Carried(r.noseDepthFactor, noseDepthFade, 1);
    }

    // 2. Nose stretch in depth about the plane y = -1.246.
    for (size_t k = 1; k < pos.size(); k += 3) {
        const float y = pos[k];
        const float target = static_cast<float>(NoseAnchorY + (static_cast<double>(y) - NoseAnchorY) * r.noseDepthFactor);
        pos[k] = TVultari::Lerp(y, target, map[W::nose][k / 3]);
    }

    // 3. Nose tip after the stretch.
    const float tx = pos.size() >= e.noseTipIndex + 3 ? pos[e.noseTipIndex] : 0.0f;
    const float ty = pos.size() >= e.noseTipIndex + 3 ? pos[e.noseTipIndex + 1] : 0.0f;
    const float tz = pos.size() >= e.noseTipIndex + 3 ? pos[e.noseTipIndex + 2] : 0.0f;
    r.tipX = tx;
    r.tipY = ty;
    r.tipZ = tz;

    // 4. Nose tip to the origin; depth scaled by u and height by t about it.
    for (TGeometry* mesh : {&head, &leftEye, &rightEye, &hairs}) {
        std::vector<float>& m = mesh->positions;
        for (size_t k = 0; k + 2 < m.size(); k += 3) {
            m[k] = static_cast<float>(static_cast<double>(m[k]) - tx);
            m[k + 1] = static_cast<float>(u * m[k + 1]);
            m[k + 1] = static_cast<float>(m[k + 1] + (-static_cast<double>(ty)) * u);
            m[k + 2] = static_cast<float>(t * m[k + 2]);
            m[k + 2] = static_cast<float>(m[k + 2] + (-static_cast<double>(tz)) * t);
        }
    }

    // 5. Anchors normalised exactly like the mesh.
    auto normalise = [&](const TModelPoint& anchor) {
        const TVec a{static_cast<float>(anchor.x), static_cast<float>(anchor.y), static_cast<float>(anchor.z)};
        TVec n;
        n.x = static_cast<float>(static_cast<double>(a.x) - tx);
        n.y = static_cast<float>(u * a.y);
        n.y = static_cast<float>(n.y + (-static_cast<double>(ty)) * u);
        n.z = static_cast<float>(t * a.z);
        n.z = static_cast<float>(n.z + (-static_cast<double>(tz)) * t);
        return n;
    };
    const TVec mouthA = normalise(generic.mouth), leftEyeA = normalise(generic.leftEye),
               rightEyeA = normalise(generic.rightEye), leftEarA = normalise(generic.leftEar),
               rightEarA = normalise(generic.rightEar);

    // 6. Region scales: photo size in model units against the normalised region's size.
    auto regionScale = [&](const TRegionBox& box, bool a, double photoUnits) {
        if (!box.found)
            return 1.0f;
        const double model = a ? Size(pos, box.maxA, box.minA) : Size(pos, box.maxB, box.minB);
        return FactorOr1(photoUnits, model);
    };
    r.noseXScale = regionScale(e.nose, true, TVultari::AbsInt(Px(f[17]) - Px(f[18])) * v);
    r.noseZScale = regionScale(e.nose, false, v * TVultari::AbsInt(Py(f[19]) - Py(f[20])));
    r.mouthXScale = regionScale(e.mouth, true, TVultari::AbsInt(Px(f[12]) - Px(f[13])) * v);
    r.mouthZScale = regionScale(e.mouth, false, v * TVultari::AbsInt(Py(f[14]) - Py(f[15])));
    r.earZScale = regionScale(e.ear, false, TVultari::AbsInt(Py(p[8]) - Py(p[9])) * v * w);
    // The ear's depth in floats, like every other region (no truncation to whole units).
    r.earYScale = regionScale(e.ear, true, TVultari::AbsInt(Px(p[6]) - Px(p[7])) * v * w);
    r.leftEyeXScale = regionScale(e.leftEye, true, TVultari::AbsInt(Px(f[2]) - Px(f[3])) * v);
    r.leftEyeZScale = regionScale(e.leftEye, false, v * TVultari::AbsInt(Py(f[4]) - Py(f[5])));
    r.rightEyeXScale = regionScale(e.rightEye, true, TVultari::AbsInt(Px(f[7]) - Px(f[8])) * v);
    r.rightEyeZScale = regionScale(e.rightEye, false, v * TVultari::AbsInt(Py(f[9]) - Py(f[10])));

    // 7. Displacements: the photo feature's offset from the nose tip minus the anchor.
    auto displacement = [&](const THPoint* P, const THPoint* Q, const TVec& anchor) {
        const float targetX = static_cast<float>(v * (Px(P) - Px(f[16])));
        const float targetY = static_cast<float>(v * (Px(Q) - Px(p[3])) * w);
        const float targetZ = static_cast<float>(v * ((Py(P) - Py(f[16])) * -1));
        return TVec{targetX - anchor.x, targetY - anchor.y, targetZ - anchor.z};
    };
    TVec mouthD = displacement(f[11], p[2], mouthA);
    TVec leftEarD = displacement(f[21], p[5], leftEarA);
    TVec rightEarD = displacement(f[22], p[5], rightEarA);
    TVec leftEyeD = displacement(f[1], p[1], leftEyeA);
    TVec rightEyeD = displacement(f[6], p[1], rightEyeA);

    // The guard: no region moves further than its weight map's fade carries.
    CarryRegionMoves(head, map, {mouthA, leftEyeA, rightEyeA, leftEarA, rightEarA}, r,
                     {&mouthD, &leftEyeD, &rightEyeD, &leftEarD, &rightEarD});

    // 8. Regional moves of the head, each weighted by the vertex's weight in its map.
    const std::vector<float>&noseW = map[W::nose], &leftEyeW = map[W::left_eye], &rightEyeW = map[W::right_eye],
                         &mouthW = map[W::mouth], &leftEarW = map[W::left_ear], &rightEarW = map[W::right_ear];
    for (size_t k = 0; k < pos.size(); ++k) {
        const size_t vx = k / 3;
        float& c = pos[k];
        auto lerp = [&](float target, float weight) { c = TVultari::Lerp(c, target, weight); };
        switch (k % 3) {
        case 0:
            lerp(static_cast<float>(static_cast<double>(c) * r.noseXScale), noseW[vx]);
            lerp(About(c, leftEyeA.x, r.leftEyeXScale), leftEyeW[vx]);
            lerp(Shift(c, leftEyeD.x), leftEyeW[vx]);
            lerp(About(c, rightEyeA.x, r.rightEyeXScale), rightEyeW[vx]);
            lerp(Shift(c, rightEyeD.x), rightEyeW[vx]);
            lerp(About(c, mouthA.x, r.mouthXScale), mouthW[vx]);
            lerp(Shift(c, mouthD.x), mouthW[vx]);
            lerp(Shift(c, leftEarD.x), leftEarW[vx]);
            lerp(Shift(c, rightEarD.x), rightEarW[vx]);
            break;
        case 1:
            lerp(Shift(c, leftEyeD.y), leftEyeW[vx]);
            lerp(Shift(c, rightEyeD.y), rightEyeW[vx]);
            lerp(Shift(c, mouthD.y), mouthW[vx]);
            lerp(About(c, leftEarA.y, r.earYScale), leftEarW[vx]);
            lerp(Shift(c, leftEarD.y), leftEarW[vx]);
            lerp(About(c, rightEarA.y, r.earYScale), rightEarW[vx]);
            lerp(Shift(c, rightEarD.y), rightEarW[vx]);
            break;
        default:
            lerp(static_cast<float>(static_cast<double>(c) * r.noseZScale), noseW[vx]);
            lerp(About(c, leftEyeA.z, r.leftEyeZScale), leftEyeW[vx]);
            lerp(Shift(c, leftEyeD.z), leftEyeW[vx]);
            lerp(About(c, rightEyeA.z, r.rightEyeZScale), rightEyeW[vx]);
            lerp(Shift(c, rightEyeD.z), rightEyeW[vx]);
            lerp(About(c, mouthA.z, r.mouthZScale), mouthW[vx]);
            lerp(Shift(c, mouthD.z), mouthW[vx]);
            lerp(About(c, leftEarA.z, r.earZScale), leftEarW[vx]);
            lerp(Shift(c, leftEarD.z), leftEarW[vx]);
            lerp(About(c, rightEarA.z, r.earZScale), rightEarW[vx]);
            lerp(Shift(c, rightEarD.z), rightEarW[vx]);
            break;
        }
    }

    // 9, 10. The eyeballs move with their sockets and go back by the generic head's push-back.
    MoveEyeball(leftEye.positions, leftEyeA, r.leftEyeXScale, r.leftEyeZScale, leftEyeD, Peak(leftEyeW),
                static_cast<float>(generic.leftEyePushBack));
    MoveEyeball(rightEye.positions, rightEyeA, r.rightEyeXScale, r.rightEyeZScale, rightEyeD, Peak(rightEyeW),
                static_cast<float>(generic.rightEyePushBack));

    // 11. Everything back by the scaled nose-tip position.
    for (TGeometry* mesh : {&head, &leftEye, &rightEye, &hairs}) {
        std::vector<float>& m = mesh->positions;
        for (size_t k = 0; k + 2 < m.size(); k += 3) {
            m[k] = static_cast<float>(static_cast<double>(m[k]) - (-static_cast<double>(tx)));
            m[k + 1] = static_cast<float>(m[k + 1] - (-static_cast<double>(ty)) * u);
            m[k + 2] = static_cast<float>(m[k + 2] - (-static_cast<double>(tz)) * t);
        }
    }
    return r;
}
