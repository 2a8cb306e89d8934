// Loading a whole document and linking its references.
#include "ColladaFixture.h"

#include "platform/base/Exception.h"

namespace {
using testing_collada::ColladaTest;

std::string Geometry(const std::string& name)
{
    return "<geometry id=\"" + name + "\" name=\"" + name + "\"><mesh>"
           "<source id=\"" + name + "-Position\"><float_array count=\"9\">0 0 0 1 0 0 0 1 0</float_array></source>"
           "<triangles count=\"1\"><input semantic=\"VERTEX\" offset=\"0\"/><p>0 1 2</p></triangles>"
           "</mesh></geometry>";
}

std::string Node(const std::string& name, const std::string& geometry, const std::string& material)
{
    std::string binding = material.empty() ? "" :
        "<bind_material><technique_common><instance_material symbol=\"" + material +
        "\" target=\"#" + material + "\"/></technique_common></bind_material>";
    return "<node name=\"" + name + "\"><translate>0 0 0</translate><scale>1 1 1</scale>"
           "<instance_geometry url=\"#" + geometry + "\">" + binding + "</instance_geometry></node>";
}

std::string Effect(const std::string& name, const std::string& image)
{
    return "<effect name=\"" + name + "\"><profile_COMMON><newparam><surface><init_from>" + image +
           "</init_from></surface></newparam></profile_COMMON></effect>";
}

std::string Scenes(const std::string& nodes)
{
    return "<library_visual_scenes><visual_scene>" + nodes + "</visual_scene></library_visual_scenes>";
}

class Asset : public ColladaTest {};

TEST_F(Asset, ConstructedEmptyWithDefaults)
{
    TColladaAsset a(&document);
    EXPECT_EQ(a.document, &document);
    EXPECT_TRUE(a.effects.effects.empty());
    EXPECT_TRUE(a.images.names.empty());
    EXPECT_TRUE(a.geometries.geometries.empty());
    EXPECT_TRUE(a.visualScenes.nodes.empty());
    EXPECT_EQ(a.translate, (std::array<float, 3>{0, 0, 0}));
    EXPECT_EQ(a.rotate, (std::array<float, 3>{0, 0, 0}));
    EXPECT_EQ(a.scale, (std::array<float, 3>{1, 1, 1}));
    EXPECT_EQ(a.shaderIndex, -1);
    EXPECT_EQ(a.polygonMode, -1);
    EXPECT_TRUE(a.visible);
}

TEST_F(Asset, LinksNodesGeometriesEffectsAndImages)
{
    ASSERT_TRUE(LoadAsset(Document(
        "<library_effects>" + Effect("M", "skin") + Effect("M-fx", "skin") + Effect("N-fx", "missing") +
        Effect("Skin-fx", "") + "</library_effects>"
        "<library_images><image name=\"other\"><init_from>o.png</init_from></image>"
        "<image name=\"skin\"><init_from>data/textures/headtexture.bmp</init_from></image>"
        "<image name=\"missing.png\"><init_from>missing</init_from></image></library_images>"
        "<library_materials><material id=\"M\"/></library_materials>"
        "<library_geometries>" + Geometry("Cube") + Geometry("Cube") + Geometry("Eye") + "</library_geometries>" +
        Scenes(Node("Cube", "Cube", "M") + Node("Eye", "Eye", "N") + Node("Lost", "Nothing", "") +
               Node("Skinned", "Cube", "Skin")))));
    const auto& nodes = asset->visualScenes.nodes;
    ASSERT_EQ(nodes.size(), 4u);
    EXPECT_EQ(nodes[0]->geometryIndex, 0) << "two geometries of one name: the first";
    EXPECT_EQ(nodes[0]->effectIndex, 1) << "symbol M names the effect M-fx, not M";
    EXPECT_EQ(nodes[1]->geometryIndex, 2);
    EXPECT_EQ(nodes[1]->effectIndex, 2);
    EXPECT_EQ(nodes[2]->geometryIndex, -1);
    EXPECT_EQ(nodes[2]->effectIndex, -1);
    EXPECT_EQ(nodes[3]->effectIndex, 3);

    const auto& effects = asset->effects.effects;
    EXPECT_EQ(effects[0]->imageIndex, 1);
    EXPECT_EQ(effects[1]->imageIndex, 1);
    EXPECT_EQ(effects[2]->imageIndex, -1) << "matched by image name, not by file";
    EXPECT_EQ(effects[3]->imageIndex, -1) << "empty image name";
    EXPECT_EQ(asset->images.files[effects[1]->imageIndex], "data/textures/headtexture.bmp");
    EXPECT_EQ(asset->geometries.geometries[0]->triangles, (std::vector<int>{0, 1, 2}));
}

TEST_F(Asset, ReadsTheLengthUnit)
{
    struct Case {
        const char* asset;  // the asset element's text, or none
        double meter;
        const char* name;
    };
    const Case cases[] = {
        {"<asset><unit meter=\"0.028\" name=\"model_unit\"/></asset>", 0.028, "model_unit"},
        {"<asset><unit meter=\" 2.54e-2 \"/></asset>", 0.0254, ""},
        {"", 1.0, ""},                                                       // no asset: one metre
        {"<asset><up_axis>Z_UP</up_axis></asset>", 1.0, ""},                 // no unit
        {"<asset><unit name=\"inch\"/></asset>", 1.0, ""},                  // no value
        {"<asset><unit meter=\"0,028\" name=\"comma\"/></asset>", 1.0, ""}, // not a number here
        {"<asset><unit meter=\"-1\" name=\"back\"/></asset>", 1.0, ""},
        {"<asset><unit meter=\"0\" name=\"none\"/></asset>", 1.0, ""},
        {"<asset><unit meter=\"inf\" name=\"all\"/></asset>", 1.0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asset);
        ASSERT_TRUE(LoadAsset(Document(std::string(c.asset) + "<library_geometries>" + Geometry("G") +
                                       "</library_geometries>" + Scenes(Node("N", "G", "M")))));
        EXPECT_DOUBLE_EQ(asset->unitMeter, c.meter);
        EXPECT_EQ(asset->unitName, c.name);
    }
}

TEST_F(Asset, GeometriesAndScenesAloneLoad)
{
    ASSERT_TRUE(LoadAsset(Document("<library_geometries>" + Geometry("G") + "</library_geometries>" +
                                   Scenes(Node("N", "G", "M")))));
    EXPECT_TRUE(asset->effects.effects.empty());
    EXPECT_TRUE(asset->images.names.empty());
    EXPECT_EQ(asset->visualScenes.nodes[0]->geometryIndex, 0);
    EXPECT_EQ(asset->visualScenes.nodes[0]->effectIndex, -1);
}

TEST_F(Asset, MissingLibrariesReturnFalseAndKeepWhatWasRead)
{
    EXPECT_FALSE(LoadAsset(Document("<library_geometries>" + Geometry("G") + "</library_geometries>")));
    EXPECT_EQ(asset->geometries.geometries.size(), 1u);
    EXPECT_TRUE(asset->visualScenes.nodes.empty());

    EXPECT_FALSE(LoadAsset(Document("<library_effects>" + Effect("E-fx", "i") + "</library_effects>" +
                                    Scenes(Node("N", "G", "E")))));
    EXPECT_EQ(asset->effects.effects.size(), 1u);
    EXPECT_TRUE(asset->visualScenes.nodes.empty()) << "scenes are read only after geometries";
    EXPECT_EQ(asset->effects.effects[0]->imageIndex, -1) << "not linked";

    EXPECT_FALSE(LoadAsset("<?xml version=\"1.0\"?>\n<!-- no root element -->\n"));
    EXPECT_FALSE(LoadAsset(""));
}

TEST_F(Asset, SceneWithoutVisualSceneStillLoads)
{
    EXPECT_TRUE(LoadAsset(Document("<library_geometries>" + Geometry("G") +
                                   "</library_geometries><library_visual_scenes/>")));
    EXPECT_TRUE(asset->visualScenes.nodes.empty());
}

TEST_F(Asset, UnreadableFilesThrowBeforeAnythingIsRead)
{
    asset = std::make_unique<TColladaAsset>(&document);
    try {
        asset->Load(Scratch("broken.dae", Document("<library_geometries>" + Geometry("G")).substr(0, 200)));
        FAIL() << "a malformed file must throw";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("broken.dae"), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(asset->geometries.geometries.empty());

    try {
        asset->Load((folder / "absent.dae").string());
        FAIL() << "a missing file must throw";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("absent.dae"), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(asset->geometries.geometries.empty());
    EXPECT_TRUE(document.DocumentElement().IsNull());
}

TEST_F(Asset, WithoutDocumentNothingLoads)
{
    TColladaAsset a(nullptr);
    EXPECT_FALSE(a.Load("whatever.dae"));
}
}
