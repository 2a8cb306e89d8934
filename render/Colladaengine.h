#pragma once
// The rendering engine of the 3D panel: the GL context on its window, the registry of loaded COLLADA
// models, their upload into buffer objects and their drawing with node transforms, textures and
// shader programs. It owns the texture cache and the shader registry.
//
// Everything runs on the user-interface thread with the engine's context current; the context is
// made current by the constructor and stays so (MakeCurrent puts it back if anything else took it).
#include "platform/gl/GLContext.h"
#include "platform/gl/GLFunctions.h"
#include "render/Shaderengine.h"
#include "render/Textureengine.h"

#include <string>
#include <vector>

class TXMLDocument;
class TColladaAsset;
class TGeometry;

class TColladaEngine {
public:
    // Makes the GL context on `window` (an X11 window id on the default display; 0 = a headless
    // drawable of the given size), sets the first state and the projection and fills the entry-point
    // table. When no context can be made, or the driver lacks OpenGL 2.0 with framebuffer objects, it
    // shows a message and ends the process with exit code 1: no engine is returned.
    TColladaEngine(TXMLDocument* xmlDocument, WindowHandle window, int clientWidth, int clientHeight, float fovy,
                   float zNear, float zFar);
    // Deletes the models' buffers and the models, the texture cache, the shader registry, then the
    // context and the drawable, in that order. Anything else made with the context goes first.
    ~TColladaEngine();
    TColladaEngine(const TColladaEngine&) = delete;
    TColladaEngine& operator=(const TColladaEngine&) = delete;

    // Presents the finished frame.
    void SwapBuffers();
    // Makes the engine's context current again (a no-op when it is).
    void MakeCurrent();

    // Reads the model and uploads it; the index of the new model, -1 when the file does not read as
    // an asset (nothing is kept). A missing or malformed file throws (Exception) and keeps nothing.
    int LoadModel(const std::string& path);
    // As LoadModel, and every geometry gets tangents and binormals fed to the given attribute
    // locations (-1: not fed); sets useTangentAttributes.
    int LoadModelWithTangents(const std::string& path, int tangentLocation, int binormalLocation);
    // Uploads every present array of every geometry (GL_STATIC_DRAW).
    void CreateBuffers(TColladaAsset* asset);
    // Deletes and re-uploads every geometry's buffers (GL_DYNAMIC_DRAW), after vertices moved.
    void UpdateBuffers(TColladaAsset* asset);
    // Draws one geometry from its buffers. An index list that addresses a vertex beyond an uploaded
    // array is not drawn.
    void DrawGeometry(TGeometry* geometry);
    // Draws one asset node by node (asset transform, node transform, textures, program, geometry).
    void RenderAsset(TColladaAsset* asset);
    // Draws the model at `index`; an index outside the list draws nothing.
    void RenderModel(int index);
    // Loads the image of every node's effect on GL_TEXTURE0 and appends its index to the node's
    // textures; with a non-empty `directory` the image's file name is looked for there. Returns true.
    // An image that cannot be read throws (Exception) from the texture cache.
    bool LoadTextures(const std::string& directory);
    // Deletes every model's buffers and every model; textures are kept.
    void ClearModels();

    GLRenderContext* renderContext = nullptr;  // the GL context; null after destruction
    GLSurface* deviceContext = nullptr;        // display and drawable; null after destruction
    WindowHandle window = 0;                   // the window drawn into; not owned
    TXMLDocument* xmlDocument = nullptr;       // reads every model; not owned
    float fovy = 0;                            // vertical field of view, degrees
    float zNear = 0;
    float zFar = 0;
    std::vector<TColladaAsset*> models;        // owned; a model is addressed by its index
    TTextureEngine* textureEngine = nullptr;   // owned
    TShaderEngine* shaderEngine = nullptr;     // owned
    bool useShaders = true;                    // the drawing picks a program per node
    bool useTextures = true;                   // the drawing binds each node's textures
    bool useTangentAttributes = false;         // the drawing enables the tangent/binormal arrays

private:
    void InitGL(WindowHandle window, int width, int height, float fovy, float zNear, float zFar);
    void DeleteBuffers(TColladaAsset* asset);
    void UploadBuffers(TColladaAsset* asset, unsigned int usage);

    std::vector<const TGeometry*> reportedGeometries;  // warned about once: index lists not drawn
};
