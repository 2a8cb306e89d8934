#include "ColladaFixture.h"

namespace {
using testing_collada::ColladaTest;

const char* kBinding =
    "<bind_material><technique_common><instance_material symbol=\"Skin\" target=\"#Skin-mat\"/>"
    "</technique_common></bind_material>";

class NodeRead : public ColladaTest {
protected:
    TNode& Read(const std::string& children, const std::string& name = "Head")
    {
        node = std::make_unique<TNode>();
        result = node->Load(Parse("<node id=\"id-" + name + "\" name=\"" + name + "\">" + children + "</node>"));
        return *node;
    }
    std::unique_ptr<TNode> node;
    bool result = false;
};

void ExpectArray(const std::array<float, 3>& got, float x, float y, float z)
{
    EXPECT_EQ(got[0], x);
    EXPECT_EQ(got[1], y);
    EXPECT_EQ(got[2], z);
}

TEST_F(NodeRead, FullNode)
{
    TNode& n = Read("<translate sid=\"t\">1 -2 3.5</translate>"
                    "<rotate>0 0 1 30</rotate><rotate>0 1 0 20</rotate><rotate>1 0 0 10</rotate>"
                    "<scale>2 3 4</scale>"
                    "<instance_geometry url=\"#Body\">" +
                    std::string(kBinding) + "</instance_geometry>");
    EXPECT_TRUE(result);
    EXPECT_EQ(n.name, "Head");
    ExpectArray(n.translate, 1, -2, 3.5f);
    ExpectArray(n.rotate, 10, 20, 30);   // [0] about X from the third rotate
    ExpectArray(n.scale, 2, 3, 4);
    EXPECT_EQ(n.geometryName, "Body");
    EXPECT_EQ(n.materialName, "Skin");
    EXPECT_EQ(n.geometryIndex, -1);
    EXPECT_EQ(n.effectIndex, -1);
    EXPECT_TRUE(n.textures.empty());
}

TEST_F(NodeRead, RotationAnglesComeInTheOrderZYX)
{
    struct Case {
        const char* rotates;
        float x, y, z;
    };
    const Case cases[] = {
        {"<rotate>0 0 1 5</rotate>", 0, 0, 5},
        {"<rotate>0 0 1 5</rotate><rotate>0 1 0 6</rotate>", 0, 6, 5},
        // The axis numbers are not looked at: the position decides.
        {"<rotate>1 0 0 5</rotate><rotate>1 0 0 6</rotate><rotate>0 0 1 7</rotate>", 7, 6, 5},
        {"<rotate>0 0 1 5</rotate><rotate>0 1 0 6</rotate><rotate>1 0 0 7</rotate><rotate>1 0 0 8</rotate>", 7, 6, 5},
        {"", 0, 0, 0},
        {"<rotate>0 0 1</rotate>", 0, 0, 0},                 // no angle
        {"<rotate>0 0 1 5</rotate><extra/><rotate>0 1 0 6</rotate>", 0, 0, 5},
    };
    for (const auto& c : cases) {
        TNode& n = Read("<translate>0 0 0</translate>" + std::string(c.rotates) +
                        "<scale>1 1 1</scale><instance_geometry url=\"#G\"/>");
        EXPECT_TRUE(result) << c.rotates;
        EXPECT_EQ(n.rotate[0], c.x) << c.rotates;
        EXPECT_EQ(n.rotate[1], c.y) << c.rotates;
        EXPECT_EQ(n.rotate[2], c.z) << c.rotates;
        EXPECT_EQ(n.scale[0], 1.0f);
    }
}

TEST_F(NodeRead, UrlLosesItsFirstCharacter)
{
    const std::pair<const char*, const char*> cases[] = {{"#Body", "Body"}, {"Body", "ody"}, {"#", ""}, {"", ""}};
    for (auto [url, name] : cases) {
        TNode& n = Read(std::string("<translate/><scale/><instance_geometry url=\"") + url + "\"/>");
        EXPECT_EQ(n.geometryName, name) << url;
    }
    TNode& n = Read("<translate/><scale/><instance_geometry/>");
    EXPECT_EQ(n.geometryName, "") << "an absent url";
}

TEST_F(NodeRead, IncompleteMaterialChainLeavesNoMaterial)
{
    const char* chains[] = {
        "",
        "<bind_material/>",
        "<bind_material><technique_common/></bind_material>",
        "<bind_material><instance_material symbol=\"X\"/></bind_material>",
    };
    for (const char* chain : chains) {
        TNode& n = Read(std::string("<translate/><scale/><instance_geometry url=\"#G\">") + chain + "</instance_geometry>");
        EXPECT_TRUE(result);
        EXPECT_EQ(n.materialName, "") << chain;
    }
}

TEST_F(NodeRead, MissingTransformsKeepIdentityValues)
{
    struct Case {
        const char* children;
        bool result;
        std::array<float, 3> translate, rotate, scale;
        const char* geometry;
    };
    const Case cases[] = {
        {"<rotate>0 0 1 9</rotate><scale>2 2 2</scale><instance_geometry url=\"#G\"/>", false, {0, 0, 0}, {0, 0, 0},
         {1, 1, 1}, ""},
        {"<translate>1 2 3</translate><rotate>0 0 1 9</rotate><instance_geometry url=\"#G\"/>", false, {1, 2, 3},
         {0, 0, 9}, {1, 1, 1}, ""},
        {"<translate>1 2</translate><scale>2</scale><instance_geometry url=\"#G\"/>", true, {1, 2, 0}, {0, 0, 0},
         {2, 1, 1}, "G"},
        {"<translate>1 2 3 4</translate><scale>5 6 7 8</scale><instance_geometry url=\"#G\"/>", true, {1, 2, 3},
         {0, 0, 0}, {5, 6, 7}, "G"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.children);
        TNode& n = Read(c.children);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(n.name, "Head");
        EXPECT_EQ(n.translate, c.translate);
        EXPECT_EQ(n.rotate, c.rotate);
        EXPECT_EQ(n.scale, c.scale);
        EXPECT_EQ(n.geometryName, c.geometry);
    }
}

class SceneLibrary : public ColladaTest {};

TEST_F(SceneLibrary, ReadsGeometryNodesOfTheFirstSceneOnly)
{
    TLibraryVisualScenes library;
    EXPECT_TRUE(library.Load(Parse(
        "<library_visual_scenes><visual_scene name=\"first\">"
        "<node name=\"Light\"><instance_light url=\"#l\"/></node>"
        "<node name=\"A\"><translate/><scale/><instance_geometry url=\"#GA\"/>"
        "  <node name=\"Nested\"><translate/><scale/><instance_geometry url=\"#GN\"/></node></node>"
        "<node name=\"B\"><translate/><scale/><instance_geometry url=\"#GB\"/></node>"
        "<node name=\"A\"><translate/><scale/><instance_geometry url=\"#GA2\"/></node>"
        "<extra><technique/></extra>"
        "</visual_scene>"
        "<visual_scene><node name=\"Second\"><translate/><scale/><instance_geometry url=\"#G\"/></node></visual_scene>"
        "</library_visual_scenes>")));
    ASSERT_EQ(library.nodes.size(), 3u);
    EXPECT_EQ(library.nodes[0]->name, "A");
    EXPECT_EQ(library.nodes[1]->name, "B");
    EXPECT_EQ(library.nodes[2]->geometryName, "GA2");
    EXPECT_EQ(library.IndexOf("A"), 0);
    EXPECT_EQ(library.IndexOf("B"), 1);
    EXPECT_EQ(library.IndexOf("b"), -1);
    EXPECT_EQ(library.IndexOf("Nested"), -1);
    EXPECT_EQ(library.IndexOf("Light"), -1);
    EXPECT_EQ(library.IndexOf("Second"), -1);
}

TEST_F(SceneLibrary, WithoutSceneOrNodes)
{
    TLibraryVisualScenes library;
    EXPECT_FALSE(library.Load(Parse("<library_visual_scenes><node name=\"A\"/></library_visual_scenes>")));
    EXPECT_TRUE(library.nodes.empty());
    EXPECT_TRUE(library.Load(Parse("<library_visual_scenes><visual_scene><extra/></visual_scene></library_visual_scenes>")));
    EXPECT_TRUE(library.nodes.empty());
}
}
