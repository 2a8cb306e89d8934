#include "testing/HeadInvariants.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <tuple>

#include <opencv2/imgproc.hpp>

#include "collada/Geometry.h"

namespace {

Vec3 Corner(const std::vector<float>& p, size_t c) { return {p[3 * c], p[3 * c + 1], p[3 * c + 2]}; }

std::string Format(const char* format, auto... values)
{
    char text[320];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

}  // namespace

std::vector<std::vector<Vec3>> OpenLoops(const TGeometry& g, int* folds)
{
    std::map<std::tuple<float, float, float>, int> id;
    std::vector<Vec3> pts;
    auto key = [&](size_t corner) {
        const float* p = &g.positions[3 * size_t(g.triangles[corner])];
        auto [it, added] = id.emplace(std::make_tuple(p[0], p[1], p[2]), int(pts.size()));
        if (added)
            pts.push_back({p[0], p[1], p[2]});
        return it->second;
    };
    std::map<std::pair<int, int>, int> edges;
    for (size_t t = 0; t + 2 < g.triangles.size(); t += 3) {
        const int c[3] = {key(t), key(t + 1), key(t + 2)};
        for (int i = 0; i < 3; ++i)
            ++edges[{c[i], c[(i + 1) % 3]}];
    }
    std::map<int, int> next;
    int twice = 0;
    for (auto [e, n] : edges) {
        twice += n > 1;
        if (!edges.count({e.second, e.first}))
            next[e.first] = e.second;
    }
    if (folds)
        *folds = twice;
    std::vector<std::vector<Vec3>> loops;
    std::set<int> seen;
    for (auto [a, b] : next) {
        if (seen.count(a))
            continue;
        std::vector<Vec3> loop;
        for (int c = a; !seen.count(c) && next.count(c); c = next[c]) {
            seen.insert(c);
            loop.push_back(pts[size_t(c)]);
        }
        loops.push_back(loop);
    }
    return loops;
}

// ---- surface -----------------------------------------------------------------------------------

Vec3 AxisScale(const std::vector<float>& rest, const std::vector<float>& moved)
{
    const size_t n = std::min(rest.size(), moved.size()) / 3;
    if (n == 0)
        return {1, 1, 1};
    double mr[3] = {}, mm[3] = {};
    for (size_t c = 0; c < n; ++c)
        for (int k = 0; k < 3; ++k) {
            mr[k] += rest[3 * c + size_t(k)];
            mm[k] += moved[3 * c + size_t(k)];
        }
    double s[3];
    for (int k = 0; k < 3; ++k) {
        mr[k] /= double(n);
        mm[k] /= double(n);
        double num = 0, den = 0;
        for (size_t c = 0; c < n; ++c) {
            const double r = rest[3 * c + size_t(k)] - mr[k];
            num += r * (moved[3 * c + size_t(k)] - mm[k]);
            den += r * r;
        }
        s[k] = den > 0 ? num / den : 1;
    }
    return {s[0], s[1], s[2]};
}

SurfaceDamage MeasureSurfaceDamage(const std::vector<float>& rest, const std::vector<float>& moved,
                                   const std::vector<int>& triangles, Vec3 scale)
{
    SurfaceDamage d;
    d.scale = scale;
    auto scaled = [&](size_t c) {
        const Vec3 p = Corner(rest, c);
        return Vec3{p.x * scale.x, p.y * scale.y, p.z * scale.z};
    };
    for (size_t t = 0; t + 2 < triangles.size(); t += 3) {
        const size_t c[3] = {size_t(triangles[t]), size_t(triangles[t + 1]), size_t(triangles[t + 2])};
        if (3 * std::max({c[0], c[1], c[2]}) + 2 >= std::min(rest.size(), moved.size()))
            continue;
        const Vec3 r[3] = {scaled(c[0]), scaled(c[1]), scaled(c[2])};
        const Vec3 m[3] = {Corner(moved, c[0]), Corner(moved, c[1]), Corner(moved, c[2])};
        const Vec3 restNormal = Cross(r[1] - r[0], r[2] - r[0]), movedNormal = Cross(m[1] - m[0], m[2] - m[0]);
        // A triangle of no area at rest has no side to keep.
        if (Len(restNormal) > 0 && Dot(restNormal, movedNormal) <= 0)
            ++d.turned;
        double worst = 0;
        for (int i = 0; i < 3; ++i) {
            const double before = Len(r[(i + 1) % 3] - r[i]), after = Len(m[(i + 1) % 3] - m[i]);
            if (before > 0)
                worst = std::max(worst, after / before);
        }
        if (worst > kMaxEdgeStretch)
            ++d.overStretched;
        if (worst > d.worstStretch) {
            d.worstStretch = worst;
            d.worstTriangle = t / 3;
            d.worstAt = (m[0] + m[1] + m[2]) * (1.0 / 3);
        }
    }
    return d;
}

std::string SurfaceDamage::Describe() const
{
    return Format("%d triangles turned over, %d stretched beyond %.0fx (worst %.2fx, triangle %zu at %.2f %.2f %.2f); "
                  "overall scale %.3f %.3f %.3f",
                  turned, overStretched, kMaxEdgeStretch, worstStretch, worstTriangle, worstAt.x, worstAt.y, worstAt.z,
                  scale.x, scale.y, scale.z);
}

// ---- eyeballs ----------------------------------------------------------------------------------

namespace {

// The triangles of g (corner positions, y moved by pushBack) with a corner in the front-view box.
Mesh Near(const std::vector<float>& positions, const std::vector<int>* triangles, double x0, double x1, double z0,
          double z1, double pushBack)
{
    Mesh m;
    const size_t corners = triangles ? triangles->size() : positions.size() / 3;
    auto corner = [&](size_t i) { return Corner(positions, triangles ? size_t((*triangles)[i]) : i); };
    for (size_t t = 0; t + 2 < corners; t += 3) {
        bool close = false;
        for (size_t c = t; c < t + 3; ++c) {
            const Vec3 p = corner(c);
            close = close || (p.x > x0 && p.x < x1 && p.z > z0 && p.z < z1);
        }
        if (!close)
            continue;
        const int base = int(m.pos.size());
        for (size_t c = t; c < t + 3; ++c)
            m.pos.push_back(corner(c) + Vec3{0, pushBack, 0});
        m.tris.push_back({base, base + 1, base + 2});
    }
    return m;
}

bool InsideLoop(const std::vector<Vec3>& rim, double x, double z)
{
    bool in = false;
    for (size_t k = 0, j = rim.size() - 1; k < rim.size(); j = k++) {
        const Vec3 &a = rim[k], &b = rim[j];
        if ((a.z > z) != (b.z > z) && x < a.x + (z - a.z) * (b.x - a.x) / (b.z - a.z))
            in = !in;
    }
    return in;
}

double FromLoop(const std::vector<Vec3>& rim, double x, double z)
{
    double best = 1e9;
    for (size_t k = 0, j = rim.size() - 1; k < rim.size(); j = k++) {
        const Vec3 &a = rim[k], &b = rim[j];
        const double ex = b.x - a.x, ez = b.z - a.z, len2 = ex * ex + ez * ez;
        const double s = len2 > 0 ? std::clamp(((x - a.x) * ex + (z - a.z) * ez) / len2, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(x - a.x - s * ex, z - a.z - s * ez));
    }
    return best;
}

}  // namespace

namespace {

// An eyeball's extent in the front view and the opening it sits in: the open loop of the head whose
// middle lies nearest the eyeball's, seen from the front (empty when the head has none).
struct EyeOpening {
    double x0 = 1e9, x1 = -1e9, z0 = 1e9, z1 = -1e9;
    std::vector<Vec3> rim;
};

EyeOpening FindOpening(const TGeometry& head, const std::vector<float>& eyeball)
{
    EyeOpening o;
    for (size_t v = 0; v + 2 < eyeball.size(); v += 3) {
        o.x0 = std::min<double>(o.x0, eyeball[v]), o.x1 = std::max<double>(o.x1, eyeball[v]);
        o.z0 = std::min<double>(o.z0, eyeball[v + 2]), o.z1 = std::max<double>(o.z1, eyeball[v + 2]);
    }
    const double mx = 0.5 * (o.x0 + o.x1), mz = 0.5 * (o.z0 + o.z1);
    double nearest = 1e9;
    for (auto& loop : OpenLoops(head)) {
        Vec3 middle;
        for (const Vec3& p : loop)
            middle = middle + p * (1.0 / double(loop.size()));
        const double d = std::hypot(middle.x - mx, middle.z - mz);
        if (!loop.empty() && d < nearest)
            nearest = d, o.rim = std::move(loop);
    }
    return o;
}

}  // namespace

EyeballView LookAtEyeball(const TGeometry& head, const std::vector<float>& eyeball, double pushBack)
{
    EyeballView view;
    const EyeOpening opening = FindOpening(head, eyeball);
    const double x0 = opening.x0, x1 = opening.x1, z0 = opening.z0, z1 = opening.z1;
    const std::vector<Vec3>* rim = &opening.rim;
    if (rim->empty())
        return view;
    view.rimFound = true;
    const double margin = 0.3;
    const Mesh skin = Near(head.positions, &head.triangles, x0 - margin, x1 + margin, z0 - margin, z1 + margin, 0.0);
    const Mesh ball = Near(eyeball, nullptr, x0 - margin, x1 + margin, z0 - margin, z1 + margin, pushBack);
    for (double x = x0 - 0.2; x <= x1 + 0.2; x += 0.02)
        for (double z = z0 - 0.2; z <= z1 + 0.2; z += 0.02) {
            if (FromLoop(*rim, x, z) < 0.03)
                continue;  // on the rim either may be in front
            double tSkin = 0, tEye = 0;
            const bool onSkin = RayHit(skin, {x, -50, z}, {0, 1, 0}, &tSkin);
            const bool onEye = RayHit(ball, {x, -50, z}, {0, 1, 0}, &tEye);
            const bool skinInFront = onSkin && (!onEye || tSkin < tEye);
            if (InsideLoop(*rim, x, z)) {
                if (!onEye)
                    ++view.missed;
                else if (skinInFront)
                    ++view.covered;
                else
                    ++view.shown;
            } else if (onEye) {
                if (skinInFront)
                    ++view.hidden;
                else
                    ++view.pokesThrough;
            }
        }
    return view;
}

EyeTextureSeen SeenEyeTexture(const TGeometry& head, const TGeometry& eyeball, double pushBack)
{
    EyeTextureSeen seen;
    const EyeOpening opening = FindOpening(head, eyeball.positions);
    const size_t corners = std::min(eyeball.positions.size() / 3, eyeball.texCoords.size() / 2);
    if (opening.rim.empty() || corners < 3)
        return seen;
    const double margin = 0.3;
    const Mesh skin = Near(head.positions, &head.triangles, opening.x0 - margin, opening.x1 + margin,
                           opening.z0 - margin, opening.z1 + margin, 0.0);
    // The eyeball's corners are de-indexed: corners 3t, 3t + 1, 3t + 2 are triangle t.
    Mesh ball;
    for (size_t c = 0; c < corners; ++c)
        ball.pos.push_back(Corner(eyeball.positions, c) + Vec3{0, pushBack, 0});
    for (size_t t = 0; t + 2 < corners; t += 3)
        ball.tris.push_back({int(t), int(t + 1), int(t + 2)});
    double sumU = 0, sumV = 0;
    for (double x = opening.x0 - 0.2; x <= opening.x1 + 0.2; x += 0.02)
        for (double z = opening.z0 - 0.2; z <= opening.z1 + 0.2; z += 0.02) {
            if (!InsideLoop(opening.rim, x, z) || FromLoop(opening.rim, x, z) < 0.03)
                continue;
            double tSkin = 0, tEye = 0;
            int triangle = -1;
            if (!RayHit(ball, {x, -50, z}, {0, 1, 0}, &tEye, &triangle))
                continue;
            if (RayHit(skin, {x, -50, z}, {0, 1, 0}, &tSkin) && tSkin < tEye)
                continue;
            // The texture coordinate at the hit, interpolated across the triangle in the front view.
            const Tri& tr = ball.tris[size_t(triangle)];
            const Vec3 a = ball.pos[size_t(tr[0])], b = ball.pos[size_t(tr[1])], c = ball.pos[size_t(tr[2])];
            const double det = (b.x - a.x) * (c.z - a.z) - (c.x - a.x) * (b.z - a.z);
            if (std::abs(det) < 1e-12)
                continue;
            const double wb = ((x - a.x) * (c.z - a.z) - (c.x - a.x) * (z - a.z)) / det;
            const double wc = ((b.x - a.x) * (z - a.z) - (x - a.x) * (b.z - a.z)) / det;
            const double wa = 1 - wb - wc;
            auto uv = [&](int k) {
                return wa * eyeball.texCoords[2 * size_t(tr[0]) + size_t(k)] +
                       wb * eyeball.texCoords[2 * size_t(tr[1]) + size_t(k)] +
                       wc * eyeball.texCoords[2 * size_t(tr[2]) + size_t(k)];
            };
            const double u = uv(0), v = uv(1);
            seen.u0 = std::min(seen.u0, u), seen.u1 = std::max(seen.u1, u);
            seen.v0 = std::min(seen.v0, v), seen.v1 = std::max(seen.v1, v);
            sumU += u, sumV += v;
            ++seen.rays;
        }
    if (seen.rays > 0)
        seen.meanU = sumU / seen.rays, seen.meanV = sumV / seen.rays;
    return seen;
}

std::string EyeTextureSeen::Describe() const
{
    // Rows of the eye image are counted from its top: row 1 - v.
    return Format("%d rays; u %.3f..%.3f (middle %.3f), rows %.3f..%.3f (middle %.3f)", rays, u0, u1, 0.5 * (u0 + u1),
                  1 - v1, 1 - v0, 1 - 0.5 * (v0 + v1));
}

std::string EyeballView::Describe() const
{
    if (!rimFound)
        return "no opening found";
    return Format("%d rays show it in its opening, %d covered by skin, %d pass beside it; %d hidden around it, %d poke "
                  "through the skin",
                  shown, covered, missed, hidden, pokesThrough);
}

// ---- atlas -------------------------------------------------------------------------------------

cv::Mat HeadTexels(const TGeometry& head, cv::Size size)
{
    cv::Mat mask(size, CV_8U, cv::Scalar(0));
    const auto& uv = head.texCoords;
    for (size_t t = 0; t + 2 < head.triangles.size(); t += 3) {
        cv::Point corners[3];
        bool ok = true;
        for (int i = 0; i < 3; ++i) {
            const size_t c = size_t(head.triangles[t + size_t(i)]);
            if (2 * c + 1 >= uv.size()) {
                ok = false;
                break;
            }
            // Texel (x, y) has texture coordinate (x / W, 1 - y / H).
            corners[i] = {int(std::lround(uv[2 * c] * size.width)), int(std::lround((1.0 - uv[2 * c + 1]) * size.height))};
        }
        if (ok)
            cv::fillConvexPoly(mask, corners, 3, cv::Scalar(255));
    }
    return mask;
}

AtlasBackground FindBackgroundInSkin(const cv::Mat& atlas, const TGeometry& head, const cv::Vec3b& background,
                                     int tolerance)
{
    AtlasBackground r;
    if (atlas.empty() || atlas.type() != CV_8UC3)
        return r;
    const cv::Mat skin = HeadTexels(head, atlas.size());
    for (int y = 0; y < atlas.rows; ++y)
        for (int x = 0; x < atlas.cols; ++x) {
            if (!skin.at<uint8_t>(y, x))
                continue;
            ++r.skinTexels;
            const cv::Vec3b c = atlas.at<cv::Vec3b>(y, x);
            bool same = true;
            for (int k = 0; k < 3; ++k)
                same = same && std::abs(int(c[k]) - int(background[k])) <= tolerance;
            if (same && r.backgroundTexels++ == 0)
                r.first = {x, y};
        }
    return r;
}

std::string AtlasBackground::Describe() const
{
    return Format("%d of %d skin texels show the background (one at %d %d)", backgroundTexels, skinTexels, first.x,
                  first.y);
}

NormalDeviation MeasureNormals(const TGeometry& g)
{
    NormalDeviation out;
    const size_t corners = std::min(g.positions.size(), g.normals.size()) / 3;
    std::map<std::tuple<float, float, float>, Vec3> around;
    auto key = [&](size_t c) { return std::make_tuple(g.positions[3 * c], g.positions[3 * c + 1], g.positions[3 * c + 2]); };
    for (size_t t = 0; t + 2 < g.triangles.size(); t += 3) {
        const size_t c[3] = {size_t(g.triangles[t]), size_t(g.triangles[t + 1]), size_t(g.triangles[t + 2])};
        if (c[0] >= corners || c[1] >= corners || c[2] >= corners)
            continue;
        const Vec3 p[3] = {Corner(g.positions, c[0]), Corner(g.positions, c[1]), Corner(g.positions, c[2])};
        // Twice the triangle's area along its normal: the generic head's own normals are such sums.
        const Vec3 face = Cross(p[1] - p[0], p[2] - p[0]);
        for (size_t corner : c)
            around[key(corner)] = around[key(corner)] + face;
    }
    std::vector<double> angles;
    for (size_t c = 0; c < corners; ++c) {
        const auto it = around.find(key(c));
        if (it == around.end() || Len(it->second) <= 0)
            continue;
        const Vec3 stored = Corner(g.normals, c);
        const double n = Len(stored);
        const double cosine = n > 0 ? Dot(stored, Unit(it->second)) / n : -1.0;
        angles.push_back(std::acos(std::clamp(cosine, -1.0, 1.0)) * 180.0 / M_PI);
    }
    out.corners = int(angles.size());
    if (angles.empty())
        return out;
    std::sort(angles.begin(), angles.end());
    out.p95 = angles[std::min(angles.size() - 1, size_t(0.95 * double(angles.size())))];
    out.max = angles.back();
    return out;
}

std::string NormalDeviation::Describe() const
{
    return Format("stored normals against the surface's over %d corners: p95 %.1f deg, max %.1f deg", corners, p95, max);
}
