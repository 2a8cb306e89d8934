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

// A coordinate that recognition clamped onto the photo's edge (0 or size - 1, or 1 and size once
// the profile is mirrored), or one beyond the edge: no border was seen there.
bool OnEdge(int c, int size) { return size > 0 && (c <= 1 || c >= size - 2); }

// A scale measured from a size that may be only the least size: `atLeast` when the true scale can
// only be larger, `atMost` when it can only be smaller. Within such a bound the generic head's
// proportion is the estimate; bounded both ways nothing was measured.
float Bounded(float scale, bool atLeast, bool atMost)
{
    if (atLeast && atMost)
        return 1.0f;
    if (atLeast)
        return std::max(scale, 1.0f);
    if (atMost)
        return std::min(scale, 1.0f);
    return scale;
}

// The face's depth from the nose tip back to the ear's centre in the profile against the generic
// head's (to its ear anchor), in the profile's pixels per height as u measures the whole depth, so
// that the two compare; 1 when the head has no tip to measure from.
float EarDepthScale(double earAnchorY, const THeadExtents& e, const THPoint* const* p, double modelPerProfilePixel)
{
    if (!e.noseTipFound || !(modelPerProfilePixel > 0))
        return 1.0f;
    const double model = earAnchorY - e.noseTipY;
    if (!(model > 0))
        return 1.0f;
    const int photo = TVultari::AbsInt(Px(p[ProfilePoint::EarCenter]) - Px(p[ProfilePoint::NoseTip]));
    return Proportion(FactorOr1(photo * modelPerProfilePixel, model));
}

// The height scales above and below the eyes: the front's crown and chin each from the eye line
// (the eyes are found more surely than the nose tip), in model units per pixel of the head's width,
// against the generic head's eye anchors. Where the photo's eyes are not between crown and chin, or
// the generic head is unknown, or the two differ by no more than the rows' pixels can tell or by more
// than any head's proportions do, both stay t. A clamped crown or chin, or width, bounds its scale as it bounds t.
void MeasureHeightAboutEyes(const THeadExtents& e, const THPoint* const* f, const TGenericHead* generic,
                            TReconstructionScales& s, bool topClamped, bool bottomClamped, bool widthClamped)
{
    s.tAbove = s.tBelow = s.t;
    if (generic == nullptr || !e.chinFound)
        return;
    const double eyeRow = 0.5 * (Py(f[FrontPoint::LeftEyeCenter]) + Py(f[FrontPoint::RightEyeCenter]));
    const double up = eyeRow - Py(f[FrontPoint::TopHead]), down = Py(f[FrontPoint::BottomHead]) - eyeRow;
    const double eyeZ = 0.5 * (generic->leftEye.z + generic->rightEye.z);
    const double modelUp = e.maxZ - eyeZ, modelDown = eyeZ - e.chinZ;
    if (!(up > 0) || !(down > 0) || !(modelUp > 0) || !(modelDown > 0))
        return;
    const float above = Bounded(FactorOr1(up * static_cast<double>(s.v), modelUp), topClamped, widthClamped);
    const float below = Bounded(FactorOr1(down * static_cast<double>(s.v), modelDown), bottomClamped, widthClamped);
    // Each scale's two rows are whole pixels: a difference within a pixel at each row was not measured.
    // Halves that differ by more than any head's proportions have a misplaced eye, crown or chin.
    if (std::fabs(above - below) <= 2.0 * above / up + 2.0 * below / down ||
        Proportion(below / above) != below / above)
        return;
    s.tAbove = Proportion(above);
    s.tBelow = Proportion(below);
}

// Of two measures of one scale, the change both show: the one nearer 1, or 1 when one grows and
// the other shrinks.
float Agreed(float a, float b)
{
    if ((a - 1.0f) * (b - 1.0f) <= 0.0f)
        return 1.0f;
    return std::fabs(a - 1.0f) < std::fabs(b - 1.0f) ? a : b;
}

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

// One axis of the tip frame bent in two: distances from the tip up to `end` are scaled by `nearScale`;
// beyond it the scale turns over `turn` to `farScale` and keeps that.
struct TBend {
    double nearScale = 1, farScale = 1, end = 0, turn = 0;

    // Keeps `nearScale` up to `end` and brings `length` to `reach`, turning over `longest` at most,
    // and shorter where a full turn would squeeze what lies beyond to less than half the near scale
    // (with no room left the scale steps at `end`). False when one scale does or no bend fits.
    bool Make(double scale, double endAt, double length, double reach, double longest)
    {
        const double rest = reach - scale * endAt, span = length - endAt, least = 0.5 * scale;
        if (!(endAt >= 0) || !(span > 0) || !(rest > 0) || !(longest > 0) || reach == scale * length)
            return false;
        nearScale = scale;
        end = endAt;
        turn = std::min(span, longest);
        farScale = (rest - 0.5 * scale * turn) / (span - 0.5 * turn);
        if (farScale < least) {
            const bool room = rest >= least * span;
            farScale = room ? least : rest / span;
            turn = room ? 2.0 * (rest - least * span) / (scale - least) : 0.0;
        }
        return true;
    }
    double Of(double d) const
    {
        const double r = d - end;
        if (r <= 0)
            return nearScale * d;
        const double start = nearScale * end;
        if (r <= turn)
            return start + nearScale * r + (farScale - nearScale) * r * r / (2.0 * turn);
        return start + 0.5 * (nearScale + farScale) * turn + farScale * (r - turn);
    }
};

// The frame the regions move in: the stretched nose tip at the origin, depth scaled by u and
// height by t about it. The hair and the eyeballs go through it with the head.
struct TTipFrame {
    float tx = 0, ty = 0, tz = 0;
    double t = 1, u = 1;
    // The face in front of the ear may take another depth scale than the whole head (behind the
    // ear the depth turns so that the back still ends at u times its depth, where the photo's
    // border puts it); the head below the eyes another height scale than above them (below, the
    // height turns so that the chin ends where the photo puts it).
    bool bentDepth = false, bentHeight = false;
    TBend depth, below;
    double above = 1, eyeHeight = 0;  // the eye line's height over the tip

    void BendDepth(double faceU, double earDepth, double backDepth)
    {
        bentDepth = depth.Make(faceU, earDepth, backDepth, u * backDepth, backDepth);
    }
    void BendHeight(double upper, double lower, double eyes, double chinDrop, double turnDrop)
    {
        above = upper;
        eyeHeight = eyes;
        bentHeight = upper != lower && below.Make(upper, 0.0, chinDrop, lower * chinDrop, turnDrop);
    }
    double Depth(double y) const { return depth.Of(y); }
    // Heights from the tip, bent about the eye line.
    double FromEyes(double d) const { return d >= 0 ? above * d : -below.Of(-d); }
    double Height(double z) const { return FromEyes(z - eyeHeight) - FromEyes(-eyeHeight); }

    TVec In(const TVec& a) const
    {
        TVec n;
        n.x = static_cast<float>(static_cast<double>(a.x) - tx);
        n.y = static_cast<float>(u * a.y);
        n.y = static_cast<float>(n.y + (-static_cast<double>(ty)) * u);
        if (bentDepth)
            n.y = static_cast<float>(Depth(static_cast<double>(a.y) - ty));
        n.z = static_cast<float>(t * a.z);
        n.z = static_cast<float>(n.z + (-static_cast<double>(tz)) * t);
        if (bentHeight)
            n.z = static_cast<float>(Height(static_cast<double>(a.z) - tz));
        return n;
    }
    // Back to model space; the scales stay (they are the head's new proportions), and the model's
    // origin keeps its place, as one scale about the tip and back leaves it.
    TVec Out(const TVec& n) const
    {
        const double originY = bentDepth ? Depth(-static_cast<double>(ty)) : (-static_cast<double>(ty)) * u;
        const double originZ = bentHeight ? Height(-static_cast<double>(tz)) : (-static_cast<double>(tz)) * t;
        return {static_cast<float>(static_cast<double>(n.x) - (-static_cast<double>(tx))),
                static_cast<float>(n.y - originY), static_cast<float>(n.z - originZ)};
    }
    template <class Move>
    static void Apply(std::vector<float>& m, Move move)
    {
        for (size_t k = 0; k + 2 < m.size(); k += 3) {
            const TVec p = move(TVec{m[k], m[k + 1], m[k + 2]});
            m[k] = p.x;
            m[k + 1] = p.y;
            m[k + 2] = p.z;
        }
    }
    void Enter(std::vector<float>& m) const { Apply(m, [&](const TVec& p) { return In(p); }); }
    void Leave(std::vector<float>& m) const { Apply(m, [&](const TVec& p) { return Out(p); }); }
};

float Axis(const TVec& v, int axis) { return axis == 0 ? v.x : axis == 1 ? v.y : v.z; }

// One region of the head as it moves in the tip frame: scaled about its anchor (on the axes it has
// a scale for), then shifted, each weighted by the vertex's weight in its map.
struct TRegion {
    int map;               // weight slot
    int front, profile;    // the feature's points in the photos, -1 for one that is not shifted
    TVec anchor;           // in the tip frame
    float* scale[3];       // the report's scale along x, y, z; null where the region keeps its size
    TVec shift{0, 0, 0};
};

// The table's rows.
enum Region : int { NoseRegion, LeftEyeRegion, RightEyeRegion, MouthRegion, LeftEarRegion, RightEarRegion };

// The regions in the order their moves are applied. The nose scales about the tip and is not
// shifted (the tip is where the points put it); both ears share one scale.
std::vector<TRegion> RegionTable(const TGenericHead& generic, const TTipFrame& frame, TDeformationReport& r)
{
    auto anchor = [&](const TModelPoint& a) {
        return frame.In(TVec{static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)});
    };
    namespace F = FrontPoint;
    namespace P = ProfilePoint;
    return {
        {W::nose, -1, -1, TVec{0, 0, 0}, {&r.noseXScale, nullptr, &r.noseZScale}},
        {W::left_eye, F::LeftEyeCenter, P::EyeCenter, anchor(generic.leftEye), {&r.leftEyeXScale, nullptr, &r.leftEyeZScale}},
        {W::right_eye, F::RightEyeCenter, P::EyeCenter, anchor(generic.rightEye),
         {&r.rightEyeXScale, nullptr, &r.rightEyeZScale}},
        {W::mouth, F::MouthCenter, P::MouthCenter, anchor(generic.mouth), {&r.mouthXScale, nullptr, &r.mouthZScale}},
        {W::left_ear, F::LeftEar, P::EarCenter, anchor(generic.leftEar), {nullptr, &r.earYScale, &r.earZScale}},
        {W::right_ear, F::RightEar, P::EarCenter, anchor(generic.rightEar), {nullptr, &r.earYScale, &r.earZScale}},
    };
}

using Points = const THPoint* const*;

// The nose's depth from its tip to its root in the photo, against the depth between the tip and
// the top of the nose region in the unmoved head; the map's share of the stretch moves every vertex
// about the stretch plane. Returns the factor used.
float StretchNoseDepth(std::vector<float>& pos, const std::vector<int>& triangles, const THeadExtents& e,
                       Points p, const TReconstructionScales& s, const std::vector<float>& noseMap, float planeY)
{
    float factor = 1;
    const int photoNoseLength = TVultari::AbsInt(Px(p[ProfilePoint::NoseTip]) - Px(p[ProfilePoint::NoseRoot]));
    if (e.noseTipFound && e.nose.found && e.nose.maxB.index >= 1) {
        const double modelNoseLength =
            std::fabs(static_cast<double>(pos[e.noseTipIndex + 1]) - pos[e.nose.maxB.index - 1]);
        // The face's depth scale applies to the stretched nose afterwards: the stretch is what is left.
        factor = FactorOr1(photoNoseLength * static_cast<double>(s.v) * s.w, modelNoseLength * s.faceU);
        factor = Carried(factor, MeasureFade(pos, triangles, noseMap, TVec{0, planeY, 0}), 1);
    }
    for (size_t k = 1; k < pos.size(); k += 3) {
        const float y = pos[k];
        const float target = static_cast<float>(planeY + (static_cast<double>(y) - planeY) * factor);
        pos[k] = TVultari::Lerp(y, target, noseMap[k / 3]);
    }
    return factor;
}

// The regions' scales: the photo's size of each region in model units against the region's size
// in the tip frame. A region its map does not mark keeps its size.
void MeasureRegionScales(const std::vector<float>& pos, const THeadExtents& e, Points f, Points p,
                         const TReconstructionScales& s, TDeformationReport& r)
{
    const double v = s.v, w = s.w;
    auto scale = [&](const TRegionBox& box, bool a, double photoUnits) {
        if (!box.found)
            return 1.0f;
        const double model = a ? Size(pos, box.maxA, box.minA) : Size(pos, box.maxB, box.minB);
        return FactorOr1(photoUnits, model);
    };
    auto across = [&](Points q, int from, int to) { return TVultari::AbsInt(Px(q[from]) - Px(q[to])); };
    auto down = [&](Points q, int from, int to) { return TVultari::AbsInt(Py(q[from]) - Py(q[to])); };
    namespace F = FrontPoint;
    namespace P = ProfilePoint;
    r.noseXScale = scale(e.nose, true, across(f, F::NoseLeft, F::NoseRight) * v);
    r.noseZScale = scale(e.nose, false, v * down(f, F::NoseTop, F::NoseBottom));
    r.mouthXScale = scale(e.mouth, true, across(f, F::MouthLeft, F::MouthRight) * v);
    r.mouthZScale = scale(e.mouth, false, v * down(f, F::MouthTop, F::MouthBottom));
    r.earZScale = scale(e.ear, false, down(p, P::EarTop, P::EarBottom) * v * w);
    // The ear's depth in floats, like every other region (no truncation to whole units).
    r.earYScale = scale(e.ear, true, across(p, P::EarLeft, P::EarRight) * v * w);
    r.leftEyeXScale = scale(e.leftEye, true, across(f, F::LeftEyeLeft, F::LeftEyeRight) * v);
    r.leftEyeZScale = scale(e.leftEye, false, v * down(f, F::LeftEyeTop, F::LeftEyeBottom));
    r.rightEyeXScale = scale(e.rightEye, true, across(f, F::RightEyeLeft, F::RightEyeRight) * v);
    r.rightEyeZScale = scale(e.rightEye, false, v * down(f, F::RightEyeTop, F::RightEyeBottom));
}

// Where the photos put a feature (across and up from the front point, depth from the profile
// point, all from the nose tip), less its anchor: the region's shift.
TVec MeasureShift(const THPoint* front, const THPoint* profile, const TVec& anchor, Points f, Points p,
                  const TReconstructionScales& s)
{
    const double v = s.v, w = s.w;
    const float targetX = static_cast<float>(v * (Px(front) - Px(f[FrontPoint::NoseTip])));
    const float targetY = static_cast<float>(v * (Px(profile) - Px(p[ProfilePoint::NoseTip])) * w);
    const float targetZ = static_cast<float>(v * ((Py(front) - Py(f[FrontPoint::NoseTip])) * -1));
    return TVec{targetX - anchor.x, targetY - anchor.y, targetZ - anchor.z};
}

// Keeps every region's scales and shift to what its fade carries, on the normalised head. Photos of
// a head need far less than the fades carry once the maps fade smoothly; points dragged off the
// face ask for more, and would turn triangles over and stretch them without bound. A scale that
// two regions share is kept to what both carry.
void CarryRegionMoves(const TGeometry& head, const TWeightManager& weights, std::vector<TRegion>& regions)
{
    for (TRegion& region : regions) {
        const TFade fade = MeasureFade(head.positions, head.triangles, weights[region.map], region.anchor);
        for (int axis = 0; axis < 3; ++axis)
            if (region.scale[axis] != nullptr)
                *region.scale[axis] = Carried(*region.scale[axis], fade, axis);
        region.shift = Carried(region.shift, fade);
    }
}

// Every region's weighted scale and shift on the head, in the table's order.
void MoveRegions(std::vector<float>& pos, const TWeightManager& weights, const std::vector<TRegion>& regions)
{
    for (size_t k = 0; k < pos.size(); ++k) {
        const int axis = static_cast<int>(k % 3);
        float& c = pos[k];
        for (const TRegion& region : regions) {
            const float weight = weights[region.map][k / 3];
            if (weight == 0)
                continue;  // a blend with weight 0 is the value itself
            if (region.scale[axis] != nullptr)
                c = TVultari::Lerp(c, About(c, Axis(region.anchor, axis), *region.scale[axis]), weight);
            c = TVultari::Lerp(c, Shift(c, Axis(region.shift, axis)), weight);
        }
    }
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
            if (map[W::tip_of_the_nose][vertex] > 0) e.noseTipY = p;
            break;
        default:
            if (p > e.maxZ) e.maxZ = p;
            if (map[W::tip_of_the_nose][vertex] > 0)
                e.noseTipZ = p;
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

TReconstructionScales MeasureScales(const THeadExtents& e, const THeadAttributes& points, TPhotoSize frontSize,
                                    TPhotoSize profileSize, TMeasuredPoints measured, const TGenericHead* generic)
{
    namespace F = FrontPoint;
    namespace P = ProfilePoint;
    const THPoint* const* f = points.front;
    const THPoint* const* p = points.profile;
    const int frontWidth = TVultari::AbsInt(Px(f[F::LeftHead]) - Px(f[F::RightHead]));
    const int frontHeight = TVultari::AbsInt(Py(f[F::BottomHead]) - Py(f[F::TopHead]));
    const int profileDepth = TVultari::AbsInt(Px(p[P::LeftHead]) - Px(p[P::RightHead]));
    const int profileHeight = TVultari::AbsInt(Py(p[P::BottomHead]) - Py(p[P::TopHead]));

    const float modelWidth = e.maxX - e.minX;
    const float modelHeight = e.maxZ - e.chinZ;
    const float modelDepth = e.maxY - e.minY;

    // t grows with the front's height and shrinks with its width; u grows with the profile's depth
    // and shrinks with its height. A clamped border makes its size the least size.
    const bool frontWidthClamped = OnEdge(Px(f[F::LeftHead]), frontSize.width) ||
                                   OnEdge(Px(f[F::RightHead]), frontSize.width);
    const bool crownClamped = OnEdge(Py(f[F::TopHead]), frontSize.height);
    const bool chinClamped = OnEdge(Py(f[F::BottomHead]), frontSize.height);
    const bool frontHeightClamped = crownClamped || chinClamped;
    const bool profileDepthClamped = OnEdge(Px(p[P::LeftHead]), profileSize.width) ||
                                     OnEdge(Px(p[P::RightHead]), profileSize.width);
    const bool profileHeightClamped = OnEdge(Py(p[P::TopHead]), profileSize.height) ||
                                      OnEdge(Py(p[P::BottomHead]), profileSize.height);

    TReconstructionScales s;
    if (frontWidth != 0 && frontHeight != 0 && modelWidth != 0 && modelHeight != 0)
        s.t = Proportion(Bounded(FactorOr1(static_cast<double>(modelWidth) * frontHeight / frontWidth, modelHeight),
                                 frontHeightClamped, frontWidthClamped));
    if (profileDepth != 0 && profileHeight != 0 && modelDepth != 0 && modelHeight != 0) {
        s.u = Proportion(
            Bounded(FactorOr1(static_cast<double>(profileDepth) * modelHeight * s.t / profileHeight, modelDepth),
                    profileDepthClamped, profileHeightClamped));
        s.faceU = measured.profileEar && generic != nullptr
                      ? Agreed(s.u, EarDepthScale(generic->leftEar.y, e, p,
                                                  static_cast<double>(modelHeight) * s.t / profileHeight))
                      : s.u;
    }
    s.v = FactorOr1(modelWidth, frontWidth);
    MeasureHeightAboutEyes(e, f, generic, s, crownClamped, chinClamped, frontWidthClamped);

    const int frontEyeHeight = TVultari::AbsInt(Py(f[F::LeftEyeCenter]) - Py(f[F::NoseTip]));
    const int profileEyeHeight = TVultari::AbsInt(Py(p[P::EyeCenter]) - Py(p[P::NoseTip]));
    if (profileEyeHeight != 0)
        s.w = FactorOr1(frontEyeHeight, profileEyeHeight);
    return s;
}

TDeformationReport DeformMeshes(TGeometry& head, TGeometry& leftEye, TGeometry& rightEye, TGeometry& hairs,
                                const THeadExtents& e, const THeadAttributes& points,
                                const TReconstructionScales& s, const TWeightManager& weights,
                                const TGenericHead& generic)
{
    Points f = points.front;
    Points p = points.profile;
    std::vector<float>& pos = head.positions;
    TDeformationReport r;

    r.noseDepthFactor = StretchNoseDepth(pos, head.triangles, e, p, s, weights[W::nose],
                                         static_cast<float>(generic.noseStretchY));

    TTipFrame frame;
    frame.t = s.t;
    frame.u = s.u;
    if (pos.size() >= e.noseTipIndex + 3) {
        frame.tx = pos[e.noseTipIndex];
        frame.ty = pos[e.noseTipIndex + 1];
        frame.tz = pos[e.noseTipIndex + 2];
    }
    frame.BendDepth(s.faceU, generic.leftEar.y - frame.ty, static_cast<double>(e.maxY) - frame.ty);
    // Below the eyes the height turns over the mid-face, from the eye line down to the tip.
    const double eyeZ = 0.5 * (generic.leftEye.z + generic.rightEye.z);
    frame.BendHeight(s.tAbove, s.tBelow, eyeZ - frame.tz, eyeZ - e.chinZ, eyeZ - frame.tz);
    r.tipX = frame.tx;
    r.tipY = frame.ty;
    r.tipZ = frame.tz;
    for (TGeometry* mesh : {&head, &leftEye, &rightEye, &hairs})
        frame.Enter(mesh->positions);

    MeasureRegionScales(pos, e, f, p, s, r);
    std::vector<TRegion> regions = RegionTable(generic, frame, r);
    for (TRegion& region : regions)
        if (region.front >= 0)
            region.shift = MeasureShift(f[region.front], p[region.profile], region.anchor, f, p, s);
    const TRegion& leftEyeRegion = regions[LeftEyeRegion];
    const TRegion& rightEyeRegion = regions[RightEyeRegion];

    // The guard: no region moves further than its weight map's fade carries.
    CarryRegionMoves(head, weights, regions);
    MoveRegions(pos, weights, regions);

    MoveEyeball(leftEye.positions, leftEyeRegion.anchor, r.leftEyeXScale, r.leftEyeZScale, leftEyeRegion.shift,
                Peak(weights[W::left_eye]), static_cast<float>(generic.leftEyePushBack));
    MoveEyeball(rightEye.positions, rightEyeRegion.anchor, r.rightEyeXScale, r.rightEyeZScale, rightEyeRegion.shift,
                Peak(weights[W::right_eye]), static_cast<float>(generic.rightEyePushBack));

    for (TGeometry* mesh : {&head, &leftEye, &rightEye, &hairs})
        frame.Leave(mesh->positions);
    return r;
}
