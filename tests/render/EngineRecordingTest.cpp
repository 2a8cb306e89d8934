// The engine's GL calls, recorded without a driver: construction, upload, drawing, destruction.
#include "collada/Colladaasset.h"
#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "render/Colladaengine.h"
#include "tests/render/GLRecorder.h"
#include "tests/render/RenderTestSupport.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <memory>

using Calls = std::vector<std::string>;

namespace {

std::unique_ptr<TGeometry> Geometry(const std::string& name, int vertices, bool normals, bool texCoords,
                                    bool colors, bool lines = false)
{
    auto g = std::make_unique<TGeometry>();
    g->name = name;
    g->positions.assign(static_cast<size_t>(vertices) * 3, 0.5f);
    if (normals)
        g->normals.assign(static_cast<size_t>(vertices) * 3, 0.0f);
    if (texCoords)
        g->texCoords.assign(static_cast<size_t>(vertices) * 2, 0.0f);
    if (colors)
        g->colors.assign(static_cast<size_t>(vertices) * 4, 1.0f);
    for (int i = 0; i < vertices; ++i)
        (lines ? g->lines : g->triangles).push_back(i);
    return g;
}

// One node drawing geometry 0 with effect `effect` (-1: none).
std::unique_ptr<TNode> Node(const std::string& name, int geometry, int effect)
{
    auto n = std::make_unique<TNode>();
    n->name = name;
    n->geometryIndex = geometry;
    n->effectIndex = effect;
    return n;
}

class EngineRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        engine = std::make_unique<TColladaEngine>(&document, 0, 640, 480, 35.0f, 0.1f, 100.0f);
        recorder.Clear();
    }

    // An asset owned by the engine, made in memory.
    TColladaAsset* AddAsset()
    {
        auto* asset = new TColladaAsset(&document);
        engine->models.push_back(asset);
        return asset;
    }

    TXMLDocument document;
    GLRecorder recorder;
    std::unique_ptr<TColladaEngine> engine;
};

TEST(EngineConstruction, SetsUpTheContextStateAndProjectionThenFillsTheTableInOrder)
{
    TXMLDocument document;
    GLRecorder recorder;
    TColladaEngine engine(&document, 0x2a, 640, 480, 35.0f, 0.1f, 100.0f);

    Calls expected = {
        Call("GetSurface", 0x2a, 640, 480),
        "ChoosePixelFormat(surface)",
        "SetPixelFormat(surface)",
        "CreateContext(surface)",
        "MakeCurrent(surface, context)",
        Call("glGetString", GL_VERSION),
        Call("glGetString", GL_EXTENSIONS),
        Call("glClearColor", 0.0f, 0.0f, 0.0f, 1.0f),
        Call("glClearDepth", 1.0),
        Call("glEnable", GL_DEPTH_TEST),
        Call("glViewport", 0, 0, 640, 480),
        Call("glMatrixMode", GL_PROJECTION),
        Call("glLoadIdentity"),
        Call("gluPerspective", 35.0, 640.0 / 480.0, static_cast<double>(0.1f), 100.0),
        Call("glMatrixMode", GL_MODELVIEW),
        Call("glLoadIdentity"),
        Call("glPolygonMode", GL_FRONT_AND_BACK, GL_FILL),
    };
    for (int i = 0; i < GLEntryPointNameCount; ++i)
        expected.push_back(Call("GetProcAddress", GLEntryPointNames[i]));
    EXPECT_EQ(recorder.calls, expected);
    EXPECT_EQ(Call("gluPerspective", 35.0, 640.0 / 480.0, 0.1, 100.0), "gluPerspective(35, 1.33333, 0.1, 100)");

    // Every slot is filled before the constructor returns.
#define VULTARI_FILLED(name, result, params) EXPECT_NE(glEntryPoints.name, nullptr) << #name;
    VULTARI_GL_EXTENSION_TABLE(VULTARI_FILLED)
    VULTARI_GL_EXTENSION_EXTRAS(VULTARI_FILLED)
#undef VULTARI_FILLED

    EXPECT_TRUE(engine.useShaders);
    EXPECT_TRUE(engine.useTextures);
    EXPECT_FALSE(engine.useTangentAttributes);
    EXPECT_EQ(engine.window, 0x2aul);
    EXPECT_EQ(engine.xmlDocument, &document);
    EXPECT_FLOAT_EQ(engine.fovy, 35.0f);
    EXPECT_FLOAT_EQ(engine.zNear, 0.1f);
    EXPECT_FLOAT_EQ(engine.zFar, 100.0f);
    ASSERT_NE(engine.shaderEngine, nullptr);
    EXPECT_EQ(engine.shaderEngine->currentShader, -1);
    ASSERT_NE(engine.textureEngine, nullptr);
    EXPECT_TRUE(engine.textureEngine->textures.empty());
}

TEST(EngineConstruction, TheTableNamesAreThePublishedOnesInTableOrder)
{
    ASSERT_EQ(GLEntryPointCount, 38);
    const std::vector<std::string> some = {"glActiveTextureARB", "glGenBuffersARB", "glDrawRangeElements",
                                           "glUniform4fv", "glGetObjectParameterivARB", "glDeleteBuffers",
                                           "glGetAttribLocationARB", "glDeleteFramebuffersEXT"};
    const int positions[] = {0, 1, 4, 13, 14, 19, 27, 37};
    for (size_t i = 0; i < some.size(); ++i)
        EXPECT_EQ(GLEntryPointNames[positions[i]], some[i]);
}

// Start-up failures end the process with exit code 1 after their message.
struct StartupFailure {
    const char* failAt;
    const char* version;
    const char* extensions;
    const char* message;
};

class EngineStartupFailure : public ::testing::TestWithParam<StartupFailure> {};

TEST_P(EngineStartupFailure, ShowsTheMessageAndExitsNonZero)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const StartupFailure& c = GetParam();
    EXPECT_EXIT(
        {
            GLRecorder recorder;
            recorder.failAt = c.failAt;
            if (c.version != nullptr)
                recorder.version = c.version;
            else
                recorder.nullVersion = true;
            recorder.extensions = c.extensions;
            TXMLDocument document;
            TColladaEngine engine(&document, 0, 64, 64, 35.0f, 0.1f, 100.0f);
            std::exit(0);  // not reached when the start-up fails
        },
        ::testing::ExitedWithCode(1), c.message);
}

const char* const allExtensions =
    "GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_ARB_shader_objects GL_ARB_vertex_shader "
    "GL_ARB_fragment_shader GL_EXT_framebuffer_object";

INSTANTIATE_TEST_SUITE_P(
    Steps, EngineStartupFailure,
    ::testing::Values(
        StartupFailure{"GetSurface", "2.1", allExtensions, "Unable to set pixel format"},
        StartupFailure{"ChoosePixelFormat", "2.1", allExtensions, "Unable to set pixel format"},
        StartupFailure{"SetPixelFormat", "2.1", allExtensions, "Unable to set pixel format"},
        StartupFailure{"CreateContext", "2.1", allExtensions, "Unable to set pixel format"},
        StartupFailure{"MakeCurrent", "2.1", allExtensions, "Unable to set pixel format"},
        StartupFailure{"", "1.5.0 Vendor", allExtensions, "needs OpenGL 2.0.*offers OpenGL 1.5.0 Vendor"},
        StartupFailure{"", nullptr, allExtensions, "needs OpenGL 2.0"},
        StartupFailure{"", "2.1", "GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_ARB_shader_objects "
                                  "GL_ARB_vertex_shader GL_ARB_fragment_shader",
                       "lacks GL_EXT_framebuffer_object"}));

TEST_F(EngineRecording, CreateBuffersUploadsEachPresentArrayInOrderAndKeepsAbsentOnesAtZero)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 3, true, true, false));
    TGeometry& g = *asset->geometries.geometries[0];
    engine->CreateBuffers(asset);

    EXPECT_EQ(recorder.calls, (Calls{
        Call("glGenBuffersARB", 1) + " -> 1", Call("glBindBufferARB", GL_ARRAY_BUFFER, 1),
        Call("glBufferDataARB", GL_ARRAY_BUFFER, 36, anyPointer, GL_STATIC_DRAW),
        Call("glGenBuffersARB", 1) + " -> 2", Call("glBindBufferARB", GL_ARRAY_BUFFER, 2),
        Call("glBufferDataARB", GL_ARRAY_BUFFER, 36, anyPointer, GL_STATIC_DRAW),
        Call("glGenBuffersARB", 1) + " -> 3", Call("glBindBufferARB", GL_ARRAY_BUFFER, 3),
        Call("glBufferDataARB", GL_ARRAY_BUFFER, 24, anyPointer, GL_STATIC_DRAW),
        Call("glGenBuffersARB", 1) + " -> 4", Call("glBindBufferARB", GL_ELEMENT_ARRAY_BUFFER, 4),
        Call("glBufferDataARB", GL_ELEMENT_ARRAY_BUFFER, 12, anyPointer, GL_STATIC_DRAW),
    }));
    EXPECT_EQ(g.positionBuffer, 1u);
    EXPECT_EQ(g.normalBuffer, 2u);
    EXPECT_EQ(g.texCoordBuffer, 3u);
    EXPECT_EQ(g.colorBuffer, 0u);
    EXPECT_EQ(g.tangentBuffer, 0u);
    EXPECT_EQ(g.binormalBuffer, 0u);
    EXPECT_EQ(g.triangleBuffer, 4u);
    EXPECT_EQ(g.lineBuffer, 0u);
}

TEST_F(EngineRecording, UpdateBuffersDeletesEveryNameThenUploadsAgainForDynamicDrawing)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 3, false, false, false));
    asset->geometries.geometries.push_back(Geometry("B", 2, false, false, false, true));
    engine->CreateBuffers(asset);
    recorder.Clear();
    engine->UpdateBuffers(asset);

    EXPECT_EQ(recorder.Calls({"glDeleteBuffers", "glGenBuffersARB", "glBufferDataARB"}), (Calls{
        Call("glDeleteBuffers", 1) + " [1]", Call("glDeleteBuffers", 1) + " [2]",
        Call("glDeleteBuffers", 1) + " [3]", Call("glDeleteBuffers", 1) + " [4]",
        Call("glGenBuffersARB", 1) + " -> 5", Call("glBufferDataARB", GL_ARRAY_BUFFER, 36, anyPointer, GL_DYNAMIC_DRAW),
        Call("glGenBuffersARB", 1) + " -> 6", Call("glBufferDataARB", GL_ELEMENT_ARRAY_BUFFER, 12, anyPointer, GL_DYNAMIC_DRAW),
        Call("glGenBuffersARB", 1) + " -> 7", Call("glBufferDataARB", GL_ARRAY_BUFFER, 24, anyPointer, GL_DYNAMIC_DRAW),
        Call("glGenBuffersARB", 1) + " -> 8", Call("glBufferDataARB", GL_ELEMENT_ARRAY_BUFFER, 8, anyPointer, GL_DYNAMIC_DRAW),
    }));
    EXPECT_EQ(asset->geometries.geometries[1]->lineBuffer, 8u);
}

TEST_F(EngineRecording, DrawGeometryFollowsTheFixedOrderOfArraysAndDrawsInWhiteWithoutColours)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 6, true, true, false));
    TGeometry& g = *asset->geometries.geometries[0];
    g.tangents.assign(18, 1.0f);
    g.binormals.assign(18, 1.0f);
    g.tangentAttribute = 6;
    g.binormalAttribute = 7;
    engine->CreateBuffers(asset);  // names 1 positions, 2 normals, 3 uv, 4 tangents, 5 binormals, 6 triangles

    for (bool attributes : {false, true}) {
        SCOPED_TRACE(attributes);
        engine->useTangentAttributes = attributes;
        recorder.Clear();
        engine->DrawGeometry(&g);
        Calls expected = {
            Call("glBindBufferARB", GL_ARRAY_BUFFER, 1), Call("glVertexPointer", 3, GL_FLOAT, 0, nullptr),
            Call("glBindBufferARB", GL_ARRAY_BUFFER, 2), Call("glNormalPointer", GL_FLOAT, 0, nullptr),
            Call("glBindBufferARB", GL_ARRAY_BUFFER, 3), Call("glTexCoordPointer", 2, GL_FLOAT, 0, nullptr),
            Call("glColor4f", 1.0f, 1.0f, 1.0f, 1.0f),
            Call("glBindBufferARB", GL_ARRAY_BUFFER, 4),
            Call("glVertexAttribPointer", 6, 3, GL_FLOAT, GL_FALSE, 0, nullptr),
            Call("glBindBufferARB", GL_ARRAY_BUFFER, 5),
            Call("glVertexAttribPointer", 7, 3, GL_FLOAT, GL_FALSE, 0, nullptr),
            Call("glEnableClientState", GL_VERTEX_ARRAY), Call("glEnableClientState", GL_NORMAL_ARRAY),
            Call("glEnableClientState", GL_TEXTURE_COORD_ARRAY),
        };
        if (attributes) {
            expected.push_back(Call("glEnableVertexAttribArray", 6));
            expected.push_back(Call("glEnableVertexAttribArray", 7));
        }
        expected.push_back(Call("glBindBufferARB", GL_ELEMENT_ARRAY_BUFFER, 6));
        expected.push_back(Call("glDrawRangeElements", GL_TRIANGLES, 0, 5, 6, GL_UNSIGNED_INT, nullptr));
        expected.push_back(Call("glDisableClientState", GL_VERTEX_ARRAY));
        expected.push_back(Call("glDisableClientState", GL_NORMAL_ARRAY));
        expected.push_back(Call("glDisableClientState", GL_TEXTURE_COORD_ARRAY));
        if (attributes) {
            expected.push_back(Call("glDisableVertexAttribArray", 6));
            expected.push_back(Call("glDisableVertexAttribArray", 7));
        }
        EXPECT_EQ(recorder.calls, expected);
    }
}

TEST_F(EngineRecording, DrawGeometryNeverPointsAtOrEnablesAnAttributeLocationOfMinusOne)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 3, true, false, true));
    TGeometry& g = *asset->geometries.geometries[0];
    g.tangents.assign(9, 1.0f);
    g.binormals.assign(9, 1.0f);
    g.tangentAttribute = -1;  // the program that reported the location does not use "tangent"
    g.binormalAttribute = 7;
    engine->CreateBuffers(asset);
    engine->useTangentAttributes = true;
    recorder.Clear();
    engine->DrawGeometry(&g);

    EXPECT_EQ(recorder.Calls({"glVertexAttribPointer", "glEnableVertexAttribArray", "glDisableVertexAttribArray",
                              "glColorPointer", "glColor4f"}),
              (Calls{Call("glColorPointer", 4, GL_FLOAT, 0, nullptr),
                     Call("glVertexAttribPointer", 7, 3, GL_FLOAT, GL_FALSE, 0, nullptr),
                     Call("glEnableVertexAttribArray", 7), Call("glDisableVertexAttribArray", 7)}));
}

TEST_F(EngineRecording, DrawGeometryDrawsLinesAndDrawsNothingWithoutAnIndexList)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("Hair", 4, false, true, false, true));
    asset->geometries.geometries.push_back(Geometry("Empty", 0, false, false, false));
    asset->geometries.geometries[1]->positions.assign(9, 0.0f);
    engine->CreateBuffers(asset);
    recorder.Clear();

    engine->DrawGeometry(asset->geometries.geometries[1].get());
    EXPECT_TRUE(recorder.calls.empty());

    engine->DrawGeometry(asset->geometries.geometries[0].get());
    EXPECT_EQ(recorder.Calls({"glBindBufferARB", "glDrawRangeElements"}),
              (Calls{Call("glBindBufferARB", GL_ARRAY_BUFFER, 1), Call("glBindBufferARB", GL_ARRAY_BUFFER, 2),
                     Call("glBindBufferARB", GL_ELEMENT_ARRAY_BUFFER, 3),
                     Call("glDrawRangeElements", GL_LINES, 0, 3, 4, GL_UNSIGNED_INT, nullptr)}));
}

// Index lists that would make GL read past a buffer are not drawn.
struct BadIndices {
    const char* what;
    std::vector<int> triangles;
    int positionVertices;
    int normalVertices;
    bool upload;
};

class EngineIndexChecks : public EngineRecording, public ::testing::WithParamInterface<BadIndices> {};

TEST_P(EngineIndexChecks, AListThatDoesNotFitItsArraysIsNotDrawn)
{
    const BadIndices& c = GetParam();
    TColladaAsset* asset = AddAsset();
    auto g = std::make_unique<TGeometry>();
    g->name = c.what;
    g->positions.assign(static_cast<size_t>(c.positionVertices) * 3, 0.0f);
    g->normals.assign(static_cast<size_t>(c.normalVertices) * 3, 0.0f);
    g->triangles = c.triangles;
    asset->geometries.geometries.push_back(std::move(g));
    if (c.upload)
        engine->CreateBuffers(asset);
    recorder.Clear();
    ::testing::internal::CaptureStderr();
    engine->DrawGeometry(asset->geometries.geometries[0].get());
    engine->DrawGeometry(asset->geometries.geometries[0].get());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(recorder.Calls({"glDrawRangeElements"}).empty());
    // Said once, naming the geometry.
    EXPECT_NE(errors.find(std::string("Geometry \"") + c.what + "\""), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Geometry", errors.find("Geometry") + 1), std::string::npos) << errors;
}

INSTANTIATE_TEST_SUITE_P(Lists, EngineIndexChecks,
                         ::testing::Values(BadIndices{"PastPositions", {0, 1, 3}, 3, 3, true},
                                           BadIndices{"PastNormals", {0, 1, 2}, 3, 2, true},
                                           BadIndices{"Negative", {0, -1, 2}, 3, 3, true},
                                           BadIndices{"NotUploaded", {0, 1, 2}, 3, 3, false}));

TEST_F(EngineRecording, RenderAssetAppliesTheAssetThenTheNodeTransformInTheFixedOrder)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 3, false, false, false));
    asset->visualScenes.nodes.push_back(Node("N", 0, -1));
    asset->translate = {1, 2, 3};
    asset->rotate = {10, 20, 30};
    asset->scale = {4, 5, 6};
    TNode& node = *asset->visualScenes.nodes[0];
    node.translate = {7, 8, 9};
    node.rotate = {40, 50, 60};
    node.scale = {2, 2, 2};
    engine->CreateBuffers(asset);
    recorder.Clear();
    engine->RenderAsset(asset);

    const Calls transforms = recorder.Calls({"glPushMatrix", "glTranslatef", "glRotatef", "glScalef", "glPopMatrix",
                                             "glDrawRangeElements"});
    EXPECT_EQ(transforms, (Calls{
        Call("glPushMatrix"), Call("glTranslatef", 1.0f, 2.0f, 3.0f), Call("glRotatef", 30.0f, 0.0f, 0.0f, 1.0f),
        Call("glRotatef", 20.0f, 0.0f, 1.0f, 0.0f), Call("glRotatef", 10.0f, 1.0f, 0.0f, 0.0f),
        Call("glScalef", 4.0f, 5.0f, 6.0f), Call("glTranslatef", 7.0f, 8.0f, 9.0f),
        Call("glRotatef", 60.0f, 0.0f, 0.0f, 1.0f), Call("glRotatef", 50.0f, 0.0f, 1.0f, 0.0f),
        Call("glRotatef", 40.0f, 1.0f, 0.0f, 0.0f), Call("glScalef", 2.0f, 2.0f, 2.0f),
        Call("glDrawRangeElements", GL_TRIANGLES, 0, 2, 3, GL_UNSIGNED_INT, nullptr), Call("glPopMatrix"),
    }));
}

// The program of a node: its effect's, else the asset's; the fixed pipeline with shaders off.
struct ShaderChoice {
    bool useShaders;
    int effectIndex;        // of the node
    int effectShader;       // shaderIndex of effect 0
    int assetShader;
    int expectedShader;     // -1: the fixed pipeline
};

class EngineShaderChoice : public EngineRecording, public ::testing::WithParamInterface<ShaderChoice> {};

TEST_P(EngineShaderChoice, PicksTheProgramPerNode)
{
    const ShaderChoice& c = GetParam();
    for (int i = 0; i < 3; ++i) {
        engine->shaderEngine->AddShader("S" + std::to_string(i), "v", "f");
        engine->shaderEngine->shaders[static_cast<size_t>(i)]->program = 100u + static_cast<unsigned>(i);
    }
    engine->shaderEngine->UseShader(0);  // something else is current before the asset
    TColladaAsset* asset = AddAsset();
    asset->effects.effects.push_back(std::make_unique<TEffect>());
    asset->effects.effects[0]->shaderIndex = c.effectShader;
    asset->visualScenes.nodes.push_back(Node("N", -1, c.effectIndex));
    asset->shaderIndex = c.assetShader;
    engine->useShaders = c.useShaders;
    recorder.Clear();
    engine->RenderAsset(asset);

    EXPECT_EQ(engine->shaderEngine->currentShader, c.expectedShader);
    const Calls uses = recorder.Calls({"glUseProgramObjectARB"});
    if (c.expectedShader == 0)
        EXPECT_TRUE(uses.empty());  // already current: no switch
    else
        EXPECT_EQ(uses, (Calls{Call("glUseProgramObjectARB", c.expectedShader < 0 ? 0 : 100 + c.expectedShader)}));
}

INSTANTIATE_TEST_SUITE_P(Table, EngineShaderChoice,
                         ::testing::Values(ShaderChoice{true, 0, 2, 1, 2},     // the effect's program wins
                                           ShaderChoice{true, 0, -1, 1, 1},    // effect without a program
                                           ShaderChoice{true, -1, 2, 1, 1},    // node without an effect
                                           ShaderChoice{true, 5, 2, 1, 1},     // effect index outside the list
                                           ShaderChoice{true, -1, 2, -1, -1},  // nothing names a program
                                           ShaderChoice{true, 0, 0, 2, 0},     // the current one: no switch
                                           ShaderChoice{false, 0, 2, 1, -1},   // shaders off
                                           ShaderChoice{true, 0, 9, 1, -1}));  // a program outside the registry

TEST_F(EngineRecording, RenderAssetBindsAndUnbindsTheNodeTexturesOnlyWithTexturesOn)
{
    ScratchFolder folder;
    const std::string file = folder.Write("t.bmp", bmp::File(1, 1, {{1, 2, 3}}, 24));
    const int unit0 = engine->textureEngine->LoadTexture(file, GL_TEXTURE0);   // texture name 1
    const int unit1 = engine->textureEngine->LoadTexture(file, GL_TEXTURE1);   // texture name 2
    TColladaAsset* asset = AddAsset();
    asset->visualScenes.nodes.push_back(Node("N", -1, -1));
    asset->visualScenes.nodes[0]->textures = {unit0, 7, unit1, -1};  // 7 and -1 name nothing
    recorder.Clear();

    const std::vector<std::string> textureCalls = {"glActiveTextureARB", "glEnable", "glDisable", "glBindTexture"};
    engine->useTextures = false;
    engine->RenderAsset(asset);
    EXPECT_TRUE(recorder.Calls(textureCalls).empty());

    engine->useTextures = true;
    engine->textureEngine->textures[static_cast<size_t>(unit1)]->enabled = false;
    recorder.Clear();
    engine->RenderAsset(asset);
    EXPECT_EQ(recorder.Calls(textureCalls), (Calls{
        Call("glActiveTextureARB", GL_TEXTURE0), Call("glEnable", GL_TEXTURE_2D), Call("glBindTexture", GL_TEXTURE_2D, 1),
        // the disabled texture binds nothing but is still unbound
        Call("glActiveTextureARB", GL_TEXTURE0), Call("glDisable", GL_TEXTURE_2D),
        Call("glActiveTextureARB", GL_TEXTURE1), Call("glDisable", GL_TEXTURE_2D),
    }));
}

TEST_F(EngineRecording, AnInvisibleAssetMakesNoCallAndThePolygonModeIsNotRestored)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 3, false, false, false));
    asset->visualScenes.nodes.push_back(Node("N", 0, -1));
    engine->CreateBuffers(asset);
    asset->polygonMode = GL_LINE;
    asset->shaderIndex = 0;
    engine->shaderEngine->AddShader("S", "v", "f");
    asset->visible = false;
    recorder.Clear();
    engine->RenderAsset(asset);
    EXPECT_TRUE(recorder.calls.empty());

    asset->visible = true;
    engine->RenderAsset(asset);
    TColladaAsset* second = AddAsset();
    second->visualScenes.nodes.push_back(Node("N", -1, -1));
    engine->RenderAsset(second);
    EXPECT_EQ(recorder.Calls({"glPolygonMode"}), (Calls{Call("glPolygonMode", GL_FRONT_AND_BACK, GL_LINE)}));
}

TEST_F(EngineRecording, RenderModelOutsideTheListDrawsNothing)
{
    TColladaAsset* asset = AddAsset();
    asset->visualScenes.nodes.push_back(Node("N", -1, -1));
    for (int index : {-1, 1, 100}) {
        recorder.Clear();
        engine->RenderModel(index);
        EXPECT_TRUE(recorder.calls.empty()) << index;
    }
    engine->RenderModel(0);
    EXPECT_FALSE(recorder.calls.empty());
}

TEST_F(EngineRecording, ANodeWithAGeometryIndexOutsideTheListDrawsNoGeometry)
{
    TColladaAsset* asset = AddAsset();
    asset->geometries.geometries.push_back(Geometry("A", 3, false, false, false));
    asset->visualScenes.nodes.push_back(Node("N", 1, -1));
    engine->CreateBuffers(asset);
    recorder.Clear();
    engine->RenderAsset(asset);
    EXPECT_TRUE(recorder.Calls({"glDrawRangeElements", "glBindBufferARB"}).empty());
}

TEST_F(EngineRecording, DestructionDeletesBuffersModelsTexturesThenTheContextAndTheSurface)
{
    ScratchFolder folder;
    engine->textureEngine->LoadTexture(folder.Write("t.bmp", bmp::File(1, 1, {{1, 2, 3}}, 24)), GL_TEXTURE0);
    engine->textureEngine->LoadTexture(folder.path + "t.bmp", GL_TEXTURE1);
    TColladaAsset* first = AddAsset();
    first->geometries.geometries.push_back(Geometry("A", 3, true, false, false));
    TColladaAsset* second = AddAsset();
    second->geometries.geometries.push_back(Geometry("B", 2, false, false, false, true));
    engine->CreateBuffers(first);   // 3, 4, 5
    engine->CreateBuffers(second);  // 6, 7
    recorder.Clear();
    engine.reset();

    EXPECT_EQ(recorder.calls, (Calls{
        Call("glDeleteBuffers", 1) + " [3]", Call("glDeleteBuffers", 1) + " [4]", Call("glDeleteBuffers", 1) + " [5]",
        Call("glDeleteBuffers", 1) + " [6]", Call("glDeleteBuffers", 1) + " [7]",
        Call("glDeleteTextures", 1) + " [1]", Call("glDeleteTextures", 1) + " [2]",
        "MakeCurrent(null, null)", "DeleteContext(context)", "ReleaseSurface(surface)",
    }));
}

TEST_F(EngineRecording, DestroyingAnEngineWithoutModelsDeletesNoBuffersAndStillReleasesTheContext)
{
    engine.reset();
    EXPECT_EQ(recorder.calls, (Calls{"MakeCurrent(null, null)", "DeleteContext(context)", "ReleaseSurface(surface)"}));
}

TEST_F(EngineRecording, SwapBuffersPresentsTheSurface)
{
    engine->SwapBuffers();
    EXPECT_EQ(recorder.calls, (Calls{"SwapBuffers(surface)"}));
}

class EngineModelFiles : public EngineRecording {
protected:
    ScratchFolder folder;
};

TEST_F(EngineModelFiles, ClearModelsDeletesEveryBufferAndTheNextLoadsStartAtZero)
{
    const std::string file = folder.Write("square.dae", ColladaModel::Square().Text());
    EXPECT_EQ(engine->LoadModel(file), 0);
    EXPECT_EQ(engine->LoadModel(file), 1);
    recorder.Clear();
    engine->ClearModels();
    EXPECT_TRUE(engine->models.empty());
    EXPECT_EQ(recorder.Calls({"glDeleteBuffers"}).size(), 8u);  // 4 arrays of each model
    EXPECT_EQ(recorder.calls.size(), 8u);
    for (int expected : {0, 1, 2})
        EXPECT_EQ(engine->LoadModel(file), expected);
}

TEST_F(EngineModelFiles, AFileThatIsNoAssetGivesMinusOneAndKeepsNothing)
{
    ColladaModel model = ColladaModel::Square();
    model.withVisualScenes = false;
    const std::string file = folder.Write("broken.dae", model.Text());
    EXPECT_EQ(engine->LoadModel(file), -1);
    EXPECT_EQ(engine->LoadModelWithTangents(file, 6, 7), -1);
    EXPECT_TRUE(engine->models.empty());
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_FALSE(engine->useTangentAttributes);
}

TEST_F(EngineModelFiles, AMissingFileThrowsAndKeepsNothing)
{
    EXPECT_THROW(engine->LoadModel(folder.path + "missing.dae"), Exception);
    EXPECT_THROW(engine->LoadModelWithTangents(folder.path + "missing.dae", 6, 7), Exception);
    EXPECT_TRUE(engine->models.empty());
    EXPECT_TRUE(recorder.calls.empty());
}

TEST_F(EngineModelFiles, LoadingWithTangentsFillsAndUploadsThemForTheGivenLocations)
{
    const std::string file = folder.Write("square.dae", ColladaModel::Square().Text());
    ASSERT_EQ(engine->LoadModel(file), 0);
    EXPECT_FALSE(engine->useTangentAttributes);
    EXPECT_TRUE(engine->models[0]->geometries.geometries[0]->tangents.empty());

    ASSERT_EQ(engine->LoadModelWithTangents(file, 6, 7), 1);
    EXPECT_TRUE(engine->useTangentAttributes);
    const TGeometry& g = *engine->models[1]->geometries.geometries[0];
    EXPECT_EQ(g.tangentAttribute, 6);
    EXPECT_EQ(g.binormalAttribute, 7);
    ASSERT_EQ(g.tangents.size(), g.positions.size());
    EXPECT_FLOAT_EQ(g.tangents[0], 1.0f);  // u grows along +x on the square
    EXPECT_NE(g.tangentBuffer, 0u);
    EXPECT_NE(g.binormalBuffer, 0u);

    // Loading without tangents afterwards leaves the flag as it is.
    ASSERT_EQ(engine->LoadModel(file), 2);
    EXPECT_TRUE(engine->useTangentAttributes);
}

TEST_F(EngineModelFiles, LoadTexturesLoadsEachEffectImageOnUnitZeroAndAppendsOnEveryCall)
{
    SetProgramFolder(folder.path);
    folder.Write("data/textures/skin.bmp", bmp::File(1, 1, {{9, 9, 9}}, 24));
    folder.Write("elsewhere/skin.bmp", bmp::File(1, 1, {{9, 9, 9}}, 24));
    const std::string file = folder.Write("head.dae", ColladaModel::Square("data/textures/skin.bmp").Text());
    ASSERT_EQ(engine->LoadModel(file), 0);
    ASSERT_EQ(engine->LoadModel(folder.Write("plain.dae", ColladaModel::Square().Text())), 1);

    EXPECT_TRUE(engine->LoadTextures(""));
    TNode& node = *engine->models[0]->visualScenes.nodes[0];
    EXPECT_EQ(node.textures, (std::vector<int>{0}));
    EXPECT_TRUE(engine->models[1]->visualScenes.nodes[0]->textures.empty());
    ASSERT_EQ(engine->textureEngine->textures.size(), 1u);
    EXPECT_EQ(engine->textureEngine->textures[0]->fileName, "data/textures/skin.bmp");
    EXPECT_EQ(engine->textureEngine->textures[0]->textureUnit, GL_TEXTURE0);

    EXPECT_TRUE(engine->LoadTextures(""));
    EXPECT_EQ(node.textures, (std::vector<int>{0, 0}));
    EXPECT_EQ(engine->textureEngine->textures.size(), 1u);

    // With a folder, the image's file name is looked for there.
    EXPECT_TRUE(engine->LoadTextures(folder.path + "elsewhere/"));
    EXPECT_EQ(node.textures, (std::vector<int>{0, 0, 1}));
    EXPECT_EQ(engine->textureEngine->textures[1]->fileName, folder.path + "elsewhere/skin.bmp");
    SetProgramFolder("");
}

TEST_F(EngineModelFiles, LoadTexturesSkipsEffectsAndImagesOutsideTheirLists)
{
    const std::string file = folder.Write("head.dae", ColladaModel::Square("missing.bmp").Text());
    ASSERT_EQ(engine->LoadModel(file), 0);
    TColladaAsset& asset = *engine->models[0];
    asset.effects.effects[0]->imageIndex = 3;
    EXPECT_TRUE(engine->LoadTextures(""));
    asset.visualScenes.nodes[0]->effectIndex = 4;
    EXPECT_TRUE(engine->LoadTextures(""));
    EXPECT_TRUE(engine->textureEngine->textures.empty());
    EXPECT_TRUE(asset.visualScenes.nodes[0]->textures.empty());

    // A missing image file reaches the caller with its name, and nothing is appended.
    asset.visualScenes.nodes[0]->effectIndex = 0;
    asset.effects.effects[0]->imageIndex = 0;
    try {
        engine->LoadTextures("");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("missing.bmp"), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(engine->textureEngine->textures.empty());
    EXPECT_TRUE(asset.visualScenes.nodes[0]->textures.empty());
}

}  // namespace
