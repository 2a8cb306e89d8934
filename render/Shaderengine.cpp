#include "render/Shaderengine.h"

#include "platform/base/Exception.h"
#include "platform/gl/GLFunctions.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

std::string ReadWholeFile(const std::string& file)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        throw FileOpenError(file);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad())
        throw FileOpenError(file, "The file cannot be read");
    return bytes;
}

std::string InfoLog(unsigned int object)
{
    int length = 0;
    glEntryPoints.GetObjectParameterivARB(object, GL_OBJECT_INFO_LOG_LENGTH_ARB, &length);
    if (length <= 1)
        return "";
    std::string log(static_cast<size_t>(length), '\0');
    int written = 0;
    glEntryPoints.GetInfoLogARB(object, length, &written, log.data());
    log.resize(static_cast<size_t>(std::max(0, std::min(written, length))));
    return log;
}

// Compiles one shader object; on failure writes its log to standard error.
bool CompileObject(unsigned int object, const std::string& source, const std::string& programName,
                   const char* kind, const std::string& file)
{
    const char* text = source.c_str();
    glEntryPoints.ShaderSourceARB(object, 1, &text, nullptr);
    glEntryPoints.CompileShaderARB(object);
    int compiled = 0;
    glEntryPoints.GetObjectParameterivARB(object, GL_OBJECT_COMPILE_STATUS_ARB, &compiled);
    if (compiled != 0)
        return true;
    std::fprintf(stderr, "Shader program \"%s\": the %s shader \"%s\" does not compile:\n%s\n", programName.c_str(),
                 kind, file.c_str(), InfoLog(object).c_str());
    return false;
}

}  // namespace

TShader::TShader(const std::string& name, const std::string& vertexFile, const std::string& fragmentFile)
    : name(name), vertexFile(vertexFile), fragmentFile(fragmentFile)
{
}

bool TShader::LoadSources()
{
    vertexSource = ReadWholeFile(vertexFile);
    fragmentSource = ReadWholeFile(fragmentFile);
    return true;
}

bool TShader::Compile()
{
    LoadSources();
    const unsigned int fragmentObject = glEntryPoints.CreateShaderObjectARB(GL_FRAGMENT_SHADER_ARB);
    const unsigned int vertexObject = glEntryPoints.CreateShaderObjectARB(GL_VERTEX_SHADER_ARB);
    const bool fragmentOk = CompileObject(fragmentObject, fragmentSource, name, "fragment", fragmentFile);
    const bool vertexOk = CompileObject(vertexObject, vertexSource, name, "vertex", vertexFile);

    const unsigned int linked = glEntryPoints.CreateProgramObjectARB();
    glEntryPoints.AttachObjectARB(linked, fragmentObject);
    glEntryPoints.AttachObjectARB(linked, vertexObject);
    glEntryPoints.BindAttribLocationARB(linked, TangentAttributeLocation, "tangent");
    glEntryPoints.BindAttribLocationARB(linked, BinormalAttributeLocation, "binormal");
    glEntryPoints.LinkProgramARB(linked);
    int linkStatus = 0;
    glEntryPoints.GetObjectParameterivARB(linked, GL_OBJECT_LINK_STATUS_ARB, &linkStatus);
    if (linkStatus == 0) {
        if (fragmentOk && vertexOk)
            std::fprintf(stderr, "Shader program \"%s\" does not link:\n%s\n", name.c_str(), InfoLog(linked).c_str());
        else
            std::fprintf(stderr, "Shader program \"%s\" does not link; it draws as the fixed pipeline.\n",
                         name.c_str());
        program = 0;
        return true;
    }
    program = linked;
    return true;
}

void TShader::Use()
{
    glEntryPoints.UseProgramObjectARB(program);
}

namespace {

template <class T, class Setters>
void SetUniform(unsigned int program, const char* uniformName, int count, const T* values, const Setters& setters)
{
    if (program == 0)
        return;
    const int location = glEntryPoints.GetUniformLocationARB(program, uniformName);
    glEntryPoints.UseProgramObjectARB(program);
    if (count >= 1 && count <= 4)
        setters[count - 1](location, 1, values);
    glEntryPoints.UseProgramObjectARB(0);
}

}  // namespace

void TShader::SetUniformInt(const char* uniformName, int count, const int* values)
{
    decltype(glEntryPoints.Uniform1iv) setters[] = {glEntryPoints.Uniform1iv, glEntryPoints.Uniform2iv,
                                                    glEntryPoints.Uniform3iv, glEntryPoints.Uniform4iv};
    SetUniform(program, uniformName, count, values, setters);
}

void TShader::SetUniformFloat(const char* uniformName, int count, const float* values)
{
    decltype(glEntryPoints.Uniform1fv) setters[] = {glEntryPoints.Uniform1fv, glEntryPoints.Uniform2fv,
                                                    glEntryPoints.Uniform3fv, glEntryPoints.Uniform4fv};
    SetUniform(program, uniformName, count, values, setters);
}

int TShader::GetAttribLocation(const char* attributeName)
{
    if (program == 0)
        return -1;
    return glEntryPoints.GetAttribLocationARB(program, attributeName);
}

TShaderEngine::~TShaderEngine()
{
    for (TShader* shader : shaders)
        delete shader;
    shaders.clear();
}

int TShaderEngine::AddShader(const std::string& name, const std::string& vertexFile, const std::string& fragmentFile)
{
    auto* shader = new TShader(name, vertexFile, fragmentFile);
    shaders.push_back(shader);
    return static_cast<int>(shaders.size()) - 1;
}

bool TShaderEngine::CompileAll()
{
    for (TShader* shader : shaders)
        shader->Compile();
    return true;
}

void TShaderEngine::UseShader(int index)
{
    TShader* shader = Shader(index);
    if (shader == nullptr)
        index = -1;
    if (index == currentShader)
        return;
    if (shader == nullptr)
        glEntryPoints.UseProgramObjectARB(0);
    else
        shader->Use();
    currentShader = index;
}

TShader* TShaderEngine::Shader(int index) const
{
    if (index < 0 || static_cast<size_t>(index) >= shaders.size())
        return nullptr;
    return shaders[static_cast<size_t>(index)];
}

void TShaderEngine::SetUniformInt(int index, const char* uniformName, int count, const int* values)
{
    if (TShader* shader = Shader(index))
        shader->SetUniformInt(uniformName, count, values);
}

void TShaderEngine::SetUniformFloat(int index, const char* uniformName, int count, const float* values)
{
    if (TShader* shader = Shader(index))
        shader->SetUniformFloat(uniformName, count, values);
}

int TShaderEngine::GetAttribLocation(int index, const char* attributeName)
{
    TShader* shader = Shader(index);
    return shader != nullptr ? shader->GetAttribLocation(attributeName) : -1;
}
