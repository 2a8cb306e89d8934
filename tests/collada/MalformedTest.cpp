// Bad documents never crash, never read outside an array and never allocate what their text
// cannot fill. Meant to run under AddressSanitizer and UndefinedBehaviorSanitizer as well.
#include "ColladaFixture.h"

#include <cmath>
#include <functional>
#include <random>

#include "platform/base/Exception.h"

namespace {
using testing_collada::AllSections;
using testing_collada::ColladaTest;
using testing_collada::ExpectSafeAsset;

std::string Mesh(const std::string& name, const std::string& body)
{
    return "<library_geometries><geometry name=\"" + name + "\"><mesh>" + body +
           "</mesh></geometry></library_geometries>"
           "<library_visual_scenes><visual_scene><node name=\"N\"><translate>0 0 0</translate><scale>1 1 1</scale>"
           "<instance_geometry url=\"#" + name + "\"/></node></visual_scene></library_visual_scenes>";
}

std::string Positions(const std::string& count, const std::string& values)
{
    return "<source id=\"G-Position\"><float_array count=\"" + count + "\">" + values + "</float_array></source>";
}

std::string Triangles(const std::string& count, int inputs, const std::string& p)
{
    std::string s = "<triangles count=\"" + count + "\">";
    for (int i = 0; i < inputs; ++i)
        s += "<input offset=\"" + std::to_string(i) + "\"/>";
    return s + "<p>" + p + "</p></triangles>";
}

const std::string kTriangle = "0 0 0 1 0 0 0 1 0";

struct Malformed {
    const char* what;
    std::string body;      // inside <COLLADA>
    bool loads;            // Load's result
    std::function<void(const TColladaAsset&)> check;
};

const TGeometry& First(const TColladaAsset& a) { return *a.geometries.geometries.at(0); }

std::vector<Malformed> Cases()
{
    using V = std::vector<float>;
    using I = std::vector<int>;
    return {
        {"negative count", Mesh("G", Positions("-9", kTriangle)), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"huge count", Mesh("G", Positions("9000000000000000000", kTriangle)), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).positions, V({0, 0, 0, 1, 0, 0, 0, 1, 0})); }},
        {"count beyond long long", Mesh("G", Positions("99999999999999999999999", kTriangle)), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"missing count", Mesh("G", "<source id=\"G-Position\"><float_array>1 2 3</float_array></source>"), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"count not a number", Mesh("G", Positions("lots", kTriangle)), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"count larger than the text", Mesh("G", Positions("1000000", "1 2 3")), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).positions, V({1, 2, 3})); }},
        {"count times inputs times 3 beyond 32 bits",
         Mesh("G", Positions("9", kTriangle) + Triangles("1431655766", 1, "0 1 2")), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).triangles, I({0, 1, 2})); }},
        {"count times inputs beyond 64 bits",
         Mesh("G", Positions("9", kTriangle) + Triangles("4611686018427387904", 3, "0 1 2")), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).triangles, I({0, 1, 2})); }},
        {"negative triangle count", Mesh("G", Positions("9", kTriangle) + Triangles("-1", 1, "0 1 2")), true,
         [](const TColladaAsset& a) {
             EXPECT_TRUE(First(a).triangles.empty());
             EXPECT_EQ(First(a).positions.size(), 9u);
         }},
        {"index past the positions", Mesh("G", Positions("9", kTriangle) + Triangles("1", 1, "0 1 3")), true,
         [](const TColladaAsset& a) {
             EXPECT_TRUE(First(a).positions.empty());
             EXPECT_TRUE(First(a).triangles.empty());
         }},
        {"negative index", Mesh("G", Positions("9", kTriangle) + Triangles("1", 1, "0 -1 2")), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"huge index", Mesh("G", Positions("9", kTriangle) + Triangles("1", 1, "0 2147483647 2")), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"index beyond 32 bits", Mesh("G", Positions("9", kTriangle) + Triangles("1", 1, "0 4294967296 2")), true,
         [](const TColladaAsset& a) {
             // The list stops at the number it cannot read; the rest is 0: one degenerate triangle.
             EXPECT_EQ(First(a).positions, std::vector<float>(9, 0.0f));
         }},
        {"three inputs but one array, odd count",
         Mesh("G", Positions("9", kTriangle) + Triangles("1", 3, "0 0 0 1 1 1 2 2 2")), true,
         [](const TColladaAsset& a) {
             // Grouped by the one present array: nine corners in bounds, three degenerate triangles.
             EXPECT_EQ(First(a).triangles, I({0, 1, 2, 3, 4, 5, 6, 7, 8}));
             EXPECT_EQ(First(a).positions.size(), 27u);
         }},
        {"two arrays, index list not in whole corners",
         Mesh("G", Positions("9", kTriangle) +
                       "<source id=\"G-UV\"><float_array count=\"6\">0 0 1 0 0 1</float_array></source>" +
                       Triangles("1", 3, "0 0 0 1 1 1 2 2 2")), true,
         [](const TColladaAsset& a) {
             EXPECT_TRUE(First(a).positions.empty());
             EXPECT_TRUE(First(a).texCoords.empty());
         }},
        {"short p text", Mesh("G", Positions("9", kTriangle) + Triangles("2", 1, "0 1 2 2")), true,
         [](const TColladaAsset& a) { EXPECT_TRUE(First(a).positions.empty()); }},
        {"garbage in p", Mesh("G", Positions("9", kTriangle) + Triangles("1", 1, "0 one 2")), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).positions, V({0, 0, 0, 0, 0, 0, 0, 0, 0})); }},
        {"garbage in an array", Mesh("G", Positions("9", "0 0 0 1 x 0 0 1 0") + Triangles("1", 1, "0 1 2")), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).positions, V({0, 0, 0, 1, 0, 0, 0, 0, 0})); }},
        {"non-finite numbers", Mesh("G", Positions("9", "0 0 0 1e400 nan inf 0 1 0") + Triangles("1", 1, "0 1 2")),
         true, [](const TColladaAsset& a) {
             for (float v : First(a).positions)
                 EXPECT_TRUE(std::isfinite(v));
         }},
        {"node without transforms",
         "<library_geometries/><library_visual_scenes><visual_scene><node name=\"Bare\"><instance_geometry url=\"#X\"/>"
         "</node><node name=\"Half\"><translate>5</translate><instance_geometry url=\"#X\"/></node>"
         "</visual_scene></library_visual_scenes>", true,
         [](const TColladaAsset& a) {
             ASSERT_EQ(a.visualScenes.nodes.size(), 2u);
             for (const auto& n : a.visualScenes.nodes) {
                 EXPECT_EQ(n->rotate, (std::array<float, 3>{0, 0, 0}));
                 EXPECT_EQ(n->scale, (std::array<float, 3>{1, 1, 1}));
                 EXPECT_EQ(n->geometryIndex, -1);
             }
             EXPECT_EQ(a.visualScenes.nodes[1]->translate, (std::array<float, 3>{5, 0, 0}));
         }},
        {"image without name",
         "<library_images><image><init_from>a.png</init_from></image><image name=\"b\"><init_from>b.png</init_from>"
         "</image></library_images><library_geometries/><library_visual_scenes><visual_scene/></library_visual_scenes>",
         true,
         [](const TColladaAsset& a) {
             EXPECT_EQ(a.images.names, (std::vector<std::string>{"", "b"}));
             EXPECT_EQ(a.images.files, (std::vector<std::string>{"a.png", "b.png"}));
         }},
        {"geometry without name", Mesh("", "<source id=\"-Position\"><float_array count=\"9\">" + kTriangle +
                                               "</float_array></source>" + Triangles("1", 1, "2 1 0")), true,
         [](const TColladaAsset& a) { EXPECT_EQ(First(a).positions, V({0, 1, 0, 1, 0, 0, 0, 0, 0})); }},
        {"empty elements everywhere",
         "<library_effects><effect/><effect><profile_COMMON><newparam/></profile_COMMON></effect></library_effects>"
         "<library_images><image/></library_images><library_geometries><geometry><mesh><source/><triangles/>"
         "</mesh></geometry></library_geometries><library_visual_scenes><visual_scene><node/><node>"
         "<instance_geometry/></node></visual_scene></library_visual_scenes>", true,
         [](const TColladaAsset& a) {
             EXPECT_EQ(a.effects.effects.size(), 2u);
             EXPECT_EQ(a.geometries.geometries.size(), 1u);
             EXPECT_EQ(a.visualScenes.nodes.size(), 1u);
         }},
        {"other root, no libraries", "", false, [](const TColladaAsset& a) {
             EXPECT_TRUE(a.geometries.geometries.empty());
         }},
    };
}

class MalformedDocuments : public ColladaTest {};

TEST_F(MalformedDocuments, Table)
{
    for (const auto& c : Cases()) {
        SCOPED_TRACE(c.what);
        bool loaded = false;
        ASSERT_NO_THROW(loaded = LoadAsset(Document(c.body)));
        EXPECT_EQ(loaded, c.loads);
        ExpectSafeAsset(*asset);
        c.check(*asset);
        // The writers cope with whatever was read.
        IXMLNode written;
        ASSERT_NO_THROW(written = Parse(AllSections(*asset)));
        EXPECT_EQ(written.NodeName(), "all");
        TGeometry* g = asset->geometries.geometries.empty() ? nullptr : asset->geometries.geometries[0].get();
        if (g)
            g->ComputeTangentSpace();
    }
}

TEST_F(MalformedDocuments, DeepNestingDoesNotExhaustTheStack)
{
    std::string deep;
    for (int i = 0; i < 20000; ++i)
        deep += "<node>";
    for (int i = 0; i < 20000; ++i)
        deep += "</node>";
    EXPECT_TRUE(LoadAsset(Document("<library_geometries/><library_visual_scenes><visual_scene>" + deep +
                                   "</visual_scene></library_visual_scenes>")));
    EXPECT_TRUE(asset->visualScenes.nodes.empty());
}

TEST_F(MalformedDocuments, BrokenXmlThrowsAndReadsNothing)
{
    const std::string good = Document(Mesh("G", Positions("9", kTriangle) + Triangles("1", 1, "0 1 2")));
    const std::string broken[] = {
        good.substr(0, good.size() / 2),
        std::string("\x00\x01\x02garbage", 10),
        "<COLLADA><library_geometries></COLLADA>",
        good + "<COLLADA/>",
    };
    for (const auto& text : broken) {
        asset = std::make_unique<TColladaAsset>(&document);
        EXPECT_THROW(asset->Load(Scratch("broken.dae", text)), Exception);
        EXPECT_TRUE(asset->geometries.geometries.empty());
        EXPECT_TRUE(asset->visualScenes.nodes.empty());
    }
}

// Random damage to a good document: cut, repeat, or overwrite pieces. Whatever comes out either
// throws the document's error or loads into a safe asset.
TEST_F(MalformedDocuments, RandomDamage)
{
    const std::string good = Document(
        "<library_effects><effect name=\"M-fx\"><profile_COMMON><newparam><surface><init_from>img</init_from>"
        "</surface></newparam></profile_COMMON></effect></library_effects>"
        "<library_images><image name=\"img\"><init_from>C:\\t\\a.bmp</init_from></image></library_images>"
        "<library_geometries><geometry name=\"G\"><mesh>" + Positions("12", "0 0 0 1 0 0 0 1 0 1 1 0") +
        "<source id=\"G-Normals\"><float_array count=\"3\">0 0 1</float_array></source>"
        "<source id=\"G-UV\"><float_array count=\"8\">0 0 1 0 1 1 0 1</float_array></source>" +
        Triangles("2", 3, "0 0 0 1 0 1 2 0 2 0 0 0 2 0 2 3 0 3") +
        "</mesh></geometry></library_geometries><library_visual_scenes><visual_scene><node name=\"N\">"
        "<translate>1 2 3</translate><rotate>0 0 1 4</rotate><scale>1 1 1</scale><instance_geometry url=\"#G\">"
        "<bind_material><technique_common><instance_material symbol=\"M\"/></technique_common></bind_material>"
        "</instance_geometry></node></visual_scene></library_visual_scenes>");
    ASSERT_TRUE(LoadAsset(good));
    ASSERT_EQ(asset->geometries.geometries[0]->triangles.size(), 6u);

    std::mt19937 random(12345);
    const char* inserts[] = {"-", "9999999999", "-1", " ", "<", ">", "\"", "x", "0", "7", "&amp;", "-2147483648"};
    int loaded = 0;
    int refused = 0;
    for (int round = 0; round < 400; ++round) {
        std::string text = good;
        int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            size_t at = random() % text.size();
            size_t length = 1 + random() % 12;
            switch (random() % 4) {
            case 0: text.erase(at, length); break;
            case 1: text.insert(at, text.substr(at, length)); break;
            case 2: text.replace(at, std::min(length, text.size() - at), inserts[random() % std::size(inserts)]); break;
            default: text.insert(at, inserts[random() % std::size(inserts)]); break;
            }
        }
        SCOPED_TRACE(text);
        asset = std::make_unique<TColladaAsset>(&document);
        try {
            asset->Load(Scratch("damaged.dae", text));
            ++loaded;
        } catch (const Exception&) {
            ++refused;
        }
        ExpectSafeAsset(*asset);
        for (auto& g : asset->geometries.geometries)
            g->ComputeTangentSpace();
        ASSERT_NO_THROW(Parse(AllSections(*asset)));
        if (HasFatalFailure())
            return;
    }
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}
}
