#include "collada/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {
struct TangentCase {
    const char* what;
    std::vector<float> positions, texCoords, normals;
    float tangent[3];
    float binormal[3];
};

TEST(TangentSpace, WorkedAndMirroredExamples)
{
    const std::vector<float> triangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::vector<float> up = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    const TangentCase cases[] = {
        {"worked", triangle, {0, 0, 1, 0, 0, 1}, up, {1, 0, 0}, {0, 1, 0}},
        {"mirrored in u", triangle, {0, 0, -1, 0, 0, 1}, up, {-1, 0, 0}, {0, 1, 0}},
        {"mirrored in v", triangle, {0, 0, 1, 0, 0, -1}, up, {1, 0, 0}, {0, -1, 0}},
        {"scaled texture", triangle, {0, 0, 0.25f, 0, 0, 4}, up, {1, 0, 0}, {0, 1, 0}},
        {"rotated texture", triangle, {0, 0, 0, 1, -1, 0}, up, {0, -1, 0}, {1, 0, 0}},
        // The normal is used as stored: (0.5, 0, 2) takes 0.5 of itself off (1, 0, 0), leaving
        // (0.75, 0, -1), where its unit normal would leave about (0.94, 0, -0.24).
        {"long tilted normal", triangle, {0, 0, 1, 0, 0, 1}, {0.5f, 0, 2, 0.5f, 0, 2, 0.5f, 0, 2}, {0.6f, 0, -0.8f},
         {0, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TGeometry g;
        g.positions = c.positions;
        g.texCoords = c.texCoords;
        g.normals = c.normals;
        g.triangles = {0, 1, 2};
        ASSERT_TRUE(g.ComputeTangentSpace());
        ASSERT_EQ(g.tangents.size(), g.positions.size());
        ASSERT_EQ(g.binormals.size(), g.positions.size());
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(g.tangents[3 * v + k], c.tangent[k], 1e-6f) << "vertex " << v;
                EXPECT_NEAR(g.binormals[3 * v + k], c.binormal[k], 1e-6f) << "vertex " << v;
            }
    }
}

TEST(TangentSpace, MissingInputGivesNoTangents)
{
    for (int missing = 0; missing < 4; ++missing) {
        TGeometry g;
        g.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        g.texCoords = {0, 0, 1, 0, 0, 1};
        g.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
        g.triangles = {0, 1, 2};
        std::vector<float>* arrays[] = {&g.positions, &g.texCoords, &g.normals};
        if (missing < 3)
            arrays[missing]->clear();
        else {
            g.lines = g.triangles;   // a line mesh
            g.triangles.clear();
        }
        EXPECT_FALSE(g.ComputeTangentSpace()) << missing;
        EXPECT_TRUE(g.tangents.empty());
        EXPECT_TRUE(g.binormals.empty());
    }
}

bool UnitAndFinite(const float* v)
{
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]) &&
           std::fabs(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]) - 1.0f) < 1e-5f;
}

struct DegenerateCase {
    const char* what;
    std::vector<float> positions, texCoords, normals;
    std::vector<int> triangles;
};

TEST(TangentSpace, DegenerateInputGivesFiniteUnitFrames)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> triangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    const std::vector<float> up = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    const DegenerateCase cases[] = {
        {"collinear texture coordinates", triangle, {0, 0, 1, 1, 2, 2}, up, {0, 1, 2}},
        {"all texture coordinates equal", triangle, {0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f}, up, {0, 1, 2}},
        {"zero area triangle", {1, 1, 1, 1, 1, 1, 1, 1, 1}, {0, 0, 1, 0, 0, 1}, up, {0, 1, 2}},
        {"zero normal", triangle, {0, 0, 1, 0, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2}},
        {"normal along the tangent", triangle, {0, 0, 1, 0, 0, 1}, {1, 0, 0, 1, 0, 0, 1, 0, 0}, {0, 1, 2}},
        {"non-finite position", {0, 0, 0, inf, 0, 0, 0, 1, 0}, {0, 0, 1, 0, 0, 1}, up, {0, 1, 2}},
        {"non-finite normal", triangle, {0, 0, 1, 0, 0, 1}, {nan, 0, 1, 0, 0, 1, 0, 0, inf}, {0, 1, 2}},
        {"vertex no triangle uses", {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5}, {0, 0, 1, 0, 0, 1, 1, 1},
         {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 1, 0}, {0, 1, 2}},
        {"index out of range", triangle, {0, 0, 1, 0, 0, 1}, up, {0, 1, 7}},
        {"short texture and normal arrays", triangle, {0, 0, 1, 0}, {0, 0, 1}, {0, 1, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TGeometry g;
        g.positions = c.positions;
        g.texCoords = c.texCoords;
        g.normals = c.normals;
        g.triangles = c.triangles;
        ASSERT_TRUE(g.ComputeTangentSpace());
        ASSERT_EQ(g.tangents.size(), g.positions.size());
        for (size_t v = 0; v < g.positions.size() / 3; ++v) {
            EXPECT_TRUE(UnitAndFinite(&g.tangents[3 * v])) << "tangent of vertex " << v;
            EXPECT_TRUE(UnitAndFinite(&g.binormals[3 * v])) << "binormal of vertex " << v;
        }
    }
}

TEST(TangentSpace, FallbackFrameIsPerpendicularToTheNormal)
{
    TGeometry g;
    g.positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    g.texCoords = {0, 0, 1, 1, 2, 2};   // collinear: no direction from the texture
    g.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    g.triangles = {0, 1, 2};
    ASSERT_TRUE(g.ComputeTangentSpace());
    for (int v = 0; v < 3; ++v) {
        const float* t = &g.tangents[3 * v];
        const float* b = &g.binormals[3 * v];
        EXPECT_NEAR(t[2], 0.0f, 1e-6f);
        EXPECT_NEAR(b[2], 0.0f, 1e-6f);
        EXPECT_NEAR(t[0] * b[0] + t[1] * b[1], 0.0f, 1e-6f);
    }
}
}
