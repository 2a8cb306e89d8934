#pragma once
// The shader registry: named GLSL programs, each from one vertex and one fragment source file,
// addressed by 0-based index, with the program in use remembered so that re-selecting it costs
// nothing. Needs the engine's context current for everything but AddShader.
#include <string>
#include <vector>

// Every program binds these attribute names to these locations before it is linked, so a location
// read from one program is valid under every other (the head is loaded with the locations of one
// program and drawn by several). 6 and 7 alias no fixed-function array on any driver.
constexpr int TangentAttributeLocation = 6;
constexpr int BinormalAttributeLocation = 7;

class TShader {
public:
    TShader(const std::string& name, const std::string& vertexFile, const std::string& fragmentFile);
    ~TShader() = default;
    TShader(const TShader&) = delete;
    TShader& operator=(const TShader&) = delete;

    // Reads both files whole, bytes unchanged. A file that cannot be opened throws Exception naming it.
    bool LoadSources();
    // Loads the sources, compiles the fragment object, then the vertex object, attaches them in that
    // order, binds "tangent" and "binormal" to their fixed locations and links. A failed compile or
    // link writes the info log with the program's name to standard error and leaves `program` 0, so
    // the program draws as the fixed pipeline. Returns true; a missing file throws (see LoadSources).
    bool Compile();
    // Makes `program` current (0: the fixed pipeline).
    void Use();
    // Sets one uniform element of `count` (1 to 4) components: takes the location, makes the program
    // current, sets the value, makes program 0 current. Any other count sets nothing. A failed program
    // (0) makes no call at all.
    void SetUniformInt(const char* uniformName, int count, const int* values);
    void SetUniformFloat(const char* uniformName, int count, const float* values);
    // Location of the named active attribute in the linked program; -1 when it has none (or failed).
    int GetAttribLocation(const char* attributeName);

    std::string name;            // as registered ("Phong" ...); informational
    std::string vertexFile;      // path of the vertex source, opened as given
    std::string fragmentFile;    // path of the fragment source, opened as given
    std::string vertexSource;    // the file's bytes; c_str() is the NUL-terminated text given to GL
    std::string fragmentSource;
    unsigned int program = 0;    // the linked program object; 0 before Compile or after a failure
};

class TShaderEngine {
public:
    TShaderEngine() = default;
    // Deletes every shader in list order (the GL objects go with the context).
    ~TShaderEngine();
    TShaderEngine(const TShaderEngine&) = delete;
    TShaderEngine& operator=(const TShaderEngine&) = delete;

    // Appends a shader (nothing is read or compiled) and returns its index.
    int AddShader(const std::string& name, const std::string& vertexFile, const std::string& fragmentFile);
    // TShader::Compile on every shader in list order; a missing file throws and stops the walk.
    bool CompileAll();
    // Makes the program at `index` current, or the fixed pipeline for -1; nothing when `index` is
    // already current. An index outside the list selects the fixed pipeline.
    void UseShader(int index);

    // The shader at `index`, or null outside the list.
    TShader* Shader(int index) const;
    // The TShader setters and attribute query by index; outside the list they do nothing (-1).
    void SetUniformInt(int index, const char* uniformName, int count, const int* values);
    void SetUniformFloat(int index, const char* uniformName, int count, const float* values);
    int GetAttribLocation(int index, const char* attributeName);

    std::vector<TShader*> shaders;  // owned, in registration order
    int currentShader = -1;         // index last made current through UseShader; -1 = fixed pipeline
};
