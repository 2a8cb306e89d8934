#include "tools/genhead/Head.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <stdexcept>

#include "tools/genhead/Source.h"
#include "tools/genhead/Warp.h"

namespace {
// Where the texture builder's atlas of photos of this head puts the features depends on the
// crown's height (with the chin's, the face height that sets the atlas's rows), the depth of the
// back of the head (the profile parts' width) and the eyes' outer corners (where the front band
// starts and its width). These put the features on the builder's references.
// How far the bend that brings the features onto the anchors reaches (the standard deviation of
// its bumps): about the eye's opening, so each eye, the mouth and each ear move nearly whole while
// the skull between them keeps the source's shape.
constexpr double kBendReach = 0.8;

// Front-most surface point of the midline at height z (ray from the front), or NaN.
double FrontY(const Mesh& m, double x, double z) {
    double t;
    if (!RayHit(m, {x, -50, z}, {0, 1, 0}, &t)) return std::numeric_limits<double>::quiet_NaN();
    return -50 + t;
}

struct Features {
    Vec3 eyeApex[2], eyeCentre[2];  // [0] at -x, [1] at +x; eyeCentre: middle of the eye mesh's box
    Vec3 eyeHalf;                   // half the box's size
    double eyeRadius = 0;
    Vec3 noseTip, nasion, mouth, chin, top, back;
    Vec3 earCentre[2], earLow[2], earHigh[2];
};

Features Measure(const Mesh& head, const Mesh& eyes) {
    Features f;
    // Eyeballs: the eye mesh falls into pieces; group them by side.
    for (int side = 0; side < 2; ++side) {
        Vec3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
        Vec3 apex{0, 1e9, 0};
        for (const Vec3& p : eyes.pos) {
            if ((p.x > 0) != (side == 1)) continue;
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            if (p.y < apex.y) apex = p;
        }
        f.eyeApex[side] = apex;
        f.eyeCentre[side] = (lo + hi) * 0.5;
        f.eyeRadius = (hi.x - lo.x) * 0.5;
        f.eyeHalf = (hi - lo) * 0.5;
    }
    const double eyeZ = f.eyeApex[0].z;
    // Midline profile from the front, fine steps.
    std::vector<std::pair<double, double>> prof;  // (z, y)
    for (double z = eyeZ + 1.5; z > eyeZ - 5.0; z -= 0.02) {
        double y = FrontY(head, 0.0, z);
        if (!std::isnan(y)) prof.push_back({z, y});
    }
    // Nose tip: the most forward vertex near the midline below the eyes.
    f.noseTip = head.pos[size_t(MostForwardMidlineVertex(head, eyeZ - 3, eyeZ))];
    // Nose root: the deepest profile point between the brow and the tip.
    double best = -1e9;
    for (auto [z, y] : prof)
        if (z < eyeZ + 1.0 && z > f.noseTip.z + 0.5 && y > best) {
            best = y;
            f.nasion = {0, y, z};
        }
    // Lip junction: the deepest point of the profile between nose and chin.
    best = -1e9;
    double zs = 0;
    for (auto [z, y] : prof)
        if (z < f.noseTip.z - 0.7 && z > f.noseTip.z - 1.6 && y > best) {
            best = y;
            zs = z;
        }
    double yUp = FrontY(head, 0, zs + 0.15), yDown = FrontY(head, 0, zs - 0.15);
    f.mouth = {0, 0.5 * (yUp + yDown) + 0.05, zs};
    // Chin: the most forward point below the lips, then down the profile to where it turns under.
    double pog = 1e9, pogZ = zs;
    for (auto [z, y] : prof)
        if (z < zs - 0.4 && z > zs - 2.0 && y < pog) {
            pog = y;
            pogZ = z;
        }
    double mentonZ = pogZ, mentonY = pog;
    for (auto [z, y] : prof)
        if (z < pogZ && y < pog + 0.6 && z < mentonZ) {
            mentonZ = z;
            mentonY = y;
        }
    f.chin = {0, mentonY, mentonZ};
    // Top and back of the skull.
    for (const Vec3& p : head.pos) {
        if (p.z > f.top.z || f.top.z == 0) f.top = p;
        if (p.z > eyeZ - 1.0 && p.y > f.back.y) f.back = p;
    }
    // Ears: what sticks out sideways beyond 2.6 units at ear height marks the ear's extent.
    for (int side = 0; side < 2; ++side) {
        Vec3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
        double sign = side ? 1 : -1;
        for (const Vec3& p : head.pos) {
            double ax = p.x * sign;
            if (ax < 2.6 || p.z > eyeZ + 0.6 || p.z < eyeZ - 2.5 || p.y < f.eyeApex[0].y + 2) continue;
            lo = {std::min(lo.x, ax), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, ax), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        double attach = 2.4;
        f.earLow[side] = {attach, lo.y, lo.z};
        f.earHigh[side] = {hi.x, hi.y, hi.z};
        f.earCentre[side] = {sign * 0.5 * (attach + hi.x), 0.5 * (lo.y + hi.y), 0.5 * (lo.z + hi.z)};
    }
    return f;
}

// Removes the lining of each eye socket behind the lids, so the eyeball shows through the opening:
// starting from the lining right behind the eyeball, everything connected to it that still faces
// the eyeball goes. What is left ends in one rim per eye.
Mesh OpenSockets(const Mesh& head, const Vec3 centre[2], double radius) {
    const size_t nt = head.tris.size();
    std::vector<Vec3> cen(nt), fn(nt);
    for (size_t t = 0; t < nt; ++t) {
        const Tri& tr = head.tris[t];
        cen[t] = (head.pos[tr[0]] + head.pos[tr[1]] + head.pos[tr[2]]) * (1.0 / 3);
        fn[t] = Unit(Cross(head.pos[tr[1]] - head.pos[tr[0]], head.pos[tr[2]] - head.pos[tr[0]]));
    }
    std::map<std::pair<int, int>, std::vector<int>> byEdge;
    for (size_t t = 0; t < nt; ++t)
        for (int i = 0; i < 3; ++i) {
            int a = head.tris[t][i], b = head.tris[t][(i + 1) % 3];
            byEdge[{std::min(a, b), std::max(a, b)}].push_back(int(t));
        }
    std::vector<char> remove(nt, 0);
    for (int s = 0; s < 2; ++s) {
        auto facing = [&](size_t t, double limit, double reach) {
            Vec3 d = cen[t] - centre[s];
            return Len(d) < radius * reach && Dot(fn[t], Unit(d)) < limit;
        };
        std::vector<int> stack;
        for (size_t t = 0; t < nt; ++t)
            if (facing(t, -0.7, 1.6) && cen[t].y > centre[s].y) {
                remove[t] = 1;
                stack.push_back(int(t));
            }
        while (!stack.empty()) {
            int t = stack.back();
            stack.pop_back();
            for (int i = 0; i < 3; ++i) {
                int a = head.tris[t][i], b = head.tris[t][(i + 1) % 3];
                for (int o : byEdge[{std::min(a, b), std::max(a, b)}])
                    if (!remove[o] && facing(o, -0.05, 1.6) && cen[o].y > centre[s].y - radius * 0.8) {
                        remove[o] = 1;
                        stack.push_back(o);
                    }
            }
        }
    }
    // A removed triangle held by kept ones on two of its edges is a notch in the rim, not part of
    // the opening: it stays, so the rim runs without pinched little holes.
    for (int pass = 0; pass < 2; ++pass)
        for (size_t t = 0; t < nt; ++t) {
            if (!remove[t]) continue;
            int held = 0;
            for (int i = 0; i < 3; ++i) {
                int a = head.tris[t][i], b = head.tris[t][(i + 1) % 3];
                for (int o : byEdge[{std::min(a, b), std::max(a, b)}])
                    if (o != int(t) && !remove[o]) ++held;
            }
            if (held >= 2) remove[t] = 0;
        }
    return KeepTriangles(head, [&](size_t t) { return !remove[t]; });
}

// Keeps the skin around each eye out of the eyeball (an ellipsoid filling the eye mesh's box):
// where the warp squeezed the socket, lids and cheek would sink behind the eyeball's surface and the
// eyeball would show through the skin. Skin inside is moved out along the ellipsoid's radius.
void KeepOutOfEyes(Mesh& m, const Vec3 centre[2], Vec3 half) {
    const double clearance = 1.02;
    for (int s = 0; s < 2; ++s) {
        int inside = 0;
        double deepest = 1.0;
        for (Vec3& p : m.pos) {
            Vec3 d = p - centre[s];
            double r = std::sqrt(d.x * d.x / (half.x * half.x) + d.y * d.y / (half.y * half.y) + d.z * d.z / (half.z * half.z));
            if (r >= clearance || r < 1e-9 || d.y > 0) continue;
            ++inside;
            deepest = std::min(deepest, r);
            p = centre[s] + d * (clearance / r);
        }
        if (std::getenv("GENHEAD_DEBUG"))
            std::fprintf(stderr, "eye %d: %d skin vertices moved out of the eyeball, deepest at %.3f of its radius\n", s, inside, deepest);
    }
}

// Closes every hole with at most `maxEdges` edges with a fan around its middle.
void FillSmallHoles(Mesh& m, size_t maxEdges) {
    std::map<int, int> next;
    for (auto e : m.BoundaryEdges()) next[e[0]] = e[1];
    std::set<int> seen;
    for (const auto& entry : next) {
        const int start = entry.first;
        if (seen.count(start)) continue;
        std::vector<int> loop;
        for (int c = start; !seen.count(c) && next.count(c); c = next[c]) {
            seen.insert(c);
            loop.push_back(c);
        }
        if (loop.size() > maxEdges || loop.size() < 3) continue;
        Vec3 c;
        for (int v : loop) c = c + m.pos[v];
        int centre = int(m.pos.size());
        m.pos.push_back(c * (1.0 / loop.size()));
        for (size_t i = 0; i < loop.size(); ++i) m.tris.push_back({loop[(i + 1) % loop.size()], loop[i], centre});
    }
}

// Closes the cut at the bottom of the neck with a flat fan; the cut is the plane z = cut(y).
template <class Cut>
void CapNeck(Mesh& m, Cut cut) {
    auto edges = m.BoundaryEdges();
    std::map<int, int> next;
    for (auto e : edges)
        if (m.pos[e[0]].z < cut(m.pos[e[0]].y) + 0.8 && m.pos[e[1]].z < cut(m.pos[e[1]].y) + 0.8) next[e[0]] = e[1];
    if (next.empty()) return;
    Vec3 c;
    for (auto [a, b] : next) {
        m.pos[a].z = cut(m.pos[a].y);
        c = c + m.pos[a];
    }
    c = c * (1.0 / next.size());
    int centre = int(m.pos.size());
    m.pos.push_back(c);
    // The hole's boundary edges run against the neighbouring triangles; the cap runs the other way.
    for (auto [a, b] : next) m.tris.push_back({b, a, centre});
}

// Moves the points near `from` by `shift`, fading with a Gaussian of the given spread per axis.
void WindowShift(std::vector<Vec3>& pts, Vec3 from, Vec3 shift, Vec3 sigma) {
    for (Vec3& p : pts) {
        Vec3 d = p - from;
        double e = d.x * d.x / (2 * sigma.x * sigma.x) + d.y * d.y / (2 * sigma.y * sigma.y) +
                   d.z * d.z / (2 * sigma.z * sigma.z);
        p = p + shift * std::exp(-e);
    }
}

double Smooth(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// The lips' front in the profile: the further back of the upper and the lower lip's fronts, each
// the most forward midline point in a band above or below the mouth anchor.
double LipsFront(const std::vector<Vec3>& pts, size_t count) {
    const Vec3 a = anchors::kMouth;
    double upper = 1e9, lower = 1e9;
    for (size_t i = 0; i < count; ++i) {
        const Vec3& p = pts[i];
        if (std::abs(p.x) > 0.15) continue;
        if (p.z > a.z + 0.1 && p.z < a.z + 0.35) upper = std::min(upper, p.y);
        if (p.z < a.z - 0.1 && p.z > a.z - 0.35) lower = std::min(lower, p.y);
    }
    return std::max(upper, lower);
}

// The warp and the nose's move leave the lips in front of the mouth anchor, which the profile has
// between the lips' fronts; the lips move back until the anchor is there, with the skin close
// around them.
void LipsOntoAnchor(std::vector<Vec3>& pts, size_t count) {
    for (int pass = 0; pass < 2; ++pass) {
        const double miss = anchors::kMouth.y - LipsFront(pts, count);
        if (std::getenv("GENHEAD_DEBUG"))
            std::fprintf(stderr, "lips' front off the mouth anchor by %.3f in depth\n", miss);
        WindowShift(pts, anchors::kMouth, {0, miss, 0}, {0.9, 0.6, 0.4});
    }
}

// The warp that takes the features onto their anchors (see Warp), bending with the given reach.
Warp FitToAnchors(const Features& f, double reach) {
    return Warp({f.eyeApex[0], f.eyeApex[1], f.mouth, f.earCentre[0], f.earCentre[1]},
                {anchors::kLeftEye, anchors::kRightEye, anchors::kMouth, anchors::kLeftEar, anchors::kRightEar},
                {0, 1, 2, 3, 4}, reach);
}

// Turns points about the x axis by `angle` (radians; positive turns +y towards +z).
void Turn(std::vector<Vec3>& pts, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    for (Vec3& p : pts) p = {p.x, c * p.y - s * p.z, s * p.y + c * p.z};
}

// Nods the head forward by `angle` the way a neck does: everything above `full` turns whole about
// the line through `pivot` along x, the neck below fades to no turn at `none`, so the neck stays
// upright and its back does not swing out behind the skull.
void Nod(std::vector<Vec3>& pts, double angle, Vec3 pivot, double full, double none) {
    for (Vec3& p : pts) {
        std::vector<Vec3> one{p - pivot};
        Turn(one, angle * Smooth(none, full, p.z));
        p = pivot + one[0];
    }
}

// Moves each eyeball (the eye mesh's halves at -x and +x) to where its centre goes under the turn,
// without turning it.
void TurnEyes(Mesh& eyes, double angle) {
    for (int side = 0; side < 2; ++side) {
        Vec3 lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
        for (const Vec3& p : eyes.pos)
            if ((p.x > 0) == (side == 1)) {
                lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
                hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
            }
        std::vector<Vec3> centre{(lo + hi) * 0.5};
        Turn(centre, angle);
        const Vec3 move = centre[0] - (lo + hi) * 0.5;
        for (Vec3& p : eyes.pos)
            if ((p.x > 0) == (side == 1)) p = p + move;
    }
}

// The features of the turned head: points turn with it and each eyeball moves with its centre;
// the ears' extents are measured afresh on the turned head (`turned`), as their boxes do not turn.
Features Turned(Features f, double angle, const Features& turned) {
    std::vector<Vec3> pts{f.noseTip, f.nasion, f.mouth, f.chin, f.top, f.back, f.eyeCentre[0], f.eyeCentre[1]};
    Turn(pts, angle);
    for (int side = 0; side < 2; ++side) {
        f.eyeApex[side] = f.eyeApex[side] + (pts[6 + side] - f.eyeCentre[side]);
        f.eyeCentre[side] = pts[6 + side];
        f.earCentre[side] = turned.earCentre[side];
        f.earLow[side] = turned.earLow[side];
        f.earHigh[side] = turned.earHigh[side];
    }
    f.noseTip = pts[0];
    f.nasion = pts[1];
    f.mouth = pts[2];
    f.chin = pts[3];
    f.top = pts[4];
    f.back = pts[5];
    return f;
}

}  // namespace

int MostForwardMidlineVertex(const Mesh& m, double zLow, double zHigh) {
    int best = -1;
    for (size_t i = 0; i < m.pos.size(); ++i) {
        const Vec3& p = m.pos[i];
        if (std::abs(p.x) < 0.3 && p.z > zLow && p.z < zHigh && (best < 0 || p.y < m.pos[size_t(best)].y)) best = int(i);
    }
    if (best < 0) {
        char what[160];
        std::snprintf(what, sizeof what, "no nose vertex found: no vertex within 0.3 of the midline between heights %.3f and %.3f",
                      zLow, zHigh);
        throw std::runtime_error(what);
    }
    return best;
}

namespace {
// The source figure's head and neck: everything within 11 units of the top of the figure.
Mesh CropHeadRegion(const Mesh& body) {
    double zTop = -1e9;
    for (const Vec3& p : body.pos) zTop = std::max(zTop, p.z);
    return KeepTriangles(body, [&](size_t t) {
        for (int c : body.tris[t])
            if (body.pos[c].z < zTop - 11) return false;
        return true;
    });
}

// The nose root comes onto the plane the reconstruction stretches the nose about, so the
// stretch keeps the root where it is and moves the tip by the whole change of the nose's depth.
// The whole nose moves with its root, so it keeps the depth and shape it has in the source.
void NoseRootOntoStretchPlane(std::vector<Vec3>& pts, const Vec3 root, const Vec3 tip) {
    const double shift = anchors::kNose.y - root.y;
    if (std::getenv("GENHEAD_DEBUG"))
        std::fprintf(stderr, "nose moved by %.3f in depth; %.3f deep\n", shift, root.y - tip.y);
    const Vec3 along = tip - root;
    for (Vec3& p : pts) {
        const double t = std::clamp(Dot(p - root, along) / Dot(along, along), 0.0, 1.0);
        const double d = Len(p - (root + along * t));
        p.y += shift * (1.0 - Smooth(0.2, 0.6, d));
    }
}

// Each eyeball of the source placed in the head: moved with the warp at its cornea's front and
// scaled by the warp's similarity.
void PlaceEyeballs(GenericHead& g, const Mesh& eyes, const Features& f, const Warp& warp) {
    const double s = warp.scale();
    for (int side = 0; side < 2; ++side) {
        Mesh eye = KeepTriangles(eyes, [&](size_t t) { return (eyes.pos[eyes.tris[t][0]].x > 0) == (side == 1); });
        Vec3 apex = warp(f.eyeApex[side]);
        for (Vec3& p : eye.pos) p = apex + (p - f.eyeApex[side]) * s;
        (side ? g.rightEye : g.leftEye) = eye;
        (side ? g.rightEyeApex : g.leftEyeApex) = apex;
        (side ? g.rightEyeCentre : g.leftEyeCentre) = apex + (f.eyeCentre[side] - f.eyeApex[side]) * s;
        g.sourceEyeShift[side] = warp.Similar(f.eyeApex[side]) - apex;
    }
    g.eyeRadius = f.eyeRadius * s;
}

// The neck's cut, z = cut(y): flat, rising towards the back parallel to the jaw, as low as it can
// be while the neck stays narrower than the head across the ears (the head's width is measured
// there).
struct NeckCut {
    Vec3 chin;
    double drop = 2.0;
    double operator()(double y) const { return chin.z - drop + 0.18 * (y - chin.y); }
};

NeckCut FindNeckCut(const Mesh& region, Vec3 chin) {
    double earWidth = 0;
    for (const Vec3& p : region.pos)
        if (p.z > chin.z) earWidth = std::max(earWidth, std::abs(p.x));
    NeckCut cut{chin};
    for (; cut.drop > 0.8; cut.drop -= 0.05) {
        double widest = 0;
        for (const Vec3& p : region.pos)
            if (p.z < chin.z && p.z > cut(p.y)) widest = std::max(widest, std::abs(p.x));
        if (widest < earWidth - 0.6) break;
    }
    if (std::getenv("GENHEAD_DEBUG")) std::fprintf(stderr, "neck cut %.2f below the chin, ears %.3f wide\n", cut.drop, earWidth);
    return cut;
}

// Lists the holes left in the head (debug output).
void ReportHoles(const Mesh& head) {
    std::map<int, int> next;
    for (auto e : head.BoundaryEdges()) next[e[0]] = e[1];
    std::set<int> seen;
    for (const auto& entry : next) {
        if (seen.count(entry.first)) continue;
        Vec3 c;
        int n = 0;
        for (int v = entry.first; !seen.count(v) && next.count(v); v = next[v], ++n) {
            seen.insert(v);
            c = c + head.pos[v];
        }
        c = c * (1.0 / n);
        std::fprintf(stderr, "hole of %d edges around %.2f %.2f %.2f\n", n, c.x, c.y, c.z);
    }
}

// The reconstruction takes the z of the float just before the last nose-tip corner as the tip's
// height: make that corner the second of its triangle, so the value read is its neighbour's.
void TipSecondInItsLastTriangle(Mesh& head, int tip) {
    for (size_t t = head.tris.size(); t-- > 0;) {
        Tri& tr = head.tris[t];
        auto it = std::find(tr.begin(), tr.end(), tip);
        if (it == tr.end()) continue;
        std::rotate(tr.begin(), tr.begin() + ((it - tr.begin() + 2) % 3), tr.end());
        break;
    }
}

// The chin's lowest corner: the lowest midline vertex that still faces forward, where the chin's
// outline turns under towards the throat.
int ChinVertex(const Mesh& head, Vec3 chin) {
    std::vector<Vec3> n = head.VertexNormals();
    int best = -1;
    for (size_t i = 0; i < head.pos.size(); ++i) {
        const Vec3& p = head.pos[i];
        if (std::abs(p.x) < 0.3 && n[i].y < -0.35 && p.z < anchors::kMouth.z - 0.8 && Len(p - chin) < 0.8 &&
            (best < 0 || p.z < head.pos[size_t(best)].z))
            best = int(i);
    }
    if (best < 0) throw std::runtime_error("no forward-facing midline vertex of the chin found");
    return best;
}
}  // namespace

GenericHead BuildHead(const std::string& path) {
    SourceModel src = LoadSource(path, kMetresPerUnit);
    Mesh region = CropHeadRegion(src.body);
    // The anchors hold the head tilted forward against MakeHuman's figure (the ears higher against
    // the eyes, the mouth further back): the head is turned by that tilt first, so the bend that
    // follows only takes up the difference in proportions. The eyeballs keep looking straight
    // ahead; only their places turn with the head.
    Features f = Measure(region, src.eyes);
    // The head nods about a line across at the ears' depth and the chin's height.
    const Vec3 pivot{0, f.earCentre[0].y, f.chin.z};
    for (Vec3& p : region.pos) p = p - pivot;
    for (Vec3& p : src.eyes.pos) p = p - pivot;
    f = Measure(region, src.eyes);
    const double tilt = FitToAnchors(f, kBendReach).pitch();
    Nod(region.pos, tilt, {}, 0.0, -1.5);
    TurnEyes(src.eyes, tilt);
    f = Turned(f, tilt, Measure(region, src.eyes));
    if (std::getenv("GENHEAD_DEBUG")) {
        std::fprintf(stderr, "head turned forward by %.2f degrees\n", tilt * 180 / M_PI);
        auto P = [](const char* n, Vec3 p) { std::fprintf(stderr, "src %-8s %8.3f %8.3f %8.3f\n", n, p.x, p.y, p.z); };
        P("tip", f.noseTip); P("nasion", f.nasion); P("mouth", f.mouth); P("chin", f.chin); P("top", f.top);
        P("back", f.back); P("eyeL", f.eyeApex[0]); P("earL", f.earCentre[0]);
    }
    // Eyes, mouth and ears land exactly on their anchors; the space near each bends with it.
    Warp warp = FitToAnchors(f, kBendReach);
    std::vector<Vec3> from{f.eyeApex[0], f.eyeApex[1], f.mouth, f.earCentre[0], f.earCentre[1]};
    std::vector<Vec3> to{anchors::kLeftEye, anchors::kRightEye, anchors::kMouth, anchors::kLeftEar, anchors::kRightEar};
    const double s = warp.scale();
    if (std::getenv("GENHEAD_DEBUG")) {
        std::fprintf(stderr, "similarity scale %.4f, turn about x %.2f degrees\n", s, warp.pitch() * 180 / M_PI);
        for (size_t i = 0; i < from.size(); ++i) {
            const Vec3 r = to[i] - warp.Similar(from[i]);
            std::fprintf(stderr, "bend at anchor %zu: %.3f %.3f %.3f\n", i, r.x, r.y, r.z);
        }
    }
    // Track the features through every later step as extra points at the end of the list.
    std::vector<Vec3> pts = region.pos;
    const size_t nMesh = pts.size();
    pts.push_back(f.nasion);
    pts.push_back(f.noseTip);
    pts.push_back(f.chin);
    for (Vec3& p : pts) p = warp(p);
    Vec3& nasion = pts[nMesh];
    Vec3& tip = pts[nMesh + 1];
    Vec3& chin = pts[nMesh + 2];
    NoseRootOntoStretchPlane(pts, nasion, tip);
    LipsOntoAnchor(pts, nMesh);
    double top = -1e9, back = -1e9;
    for (size_t i = 0; i < nMesh; ++i) {
        top = std::max(top, pts[i].z);
        if (pts[i].z > -0.5) back = std::max(back, pts[i].y);
    }
    if (std::getenv("GENHEAD_DEBUG")) {
        auto P = [](const char* n, Vec3 p) { std::fprintf(stderr, "dst %-8s %8.3f %8.3f %8.3f\n", n, p.x, p.y, p.z); };
        P("tip", tip); P("nasion", nasion); P("chin", chin); P("top", Vec3{0, 0, top}); P("back", Vec3{0, back, 0});
        P("mouth", warp(f.mouth));
    }
    GenericHead g;
    g.bentAt.assign(pts.begin(), pts.begin() + long(nMesh));
    for (size_t i = 0; i < nMesh; ++i) g.sourceAt.push_back(warp.Similar(region.pos[i]));
    region.pos.assign(pts.begin(), pts.begin() + long(nMesh));

    PlaceEyeballs(g, src.eyes, f, warp);
    const NeckCut zCut = FindNeckCut(region, chin);
    Mesh cropped = KeepTriangles(region, [&](size_t t) {
        for (int c : region.tris[t])
            if (region.pos[c].z < zCut(region.pos[c].y)) return false;
        return true;
    });
    Vec3 centres[2] = {g.leftEyeCentre, g.rightEyeCentre};
    g.head = OpenSockets(cropped, centres, g.eyeRadius);
    FillSmallHoles(g.head, 16);
    KeepOutOfEyes(g.head, centres, f.eyeHalf * s);
    CapNeck(g.head, zCut);
    if (std::getenv("GENHEAD_DEBUG")) ReportHoles(g.head);
    g.mouth = anchors::kMouth;
    g.nasion = nasion;
    g.stomionZ = g.mouth.z;
    g.leftEar = anchors::kLeftEar;
    g.rightEar = anchors::kRightEar;
    g.earSize = (f.earHigh[0] - f.earLow[0]) * s;
    for (size_t i = 0; i < g.head.pos.size(); ++i)
        if (g.topVertex < 0 || g.head.pos[i].z > g.head.pos[g.topVertex].z) g.topVertex = int(i);
    // The tip is the most forward vertex of the nose.
    g.noseTipVertex = MostForwardMidlineVertex(g.head, tip.z - 0.5, tip.z + 0.5);
    TipSecondInItsLastTriangle(g.head, g.noseTipVertex);
    g.chinVertex = ChinVertex(g.head, chin);
    return g;
}
