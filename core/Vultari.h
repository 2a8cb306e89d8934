#pragma once
// TVultari: the one core object. It owns the recognizer with the two photos, the feature points,
// the texture builder, the weight maps and the rendering engine, and carries the state of the point
// editor and the 3D view. Other code reads and writes its fields directly; the few operations below
// are the whole behaviour.
//
// Operations live in several sources: Vultari.cpp (construction, photo queries, offscreen targets),
// VultariReconstruct.cpp (reconstruction), VultariEditor.cpp (photos and point editor),
// VultariExport.cpp (COLLADA export), VultariView.cpp (frame drawing, view control, settings).
#include <cstdint>
#include <string>

class TRecognizer;
class THeadAttributes;
class THPoint;
class TTextureCreator;
class TWeightManager;
class TColladaEngine;
class TBitmap;
class TImage;
class TXMLDocument;

// X11 window id of the 3D panel on the default display; 0 asks the engine for a headless context.
using WindowHandle = unsigned long;

// 0 nothing shown, 1 editing the front points, 2 editing the profile points, 3 3D view.
enum DisplayMode : int32_t { dmNothing = 0, dmEditFront = 1, dmEditProfile = 2, dm3DView = 3 };
// 0 fixed pipeline, 1 Phong, 2 normal mapping, 3 texture-space diffusion.
enum ShaderType : int32_t { stNone = 0, stPhong = 1, stNormalMapping = 2, stTextureSpace = 3 };

// One render target of the texture-space diffusion pass; GL names, 0 = none.
struct OffscreenTarget {
    uint32_t framebuffer = 0;
    uint32_t colorTexture = 0;  // GL_RGBA8, panel size, colour attachment 0
    uint32_t depthTexture = 0;  // GL_DEPTH_COMPONENT24, the depth attachment in effect
    uint32_t renderbuffer = 0;  // GL_DEPTH_COMPONENT24, attached first, then replaced by depthTexture
};

class TVultari {
public:
    // Builds every part in order. A missing data file (marker, shader source, weight map) throws
    // Exception naming the file after releasing whatever was already built; the caller then has
    // no core object. The XML document is not owned.
    TVultari(TXMLDocument* xmlDocument, WindowHandle window, int clientWidth, int clientHeight);
    ~TVultari();
    TVultari(const TVultari&) = delete;
    TVultari& operator=(const TVultari&) = delete;

    // --- fields, in declaration order -------------------------------------------------------
    TRecognizer* recognizer = nullptr;          // owned; holds frontImage and profileImage
    THeadAttributes* headAttributes = nullptr;  // owned; 27 front and 14 profile points
    TTextureCreator* textureCreator = nullptr;  // owned; no data of its own
    TWeightManager* weightManager = nullptr;    // owned; fifteen per-vertex region maps
    THPoint* grabbedPoint = nullptr;            // not owned; the point held by the editor's mouse
    // Indices into the engine's registries; meaningful only while `reconstructed` is true.
    int32_t headModel = -1;
    int32_t eyesModel = -1;
    int32_t hairsModel = -1;
    int32_t headNode = -1;    // node "Cube" of the head asset
    int32_t headEffect = -1;  // effect of that node; the diffusion pass swaps its shader
    // Texture cache index of the normal map that the reconstruction loaded; the render settings
    // switch it on and off. -1 when there is none.
    int32_t normalMapTexture = -1;
    bool rotating = false;
    int32_t lastMouseX = 0, lastMouseY = 0;  // panel pixels
    float yaw = 0, pitch = 0;                // degrees
    // Shader registry indices, from registration.
    int32_t phongShader = -1;
    int32_t normalMappingShader = -1;
    int32_t textureSpaceShader = -1;
    int32_t diffusionShader = -1;
    int32_t diffusionFinalShader = -1;
    // Vertex attribute locations of "tangent" and "binormal"; the head is loaded with the first pair.
    int32_t normalMappingTangent = -1, normalMappingBinormal = -1;
    int32_t textureSpaceTangent = -1, textureSpaceBinormal = -1;
    float specular[4] = {0.1f, 0.1f, 0.1f, 1.0f};
    float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    float ambient[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    float lightPosition[4] = {0.0f, -20.0f, 0.0f, 1.0f};  // x and z move with the light timer
    float shininess = 8.0f;
    int32_t baseSampler = 0;       // every sampler "Base": texture unit 0
    int32_t normalMapSampler = 1;  // every sampler "NormalMap": unit 1
    int32_t useTexture = 1;        // every "UseTexture"
    int32_t lightMapSampler = 1;   // every sampler "LightMap": unit 1
    int32_t shaderType = stNone;   // render setting, see ShaderType
    float lightSpeed = 0;          // added to lightAngle per timer tick
    bool enableTextures = true;
    bool renderHairs = true;
    bool wireframe = false;
    float lightAngle = 0;
    OffscreenTarget offscreenTargets[2];  // panel size; 0 texture-space lighting, 1 diffused
    TBitmap* frontThumbnail = nullptr;    // owned; larger side 200 pixels
    TBitmap* frontEditBitmap = nullptr;   // owned; larger side 610 pixels
    TBitmap* profileThumbnail = nullptr;  // owned
    TBitmap* profileEditBitmap = nullptr; // owned
    TBitmap* markBitmap = nullptr;        // owned; the editor's point marker
    TColladaEngine* engine = nullptr;     // owned; rendering engine on the 3D panel
    bool loading = false;  // set by the main window while it sets the orientation buttons
    int32_t displayMode = dmNothing;
    bool reconstructed = false;  // a head exists: 3D view, settings on models, export

    // --- photo queries ------------------------------------------------------------------------
    bool IsFrontLoaded();
    bool IsProfileLoaded();

    // --- photos and point editor (VultariEditor.cpp) -----------------------------------------
    bool LoadFrontImage(const std::string& path);
    bool LoadProfileImage(const std::string& path);
    void DrawThumbnail(TImage* image, int which);
    void DrawEditView(TImage* image, int which, int mouseX, int mouseY, bool highlight, bool grab);
    int GetProfileOrientation();
    void EditViewMouseDown(TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y);
    void EditViewMouseMove(TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y);
    void EditViewMouseUp(TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y);
    // A point the user placed is no proportion's guess any more: the recognition report stops
    // calling it a fallback. The points that moved along with it keep their mark.
    void MarkPlacedByHand(const THPoint* point);
    void SetEditMode(TImage* editImage, int mode);
    void SetProfileOrientation(TImage* profileImage, TImage* editImage, int orientation);

    // --- export (VultariExport.cpp) -----------------------------------------------------------
    bool ExportCollada(const std::string& path);

    // --- 3D view (VultariView.cpp) ------------------------------------------------------------
    void RenderFrame();
    void BeginRotate(int x, int y);
    void Rotate(int x, int y);
    void EndRotate();
    void ZoomIn();
    void ZoomOut();
    void SetRenderSettings(int shaderType, float lightSpeed, bool enableTextures, bool wireframe, bool renderHairs);
    void ApplyShaders();
    void LightStep();

    // --- offscreen targets (Vultari.cpp) ------------------------------------------------------
    void CreateOffscreenTargets(int width, int height);
    void DeleteOffscreenTargets();

    // --- reconstruction (VultariReconstruct.cpp) -----------------------------------------------
    // Builds the personal head from the two photos and their points. Everything is loaded and
    // checked before the current head is replaced: on any failure a message is shown and the
    // previous head, view, points and flags stay exactly as they were.
    void Reconstruct();
    static float Lerp(float a, float b, float f);  // (1 - f) * a + f * b
    static int32_t AbsInt(int32_t n);
    static void SwapInts(int32_t* a, int32_t* b);

private:
    bool DiffusionPassReady() const;  // head node, its effect and its base texture all exist
    void Release();  // frees every owned part in the destructor's order; safe on a partial object
};
