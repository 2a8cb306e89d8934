#pragma once
// Small fixtures for the engine's tests: a scratch folder, bitmap files of several depths written
// byte by byte, and COLLADA text for a model of a few triangles.
#include "platform/base/Numbers.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vultari-render-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path = pattern + "/";
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // Writes `bytes` to the file `name` in the folder and returns its full path.
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        const std::string file = path + name;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out)
            throw std::runtime_error("cannot write " + file);
        return file;
    }

    std::string path;  // with a trailing "/"
};

struct Rgb {
    unsigned char r, g, b;
};

namespace bmp {

inline void Put16(std::string& s, unsigned v)
{
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v)
{
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}

// A BMP file of the given depth (8: palette of the distinct colours, 24, or 32 bits) whose rows are
// `pixels` top row first. The file stores them bottom row first, each row padded to 4 bytes.
inline std::string File(int width, int height, const std::vector<Rgb>& pixels, int bits)
{
    std::vector<Rgb> palette;
    std::vector<unsigned char> indices;
    if (bits == 8) {
        // Distinct colours in reverse order of appearance, so a decoder that ignores the palette fails.
        for (const Rgb& p : pixels) {
            bool known = false;
            for (const Rgb& q : palette)
                known = known || (q.r == p.r && q.g == p.g && q.b == p.b);
            if (!known)
                palette.insert(palette.begin(), p);
        }
        for (const Rgb& p : pixels) {
            size_t i = 0;
            while (!(palette[i].r == p.r && palette[i].g == p.g && palette[i].b == p.b))
                ++i;
            indices.push_back(static_cast<unsigned char>(i));
        }
    }
    const int bytesPerPixel = bits / 8;
    const int rowBytes = (width * bytesPerPixel + 3) / 4 * 4;
    const uint32_t paletteBytes = static_cast<uint32_t>(palette.size() * 4);
    const uint32_t offset = 14 + 40 + paletteBytes;
    const uint32_t imageBytes = static_cast<uint32_t>(rowBytes * height);
    std::string s = "BM";
    Put32(s, offset + imageBytes);
    Put32(s, 0);
    Put32(s, offset);
    Put32(s, 40);
    Put32(s, static_cast<uint32_t>(width));
    Put32(s, static_cast<uint32_t>(height));
    Put16(s, 1);
    Put16(s, static_cast<unsigned>(bits));
    Put32(s, 0);  // no compression
    Put32(s, imageBytes);
    Put32(s, 2835);
    Put32(s, 2835);
    Put32(s, static_cast<uint32_t>(palette.size()));
    Put32(s, 0);
    for (const Rgb& p : palette) {
        s += static_cast<char>(p.b);
        s += static_cast<char>(p.g);
        s += static_cast<char>(p.r);
        s += '\0';
    }
    for (int row = height - 1; row >= 0; --row) {
        std::string line;
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(row * width + x);
            const Rgb& p = pixels[i];
            if (bits == 8) {
                line += static_cast<char>(indices[i]);
            } else {
                line += static_cast<char>(p.b);
                line += static_cast<char>(p.g);
                line += static_cast<char>(p.r);
                if (bits == 32)
                    line += static_cast<char>(0x80);  // an alpha that must not leak into the texture
            }
        }
        line.resize(static_cast<size_t>(rowBytes), '\0');
        s += line;
    }
    return s;
}

}  // namespace bmp

// COLLADA text of one model: one geometry "Mesh" (positions, normals, texture coordinates, the
// triangles given as one index a corner for every input), one effect "M-fx" sampling the image
// "Img" with the file `imageFile` (no image library when empty), and one node "Node" with the
// given translation.
struct ColladaModel {
    std::vector<float> positions;   // 3 per vertex
    std::vector<float> normals;     // 3 per vertex
    std::vector<float> texCoords;   // 2 per vertex
    std::vector<int> triangles;     // one vertex number per corner, used for every input
    std::string imageFile;
    float translate[3] = {0, 0, 0};
    bool withVisualScenes = true;

    std::string Text() const
    {
        auto list = [](const auto& values) {
            std::string s;
            for (const auto& v : values) {
                if (!s.empty())
                    s += ' ';
                s += Number(v);
            }
            return s;
        };
        std::string p;
        for (int index : triangles)
            for (int input = 0; input < 3; ++input) {
                if (!p.empty())
                    p += ' ';
                p += std::to_string(index);
            }
        std::string s = "<?xml version=\"1.0\"?>\n<COLLADA version=\"1.4.0\">\n";
        if (!imageFile.empty()) {
            s += "<library_effects><effect id=\"M-fx\" name=\"M-fx\"><profile_COMMON>"
                 "<newparam sid=\"s\"><surface type=\"2D\"><init_from>Img</init_from></surface></newparam>"
                 "</profile_COMMON></effect></library_effects>\n";
            s += "<library_images><image id=\"Img\" name=\"Img\"><init_from>" + imageFile +
                 "</init_from></image></library_images>\n";
        }
        s += "<library_geometries><geometry id=\"Mesh\" name=\"Mesh\"><mesh>\n";
        s += "<source id=\"Mesh-Position\"><float_array count=\"" + std::to_string(positions.size()) + "\">" +
             list(positions) + "</float_array></source>\n";
        s += "<source id=\"Mesh-Normals\"><float_array count=\"" + std::to_string(normals.size()) + "\">" +
             list(normals) + "</float_array></source>\n";
        s += "<source id=\"Mesh-UV\"><float_array count=\"" + std::to_string(texCoords.size()) + "\">" +
             list(texCoords) + "</float_array></source>\n";
        s += "<vertices id=\"Mesh-Vertex\"/>\n";
        s += "<triangles count=\"" + std::to_string(triangles.size() / 3) +
             "\"><input semantic=\"VERTEX\" offset=\"0\"/><input semantic=\"NORMAL\" offset=\"1\"/>"
             "<input semantic=\"TEXCOORD\" offset=\"2\"/><p>" + p + "</p></triangles>\n";
        s += "</mesh></geometry></library_geometries>\n";
        if (withVisualScenes) {
            s += "<library_visual_scenes><visual_scene id=\"Scene\"><node id=\"Node\" name=\"Node\">"
                 "<translate>" + Number(translate[0]) + " " + Number(translate[1]) + " " + Number(translate[2]) +
                 "</translate><rotate>0 0 1 0</rotate><rotate>0 1 0 0</rotate><rotate>1 0 0 0</rotate>"
                 "<scale>1 1 1</scale><instance_geometry url=\"#Mesh\"><bind_material><technique_common>"
                 "<instance_material symbol=\"M\" target=\"#M\"/></technique_common></bind_material>"
                 "</instance_geometry></node></visual_scene></library_visual_scenes>\n";
        }
        return s + "</COLLADA>\n";
    }

    // A square from (-1, -1) to (1, 1) in the plane z = 0 facing +z, texture (0, 0) to (1, 1).
    static ColladaModel Square(const std::string& imageFile = "")
    {
        ColladaModel m;
        m.positions = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
        m.normals = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
        m.texCoords = {0, 0, 1, 0, 1, 1, 0, 1};
        m.triangles = {0, 1, 2, 0, 2, 3};
        m.imageFile = imageFile;
        return m;
    }

private:
    static std::string Number(float value) { return FormatG(value); }
    static std::string Number(int value) { return std::to_string(value); }
};
