#include "tests/core/SyntheticHead.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <stdexcept>

#include <opencv2/imgcodecs.hpp>

#include "core/Deformation.h"
#include "core/Weightmanager.h"
#include "testing/TestHelpers.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"

namespace {

using W = TWeightManager;
constexpr float Pi = 3.14159265358979f;
constexpr int NU = 48, NV = 32;      // grid steps around and up
constexpr int TipU = 24, TipV = 15;  // the grid node that carries the nose tip
// The ellipsoid's centre depth: its front lies on the plane y = -1.25, where the nose of the
// generic head meets the face (the plane the nose is stretched about).
constexpr float CentreY = 1.75f;

std::string Num(float value)
{
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : "0";
}

void WriteText(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

// A smooth bump from 1 at the centre to 0 at distance r.
float Bump(float d, float r) { return d >= r ? 0.0f : 0.5f * (1.0f + std::cos(Pi * d / r)); }

struct TGridPoint {
    float x, y, z, u, v;
};

TGridPoint HeadPoint(int iu, int iv, float sx, float sy, float sz)
{
    const float rx = 2.6f, ry = 3.0f, rz = 3.3f, cy = CentreY;
    const float u = static_cast<float>(iu) / NU, v = static_cast<float>(iv) / NV;
    // The seam u = 1 has the positions of u = 0, so that the mesh is closed.
    const float phi = 2 * Pi * static_cast<float>(iu % NU) / NU, theta = Pi * v;
    float x = -rx * std::sin(theta) * std::sin(phi);
    float y = cy + ry * std::sin(theta) * std::cos(phi);
    float z = -rz * std::cos(theta);
    if (iv == 0 || iv == NV)
        x = 0, y = cy;  // poles
    // The nose: a bump toward -y around the tip node.
    const float tipZ = -rz * std::cos(Pi * TipV / NV);
    if (y < cy) {
        const float d = std::sqrt(x * x + (z - tipZ) * (z - tipZ));
        y -= 0.9f * Bump(d, 0.9f);
    }
    return {x * sx, y * sy, z * sz, u, v};
}

float Distance2(float a, float b) { return std::sqrt(a * a + b * b); }

// Region weights as functions of position (so corners sharing a position share their weights).
void Weigh(const TSyntheticVertex& c, float tipX, float tipY, float tipZ, float bottomZ, float out[15], float sx,
           float sy, float sz)
{
    for (int i = 0; i < 15; ++i)
        out[i] = 0;
    // Work in the unscaled frame so that a stretched head keeps the same maps.
    const float x = c.x / sx, y = c.y / sy, z = c.z / sz;
    const bool front = y < CentreY - 1.2f;
    auto same = [](float a, float b) { return std::fabs(a - b) < 1e-4f; };
    if (same(c.x, tipX) && same(c.y, tipY) && same(c.z, tipZ))
        out[W::tip_of_the_nose] = 1;
    if (same(c.z, bottomZ) && std::fabs(x) < 1e-4f)
        out[W::head_bottom] = 1;
    struct Region {
        int map, borders;
        float cx, cz, r;
    };
    const float noseZ = tipZ / sz;
    auto f = [](double v) { return static_cast<float>(v); };
    const Region regions[] = {{W::left_eye, W::left_eye_borders, f(synthetic::kLeftEye.x), f(synthetic::kLeftEye.z), 0.6f},
                              {W::right_eye, W::right_eye_borders, f(synthetic::kRightEye.x), f(synthetic::kRightEye.z), 0.6f},
                              {W::nose, W::nose_borders, 0.0f, noseZ, 0.8f},
                              {W::mouth, W::mouth_borders, f(synthetic::kMouth.x), f(synthetic::kMouth.z), 0.75f}};
    if (front) {
        for (const Region& r : regions) {
            const float d = Distance2(x - r.cx, z - r.cz);
            out[r.map] = Bump(d, r.r);
            out[r.borders] = (d >= 0.7f * r.r && d <= r.r) ? 1.0f : 0.0f;
        }
        const float face = Distance2(x / 1.0f, (z + 0.3f) / 1.25f);
        out[W::face_borders] = (face >= 1.6f && face <= 1.9f) ? 1.0f : 0.0f;
    }
    // Ears on the sides, around the ear anchors' height and depth.
    const float earD = Distance2(y - CentreY, z - static_cast<float>(synthetic::kLeftEar.z));
    if (x < -1.8f) {
        out[W::left_ear] = Bump(earD, 0.8f);
        out[W::left_ear_borders] = (earD >= 0.55f && earD <= 0.8f) ? 1.0f : 0.0f;
    }
    if (x > 1.8f) {
        out[W::right_ear] = Bump(earD, 0.8f);
        out[W::right_ear_borders] = (earD >= 0.55f && earD <= 0.8f) ? 1.0f : 0.0f;
    }
}

// A sphere of loose triangle corners.
std::vector<TSyntheticVertex> Sphere(float cx, float cy, float cz, float r, int nu, int nv)
{
    std::vector<TSyntheticVertex> out;
    auto point = [&](int iu, int iv) {
        const float phi = 2 * Pi * iu / nu, theta = Pi * iv / nv;
        const float nx = std::sin(theta) * std::cos(phi), ny = std::sin(theta) * std::sin(phi), nz = -std::cos(theta);
        return TSyntheticVertex{cx + r * nx, cy + r * ny, cz + r * nz, nx, ny, nz,
                                static_cast<float>(iu) / nu, static_cast<float>(iv) / nv};
    };
    for (int iv = 0; iv < nv; ++iv)
        for (int iu = 0; iu < nu; ++iu) {
            const TSyntheticVertex a = point(iu, iv), b = point(iu + 1, iv), c = point(iu + 1, iv + 1),
                                   d = point(iu, iv + 1);
            out.insert(out.end(), {a, b, c, a, c, d});
        }
    return out;
}

std::string FloatList(const std::vector<TSyntheticVertex>& corners, int what)
{
    std::string text;
    for (const TSyntheticVertex& c : corners) {
        if (what == 0)
            text += Num(c.x) + " " + Num(c.y) + " " + Num(c.z) + " ";
        else if (what == 1)
            text += Num(c.nx) + " " + Num(c.ny) + " " + Num(c.nz) + " ";
        else
            text += Num(c.u) + " " + Num(c.v) + " ";
    }
    return text;
}

// One geometry element of loose corners: triangles, or lines when `lines` is set.
std::string GeometryElement(const std::string& name, const std::vector<TSyntheticVertex>& corners, bool lines,
                            const std::string& material)
{
    const size_t n = corners.size();
    std::string p;
    for (size_t f = 0; f < n; ++f) {
        const std::string i = std::to_string(f);
        p += i + " " + i + " " + i + " ";
    }
    const std::string prim = lines ? "lines" : "triangles";
    const size_t count = lines ? n / 2 : n / 3;
    return "    <geometry id=\"" + name + "\" name=\"" + name + "\">\n      <mesh>\n"
           "        <source id=\"" + name + "-Position\"><float_array id=\"" + name + "-Position-array\" count=\"" +
           std::to_string(3 * n) + "\">" + FloatList(corners, 0) + "</float_array></source>\n"
           "        <source id=\"" + name + "-Normals\"><float_array id=\"" + name + "-Normals-array\" count=\"" +
           std::to_string(3 * n) + "\">" + FloatList(corners, 1) + "</float_array></source>\n"
           "        <source id=\"" + name + "-UV\"><float_array id=\"" + name + "-UV-array\" count=\"" +
           std::to_string(2 * n) + "\">" + FloatList(corners, 2) + "</float_array></source>\n"
           "        <vertices id=\"" + name + "-Vertex\"><input semantic=\"POSITION\" source=\"#" + name + "-Position\"/></vertices>\n"
           "        <" + prim + " count=\"" + std::to_string(count) + "\" material=\"" + material + "\">\n"
           "          <input semantic=\"VERTEX\" source=\"#" + name + "-Vertex\" offset=\"0\"/>\n"
           "          <input semantic=\"NORMAL\" source=\"#" + name + "-Normals\" offset=\"1\"/>\n"
           "          <input semantic=\"TEXCOORD\" source=\"#" + name + "-UV\" offset=\"2\" set=\"0\"/>\n"
           "          <p>" + p + "</p>\n        </" + prim + ">\n      </mesh>\n    </geometry>\n";
}

std::string NodeElement(const std::string& node, const std::string& geometry, const std::string& material)
{
    return "      <node id=\"" + node + "\" name=\"" + node + "\">\n"
           "        <translate>0 0 0</translate>\n        <rotate>0 0 1 0</rotate>\n        <rotate>0 1 0 0</rotate>\n"
           "        <rotate>1 0 0 0</rotate>\n        <scale>1 1 1</scale>\n"
           "        <instance_geometry url=\"#" + geometry + "\"><bind_material><technique_common>"
           "<instance_material symbol=\"" + material + "\" target=\"#" + material + "\"/></technique_common>"
           "</bind_material></instance_geometry>\n      </node>\n";
}

std::string Document(const std::string& material, const std::string& image, const std::string& imageFile,
                     const std::string& geometries, const std::string& nodes)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n"
           "  <library_effects>\n    <effect id=\"" + material + "-fx\" name=\"" + material + "-fx\"><profile_COMMON>"
           "<newparam sid=\"surface\"><surface type=\"2D\"><init_from>" + image + "</init_from></surface></newparam>"
           "</profile_COMMON></effect>\n  </library_effects>\n"
           "  <library_images>\n    <image id=\"" + image + "\" name=\"" + image + "\"><init_from>" + imageFile +
           "</init_from></image>\n  </library_images>\n"
           "  <library_geometries>\n" + geometries + "  </library_geometries>\n"
           "  <library_visual_scenes>\n    <visual_scene id=\"Scene\" name=\"Scene\">\n" + nodes +
           "    </visual_scene>\n  </library_visual_scenes>\n</COLLADA>\n";
}

std::string WeightText(const std::vector<float>& weights)
{
    std::string text;
    for (float w : weights) {
        std::string value = Num(w);
        value.resize(std::max<size_t>(value.size() + 1, 8), ' ');  // at least 8 bytes a value
        text += value;
    }
    return text;
}

}  // namespace

TSyntheticHead MakeSyntheticHead(const TSyntheticChange& change)
{
    // The generic head first: its weights are the maps of every variant, so that corner i is the
    // same vertex of the same region in all of them.
    TSyntheticHead head;
    auto corner = [&](int iu, int iv) {
        const TGridPoint p = HeadPoint(iu, iv, 1, 1, 1);
        // Normals from the ellipsoid's gradient: good enough for lighting.
        float nx = p.x / (2.6f * 2.6f), ny = (p.y - CentreY) / (3.0f * 3.0f), nz = p.z / (3.3f * 3.3f);
        const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
        if (length > 0)
            nx /= length, ny /= length, nz /= length;
        return TSyntheticVertex{p.x, p.y, p.z, nx, ny, nz, p.u, p.v};
    };
    for (int iv = 0; iv < NV; ++iv)
        for (int iu = 0; iu < NU; ++iu) {
            const TSyntheticVertex a = corner(iu, iv), b = corner(iu + 1, iv), c = corner(iu + 1, iv + 1),
                                   d = corner(iu, iv + 1);
            head.corners.insert(head.corners.end(), {a, b, c, a, c, d});
        }
    const TGridPoint tip = HeadPoint(TipU, TipV, 1, 1, 1);
    const float bottomZ = HeadPoint(0, 0, 1, 1, 1).z;
    for (auto& map : head.weights)
        map.resize(head.corners.size());
    for (size_t i = 0; i < head.corners.size(); ++i) {
        float w[15];
        Weigh(head.corners[i], tip.x, tip.y, tip.z, bottomZ, w, 1, 1, 1);
        for (int s = 0; s < 15; ++s)
            head.weights[s][i] = w[s];
    }

    // Then the change: a longer nose (its bump pushed further out), a lower mouth (the mouth
    // region moved down with its weights), and a stretch of the whole head about the origin.
    head.change = change;
    const float tipZ = tip.z;
    auto changed = [&](float& x, float& y, float& z, float mouthWeight) {
        if (y < CentreY) {
            const float d = std::sqrt(x * x + (z - tipZ) * (z - tipZ));
            y -= change.noseLength * Bump(d, 0.9f);
        }
        z -= change.mouthDrop * mouthWeight;
        x *= change.width;
        y *= change.depth;
        z *= change.height;
    };
    for (size_t i = 0; i < head.corners.size(); ++i) {
        TSyntheticVertex& c = head.corners[i];
        changed(c.x, c.y, c.z, head.weights[W::mouth][i]);
    }
    head.tipX = tip.x;
    head.tipY = tip.y;
    head.tipZ = tip.z;
    changed(head.tipX, head.tipY, head.tipZ, 0);
    return head;
}

std::string HeadDocument(const TSyntheticHead& head, bool withCubeNode)
{
    return Document("Skin", "headtexture", "data/textures/headtexture.bmp",
                    GeometryElement("Head", head.corners, false, "Skin"),
                    NodeElement(withCubeNode ? "Cube" : "Head", "Head", "Skin"));
}

void WriteSyntheticDataTree(const std::string& folder, const std::string& shaderFolder)
{
    const TSyntheticHead head = MakeSyntheticHead({});
    WriteText(folder + "data/models/head.dae", HeadDocument(head));

    const float eyeZ = static_cast<float>(synthetic::kLeftEye.z);
    const std::vector<TSyntheticVertex> right = Sphere(static_cast<float>(synthetic::kRightEye.x), -0.9f, eyeZ, 0.3f, 12, 8);
    const std::vector<TSyntheticVertex> left = Sphere(static_cast<float>(synthetic::kLeftEye.x), -0.9f, eyeZ, 0.3f, 12, 8);
    WriteText(folder + "data/models/eyes.dae",
              Document("Eye", "eye", "data/textures/eye.bmp",
                       GeometryElement("RightEye", right, false, "Eye") + GeometryElement("LeftEye", left, false, "Eye"),
                       NodeElement("RightEye", "RightEye", "Eye") + NodeElement("LeftEye", "LeftEye", "Eye")));

    // Hair: strands over the crown, drawn as lines.
    std::vector<TSyntheticVertex> strands;
    for (int i = 0; i < 40; ++i) {
        const float a = 2 * Pi * i / 40;
        const float x = 1.8f * std::cos(a), y = CentreY + 2.0f * std::sin(a);
        strands.push_back({0.3f * x, CentreY + 0.3f * (y - CentreY), 3.4f, 0, 0, 1, 0.5f, 0.9f});
        strands.push_back({x, y, 2.2f, 0, 0, 1, 0.5f + 0.01f * std::cos(a), 0.8f});
    }
    WriteText(folder + "data/models/hairs.dae",
              Document("Hair", "headtexture", "data/textures/headtexture.bmp",
                       GeometryElement("Hair", strands, true, "Hair"), NodeElement("Hair", "Hair", "Hair")));

    for (int slot = 0; slot < W::SlotCount; ++slot)
        WriteText(folder + "data/weights/" + W::SlotName(slot) + ".wgh", WeightText(head.weights[slot]));
    WriteText(folder + kGenericHeadPath, GenericHeadText(TestGenericHead()));

    std::filesystem::create_directories(folder + "data/textures");
    cv::Mat mark(7, 7, CV_8UC3, cv::Scalar(0, 0, 255));
    cv::imwrite(folder + "data/textures/mark.bmp", mark);

    std::filesystem::create_directories(folder + "data/shaders");
    for (const auto& entry : std::filesystem::directory_iterator(shaderFolder))
        std::filesystem::copy_file(entry.path(), folder + "data/shaders/" + entry.path().filename().string(),
                                   std::filesystem::copy_options::overwrite_existing);
}

void ProjectFeaturePoints(const TSyntheticHead& head, float ppu, THeadAttributes& points)
{
    // Extents the way the reconstruction measures them: first strict extreme in corner order.
    struct Box {
        float maxA = -1e9f, minA = 1e9f, maxB = -1e9f, minB = 1e9f;
        size_t maxBCorner = 0;
    };
    float maxX = -1e9f, minX = 1e9f, maxY = -1e9f, minY = 1e9f, maxZ = -1e9f, chinZ = 0;
    Box nose, mouth, leftEye, rightEye, ear;
    auto improve = [](Box& b, float a, float z, size_t i) {
        if (a > b.maxA) b.maxA = a;
        if (a < b.minA) b.minA = a;
        if (z > b.maxB) b.maxB = z, b.maxBCorner = i;
        if (z < b.minB) b.minB = z;
    };
    for (size_t i = 0; i < head.corners.size(); ++i) {
        const TSyntheticVertex& c = head.corners[i];
        maxX = std::max(maxX, c.x), minX = std::min(minX, c.x);
        maxY = std::max(maxY, c.y), minY = std::min(minY, c.y);
        maxZ = std::max(maxZ, c.z);
        if (head.weights[W::head_bottom][i] > 0) chinZ = c.z;
        if (head.weights[W::nose_borders][i] > 0) improve(nose, c.x, c.z, i);
        if (head.weights[W::mouth_borders][i] > 0) improve(mouth, c.x, c.z, i);
        if (head.weights[W::left_eye_borders][i] > 0) improve(leftEye, c.x, c.z, i);
        if (head.weights[W::right_eye_borders][i] > 0) improve(rightEye, c.x, c.z, i);
        if (head.weights[W::left_ear_borders][i] > 0) improve(ear, c.y, c.z, i);
    }
    // Front photo: x right, y down; profile photo (left-facing): x grows toward the back of the head.
    const float fx0 = 600, py0 = 500, px0 = 400;
    auto fx = [&](float x) { return static_cast<int>(std::nearbyint(fx0 + (x - head.tipX) * ppu)); };
    auto py = [&](float z) { return static_cast<int>(std::nearbyint(py0 - (z - head.tipZ) * ppu)); };
    auto px = [&](float y) { return static_cast<int>(std::nearbyint(px0 + (y - head.tipY) * ppu)); };
    // The features sit where the generic anchors go under the head's stretch.
    const TSyntheticChange& ch = head.change;
    struct TAnchor {
        float x, y, z;
    };
    auto stretch = [&](const TModelPoint& a) {
        return TAnchor{static_cast<float>(a.x) * ch.width, static_cast<float>(a.y) * ch.depth,
                       static_cast<float>(a.z) * ch.height};
    };
    const TGenericHead g = TestGenericHead();
    const TAnchor LeftEye = stretch(g.leftEye), RightEye = stretch(g.rightEye),
                  Mouth = stretch({g.mouth.x, g.mouth.y, g.mouth.z - ch.mouthDrop}), LeftEar = stretch(g.leftEar),
                  RightEar = stretch(g.rightEar);
    THPoint* const* f = points.front;
    THPoint* const* p = points.profile;
    f[FrontPoint::HeadCenter]->SetPosition(fx(0.5f * (minX + maxX)), py(0.5f * (maxZ + chinZ)));
    f[FrontPoint::LeftEyeCenter]->SetPosition(fx(LeftEye.x), py(LeftEye.z));
    f[FrontPoint::LeftEyeLeft]->SetPosition(fx(leftEye.minA), py(LeftEye.z));
    f[FrontPoint::LeftEyeRight]->SetPosition(fx(leftEye.maxA), py(LeftEye.z));
    f[FrontPoint::LeftEyeTop]->SetPosition(fx(LeftEye.x), py(leftEye.maxB));
    f[FrontPoint::LeftEyeBottom]->SetPosition(fx(LeftEye.x), py(leftEye.minB));
    f[FrontPoint::RightEyeCenter]->SetPosition(fx(RightEye.x), py(RightEye.z));
    f[FrontPoint::RightEyeLeft]->SetPosition(fx(rightEye.minA), py(RightEye.z));
    f[FrontPoint::RightEyeRight]->SetPosition(fx(rightEye.maxA), py(RightEye.z));
    f[FrontPoint::RightEyeTop]->SetPosition(fx(RightEye.x), py(rightEye.maxB));
    f[FrontPoint::RightEyeBottom]->SetPosition(fx(RightEye.x), py(rightEye.minB));
    f[FrontPoint::MouthCenter]->SetPosition(fx(Mouth.x), py(Mouth.z));
    f[FrontPoint::MouthLeft]->SetPosition(fx(mouth.minA), py(Mouth.z));
    f[FrontPoint::MouthRight]->SetPosition(fx(mouth.maxA), py(Mouth.z));
    f[FrontPoint::MouthTop]->SetPosition(fx(Mouth.x), py(mouth.maxB));
    f[FrontPoint::MouthBottom]->SetPosition(fx(Mouth.x), py(mouth.minB));
    f[FrontPoint::NoseTip]->SetPosition(fx(head.tipX), py(head.tipZ));
    f[FrontPoint::NoseLeft]->SetPosition(fx(nose.minA), py(head.tipZ));
    f[FrontPoint::NoseRight]->SetPosition(fx(nose.maxA), py(head.tipZ));
    f[FrontPoint::NoseTop]->SetPosition(fx(head.tipX), py(nose.maxB));
    f[FrontPoint::NoseBottom]->SetPosition(fx(head.tipX), py(nose.minB));
    f[FrontPoint::LeftEar]->SetPosition(fx(LeftEar.x), py(LeftEar.z));
    f[FrontPoint::RightEar]->SetPosition(fx(RightEar.x), py(RightEar.z));
    f[FrontPoint::BottomHead]->SetPosition(fx(0), py(chinZ));
    f[FrontPoint::TopHead]->SetPosition(fx(0), py(maxZ));
    f[FrontPoint::LeftHead]->SetPosition(fx(minX), py(0));
    f[FrontPoint::RightHead]->SetPosition(fx(maxX), py(0));

    const TSyntheticVertex& noseTop = head.corners[nose.maxBCorner];
    p[ProfilePoint::HeadCenter]->SetPosition(px(0.5f * (minY + maxY)), py(0.5f * (maxZ + chinZ)));
    p[ProfilePoint::EyeCenter]->SetPosition(px(LeftEye.y), py(LeftEye.z));
    p[ProfilePoint::MouthCenter]->SetPosition(px(Mouth.y), py(Mouth.z));
    p[ProfilePoint::NoseTip]->SetPosition(px(head.tipY), py(head.tipZ));
    p[ProfilePoint::NoseRoot]->SetPosition(px(noseTop.y), py(noseTop.z));
    p[ProfilePoint::EarCenter]->SetPosition(px(LeftEar.y), py(LeftEar.z));
    p[ProfilePoint::EarLeft]->SetPosition(px(ear.minA), py(LeftEar.z));
    p[ProfilePoint::EarRight]->SetPosition(px(ear.maxA), py(LeftEar.z));
    p[ProfilePoint::EarTop]->SetPosition(px(LeftEar.y), py(ear.maxB));
    p[ProfilePoint::EarBottom]->SetPosition(px(LeftEar.y), py(ear.minB));
    p[ProfilePoint::LeftHead]->SetPosition(px(minY), py(0));
    p[ProfilePoint::RightHead]->SetPosition(px(maxY), py(0));
    p[ProfilePoint::TopHead]->SetPosition(px(0), py(maxZ));
    p[ProfilePoint::BottomHead]->SetPosition(px(0), py(chinZ));
    points.profileOrientation = 0;
}

std::vector<float> Positions(const TSyntheticHead& head)
{
    std::vector<float> out;
    for (const TSyntheticVertex& c : head.corners)
        out.insert(out.end(), {c.x, c.y, c.z});
    return out;
}

float ShapeDistance(const std::vector<float>& positions, const TSyntheticHead& head)
{
    const size_t n = head.corners.size();
    double cm[3] = {}, cd[3] = {};
    for (size_t i = 0; i < n; ++i) {
        const double d[3] = {head.corners[i].x, head.corners[i].y, head.corners[i].z};
        for (int c = 0; c < 3; ++c)
            cm[c] += positions[3 * i + c] / n, cd[c] += d[c] / n;
    }
    double md = 0, mm = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d[3] = {head.corners[i].x, head.corners[i].y, head.corners[i].z};
        for (int c = 0; c < 3; ++c) {
            const double m = positions[3 * i + c] - cm[c];
            md += m * (d[c] - cd[c]);
            mm += m * m;
        }
    }
    const double s = mm > 0 ? md / mm : 1.0;
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d[3] = {head.corners[i].x, head.corners[i].y, head.corners[i].z};
        double squared = 0;
        for (int c = 0; c < 3; ++c) {
            const double e = s * (positions[3 * i + c] - cm[c]) - (d[c] - cd[c]);
            squared += e * e;
        }
        sum += std::sqrt(squared);
    }
    return static_cast<float>(sum / static_cast<double>(n));
}

cv::Mat SyntheticPhoto(int width, int height, const cv::Scalar& colour)
{
    cv::Mat photo(height, width, CV_8UC3, colour);
    // A little structure so that the normal map is not flat everywhere.
    for (int y = 0; y < height; y += 16)
        photo.row(y).setTo(colour * 0.8);
    return photo;
}
