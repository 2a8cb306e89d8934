// What the writers produce reads back into the same model.
#include "ColladaFixture.h"

#include <cmath>
#include <random>

namespace {
using testing_collada::ColladaTest;

// The sections wrapped the way the export wraps them.
std::string WriteDocument(const TColladaAsset& a)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.0\">\n"
           "  <library_effects>\n" + a.effects.EffectsXml() + "  </library_effects>\n"
           "  <library_images>\n" + a.images.ImagesXml(ExportTexturePrefix) + "  </library_images>\n"
           "  <library_materials>\n" + a.MaterialsXml() + "  </library_materials>\n"
           "  <library_geometries>\n" + a.geometries.GeometriesXml(a.visualScenes) + "  </library_geometries>\n"
           "  <library_visual_scenes>\n    <visual_scene id=\"Scene\" name=\"Scene\">\n" + a.visualScenes.NodesXml() +
           "    </visual_scene>\n  </library_visual_scenes>\n"
           "  <scene>\n    <instance_visual_scene url=\"#Scene\"/>\n  </scene>\n"
           "</COLLADA>\n";
}

void Fill(TColladaAsset& a, std::mt19937& random)
{
    std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const char* names[] = {"Head", "Eye & <Lid>", "Hair \"strands\""};
    for (int m = 0; m < 3; ++m) {
        std::string name = names[m];
        auto e = std::make_unique<TEffect>();
        e->name = name + "-mat-fx";
        e->imageName = name + "-img";
        a.effects.effects.push_back(std::move(e));
        a.images.names.push_back(name + "-img");
        a.images.files.push_back("C:\\somewhere\\" + std::to_string(m) + ".bmp");

        auto g = std::make_unique<TGeometry>();
        g->name = name + "-mesh";
        int corners = 3 * (1 + m * 7);
        for (int c = 0; c < corners; ++c) {
            g->positions.insert(g->positions.end(), {value(random), value(random) * 1e-6f, value(random) * 1e4f});
            g->normals.insert(g->normals.end(), {unit(random), -unit(random), unit(random)});
            g->texCoords.insert(g->texCoords.end(), {unit(random), unit(random)});
            g->triangles.push_back(c);
        }
        a.geometries.geometries.push_back(std::move(g));

        auto n = std::make_unique<TNode>();
        n->name = name;
        n->geometryName = name + "-mesh";
        n->materialName = name + "-mat";
        n->translate = {value(random), value(random), value(random)};
        n->rotate = {value(random), value(random), value(random)};
        n->scale = {unit(random), unit(random) * 3, 1.1f};
        a.visualScenes.nodes.push_back(std::move(n));
    }
}

void ExpectClose(const std::vector<float>& got, const std::vector<float>& want)
{
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], want[i], std::fabs(want[i]) * 5e-6f + 1e-30f) << i;
}

class RoundTrip : public ColladaTest {};

TEST_F(RoundTrip, WrittenDocumentReadsBackIntoTheSameModel)
{
    std::mt19937 random(20261210);
    TColladaAsset original(nullptr);
    Fill(original, random);
    const std::string first = WriteDocument(original);
    ASSERT_TRUE(LoadAsset(first));
    TColladaAsset& read = *asset;

    ASSERT_EQ(read.geometries.geometries.size(), 3u);
    ASSERT_EQ(read.visualScenes.nodes.size(), 3u);
    ASSERT_EQ(read.effects.effects.size(), 3u);
    ASSERT_EQ(read.images.names.size(), 3u);
    for (int m = 0; m < 3; ++m) {
        SCOPED_TRACE(m);
        const TGeometry& g0 = *original.geometries.geometries[m];
        const TGeometry& g1 = *read.geometries.geometries[m];
        EXPECT_EQ(g1.name, g0.name);
        ExpectClose(g1.positions, g0.positions);
        ExpectClose(g1.normals, g0.normals);
        ExpectClose(g1.texCoords, g0.texCoords);
        EXPECT_EQ(g1.triangles, g0.triangles);

        const TNode& n0 = *original.visualScenes.nodes[m];
        const TNode& n1 = *read.visualScenes.nodes[m];
        EXPECT_EQ(n1.name, n0.name);
        EXPECT_EQ(n1.geometryName, n0.geometryName);
        EXPECT_EQ(n1.materialName, n0.materialName);
        ExpectClose({n1.translate.begin(), n1.translate.end()}, {n0.translate.begin(), n0.translate.end()});
        ExpectClose({n1.rotate.begin(), n1.rotate.end()}, {n0.rotate.begin(), n0.rotate.end()});
        ExpectClose({n1.scale.begin(), n1.scale.end()}, {n0.scale.begin(), n0.scale.end()});
        EXPECT_EQ(n1.geometryIndex, m);
        EXPECT_EQ(n1.effectIndex, m);

        EXPECT_EQ(read.effects.effects[m]->name, original.effects.effects[m]->name);
        EXPECT_EQ(read.effects.effects[m]->imageName, original.effects.effects[m]->imageName);
        EXPECT_EQ(read.effects.effects[m]->imageIndex, m);
        EXPECT_EQ(read.images.names[m], original.images.names[m]);
        EXPECT_EQ(read.images.files[m], "textures/" + std::to_string(m) + ".bmp");
    }
    // Six significant digits survive a float: writing what was read gives the same text.
    EXPECT_EQ(WriteDocument(read), first);
}

TEST_F(RoundTrip, ReadMeshesSurviveAWriteAndRead)
{
    // A document with shared, indexed corners as exporters write them.
    const std::string doc = Document(
        "<library_geometries><geometry id=\"Quad\" name=\"Quad\"><mesh>"
        "<source id=\"Quad-Position\"><float_array count=\"12\">0 0 0 1 0 0 1 1 0 0 1 0</float_array></source>"
        "<source id=\"Quad-Normals\"><float_array count=\"3\">0 0 1</float_array></source>"
        "<source id=\"Quad-UV\"><float_array count=\"8\">0 0 1 0 1 1 0 1</float_array></source>"
        "<vertices id=\"Quad-Vertex\"><input semantic=\"POSITION\" source=\"#Quad-Position\"/></vertices>"
        "<triangles count=\"2\" material=\"Skin\"><input semantic=\"VERTEX\" offset=\"0\"/>"
        "<input semantic=\"NORMAL\" offset=\"1\"/><input semantic=\"TEXCOORD\" offset=\"2\"/>"
        "<p>0 0 0 1 0 1 2 0 2 0 0 0 2 0 2 3 0 3</p></triangles></mesh></geometry></library_geometries>"
        "<library_visual_scenes><visual_scene><node name=\"Quad\"><translate>1 2 3</translate>"
        "<rotate>0 0 1 90</rotate><rotate>0 1 0 0</rotate><rotate>1 0 0 -90</rotate><scale>1 1 1</scale>"
        "<instance_geometry url=\"#Quad\"><bind_material><technique_common><instance_material symbol=\"Skin\"/>"
        "</technique_common></bind_material></instance_geometry></node></visual_scene></library_visual_scenes>");
    ASSERT_TRUE(LoadAsset(doc));
    const TGeometry& g = *asset->geometries.geometries[0];
    ASSERT_EQ(g.positions.size(), 18u);
    EXPECT_EQ(g.positions, (std::vector<float>{0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0}));
    std::vector<float> positions = g.positions;
    std::vector<float> texCoords = g.texCoords;

    const std::string written = WriteDocument(*asset);
    auto first = std::move(asset);
    ASSERT_TRUE(LoadAsset(written));
    const TGeometry& h = *asset->geometries.geometries[0];
    EXPECT_EQ(h.positions, positions);
    EXPECT_EQ(h.texCoords, texCoords);
    EXPECT_EQ(h.normals.size(), 18u);
    EXPECT_EQ(asset->visualScenes.nodes[0]->rotate, (std::array<float, 3>{-90, 0, 90}));
    EXPECT_EQ(asset->visualScenes.nodes[0]->translate, (std::array<float, 3>{1, 2, 3}));
    EXPECT_EQ(asset->visualScenes.nodes[0]->geometryIndex, 0);
}
}
