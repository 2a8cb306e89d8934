#pragma once
// The GL entry points the engine and the core call, as tables of function pointers.
//
// `glEntryPoints` is the process-wide extension table: its first 38 slots are fetched by name, in
// declaration order, by LoadGLExtensions once a context is current. `glCore` holds the OpenGL 1.1
// and GLU functions, linked statically. Every GL call of the engine goes through one of the two
// tables, so a test can put recording functions in their place and check the calls without a driver.
//
// The member names drop the "gl" prefix on purpose: GLEW defines the full names as macros, and the
// core includes GLEW next to this header. No GL header is included here for the same reason; the
// types below are the GL types spelled out (static_asserts in GLFunctions.cpp keep them exact).
#include <cstddef>
#include <string>

using GLProc = void (*)();

// X(member, return type, parameter list). The first 38 entries are the extension table in fetch
// order; the entries after them are further extension calls of this port (fixed attribute locations).
#define VULTARI_GL_EXTENSION_TABLE(X)                                                                           \
    X(ActiveTextureARB, void, (unsigned int texture))                                                         \
    X(GenBuffersARB, void, (int n, unsigned int* buffers))                                                    \
    X(BindBufferARB, void, (unsigned int target, unsigned int buffer))                                        \
    X(BufferDataARB, void, (unsigned int target, std::ptrdiff_t size, const void* data, unsigned int usage))  \
    X(DrawRangeElements, void,                                                                                \
      (unsigned int mode, unsigned int start, unsigned int end, int count, unsigned int type, const void* indices)) \
    X(CreateShaderObjectARB, unsigned int, (unsigned int shaderType))                                         \
    X(ShaderSourceARB, void, (unsigned int shader, int count, const char** strings, const int* lengths))      \
    X(CompileShaderARB, void, (unsigned int shader))                                                          \
    X(CreateProgramObjectARB, unsigned int, ())                                                               \
    X(AttachObjectARB, void, (unsigned int program, unsigned int shader))                                     \
    X(LinkProgramARB, void, (unsigned int program))                                                           \
    X(GetUniformLocationARB, int, (unsigned int program, const char* name))                                   \
    X(UseProgramObjectARB, void, (unsigned int program))                                                      \
    X(Uniform4fv, void, (int location, int count, const float* values))                                      \
    X(GetObjectParameterivARB, void, (unsigned int object, unsigned int pname, int* params))                  \
    X(GetInfoLogARB, void, (unsigned int object, int maxLength, int* length, char* infoLog))                  \
    X(Uniform1fv, void, (int location, int count, const float* values))                                      \
    X(Uniform2fv, void, (int location, int count, const float* values))                                      \
    X(Uniform3fv, void, (int location, int count, const float* values))                                      \
    X(DeleteBuffers, void, (int n, const unsigned int* buffers))                                              \
    X(Uniform1iv, void, (int location, int count, const int* values))                                        \
    X(Uniform2iv, void, (int location, int count, const int* values))                                        \
    X(Uniform3iv, void, (int location, int count, const int* values))                                        \
    X(Uniform4iv, void, (int location, int count, const int* values))                                        \
    X(VertexAttribPointer, void,                                                                              \
      (unsigned int index, int size, unsigned int type, unsigned char normalized, int stride, const void* pointer)) \
    X(EnableVertexAttribArray, void, (unsigned int index))                                                    \
    X(DisableVertexAttribArray, void, (unsigned int index))                                                   \
    X(GetAttribLocationARB, int, (unsigned int program, const char* name))                                    \
    X(GenRenderbuffersEXT, void, (int n, unsigned int* renderbuffers))                                        \
    X(BindRenderbufferEXT, void, (unsigned int target, unsigned int renderbuffer))                            \
    X(RenderbufferStorageEXT, void, (unsigned int target, unsigned int internalFormat, int width, int height)) \
    X(GenFramebuffersEXT, void, (int n, unsigned int* framebuffers))                                          \
    X(BindFramebufferEXT, void, (unsigned int target, unsigned int framebuffer))                              \
    X(FramebufferRenderbufferEXT, void,                                                                       \
      (unsigned int target, unsigned int attachment, unsigned int renderbufferTarget, unsigned int renderbuffer)) \
    X(FramebufferTexture2DEXT, void,                                                                          \
      (unsigned int target, unsigned int attachment, unsigned int texTarget, unsigned int texture, int level)) \
    X(CheckFramebufferStatusEXT, unsigned int, (unsigned int target))                                         \
    X(DeleteRenderbuffersEXT, void, (int n, const unsigned int* renderbuffers))                               \
    X(DeleteFramebuffersEXT, void, (int n, const unsigned int* framebuffers))

#define VULTARI_GL_EXTENSION_EXTRAS(X)                                                                          \
    X(BindAttribLocationARB, void, (unsigned int program, unsigned int index, const char* name))

// OpenGL 1.1 and GLU, in no particular order.
#define VULTARI_GL_CORE_FUNCTIONS(X)                                                                            \
    X(GetString, const unsigned char*, (unsigned int name))                                                   \
    X(GetError, unsigned int, ())                                                                             \
    X(ClearColor, void, (float red, float green, float blue, float alpha))                                    \
    X(ClearDepth, void, (double depth))                                                                       \
    X(Enable, void, (unsigned int capability))                                                                \
    X(Disable, void, (unsigned int capability))                                                               \
    X(Viewport, void, (int x, int y, int width, int height))                                                  \
    X(MatrixMode, void, (unsigned int mode))                                                                  \
    X(LoadIdentity, void, ())                                                                                 \
    X(Perspective, void, (double fovy, double aspect, double zNear, double zFar))                             \
    X(PolygonMode, void, (unsigned int face, unsigned int mode))                                              \
    X(PushMatrix, void, ())                                                                                   \
    X(PopMatrix, void, ())                                                                                    \
    X(Translatef, void, (float x, float y, float z))                                                          \
    X(Rotatef, void, (float angle, float x, float y, float z))                                                \
    X(Scalef, void, (float x, float y, float z))                                                              \
    X(VertexPointer, void, (int size, unsigned int type, int stride, const void* pointer))                    \
    X(NormalPointer, void, (unsigned int type, int stride, const void* pointer))                              \
    X(TexCoordPointer, void, (int size, unsigned int type, int stride, const void* pointer))                  \
    X(ColorPointer, void, (int size, unsigned int type, int stride, const void* pointer))                     \
    X(Color4f, void, (float red, float green, float blue, float alpha))                                       \
    X(EnableClientState, void, (unsigned int array))                                                          \
    X(DisableClientState, void, (unsigned int array))                                                         \
    X(GenTextures, void, (int n, unsigned int* textures))                                                     \
    X(BindTexture, void, (unsigned int target, unsigned int texture))                                         \
    X(DeleteTextures, void, (int n, const unsigned int* textures))                                            \
    X(PixelStorei, void, (unsigned int pname, int param))                                                     \
    X(TexParameteri, void, (unsigned int target, unsigned int pname, int param))                              \
    X(TexImage2D, void,                                                                                       \
      (unsigned int target, int level, int internalFormat, int width, int height, int border,                \
       unsigned int format, unsigned int type, const void* pixels))

#define VULTARI_GL_MEMBER(name, result, params) result(*name) params = nullptr;

// The extension table. All slots are null until LoadGLExtensions has run.
struct GLEntryPoints {
    VULTARI_GL_EXTENSION_TABLE(VULTARI_GL_MEMBER)
    VULTARI_GL_EXTENSION_EXTRAS(VULTARI_GL_MEMBER)
};

struct GLCoreFunctions {
    VULTARI_GL_CORE_FUNCTIONS(VULTARI_GL_MEMBER)
};

#undef VULTARI_GL_MEMBER

constexpr int GLEntryPointCount = 38;

// The published names of the table's slots, "glActiveTextureARB" first; the 38 of the table, then
// the extras.
extern const char* const GLEntryPointNames[];
constexpr int GLEntryPointNameCount = GLEntryPointCount + 1;

extern GLEntryPoints glEntryPoints;
extern GLCoreFunctions glCore;

// Fills every slot of glEntryPoints, in table order, with glPlatform.GetProcAddress of its name.
// Needs a current context. A slot is stored as it comes: on this platform a non-null address proves
// nothing, which is why the engine checks the version and extension strings (CheckGLCapabilities).
void LoadGLExtensions();

// Puts the driver's functions back into glCore (after a test replaced them).
void ResetGLCoreFunctions();

// What the engine needs of the driver: OpenGL 2.0 and the extensions whose entry points the table
// names. Returns "" when `version` and `extensions` (the GL_VERSION and GL_EXTENSIONS strings, either
// may be null) offer all of it, otherwise a message for the user saying what is missing.
std::string CheckGLCapabilities(const char* version, const char* extensions);
