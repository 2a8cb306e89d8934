#include "platform/gl/GLFunctions.h"

#include "platform/gl/GLContext.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <type_traits>

GLEntryPoints glEntryPoints;

const char* const GLEntryPointNames[] = {
#define VULTARI_GL_NAME(name, result, params) "gl" #name,
    VULTARI_GL_EXTENSION_TABLE(VULTARI_GL_NAME) VULTARI_GL_EXTENSION_EXTRAS(VULTARI_GL_NAME)
#undef VULTARI_GL_NAME
};
static_assert(sizeof(GLEntryPointNames) / sizeof(GLEntryPointNames[0]) == GLEntryPointNameCount);

// The spelled-out types must be exactly the driver's.
#define VULTARI_GL_SAME(member, type) \
    static_assert(std::is_same_v<decltype(GLEntryPoints::member), type>, #member " has the wrong type");
VULTARI_GL_SAME(ActiveTextureARB, PFNGLACTIVETEXTUREARBPROC)
VULTARI_GL_SAME(GenBuffersARB, PFNGLGENBUFFERSARBPROC)
VULTARI_GL_SAME(BindBufferARB, PFNGLBINDBUFFERARBPROC)
VULTARI_GL_SAME(BufferDataARB, PFNGLBUFFERDATAARBPROC)
VULTARI_GL_SAME(DrawRangeElements, PFNGLDRAWRANGEELEMENTSPROC)
VULTARI_GL_SAME(CreateShaderObjectARB, PFNGLCREATESHADEROBJECTARBPROC)
VULTARI_GL_SAME(ShaderSourceARB, PFNGLSHADERSOURCEARBPROC)
VULTARI_GL_SAME(CompileShaderARB, PFNGLCOMPILESHADERARBPROC)
VULTARI_GL_SAME(CreateProgramObjectARB, PFNGLCREATEPROGRAMOBJECTARBPROC)
VULTARI_GL_SAME(AttachObjectARB, PFNGLATTACHOBJECTARBPROC)
VULTARI_GL_SAME(LinkProgramARB, PFNGLLINKPROGRAMARBPROC)
VULTARI_GL_SAME(GetUniformLocationARB, PFNGLGETUNIFORMLOCATIONARBPROC)
VULTARI_GL_SAME(UseProgramObjectARB, PFNGLUSEPROGRAMOBJECTARBPROC)
VULTARI_GL_SAME(Uniform4fv, PFNGLUNIFORM4FVPROC)
VULTARI_GL_SAME(GetObjectParameterivARB, PFNGLGETOBJECTPARAMETERIVARBPROC)
VULTARI_GL_SAME(GetInfoLogARB, PFNGLGETINFOLOGARBPROC)
VULTARI_GL_SAME(Uniform1fv, PFNGLUNIFORM1FVPROC)
VULTARI_GL_SAME(Uniform2fv, PFNGLUNIFORM2FVPROC)
VULTARI_GL_SAME(Uniform3fv, PFNGLUNIFORM3FVPROC)
VULTARI_GL_SAME(DeleteBuffers, PFNGLDELETEBUFFERSPROC)
VULTARI_GL_SAME(Uniform1iv, PFNGLUNIFORM1IVPROC)
VULTARI_GL_SAME(Uniform2iv, PFNGLUNIFORM2IVPROC)
VULTARI_GL_SAME(Uniform3iv, PFNGLUNIFORM3IVPROC)
VULTARI_GL_SAME(Uniform4iv, PFNGLUNIFORM4IVPROC)
VULTARI_GL_SAME(VertexAttribPointer, PFNGLVERTEXATTRIBPOINTERPROC)
VULTARI_GL_SAME(EnableVertexAttribArray, PFNGLENABLEVERTEXATTRIBARRAYPROC)
VULTARI_GL_SAME(DisableVertexAttribArray, PFNGLDISABLEVERTEXATTRIBARRAYPROC)
VULTARI_GL_SAME(GetAttribLocationARB, PFNGLGETATTRIBLOCATIONARBPROC)
VULTARI_GL_SAME(GenRenderbuffersEXT, PFNGLGENRENDERBUFFERSEXTPROC)
VULTARI_GL_SAME(BindRenderbufferEXT, PFNGLBINDRENDERBUFFEREXTPROC)
VULTARI_GL_SAME(RenderbufferStorageEXT, PFNGLRENDERBUFFERSTORAGEEXTPROC)
VULTARI_GL_SAME(GenFramebuffersEXT, PFNGLGENFRAMEBUFFERSEXTPROC)
VULTARI_GL_SAME(BindFramebufferEXT, PFNGLBINDFRAMEBUFFEREXTPROC)
VULTARI_GL_SAME(FramebufferRenderbufferEXT, PFNGLFRAMEBUFFERRENDERBUFFEREXTPROC)
VULTARI_GL_SAME(FramebufferTexture2DEXT, PFNGLFRAMEBUFFERTEXTURE2DEXTPROC)
VULTARI_GL_SAME(CheckFramebufferStatusEXT, PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC)
VULTARI_GL_SAME(DeleteRenderbuffersEXT, PFNGLDELETERENDERBUFFERSEXTPROC)
VULTARI_GL_SAME(DeleteFramebuffersEXT, PFNGLDELETEFRAMEBUFFERSEXTPROC)
VULTARI_GL_SAME(BindAttribLocationARB, PFNGLBINDATTRIBLOCATIONARBPROC)
#undef VULTARI_GL_SAME

static GLCoreFunctions DriverCoreFunctions()
{
    GLCoreFunctions functions;
#define VULTARI_GL_CORE(name, result, params) functions.name = &::gl##name;
#define glPerspective gluPerspective
    VULTARI_GL_CORE_FUNCTIONS(VULTARI_GL_CORE)
#undef glPerspective
#undef VULTARI_GL_CORE
    return functions;
}

GLCoreFunctions glCore = DriverCoreFunctions();

void ResetGLCoreFunctions()
{
    glCore = DriverCoreFunctions();
}

void LoadGLExtensions()
{
    int slot = 0;
#define VULTARI_GL_FETCH(name, result, params) \
    glEntryPoints.name = reinterpret_cast<decltype(glEntryPoints.name)>(glPlatform.GetProcAddress(GLEntryPointNames[slot++]));
    VULTARI_GL_EXTENSION_TABLE(VULTARI_GL_FETCH)
    VULTARI_GL_EXTENSION_EXTRAS(VULTARI_GL_FETCH)
#undef VULTARI_GL_FETCH
}

namespace {

// The extensions behind the ARB and EXT names of the table; the core 1.2, 1.5 and 2.0 names are
// covered by the version.
const char* const requiredExtensions[] = {
    "GL_ARB_multitexture",   "GL_ARB_vertex_buffer_object", "GL_ARB_shader_objects",
    "GL_ARB_vertex_shader",  "GL_ARB_fragment_shader",      "GL_EXT_framebuffer_object",
};

bool HasExtension(const char* extensions, const char* name)
{
    const size_t length = std::strlen(name);
    for (const char* at = extensions; (at = std::strstr(at, name)) != nullptr; at += length) {
        const bool startsWord = at == extensions || at[-1] == ' ';
        const bool endsWord = at[length] == '\0' || at[length] == ' ';
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

// "major.minor" at the start of GL_VERSION; anything after it (release, vendor text) is ignored.
bool ParseVersion(const char* version, int& major, int& minor)
{
    major = minor = 0;
    if (version == nullptr)
        return false;
    const char* at = version;
    if (*at < '0' || *at > '9')
        return false;
    while (*at >= '0' && *at <= '9')
        major = major * 10 + (*at++ - '0');
    if (*at++ != '.' || *at < '0' || *at > '9')
        return false;
    while (*at >= '0' && *at <= '9')
        minor = minor * 10 + (*at++ - '0');
    return true;
}

}  // namespace

std::string CheckGLCapabilities(const char* version, const char* extensions)
{
    int major = 0, minor = 0;
    const bool versionKnown = ParseVersion(version, major, minor);
    const bool versionOk = versionKnown && major >= 2;
    std::string missing;
    for (const char* name : requiredExtensions) {
        if (extensions == nullptr || !HasExtension(extensions, name))
            missing += std::string(missing.empty() ? "" : ", ") + name;
    }
    if (versionOk && missing.empty())
        return "";
    std::ostringstream text;
    text << "This program needs OpenGL 2.0 with framebuffer objects (GL_EXT_framebuffer_object).\n";
    text << "The graphics driver offers OpenGL " << (version != nullptr ? version : "(unknown version)");
    if (!missing.empty())
        text << " and lacks " << missing;
    text << ".";
    return text.str();
}
