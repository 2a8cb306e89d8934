// The 3D view of the reconstructed head: one frame per idle call (with the texture-space diffusion
// passes for shader type 3), mouse rotation and wheel zoom, the orbiting light and the render settings.
#include "core/Vultari.h"

#include "collada/Colladaasset.h"
#include "platform/gl/GLFunctions.h"
#include "render/Colladaengine.h"

#include <cmath>

#include <GL/glew.h>

namespace {

constexpr double kDegreesPerPixel = 0.2;
constexpr double kZoomStep = 0.1;
constexpr double kZoomMax = 2.2;
constexpr double kZoomMin = 0.3;

TColladaAsset* ModelAt(TColladaEngine* engine, int index)
{
    if (engine == nullptr || index < 0 || static_cast<size_t>(index) >= engine->models.size())
        return nullptr;
    return engine->models[static_cast<size_t>(index)];
}

// Models are Z-up: stand them upright in front of the camera.
void SetHeadView()
{
    glCore.MatrixMode(GL_MODELVIEW);
    glCore.LoadIdentity();
    glCore.Translatef(0.0f, 0.0f, -20.0f);
    glCore.Rotatef(-90.0f, 1.0f, 0.0f, 0.0f);
}

void SetColour3(float* colour, float value)
{
    colour[0] = colour[1] = colour[2] = value;
}

} // namespace

// ---- frame drawing ---------------------------------------------------------------------------

bool TVultari::DiffusionPassReady() const
{
    const TColladaAsset* head = ModelAt(engine, headModel);
    if (head == nullptr || headNode < 0 || static_cast<size_t>(headNode) >= head->visualScenes.nodes.size())
        return false;
    if (headEffect < 0 || static_cast<size_t>(headEffect) >= head->effects.effects.size())
        return false;
    const TNode* node = head->visualScenes.nodes[static_cast<size_t>(headNode)].get();
    if (node->textures.empty())
        return false;
    int base = node->textures.front();
    return base >= 0 && static_cast<size_t>(base) < engine->textureEngine->textures.size();
}

void TVultari::RenderFrame()
{
    if (displayMode != 3 || engine == nullptr)
        return;

    if (shaderType != 3 || !DiffusionPassReady()) {
        // Without what the diffusion passes need, type 3 draws one lit pass: the texture-space
        // program alone would lay the head out over the window in its texture coordinates.
        TColladaAsset* head = ModelAt(engine, headModel);
        const bool substitute = shaderType == 3 && head != nullptr && head->shaderIndex == textureSpaceShader;
        if (substitute)
            head->shaderIndex = phongShader;
        glCore.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        SetHeadView();
        engine->RenderModel(headModel);
        engine->RenderModel(eyesModel);
        engine->RenderModel(hairsModel);
        if (substitute)
            head->shaderIndex = textureSpaceShader;
        engine->SwapBuffers();
        return;
    }

    TColladaAsset* head = ModelAt(engine, headModel);
    engine->shaderEngine->UseShader(-1);

    // Pass 1: the head's lighting laid out in texture space, into target 0.
    glEntryPoints.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, offscreenTargets[0].framebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glCore.ClearColor(0.7f, 0.7f, 0.7f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SetHeadView();
    engine->RenderModel(headModel);

    // Pass 2: diffuse that light map into target 1 with one full-target quad.
    glEntryPoints.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, offscreenTargets[1].framebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glCore.ClearColor(0.7f, 0.7f, 0.7f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEntryPoints.ActiveTextureARB(GL_TEXTURE1_ARB);
    glCore.Enable(GL_TEXTURE_2D);
    glCore.BindTexture(GL_TEXTURE_2D, offscreenTargets[0].colorTexture);
    engine->shaderEngine->UseShader(diffusionShader);
    glCore.Color4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(-1.0f, -1.0f);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(1.0f, -1.0f);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(1.0f, 1.0f);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(-1.0f, 1.0f);
    glEnd();

    // Final pass: the head into the window with its base texture and the diffused light map.
    glEntryPoints.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glCore.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEntryPoints.ActiveTextureARB(GL_TEXTURE1_ARB);
    glCore.Enable(GL_TEXTURE_2D);
    glCore.BindTexture(GL_TEXTURE_2D, offscreenTargets[1].colorTexture);
    glEntryPoints.ActiveTextureARB(GL_TEXTURE0_ARB);
    glCore.Enable(GL_TEXTURE_2D);
    const TNode* node = head->visualScenes.nodes[static_cast<size_t>(headNode)].get();
    glCore.BindTexture(GL_TEXTURE_2D, engine->textureEngine->textures[static_cast<size_t>(node->textures.front())]->textureId);
    TEffect* effect = head->effects.effects[static_cast<size_t>(headEffect)].get();
    int savedShader = effect->shaderIndex;
    effect->shaderIndex = diffusionFinalShader;
    engine->useTextures = false;
    engine->RenderModel(headModel);
    engine->useTextures = true;
    effect->shaderIndex = savedShader;
    glCore.Disable(GL_TEXTURE_2D);
    glEntryPoints.ActiveTextureARB(GL_TEXTURE1_ARB);
    glCore.Disable(GL_TEXTURE_2D);
    engine->shaderEngine->UseShader(-1);

    engine->RenderModel(hairsModel);
    engine->RenderModel(eyesModel);
    engine->SwapBuffers();
}

// ---- view control ----------------------------------------------------------------------------

void TVultari::BeginRotate(int x, int y)
{
    if (displayMode != 3)
        return;
    rotating = true;
    lastMouseX = x;
    lastMouseY = y;
}

void TVultari::Rotate(int x, int y)
{
    if (!rotating || displayMode != 3)
        return;
    yaw = static_cast<float>(yaw + (x - lastMouseX) * kDegreesPerPixel);
    pitch = static_cast<float>(pitch + (y - lastMouseY) * kDegreesPerPixel);
    lastMouseX = x;
    lastMouseY = y;
    for (int index : {headModel, hairsModel, eyesModel}) {
        if (TColladaAsset* model = ModelAt(engine, index)) {
            model->rotate[2] = yaw;
            model->rotate[0] = pitch;
        }
    }
}

void TVultari::EndRotate()
{
    if (displayMode == 3)
        rotating = false;
}

void TVultari::ZoomIn()
{
    TColladaAsset* head = ModelAt(engine, headModel);
    if (displayMode != 3 || head == nullptr || !(head->scale[0] < kZoomMax))
        return;
    for (int index : {headModel, hairsModel, eyesModel})
        if (TColladaAsset* model = ModelAt(engine, index))
            for (float& s : model->scale)
                s = static_cast<float>(s + kZoomStep);
}

void TVultari::ZoomOut()
{
    TColladaAsset* head = ModelAt(engine, headModel);
    if (displayMode != 3 || head == nullptr || !(head->scale[0] > kZoomMin))
        return;
    for (int index : {headModel, hairsModel, eyesModel})
        if (TColladaAsset* model = ModelAt(engine, index))
            for (float& s : model->scale)
                s = static_cast<float>(s - kZoomStep);
}

void TVultari::LightStep()
{
    if (displayMode != 3)
        return;
    // The angle goes to sine and cosine as radians but wraps at 360.
    lightPosition[0] = static_cast<float>(std::sin(static_cast<double>(lightAngle)) * 30.0);
    lightPosition[2] = static_cast<float>(std::cos(static_cast<double>(lightAngle)) * 10.0 + 6.0);
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
    lightAngle = lightAngle + lightSpeed;
    if (lightAngle > 360.0f)
        lightAngle = lightAngle - 360.0f;
}

// ---- render settings -------------------------------------------------------------------------

void TVultari::SetRenderSettings(int type, float speed, bool textures, bool wireframeOn, bool hairs)
{
    shaderType = type;
    lightSpeed = static_cast<float>(speed * 0.01);
    enableTextures = textures;
    renderHairs = hairs;
    wireframe = wireframeOn;
    ApplyShaders();
}

void TVultari::ApplyShaders()
{
    if (!reconstructed || engine == nullptr)
        return;
    TColladaAsset* head = ModelAt(engine, headModel);
    TColladaAsset* eyes = ModelAt(engine, eyesModel);
    TColladaAsset* hairs = ModelAt(engine, hairsModel);

    if (hairs != nullptr)
        hairs->visible = renderHairs;
    int mode = wireframe ? GL_LINE : GL_FILL;
    if (head != nullptr)
        head->polygonMode = mode;
    if (eyes != nullptr)
        eyes->polygonMode = mode;

    engine->useTextures = shaderType != 0 ? true : enableTextures;

    useTexture = enableTextures ? 1 : 0;
    for (int program : {normalMappingShader, phongShader, diffusionFinalShader})
        engine->shaderEngine->SetUniformInt(program, "UseTexture", 1, &useTexture);
    if (enableTextures) {
        SetColour3(specular, 0.1f);
        SetColour3(diffuse, 1.0f);
        SetColour3(ambient, 0.5f);
    } else {
        SetColour3(specular, 0.3f);
        SetColour3(diffuse, 0.6f);
        SetColour3(ambient, 0.1f);
    }
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);

    struct Row { bool tangents; int head; int eyes; bool normalMap; };
    Row row{};
    switch (shaderType) {
    case 0: row = {false, -1, -1, false}; break;
    case 1: row = {false, phongShader, phongShader, false}; break;
    case 2: row = {true, normalMappingShader, phongShader, true}; break;
    case 3: row = {true, textureSpaceShader, phongShader, true}; break;
    default: engine->shaderEngine->UseShader(-1); return;
    }
    engine->useTangentAttributes = row.tangents;
    if (head != nullptr)
        head->shaderIndex = row.head;
    if (eyes != nullptr)
        eyes->shaderIndex = row.eyes;
    // The normal map is the texture the reconstruction added for it, wherever it sits in the cache.
    if (normalMapTexture >= 0 && static_cast<size_t>(normalMapTexture) < engine->textureEngine->textures.size())
        engine->textureEngine->textures[static_cast<size_t>(normalMapTexture)]->enabled = row.normalMap;
    engine->shaderEngine->UseShader(-1);
}
