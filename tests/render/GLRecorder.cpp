#include "tests/render/GLRecorder.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <stdexcept>

namespace {

GLRecorder* active = nullptr;

template <class Name, class F>
struct Recorder;

template <class Name, class R, class... A>
struct Recorder<Name, R (*)(A...)> {
    static R Record(A... args)
    {
        GLRecorder::Active().Record(Call(Name::value, args...));
        if constexpr (!std::is_void_v<R>)
            return R{};
    }
};

#define VULTARI_NAME_TYPE(name, result, params) \
    struct Name_##name {                        \
        static constexpr const char* value = "gl" #name; \
    };
VULTARI_GL_EXTENSION_TABLE(VULTARI_NAME_TYPE)
VULTARI_GL_EXTENSION_EXTRAS(VULTARI_NAME_TYPE)
#undef VULTARI_NAME_TYPE

#define VULTARI_NAME_TYPE(name, result, params) \
    struct CoreName_##name {                    \
        static constexpr const char* value = std::string_view(#name) == "Perspective" ? "gluPerspective" : "gl" #name; \
    };
VULTARI_GL_CORE_FUNCTIONS(VULTARI_NAME_TYPE)
#undef VULTARI_NAME_TYPE

GLRecorder& R() { return GLRecorder::Active(); }

unsigned int NewName() { return R().nextName++; }

void GenNames(const char* name, int n, unsigned int* names)
{
    std::string list;
    for (int i = 0; i < n; ++i) {
        names[i] = NewName();
        if (i)
            list += ' ';
        list += std::to_string(names[i]);
    }
    R().Record(Call(name, n) + " -> " + list);
}

void DeleteNames(const char* name, int n, const unsigned int* names)
{
    std::string list;
    for (int i = 0; i < n; ++i) {
        if (i)
            list += ' ';
        list += std::to_string(names[i]);
    }
    R().Record(Call(name, n) + " [" + list + "]");
}

// The recording extension table, with the slots that must answer something filled by hand.
GLEntryPoints RecordingTable()
{
    GLEntryPoints table;
#define VULTARI_SLOT(name, result, params) table.name = &Recorder<Name_##name, decltype(GLEntryPoints::name)>::Record;
    VULTARI_GL_EXTENSION_TABLE(VULTARI_SLOT)
    VULTARI_GL_EXTENSION_EXTRAS(VULTARI_SLOT)
#undef VULTARI_SLOT
    table.GenBuffersARB = [](int n, unsigned int* names) { GenNames("glGenBuffersARB", n, names); };
    table.DeleteBuffers = [](int n, const unsigned int* names) { DeleteNames("glDeleteBuffers", n, names); };
    table.CreateShaderObjectARB = [](unsigned int type) {
        const unsigned int name = NewName();
        R().Record(Call("glCreateShaderObjectARB", type) + " -> " + std::to_string(name));
        return name;
    };
    table.CreateProgramObjectARB = []() {
        const unsigned int name = NewName();
        R().Record(Call("glCreateProgramObjectARB") + " -> " + std::to_string(name));
        return name;
    };
    table.ShaderSourceARB = [](unsigned int shader, int count, const char** strings, const int* lengths) {
        R().Record(Call("glShaderSourceARB", shader, count, count > 0 ? strings[0] : nullptr, lengths));
        R().sources[shader] = count > 0 && strings[0] != nullptr ? strings[0] : "";
    };
    table.GetObjectParameterivARB = [](unsigned int object, unsigned int pname, int* value) {
        R().Record(Call("glGetObjectParameterivARB", object, pname));
        if (pname == GL_OBJECT_COMPILE_STATUS_ARB)
            *value = R().compileStatus;
        else if (pname == GL_OBJECT_LINK_STATUS_ARB)
            *value = R().linkStatus;
        else if (pname == GL_OBJECT_INFO_LOG_LENGTH_ARB)
            *value = static_cast<int>(R().infoLog.size()) + 1;
        else
            *value = 0;
    };
    table.GetInfoLogARB = [](unsigned int object, int maxLength, int* length, char* log) {
        R().Record(Call("glGetInfoLogARB", object, maxLength));
        const std::string& text = R().infoLog;
        const size_t n = std::min(text.size(), static_cast<size_t>(std::max(0, maxLength - 1)));
        if (maxLength > 0) {
            std::memcpy(log, text.data(), n);
            log[n] = '\0';
        }
        if (length != nullptr)
            *length = static_cast<int>(n);
    };
    table.GetUniformLocationARB = [](unsigned int program, const char* name) {
        const auto found = R().uniformLocations.find(name);
        const int location = found == R().uniformLocations.end() ? -1 : found->second;
        R().Record(Call("glGetUniformLocationARB", program, name) + " -> " + std::to_string(location));
        return location;
    };
    table.GetAttribLocationARB = [](unsigned int program, const char* name) {
        const auto found = R().attributeLocations.find(name);
        const int location = found == R().attributeLocations.end() ? -1 : found->second;
        R().Record(Call("glGetAttribLocationARB", program, name) + " -> " + std::to_string(location));
        return location;
    };
    // Uniform values are recorded with their components.
#define VULTARI_UNIFORM(slot, type, components)                                                     \
    table.slot = [](int location, int count, const type* values) {                                  \
        std::string text = Call("gl" #slot, location, count);                                      \
        for (int i = 0; i < (components) * count; ++i)                                              \
            text.append(" ").append(recording::Format(values[i]));                                  \
        R().Record(text);                                                                           \
    };
    VULTARI_UNIFORM(Uniform1iv, int, 1)
    VULTARI_UNIFORM(Uniform2iv, int, 2)
    VULTARI_UNIFORM(Uniform3iv, int, 3)
    VULTARI_UNIFORM(Uniform4iv, int, 4)
    VULTARI_UNIFORM(Uniform1fv, float, 1)
    VULTARI_UNIFORM(Uniform2fv, float, 2)
    VULTARI_UNIFORM(Uniform3fv, float, 3)
    VULTARI_UNIFORM(Uniform4fv, float, 4)
#undef VULTARI_UNIFORM
    return table;
}

GLCoreFunctions RecordingCore()
{
    GLCoreFunctions core;
#define VULTARI_SLOT(name, result, params) core.name = &Recorder<CoreName_##name, decltype(GLCoreFunctions::name)>::Record;
    VULTARI_GL_CORE_FUNCTIONS(VULTARI_SLOT)
#undef VULTARI_SLOT
    core.GetString = [](unsigned int name) -> const unsigned char* {
        R().Record(Call("glGetString", name));
        if (name == GL_VERSION)
            return R().nullVersion ? nullptr : reinterpret_cast<const unsigned char*>(R().version.c_str());
        if (name == GL_EXTENSIONS)
            return reinterpret_cast<const unsigned char*>(R().extensions.c_str());
        return reinterpret_cast<const unsigned char*>("recorder");
    };
    core.GenTextures = [](int n, unsigned int* names) { GenNames("glGenTextures", n, names); };
    core.DeleteTextures = [](int n, const unsigned int* names) { DeleteNames("glDeleteTextures", n, names); };
    core.TexImage2D = [](unsigned int target, int level, int internalFormat, int width, int height, int border,
                         unsigned int format, unsigned int type, const void* pixels) {
        R().Record(Call("glTexImage2D", target, level, internalFormat, width, height, border, format, type, pixels));
        GLRecorder::Upload upload;
        upload.width = width;
        upload.height = height;
        if (pixels != nullptr && width > 0 && height > 0) {
            const auto* bytes = static_cast<const unsigned char*>(pixels);
            upload.bytes.assign(bytes, bytes + static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
        }
        R().uploads.push_back(std::move(upload));
    };
    return core;
}

// The platform stand-in: surfaces and contexts are tokens, never dereferenced.
int surfaceToken = 0;
int contextToken = 0;
GLSurface* const fakeSurface = reinterpret_cast<GLSurface*>(&surfaceToken);
GLRenderContext* const fakeContext = reinterpret_cast<GLRenderContext*>(&contextToken);

std::string Handle(const void* handle)
{
    if (handle == nullptr)
        return "null";
    return handle == fakeSurface ? "surface" : handle == fakeContext ? "context" : "other";
}

GLPlatform RecordingPlatform()
{
    GLPlatform platform;
    platform.GetSurface = [](WindowHandle window, int width, int height) -> GLSurface* {
        R().Record(Call("GetSurface", window, width, height));
        return R().failAt == "GetSurface" ? nullptr : fakeSurface;
    };
    platform.ChoosePixelFormat = [](GLSurface* surface) {
        R().Record("ChoosePixelFormat(" + Handle(surface) + ")");
        return R().failAt != "ChoosePixelFormat";
    };
    platform.SetPixelFormat = [](GLSurface* surface) {
        R().Record("SetPixelFormat(" + Handle(surface) + ")");
        return R().failAt != "SetPixelFormat";
    };
    platform.CreateContext = [](GLSurface* surface) -> GLRenderContext* {
        R().Record("CreateContext(" + Handle(surface) + ")");
        return R().failAt == "CreateContext" ? nullptr : fakeContext;
    };
    platform.MakeCurrent = [](GLSurface* surface, GLRenderContext* context) {
        R().Record("MakeCurrent(" + Handle(surface) + ", " + Handle(context) + ")");
        return R().failAt != "MakeCurrent" || surface == nullptr;
    };
    platform.SwapBuffers = [](GLSurface* surface) { R().Record("SwapBuffers(" + Handle(surface) + ")"); };
    platform.DeleteContext = [](GLRenderContext* context) { R().Record("DeleteContext(" + Handle(context) + ")"); };
    platform.ReleaseSurface = [](GLSurface* surface) { R().Record("ReleaseSurface(" + Handle(surface) + ")"); };
    platform.GetProcAddress = [](const char* name) {
        R().Record(Call("GetProcAddress", name));
        return RecordingEntryPoint(name);
    };
    return platform;
}

}  // namespace

GLProc RecordingEntryPoint(const char* name)
{
    static const GLEntryPoints table = RecordingTable();
#define VULTARI_LOOKUP(member, result, params) \
    if (std::strcmp(name, "gl" #member) == 0)  \
        return reinterpret_cast<GLProc>(table.member);
    VULTARI_GL_EXTENSION_TABLE(VULTARI_LOOKUP)
    VULTARI_GL_EXTENSION_EXTRAS(VULTARI_LOOKUP)
#undef VULTARI_LOOKUP
    return nullptr;
}

GLRecorder::GLRecorder()
{
    if (active != nullptr)
        throw std::logic_error("one GLRecorder at a time");
    active = this;
    savedPlatform = glPlatform;
    savedEntryPoints = glEntryPoints;
    glPlatform = RecordingPlatform();
    glCore = RecordingCore();
    // Tests that skip the engine's constructor still find a filled table.
    glEntryPoints = RecordingTable();
}

GLRecorder::~GLRecorder()
{
    glPlatform = savedPlatform;
    glEntryPoints = savedEntryPoints;
    ResetGLCoreFunctions();
    active = nullptr;
}

GLRecorder& GLRecorder::Active()
{
    if (active == nullptr)
        throw std::logic_error("no GLRecorder is active");
    return *active;
}

std::vector<std::string> GLRecorder::Calls(const std::vector<std::string>& names) const
{
    std::vector<std::string> result;
    for (const std::string& call : calls) {
        const std::string name = call.substr(0, call.find('('));
        if (names.empty() || std::find(names.begin(), names.end(), name) != names.end())
            result.push_back(call);
    }
    return result;
}

std::vector<std::string> GLRecorder::Names() const
{
    std::vector<std::string> result;
    for (const std::string& call : calls)
        result.push_back(call.substr(0, call.find('(')));
    return result;
}
