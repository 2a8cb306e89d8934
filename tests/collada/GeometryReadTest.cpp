// Reading geometries: which sources and primitives are read, and how the library is walked.
#include "ColladaFixture.h"

namespace {
using testing_collada::ColladaTest;

std::string Source(const std::string& id, const std::string& values, int count)
{
    return "<source id=\"" + id + "\"><float_array id=\"" + id + "-array\" count=\"" + std::to_string(count) + "\">" +
           values + "</float_array></source>\n";
}

class GeometryRead : public ColladaTest {
protected:
    // Reads <geometry name="Body"><mesh>body</mesh></geometry>.
    TGeometry& Read(const std::string& meshBody, const std::string& name = "Body")
    {
        geometry = std::make_unique<TGeometry>();
        result = geometry->Load(Parse("<geometry id=\"" + name + "-id\" name=\"" + name + "\"><mesh>" + meshBody +
                                      "</mesh></geometry>"));
        return *geometry;
    }
    std::unique_ptr<TGeometry> geometry;
    bool result = false;
};

const std::string kTriangle = "<triangles count=\"1\"><input semantic=\"VERTEX\" offset=\"0\"/><p>0 1 2</p></triangles>";

TEST_F(GeometryRead, SourcesAreMatchedByIdSuffix)
{
    TGeometry& g = Read(Source("Body-Position", "0 0 0 1 0 0 0 1 0", 9) + Source("Body-Normals", "0 0 1 0 0 1 0 0 1", 9) +
                        Source("Body-UV", "0 0 1 0 0 1", 6) + Source("Body-Tangents", "1 1 1 1 1 1 1 1 1", 9) +
                        "<triangles count=\"1\"><input/><input/><input/><p>0 0 0 1 1 1 2 2 2</p></triangles>");
    EXPECT_TRUE(result);
    EXPECT_EQ(g.name, "Body");
    EXPECT_EQ(g.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(g.normals, (std::vector<float>{0, 0, 1, 0, 0, 1, 0, 0, 1}));
    EXPECT_EQ(g.texCoords, (std::vector<float>{0, 0, 1, 0, 0, 1}));
    EXPECT_TRUE(g.colors.empty());
    EXPECT_TRUE(g.tangents.empty()) << "a Body-Tangents source is skipped";
    EXPECT_TRUE(g.binormals.empty());
    EXPECT_EQ(g.triangles, (std::vector<int>{0, 1, 2}));
    for (unsigned buffer : {g.positionBuffer, g.normalBuffer, g.texCoordBuffer, g.colorBuffer, g.tangentBuffer,
                            g.binormalBuffer, g.triangleBuffer, g.lineBuffer})
        EXPECT_EQ(buffer, 0u);
}

TEST_F(GeometryRead, ColorsAreFourPerVertex)
{
    TGeometry& g = Read(Source("Body-Position", "0 0 0 1 0 0 0 1 0", 9) + Source("Body-color", "1 0 0 1 0 1 0 1", 8) +
                        "<triangles count=\"1\"><input/><input/><p>0 0 1 1 2 0</p></triangles>");
    EXPECT_EQ(g.colors, (std::vector<float>{1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1}));
}

TEST_F(GeometryRead, OtherNamePrefixReadsNothing)
{
    TGeometry& g = Read(Source("Head-Position", "0 0 0 1 0 0 0 1 0", 9) + kTriangle);
    EXPECT_TRUE(g.positions.empty());
    EXPECT_EQ(g.triangles, (std::vector<int>{0, 1, 2})) << "with no array the list stays as read";
}

TEST_F(GeometryRead, SourceWalkEndsAtFirstOtherElement)
{
    TGeometry& g = Read(Source("Body-Position", "0 0 0 1 0 0 0 1 0", 9) +
                        "<vertices id=\"v\"><input semantic=\"POSITION\" source=\"#Body-Position\"/></vertices>" +
                        Source("Body-Normals", "0 0 1 0 0 1 0 0 1", 9) + kTriangle);
    EXPECT_EQ(g.positions.size(), 9u);
    EXPECT_TRUE(g.normals.empty());
}

TEST_F(GeometryRead, LaterSourceWithSameIdReplacesEarlier)
{
    TGeometry& g = Read(Source("Body-Position", "9 9 9", 3) + Source("Body-Position", "0 0 0 1 0 0 0 1 0", 9) + kTriangle);
    EXPECT_EQ(g.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
}

TEST_F(GeometryRead, SourceWithoutFloatArrayStaysEmpty)
{
    TGeometry& g = Read("<source id=\"Body-Position\"><technique_common/></source>" + kTriangle);
    EXPECT_TRUE(g.positions.empty());
}

TEST_F(GeometryRead, IndexCountFollowsCountTimesInputs)
{
    // count 12 with three inputs, the third after an unrelated element: 108 indices read of 120 given.
    std::string p;
    for (int i = 0; i < 120; ++i)
        p += std::to_string(i % 36) + " ";
    TGeometry& g = Read(Source("Other-Position", "0 0 0", 3) +
                        "<triangles count=\"12\"><input/><input/><extra/><input/><p>" + p + "</p></triangles>");
    ASSERT_EQ(g.triangles.size(), 108u) << "no array present: the list stays as read";
    EXPECT_EQ(g.triangles[107], 107 % 36);
}

TEST_F(GeometryRead, TrianglesBeforeLinesAndFirstTrianglesOnly)
{
    const std::string pos = Source("Body-Position", "0 0 0 1 0 0 0 1 0 1 1 0", 12);
    TGeometry& g = Read(pos + "<lines count=\"1\"><input/><p>0 1</p></lines>" + kTriangle +
                        "<triangles count=\"1\"><input/><p>3 2 1</p></triangles>");
    EXPECT_EQ(g.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(g.triangles, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(g.lines.empty());

    TGeometry& l = Read(pos + "<lines count=\"2\"><input/><p>0 1 3 2</p></lines>");
    EXPECT_EQ(l.lines, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(l.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    EXPECT_TRUE(l.triangles.empty());
}

TEST_F(GeometryRead, MeshWithoutPrimitivesKeepsArraysAsRead)
{
    TGeometry& g = Read(Source("Body-Position", "1 2 3 4 5 6", 6));
    EXPECT_EQ(g.positions, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(g.triangles.empty());
}

TEST_F(GeometryRead, MissingMeshOrSource)
{
    auto g = std::make_unique<TGeometry>();
    EXPECT_FALSE(g->Load(Parse("<geometry name=\"Empty\"><extra/></geometry>")));
    EXPECT_EQ(g->name, "Empty");
    EXPECT_TRUE(g->positions.empty());

    TGeometry& h = Read(kTriangle);
    EXPECT_TRUE(result);
    EXPECT_TRUE(h.triangles.empty()) << "no source: no array and no index list";
    EXPECT_TRUE(h.positions.empty());
}

class GeometryLibrary : public ColladaTest {};

TEST_F(GeometryLibrary, EveryElementAfterTheFirstGeometryIsAGeometry)
{
    TLibraryGeometries library;
    EXPECT_TRUE(library.Load(Parse("<library_geometries>"
                                   "<geometry name=\"A\"><mesh/></geometry>"
                                   "<geometry name=\"B\"><mesh/></geometry>"
                                   "<extra name=\"X\"/>"
                                   "</library_geometries>")));
    ASSERT_EQ(library.geometries.size(), 3u);
    EXPECT_EQ(library.geometries[0]->name, "A");
    EXPECT_EQ(library.geometries[1]->name, "B");
    EXPECT_EQ(library.geometries[2]->name, "X");
    EXPECT_EQ(library.IndexOf("B"), 1);
    EXPECT_EQ(library.IndexOf("b"), -1);
    EXPECT_EQ(library.IndexOf(""), -1);
}

TEST_F(GeometryLibrary, LeadingOtherChildRunsTheWalkOutOfElements)
{
    TLibraryGeometries library;
    EXPECT_FALSE(library.Load(Parse("<library_geometries><asset/>"
                                    "<geometry name=\"A\"><mesh/></geometry>"
                                    "<geometry name=\"A\"><mesh/></geometry>"
                                    "</library_geometries>")));
    ASSERT_EQ(library.geometries.size(), 2u) << "every geometry there is was read";
    EXPECT_EQ(library.IndexOf("A"), 0) << "the first of two equal names";

    TLibraryGeometries none;
    EXPECT_FALSE(none.Load(Parse("<library_geometries><asset/></library_geometries>")));
    EXPECT_TRUE(none.geometries.empty());
}
}
