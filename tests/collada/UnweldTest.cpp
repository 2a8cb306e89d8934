// De-indexing: one vertex per corner, arrays grouped in the fixed order positions, normals,
// texture coordinates, colours.
#include "collada/Geometry.h"

#include <gtest/gtest.h>

#include <numeric>

namespace {
std::vector<int> Iota(size_t n)
{
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

// Vertex v of an array with `per` values a vertex.
std::vector<float> Values(const std::vector<float>& a, std::initializer_list<int> vertices, int per)
{
    std::vector<float> out;
    for (int v : vertices)
        out.insert(out.end(), a.begin() + v * per, a.begin() + (v + 1) * per);
    return out;
}

const std::vector<float> kPositions = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};   // 4 vertices
const std::vector<float> kNormals = {0, 0, 1, 0, 0, -1};                     // 2
const std::vector<float> kUV = {0, 0, 1, 0, 0, 1, 1, 1, 0.5f, 0.5f};         // 5
const std::vector<float> kColors = {1, 0, 0, 1, 0, 1, 0, 1, 0, 0, 1, 1};      // 3

TEST(Unweld, WorkedExample)
{
    TGeometry g;
    g.positions = kPositions;
    g.normals = kNormals;
    g.triangles = {0, 0, 1, 1, 2, 0};
    EXPECT_TRUE(g.Unweld());
    EXPECT_EQ(g.positions, Values(kPositions, {0, 1, 2}, 3));
    EXPECT_EQ(g.normals, Values(kNormals, {0, 1, 0}, 3));
    EXPECT_EQ(g.triangles, (std::vector<int>{0, 1, 2}));
}

struct UnweldCase {
    const char* what;
    bool normals, uv, colors;
    std::vector<int> triangles, lines;
    // Expected per array: the old vertex of every corner.
    std::vector<int> pos, nor, tex, col;
};

TEST(Unweld, SlotsFollowThePresentArrays)
{
    const UnweldCase cases[] = {
        {"positions only", false, false, false, {2, 0, 1}, {}, {2, 0, 1}, {}, {}, {}},
        {"no normals: slot 1 is uv, slot 2 colour", false, true, true, {3, 4, 2, 0, 0, 0, 1, 1, 1}, {},
         {3, 0, 1}, {}, {4, 0, 1}, {2, 0, 1}},
        {"all four, group of four", true, true, true,
         {0, 1, 2, 0, 1, 0, 3, 1, 2, 1, 4, 2, 3, 0, 0, 0, 2, 1, 1, 1, 1, 0, 2, 2}, {},
         {0, 1, 2, 3, 2, 1}, {1, 0, 1, 0, 1, 0}, {2, 3, 4, 0, 1, 2}, {0, 1, 2, 0, 1, 2}},
        {"shared corner gives two equal vertices", false, false, false, {0, 1, 2, 2, 1, 3}, {},
         {0, 1, 2, 2, 1, 3}, {}, {}, {}},
        {"lines", true, false, false, {}, {0, 1, 3, 0}, {0, 3}, {1, 0}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TGeometry g;
        g.positions = kPositions;
        if (c.normals)
            g.normals = kNormals;
        if (c.uv)
            g.texCoords = kUV;
        if (c.colors)
            g.colors = kColors;
        g.triangles = c.triangles;
        g.lines = c.lines;
        EXPECT_TRUE(g.Unweld());
        auto expect = [](const std::vector<float>& got, const std::vector<float>& source, const std::vector<int>& corners,
                         int per) {
            std::vector<float> want;
            for (int v : corners)
                want.insert(want.end(), source.begin() + v * per, source.begin() + (v + 1) * per);
            EXPECT_EQ(got, want);
        };
        expect(g.positions, kPositions, c.pos, 3);
        expect(g.normals, kNormals, c.nor, 3);
        expect(g.texCoords, kUV, c.tex, 2);
        expect(g.colors, kColors, c.col, 4);
        const std::vector<int>& list = c.triangles.empty() ? g.lines : g.triangles;
        EXPECT_EQ(list, Iota(c.pos.size()));
        EXPECT_TRUE(g.tangents.empty());
    }
}

TEST(Unweld, FullMeshGivesThreeVerticesATriangle)
{
    // 12 triangles, three indices per corner, as a cube exporter writes them.
    TGeometry g;
    for (int v = 0; v < 8; ++v)
        g.positions.insert(g.positions.end(), {float(v & 1), float((v >> 1) & 1), float(v >> 2)});
    for (int n = 0; n < 6; ++n)
        g.normals.insert(g.normals.end(), {float(n), 0, 0});
    for (int t = 0; t < 4; ++t)
        g.texCoords.insert(g.texCoords.end(), {float(t), 1});
    for (int corner = 0; corner < 36; ++corner)
        g.triangles.insert(g.triangles.end(), {corner % 8, corner % 6, corner % 4});
    g.Unweld();
    EXPECT_EQ(g.positions.size(), 108u);
    EXPECT_EQ(g.normals.size(), 108u);
    EXPECT_EQ(g.texCoords.size(), 72u);
    EXPECT_EQ(g.triangles, Iota(36));
    EXPECT_EQ(g.positions[3 * 35 + 2], float((35 % 8) >> 2));
    EXPECT_EQ(g.normals[3 * 35], float(35 % 6));
    EXPECT_EQ(g.texCoords[2 * 35], float(35 % 4));
}

TEST(Unweld, NothingToDoLeavesTheGeometryAsIs)
{
    TGeometry arraysOnly;
    arraysOnly.positions = kPositions;
    EXPECT_TRUE(arraysOnly.Unweld());
    EXPECT_EQ(arraysOnly.positions, kPositions);

    TGeometry listOnly;
    listOnly.triangles = {5, 6, 7};
    EXPECT_TRUE(listOnly.Unweld());
    EXPECT_EQ(listOnly.triangles, (std::vector<int>{5, 6, 7}));
}

struct BadIndexCase {
    const char* what;
    std::vector<int> triangles, lines;
};

TEST(Unweld, IndexListsThatDoNotFitEmptyTheGeometry)
{
    const BadIndexCase cases[] = {
        {"position index past the array", {0, 0, 1, 1, 4, 0}, {}},
        {"normal index past the array", {0, 0, 1, 2, 2, 0}, {}},
        {"negative index", {0, 0, -1, 1, 2, 0}, {}},
        {"huge index", {0, 0, 1, 1, 2147483647, 0}, {}},
        {"list not a whole number of corners", {0, 0, 1, 1, 2}, {}},
        {"corners not a whole number of triangles", {0, 0, 1, 1, 2, 0, 3, 1}, {}},
        {"line with one end", {}, {0, 0, 1, 1, 2, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TGeometry g;
        g.name = "Bad";
        g.positions = kPositions;
        g.normals = kNormals;
        g.triangles = c.triangles;
        g.lines = c.lines;
        EXPECT_TRUE(g.Unweld());
        EXPECT_EQ(g.name, "Bad");
        EXPECT_TRUE(g.positions.empty());
        EXPECT_TRUE(g.normals.empty());
        EXPECT_TRUE(g.triangles.empty());
        EXPECT_TRUE(g.lines.empty());
    }
}

TEST(Unweld, PartialVertexAtArrayEndIsNotAddressable)
{
    // 7 position values hold two whole vertices; index 2 would read past the end.
    TGeometry g;
    g.positions = {0, 1, 2, 3, 4, 5, 6};
    g.triangles = {0, 1, 2};
    g.Unweld();
    EXPECT_TRUE(g.positions.empty());
    EXPECT_TRUE(g.triangles.empty());
}
}
