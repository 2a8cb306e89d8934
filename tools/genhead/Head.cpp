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

namespace {
// Front-most surface point of the midline at height z (ray from the front), or NaN. The ray runs a
// hair beside the midline: along it, it would run down the edges between the two halves' triangles
// and slip through between them wherever rounding puts it outside both.
double FrontY(const Mesh& m, double z) {
    double t;
    if (!RayHit(m, {1e-4, -50, z}, {0, 1, 0}, &t)) return std::numeric_limits<double>::quiet_NaN();
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
        double y = FrontY(head, z);
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
    double yUp = FrontY(head, zs + 0.15), yDown = FrontY(head, zs - 0.15);
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
// where lids and cheek dip into it, the eyeball would show through the skin. Skin inside is moved
// out along the ellipsoid's radius.
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

// The lips' front in the profile: the further back of the upper and the lower lip's fronts, each
// the most forward midline point in a band above or below the lip junction at height z. The mouth's
// stated place has this depth.
double LipsFront(const std::vector<Vec3>& pts, double z) {
    double upper = 1e9, lower = 1e9;
    for (const Vec3& p : pts) {
        if (std::abs(p.x) > 0.15) continue;
        if (p.z > z + 0.1 && p.z < z + 0.35) upper = std::min(upper, p.y);
        if (p.z < z - 0.1 && p.z > z - 0.35) lower = std::min(lower, p.y);
    }
    return std::max(upper, lower);
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

// Each eyeball of the figure, as it sits in the head.
void PlaceEyeballs(GenericHead& g, const Mesh& eyes, const Features& f) {
    for (int side = 0; side < 2; ++side) {
        Mesh eye = KeepTriangles(eyes, [&](size_t t) { return (eyes.pos[eyes.tris[t][0]].x > 0) == (side == 1); });
        (side ? g.rightEye : g.leftEye) = eye;
        (side ? g.rightEyeApex : g.leftEyeApex) = f.eyeApex[side];
        (side ? g.rightEyeCentre : g.leftEyeCentre) = f.eyeCentre[side];
    }
    g.eyeRadius = f.eyeRadius;
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

// The chin's lowest corner: the lowest vertex on the midline that still faces forward, where the
// chin's outline turns under towards the throat. Only the midline's own vertices count: beside it
// the chin's flat underside would put the corner off the profile, behind lower skin.
int ChinVertex(const Mesh& head, Vec3 chin, double mouthZ) {
    std::vector<Vec3> n = head.VertexNormals();
    int best = -1;
    for (size_t i = 0; i < head.pos.size(); ++i) {
        const Vec3& p = head.pos[i];
        if (std::abs(p.x) < 0.05 && n[i].y < -0.35 && p.z < mouthZ - 0.8 && Len(p - chin) < 0.8 &&
            (best < 0 || p.z < head.pos[size_t(best)].z))
            best = int(i);
    }
    if (best < 0) throw std::runtime_error("no forward-facing midline vertex of the chin found");
    return best;
}

double Smooth(double e0, double e1, double x) {
    const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// Another head to try the program on: the figure widened across, its nose lengthened from the root
// along its ridge (the skin near the ridge with it, fading out within a little more than the
// nose's half width). Each eyeball moves whole with the widening at its centre.
void Vary(Mesh& region, Mesh& eyes, const HeadVariant& v) {
    if (v.wider == 0 && v.noseLonger == 0) return;
    const Features f = Measure(region, eyes);
    const Vec3 root = f.nasion, along = f.noseTip - root;
    for (Vec3& p : region.pos) {
        const double t = std::clamp(Dot(p - root, along) / Dot(along, along), 0.0, 1.0);
        const double d = Len(p - (root + along * t));
        p = p + along * (v.noseLonger * t * (1.0 - Smooth(0.2, 0.6, d)));
        p.x *= 1.0 + v.wider;
    }
    for (Vec3& p : eyes.pos) p.x += v.wider * f.eyeCentre[p.x > 0 ? 1 : 0].x;
}

// Moves the figure's head and eyes whole into the program's frame (see kEyesMiddleAt).
void IntoFrame(Mesh& region, Mesh& eyes) {
    const Features f = Measure(region, eyes);
    const Vec3 middle = (f.eyeApex[0] + f.eyeApex[1]) * 0.5;
    const Vec3 shift{0, kEyesMiddleAt.y - middle.y, kEyesMiddleAt.z - middle.z};
    for (Vec3& p : region.pos) p = p + shift;
    for (Vec3& p : eyes.pos) p = p + shift;
}

// Eyes, mouth, nose and ears where the figure has them.
void StateFeatures(GenericHead& g, const Mesh& region, const Features& f) {
    g.mouth = {0, LipsFront(region.pos, f.mouth.z), f.mouth.z};
    g.stomionZ = g.mouth.z;
    g.nasion = f.nasion;
    g.leftEar = f.earCentre[0];
    g.rightEar = f.earCentre[1];
    g.earSize = f.earHigh[0] - f.earLow[0];
    if (std::getenv("GENHEAD_DEBUG")) {
        auto P = [](const char* n, Vec3 p) { std::fprintf(stderr, "%-8s %8.3f %8.3f %8.3f\n", n, p.x, p.y, p.z); };
        P("tip", f.noseTip); P("nasion", f.nasion); P("mouth", g.mouth); P("chin", f.chin); P("top", f.top);
        P("back", f.back); P("eyeL", f.eyeApex[0]); P("eyeR", f.eyeApex[1]); P("earL", f.earCentre[0]); P("earR", f.earCentre[1]);
    }
}

// The skin of head and neck: cut below the chin, open at the eyes, closed at the neck.
Mesh Skin(const Mesh& region, const GenericHead& g, const Features& f) {
    const NeckCut zCut = FindNeckCut(region, f.chin);
    Mesh cropped = KeepTriangles(region, [&](size_t t) {
        for (int c : region.tris[t])
            if (region.pos[c].z < zCut(region.pos[c].y)) return false;
        return true;
    });
    const Vec3 centres[2] = {g.leftEyeCentre, g.rightEyeCentre};
    Mesh skin = OpenSockets(cropped, centres, g.eyeRadius);
    FillSmallHoles(skin, 16);
    KeepOutOfEyes(skin, centres, f.eyeHalf);
    CapNeck(skin, zCut);
    if (std::getenv("GENHEAD_DEBUG")) ReportHoles(skin);
    return skin;
}

// The skin's top, nose tip and chin corners.
void FindCorners(GenericHead& g, const Features& f) {
    for (size_t i = 0; i < g.head.pos.size(); ++i)
        if (g.topVertex < 0 || g.head.pos[i].z > g.head.pos[g.topVertex].z) g.topVertex = int(i);
    // The tip is the most forward vertex of the nose.
    g.noseTipVertex = MostForwardMidlineVertex(g.head, f.noseTip.z - 0.5, f.noseTip.z + 0.5);
    TipSecondInItsLastTriangle(g.head, g.noseTipVertex);
    g.chinVertex = ChinVertex(g.head, f.chin, g.mouth.z);
}
}  // namespace

GenericHead BuildHead(const std::string& path, const HeadVariant& variant) {
    SourceModel src = LoadSource(path, kMetresPerUnit);
    Mesh region = CropHeadRegion(src.body);
    IntoFrame(region, src.eyes);
    Vary(region, src.eyes, variant);
    const Features f = Measure(region, src.eyes);
    GenericHead g;
    PlaceEyeballs(g, src.eyes, f);
    StateFeatures(g, region, f);
    g.head = Skin(region, g, f);
    FindCorners(g, f);
    return g;
}
