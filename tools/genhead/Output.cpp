#include "tools/genhead/Output.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "collada/Colladaasset.h"
#include "recognition/Generichead.h"
#include "platform/base/Numbers.h"

namespace fs = std::filesystem;

namespace {
void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    fs::path tmp = path;
    tmp += ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) throw std::runtime_error("cannot write " + tmp.string());
    }
    fs::rename(tmp, path);
}

void WriteImage(const fs::path& path, const cv::Mat& image) {
    fs::create_directories(path.parent_path());
    fs::path tmp = path;
    tmp += ".tmp.bmp";
    if (!cv::imwrite(tmp.string(), image)) throw std::runtime_error("cannot write " + tmp.string());
    fs::rename(tmp, path);
}

// One de-indexed mesh: every triangle corner has its own position, normal and uv.
struct Corners {
    std::string name, node, material;
    std::vector<float> pos, nrm, uv;
};

Corners Deindex(const Mesh& m, const std::vector<Vec2>& uv, bool uvPerCorner, std::string name,
                std::string node, std::string material) {
    Corners c{std::move(name), std::move(node), std::move(material), {}, {}, {}};
    std::vector<Vec3> n = m.VertexNormals();
    for (size_t t = 0; t < m.tris.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            int v = m.tris[t][k];
            const Vec3& p = m.pos[v];
            c.pos.insert(c.pos.end(), {float(p.x), float(p.y), float(p.z)});
            c.nrm.insert(c.nrm.end(), {float(n[v].x), float(n[v].y), float(n[v].z)});
            Vec2 a = uvPerCorner ? uv[3 * t + k] : uv[v];
            c.uv.insert(c.uv.end(), {float(a.u), float(a.v)});
        }
    return c;
}

// A whole document written with the scene model's own section writers, so the program's reader
// reads exactly what its export would write: one material, effect and image shared by all meshes.
std::string Document(const std::vector<Corners>& meshes, const std::string& material, const std::string& image,
                     const std::string& file) {
    TColladaAsset asset(nullptr);
    auto effect = std::make_unique<TEffect>();
    effect->name = material + "-fx";
    effect->imageName = image;
    asset.effects.effects.push_back(std::move(effect));
    asset.images.names.push_back(image);
    // The images writer keeps the file part of a path; the folder goes in as its prefix.
    const size_t slash = file.rfind('/');
    asset.images.files.push_back(file.substr(slash + 1));
    for (const Corners& c : meshes) {
        auto g = std::make_unique<TGeometry>();
        g->name = c.name;
        g->positions = c.pos;
        g->normals = c.nrm;
        g->texCoords = c.uv;
        g->triangles.resize(c.pos.size() / 3);
        for (size_t i = 0; i < g->triangles.size(); ++i) g->triangles[i] = int(i);
        asset.geometries.geometries.push_back(std::move(g));
        auto n = std::make_unique<TNode>();
        n->name = c.node;
        n->geometryName = c.name;
        n->materialName = c.material;
        asset.visualScenes.nodes.push_back(std::move(n));
    }
    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      << "<COLLADA version=\"1.4.0\" xmlns=\"http://www.collada.org/2005/11/COLLADASchema\">\n"
      << "  <asset>\n    <contributor>\n      <author></author>\n"
      << "      <authoring_tool>Vultari genhead, from the MakeHuman base mesh (CC0)</authoring_tool>\n"
      << "    </contributor>\n"
      // A fixed date: the generated tree is the same on every build.
      << "    <created>2010-01-01T00:00:00</created>\n    <modified>2010-01-01T00:00:00</modified>\n"
      << "\t  <unit meter=\"" << FormatG(kMetresPerUnit) << "\" name=\"model_unit\"/>\n"
      << "\t  <up_axis>Z_UP</up_axis>\n  </asset>\n"
      << "  <library_effects>\n" << asset.effects.EffectsXml() << "  </library_effects>\n"
      << "  <library_images>\n" << asset.images.ImagesXml(file.substr(0, slash + 1)) << "  </library_images>\n"
      << "  <library_materials>\n" << asset.MaterialsXml() << "  </library_materials>\n"
      << "  <library_geometries>\n" << asset.geometries.GeometriesXml(asset.visualScenes) << "  </library_geometries>\n"
      << "  <library_visual_scenes>\n    <visual_scene id=\"Scene\" name=\"Scene\">\n"
      << asset.visualScenes.NodesXml() << "    </visual_scene>\n  </library_visual_scenes>\n"
      << "  <scene>\n  \t<instance_visual_scene url=\"#Scene\"/>\n  </scene>\n</COLLADA>\n";
    return o.str();
}

// Per-corner weights, eight bytes a value ("0.12345\n"): the reader counts size / 8 values.
std::string WeightText(const Mesh& m, const std::vector<double>& w) {
    std::string s;
    s.reserve(m.tris.size() * 3 * 8);
    char buf[16];
    for (const Tri& t : m.tris)
        for (int v : t) {
            double x = std::clamp(w[v], 0.0, 1.0);
            std::snprintf(buf, sizeof buf, "%.5f\n", x);
            s += buf;
        }
    return s;
}

cv::Mat Marker() {
    cv::Mat m(9, 9, CV_8UC3, cv::Scalar(255, 255, 255));
    cv::circle(m, {4, 4}, 3, cv::Scalar(0, 0, 255), 1, cv::LINE_8);
    m.at<cv::Vec3b>(4, 4) = {0, 0, 255};
    return m;
}

cv::Mat EyePlaceholder() {
    cv::Mat m(64, 64, CV_8UC3, cv::Scalar(225, 230, 235));
    cv::circle(m, {32, 32}, 13, cv::Scalar(70, 90, 120), cv::FILLED, cv::LINE_AA);
    cv::circle(m, {32, 32}, 5, cv::Scalar(20, 20, 20), cv::FILLED, cv::LINE_AA);
    return m;
}
}  // namespace

void WriteDataTree(const GenericData& d, const std::string& rootText) {
    fs::path root(rootText);
    Corners head = Deindex(d.g.head, d.headUv, true, "Head", "Cube", "M");
    WriteFile(root / "models/head.dae", Document({head}, "M", "headtexture", "data/textures/headtexture.bmp"));
    // The reconstruction pushes each eyeball back into its opening.
    Corners right = Deindex(eyeballs::AsStored(d.g.rightEye, eyeballs::kRightPushBack), d.rightEyeUv, false,
                            "RightEye", "RightEye", "Eye");
    Corners left = Deindex(eyeballs::AsStored(d.g.leftEye, eyeballs::kLeftPushBack), d.leftEyeUv, false,
                           "LeftEye", "LeftEye", "Eye");
    WriteFile(root / "models/eyes.dae", Document({right, left}, "Eye", "eye", "data/textures/eye.bmp"));
    Corners hair = Deindex(d.hair, d.hairUv, false, "Hair", "Hair", "Hair");
    WriteFile(root / "models/hairs.dae", Document({hair}, "Hair", "headtexture", "data/textures/headtexture.bmp"));
    for (size_t i = 0; i < kWeightNames.size(); ++i)
        WriteFile(root / "weights" / (std::string(kWeightNames[i]) + ".wgh"), WeightText(d.g.head, d.weights[i]));
    WriteFile(root / "models/generic_head.txt", GenericHeadText(d.facts));
    WriteImage(root / "textures/mark.bmp", Marker());
    WriteImage(root / "textures/headtexture.bmp", cv::Mat(256, 256, CV_8UC3, cv::Scalar(150, 170, 215)));
    WriteImage(root / "textures/eye.bmp", EyePlaceholder());
    WriteImage(root / "textures/normalmap.bmp", cv::Mat(64, 64, CV_8UC3, cv::Scalar(255, 127, 127)));
}
