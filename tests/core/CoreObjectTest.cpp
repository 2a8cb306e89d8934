// The core object on a headless context: construction state, the uniform table, light and
// material, offscreen targets, failed construction and destruction order.
#include <gtest/gtest.h>

#include <cctype>

#include <GL/glew.h>

#include <filesystem>
#include <vector>

#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/gl/GLFunctions.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "tests/core/CoreFixture.h"

// From GLX; declared here so that the X11 headers (and their macros) stay out of this file.
extern "C" struct __GLXcontextRec* glXGetCurrentContext(void);

namespace {

class CoreObject : public ::testing::Test {
protected:
    static void SetUpTestSuite() { fixture = new CoreFixture("object"); }
    static void TearDownTestSuite()
    {
        delete fixture;
        fixture = nullptr;
    }
    static CoreFixture* fixture;
    TVultari& Core() { return *fixture->core; }
};
CoreFixture* CoreObject::fixture = nullptr;

TEST_F(CoreObject, StateAfterConstruction)
{
    TVultari& core = Core();
    EXPECT_EQ(core.displayMode, 0);
    EXPECT_FALSE(core.reconstructed);
    EXPECT_FALSE(core.rotating);
    EXPECT_EQ(core.frontThumbnail, nullptr);
    EXPECT_EQ(core.frontEditBitmap, nullptr);
    EXPECT_EQ(core.profileThumbnail, nullptr);
    EXPECT_EQ(core.profileEditBitmap, nullptr);
    EXPECT_EQ(core.grabbedPoint, nullptr);
    EXPECT_NE(core.markBitmap, nullptr);
    EXPECT_FALSE(core.IsFrontLoaded());
    EXPECT_FALSE(core.IsProfileLoaded());
    EXPECT_EQ(core.phongShader, 0);
    EXPECT_EQ(core.normalMappingShader, 1);
    EXPECT_EQ(core.textureSpaceShader, 2);
    EXPECT_EQ(core.diffusionShader, 3);
    EXPECT_EQ(core.diffusionFinalShader, 4);
    ASSERT_EQ(core.engine->shaderEngine->shaders.size(), 5u);
    const char* names[] = {"Phong", "NormalMapping", "TextureSpace", "Diffusion", "DiffusionFinal"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(core.engine->shaderEngine->shaders[i]->name, names[i]);
        // Our GLSL compiles and links on Mesa: a failed program would be 0.
        EXPECT_NE(core.engine->shaderEngine->shaders[i]->program, 0u) << names[i];
    }
    // "tangent" and "binormal" are live in both programs that use them.
    EXPECT_GE(core.normalMappingTangent, 0);
    EXPECT_GE(core.normalMappingBinormal, 0);
    EXPECT_NE(core.normalMappingTangent, core.normalMappingBinormal);
    EXPECT_EQ(core.textureSpaceTangent, core.normalMappingTangent);
    EXPECT_EQ(core.textureSpaceBinormal, core.normalMappingBinormal);
}

TEST_F(CoreObject, PhotoQueriesFollowTheRecognizer)
{
    TVultari& core = Core();
    core.recognizer->frontImage = cv::Mat(4, 4, CV_8UC3);
    EXPECT_TRUE(core.IsFrontLoaded());
    EXPECT_FALSE(core.IsProfileLoaded());
    core.recognizer->profileImage = cv::Mat(4, 4, CV_8UC3);
    EXPECT_TRUE(core.IsProfileLoaded());
    core.recognizer->frontImage.release();
    core.recognizer->profileImage.release();
    EXPECT_FALSE(core.IsFrontLoaded());
    EXPECT_FALSE(core.IsProfileLoaded());
}

struct UniformCase {
    int program;  // registry index
    const char* name;
    bool isFloat;
    double expected;
};

TEST_F(CoreObject, UniformTable)
{
    TVultari& core = Core();
    core.engine->MakeCurrent();
    const UniformCase table[] = {
        {0, "UseTexture", false, 1}, {0, "Base", false, 0},
        {1, "UseTexture", false, 1}, {1, "Base", false, 0}, {1, "NormalMap", false, 1},
        {2, "NormalMap", false, 1},
        {3, "LightMap", false, 1}, {3, "width", true, 697},
        {4, "Base", false, 0}, {4, "LightMap", false, 1}, {4, "UseTexture", false, 1}, {4, "height", true, 647},
    };
    for (const UniformCase& c : table) {
        const GLuint program = core.engine->shaderEngine->shaders[c.program]->program;
        const GLint location = glGetUniformLocation(program, c.name);
        ASSERT_GE(location, 0) << c.program << " " << c.name;
        if (c.isFloat) {
            GLfloat value = -1;
            glGetUniformfv(program, location, &value);
            EXPECT_EQ(value, static_cast<float>(c.expected)) << c.program << " " << c.name;
        } else {
            GLint value = -1;
            glGetUniformiv(program, location, &value);
            EXPECT_EQ(value, static_cast<int>(c.expected)) << c.program << " " << c.name;
        }
    }
    // "width" only in Diffusion, "height" only in DiffusionFinal.
    EXPECT_EQ(glGetUniformLocation(core.engine->shaderEngine->shaders[4]->program, "width"), -1);
    EXPECT_EQ(glGetUniformLocation(core.engine->shaderEngine->shaders[3]->program, "height"), -1);
    // The setters leave the fixed pipeline current.
    GLint current = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
}

TEST_F(CoreObject, LightAndMaterial)
{
    TVultari& core = Core();
    core.engine->MakeCurrent();
    const struct {
        GLenum what;
        float expected[4];
    } table[] = {{GL_SPECULAR, {0.1f, 0.1f, 0.1f, 1}}, {GL_DIFFUSE, {1, 1, 1, 1}}, {GL_AMBIENT, {0.5f, 0.5f, 0.5f, 1}}};
    for (const auto& row : table) {
        float value[4] = {};
        glGetLightfv(GL_LIGHT0, row.what, value);
        for (int i = 0; i < 4; ++i)
            EXPECT_FLOAT_EQ(value[i], row.expected[i]) << row.what << " " << i;
    }
    // The position is stored in eye coordinates; the modelview was the identity at construction.
    float position[4] = {};
    glGetLightfv(GL_LIGHT0, GL_POSITION, position);
    EXPECT_FLOAT_EQ(position[0], 0);
    EXPECT_FLOAT_EQ(position[1], -20);
    EXPECT_FLOAT_EQ(position[2], 0);
    EXPECT_FLOAT_EQ(position[3], 1);
    float shininess[2] = {};
    glGetMaterialfv(GL_FRONT, GL_SHININESS, shininess);
    EXPECT_FLOAT_EQ(shininess[0], 8);
    glGetMaterialfv(GL_BACK, GL_SHININESS, shininess + 1);
    EXPECT_FLOAT_EQ(shininess[1], 8);
}

TEST_F(CoreObject, OffscreenTargets)
{
    TVultari& core = Core();
    core.engine->MakeCurrent();
    GLint active = 0, framebuffer = -1;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &framebuffer);
    EXPECT_EQ(active, GL_TEXTURE0);
    EXPECT_EQ(framebuffer, 0);
    for (int i = 0; i < 2; ++i) {
        const OffscreenTarget& t = core.offscreenTargets[i];
        ASSERT_NE(t.framebuffer, 0u);
        EXPECT_NE(t.framebuffer, core.offscreenTargets[1 - i].framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
        GLint type = 0, name = 0;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_TYPE, &type);
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
        EXPECT_EQ(type, GL_TEXTURE) << "the depth texture replaced the renderbuffer";
        EXPECT_EQ(static_cast<GLuint>(name), t.depthTexture);
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
        EXPECT_EQ(static_cast<GLuint>(name), t.colorTexture);
        // A complete target, so that the diffusion passes really draw into it.
        EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
        glBindFramebuffer(GL_FRAMEBUFFER, 0);

        const struct {
            GLuint texture;
            GLint format;
        } textures[] = {{t.colorTexture, GL_RGBA8}, {t.depthTexture, GL_DEPTH_COMPONENT24}};
        for (const auto& tex : textures) {
            glBindTexture(GL_TEXTURE_2D, tex.texture);
            GLint w = 0, h = 0, format = 0, filter = 0;
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
            glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
            glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
            EXPECT_EQ(w, kCoreWidth);
            EXPECT_EQ(h, kCoreHeight);
            EXPECT_EQ(format, tex.format);
            EXPECT_EQ(filter, GL_LINEAR);
        }
        glBindRenderbuffer(GL_RENDERBUFFER, t.renderbuffer);
        GLint rw = 0, rformat = 0;
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_WIDTH, &rw);
        glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_INTERNAL_FORMAT, &rformat);
        EXPECT_EQ(rw, kCoreWidth);
        EXPECT_EQ(rformat, GL_DEPTH_COMPONENT24);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
}

// ---------------------------------------------------------------------------------------------
// Failed construction

struct MissingFileCase {
    const char* file;
};
void PrintTo(const MissingFileCase& c, std::ostream* os) { *os << c.file; }

class CoreMissingFile : public ::testing::TestWithParam<MissingFileCase> {};

TEST_P(CoreMissingFile, ThrowsNamingTheFileAndReleasesWhatWasBuilt)
{
    ScopedProgramFolder folder("missing");
    WriteSyntheticDataTree(folder.Folder(), BuildShaderFolder());
    std::filesystem::remove(folder.Path() / GetParam().file);
    TXMLDocument document;
    ScopedMessageCapture messages;
    try {
        TVultari core(&document, 0, 64, 48);
        FAIL() << "construction succeeded without " << GetParam().file;
    } catch (const Exception& e) {
        const std::string name = std::filesystem::path(GetParam().file).filename().string();
        EXPECT_NE(e.Message().find(name), std::string::npos) << e.Message();
    }
    // Nothing of the failed object is left current or leaked: a new one builds on the same thread.
    WriteSyntheticDataTree(folder.Folder(), BuildShaderFolder());
    EXPECT_NO_THROW({ TVultari again(&document, 0, 64, 48); });
}

INSTANTIATE_TEST_SUITE_P(Table, CoreMissingFile,
                         ::testing::Values(MissingFileCase{"data/textures/mark.bmp"},
                                           MissingFileCase{"data/shaders/phong.vert"},
                                           MissingFileCase{"data/shaders/normalmapping.frag"},
                                           MissingFileCase{"data/shaders/diffusionfinal.frag"},
                                           MissingFileCase{"data/weights/left_eye.wgh"},
                                           MissingFileCase{"data/weights/face_borders.wgh"},
                                           MissingFileCase{"data/models/generic_head.txt"}),
                         [](const auto& param) {
                             std::string n;
                             for (char c : std::string(std::filesystem::path(param.param.file).filename().string()))
                                 n += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return n + "_" + std::to_string(param.index);
                         });

// With several files missing, the one named is the first that construction reaches: weight maps
// (after the engine) before the marker bitmap, the marker before the shader sources, and the
// shaders in registration order, fragment source after vertex source.
TEST(CoreConstructionOrder, FirstMissingFileInConstructionOrder)
{
    const struct {
        std::vector<const char*> missing;
        const char* named;
    } table[] = {
        {{"data/textures/mark.bmp", "data/weights/right_ear.wgh"}, "right_ear.wgh"},
        {{"data/shaders/phong.vert", "data/textures/mark.bmp"}, "mark.bmp"},
        {{"data/shaders/diffusion.frag", "data/shaders/normalmapping.vert"}, "normalmapping.vert"},
        {{"data/shaders/texture-space.vert", "data/shaders/phong.frag"}, "phong.frag"},
    };
    ScopedProgramFolder folder("order");
    TXMLDocument document;
    ScopedMessageCapture messages;
    for (const auto& row : table) {
        WriteSyntheticDataTree(folder.Folder(), BuildShaderFolder());
        for (const char* file : row.missing)
            std::filesystem::remove(folder.Path() / file);
        try {
            TVultari core(&document, 0, 64, 48);
            ADD_FAILURE() << "construction succeeded without " << row.named;
        } catch (const Exception& e) {
            EXPECT_NE(e.Message().find(row.named), std::string::npos) << e.Message();
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Destruction order

struct Deletion {
    const char* kind;
    unsigned int name;
    bool contextCurrent;
};
std::vector<Deletion>* deletions = nullptr;
void (*realDeleteRenderbuffers)(int, const unsigned int*) = nullptr;
void (*realDeleteFramebuffers)(int, const unsigned int*) = nullptr;

void RecordDeleteRenderbuffers(int n, const unsigned int* names)
{
    deletions->push_back({"renderbuffer", names[0], glXGetCurrentContext() != nullptr});
    realDeleteRenderbuffers(n, names);
}

void RecordDeleteFramebuffers(int n, const unsigned int* names)
{
    deletions->push_back({"framebuffer", names[0], glXGetCurrentContext() != nullptr});
    realDeleteFramebuffers(n, names);
}

TEST(CoreDestruction, TargetsGoFirstWhileTheContextExists)
{
    ScopedProgramFolder folder("destroy");
    WriteSyntheticDataTree(folder.Folder(), BuildShaderFolder());
    TXMLDocument document;
    auto core = std::make_unique<TVultari>(&document, 0, 64, 48);
    const OffscreenTarget t0 = core->offscreenTargets[0], t1 = core->offscreenTargets[1];
    std::vector<Deletion> recorded;
    deletions = &recorded;
    realDeleteRenderbuffers = glEntryPoints.DeleteRenderbuffersEXT;
    realDeleteFramebuffers = glEntryPoints.DeleteFramebuffersEXT;
    glEntryPoints.DeleteRenderbuffersEXT = RecordDeleteRenderbuffers;
    glEntryPoints.DeleteFramebuffersEXT = RecordDeleteFramebuffers;
    core.reset();
    glEntryPoints.DeleteRenderbuffersEXT = realDeleteRenderbuffers;
    glEntryPoints.DeleteFramebuffersEXT = realDeleteFramebuffers;
    deletions = nullptr;

    ASSERT_EQ(recorded.size(), 4u);
    EXPECT_STREQ(recorded[0].kind, "renderbuffer");
    EXPECT_EQ(recorded[0].name, t0.renderbuffer);
    EXPECT_STREQ(recorded[1].kind, "framebuffer");
    EXPECT_EQ(recorded[1].name, t0.framebuffer);
    EXPECT_STREQ(recorded[2].kind, "renderbuffer");
    EXPECT_EQ(recorded[2].name, t1.renderbuffer);
    EXPECT_STREQ(recorded[3].kind, "framebuffer");
    EXPECT_EQ(recorded[3].name, t1.framebuffer);
    for (const Deletion& d : recorded)
        EXPECT_TRUE(d.contextCurrent) << d.kind << " " << d.name;
    // The engine released its context afterwards.
    EXPECT_EQ(glXGetCurrentContext(), nullptr);
}

}  // namespace
