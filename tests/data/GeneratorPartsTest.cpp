// The generator's geometric building blocks, on small fixtures.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tools/genhead/Head.h"
#include "tools/genhead/Mesh.h"

namespace {
TEST(GeneratorMesh, WeldMergesRepeatedPositionsAndDropsCollapsedTriangles) {
    // Two triangles of a square given with separate corners, plus one that collapses on welding.
    std::vector<Vec3> pos{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}, {1e-9, 0, 0}, {1, 0, 0}};
    Mesh m = Weld(pos, {{0, 1, 2}, {3, 4, 5}, {6, 7, 8}}, 1e-6);
    EXPECT_EQ(m.pos.size(), 4u);
    ASSERT_EQ(m.tris.size(), 2u);
    // The open square has four boundary edges, running with its triangles.
    auto edges = m.BoundaryEdges();
    EXPECT_EQ(edges.size(), 4u);
    auto nb = m.Neighbours();
    EXPECT_EQ(nb[m.tris[0][0]].size(), 3u);  // the diagonal's ends see all three others
    auto n = m.VertexNormals();
    for (const Vec3& v : n) EXPECT_NEAR(v.z, 1.0, 1e-12);
}

TEST(GeneratorMesh, RayHitFindsTheNearestTriangleInFront) {
    Mesh m;
    m.pos = {{-1, 0, -1}, {1, 0, -1}, {0, 0, 1}, {-1, 2, -1}, {1, 2, -1}, {0, 2, 1}};
    m.tris = {{0, 1, 2}, {3, 4, 5}};
    double t = 0;
    int tri = -1;
    ASSERT_TRUE(RayHit(m, {0, -5, 0}, {0, 1, 0}, &t, &tri));
    EXPECT_NEAR(t, 5.0, 1e-12);
    EXPECT_EQ(tri, 0);
    ASSERT_TRUE(RayHit(m, {0, 1, 0}, {0, 1, 0}, &t, &tri));
    EXPECT_EQ(tri, 1);
    EXPECT_FALSE(RayHit(m, {5, -5, 0}, {0, 1, 0}, &t));
    EXPECT_FALSE(RayHit(m, {0, 3, 0}, {0, 1, 0}, &t)) << "behind the ray's start";
}
}  // namespace

namespace {
// The nose tip is the most forward midline vertex in a height band; a mesh without one there is a
// clear error, not a read before the start of the positions.
TEST(GeneratorNoseTip, IsTheMostForwardMidlineVertexAndMissingItIsAnError) {
    Mesh m;
    m.pos = {{0, -1.0, 0.5}, {0.1, -1.6, 0.2}, {0.8, -3.0, 0.3}, {0, -2.0, 2.0}, {-0.2, -1.2, -0.4}};
    m.tris = {{0, 1, 4}};
    // Vertex 2 is further forward but off the midline, vertex 3 above the band.
    EXPECT_EQ(MostForwardMidlineVertex(m, -1.0, 1.0), 1);
    EXPECT_EQ(MostForwardMidlineVertex(m, -1.0, 0.1), 4);
    struct Band {
        double low, high;
    };
    for (Band b : {Band{0.6, 1.9}, Band{-5, -4}, Band{0.2, 0.2}}) {
        try {
            MostForwardMidlineVertex(m, b.low, b.high);
            ADD_FAILURE() << "no error for the band " << b.low << " to " << b.high;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find("no nose vertex"), std::string::npos) << e.what();
        }
    }
}
}  // namespace
