// Normals recomputed from moved positions: smooth where the stored normals were shared, hard
// where they differed, and left alone where nothing can be computed.
#include "collada/Geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

using V3 = std::array<double, 3>;
using M3 = std::array<V3, 3>;  // rows

V3 Apply(const M3& m, const V3& p) { return {m[0][0] * p[0] + m[0][1] * p[1] + m[0][2] * p[2],
                                             m[1][0] * p[0] + m[1][1] * p[1] + m[1][2] * p[2],
                                             m[2][0] * p[0] + m[2][1] * p[1] + m[2][2] * p[2]}; }
V3 Unit(const V3& v)
{
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    return {v[0] / l, v[1] / l, v[2] / l};
}
double Degrees(const V3& a, const V3& b)
{
    const V3 u = Unit(a), w = Unit(b);
    return std::acos(std::clamp(u[0] * w[0] + u[1] * w[1] + u[2] * w[2], -1.0, 1.0)) * 180.0 / M_PI;
}
V3 NormalOf(const TGeometry& g, size_t v) { return {g.normals[3 * v], g.normals[3 * v + 1], g.normals[3 * v + 2]}; }
V3 PositionOf(const TGeometry& g, size_t v) { return {g.positions[3 * v], g.positions[3 * v + 1], g.positions[3 * v + 2]}; }

// A moved mesh: every position p becomes m p + shift.
void Move(TGeometry& g, const M3& m, const V3& shift)
{
    for (size_t v = 0; v < g.positions.size() / 3; ++v) {
        const V3 p = Apply(m, PositionOf(g, v));
        for (int c = 0; c < 3; ++c)
            g.positions[3 * v + c] = static_cast<float>(p[c] + shift[c]);
    }
}

// The inverse transpose of m: what a linear move does to normals.
M3 InverseTranspose(const M3& m)
{
    const V3 a = m[0], b = m[1], c = m[2];
    const V3 ab = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    const V3 bc = {b[1] * c[2] - b[2] * c[1], b[2] * c[0] - b[0] * c[2], b[0] * c[1] - b[1] * c[0]};
    const V3 ca = {c[1] * a[2] - c[2] * a[1], c[2] * a[0] - c[0] * a[2], c[0] * a[1] - c[1] * a[0]};
    const double det = a[0] * bc[0] + a[1] * bc[1] + a[2] * bc[2];
    M3 out;
    for (int k = 0; k < 3; ++k)
        out[0][k] = bc[k] / det, out[1][k] = ca[k] / det, out[2][k] = ab[k] / det;
    return out;
}

// A de-indexed unit sphere (latitude-longitude grid, counter-clockwise from outside) with its exact
// normals: corners at one place share one normal, as a loaded smooth mesh has them.
void Sphere(TGeometry& g, int rings, int sectors)
{
    auto at = [&](int r, int s) {
        const double theta = M_PI * r / rings, phi = 2 * M_PI * s / sectors;
        // The poles and the seam are exactly one place for every corner that reaches them.
        if (r == 0 || r == rings)
            return V3{0, 0, r == 0 ? 1.0 : -1.0};
        return V3{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
    };
    auto corner = [&](int r, int s) {
        const V3 p = at(r, s % sectors);
        for (double c : p) {
            g.positions.push_back(static_cast<float>(c));
            g.normals.push_back(static_cast<float>(c));
        }
    };
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < sectors; ++s) {
            if (r > 0)
                corner(r, s), corner(r + 1, s), corner(r, s + 1);
            if (r + 1 < rings)
                corner(r, s + 1), corner(r + 1, s), corner(r + 1, s + 1);
        }
    for (size_t i = 0; i < g.positions.size() / 3; ++i)
        g.triangles.push_back(static_cast<int>(i));
}

TEST(SurfaceNormals, FollowAKnownMoveOfASmoothMesh)
{
    const double c = std::cos(0.6), s = std::sin(0.6);
    const struct {
        const char* what;
        M3 m;
        V3 shift;
    } table[] = {
        {"rotated", {{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}}, {0, 0, 0}},
        {"stretched", {{{2, 0, 0}, {0, 1, 0}, {0, 0, 0.5}}}, {0, 0, 0}},
        {"sheared and moved", {{{1, 0, 0.8}, {0, 1, 0}, {0, 0, 1}}}, {3, -2, 1}},
        {"turned over by a mirror", {{{-1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}, {0, 0, 0}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TGeometry g, rest;
        Sphere(g, 32, 64);
        Sphere(rest, 32, 64);
        Move(g, row.m, row.shift);
        ASSERT_TRUE(g.RecomputeNormals());
        ASSERT_EQ(g.normals.size(), rest.normals.size());
        // The moved sphere is an ellipsoid whose normal at m p is m^-T p. A mirror turns the
        // triangles' winding over, so its normals point inwards: the mesh's own orientation.
        const M3 n = InverseTranspose(row.m);
        const double sign = std::string(row.what) == "turned over by a mirror" ? -1 : 1;
        double worst = 0;
        for (size_t v = 0; v < g.normals.size() / 3; ++v) {
            const V3 expected = Apply(n, PositionOf(rest, v));
            worst = std::max(worst, Degrees(NormalOf(g, v), {sign * expected[0], sign * expected[1], sign * expected[2]}));
            const V3 got = NormalOf(g, v);
            EXPECT_NEAR(std::sqrt(got[0] * got[0] + got[1] * got[1] + got[2] * got[2]), 1.0, 1e-5);
        }
        EXPECT_LT(worst, 1.5);
    }
}

TEST(SurfaceNormals, CornersAtOnePlaceWithOneNormalStayOneSmoothPoint)
{
    TGeometry g;
    Sphere(g, 12, 24);
    Move(g, {{{1.5, 0.3, 0}, {0, 0.7, 0.2}, {0.1, 0, 1.2}}}, {0.5, 0, 0});
    ASSERT_TRUE(g.RecomputeNormals());
    for (size_t a = 0; a < g.positions.size() / 3; ++a)
        for (size_t b = a + 1; b < g.positions.size() / 3; ++b)
            if (PositionOf(g, a) == PositionOf(g, b)) {
                ASSERT_EQ(NormalOf(g, a), NormalOf(g, b)) << "corners " << a << " and " << b;
            }
}

// Two triangles folded along the edge (0,0,0)-(1,0,0): one lies in the xy plane (normal +z), the
// other rises 90 degrees into xz (normal +y), both facing the same side of the fold. On the fold the
// flat one stores `onFlat`, the upright one `onUpright`: one normal for both is a smooth fold, each
// triangle's own a hard edge.
void Fold(TGeometry& g, const V3& onFlat, const V3& onUpright)
{
    g.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0,
                   1, 0, 0, 0, 0, 0, 0, 0, 1};
    auto put = [&](const V3& n) {
        const V3 u = Unit(n);
        for (double c : u)
            g.normals.push_back(static_cast<float>(c));
    };
    put(onFlat), put(onFlat), put({0, 0, 1});
    put(onUpright), put(onUpright), put({0, 1, 0});
    g.triangles = {0, 1, 2, 3, 4, 5};
}

TEST(SurfaceNormals, KeepHardEdgesAndSmoothFoldsAsStored)
{
    // Stretch z by 2 and shift: each face keeps its plane, and a smooth fold's normal is their
    // area-weighted mean (the upright triangle is now twice as large).
    const M3 stretch = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 2}}};
    const V3 flat = {0, 0, 1}, upright = {0, 1, 0}, fold = {0, 2, 1}, between = {0, 1, 1};
    const struct {
        const char* what;
        V3 onFlat, onUpright;
        V3 expected[6];
    } table[] = {
        {"hard edge", flat, upright, {flat, flat, flat, upright, upright, upright}},
        {"smooth fold", between, between, {fold, fold, flat, fold, fold, upright}},
        // A shared normal written twice with the source's rounding is still one normal.
        {"smooth fold, rounded apart", between, {1e-3, 1, 1.001}, {fold, fold, flat, fold, fold, upright}},
        // A crease the stored normals part by 12 degrees stays a crease.
        {"shallow crease", {0, 0.6, 0.8}, {0, 0.75, 0.66}, {flat, flat, flat, upright, upright, upright}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.what);
        TGeometry g;
        Fold(g, row.onFlat, row.onUpright);
        Move(g, stretch, {0.25, 0.5, -1});
        ASSERT_TRUE(g.RecomputeNormals());
        for (size_t v = 0; v < 6; ++v)
            EXPECT_LT(Degrees(NormalOf(g, v), row.expected[v]), 1e-3) << "corner " << v;
    }
}

TEST(SurfaceNormals, NothingToComputeLeavesTheMeshAlone)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // A triangle without area, one with a corner at no finite place and one whose index points
    // past the arrays: each keeps its stored normals, and a good triangle beside them gets its own.
    TGeometry g;
    g.positions = {0, 0, 0, 1, 1, 1, 2, 2, 2,
                   0, 0, 5, nan, 0, 5, 0, 1, 5,
                   5, 0, 0, 6, 0, 0, 5, 1, 0};
    g.normals.assign(g.positions.size(), 0);
    for (size_t v = 0; v < 9; ++v)
        g.normals[3 * v] = 1;  // (1, 0, 0) everywhere
    g.triangles = {0, 1, 2, 3, 4, 5, 6, 7, 99, 6, 7, 8};
    ASSERT_TRUE(g.RecomputeNormals());
    for (size_t v = 0; v < 6; ++v)
        EXPECT_EQ(NormalOf(g, v), (V3{1, 0, 0})) << "corner " << v;
    for (size_t v = 6; v < 9; ++v)
        EXPECT_EQ(NormalOf(g, v), (V3{0, 0, 1})) << "corner " << v;

    // Lines only, or a missing array: false, and the arrays stay exactly as they were.
    for (int missing = 0; missing < 3; ++missing) {
        SCOPED_TRACE(missing);
        TGeometry m;
        m.positions = {0, 0, 0, 2, 0, 0, 0, 2, 0};
        m.normals = {1, 0, 0, 1, 0, 0, 1, 0, 0};
        m.triangles = {0, 1, 2};
        if (missing == 0)
            m.lines = {0, 1}, m.triangles.clear();
        else if (missing == 1)
            m.normals.clear();
        else
            m.positions.clear();
        const std::vector<float> positions = m.positions, normals = m.normals;
        EXPECT_FALSE(m.RecomputeNormals());
        EXPECT_EQ(m.positions, positions);
        EXPECT_EQ(m.normals, normals);
    }
}

}  // namespace
