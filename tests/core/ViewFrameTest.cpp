// Frame drawing on a real core object: the single pass, the three diffusion passes, draw order,
// and the inert modes.
#include "tests/core/ViewCoreFixture.h"

#include "collada/Colladaasset.h"
#include "render/Colladaengine.h"
#include "tests/render/GLRecorder.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

namespace {

class ViewFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        core = SharedCore();
        ASSERT_NE(core, nullptr) << CoreError();
        scene = std::make_unique<ReconstructedScene>(*core);
    }
    void TearDown() override { scene.reset(); }

    // Draws one frame of the given type after a light tick, as the running program does.
    cv::Mat Frame(int type, bool hairs = true)
    {
        core->SetRenderSettings(type, 0.0f, true, false, hairs);
        core->RenderFrame();
        core->LightStep();
        SwapCounter swaps;
        core->RenderFrame();
        EXPECT_EQ(swaps.Count(), 1);
        return swaps.Last().clone();
    }

    TColladaAsset* Model(int index) { return core->engine->models.at(static_cast<size_t>(index)); }

    TVultari* core = nullptr;
    std::unique_ptr<ReconstructedScene> scene;
};

cv::Vec3b At(const cv::Mat& image, cv::Point p)
{
    return image.at<cv::Vec3b>(p);
}

bool Lit(const cv::Vec3b& c)
{
    return c[0] + c[1] + c[2] > 60;
}

// The dominant channel of a pixel: 0 blue, 1 green, 2 red.
int Dominant(const cv::Vec3b& c)
{
    return c[0] > c[1] && c[0] > c[2] ? 0 : (c[1] > c[2] ? 1 : 2);
}

} // namespace

TEST_F(ViewFrame, InertOutsideTheView)
{
    for (int mode : {0, 1, 2}) {
        core->displayMode = mode;
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glClearColor(0.2f, 0.4f, 0.6f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        SwapCounter swaps;
        for (int type : {0, 3}) {
            core->shaderType = type;
            core->RenderFrame();
        }
        EXPECT_EQ(swaps.Count(), 0) << mode;
        cv::Mat window = ReadWindow();
        EXPECT_EQ(At(window, ScenePixel(0, 0)), cv::Vec3b(153, 102, 51)) << mode;  // still the clear colour
    }
}

TEST_F(ViewFrame, SinglePassShowsEveryModelOnBlack)
{
    for (int type : {0, 1, 2}) {
        SCOPED_TRACE("shader type " + std::to_string(type));
        cv::Mat frame = Frame(type);
        ASSERT_FALSE(frame.empty());
        EXPECT_EQ(At(frame, {5, 5}), cv::Vec3b(0, 0, 0));
        cv::Vec3b head = At(frame, ScenePixel(-1, -1));
        cv::Vec3b eye = At(frame, ScenePixel(3, 0));
        EXPECT_TRUE(Lit(head));
        EXPECT_TRUE(Lit(eye));
        EXPECT_EQ(Dominant(head), 2);  // red head texture
        EXPECT_EQ(Dominant(eye), 1);   // green eye texture
    }
}

TEST_F(ViewFrame, DiffusionPassesDrawTheHeadAndRestoreTheState)
{
    TEffect* effect = Model(core->headModel)->effects.effects[0].get();
    effect->shaderIndex = -1;
    cv::Mat phong = Frame(1);
    cv::Mat diffusion = Frame(3);
    EXPECT_EQ(effect->shaderIndex, -1);
    EXPECT_TRUE(core->engine->useTextures);
    EXPECT_EQ(At(diffusion, {5, 5}), cv::Vec3b(0, 0, 0));
    cv::Vec3b head = At(diffusion, ScenePixel(-1, -1));
    EXPECT_TRUE(Lit(head));
    EXPECT_EQ(Dominant(head), 2);
    EXPECT_TRUE(Lit(At(diffusion, ScenePixel(3, 0))));  // the eyes still drawn after the passes
    cv::Mat difference;
    cv::absdiff(phong, diffusion, difference);
    EXPECT_GT(cv::norm(difference, cv::NORM_L1), 1000.0) << "the diffusion frame equals the Phong frame";

    // The scene's head fills texture space; laid out over its middle only, it leaves the targets'
    // opaque 0.7 grey clear colour around it: in the light map, and in its blur (whose weights
    // sum to 1) of that even grey.
    TColladaAsset* headAsset = Model(core->headModel);
    for (float& t : headAsset->geometries.geometries[0]->texCoords)
        t = 0.25f + 0.5f * t;
    core->engine->UpdateBuffers(headAsset);
    Frame(3);
    auto read = [&](int target, int x, int y) {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, core->offscreenTargets[static_cast<size_t>(target)].framebuffer);
        glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
        cv::Vec4b pixel(0, 0, 0, 0);
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.val);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glReadBuffer(GL_BACK);
        return pixel;
    };
    const cv::Vec4b grey(178, 178, 178, 255);
    for (int target : {0, 1}) {
        const cv::Vec4b corner = read(target, 2, 2);
        for (int channel = 0; channel < 4; ++channel)
            EXPECT_NEAR(corner[channel], grey[channel], 1) << "target " << target << ", channel " << channel;
    }
    const cv::Vec4b lit = read(0, kPanelWidth / 2, kPanelHeight / 2);
    EXPECT_GT(cv::norm(cv::Vec4i(lit) - cv::Vec4i(grey), cv::NORM_INF), 1.0) << "the head's light map is missing";
}

TEST_F(ViewFrame, HiddenHairsAndDrawOrder)
{
    // The hair asset keeps no polygon mode of its own, so it is drawn in the mode left by the model
    // drawn just before it: eyes as lines, head filled. Types 0 to 2 draw head, eyes, hairs (hair
    // follows the eyes: lines); type 3 draws hairs right after the head (filled).
    const cv::Point hair = ScenePixel(0.3f, 3.3f);
    for (int type : {0, 1, 2, 3}) {
        SCOPED_TRACE("shader type " + std::to_string(type));
        core->SetRenderSettings(type, 0.0f, true, false, true);
        Model(core->eyesModel)->polygonMode = GL_LINE;
        Model(core->headModel)->polygonMode = GL_FILL;
        Model(core->hairsModel)->polygonMode = -1;
        core->RenderFrame();
        core->LightStep();
        SwapCounter swaps;
        core->RenderFrame();
        cv::Mat frame = swaps.Last().clone();
        if (type == 3)
            EXPECT_TRUE(Lit(At(frame, hair)));
        else
            EXPECT_FALSE(Lit(At(frame, hair)));
    }
    // Hidden hairs: nothing there, and the eyes are still drawn after them.
    cv::Mat frame = Frame(3, false);
    EXPECT_FALSE(Lit(At(frame, hair)));
    EXPECT_TRUE(Lit(At(frame, ScenePixel(3, 0))));
}

TEST_F(ViewFrame, DiffusionWithoutHeadNodeOrTextureDrawsOnePass)
{
    struct Case {
        const char* what;
        void (*breakIt)(TVultari&, TColladaAsset&);
        bool textured = true;  // the head keeps its red base texture
    };
    const Case cases[] = {
        {"no head node", [](TVultari& c, TColladaAsset&) { c.headNode = -1; }},
        {"head node out of range", [](TVultari& c, TColladaAsset&) { c.headNode = 5; }},
        {"no effect", [](TVultari& c, TColladaAsset&) { c.headEffect = -1; }},
        {"effect out of range", [](TVultari& c, TColladaAsset&) { c.headEffect = 3; }},
        {"no textures", [](TVultari&, TColladaAsset& head) { head.visualScenes.nodes[0]->textures.clear(); }, false},
        {"texture out of range", [](TVultari&, TColladaAsset& head) { head.visualScenes.nodes[0]->textures = {99}; }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TColladaAsset& head = *Model(core->headModel);
        std::vector<int> textures = head.visualScenes.nodes[0]->textures;
        int node = core->headNode, effect = core->headEffect;
        c.breakIt(*core, head);
        cv::Mat frame = Frame(3);
        EXPECT_TRUE(Lit(At(frame, ScenePixel(3, 0))));  // the eyes are drawn
        EXPECT_EQ(At(frame, {5, 5}), cv::Vec3b(0, 0, 0));
        cv::Vec3b face = At(frame, ScenePixel(-1, -1));  // the head in its place, lit
        EXPECT_TRUE(Lit(face));
        if (c.textured) {
            EXPECT_EQ(Dominant(face), 2);
        }
        EXPECT_EQ(head.shaderIndex, core->textureSpaceShader);
        EXPECT_TRUE(core->engine->useTextures);
        head.visualScenes.nodes[0]->textures = textures;
        core->headNode = node;
        core->headEffect = effect;
    }
}

// The exact order of a frame's passes, with the engine's and the pass's GL calls recorded instead
// of run (the real context stays as it was; only calls through the GL tables are seen).
class ViewFrameOrder : public ViewFrame {
protected:
    std::string Program(int shader)
    {
        return Call("glUseProgramObjectARB", core->engine->shaderEngine->shaders.at(static_cast<size_t>(shader))->program);
    }
    std::vector<std::string> Record(int type)
    {
        core->SetRenderSettings(type, 0.0f, true, false, true);
        GLRecorder recorder;
        core->RenderFrame();
        std::vector<std::string> calls =
            recorder.Calls({"glBindFramebufferEXT", "glUseProgramObjectARB", "glDrawRangeElements", "SwapBuffers"});
        for (std::string& c : calls)
            if (c.rfind("SwapBuffers", 0) == 0)
                c = "SwapBuffers";
            else if (c.rfind("glDrawRangeElements", 0) == 0)
                c = "draw";
        return calls;
    }
};

TEST_F(ViewFrameOrder, OnePassDrawsHeadEyesHairs)
{
    const std::vector<std::string> phong = Record(1);
    EXPECT_EQ(phong, (std::vector<std::string>{Program(core->phongShader), "draw", "draw", "draw", Call("glUseProgramObjectARB", 0u),
                                               "draw", "SwapBuffers"}));
    const std::vector<std::string> fixed = Record(0);
    EXPECT_EQ(fixed, (std::vector<std::string>{"draw", "draw", "draw", "draw", "SwapBuffers"}));
}

TEST_F(ViewFrameOrder, DiffusionPassesInOrderThenHairsBeforeEyes)
{
    const OffscreenTarget* t = core->offscreenTargets;
    const std::vector<std::string> calls = Record(3);
    EXPECT_EQ(calls, (std::vector<std::string>{
                         Call("glBindFramebufferEXT", GL_FRAMEBUFFER_EXT, t[0].framebuffer),
                         Program(core->textureSpaceShader), "draw",                                 // pass 1: the head
                         Call("glBindFramebufferEXT", GL_FRAMEBUFFER_EXT, t[1].framebuffer),
                         Program(core->diffusionShader),                                            // pass 2: the quad
                         Call("glBindFramebufferEXT", GL_FRAMEBUFFER_EXT, 0u),
                         Program(core->diffusionFinalShader), "draw",                               // final: the head
                         Call("glUseProgramObjectARB", 0u), "draw",                                 // hairs
                         Program(core->phongShader), "draw", "draw",                                // eyes
                         "SwapBuffers"}));
}

TEST_F(ViewFrameOrder, NothingOutsideTheView)
{
    for (int mode : {0, 1, 2}) {
        core->displayMode = mode;
        GLRecorder recorder;
        for (int type : {0, 1, 2, 3}) {
            core->shaderType = type;
            core->RenderFrame();
        }
        EXPECT_TRUE(recorder.calls.empty()) << mode << ": " << recorder.calls.front();
    }
}
