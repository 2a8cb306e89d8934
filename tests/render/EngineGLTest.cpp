// The engine on a real context (Mesa llvmpipe under Xvfb): a model read from COLLADA text is
// uploaded and drawn, and the pixels read back show its geometry, texture and shader.
#include "collada/Colladaasset.h"
#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "render/Colladaengine.h"
#include "tests/render/RenderTestSupport.h"

// GoogleTest before X11, whose headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <memory>

namespace {

using Pixel = std::array<int, 3>;

// A GL function past 1.1, fetched by name (libGL exports only the old ones).
template <class F>
F Proc(const char* name)
{
    return reinterpret_cast<F>(glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name)));
}

bool IsBuffer(unsigned int name)
{
    return Proc<GLboolean (*)(GLuint)>("glIsBufferARB")(name) == GL_TRUE;
}

constexpr int size = 64;

class EngineGL : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetProgramFolder(folder.path);
        engine = std::make_unique<TColladaEngine>(&document, 0, size, size, 35.0f, 0.1f, 100.0f);
    }
    void TearDown() override
    {
        engine.reset();
        SetProgramFolder("");
    }

    // Loads a model file written from `model`, four units in front of the eye.
    int Load(const ColladaModel& model, const std::string& name = "model.dae", bool tangents = false)
    {
        const std::string file = folder.Write(name, model.Text());
        const int index = tangents ? engine->LoadModelWithTangents(file, TangentAttributeLocation, BinormalAttributeLocation)
                                   : engine->LoadModel(file);
        if (index >= 0)
            engine->models[static_cast<size_t>(index)]->translate = {0.0f, 0.0f, -4.0f};
        return index;
    }

    int AddShader(const std::string& name, const std::string& vertex, const std::string& fragment)
    {
        return engine->shaderEngine->AddShader(name, folder.Write(name + ".vert", vertex),
                                               folder.Write(name + ".frag", fragment));
    }

    void Frame(int model = 0)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        engine->RenderModel(model);
        glFinish();
    }

    // The pixel at (x, y), y running up from the bottom of the frame, read from the back buffer.
    static Pixel At(int x, int y)
    {
        unsigned char rgba[4] = {0, 0, 0, 0};
        glReadBuffer(GL_BACK);
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        return {rgba[0], rgba[1], rgba[2]};
    }

    static ::testing::AssertionResult Near(const Pixel& actual, const Pixel& expected, int tolerance = 8)
    {
        for (int i = 0; i < 3; ++i)
            if (std::abs(actual[static_cast<size_t>(i)] - expected[static_cast<size_t>(i)]) > tolerance)
                return ::testing::AssertionFailure() << "(" << actual[0] << ", " << actual[1] << ", " << actual[2]
                                                     << ") is not (" << expected[0] << ", " << expected[1] << ", "
                                                     << expected[2] << ")";
        return ::testing::AssertionSuccess();
    }

    ScratchFolder folder;
    TXMLDocument document;
    std::unique_ptr<TColladaEngine> engine;
};

const Pixel black{0, 0, 0}, white{255, 255, 255}, red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};

// Screen positions inside the square of ColladaModel::Square drawn four units away: it spans about
// 79% of the frame, so the quarter points lie well inside it and the corners outside.
constexpr int lowQuarter = size / 4 + 2;
constexpr int highQuarter = size - size / 4 - 2;

TEST_F(EngineGL, TheFirstStateIsTheDefaultFramebufferWithTheProjectionSetOnce)
{
    GLint framebuffer = -1, viewport[4] = {}, polygonMode[2] = {}, doubleBuffer = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    glGetIntegerv(GL_DOUBLEBUFFER, &doubleBuffer);
    EXPECT_EQ(framebuffer, 0);
    EXPECT_TRUE(doubleBuffer);
    EXPECT_EQ((std::array<GLint, 4>{viewport[0], viewport[1], viewport[2], viewport[3]}),
              (std::array<GLint, 4>{0, 0, size, size}));
    EXPECT_EQ(polygonMode[0], GL_FILL);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint matrixMode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    EXPECT_EQ(matrixMode, GL_MODELVIEW);

    float projection[16] = {};
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    const double f = 1.0 / std::tan(35.0 / 2.0 * M_PI / 180.0);
    EXPECT_NEAR(projection[0], f / 1.0, 1e-5);  // aspect 1
    EXPECT_NEAR(projection[5], f, 1e-5);
    EXPECT_NEAR(projection[10], (100.0 + 0.1) / (0.1 - 100.0), 1e-5);
    EXPECT_NEAR(projection[14], 2.0 * 100.0 * 0.1 / (0.1 - 100.0), 1e-5);
    EXPECT_NEAR(projection[11], -1.0, 1e-6);
}

TEST(EngineGLAspect, APanelOf640By480GivesTheAspectRatio)
{
    TXMLDocument document;
    TColladaEngine engine(&document, 0, 640, 480, 35.0f, 0.1f, 100.0f);
    float projection[16] = {};
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    EXPECT_NEAR(projection[5] / projection[0], 640.0 / 480.0, 1e-5);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
}

TEST_F(EngineGL, AnUntexturedModelIsDrawnInWhiteWhereItsGeometryIs)
{
    ASSERT_EQ(Load(ColladaModel::Square()), 0);
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), white));
    EXPECT_TRUE(Near(At(lowQuarter, highQuarter), white));
    EXPECT_TRUE(Near(At(1, 1), black));
    EXPECT_TRUE(Near(At(size - 2, size - 2), black));

    // Invisible: nothing is drawn.
    engine->models[0]->visible = false;
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), black));
}

TEST_F(EngineGL, TheAssetAndNodeTransformsMoveTheGeometry)
{
    ASSERT_EQ(Load(ColladaModel::Square()), 0);
    TColladaAsset& asset = *engine->models[0];
    asset.scale = {0.25f, 0.25f, 1.0f};  // a small square in the centre
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), white));
    EXPECT_TRUE(Near(At(lowQuarter, lowQuarter), black));
    // The node moves it right after the asset's scale: 4 node units are 1 unit, about 25 pixels at
    // this distance (the frame's half height, 32 pixels, is 4 tan(17.5 degrees) = 1.26 units).
    asset.visualScenes.nodes[0]->translate = {4.0f, 0.0f, 0.0f};
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), black));
    EXPECT_TRUE(Near(At(size / 2 + 25, size / 2), white));
    EXPECT_TRUE(Near(At(size / 2 - 25, size / 2), black));
}

TEST_F(EngineGL, TheEffectImageIsTheTextureOfTheNodeWhileTexturesAreOn)
{
    // 8 x 8 in four quarters, red green over blue white: flat enough for the linear filter.
    std::vector<Rgb> quads;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            quads.push_back(y < 4 ? (x < 4 ? Rgb{255, 0, 0} : Rgb{0, 255, 0}) : (x < 4 ? Rgb{0, 0, 255} : Rgb{255, 255, 255}));
    folder.Write("data/textures/quads.bmp", bmp::File(8, 8, quads, 24));
    ASSERT_EQ(Load(ColladaModel::Square("data/textures/quads.bmp")), 0);
    ASSERT_TRUE(engine->LoadTextures(""));
    ASSERT_EQ(engine->models[0]->visualScenes.nodes[0]->textures, (std::vector<int>{0}));
    Frame();
    EXPECT_TRUE(Near(At(lowQuarter, highQuarter), red));
    EXPECT_TRUE(Near(At(highQuarter, highQuarter), green));
    EXPECT_TRUE(Near(At(lowQuarter, lowQuarter), blue));
    EXPECT_TRUE(Near(At(highQuarter, lowQuarter), white));
    // Texturing is switched off again after the node.
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));

    engine->useTextures = false;
    Frame();
    EXPECT_TRUE(Near(At(lowQuarter, highQuarter), white));

    engine->useTextures = true;
    engine->textureEngine->textures[0]->enabled = false;
    Frame();
    EXPECT_TRUE(Near(At(lowQuarter, highQuarter), white));
}

TEST_F(EngineGL, TheUploadedTextureHoldsTheBytesInRowOrder)
{
    folder.Write("wide.bmp", bmp::File(2, 1, {{0, 0, 255}, {255, 0, 0}}, 24));
    folder.Write("tall.bmp", bmp::File(1, 2, {{0, 255, 0}, {255, 255, 255}}, 8));
    TTextureEngine& cache = *engine->textureEngine;
    const int wide = cache.LoadTexture("wide.bmp", GL_TEXTURE0);
    const int tall = cache.LoadTexture("tall.bmp", GL_TEXTURE1);
    auto bytes = [&](int index, int count) {
        std::vector<unsigned char> data(static_cast<size_t>(count), 0);
        glEntryPoints.ActiveTextureARB(static_cast<unsigned>(cache.textures[static_cast<size_t>(index)]->textureUnit));
        glBindTexture(GL_TEXTURE_2D, cache.textures[static_cast<size_t>(index)]->textureId);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, data.data());
        return data;
    };
    EXPECT_EQ(bytes(wide, 8), (std::vector<unsigned char>{0, 0, 255, 255, 255, 0, 0, 255}));
    EXPECT_EQ(bytes(tall, 8), (std::vector<unsigned char>{255, 255, 255, 255, 0, 255, 0, 255}));
    GLint filter = 0, wrap = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap);
    EXPECT_EQ(filter, GL_LINEAR);
    EXPECT_EQ(wrap, GL_REPEAT);
    const unsigned int name = cache.textures[0]->textureId;
    EXPECT_TRUE(glIsTexture(name));
    cache.Clear();
    EXPECT_FALSE(glIsTexture(name));
}

const char* const tintVertex = "void main() { gl_Position = ftransform(); }\n";
const char* const tintFragment = "uniform vec4 Tint;\nvoid main() { gl_FragColor = Tint; }\n";

TEST_F(EngineGL, TheProgramOfTheAssetOrOfTheEffectDrawsTheNode)
{
    const int tint = AddShader("Tint", tintVertex, tintFragment);
    const int other = AddShader("Other", tintVertex, "void main() { gl_FragColor = vec4(0.0, 0.0, 1.0, 1.0); }\n");
    ASSERT_TRUE(engine->shaderEngine->CompileAll());
    const float color[4] = {1.0f, 0.0f, 0.0f, 1.0f};
    engine->shaderEngine->SetUniformFloat(tint, "Tint", 4, color);
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);  // the setter leaves program 0 current

    ASSERT_EQ(Load(ColladaModel::Square("none.bmp")), 0);  // with an effect, its image never loaded
    TColladaAsset& asset = *engine->models[0];
    asset.shaderIndex = tint;
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), red));
    EXPECT_EQ(engine->shaderEngine->currentShader, tint);

    asset.effects.effects[0]->shaderIndex = other;
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), blue));

    engine->useShaders = false;
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), white));
    EXPECT_EQ(engine->shaderEngine->currentShader, -1);
}

TEST_F(EngineGL, UniformsReachTheProgramAndACountOutsideOneToFourSetsNothing)
{
    const int p = AddShader("U", tintVertex,
                            "uniform int UseTexture;\nuniform float width;\nuniform vec2 size2;\n"
                            "void main() { gl_FragColor = vec4(float(UseTexture), width, size2); }\n");
    ASSERT_TRUE(engine->shaderEngine->CompileAll());
    TShader& shader = *engine->shaderEngine->shaders[static_cast<size_t>(p)];
    const int one = 1, five[5] = {9, 9, 9, 9, 9};
    const float width = 697.0f, pair[2] = {0.25f, 0.75f};
    shader.SetUniformInt("UseTexture", 1, &one);
    shader.SetUniformFloat("width", 1, &width);
    shader.SetUniformFloat("size2", 2, pair);
    shader.SetUniformInt("UseTexture", 5, five);
    shader.SetUniformInt("NoSuchUniform", 1, &one);  // location -1: no effect

    GLint useTexture = 0;
    GLfloat readWidth = 0, readPair[2] = {0, 0};
    auto getInt = Proc<void (*)(GLuint, GLint, GLint*)>("glGetUniformivARB");
    auto getFloat = Proc<void (*)(GLuint, GLint, GLfloat*)>("glGetUniformfvARB");
    getInt(shader.program, glEntryPoints.GetUniformLocationARB(shader.program, "UseTexture"), &useTexture);
    getFloat(shader.program, glEntryPoints.GetUniformLocationARB(shader.program, "width"), &readWidth);
    getFloat(shader.program, glEntryPoints.GetUniformLocationARB(shader.program, "size2"), readPair);
    EXPECT_EQ(useTexture, 1);
    EXPECT_FLOAT_EQ(readWidth, 697.0f);
    EXPECT_FLOAT_EQ(readPair[0], 0.25f);
    EXPECT_FLOAT_EQ(readPair[1], 0.75f);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Two programs that declare the attributes in different orders, and one that uses only the binormal.
const char* const tangentColorVertex =
    "attribute vec3 tangent;\nattribute vec3 binormal;\nvarying vec3 color;\n"
    "void main() { color = abs(tangent) + step(2.0, length(binormal)); gl_Position = ftransform(); }\n";
const char* const binormalFirstVertex =
    "attribute vec3 binormal;\nattribute vec2 padding;\nattribute vec3 tangent;\nvarying vec3 color;\n"
    "void main() {\n"
    "  color = abs(tangent) + step(2.0, length(binormal)) + step(9.0, length(padding));\n"
    "  gl_Position = ftransform();\n"
    "}\n";
const char* const binormalColorVertex =
    "attribute vec3 binormal;\nvarying vec3 color;\n"
    "void main() { color = abs(binormal); gl_Position = ftransform(); }\n";
const char* const colorFragment = "varying vec3 color;\nvoid main() { gl_FragColor = vec4(color, 1.0); }\n";

TEST_F(EngineGL, TangentLocationsReadFromOneProgramFeedEveryProgram)
{
    const int normalMapping = AddShader("NormalMapping", tangentColorVertex, colorFragment);
    const int textureSpace = AddShader("TextureSpace", binormalFirstVertex, colorFragment);
    const int binormalOnly = AddShader("BinormalOnly", binormalColorVertex, colorFragment);
    ASSERT_TRUE(engine->shaderEngine->CompileAll());
    TShaderEngine& shaders = *engine->shaderEngine;
    for (int p : {normalMapping, textureSpace}) {
        EXPECT_EQ(shaders.GetAttribLocation(p, "tangent"), TangentAttributeLocation) << p;
        EXPECT_EQ(shaders.GetAttribLocation(p, "binormal"), BinormalAttributeLocation) << p;
    }
    EXPECT_EQ(shaders.GetAttribLocation(binormalOnly, "tangent"), -1);
    EXPECT_EQ(shaders.GetAttribLocation(binormalOnly, "binormal"), BinormalAttributeLocation);

    // The head is loaded with the locations of one program ...
    const std::string file = folder.Write("m.dae", ColladaModel::Square().Text());
    ASSERT_EQ(engine->LoadModelWithTangents(file, shaders.GetAttribLocation(normalMapping, "tangent"),
                                            shaders.GetAttribLocation(normalMapping, "binormal")),
              0);
    TColladaAsset& asset = *engine->models[0];
    asset.translate = {0.0f, 0.0f, -4.0f};
    // ... and drawn by each: the tangent (+x) shows red, the binormal (+y) green.
    const std::pair<int, Pixel> cases[] = {{normalMapping, red}, {textureSpace, red}, {binormalOnly, green}};
    for (const auto& [program, expected] : cases) {
        asset.shaderIndex = program;
        Frame();
        EXPECT_TRUE(Near(At(size / 2, size / 2), expected)) << shaders.shaders[static_cast<size_t>(program)]->name;
    }
    // Without the attribute arrays the programs see no tangent.
    engine->useTangentAttributes = false;
    asset.shaderIndex = normalMapping;
    Frame();
    EXPECT_FALSE(Near(At(size / 2, size / 2), red));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(EngineGL, AProgramThatFailsDrawsAsTheFixedPipelineAndSaysSo)
{
    const int broken = AddShader("Broken", tintVertex, "void main() { gl_FragColor = vec4(1.0) }\n");  // no ';'
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(engine->shaderEngine->CompileAll());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("\"Broken\""), std::string::npos) << errors;
    EXPECT_NE(errors.find("Broken.frag"), std::string::npos) << errors;
    EXPECT_NE(errors.find("error"), std::string::npos) << errors;
    EXPECT_EQ(engine->shaderEngine->shaders[0]->program, 0u);

    ASSERT_EQ(Load(ColladaModel::Square()), 0);
    engine->models[0]->shaderIndex = broken;
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), white));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(EngineGL, UpdateBuffersShowsMovedVertices)
{
    ASSERT_EQ(Load(ColladaModel::Square()), 0);
    TGeometry& g = *engine->models[0]->geometries.geometries[0];
    for (size_t i = 0; i < g.positions.size(); i += 3)
        g.positions[i] += 10.0f;  // far to the right, out of view
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), white));  // the buffers still hold the old vertices
    engine->UpdateBuffers(engine->models[0]);
    Frame();
    EXPECT_TRUE(Near(At(size / 2, size / 2), black));
    GLint usage = 0;
    glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.positionBuffer);
    Proc<void (*)(GLenum, GLenum, GLint*)>("glGetBufferParameterivARB")(GL_ARRAY_BUFFER, GL_BUFFER_USAGE, &usage);
    EXPECT_EQ(usage, GL_DYNAMIC_DRAW);
}

TEST_F(EngineGL, ClearModelsDeletesTheBufferObjects)
{
    ASSERT_EQ(Load(ColladaModel::Square()), 0);
    const TGeometry& g = *engine->models[0]->geometries.geometries[0];
    const std::vector<unsigned int> names = {g.positionBuffer, g.normalBuffer, g.texCoordBuffer, g.triangleBuffer};
    for (unsigned int name : names)
        EXPECT_TRUE(IsBuffer(name)) << name;
    engine->ClearModels();
    for (unsigned int name : names)
        EXPECT_FALSE(IsBuffer(name)) << name;
}

TEST_F(EngineGL, TheWireframeModeOfOneAssetStaysForTheNext)
{
    ASSERT_EQ(Load(ColladaModel::Square(), "a.dae"), 0);
    ASSERT_EQ(Load(ColladaModel::Square(), "b.dae"), 1);
    engine->models[0]->polygonMode = GL_LINE;
    Frame(0);
    EXPECT_TRUE(Near(At(size / 2 + 3, size / 2 - 9), black));  // inside the square, off the diagonal
    Frame(1);  // polygonMode -1: drawn in the mode left behind
    EXPECT_TRUE(Near(At(size / 2 + 3, size / 2 - 9), black));
    engine->models[1]->polygonMode = GL_FILL;
    Frame(1);
    EXPECT_TRUE(Near(At(size / 2 + 3, size / 2 - 9), white));
}

TEST(EngineGLStartup, WithoutADisplayTheProcessEndsWithTheMessageAndExitCodeOne)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setenv("DISPLAY", ":4711", 1);
            TXMLDocument document;
            TColladaEngine engine(&document, 0, 64, 64, 35.0f, 0.1f, 100.0f);
            std::exit(0);
        },
        ::testing::ExitedWithCode(1), "Unable to set pixel format");
}

TEST(EngineGLWindow, DrawsIntoAChildOfTheGivenWindowAndPresentsIt)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window parent = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 96, 72, 0, 0, 0);
    XMapWindow(display, parent);
    XSync(display, False);
    {
        ScratchFolder folder;
        TXMLDocument document;
        TColladaEngine engine(&document, parent, 96, 72, 35.0f, 0.1f, 100.0f);
        ASSERT_EQ(engine.LoadModel(folder.Write("m.dae", ColladaModel::Square().Text())), 0);
        engine.models[0]->translate = {0.0f, 0.0f, -4.0f};
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        engine.RenderModel(0);
        glFinish();
        unsigned char rgba[4] = {};
        glReadPixels(48, 36, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        EXPECT_EQ(rgba[0], 255);
        glReadPixels(1, 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        EXPECT_EQ(rgba[0], 0);
        engine.SwapBuffers();
        engine.MakeCurrent();
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    EXPECT_EQ(glXGetCurrentContext(), nullptr);
    XDestroyWindow(display, parent);
    XCloseDisplay(display);
}

}  // namespace

namespace {

// COLLADA files written by other programs (Debian's assimp test models): whatever the reader makes of
// them is uploaded and drawn without a GL error and without reading past a buffer.
TEST_F(EngineGL, ModelsWrittenByOtherProgramsUploadAndDrawCleanly)
{
    const std::filesystem::path models = "/usr/share/assimp/models/Collada";
    if (!std::filesystem::is_directory(models))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    int loaded = 0, drawn = 0;
    ::testing::internal::CaptureStderr();
    for (const auto& entry : std::filesystem::directory_iterator(models)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".dae")
            continue;
        SCOPED_TRACE(entry.path().string());
        int index = -1;
        try {
            index = engine->LoadModelWithTangents(entry.path().string(), TangentAttributeLocation,
                                                  BinormalAttributeLocation);
        } catch (const Exception&) {
            continue;  // a document the XML layer refuses
        }
        if (index < 0)
            continue;
        ++loaded;
        try {
            engine->LoadTextures("");  // relative image paths are looked for beside the program: may be missing
        } catch (const Exception&) {
        }
        engine->models[static_cast<size_t>(index)]->translate = {0.0f, 0.0f, -30.0f};
        Frame(index);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        std::vector<unsigned char> rgb(3 * size * size, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, size, size, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        drawn += std::any_of(rgb.begin(), rgb.end(), [](unsigned char c) { return c != 0; });
        engine->ClearModels();
        engine->textureEngine->Clear();
    }
    ::testing::internal::GetCapturedStderr();  // the reader's and the cache's complaints about these files
    EXPECT_GT(loaded, 5);
    std::printf("%d of the assimp COLLADA models loaded, %d showed pixels\n", loaded, drawn);
}

}  // namespace
