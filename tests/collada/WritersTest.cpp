// The section writers against golden text.
#include "ColladaFixture.h"

#include <cmath>
#include <algorithm>
#include <limits>

namespace {
using testing_collada::ColladaTest;
using testing_collada::ReadFile;

std::string Golden(const std::string& leaf)
{
    std::string text = ReadFile(std::string(VULTARI_GOLDEN_DIR) + "/" + leaf);
    EXPECT_FALSE(text.empty()) << "golden file " << leaf << " is missing";
    return text;
}

std::unique_ptr<TNode> MakeNode(const std::string& name, const std::string& geometry, const std::string& material)
{
    auto n = std::make_unique<TNode>();
    n->name = name;
    n->geometryName = geometry;
    n->materialName = material;
    return n;
}

TEST(GeometryWriter, Golden)
{
    TLibraryGeometries library;
    auto body = std::make_unique<TGeometry>();
    body->name = "Body";
    body->positions = {0.1f, -2.5e-07f, 100000.0f, 1000000.0f, 1.1f, 12.345678f, 1.0f / 3.0f, 0.0f, -1.0f};
    body->normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
    body->texCoords = {0, 0, 1, 0, 0.5f, 1};
    body->triangles = {0, 1, 2};
    body->colors = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};   // never written
    body->tangents = {1, 0, 0, 1, 0, 0, 1, 0, 0};
    library.geometries.push_back(std::move(body));
    auto lines = std::make_unique<TGeometry>();
    lines->name = "Lines & <more>";
    lines->positions = {1, 2, 3, 4, 5, 6, 7};   // not a multiple of 3: the accessor count truncates
    lines->lines = {0, 1};
    library.geometries.push_back(std::move(lines));

    TLibraryVisualScenes scenes;
    scenes.nodes.push_back(MakeNode("a", "Body", "First"));
    scenes.nodes.push_back(MakeNode("b", "Other", "Other"));
    scenes.nodes.push_back(MakeNode("c", "Body", "Last"));   // the last matching node decides
    scenes.nodes.push_back(MakeNode("d", "body", "Case"));

    EXPECT_EQ(library.GeometriesXml(scenes), Golden("geometries.txt"));
    EXPECT_EQ(library.geometries[0]->GeometryXml(scenes) + library.geometries[1]->GeometryXml(scenes),
              Golden("geometries.txt"));
    EXPECT_EQ(TLibraryGeometries().GeometriesXml(scenes), "");
}

TEST(GeometryWriter, CountsOfATwelveTriangleMesh)
{
    TGeometry g;
    g.name = "Cube";
    g.positions.assign(108, 0.5f);
    g.normals.assign(108, 1.0f);
    g.texCoords.assign(72, 0.25f);
    for (int i = 0; i < 36; ++i)
        g.triangles.push_back(i);
    TLibraryVisualScenes scenes;
    std::string text = g.GeometryXml(scenes);
    for (const char* piece : {"<float_array count=\"108\" id=\"Cube-Position-array\">",
                              "<float_array count=\"108\" id=\"Cube-Normals-array\">",
                              "<float_array count=\"72\" id=\"Cube-UV-array\">",
                              "<accessor count=\"36\" source=\"#Cube-Position-array\"",
                              "<accessor count=\"36\" source=\"#Cube-Normals-array\"",
                              "<accessor count=\"36\" source=\"#Cube-UV-array\"",
                              "<triangles count=\"12\" material=\"\">", "<p>0 0 0 1 1 1 2 2 2 ", " 35 35 35          </p>\n"})
        EXPECT_NE(text.find(piece), std::string::npos) << piece;
    size_t p = text.find("<p>") + 3;
    std::string list = text.substr(p, text.find("          </p>") - p);
    std::vector<int> values;
    ParseIntArray(values, list, 1000);
    EXPECT_EQ(values.size(), 108u);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 + 10 + 10 + 9 + 3 + 6 + 1);
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(GeometryWriter, NonFiniteValuesAreWrittenAsZero)
{
    TGeometry g;
    g.name = "G";
    g.positions = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                   -std::numeric_limits<float>::infinity()};
    std::string text = g.GeometryXml(TLibraryVisualScenes());
    EXPECT_NE(text.find("id=\"G-Position-array\">0 0 0          </float_array>"), std::string::npos) << text;
}

TEST(NumberFormat, GeneralNotationSixDigits)
{
    // Values as the writers see them: 32-bit floats widened to double.
    const std::pair<float, const char*> cases[] = {
        {1.0f, "1"},          {0.5f, "0.5"},           {1.0f / 3.0f, "0.333333"}, {0.0000123f, "1.23e-05"},
        {2500000.0f, "2.5e+06"}, {0.0f, "0"},          {0.1f, "0.1"},             {-2.5e-07f, "-2.5e-07"},
        {100000.0f, "100000"}, {1000000.0f, "1e+06"},  {12.345678f, "12.3457"},   {0.0001f, "0.0001"},
        {0.00001f, "1e-05"},  {1.1f, "1.1"},           {-0.894f, "-0.894"},       {999999.5f, "1e+06"},
        {1e30f, "1e+30"},     {1e-30f, "1e-30"},       {123456.7f, "123457"},     {-1.5f, "-1.5"},
    };
    for (auto [value, text] : cases) {
        TNode n;
        n.translate = {value, 0, 0};
        std::string xml = n.NodeXml();
        std::string expected = std::string("<translate sid=\"translate\">") + text + " 0 0</translate>";
        EXPECT_NE(xml.find(expected), std::string::npos) << value << " -> " << xml.substr(0, 120);
    }
}

TEST(NodeWriter, Golden)
{
    TLibraryVisualScenes library;
    auto n = MakeNode("Cube \"1\"", "Cube-mesh", "M");
    n->translate = {0.0f, -0.894f, 1.1f};
    n->rotate = {10, 20, 30};
    n->scale = {1.1f, 2500000.0f, 0.00001f};
    n->geometryIndex = 5;
    n->effectIndex = 7;
    n->textures = {1, 2};
    library.nodes.push_back(std::move(n));
    library.nodes.push_back(std::make_unique<TNode>());
    EXPECT_EQ(library.NodesXml(), Golden("nodes.txt"));
    EXPECT_EQ(TLibraryVisualScenes().NodesXml(), "");
}

TEST(EffectWriter, Golden)
{
    TEffect e;
    e.name = "Skin-fx";
    e.imageName = "skin <1>";
    e.imageIndex = 3;
    e.shaderIndex = 2;
    EXPECT_EQ(e.EffectXml(), Golden("effect.txt"));
}

TEST(EffectWriter, ListOfThreeAndEmptyImage)
{
    TLibraryEffects library;
    for (const char* name : {"A-fx", "B-fx", "C-fx"}) {
        library.effects.push_back(std::make_unique<TEffect>());
        library.effects.back()->name = name;
    }
    std::string text = library.EffectsXml();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3 * 51);
    EXPECT_LT(text.find("\"A-fx\""), text.find("\"B-fx\""));
    EXPECT_LT(text.find("\"B-fx\""), text.find("\"C-fx\""));
    EXPECT_NE(text.find("<newparam sid=\"-surface\">"), std::string::npos);
    EXPECT_NE(text.find("<init_from></init_from>"), std::string::npos);
    EXPECT_NE(text.find("<newparam sid=\"-sampler\">"), std::string::npos);
    EXPECT_EQ(TLibraryEffects().EffectsXml(), "");
}

TEST(ImagesWriter, GoldenWithFileParts)
{
    TLibraryImages images;
    const std::pair<const char*, const char*> entries[] = {
        {"skin", "C:\\maps\\skin.bmp"}, {"flat", "skin.bmp"},   {"rel", "../maps/skin.bmp"},
        {"drive", "C:/maps/skin.bmp"},  {"folder", "C:\\maps\\"}, {"a&b", "dir\\x<y>.png"},
    };
    for (auto [name, file] : entries) {
        images.names.push_back(name);
        images.files.push_back(file);
    }
    EXPECT_EQ(images.ImagesXml(ExportTexturePrefix), Golden("images.txt"));
    EXPECT_EQ(TLibraryImages().ImagesXml(ExportTexturePrefix), "");
}

TEST(MaterialsWriter, GoldenNamedAfterEffects)
{
    TColladaAsset asset(nullptr);
    for (const char* name : {"skin-fx", "a-b-fx", "skin", "-fx", "<x>-fx"}) {
        asset.effects.effects.push_back(std::make_unique<TEffect>());
        asset.effects.effects.back()->name = name;
    }
    EXPECT_EQ(asset.MaterialsXml(), Golden("materials.txt"));
    EXPECT_EQ(TColladaAsset(nullptr).MaterialsXml(), "");
}

class WrittenText : public ColladaTest {};

// Whatever the names hold, every section parses as XML once wrapped.
TEST_F(WrittenText, HostileNamesKeepTheDocumentWellFormed)
{
    const char* names[] = {"a\"b", "</node>", "&amp;", "x<y>z", "tab\there", "\x01\x02"};
    for (const char* hostile : names) {
        SCOPED_TRACE(hostile);
        TColladaAsset a(nullptr);
        auto e = std::make_unique<TEffect>();
        e->name = hostile;
        e->imageName = hostile;
        a.effects.effects.push_back(std::move(e));
        a.images.names.push_back(hostile);
        a.images.files.push_back(hostile);
        auto g = std::make_unique<TGeometry>();
        g->name = hostile;
        g->positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
        g->triangles = {0, 1, 2};
        a.geometries.geometries.push_back(std::move(g));
        a.visualScenes.nodes.push_back(MakeNode(hostile, hostile, hostile));
        std::string text = "<all>" + a.effects.EffectsXml() + a.images.ImagesXml(hostile) + a.MaterialsXml() +
                           a.geometries.GeometriesXml(a.visualScenes) + a.visualScenes.NodesXml() + "</all>";
        IXMLNode root = Parse(text);
        ASSERT_TRUE(root);
        EXPECT_EQ(root.ChildCount(), 5);
        // Read back as written, but for what XML cannot carry: controls are dropped and an attribute's
        // tab reads as a blank.
        std::string expected;
        for (const char* c = hostile; *c; ++c)
            if (*c == '\t')
                expected += ' ';
            else if (static_cast<unsigned char>(*c) >= 0x20)
                expected += *c;
        EXPECT_EQ(root.FindChild("node").Attribute("name"), expected);
        std::string initFrom = root.FindChild("effect").FindChild("profile_COMMON").FindChild("newparam")
                                .FindChild("surface").FindChild("init_from").Text();
        std::string expectedText;
        for (const char* c = hostile; *c; ++c)
            if (*c == '\t' || static_cast<unsigned char>(*c) >= 0x20)
                expectedText += *c;
        EXPECT_EQ(initFrom, expectedText);
    }
}
}
