// The core object: construction in its fixed order, destruction, the photo queries and the two
// offscreen targets of the texture-space diffusion pass.
#include "core/Vultari.h"

#include <GL/glew.h>

#include "core/Texturecreator.h"
#include "core/Weightmanager.h"
#include "platform/base/Paths.h"
#include "platform/image/Graphics.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"

TVultari::TVultari(TXMLDocument* xmlDocument, WindowHandle window, int clientWidth, int clientHeight)
{
    // Any step may throw (a missing data file); what was built so far is released before the
    // error leaves, so a failed construction leaks nothing and leaves no context behind.
    try {
        displayMode = dmNothing;
        // The generic head's facts, like its weight maps, are needed: without them it cannot start.
        recognizer = new TRecognizer(
            std::make_shared<const TGenericHead>(ReadGenericHead(ProgramFolder() + kGenericHeadPath)));
        headAttributes = new THeadAttributes();
        textureCreator = new TTextureCreator();
        engine = new TColladaEngine(xmlDocument, window, clientWidth, clientHeight, 35.0f, 0.1f, 100.0f);
        // The context exists and the engine's table is filled: make GLEW ready now, before any
        // shader, light or framebuffer call below uses an entry point. Its result is not needed:
        // the engine has already checked that the driver offers what the program calls.
        glewInit();
        weightManager = new TWeightManager();

        frontThumbnail = nullptr;
        frontEditBitmap = nullptr;
        profileThumbnail = nullptr;
        profileEditBitmap = nullptr;
        grabbedPoint = nullptr;
        rotating = false;
        yaw = 0;
        pitch = 0;
        loading = false;
        reconstructed = false;
        lightSpeed = 0;
        enableTextures = true;
        renderHairs = true;
        wireframe = false;
        lightAngle = 0;

        markBitmap = new TBitmap();
        markBitmap->LoadFromFile(ProgramFolder() + "/data/textures/mark.bmp");

        const float lightSpecular[4] = {0.1f, 0.1f, 0.1f, 1.0f}, lightDiffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        const float lightAmbient[4] = {0.5f, 0.5f, 0.5f, 1.0f}, lightPos[4] = {0.0f, -20.0f, 0.0f, 1.0f};
        for (int i = 0; i < 4; ++i) {
            specular[i] = lightSpecular[i];
            diffuse[i] = lightDiffuse[i];
            ambient[i] = lightAmbient[i];
            lightPosition[i] = lightPos[i];
        }
        shininess = 8.0f;
        baseSampler = 0;
        normalMapSampler = 1;
        useTexture = 1;
        lightMapSampler = 1;

        const std::string folder = ProgramFolder();
        TShaderEngine* shaders = engine->shaderEngine;
        phongShader = shaders->AddShader("Phong", folder + "/data/shaders/phong.vert", folder + "/data/shaders/phong.frag");
        normalMappingShader = shaders->AddShader("NormalMapping", folder + "data/shaders/normalmapping.vert",
                                                 folder + "data/shaders/normalmapping.frag");
        textureSpaceShader = shaders->AddShader("TextureSpace", folder + "/data/shaders/texture-space.vert",
                                                folder + "/data/shaders/texture-space.frag");
        diffusionShader = shaders->AddShader("Diffusion", folder + "/data/shaders/diffusion.vert",
                                             folder + "/data/shaders/diffusion.frag");
        diffusionFinalShader = shaders->AddShader("DiffusionFinal", folder + "/data/shaders/diffusionfinal.vert",
                                                  folder + "/data/shaders/diffusionfinal.frag");
        shaders->CompileAll();

        const float width = static_cast<float>(clientWidth), height = static_cast<float>(clientHeight);
        shaders->SetUniformInt(phongShader, "UseTexture", 1, &useTexture);
        shaders->SetUniformInt(phongShader, "Base", 1, &baseSampler);
        shaders->SetUniformInt(normalMappingShader, "UseTexture", 1, &useTexture);
        shaders->SetUniformInt(normalMappingShader, "Base", 1, &baseSampler);
        shaders->SetUniformInt(normalMappingShader, "NormalMap", 1, &normalMapSampler);
        normalMappingTangent = shaders->GetAttribLocation(normalMappingShader, "tangent");
        normalMappingBinormal = shaders->GetAttribLocation(normalMappingShader, "binormal");
        shaders->SetUniformInt(textureSpaceShader, "Base", 1, &baseSampler);
        shaders->SetUniformInt(textureSpaceShader, "NormalMap", 1, &normalMapSampler);
        textureSpaceTangent = shaders->GetAttribLocation(textureSpaceShader, "tangent");
        textureSpaceBinormal = shaders->GetAttribLocation(textureSpaceShader, "binormal");
        shaders->SetUniformInt(diffusionShader, "LightMap", 1, &lightMapSampler);
        shaders->SetUniformFloat(diffusionShader, "width", 1, &width);
        shaders->SetUniformInt(diffusionFinalShader, "Base", 1, &baseSampler);
        shaders->SetUniformInt(diffusionFinalShader, "LightMap", 1, &lightMapSampler);
        shaders->SetUniformInt(diffusionFinalShader, "UseTexture", 1, &useTexture);
        shaders->SetUniformFloat(diffusionFinalShader, "height", 1, &height);

        glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
        glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
        glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);
        glMaterialfv(GL_FRONT_AND_BACK, GL_SHININESS, &shininess);

        CreateOffscreenTargets(clientWidth, clientHeight);
    } catch (...) {
        Release();
        throw;
    }
}

TVultari::~TVultari() { Release(); }

void TVultari::Release()
{
    delete recognizer;
    recognizer = nullptr;
    delete headAttributes;
    headAttributes = nullptr;
    grabbedPoint = nullptr;
    if (engine) {
        // The framebuffers must go while the engine's context still exists.
        engine->MakeCurrent();
        DeleteOffscreenTargets();
    }
    delete engine;
    engine = nullptr;
    delete textureCreator;
    textureCreator = nullptr;
    delete weightManager;
    weightManager = nullptr;
    delete markBitmap;
    markBitmap = nullptr;
    for (TBitmap** bitmap : {&frontThumbnail, &frontEditBitmap, &profileThumbnail, &profileEditBitmap}) {
        delete *bitmap;
        *bitmap = nullptr;
    }
}

bool TVultari::IsFrontLoaded() { return recognizer && !recognizer->frontImage.empty(); }

bool TVultari::IsProfileLoaded() { return recognizer && !recognizer->profileImage.empty(); }

void TVultari::CreateOffscreenTargets(int width, int height)
{
    const GLEntryPoints& ext = glEntryPoints;
    for (OffscreenTarget& target : offscreenTargets) {
        ext.ActiveTextureARB(GL_TEXTURE1);

        glCore.GenTextures(1, &target.colorTexture);
        glCore.BindTexture(GL_TEXTURE_2D, target.colorTexture);
        glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glCore.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);

        glCore.GenTextures(1, &target.depthTexture);
        glCore.BindTexture(GL_TEXTURE_2D, target.depthTexture);
        glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glCore.TexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, width, height, 0, GL_DEPTH_COMPONENT,
                          GL_UNSIGNED_BYTE, nullptr);

        ext.GenRenderbuffersEXT(1, &target.renderbuffer);
        ext.BindRenderbufferEXT(GL_RENDERBUFFER_EXT, target.renderbuffer);
        ext.RenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, width, height);

        ext.GenFramebuffersEXT(1, &target.framebuffer);
        ext.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, target.framebuffer);
        ext.FramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT,
                                       target.renderbuffer);
        // The depth texture replaces the renderbuffer at the depth attachment.
        ext.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_TEXTURE_2D, target.depthTexture, 0);
        ext.FramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, target.colorTexture, 0);
    }
    ext.ActiveTextureARB(GL_TEXTURE0);
    ext.BindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

void TVultari::DeleteOffscreenTargets()
{
    // The textures go with the context, which the engine deletes right after.
    for (OffscreenTarget& target : offscreenTargets) {
        if (target.renderbuffer != 0)
            glEntryPoints.DeleteRenderbuffersEXT(1, &target.renderbuffer);
        target.renderbuffer = 0;
        if (target.framebuffer != 0)
            glEntryPoints.DeleteFramebuffersEXT(1, &target.framebuffer);
        target.framebuffer = 0;
    }
}
