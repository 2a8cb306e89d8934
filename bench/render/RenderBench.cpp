// Frames per second of the engine drawing a textured mesh of 60,000 triangles with a GLSL program
// into a 697 x 647 frame (the 3D panel's size), headless. Run: bash bench/render/run [seconds [frame.ppm]]
#include "bench/ShortRun.h"
#include "collada/Colladaasset.h"
#include "platform/base/Numbers.h"
#include "platform/base/Paths.h"
#include "render/Colladaengine.h"
#include "platform/base/Memory.h"

#include <GL/gl.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int width = 697;
constexpr int height = 647;
constexpr int stacks = 150;
constexpr int slices = 200;  // 2 x 150 x 200 = 60,000 triangles

std::string Numbers(const std::vector<float>& values)
{
    std::string s;
    s.reserve(values.size() * 10);
    for (float v : values) {
        s += FormatG(v);
        s += ' ';
    }
    return s;
}

// A sphere of radius 1 as COLLADA text: one corner per index, the same index for all three inputs.
std::string SphereDocument(const std::string& image)
{
    std::vector<float> positions, normals, uvs;
    for (int i = 0; i <= stacks; ++i) {
        const double theta = M_PI * i / stacks;
        for (int j = 0; j <= slices; ++j) {
            const double phi = 2.0 * M_PI * j / slices;
            const float x = static_cast<float>(std::sin(theta) * std::cos(phi));
            const float y = static_cast<float>(std::sin(theta) * std::sin(phi));
            const float z = static_cast<float>(std::cos(theta));
            positions.insert(positions.end(), {x, y, z});
            normals.insert(normals.end(), {x, y, z});
            uvs.insert(uvs.end(), {static_cast<float>(j) / slices, 1.0f - static_cast<float>(i) / stacks});
        }
    }
    std::string p;
    p.reserve(static_cast<size_t>(stacks) * slices * 6 * 3 * 6);
    auto corner = [&](int i, int j) {
        const std::string index = std::to_string(i * (slices + 1) + j);
        p += index + ' ' + index + ' ' + index + ' ';
    };
    for (int i = 0; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j) {
            corner(i, j), corner(i + 1, j), corner(i + 1, j + 1);
            corner(i, j), corner(i + 1, j + 1), corner(i, j + 1);
        }
    }
    std::string s = "<?xml version=\"1.0\"?>\n<COLLADA version=\"1.4.0\">\n";
    s += "<library_effects><effect id=\"Skin-fx\" name=\"Skin-fx\"><profile_COMMON><newparam sid=\"s\">"
         "<surface type=\"2D\"><init_from>Img</init_from></surface></newparam></profile_COMMON></effect>"
         "</library_effects>\n";
    s += "<library_images><image id=\"Img\" name=\"Img\"><init_from>" + image + "</init_from></image></library_images>\n";
    s += "<library_geometries><geometry id=\"Ball\" name=\"Ball\"><mesh>\n";
    s += "<source id=\"Ball-Position\"><float_array count=\"" + std::to_string(positions.size()) + "\">" +
         Numbers(positions) + "</float_array></source>\n";
    s += "<source id=\"Ball-Normals\"><float_array count=\"" + std::to_string(normals.size()) + "\">" +
         Numbers(normals) + "</float_array></source>\n";
    s += "<source id=\"Ball-UV\"><float_array count=\"" + std::to_string(uvs.size()) + "\">" + Numbers(uvs) +
         "</float_array></source>\n";
    s += "<triangles count=\"" + std::to_string(stacks * slices * 2) +
         "\"><input semantic=\"VERTEX\" offset=\"0\"/><input semantic=\"NORMAL\" offset=\"1\"/>"
         "<input semantic=\"TEXCOORD\" offset=\"2\"/><p>" + p + "</p></triangles>\n";
    s += "</mesh></geometry></library_geometries>\n";
    s += "<library_visual_scenes><visual_scene id=\"Scene\"><node id=\"Ball\" name=\"Ball\"><translate>0 0 0</translate>"
         "<scale>1 1 1</scale><instance_geometry url=\"#Ball\"><bind_material><technique_common>"
         "<instance_material symbol=\"Skin\" target=\"#Skin\"/></technique_common></bind_material>"
         "</instance_geometry></node></visual_scene></library_visual_scenes>\n</COLLADA>\n";
    return s;
}

// A 512 x 512 24-bit checker bitmap.
std::string CheckerBitmap()
{
    const int size = 512;
    std::string s = "BM";
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i)
            s += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    auto put16 = [&](unsigned v) {
        s += static_cast<char>(v & 0xFF);
        s += static_cast<char>((v >> 8) & 0xFF);
    };
    put32(54 + size * size * 3);
    put32(0);
    put32(54);
    put32(40);
    put32(size);
    put32(size);
    put16(1);
    put16(24);
    for (int i = 0; i < 6; ++i)
        put32(0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const bool light = ((x / 32) + (y / 32)) % 2 == 0;
            s += static_cast<char>(light ? 230 : 40);
            s += static_cast<char>(light ? 200 : 90);
            s += static_cast<char>(light ? 180 : 160);
        }
    return s;
}

void Write(const std::string& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary);
    out << text;
}

const char* const vertexShader = R"(
attribute vec3 tangent;
attribute vec3 binormal;
varying vec3 normal;
varying vec3 toLight;
varying vec3 frame;
void main()
{
    vec4 eye = gl_ModelViewMatrix * gl_Vertex;
    normal = gl_NormalMatrix * gl_Normal;
    toLight = vec3(2.0, 3.0, 4.0) - eye.xyz;
    frame = gl_NormalMatrix * (tangent + 0.5 * binormal);
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = ftransform();
}
)";

const char* const fragmentShader = R"(
uniform sampler2D Base;
uniform int UseTexture;
varying vec3 normal;
varying vec3 toLight;
varying vec3 frame;
void main()
{
    vec3 n = normalize(normal + 0.05 * frame);
    vec3 l = normalize(toLight);
    vec3 h = normalize(l + vec3(0.0, 0.0, 1.0));
    float diffuse = max(dot(n, l), 0.0);
    float specular = pow(max(dot(n, h), 0.0), 32.0);
    vec4 base = UseTexture == 1 ? texture2D(Base, gl_TexCoord[0].st) : vec4(1.0);
    gl_FragColor = vec4(base.rgb * (0.15 + 0.85 * diffuse) + vec3(0.3 * specular), 1.0);
}
)";

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Draws frames for at least `seconds` (after a warm-up) and returns the rate.
double Measure(TColladaEngine& engine, double seconds, int& frames)
{
    TColladaAsset& ball = *engine.models[0];
    auto frame = [&](int n) {
        ball.rotate[2] = static_cast<float>(n % 360);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        engine.RenderModel(0);
        engine.SwapBuffers();
    };
    for (int n = 0; n < 5; ++n)
        frame(n);
    glFinish();
    frames = 0;
    const auto start = std::chrono::steady_clock::now();
    while (Seconds(start) < seconds || frames < 20)
        frame(frames++);
    glFinish();
    return frames / Seconds(start);
}

}  // namespace

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    const double seconds = argc > 1 ? std::atof(argv[1]) : ShortRun() ? 0.3 : 3.0;
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "vultari-render-bench";
    std::filesystem::create_directories(folder);
    const std::string image = (folder / "checker.bmp").string();
    Write(image, CheckerBitmap());
    Write((folder / "ball.dae").string(), SphereDocument(image));
    Write((folder / "bench.vert").string(), vertexShader);
    Write((folder / "bench.frag").string(), fragmentShader);

    TXMLDocument document;
    TColladaEngine engine(&document, 0, width, height, 35.0f, 0.1f, 100.0f);
    std::printf("renderer: %s, OpenGL %s\n", glGetString(GL_RENDERER), glGetString(GL_VERSION));

    const int program = engine.shaderEngine->AddShader("Bench", (folder / "bench.vert").string(),
                                                       (folder / "bench.frag").string());
    engine.shaderEngine->CompileAll();
    const int unit = 0, on = 1;
    engine.shaderEngine->SetUniformInt(program, "Base", 1, &unit);
    engine.shaderEngine->SetUniformInt(program, "UseTexture", 1, &on);

    auto start = std::chrono::steady_clock::now();
    const int ball = engine.LoadModelWithTangents((folder / "ball.dae").string(),
                                                  engine.shaderEngine->GetAttribLocation(program, "tangent"),
                                                  engine.shaderEngine->GetAttribLocation(program, "binormal"));
    engine.LoadTextures("");
    const double loadSeconds = Seconds(start);
    if (ball != 0 || engine.models[0]->geometries.geometries.empty()) {
        std::fprintf(stderr, "render_bench: the mesh did not load\n");
        return 1;
    }
    const TGeometry& mesh = *engine.models[0]->geometries.geometries[0];
    TColladaAsset& asset = *engine.models[0];
    asset.translate = {0.0f, 0.0f, -3.6f};
    asset.rotate = {-70.0f, 0.0f, 0.0f};
    asset.shaderIndex = program;
    std::printf("mesh: %zu triangles, %zu vertices with tangents; read, de-indexed, tangents and upload: %.2f s\n",
                mesh.triangles.size() / 3, mesh.positions.size() / 3, loadSeconds);

    int frames = 0;
    const double withProgram = Measure(engine, seconds, frames);
    // The frame must hold the lit, textured ball, or the numbers mean nothing.
    unsigned char centre[4] = {};
    glReadBuffer(GL_BACK);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    engine.RenderModel(0);
    glReadPixels(width / 2, height / 2, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, centre);
    if (argc > 2) {
        // The measured frame, as a binary PPM, for a look at what was drawn.
        std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        std::ofstream out(argv[2], std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        for (int y = height - 1; y >= 0; --y)
            out.write(reinterpret_cast<const char*>(rgb.data()) + static_cast<size_t>(y) * width * 3, width * 3);
    }
    if (centre[0] + centre[1] + centre[2] == 0) {
        std::fprintf(stderr, "render_bench: the frame is empty\n");
        return 1;
    }
    std::printf("GLSL program, textured, %d x %d: %.1f frames per second (%d frames)\n", width, height, withProgram,
                frames);

    asset.shaderIndex = -1;
    const double fixedPipeline = Measure(engine, seconds, frames);
    std::printf("fixed pipeline, textured, %d x %d: %.1f frames per second (%d frames)\n", width, height,
                fixedPipeline, frames);
    std::filesystem::remove_all(folder);
    return 0;
}
