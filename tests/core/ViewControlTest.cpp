// Mouse rotation, wheel zoom, the orbiting light and the render settings on a real core object.
#include "tests/core/ViewCoreFixture.h"

#include "collada/Colladaasset.h"
#include "render/Colladaengine.h"
#include "tests/render/GLRecorder.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>

namespace {

class ViewControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        core = SharedCore();
        ASSERT_NE(core, nullptr) << CoreError();
        scene = std::make_unique<ReconstructedScene>(*core);
    }
    void TearDown() override { scene.reset(); }

    TColladaAsset* Model(int index) { return core->engine->models.at(static_cast<size_t>(index)); }
    TColladaAsset* Head() { return Model(core->headModel); }
    TColladaAsset* Eyes() { return Model(core->eyesModel); }
    TColladaAsset* Hairs() { return Model(core->hairsModel); }

    TVultari* core = nullptr;
    std::unique_ptr<ReconstructedScene> scene;
};

std::array<float, 4> Light(GLenum what)
{
    std::array<float, 4> v{};
    glGetLightfv(GL_LIGHT0, what, v.data());
    return v;
}

int UniformInt(unsigned int program, const char* name)
{
    int value = -12345;
    int location = glGetUniformLocation(program, name);
    if (program != 0 && location >= 0)
        glGetUniformiv(program, location, &value);
    return value;
}

} // namespace

TEST_F(ViewControl, MouseTurnsAllThreeModels)
{
    Head()->rotate[1] = 7.0f;  // never touched
    core->BeginRotate(100, 100);
    core->Rotate(110, 95);
    EXPECT_FLOAT_EQ(core->yaw, 2.0f);
    EXPECT_FLOAT_EQ(core->pitch, -1.0f);
    for (TColladaAsset* m : {Head(), Hairs(), Eyes()}) {
        EXPECT_FLOAT_EQ(m->rotate[2], 2.0f);
        EXPECT_FLOAT_EQ(m->rotate[0], -1.0f);
    }
    EXPECT_FLOAT_EQ(Head()->rotate[1], 7.0f);
    // Angles accumulate without wrapping: 0.2 degrees per pixel.
    core->Rotate(110 + 2000, 95);
    EXPECT_NEAR(core->yaw, 402.0f, 1e-3);
    core->EndRotate();
    EXPECT_FALSE(core->rotating);
    core->Rotate(0, 0);
    EXPECT_NEAR(core->yaw, 402.0f, 1e-3);
}

TEST_F(ViewControl, MouseOutsideTheViewChangesNothing)
{
    core->Rotate(50, 50);  // a move without a press
    EXPECT_EQ(core->yaw, 0.0f);
    EXPECT_EQ(Head()->rotate[2], 0.0f);

    core->displayMode = 1;
    core->BeginRotate(10, 10);
    EXPECT_FALSE(core->rotating);
    core->displayMode = 3;
    core->BeginRotate(10, 10);
    core->displayMode = 2;
    core->Rotate(40, 40);
    core->EndRotate();  // a release outside the view leaves the rotation on
    EXPECT_TRUE(core->rotating);
    EXPECT_EQ(core->yaw, 0.0f);
    EXPECT_EQ(Eyes()->rotate[2], 0.0f);
}

TEST_F(ViewControl, ZoomStepsAndLimits)
{
    for (int i = 0; i < 12; ++i)
        core->ZoomIn();
    for (TColladaAsset* m : {Head(), Hairs(), Eyes()})
        for (float s : m->scale)
            EXPECT_NEAR(static_cast<double>(s), 2.2000000477, 5e-11);
    core->ZoomIn();
    EXPECT_NEAR(static_cast<double>(Head()->scale[0]), 2.2000000477, 5e-11);

    for (TColladaAsset* m : {Head(), Hairs(), Eyes()})
        m->scale = {1.0f, 1.0f, 1.0f};
    for (int i = 0; i < 7; ++i)
        core->ZoomOut();
    for (TColladaAsset* m : {Head(), Hairs(), Eyes()})
        for (float s : m->scale)
            EXPECT_NEAR(static_cast<double>(s), 0.2999999225, 5e-11);
    core->ZoomOut();
    EXPECT_NEAR(static_cast<double>(Eyes()->scale[2]), 0.2999999225, 5e-11);

    // Only the head's x scale is tested.
    Head()->scale = {2.1000001f, 1.0f, 1.0f};
    Eyes()->scale = {5.0f, 5.0f, 5.0f};
    core->ZoomIn();
    EXPECT_NEAR(static_cast<double>(Head()->scale[0]), 2.2000000477, 5e-11);
    EXPECT_NEAR(static_cast<double>(Eyes()->scale[0]), 5.1, 1e-6);
    core->ZoomIn();
    EXPECT_NEAR(static_cast<double>(Eyes()->scale[0]), 5.1, 1e-6);

    core->displayMode = 1;
    core->ZoomOut();
    EXPECT_NEAR(static_cast<double>(Head()->scale[0]), 2.2000000477, 5e-11);
}

TEST_F(ViewControl, LightOrbit)
{
    core->SetRenderSettings(1, 20.0f, true, false, true);
    EXPECT_FLOAT_EQ(core->lightSpeed, 0.2f);

    struct Case {
        float angle;
        float x, z;
    };
    const Case cases[] = {{0.0f, 0.0f, 16.0f}, {1.5708f, 30.0f, 6.0f}, {static_cast<float>(M_PI), 0.0f, -4.0f}};
    for (const Case& c : cases) {
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();  // the light position is then stored as given
        core->lightAngle = c.angle;
        core->LightStep();
        EXPECT_NEAR(core->lightPosition[0], c.x, 1e-3) << c.angle;
        EXPECT_NEAR(core->lightPosition[2], c.z, 1e-3) << c.angle;
        EXPECT_EQ(core->lightPosition[1], -20.0f);
        EXPECT_EQ(core->lightPosition[3], 1.0f);
        std::array<float, 4> gl = Light(GL_POSITION);
        EXPECT_NEAR(gl[0], c.x, 1e-3);
        EXPECT_NEAR(gl[1], -20.0f, 1e-3);
        EXPECT_NEAR(gl[2], c.z, 1e-3);
        EXPECT_NEAR(core->lightAngle, c.angle + 0.2f, 1e-5);
    }
    // The wrap is at 360, once, in the same tick.
    core->lightAngle = 359.9f;
    core->LightStep();
    EXPECT_NEAR(core->lightAngle, 0.1f, 1e-4);

    // Paused outside the 3D view.
    core->displayMode = 1;
    float before = core->lightAngle;
    core->LightStep();
    EXPECT_EQ(core->lightAngle, before);
}

TEST_F(ViewControl, ApplyShadersPerShaderType)
{
    struct Row {
        int type;
        bool textures;
        int head, eyes;
        bool tangents, normalMap, useTextures;
    };
    const int phong = core->phongShader, nm = core->normalMappingShader, ts = core->textureSpaceShader;
    const Row rows[] = {
        {0, true, -1, -1, false, false, true},   {0, false, -1, -1, false, false, false},
        {1, true, phong, phong, false, false, true}, {1, false, phong, phong, false, false, true},
        {2, true, nm, phong, true, true, true},      {2, false, nm, phong, true, true, true},
        {3, true, ts, phong, true, true, true},      {3, false, ts, phong, true, true, true},
    };
    TTextureEngine& textures = *core->engine->textureEngine;
    for (const Row& r : rows) {
        core->SetRenderSettings(r.type, 5.0f, r.textures, false, true);
        SCOPED_TRACE("shader type " + std::to_string(r.type) + (r.textures ? " with textures" : " without"));
        EXPECT_EQ(Head()->shaderIndex, r.head);
        EXPECT_EQ(Eyes()->shaderIndex, r.eyes);
        EXPECT_EQ(Hairs()->shaderIndex, -1);
        EXPECT_EQ(core->engine->useTangentAttributes, r.tangents);
        EXPECT_EQ(textures.textures.at(static_cast<size_t>(scene->normalMap))->enabled, r.normalMap);
        EXPECT_EQ(core->engine->useTextures, r.useTextures);
        EXPECT_EQ(core->engine->shaderEngine->currentShader, -1);
        EXPECT_EQ(core->useTexture, r.textures ? 1 : 0);
        for (int program : {nm, phong, core->diffusionFinalShader})
            EXPECT_EQ(UniformInt(core->engine->shaderEngine->shaders.at(static_cast<size_t>(program))->program, "UseTexture"),
                      r.textures ? 1 : 0)
                << core->engine->shaderEngine->shaders.at(static_cast<size_t>(program))->name;
        const float expected[3] = {r.textures ? 0.1f : 0.3f, r.textures ? 1.0f : 0.6f, r.textures ? 0.5f : 0.1f};
        const GLenum which[3] = {GL_SPECULAR, GL_DIFFUSE, GL_AMBIENT};
        const float* fields[3] = {core->specular, core->diffuse, core->ambient};
        for (int k = 0; k < 3; ++k) {
            std::array<float, 4> gl = Light(which[k]);
            for (int c = 0; c < 3; ++c) {
                EXPECT_FLOAT_EQ(fields[k][c], expected[k]);
                EXPECT_FLOAT_EQ(gl[static_cast<size_t>(c)], expected[k]);
            }
            EXPECT_FLOAT_EQ(gl[3], 1.0f);
        }
    }
}

TEST_F(ViewControl, NormalMapIsTheReconstructionsTextureNotTheLastOne)
{
    // A texture loaded after the normal map must not be mistaken for it.
    TempFolder folder("late");
    int late = core->engine->textureEngine->LoadTexture(
        WriteImage(folder, "late.bmp", cv::Mat(4, 4, CV_8UC3, cv::Scalar(1, 2, 3))), GL_TEXTURE0);
    ASSERT_GT(late, scene->normalMap);
    TTextureEngine& textures = *core->engine->textureEngine;
    core->SetRenderSettings(2, 0.0f, true, false, true);
    EXPECT_TRUE(textures.textures[static_cast<size_t>(scene->normalMap)]->enabled);
    core->SetRenderSettings(1, 0.0f, true, false, true);
    EXPECT_FALSE(textures.textures[static_cast<size_t>(scene->normalMap)]->enabled);
    EXPECT_TRUE(textures.textures[static_cast<size_t>(late)]->enabled);
    // Without a normal map nothing is switched.
    core->normalMapTexture = -1;
    core->SetRenderSettings(2, 0.0f, true, false, true);
    EXPECT_FALSE(textures.textures[static_cast<size_t>(scene->normalMap)]->enabled);
    EXPECT_TRUE(textures.textures[static_cast<size_t>(late)]->enabled);
}

TEST_F(ViewControl, WireframeHairsAndUnknownShaderType)
{
    Hairs()->polygonMode = GL_LINE;
    core->SetRenderSettings(1, 0.0f, true, true, false);
    EXPECT_EQ(Head()->polygonMode, GL_LINE);
    EXPECT_EQ(Eyes()->polygonMode, GL_LINE);
    EXPECT_EQ(Hairs()->polygonMode, GL_LINE);
    EXPECT_FALSE(Hairs()->visible);
    core->SetRenderSettings(1, 0.0f, true, false, true);
    EXPECT_EQ(Head()->polygonMode, GL_FILL);
    EXPECT_EQ(Eyes()->polygonMode, GL_FILL);
    EXPECT_EQ(Hairs()->polygonMode, GL_LINE);
    EXPECT_TRUE(Hairs()->visible);

    // A type outside 0 to 3 leaves programs, tangents and the normal map as they were.
    core->SetRenderSettings(2, 0.0f, true, false, true);
    core->SetRenderSettings(7, 0.0f, true, false, true);
    EXPECT_EQ(core->shaderType, 7);
    EXPECT_EQ(Head()->shaderIndex, core->normalMappingShader);
    EXPECT_TRUE(core->engine->useTangentAttributes);
    EXPECT_TRUE(core->engine->textureEngine->textures[static_cast<size_t>(scene->normalMap)]->enabled);
    EXPECT_EQ(core->engine->shaderEngine->currentShader, -1);
}

TEST_F(ViewControl, SettingsBeforeAnyHeadAreOnlyStored)
{
    core->SetRenderSettings(1, 0.0f, true, false, true);
    core->reconstructed = false;
    core->SetRenderSettings(2, 10.0f, false, true, false);
    EXPECT_EQ(core->shaderType, 2);
    EXPECT_FLOAT_EQ(core->lightSpeed, 0.1f);
    EXPECT_FALSE(core->enableTextures);
    EXPECT_TRUE(core->wireframe);
    EXPECT_FALSE(core->renderHairs);
    EXPECT_EQ(Head()->shaderIndex, core->phongShader);
    EXPECT_EQ(Head()->polygonMode, GL_FILL);
    EXPECT_TRUE(Hairs()->visible);
    EXPECT_EQ(core->useTexture, 1);
    EXPECT_FLOAT_EQ(Light(GL_DIFFUSE)[0], 1.0f);
}

TEST_F(ViewControl, UseTextureGoesToThreeProgramsInOrder)
{
    auto program = [&](int shader) {
        return Call("glUseProgramObjectARB", core->engine->shaderEngine->shaders.at(static_cast<size_t>(shader))->program);
    };
    const std::string none = Call("glUseProgramObjectARB", 0u);
    for (bool textures : {true, false}) {
        GLRecorder recorder;
        recorder.uniformLocations["UseTexture"] = 3;
        core->SetRenderSettings(2, 0.0f, textures, false, true);
        const std::string set = Call("glUniform1iv", 3, 1) + (textures ? " 1" : " 0");
        EXPECT_EQ(recorder.Calls({"glUseProgramObjectARB", "glUniform1iv"}),
                  (std::vector<std::string>{program(core->normalMappingShader), set, none, program(core->phongShader), set, none,
                                            program(core->diffusionFinalShader), set, none}));
        EXPECT_EQ(core->engine->shaderEngine->currentShader, -1);
    }
}
