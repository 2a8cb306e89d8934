#include "tools/genhead/Generic.h"
#include "tools/genhead/Photo.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>

#include <stdexcept>

#include "collada/Geometry.h"
#include "core/Texturecreator.h"
#include "core/Weightmanager.h"
#include "platform/base/Numbers.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"

namespace {
double Smooth(double e0, double e1, double x) {
    double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

struct Box {
    Vec3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
    void Add(Vec3 p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
};

// The vertex of `map` (weight > 0) that is extreme along `key` (largest key wins).
template <class K>
int Extreme(const Mesh& m, const std::vector<double>& map, K key) {
    int best = -1;
    for (size_t i = 0; i < m.pos.size(); ++i)
        if (map[i] > 0 && (best < 0 || key(m.pos[i]) > key(m.pos[best]))) best = int(i);
    return best;
}

// The ears' extent in the side view, over both: what stands out sideways beyond each ear's centre
// near it (the skull stays inside that).
Box EarBox(const Mesh& m, const GenericHead& g) {
    Box b;
    for (const Vec3& anchor : {g.leftEar, g.rightEar})
        for (const Vec3& p : m.pos)
            if (p.x * anchor.x > anchor.x * anchor.x && std::abs(p.y - anchor.y) < 1.2 && std::abs(p.z - anchor.z) < 1.6)
                b.Add(p);
    return b;
}

// Whether vertex i is what a viewer in front (looking along +y) sees at its (x, z).
bool SeenFromFront(const Mesh& m, const std::vector<Vec3>& n, int i) {
    if (n[i].y > -0.05) return false;
    double t;
    Vec3 p = m.pos[i];
    if (!RayHit(m, {p.x, -50, p.z}, {0, 1, 0}, &t)) return true;
    return -50 + t > p.y - 0.03;
}

// The nose's outline is widest at its wings, beside the nostrils at about the tip's height (a
// little above it): where photos show them. The ellipse it is drawn on is widest higher up, over
// the nose's sides; there the outline is cut back to the wings' width, so that the outline's
// extremes across are the wings.
void NoseOutlineWidestAtTheWings(GenericData& d, double tipZ) {
    const Mesh& m = d.g.head;
    auto& outline = d.weights[TWeightManager::nose_borders];
    double wing[2] = {0, 0};  // the outline's reach across beside the tip, each side
    for (size_t i = 0; i < m.pos.size(); ++i)
        if (outline[i] > 0 && std::abs(m.pos[i].z - tipZ - 0.05) < 0.12) {
            double& reach = wing[m.pos[i].x > 0 ? 1 : 0];
            reach = std::max(reach, std::abs(m.pos[i].x));
        }
    if (wing[0] <= 0 || wing[1] <= 0) throw std::runtime_error("the nose's outline has no wings beside its tip");
    for (size_t i = 0; i < m.pos.size(); ++i)
        if (outline[i] > 0 && std::abs(m.pos[i].x) > wing[m.pos[i].x > 0 ? 1 : 0]) outline[i] = 0;
}

void Weights(GenericData& d) {
    const Mesh& m = d.g.head;
    const size_t n = m.pos.size();
    for (auto& w : d.weights) w.assign(n, 0.0);
    std::vector<Vec3> normals = m.VertexNormals();

    d.weights[TWeightManager::tip_of_the_nose][d.g.noseTipVertex] = 1.0;
    d.weights[TWeightManager::head_bottom][d.g.chinVertex] = 1.0;

    // Eyes: the rims of the two openings are the eyes' outlines.
    std::set<int> rim[2];
    for (auto e : m.BoundaryEdges())
        for (int v : e) {
            const Vec3& p = m.pos[v];
            if (p.z < m.pos[d.g.chinVertex].z + 0.5) continue;  // the neck cap has none, but be sure
            int side = p.x > 0.1 ? 1 : 0;
            Vec3 apex = side ? d.g.rightEyeApex : d.g.leftEyeApex;
            if (Len(p - apex) < 1.2 && SeenFromFront(m, normals, v)) rim[side].insert(v);
        }
    for (int side = 0; side < 2; ++side) {
        auto& region = d.weights[side ? TWeightManager::right_eye : TWeightManager::left_eye];
        auto& border = d.weights[side ? TWeightManager::right_eye_borders : TWeightManager::left_eye_borders];
        Box box;
        for (int v : rim[side]) {
            border[v] = 1.0;
            box.Add(m.pos[v]);
        }
        Vec3 c = (box.lo + box.hi) * 0.5;
        double a = (box.hi.x - box.lo.x) * 0.5, b = a * 0.7;
        // The eyeball moves with its socket by the region's whole move: lids and socket carry all
        // of it over the eye, so the eyeball stays in its opening; outward it fades to nothing.
        const double share = 1.0;
        for (size_t i = 0; i < n; ++i) {
            const Vec3& p = m.pos[i];
            double r = std::hypot((p.x - c.x) / a, (p.z - c.z) / b);
            region[i] = share * (1.0 - Smooth(1.15, 1.9, r)) * (1.0 - Smooth(c.y + 0.8, c.y + 1.6, p.y));
        }
    }
    // Nose: an ellipse in the front view from the root down to below the nostrils.
    // The nose's midline runs from its root to its tip; its outline's top is the root, where the reconstruction measures the nose's depth from.
    const Vec3 tip = m.pos[d.g.noseTipVertex], root = d.g.nasion;
    // Its bottom: halfway from the tip down to the lip junction, below the nostrils.
    const double noseBottom = tip.z - 0.5 * (tip.z - d.g.mouth.z);
    const double nb = 0.5 * (root.z - noseBottom) / 1.02, nzc = root.z - 1.02 * nb, na = 0.62;
    auto midX = [&](double z) { return tip.x + (root.x - tip.x) * std::clamp((z - tip.z) / (root.z - tip.z), 0.0, 1.0); };
    for (size_t i = 0; i < n; ++i) {
        const Vec3& p = m.pos[i];
        double r = std::hypot((p.x - midX(p.z)) / na, (p.z - nzc) / nb);
        d.weights[TWeightManager::nose][i] = (1.0 - Smooth(0.85, 1.25, r)) * (1.0 - Smooth(-0.6, 0.0, p.y));
        if (r > 0.9 && r < 1.02 && p.y < 0 && SeenFromFront(m, normals, int(i))) d.weights[TWeightManager::nose_borders][i] = 1.0;
    }
    NoseOutlineWidestAtTheWings(d, tip.z);
    // Mouth: the lips around the lip junction.
    const Vec3 mc = d.g.mouth;
    const double ma = 0.95, mbUp = 0.33, mbDown = 0.42;
    for (size_t i = 0; i < n; ++i) {
        const Vec3& p = m.pos[i];
        double b = p.z > mc.z ? mbUp : mbDown;
        double r = std::hypot((p.x - mc.x) / ma, (p.z - mc.z) / b);
        d.weights[TWeightManager::mouth][i] = (1.0 - Smooth(1.0, 1.6, r)) * (1.0 - Smooth(0.0, 0.6, p.y));
        if (r > 0.9 && r < 1.05 && p.y < 0.4 && SeenFromFront(m, normals, int(i))) d.weights[TWeightManager::mouth_borders][i] = 1.0;
    }
    // Ears: the whole ear, and a ring of the skull around it that takes up the ear's move. Both
    // rings have the size of the ears as the finished head has them, so each ring's rim reaches
    // round the whole ear and both rims have one size.
    const Box ears = EarBox(m, d.g);
    for (int side = 0; side < 2; ++side) {
        Vec3 c = side ? d.g.rightEar : d.g.leftEar;
        double sy = (ears.hi.y - ears.lo.y) * 0.5 + 0.08, sz = (ears.hi.z - ears.lo.z) * 0.5 + 0.08;
        auto& region = d.weights[side ? TWeightManager::right_ear : TWeightManager::left_ear];
        auto& border = d.weights[side ? TWeightManager::right_ear_borders : TWeightManager::left_ear_borders];
        // The rim is the part of the ring that stands out from the skull; where the ear leans, that
        // part is lopsided, so the ring moves until the rim's middle is on the ear's centre.
        const Vec3 anchor = c;
        for (int pass = 0; pass < 3; ++pass) {
            Box outline;
            for (size_t i = 0; i < n; ++i) {
                const Vec3& p = m.pos[i];
                double ax = side ? p.x : -p.x;
                double r = std::hypot((p.y - c.y) / sy, (p.z - c.z) / sz);
                region[i] = (1.0 - Smooth(1.0, 1.9, r)) * Smooth(1.0, 1.8, ax);
                border[i] = r > 0.78 && r <= 1.0 && ax > 2.4 ? 1.0 : 0.0;
                if (border[i] > 0) outline.Add(p);
            }
            c.y += anchor.y - 0.5 * (outline.lo.y + outline.hi.y);
            c.z += anchor.z - 0.5 * (outline.lo.z + outline.hi.z);
        }
    }
}

// Where regions meet, their maps share the move instead of adding up to more than a whole one.
void LimitOverlap(GenericData& d) {
    const int regionSlots[] = {TWeightManager::left_eye, TWeightManager::right_eye, TWeightManager::nose,
                               TWeightManager::mouth,    TWeightManager::left_ear,  TWeightManager::right_ear};
    for (size_t i = 0; i < d.g.head.pos.size(); ++i) {
        double sum = 0;
        for (int s : regionSlots) sum += d.weights[s][i];
        if (sum > 1.0)
            for (int s : regionSlots) d.weights[s][i] /= sum;
    }
}

// Every map keeps only what its file holds (five decimals), so what the generator derives from the
// maps (feature points, the texture builder's fit) sees what the reconstruction reads.
void AtFilePrecision(GenericData& d) {
    for (auto& map : d.weights)
        for (double& w : map) w = std::round(std::clamp(w, 0.0, 1.0) * 1e5) / 1e5;
}

int Px(double v) { return RoundHalfEven(v); }
}  // namespace

namespace {
// The eye centre as photos of the head show it: the iris, which the eye texture puts in the middle
// of the opening (corner to corner, top lid to bottom lid), on the eyeball's front surface there.
// The cornea's apex lies about 2 mm nearer the nose: a point there would state the eyes 7 % closer
// together than photos of the head find them.
FeaturePoint OpeningMiddle(const Mesh& eyeball, FeaturePoint corner, FeaturePoint otherCorner, FeaturePoint top,
                           FeaturePoint bottom) {
    const double x = 0.5 * (corner.p.x + otherCorner.p.x), z = 0.5 * (top.p.z + bottom.p.z);
    double t;
    if (!RayHit(eyeball, {x, -50, z}, {0, 1, 0}, &t))
        throw std::runtime_error("the eyeball does not fill the middle of its opening");
    return {{x, -50 + t, z}};
}

// Feature points of both photos, from the finished head and its maps.
void Features(GenericData& d) {
    const Mesh& m = d.g.head;
    auto& w = d.weights;
    auto at = [&](int v) { return FeaturePoint{m.pos[v]}; };
    auto ext = [&](int slot, auto key) { return at(Extreme(m, w[slot], key)); };
    std::vector<double> all(m.pos.size(), 1.0);
    auto X = [](Vec3 p) { return p.x; };
    auto Xn = [](Vec3 p) { return -p.x; };
    auto Z = [](Vec3 p) { return p.z; };
    auto Zn = [](Vec3 p) { return -p.z; };
    auto Y = [](Vec3 p) { return p.y; };
    auto Yn = [](Vec3 p) { return -p.y; };
    FeaturePoint chin = at(d.g.chinVertex), top = at(d.g.topVertex);
    FeaturePoint left = at(Extreme(m, all, Xn)), right = at(Extreme(m, all, X));
    FeaturePoint centre{{0.5 * (left.p.x + right.p.x), 0, 0.5 * (top.p.z + chin.p.z)}};
    auto eye = [&](const Mesh& eyeball, int rim, FeaturePoint* corners) {
        corners[0] = ext(rim, Xn), corners[1] = ext(rim, X), corners[2] = ext(rim, Z), corners[3] = ext(rim, Zn);
        return OpeningMiddle(eyeball, corners[0], corners[1], corners[2], corners[3]);
    };
    FeaturePoint leftRim[4], rightRim[4];
    const FeaturePoint leftEye = eye(d.g.leftEye, TWeightManager::left_eye_borders, leftRim);
    const FeaturePoint rightEye = eye(d.g.rightEye, TWeightManager::right_eye_borders, rightRim);
    d.front = {centre,
               leftEye, leftRim[0], leftRim[1], leftRim[2], leftRim[3],
               rightEye, rightRim[0], rightRim[1], rightRim[2], rightRim[3],
               {d.g.mouth}, ext(TWeightManager::mouth_borders, Xn), ext(TWeightManager::mouth_borders, X), ext(TWeightManager::mouth_borders, Z), ext(TWeightManager::mouth_borders, Zn),
               at(d.g.noseTipVertex), ext(TWeightManager::nose_borders, Xn), ext(TWeightManager::nose_borders, X), ext(TWeightManager::nose_borders, Z), ext(TWeightManager::nose_borders, Zn),
               {d.g.leftEar}, {d.g.rightEar},
               chin, top, left, right};
    FeaturePoint faceMost = at(Extreme(m, all, Yn)), backMost = at(Extreme(m, all, Y));
    FeaturePoint pcentre{{0, 0.5 * (faceMost.p.y + backMost.p.y), 0.5 * (top.p.z + chin.p.z)}};
    d.profile = {pcentre,
                 rightEye, {d.g.mouth}, at(d.g.noseTipVertex), {d.g.nasion},
                 // the side view from +x shows the right ear
                 {d.g.rightEar}, ext(TWeightManager::right_ear_borders, Yn), ext(TWeightManager::right_ear_borders, Y), ext(TWeightManager::right_ear_borders, Z), ext(TWeightManager::right_ear_borders, Zn),
                 faceMost, backMost, top, chin};
}

// What the program reads of this head: its points, anchors, layout references and proportions.
void Facts(GenericData& d) {
    TGenericHead& h = d.facts;
    auto model = [](Vec3 p) { return TModelPoint{p.x, p.y, p.z}; };
    for (size_t i = 0; i < h.front.size(); ++i) h.front[i] = model(d.front[i].p);
    for (size_t i = 0; i < h.profile.size(); ++i) h.profile[i] = model(d.profile[i].p);
    h.mouth = model(d.g.mouth);
    // The eyes' regions move from where photos of the head find its eyes.
    h.leftEye = h.front[FrontPoint::LeftEyeCenter];
    h.rightEye = h.front[FrontPoint::RightEyeCenter];
    h.leftEar = model(d.g.leftEar);
    h.rightEar = model(d.g.rightEar);
    h.noseStretchY = d.g.nasion.y;
    h.leftEyePushBack = eyeballs::kLeftPushBack;
    h.rightEyePushBack = eyeballs::kRightPushBack;
    // The nose root is looked for up to a unit above the eye (see Measure in Head.cpp).
    const auto& p = h.profile;
    const double height = p[ProfilePoint::TopHead].z - p[ProfilePoint::BottomHead].z;
    h.browOverTip = (p[ProfilePoint::EyeCenter].z + 1.0 - p[ProfilePoint::NoseTip].z) / height;
    h.profileMouthBehindTip = (p[ProfilePoint::MouthCenter].y - p[ProfilePoint::LeftHead].y) /
                              (p[ProfilePoint::RightHead].y - p[ProfilePoint::LeftHead].y);
    h.profileMouthAboveChin = (p[ProfilePoint::MouthCenter].z - p[ProfilePoint::BottomHead].z) / height;
    DeriveProportions(h);
}

// The atlas of the texture builder for notional orthographic photos of this head.
struct Atlas {
    double s, cx, cy, px;
    int f2x, f24y, p11x, Wa, Ha, M, Q, W;
    double FrontX(double x) const { return cx + s * x; }
    double PhotoY(double z) const { return cy - s * z; }
    double ProfileX(double y) const { return px + s * y; }
    double UFront(double x) const { return (FrontX(x) - f2x + Q + M) / Wa; }
    double ULeft(double y) const { return (p11x + M - ProfileX(y)) / Wa; }
    double URight(double y) const { return (ProfileX(y) + Wa - M - p11x) / Wa; }
    double V(double z) const { return 1.0 - (PhotoY(z) - f24y + M) / Ha; }
};

void OwnPoints(const GenericData& d, const Atlas& a, THeadAttributes& points);

// The atlas the texture builder measures for the notional photos of this head.
Atlas MakeAtlas(const GenericData& d) {
    Atlas a;
    a.s = d.pixelsPerUnit;
    a.cx = 512;
    a.cy = 512;
    a.px = 300;
    THeadAttributes points;
    OwnPoints(d, a, points);
    const TAtlasLayout layout = TTextureCreator::MeasureAtlas(&points);
    if (!layout.valid) throw std::runtime_error("the texture builder makes no atlas of the generic head's photos: " + layout.problem);
    a.W = layout.W;
    a.M = layout.M;
    a.Q = layout.Q;
    a.Wa = layout.Wa;
    a.Ha = layout.Ha;
    a.f2x = points.front[FrontPoint::LeftEyeLeft]->x;
    a.f24y = points.front[FrontPoint::TopHead]->y;
    a.p11x = points.profile[ProfilePoint::RightHead]->x;
    return a;
}

// The face outline: over the crown and down the temples along the coronal band whose texture
// coordinates (in the projected layout) span what the texture builder's global fit expects of a
// head of this width (TTextureCreator::FaceOutlineWidths head widths in u), then along the jaw to the chin. Its v span runs from
// the crown to the chin, the head height of the front photo. The band's depth is searched, as
// the side-view coordinates blend into the front's near the face.
void FaceBorders(GenericData& d, const Atlas& a) {
    const Mesh& m = d.g.head;
    auto& face = d.weights[TWeightManager::face_borders];
    const double zJaw = d.g.mouth.z;
    std::vector<double> u(m.pos.size(), 0.5);
    for (size_t t = 0; t < m.tris.size(); ++t)
        for (int k = 0; k < 3; ++k) u[size_t(m.tris[t][k])] = d.headUv[3 * t + size_t(k)].u;
    auto inBand = [&](const Vec3& p, double yt) { return p.y <= yt && p.y > yt - 0.2 && p.z > zJaw && std::abs(p.x) > 0.5; };
    auto span = [&](double yt) {
        double lo = 1e9, hi = -1e9;
        for (size_t i = 0; i < m.pos.size(); ++i)
            if (inBand(m.pos[i], yt)) lo = std::min(lo, u[i]), hi = std::max(hi, u[i]);
        return hi - lo;
    };
    const double want = TTextureCreator::FaceOutlineWidths * a.W / a.Wa;
    double near = d.profile[ProfilePoint::EyeCenter].p.y, far = d.profile[ProfilePoint::RightHead].p.y, yt = far;
    for (int it = 0; it < 40; ++it) {
        const double mid = 0.5 * (near + far);
        (span(mid) < want ? near : far) = mid;
        if (std::abs(span(mid) - want) < std::abs(span(yt) - want)) yt = mid;
    }
    for (size_t i = 0; i < m.pos.size(); ++i)
        if (inBand(m.pos[i], yt)) face[i] = 1.0;
    const std::vector<Vec3> n = m.VertexNormals();
    // Jaw: per height, the outermost front-facing vertex on each side.
    const double zChin = d.front[FrontPoint::BottomHead].p.z;
    for (double z = zChin; z < zJaw + 0.3; z += 0.12)
        for (int side = 0; side < 2; ++side) {
            int best = -1;
            for (size_t i = 0; i < m.pos.size(); ++i) {
                const Vec3& p = m.pos[i];
                if (std::abs(p.z - z) > 0.06 || p.y > yt || n[i].y > 0.3) continue;
                double ax = side ? p.x : -p.x;
                if (best < 0 || ax > (side ? m.pos[best].x : -m.pos[best].x)) best = int(i);
            }
            if (best >= 0) face[best] = 1.0;
        }
    face[d.g.chinVertex] = 1.0;
    face[d.g.topVertex] = 1.0;
}

// The generic head's own feature points in the pixels of the notional photos of the atlas.
void OwnPoints(const GenericData& d, const Atlas& a, THeadAttributes& points) {
    for (size_t i = 0; i < d.front.size(); ++i)
        points.front[i]->SetPosition(Px(a.FrontX(d.front[i].p.x)), Px(a.PhotoY(d.front[i].p.z)));
    for (size_t i = 0; i < d.profile.size(); ++i)
        points.profile[i]->SetPosition(Px(a.ProfileX(d.profile[i].p.y)), Px(a.PhotoY(d.profile[i].p.z)));
}

// The maps per triangle corner, as the reconstruction reads them.
TWeightManager CornerMaps(const GenericData& d) {
    TWeightManager maps{TWeightManager::NoFiles{}};
    for (size_t slot = 0; slot < d.weights.size(); ++slot)
        for (const Tri& t : d.g.head.tris)
            for (int v : t) maps.weights[slot].push_back(static_cast<float>(d.weights[slot][size_t(v)]));
    return maps;
}

// The texture builder's fit of photos of this head applied to a layout: its global shift and scale
// around the nose tip, then its local moves of discs around fixed references.
std::vector<Vec2> BuilderFit(const std::vector<Vec2>& layout, const THeadAttributes& points, const TAtlasLayout& atlas,
                             const TWeightManager& maps, const TGenericHead& facts) {
    TGeometry head;
    for (const Vec2& c : layout) {
        head.texCoords.push_back(static_cast<float>(c.u));
        head.texCoords.push_back(static_cast<float>(c.v));
    }
    TTextureCreator::FitTextureCoordinates(&points, atlas, &head, nullptr, &maps, facts);
    std::vector<Vec2> out(layout.size());
    for (size_t i = 0; i < out.size(); ++i) out[i] = {head.texCoords[2 * i], head.texCoords[2 * i + 1]};
    return out;
}

// The u and v spans of the face outline in a layout, as the builder's global fit reads them.
Vec2 OutlineSpan(const std::vector<Vec2>& uv, const std::vector<float>& outline) {
    double lo[2] = {1e9, 1e9}, hi[2] = {-1e9, -1e9};
    for (size_t i = 0; i < uv.size(); ++i)
        if (outline[i] > 0) {
            lo[0] = std::min(lo[0], uv[i].u);
            hi[0] = std::max(hi[0], uv[i].u);
            lo[1] = std::min(lo[1], uv[i].v);
            hi[1] = std::max(hi[1], uv[i].v);
        }
    return {hi[0] - lo[0], hi[1] - lo[1]};
}

// One Newton step for every corner towards a layout whose fit is `target`. The fit of one corner
// depends only on that corner and on the outlines' spans, which a shift of all corners keeps, so
// shifting all corners at once gives every corner's derivatives. Where the builder's disc folds the
// atlas over (no usable derivative), a corner takes the plain step. Returns the largest miss.
double NewtonStep(std::vector<Vec2>& layout, const std::vector<Vec2>& target,
                  const std::function<std::vector<Vec2>(const std::vector<Vec2>&)>& fit) {
    constexpr double kDelta = 2e-4, kLongest = 0.03;
    auto shifted = [&](Vec2 by) {
        std::vector<Vec2> s = layout;
        for (Vec2& c : s) c = {c.u + by.u, c.v + by.v};
        return fit(s);
    };
    const std::vector<Vec2> f = fit(layout), fu = shifted({kDelta, 0}), fv = shifted({0, kDelta});
    double worst = 0;
    for (size_t i = 0; i < layout.size(); ++i) {
        const Vec2 r{target[i].u - f[i].u, target[i].v - f[i].v};
        worst = std::max({worst, std::abs(r.u), std::abs(r.v)});
        const double a11 = (fu[i].u - f[i].u) / kDelta, a21 = (fu[i].v - f[i].v) / kDelta;
        const double a12 = (fv[i].u - f[i].u) / kDelta, a22 = (fv[i].v - f[i].v) / kDelta;
        const double det = a11 * a22 - a12 * a21;
        Vec2 step = r;
        if (det > 0.1) step = {(a22 * r.u - a12 * r.v) / det, (a11 * r.v - a21 * r.u) / det};
        const double len = std::hypot(step.u, step.v);
        if (len > kLongest) step = {step.u * kLongest / len, step.v * kLongest / len};
        layout[i] = {layout[i].u + step.u, layout[i].v + step.v};
    }
    return worst;
}

// The builder moves each feature of the layout from its fixed reference onto the photo's feature.
// The layout is that fit undone: starting from the projection of the head into the atlas of its own
// photos, every corner is solved so that the builder's real fit of those photos gives the projection
// back. The builder's global scale is the photo's face size over the face outline's spans in the
// layout, and it scales every corner: the outline keeps its projected place (moved with the nose
// tip onto its reference), so that scale stays 1 and the Newton steps solve for the builder's local
// moves alone. Stepping the outline too let the corners the discs reach widen it with every step,
// and the rescaling that followed dragged all corners off their solution (the left ear ended 0.022
// off its photo).
void UndoBuilderFit(GenericData& d, const Atlas& a) {
    THeadAttributes points;
    OwnPoints(d, a, points);
    const TAtlasLayout atlas = TTextureCreator::MeasureAtlas(&points);
    if (!atlas.valid || atlas.Wa != a.Wa || atlas.Ha != a.Ha)
        throw std::runtime_error("the texture builder measures another atlas for the generic head's photos");
    const TWeightManager maps = CornerMaps(d);
    const std::vector<float>& outline = maps.weights[TWeightManager::face_borders];
    const Vec2 ref0{d.facts.layout[LayoutRef::NoseTip].u, d.facts.layout[LayoutRef::NoseTip].v};
    const Vec2 face{TTextureCreator::FaceOutlineWidths * (points.front[FrontPoint::RightHead]->x - points.front[FrontPoint::LeftHead]->x) / double(atlas.Wa),
                    double(points.front[FrontPoint::BottomHead]->y - points.front[FrontPoint::TopHead]->y) / double(atlas.Ha)};
    auto fit = [&](const std::vector<Vec2>& layout) { return BuilderFit(layout, points, atlas, maps, d.facts); };

    const std::vector<Vec2> projected = d.headUv;
    const Vec2 tip{a.UFront(d.front[FrontPoint::NoseTip].p.x), a.V(d.front[FrontPoint::NoseTip].p.z)};
    std::vector<Vec2> layout = projected;
    for (Vec2& c : layout) c = {c.u - (tip.u - ref0.u), c.v - (tip.v - ref0.v)};
    const std::vector<Vec2> outlineAt = layout;
    for (int it = 0; it < 16; ++it) {
        const double worst = NewtonStep(layout, projected, fit);
        for (size_t i = 0; i < layout.size(); ++i)
            if (outline[i] > 0) layout[i] = outlineAt[i];
        const Vec2 span = OutlineSpan(layout, outline);
        if (std::getenv("GENHEAD_DEBUG"))
            std::fprintf(stderr, "layout step %d: the fit misses by %.5f, outline scale %.4f %.4f\n", it, worst,
                         face.u / span.u, face.v / span.v);
    }
    d.headUv = layout;
}

// The texture builder's references: where this head's own features lie in the atlas of its own
// photos. The layout is solved so that the builder's fit of those photos gives the projection back.
void LayoutReferences(GenericData& d, const Atlas& a) {
    auto front = [&](int i) { return TLayoutPoint{a.UFront(d.front[size_t(i)].p.x), a.V(d.front[size_t(i)].p.z)}; };
    auto left = [&](int i) { return TLayoutPoint{a.ULeft(d.profile[size_t(i)].p.y), a.V(d.profile[size_t(i)].p.z)}; };
    auto right = [&](int i) { return TLayoutPoint{a.URight(d.profile[size_t(i)].p.y), a.V(d.profile[size_t(i)].p.z)}; };
    auto& r = d.facts.layout;
    r[LayoutRef::NoseTip] = front(FrontPoint::NoseTip);
    r[LayoutRef::LeftEye] = front(FrontPoint::LeftEyeCenter);
    r[LayoutRef::RightEye] = front(FrontPoint::RightEyeCenter);
    r[LayoutRef::Mouth] = front(FrontPoint::MouthCenter);
    r[LayoutRef::MouthLeft] = front(FrontPoint::MouthLeft);
    r[LayoutRef::MouthRight] = front(FrontPoint::MouthRight);
    r[LayoutRef::LeftEar] = left(ProfilePoint::EarCenter);
    r[LayoutRef::LeftEarTop] = left(ProfilePoint::EarTop);
    r[LayoutRef::LeftEarBottom] = left(ProfilePoint::EarBottom);
    r[LayoutRef::RightEar] = right(ProfilePoint::EarCenter);
    r[LayoutRef::RightEarTop] = right(ProfilePoint::EarTop);
    r[LayoutRef::RightEarBottom] = right(ProfilePoint::EarBottom);
    if (std::getenv("GENHEAD_DEBUG"))
        for (int i = 0; i < LayoutRef::Count; ++i) std::fprintf(stderr, "layout reference %d: %.5f %.5f\n", i, r[size_t(i)].u, r[size_t(i)].v);
}

void Layout(GenericData& d) {
    const Mesh& m = d.g.head;
    Atlas a = MakeAtlas(d);
    LayoutReferences(d, a);
    const double xl = d.front[FrontPoint::LeftEyeLeft].p.x, xr = d.front[FrontPoint::RightEyeRight].p.x;
    const double zChin = d.front[FrontPoint::BottomHead].p.z;
    const double vChin = a.V(zChin);
    const double yTop = m.pos[d.g.topVertex].y + 0.2, zTop = m.pos[d.g.topVertex].z;
    // The unrolled back stops 6 pixels short of the atlas edge, and short by the texture builder's
    // global shift too (the layout is moved against it below), so it stays inside in both.
    const double shift = std::abs(a.UFront(m.pos[d.g.noseTipVertex].x) - d.facts.layout[LayoutRef::NoseTip].u) * a.Wa;
    const double zEye = d.front[FrontPoint::LeftEyeCenter].p.z;
    const double yEar = d.g.leftEar.y, unroll = (a.M - 6 - shift) / a.s;
    d.headUv.clear();
    for (const Tri& t : m.tris) {
        double cxm = (m.pos[t[0]].x + m.pos[t[1]].x + m.pos[t[2]].x) / 3;
        bool rightSide = cxm > 0;
        for (int c : t) {
            const Vec3& p = m.pos[c];
            // The front photo covers the face, and over the crown it reaches back to the top of the
            // head (the top of the front photo's outline).
            double y0 = -0.2 + (yTop + 0.1) * Smooth(1.5, zTop - 0.45, p.z);
            double front = 1.0 - Smooth(y0, y0 + 1.1, p.y);
            // The eyes keep the front photo up to their outer corners (the builder measures them
            // there); beyond, the layout turns to the side photo across the atlas's cross-fade.
            double out = 0.5 * (1.0 - Smooth(0.8, 1.8, std::abs(p.z - zEye)));
            double lateral = rightSide ? 1.0 - Smooth(xr - 0.45 + out, xr + 0.45 + out, p.x)
                                       : Smooth(xl - 0.45 - out, xl + 0.45 - out, p.x);
            double b = 1.0 - front * lateral;
            // Behind the ears the side photo sees the skull edge-on; the back is unrolled into the
            // atlas margin (which the texture builder paints with hair), reaching the atlas edge at
            // the back's middle, so its texture cells keep their size.
            double around = std::atan2(p.y - yEar, std::max(std::abs(p.x), 1e-9)) * 180.0 / M_PI;
            double yUnrolled = p.y + unroll * Smooth(20.0, 90.0, around);
            double us = rightSide ? a.URight(yUnrolled) : a.ULeft(yUnrolled);
            double u = (1 - b) * a.UFront(p.x) + b * us;
            double v = a.V(p.z);
            if (p.z < zChin) {  // the neck folds into the skin band below the chin
                double span = vChin - 0.015, dv = vChin - v;
                v = vChin - span * (1 - std::exp(-dv / span));
            }
            d.headUv.push_back({u, v});
        }
    }
    FaceBorders(d, a);
    UndoBuilderFit(d, a);
}

// The eye texture is the square the texture builder cuts from the front photo: from the left eye's
// outer corner across the eye's width, centred on the photo's eye centre, the pupil, which sits in
// the middle of the opening's height. The eyeball is mapped the same way from its opening: corner
// to corner across, centred on the head's own eye centre (the middle of the opening's height), so
// that the opening shows the photo's opening with the iris where the head states its eye centre.
// The left eyeball shows it as it is; the right one mirrored, so both outer corners sit at u = 0.
void EyeUv(GenericData& d) {
    auto uv = [&](const Mesh& eye, double corner, double width, double z) {
        std::vector<Vec2> out;
        for (const Vec3& p : eye.pos)
            out.push_back({std::clamp((p.x - corner) / width, 0.0, 1.0), std::clamp(0.5 + (p.z - z) / std::abs(width), 0.0, 1.0)});
        return out;
    };
    d.leftEyeUv = uv(d.g.leftEye, d.front[FrontPoint::LeftEyeLeft].p.x,
                     d.front[FrontPoint::LeftEyeRight].p.x - d.front[FrontPoint::LeftEyeLeft].p.x,
                     d.front[FrontPoint::LeftEyeCenter].p.z);
    d.rightEyeUv = uv(d.g.rightEye, d.front[FrontPoint::RightEyeRight].p.x,
                      d.front[FrontPoint::RightEyeLeft].p.x - d.front[FrontPoint::RightEyeRight].p.x,
                      d.front[FrontPoint::RightEyeCenter].p.z);
}

// Height below which no hair grows, by depth: forehead, temples, above the ears, down to the nape.
double Hairline(double y) {
    static const double knots[][2] = {{-3, 2.45}, {0.6, 2.35}, {1.6, 1.9}, {2.1, 1.7}, {3.5, 1.7}, {4.4, -0.6}, {7, -1.3}};
    for (size_t i = 1; i < std::size(knots); ++i)
        if (y < knots[i][0]) {
            double t = (y - knots[i - 1][0]) / (knots[i][0] - knots[i - 1][0]);
            return knots[i - 1][1] + Smooth(0, 1, t) * (knots[i][1] - knots[i - 1][1]);
        }
    return knots[std::size(knots) - 1][1];
}

// Strands combed over the scalp, each a chain of thin triangles that reads as a line when drawn
// as lines: from the front they are swept back, on the sides and the back they fall down, and
// every point keeps a little above the skin.
void Hair(GenericData& d) {
    const Mesh& m = d.g.head;
    std::vector<Vec3> n = m.VertexNormals();
    unsigned seed = 12345;
    auto rnd = [&]() {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 8) & 0xffff) / 65535.0;
    };
    auto nearest = [&](Vec3 q) {
        int best = 0;
        double bd = 1e18;
        for (size_t i = 0; i < m.pos.size(); ++i) {
            Vec3 e = m.pos[i] - q;
            double dd = Dot(e, e);
            if (dd < bd) {
                bd = dd;
                best = int(i);
            }
        }
        return best;
    };
    for (size_t sample = 0; sample < 2 * m.tris.size(); ++sample) {  // two roots a triangle
        const Tri& tr = m.tris[sample / 2];
        double r1 = rnd(), r2 = rnd();
        if (r1 + r2 > 1) {
            r1 = 1 - r1;
            r2 = 1 - r2;
        }
        const Vec3 root = m.pos[tr[0]] + (m.pos[tr[1]] - m.pos[tr[0]]) * r1 + (m.pos[tr[2]] - m.pos[tr[0]]) * r2;
        const Vec3 rn = Unit(n[tr[0]] + n[tr[1]] + n[tr[2]]);
        if (root.z < Hairline(root.y) || rn.z < -0.2) continue;
        const Vec3& ear = root.x > 0 ? d.g.rightEar : d.g.leftEar;
        if (std::abs(root.x) > 2.3 && root.z < ear.z + 1.15 && root.y < ear.y + 0.85) continue;  // ears
        // Flow: back over the top with a parting to +x, down on the sides and the back.
        double top = Smooth(0.2, 0.75, rn.z);
        Vec3 flow = Unit(Vec3{0.3, 1.0, 0.0} * top + Vec3{root.x * 0.1, 0.45, -1.0} * (1 - top));
        const int segs = 6;
        const double step = 0.17 + 0.06 * rnd();
        Vec3 cur = root + rn * 0.04;
        double u0 = 0.01 + 0.04 * rnd();
        int base = int(d.hair.pos.size());
        int made = 0;
        for (int k = 0; k <= segs; ++k) {
            int v = nearest(cur);
            double lift = 0.04 + 0.01 * k;
            double h = Dot(cur - m.pos[v], n[v]);
            if (h < lift) cur = cur + n[v] * (lift - h);
            if (k > 0 && (cur.z < Hairline(cur.y) - 0.25 || (cur.y < 0.9 && cur.z < 2.35))) break;
            Vec3 side = Unit(Cross(flow, n[v])) * 0.025;
            d.hair.pos.push_back(cur);
            d.hair.pos.push_back(cur + side);
            d.hairUv.push_back({u0, 0.01 + 0.006 * k});
            d.hairUv.push_back({u0 + 0.004, 0.01 + 0.006 * k});
            ++made;
            // Follow the skin: take the flow into the tangent plane, then gravity bends it down.
            Vec3 t = flow - n[v] * Dot(flow, n[v]);
            flow = Unit(Unit(t) + Vec3{0, 0, -0.2 * (1 - top)});
            cur = cur + flow * step;
        }
        if (made < 4) {  // stubs at the hairline read as stray marks, not hair
            d.hair.pos.resize(size_t(base));
            d.hairUv.resize(size_t(base));
            continue;
        }
        for (int k = 0; k + 1 < made; ++k) {
            int a0 = base + 2 * k, a1 = a0 + 1, b0 = a0 + 2;
            d.hair.tris.push_back({a0, b0, a1});
        }
    }
}

// The two facts that come from the head's own front photo, as the front recognizer sees it, kept
// to a thousandth (a pixel of the photo's head width is about 0.003).
void FactsFromOwnPhoto(GenericData& d) {
    const PhotoFacts measured = MeasureOwnPhoto(d);
    d.facts.outlineShare = std::round(measured.outlineShare * 1000) / 1000;
    d.facts.crownAboveFaceCentre = std::round(measured.crownAboveFaceCentre * 1000) / 1000;
}
}  // namespace

GenericData BuildGeneric(const std::string& sourcePath, const HeadVariant& variant) {
    GenericData d;
    d.g = BuildHead(sourcePath, variant);
    Weights(d);
    LimitOverlap(d);
    AtFilePrecision(d);
    Features(d);
    Facts(d);
    Layout(d);
    EyeUv(d);
    Hair(d);
    FactsFromOwnPhoto(d);
    return d;
}
