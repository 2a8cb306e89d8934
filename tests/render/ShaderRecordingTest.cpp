// The shader registry's GL calls, recorded without a driver.
#include "platform/base/Exception.h"
#include "render/Shaderengine.h"
#include "tests/render/GLRecorder.h"
#include "tests/render/RenderTestSupport.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

using Calls = std::vector<std::string>;

namespace {

class ShaderRecording : public ::testing::Test {
protected:
    // Registers a shader whose two sources exist in the scratch folder.
    int Add(const std::string& name, const std::string& vertex = "void main() { gl_Position = ftransform(); }",
            const std::string& fragment = "void main() { gl_FragColor = vec4(1.0); }")
    {
        return registry.AddShader(name, folder.Write(name + ".vert", vertex), folder.Write(name + ".frag", fragment));
    }

    ScratchFolder folder;
    GLRecorder recorder;
    TShaderEngine registry;
};

TEST_F(ShaderRecording, AddShaderReturnsIndicesInRegistrationOrderAndReadsNothing)
{
    const char* names[] = {"Phong", "NormalMapping", "TextureSpace", "Diffusion", "DiffusionFinal"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(registry.AddShader(names[i], "/nowhere/a.vert", "/nowhere/a.frag"), i);
    EXPECT_EQ(registry.AddShader("Phong", "/nowhere/b.vert", "/nowhere/b.frag"), 5);  // a name may repeat
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(registry.shaders[1]->name, "NormalMapping");
    EXPECT_EQ(registry.shaders[1]->vertexFile, "/nowhere/a.vert");
    EXPECT_EQ(registry.shaders[1]->program, 0u);
    EXPECT_EQ(registry.currentShader, -1);
}

TEST_F(ShaderRecording, CompileDoesTheFragmentObjectFirstAndBindsFixedAttributeLocationsBeforeLinking)
{
    Add("Phong", "vertex text", "fragment text");
    ASSERT_TRUE(registry.CompileAll());

    EXPECT_EQ(recorder.Calls({"glCreateShaderObjectARB", "glShaderSourceARB", "glCompileShaderARB",
                              "glCreateProgramObjectARB", "glAttachObjectARB", "glBindAttribLocationARB",
                              "glLinkProgramARB"}),
              (Calls{
                  Call("glCreateShaderObjectARB", GL_FRAGMENT_SHADER_ARB) + " -> 1",
                  Call("glCreateShaderObjectARB", GL_VERTEX_SHADER_ARB) + " -> 2",
                  Call("glShaderSourceARB", 1, 1, "fragment text", nullptr),
                  Call("glCompileShaderARB", 1),
                  Call("glShaderSourceARB", 2, 1, "vertex text", nullptr),
                  Call("glCompileShaderARB", 2),
                  Call("glCreateProgramObjectARB") + " -> 3",
                  Call("glAttachObjectARB", 3, 1),
                  Call("glAttachObjectARB", 3, 2),
                  Call("glBindAttribLocationARB", 3, TangentAttributeLocation, "tangent"),
                  Call("glBindAttribLocationARB", 3, BinormalAttributeLocation, "binormal"),
                  Call("glLinkProgramARB", 3),
              }));
    EXPECT_EQ(registry.shaders[0]->program, 3u);
    EXPECT_EQ(registry.shaders[0]->vertexSource, "vertex text");
    EXPECT_EQ(registry.shaders[0]->fragmentSource, "fragment text");
}

TEST_F(ShaderRecording, SourcesAreTakenByteForByte)
{
    const std::string crlf = "line one\r\nline two\r\n\xC3\xA9";
    Add("Bytes", crlf, "");
    registry.CompileAll();
    EXPECT_EQ(registry.shaders[0]->vertexSource, crlf);
    EXPECT_EQ(registry.shaders[0]->fragmentSource, "");  // a zero-byte file gives an empty text
    EXPECT_EQ(recorder.sources[1], "");
    EXPECT_EQ(recorder.sources[2], crlf);
}

struct FailedBuild {
    int compileStatus;
    int linkStatus;
    const char* expectedText;
};

class ShaderFailure : public ShaderRecording, public ::testing::WithParamInterface<FailedBuild> {};

TEST_P(ShaderFailure, ALogGoesToStandardErrorAndTheProgramDrawsAsTheFixedPipeline)
{
    recorder.compileStatus = GetParam().compileStatus;
    recorder.linkStatus = GetParam().linkStatus;
    recorder.infoLog = "0:3(7): error: the log text";
    Add("NormalMapping");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(registry.CompileAll());
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("\"NormalMapping\""), std::string::npos) << errors;
    EXPECT_NE(errors.find(GetParam().expectedText), std::string::npos) << errors;
    EXPECT_EQ(registry.shaders[0]->program, 0u);

    // It behaves as the fixed pipeline: no uniform or attribute call reaches GL.
    recorder.Clear();
    const int one = 1;
    registry.shaders[0]->SetUniformInt("UseTexture", 1, &one);
    EXPECT_EQ(registry.shaders[0]->GetAttribLocation("tangent"), -1);
    EXPECT_TRUE(recorder.calls.empty());
    registry.UseShader(0);
    EXPECT_EQ(recorder.calls, (Calls{Call("glUseProgramObjectARB", 0)}));
}

INSTANTIATE_TEST_SUITE_P(Statuses, ShaderFailure,
                         ::testing::Values(FailedBuild{0, 0, "the log text"},   // compile error, then link fails
                                           FailedBuild{1, 0, "the log text"},   // link error only
                                           FailedBuild{0, 0, ".frag"}));        // names the source file

TEST_F(ShaderRecording, ASuccessfulBuildWritesNothingToStandardError)
{
    Add("Phong");
    ::testing::internal::CaptureStderr();
    registry.CompileAll();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ShaderRecording, AMissingSourceThrowsWithItsNameAndStopsTheWalk)
{
    Add("First");
    registry.AddShader("Second", folder.path + "absent.vert", folder.Write("s.frag", "x"));
    Add("Third");
    try {
        registry.CompileAll();
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(folder.path + "absent.vert"), std::string::npos) << e.Message();
    }
    EXPECT_NE(registry.shaders[0]->program, 0u);
    EXPECT_EQ(registry.shaders[1]->program, 0u);
    EXPECT_EQ(registry.shaders[2]->program, 0u);
    EXPECT_EQ(recorder.Calls({"glLinkProgramARB"}).size(), 1u);
    // The fragment file of a shader is read after its vertex file, so a missing fragment file throws too.
    TShader shader("F", folder.Write("ok.vert", "x"), folder.path + "absent.frag");
    EXPECT_THROW(shader.LoadSources(), Exception);
}

TEST_F(ShaderRecording, UseShaderSkipsTheProgramAlreadyInUse)
{
    for (int i = 0; i < 5; ++i) {
        Add("S" + std::to_string(i));
    }
    registry.CompileAll();  // programs 3, 6, 9, 12, 15
    recorder.Clear();

    registry.UseShader(-1);  // fresh registry: -1 is current already
    EXPECT_TRUE(recorder.calls.empty());
    registry.UseShader(3);
    registry.UseShader(3);
    EXPECT_EQ(recorder.calls, (Calls{Call("glUseProgramObjectARB", 12)}));
    EXPECT_EQ(registry.currentShader, 3);
    registry.UseShader(-1);
    EXPECT_EQ(registry.currentShader, -1);
    // An index outside the list is the fixed pipeline, and is never dereferenced.
    registry.UseShader(1);
    recorder.Clear();
    registry.UseShader(5);
    registry.UseShader(-7);
    EXPECT_EQ(recorder.calls, (Calls{Call("glUseProgramObjectARB", 0)}));
    EXPECT_EQ(registry.currentShader, -1);
}

struct UniformCase {
    int count;
    bool isFloat;
    Calls expectedSet;  // between the location query and the program switches
};

class ShaderUniforms : public ShaderRecording, public ::testing::WithParamInterface<UniformCase> {};

TEST_P(ShaderUniforms, SetterQueriesTheLocationBindsSetsAndReturnsToProgramZero)
{
    const UniformCase& c = GetParam();
    Add("P");
    registry.CompileAll();  // program 3
    registry.UseShader(0);
    recorder.uniformLocations["UseTexture"] = 4;
    recorder.Clear();
    const int ints[] = {1, 2, 3, 4, 5};
    const float floats[] = {0.5f, 1.5f, 2.5f, 3.5f, 4.5f};
    if (c.isFloat)
        registry.shaders[0]->SetUniformFloat("UseTexture", c.count, floats);
    else
        registry.shaders[0]->SetUniformInt("UseTexture", c.count, ints);

    Calls expected = {Call("glGetUniformLocationARB", 3, "UseTexture") + " -> 4", Call("glUseProgramObjectARB", 3)};
    expected.insert(expected.end(), c.expectedSet.begin(), c.expectedSet.end());
    expected.push_back(Call("glUseProgramObjectARB", 0));
    EXPECT_EQ(recorder.calls, expected);
    EXPECT_EQ(registry.currentShader, 0);  // the registry does not see the setter's switch
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ShaderUniforms,
    ::testing::Values(UniformCase{1, false, {Call("glUniform1iv", 4, 1) + " 1"}},
                      UniformCase{2, false, {Call("glUniform2iv", 4, 1) + " 1 2"}},
                      UniformCase{3, false, {Call("glUniform3iv", 4, 1) + " 1 2 3"}},
                      UniformCase{4, false, {Call("glUniform4iv", 4, 1) + " 1 2 3 4"}},
                      UniformCase{5, false, {}}, UniformCase{0, false, {}},
                      UniformCase{1, true, {Call("glUniform1fv", 4, 1) + " 0.5"}},
                      UniformCase{2, true, {Call("glUniform2fv", 4, 1) + " 0.5 1.5"}},
                      UniformCase{3, true, {Call("glUniform3fv", 4, 1) + " 0.5 1.5 2.5"}},
                      UniformCase{4, true, {Call("glUniform4fv", 4, 1) + " 0.5 1.5 2.5 3.5"}},
                      UniformCase{5, true, {}}));

TEST_F(ShaderRecording, IndexedSettersOutsideTheRegistryDoNothing)
{
    Add("P");
    registry.CompileAll();
    recorder.Clear();
    const int one = 1;
    const float half = 0.5f;
    for (int index : {-1, 1, 99}) {
        registry.SetUniformInt(index, "UseTexture", 1, &one);
        registry.SetUniformFloat(index, "width", 1, &half);
        EXPECT_EQ(registry.GetAttribLocation(index, "tangent"), -1);
        EXPECT_EQ(registry.Shader(index), nullptr);
    }
    EXPECT_TRUE(recorder.calls.empty());

    recorder.attributeLocations["tangent"] = TangentAttributeLocation;
    EXPECT_EQ(registry.GetAttribLocation(0, "tangent"), TangentAttributeLocation);
    EXPECT_EQ(registry.GetAttribLocation(0, "binormal"), -1);
    registry.SetUniformInt(0, "UseTexture", 1, &one);
    EXPECT_EQ(recorder.Calls({"glUniform1iv"}).size(), 1u);
}

}  // namespace
