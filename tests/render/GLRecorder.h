#pragma once
// A recording stand-in for the GL context layer and both entry-point tables: while a GLRecorder
// lives, every platform and GL call of the engine is appended to `calls` as text and answered with
// configurable results, without any driver. One recorder at a time.
#include "platform/gl/GLContext.h"
#include "platform/gl/GLFunctions.h"

#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

namespace recording {

inline std::string Format(const char* text)
{
    return text == nullptr ? "null" : "\"" + std::string(text) + "\"";
}
inline std::string Format(const std::string& text) { return "\"" + text + "\""; }
template <class T>
std::string Format(T value)
{
    std::ostringstream out;
    if constexpr (std::is_null_pointer_v<T>)
        out << "null";
    else if constexpr (std::is_pointer_v<T>)
        out << (value == nullptr ? "null" : "ptr");
    else if constexpr (std::is_floating_point_v<T>)
        out << static_cast<double>(value);  // six significant digits, like %g
    else if constexpr (sizeof(T) == 1)
        out << static_cast<int>(value);
    else
        out << value;
    return out.str();
}

}  // namespace recording

// Stands for any non-null pointer argument in an expected call.
inline const void* const anyPointer = &anyPointer;

// The text of one call as the recorder writes it: Call("glBindBufferARB", GL_ARRAY_BUFFER, 3)
// gives "glBindBufferARB(34962, 3)". Strings are quoted, pointers are "null" or "ptr".
template <class... Args>
std::string Call(const std::string& name, const Args&... args)
{
    std::string text = name + "(";
    bool first = true;
    ((text += (first ? "" : ", ") + recording::Format(args), first = false), ...);
    return text + ")";
}

class GLRecorder {
public:
    GLRecorder();
    ~GLRecorder();
    GLRecorder(const GLRecorder&) = delete;
    GLRecorder& operator=(const GLRecorder&) = delete;

    static GLRecorder& Active();

    void Record(std::string text) { calls.push_back(std::move(text)); }
    // The calls whose name is one of `names` (all when empty), in order.
    std::vector<std::string> Calls(const std::vector<std::string>& names = {}) const;
    // The names of the calls, in order.
    std::vector<std::string> Names() const;
    void Clear() { calls.clear(); }

    std::vector<std::string> calls;

    // Answers.
    std::string version = "4.5 (Compatibility Profile) Mesa 22.3.6";
    std::string extensions =
        "GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_ARB_shader_objects GL_ARB_vertex_shader "
        "GL_ARB_fragment_shader GL_EXT_framebuffer_object";
    bool nullVersion = false;
    std::string failAt;                      // platform step that fails: "GetSurface", "ChoosePixelFormat" ...
    int compileStatus = 1;                   // answer of GetObjectParameterivARB(GL_OBJECT_COMPILE_STATUS_ARB)
    int linkStatus = 1;                      // ... GL_OBJECT_LINK_STATUS_ARB
    std::string infoLog = "0:1(1): error: syntax error";
    std::map<std::string, int> uniformLocations;    // by name; -1 for others
    std::map<std::string, int> attributeLocations;  // by name; -1 for others
    unsigned int nextName = 1;               // buffer, texture, shader and program names handed out
    // What TexImage2D was given, one entry per call: width, height and the bytes.
    struct Upload {
        int width = 0;
        int height = 0;
        std::vector<unsigned char> bytes;
    };
    std::vector<Upload> uploads;
    // Shader sources given to ShaderSourceARB, by shader name.
    std::map<unsigned int, std::string> sources;

private:
    GLPlatform savedPlatform;
    GLEntryPoints savedEntryPoints;
};

// The recording implementation of a table slot (for tests that put one back after changing it).
GLProc RecordingEntryPoint(const char* name);
