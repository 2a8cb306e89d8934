#include "render/Colladaengine.h"

#include "collada/Colladaasset.h"
#include "platform/base/Messages.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr const char* pixelFormatMessage = "Unable to set pixel format";

// Buffer fields of a geometry in upload and deletion order.
unsigned int* BufferFields(TGeometry& g, int i)
{
    unsigned int* fields[] = {&g.positionBuffer, &g.normalBuffer,  &g.texCoordBuffer, &g.colorBuffer,
                              &g.tangentBuffer,  &g.binormalBuffer, &g.triangleBuffer, &g.lineBuffer};
    return fields[i];
}

void DeleteGeometryBuffers(TGeometry& geometry)
{
    for (int i = 0; i < 8; ++i) {
        unsigned int* name = BufferFields(geometry, i);
        if (*name != 0) {
            glEntryPoints.DeleteBuffers(1, name);
            *name = 0;
        }
    }
}

template <class T>
void Upload(const std::vector<T>& array, unsigned int& buffer, unsigned int target, unsigned int usage)
{
    if (array.empty())
        return;
    glEntryPoints.GenBuffersARB(1, &buffer);
    glEntryPoints.BindBufferARB(target, buffer);
    glEntryPoints.BufferDataARB(target, static_cast<std::ptrdiff_t>(array.size() * sizeof(T)), array.data(), usage);
}

void UploadGeometry(TGeometry& g, unsigned int usage)
{
    Upload(g.positions, g.positionBuffer, GL_ARRAY_BUFFER, usage);
    Upload(g.normals, g.normalBuffer, GL_ARRAY_BUFFER, usage);
    Upload(g.texCoords, g.texCoordBuffer, GL_ARRAY_BUFFER, usage);
    Upload(g.colors, g.colorBuffer, GL_ARRAY_BUFFER, usage);
    Upload(g.tangents, g.tangentBuffer, GL_ARRAY_BUFFER, usage);
    Upload(g.binormals, g.binormalBuffer, GL_ARRAY_BUFFER, usage);
    Upload(g.triangles, g.triangleBuffer, GL_ELEMENT_ARRAY_BUFFER, usage);
    Upload(g.lines, g.lineBuffer, GL_ELEMENT_ARRAY_BUFFER, usage);
}

// An array takes part in drawing when it holds values and has its buffer.
bool Usable(const std::vector<float>& array, unsigned int buffer)
{
    return !array.empty() && buffer != 0;
}

// True when every index of `list` addresses a vertex that each array drawn with it holds.
bool IndicesFit(const std::vector<int>& list, size_t vertices)
{
    if (list.empty())
        return false;
    const auto [low, high] = std::minmax_element(list.begin(), list.end());
    return *low >= 0 && static_cast<size_t>(*high) < vertices;
}

bool ValidIndex(int index, size_t size)
{
    return index >= 0 && static_cast<size_t>(index) < size;
}

void ApplyTransform(const std::array<float, 3>& translate, const std::array<float, 3>& rotate,
                    const std::array<float, 3>& scale)
{
    glCore.Translatef(translate[0], translate[1], translate[2]);
    glCore.Rotatef(rotate[2], 0.0f, 0.0f, 1.0f);
    glCore.Rotatef(rotate[1], 0.0f, 1.0f, 0.0f);
    glCore.Rotatef(rotate[0], 1.0f, 0.0f, 0.0f);
    glCore.Scalef(scale[0], scale[1], scale[2]);
}

}  // namespace

TColladaEngine::TColladaEngine(TXMLDocument* xmlDocument, WindowHandle window, int clientWidth, int clientHeight,
                               float fovy, float zNear, float zFar)
    : xmlDocument(xmlDocument)
{
    InitGL(window, clientWidth, clientHeight, fovy, zNear, zFar);
}

void TColladaEngine::InitGL(WindowHandle window, int width, int height, float fovy, float zNear, float zFar)
{
    this->window = window;
    useShaders = true;
    useTextures = true;
    useTangentAttributes = false;
    textureEngine = new TTextureEngine;
    shaderEngine = new TShaderEngine;
    this->fovy = fovy;
    this->zNear = zNear;
    this->zFar = zFar;

    // A failure here leaves the program without a drawing surface: say so and end the process. The
    // layer has written the details to standard error.
    const auto fail = [this](const std::string& message) {
        if (renderContext != nullptr) {
            glPlatform.MakeCurrent(nullptr, nullptr);
            glPlatform.DeleteContext(renderContext);
            renderContext = nullptr;
        }
        glPlatform.ReleaseSurface(deviceContext);
        deviceContext = nullptr;
        delete textureEngine;
        textureEngine = nullptr;
        delete shaderEngine;
        shaderEngine = nullptr;
        ShowMessage(message);
        std::exit(1);
    };

    deviceContext = glPlatform.GetSurface(window, width, height);
    if (deviceContext == nullptr || !glPlatform.ChoosePixelFormat(deviceContext) ||
        !glPlatform.SetPixelFormat(deviceContext))
        fail(pixelFormatMessage);
    renderContext = glPlatform.CreateContext(deviceContext);
    if (renderContext == nullptr || !glPlatform.MakeCurrent(deviceContext, renderContext))
        fail(pixelFormatMessage);

    // A proc address is never null here, so the table proves nothing: ask the driver what it offers.
    const char* version = reinterpret_cast<const char*>(glCore.GetString(GL_VERSION));
    const char* extensions = reinterpret_cast<const char*>(glCore.GetString(GL_EXTENSIONS));
    const std::string missing = CheckGLCapabilities(version, extensions);
    if (!missing.empty())
        fail(missing);

    glCore.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glCore.ClearDepth(1.0);
    glCore.Enable(GL_DEPTH_TEST);
    glCore.Viewport(0, 0, width, height);

    glCore.MatrixMode(GL_PROJECTION);
    glCore.LoadIdentity();
    glCore.Perspective(static_cast<double>(fovy), static_cast<double>(width) / static_cast<double>(height),
                       static_cast<double>(zNear), static_cast<double>(zFar));

    glCore.MatrixMode(GL_MODELVIEW);
    glCore.LoadIdentity();
    glCore.PolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    LoadGLExtensions();
}

TColladaEngine::~TColladaEngine()
{
    for (TColladaAsset* model : models) {
        DeleteBuffers(model);
        delete model;
    }
    delete textureEngine;
    textureEngine = nullptr;
    delete shaderEngine;
    shaderEngine = nullptr;
    models.clear();
    glPlatform.MakeCurrent(nullptr, nullptr);
    glPlatform.DeleteContext(renderContext);
    renderContext = nullptr;
    glPlatform.ReleaseSurface(deviceContext);
    deviceContext = nullptr;
}

void TColladaEngine::SwapBuffers()
{
    glPlatform.SwapBuffers(deviceContext);
}

void TColladaEngine::MakeCurrent()
{
    glPlatform.MakeCurrent(deviceContext, renderContext);
}

int TColladaEngine::LoadModel(const std::string& path)
{
    if (xmlDocument == nullptr)
        return -1;
    auto asset = std::make_unique<TColladaAsset>(xmlDocument);
    if (!asset->Load(path))
        return -1;
    CreateBuffers(asset.get());
    models.push_back(asset.get());
    asset.release();
    return static_cast<int>(models.size()) - 1;
}

int TColladaEngine::LoadModelWithTangents(const std::string& path, int tangentLocation, int binormalLocation)
{
    if (xmlDocument == nullptr)
        return -1;
    auto asset = std::make_unique<TColladaAsset>(xmlDocument);
    if (!asset->Load(path))
        return -1;
    for (const auto& geometry : asset->geometries.geometries) {
        geometry->tangentAttribute = tangentLocation;
        geometry->binormalAttribute = binormalLocation;
        geometry->ComputeTangentSpace();
    }
    useTangentAttributes = true;
    CreateBuffers(asset.get());
    models.push_back(asset.get());
    asset.release();
    return static_cast<int>(models.size()) - 1;
}

void TColladaEngine::CreateBuffers(TColladaAsset* asset)
{
    UploadBuffers(asset, GL_STATIC_DRAW);
}

void TColladaEngine::UpdateBuffers(TColladaAsset* asset)
{
    DeleteBuffers(asset);
    UploadBuffers(asset, GL_DYNAMIC_DRAW);
}

void TColladaEngine::DeleteBuffers(TColladaAsset* asset)
{
    if (asset == nullptr)
        return;
    for (const auto& geometry : asset->geometries.geometries)
        DeleteGeometryBuffers(*geometry);
}

void TColladaEngine::UploadBuffers(TColladaAsset* asset, unsigned int usage)
{
    if (asset == nullptr)
        return;
    for (const auto& geometry : asset->geometries.geometries)
        UploadGeometry(*geometry, usage);
}

void TColladaEngine::DrawGeometry(TGeometry* geometry)
{
    if (geometry == nullptr)
        return;
    TGeometry& g = *geometry;
    if (g.triangles.empty() && g.lines.empty())
        return;

    const bool positions = Usable(g.positions, g.positionBuffer);
    const bool normals = Usable(g.normals, g.normalBuffer);
    const bool texCoords = Usable(g.texCoords, g.texCoordBuffer);
    const bool colors = Usable(g.colors, g.colorBuffer);
    // A location of -1 is an attribute the program does not use: never pointed at, never enabled.
    const bool tangents = Usable(g.tangents, g.tangentBuffer) && g.tangentAttribute >= 0;
    const bool binormals = Usable(g.binormals, g.binormalBuffer) && g.binormalAttribute >= 0;

    // The vertices every array that GL reads holds; an index at or past it would read past a buffer.
    size_t vertices = positions ? g.positions.size() / 3 : 0;
    if (normals)
        vertices = std::min(vertices, g.normals.size() / 3);
    if (texCoords)
        vertices = std::min(vertices, g.texCoords.size() / 2);
    if (colors)
        vertices = std::min(vertices, g.colors.size() / 4);
    if (tangents && useTangentAttributes)
        vertices = std::min(vertices, g.tangents.size() / 3);
    if (binormals && useTangentAttributes)
        vertices = std::min(vertices, g.binormals.size() / 3);
    const bool drawTriangles = g.triangleBuffer != 0 && IndicesFit(g.triangles, vertices);
    const bool drawLines = g.lineBuffer != 0 && IndicesFit(g.lines, vertices);
    if ((!g.triangles.empty() && !drawTriangles) || (!g.lines.empty() && !drawLines)) {
        if (std::find(reportedGeometries.begin(), reportedGeometries.end(), geometry) == reportedGeometries.end()) {
            reportedGeometries.push_back(geometry);
            std::fprintf(stderr,
                         "Geometry \"%s\": an index list addresses vertices beyond its arrays (or was not "
                         "uploaded); it is not drawn.\n",
                         g.name.c_str());
        }
    }

    if (positions) {
        glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.positionBuffer);
        glCore.VertexPointer(3, GL_FLOAT, 0, nullptr);
    }
    if (normals) {
        glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.normalBuffer);
        glCore.NormalPointer(GL_FLOAT, 0, nullptr);
    }
    if (texCoords) {
        glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.texCoordBuffer);
        glCore.TexCoordPointer(2, GL_FLOAT, 0, nullptr);
    }
    if (colors) {
        glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.colorBuffer);
        glCore.ColorPointer(4, GL_FLOAT, 0, nullptr);
    } else {
        glCore.Color4f(1.0f, 1.0f, 1.0f, 1.0f);
    }
    if (tangents) {
        glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.tangentBuffer);
        glEntryPoints.VertexAttribPointer(static_cast<unsigned>(g.tangentAttribute), 3, GL_FLOAT, GL_FALSE, 0, nullptr);
    }
    if (binormals) {
        glEntryPoints.BindBufferARB(GL_ARRAY_BUFFER, g.binormalBuffer);
        glEntryPoints.VertexAttribPointer(static_cast<unsigned>(g.binormalAttribute), 3, GL_FLOAT, GL_FALSE, 0,
                                          nullptr);
    }

    if (positions)
        glCore.EnableClientState(GL_VERTEX_ARRAY);
    if (normals)
        glCore.EnableClientState(GL_NORMAL_ARRAY);
    if (texCoords)
        glCore.EnableClientState(GL_TEXTURE_COORD_ARRAY);
    if (colors)
        glCore.EnableClientState(GL_COLOR_ARRAY);
    if (useTangentAttributes) {
        if (tangents)
            glEntryPoints.EnableVertexAttribArray(static_cast<unsigned>(g.tangentAttribute));
        if (binormals)
            glEntryPoints.EnableVertexAttribArray(static_cast<unsigned>(g.binormalAttribute));
    }

    if (drawTriangles) {
        const int n = static_cast<int>(g.triangles.size());
        glEntryPoints.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER, g.triangleBuffer);
        glEntryPoints.DrawRangeElements(GL_TRIANGLES, 0, static_cast<unsigned>(n - 1), n, GL_UNSIGNED_INT, nullptr);
    }
    if (drawLines) {
        const int n = static_cast<int>(g.lines.size());
        glEntryPoints.BindBufferARB(GL_ELEMENT_ARRAY_BUFFER, g.lineBuffer);
        glEntryPoints.DrawRangeElements(GL_LINES, 0, static_cast<unsigned>(n - 1), n, GL_UNSIGNED_INT, nullptr);
    }

    if (positions)
        glCore.DisableClientState(GL_VERTEX_ARRAY);
    if (normals)
        glCore.DisableClientState(GL_NORMAL_ARRAY);
    if (texCoords)
        glCore.DisableClientState(GL_TEXTURE_COORD_ARRAY);
    if (colors)
        glCore.DisableClientState(GL_COLOR_ARRAY);
    if (useTangentAttributes) {
        if (tangents)
            glEntryPoints.DisableVertexAttribArray(static_cast<unsigned>(g.tangentAttribute));
        if (binormals)
            glEntryPoints.DisableVertexAttribArray(static_cast<unsigned>(g.binormalAttribute));
    }
}

void TColladaEngine::RenderAsset(TColladaAsset* asset)
{
    if (asset == nullptr || !asset->visible)
        return;
    if (asset->polygonMode != -1)
        glCore.PolygonMode(GL_FRONT_AND_BACK, static_cast<unsigned>(asset->polygonMode));

    const auto& textures = textureEngine->textures;
    const auto& effects = asset->effects.effects;
    const auto& geometries = asset->geometries.geometries;
    for (const auto& node : asset->visualScenes.nodes) {
        glCore.PushMatrix();
        ApplyTransform(asset->translate, asset->rotate, asset->scale);
        ApplyTransform(node->translate, node->rotate, node->scale);

        // Texture indices outside the cache are skipped, never dereferenced.
        if (useTextures) {
            for (int k : node->textures)
                if (ValidIndex(k, textures.size()))
                    textures[static_cast<size_t>(k)]->Bind();
        }

        int program = -1;
        if (useShaders) {
            if (ValidIndex(node->effectIndex, effects.size()))
                program = effects[static_cast<size_t>(node->effectIndex)]->shaderIndex;
            if (program == -1)
                program = asset->shaderIndex;
        }
        shaderEngine->UseShader(program);

        if (ValidIndex(node->geometryIndex, geometries.size()))
            DrawGeometry(geometries[static_cast<size_t>(node->geometryIndex)].get());

        if (useTextures) {
            for (int k : node->textures)
                if (ValidIndex(k, textures.size()))
                    textures[static_cast<size_t>(k)]->Unbind();
        }
        glCore.PopMatrix();
    }
}

void TColladaEngine::RenderModel(int index)
{
    if (ValidIndex(index, models.size()))
        RenderAsset(models[static_cast<size_t>(index)]);
}

bool TColladaEngine::LoadTextures(const std::string& directory)
{
    for (TColladaAsset* model : models) {
        const auto& effects = model->effects.effects;
        const auto& files = model->images.files;
        for (const auto& node : model->visualScenes.nodes) {
            if (!ValidIndex(node->effectIndex, effects.size()))
                continue;
            const int image = effects[static_cast<size_t>(node->effectIndex)]->imageIndex;
            if (!ValidIndex(image, files.size()))
                continue;
            std::string path = files[static_cast<size_t>(image)];
            if (!directory.empty()) {
                const size_t delimiter = path.find_last_of("/\\");
                path = directory + (delimiter == std::string::npos ? path : path.substr(delimiter + 1));
            }
            node->textures.push_back(textureEngine->LoadTexture(path, GL_TEXTURE0));
        }
    }
    return true;
}

void TColladaEngine::ClearModels()
{
    for (TColladaAsset* model : models) {
        DeleteBuffers(model);
        delete model;
    }
    models.clear();
    reportedGeometries.clear();
}
