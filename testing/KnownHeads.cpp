#include "testing/KnownHeads.h"

#include "collada/Colladaasset.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace {

double Smooth01(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// min(t, 0) with the corner rounded over about `b`: its slope runs smoothly from 1 to 0.
double SoftMin0(double t, double b)
{
    if (-t / b > 30)
        return t;
    return -b * std::log1p(std::exp(-t / b));
}

double Gauss(Vec3 d, Vec3 sigma)
{
    return std::exp(-(d.x * d.x / (2 * sigma.x * sigma.x) + d.y * d.y / (2 * sigma.y * sigma.y) +
                      d.z * d.z / (2 * sigma.z * sigma.z)));
}

// Features of the generic head the changes are laid around, from its facts.
struct Landmarks {
    Vec3 noseTip;  // the middle of the nose's change: in front of and above the tip
    double eyePlaneY, eyeZ, mouthZ;
    Vec3 ears[2];
};
Landmarks LandmarksOf(const TGenericHead& f)
{
    const TModelPoint& tip = f.front[FrontPoint::NoseTip];
    auto v = [](const TModelPoint& p) { return Vec3{p.x, p.y, p.z}; };
    return {Vec3{tip.x, tip.y - 0.55, tip.z + 0.375}, f.leftEye.y, f.leftEye.z, f.mouth.z,
            {v(f.leftEar), v(f.rightEar)}};
}
constexpr Vec3 kScaleCentre{0, 1.0, 0.5};

Vec3 Deform(const Landmarks& l, const HeadShape& s, Vec3 p)
{
    // The nose stands further out of (or back into) the face; the cheeks beside it follow a little.
    {
        const double sz = p.z > l.noseTip.z ? 1.0 : 0.45;
        const double w = Gauss({p.x, 0, p.z - l.noseTip.z}, {0.7, 1, sz});
        p.y += (s.noseDepth - 1) * w * SoftMin0(p.y - l.eyePlaneY, 0.15);
    }
    if (s.noseLength != 0) {
        const double front = Smooth01((-0.9 - p.y) / 0.6);
        p.z -= s.noseLength * Gauss(p - l.noseTip, {0.45, 0.6, 0.45}) * front;
    }
    if (s.mouthWidth != 1) {
        const double front = Smooth01((-0.2 - p.y) / 0.5);
        p.x *= 1 + (s.mouthWidth - 1) * Gauss({p.x, 0, p.z - l.mouthZ}, {1.1, 1, 0.45}) * front;
    }
    for (const Vec3& ear : l.ears)
        p = p + s.earShift * Gauss(p - ear, {0.9, 0.9, 0.9});
    if (s.faceRelief != 1) {
        // Depth in front of the cheeks' plane scaled, the plane's corner rounded.
        constexpr double kCheekPlaneY = -0.2;
        p.y += (s.faceRelief - 1) * SoftMin0(p.y - kCheekPlaneY, 0.2);
    }
    if (s.jawWidth != 1) {
        // Widest at the jaw's angles, nothing above the nose; the back of the head keeps its width.
        const double below = Smooth01((l.noseTip.z - p.z) / 1.2), front = 1 - Smooth01((p.y - 1.8) / 1.2);
        p.x *= 1 + (s.jawWidth - 1) * below * front;
    }
    if (s.asymmetry != 0) {
        const double front = 1 - Smooth01((p.y - 0.5) / 1.5), side = std::tanh(p.x / 1.2);
        p.z += s.asymmetry * side * front;
        p.y -= 0.5 * s.asymmetry * side * front;
    }
    if (s.skullDepth != 1) {
        // Behind the ears only: the face keeps its place.
        constexpr double kBehindY = 2.4;
        p.y -= (s.skullDepth - 1) * SoftMin0(kBehindY - p.y, 0.3);
    }
    p.z += (s.lowerFace - 1) * SoftMin0(p.z - l.noseTip.z, 0.3);
    p.z += (s.faceLength - 1) * SoftMin0(p.z - (l.eyeZ - 0.15), 0.5);
    const Vec3 d = p - kScaleCentre;
    return kScaleCentre + Vec3{d.x * s.scale.x, d.y * s.scale.y, d.z * s.scale.z};
}

std::vector<float> Flat(const std::vector<Vec3>& corners)
{
    std::vector<float> out;
    out.reserve(corners.size() * 3);
    for (const Vec3& p : corners)
        out.insert(out.end(), {float(p.x), float(p.y), float(p.z)});
    return out;
}

} // namespace

const std::vector<KnownHead>& KnownHeads()
{
    using namespace tones;
    static const std::vector<KnownHead> heads = [] {
        std::vector<KnownHead> h;
        auto add = [&](const char* name, HeadShape shape, cv::Vec3b skin, cv::Vec3b iris, bool hair,
                       cv::Vec3b hairColour = {30, 28, 30}) { h.push_back({name, shape, {skin, iris, hair, hairColour}}); };
        HeadShape generic;
        h.push_back({"generic", generic, OwnPhotoLook()});
        // The MakeHuman figure: the generic head's shape, with another skin and hair.
        const HeadShape mh;
        add("mh", mh, kLight, kBlueIris, true);
        HeadShape s = mh;
        s.scale = {1.07, 1, 1};
        s.faceLength = 0.92;
        add("mh-wide-short", s, kMedium, kBrownIris, false);
        s = mh;
        s.scale = {0.93, 1, 1};
        s.faceLength = 1.09;
        add("mh-narrow-long", s, kTan, kDarkIris, true, {22, 22, 24});
        s = mh;
        s.noseDepth = 1.3;
        s.noseLength = 0.15;
        s.scale = {1, 1.05, 1};
        add("mh-big-nose-deep", s, kOlive, kGreenIris, false);
        s = mh;
        s.noseDepth = 0.75;
        s.noseLength = -0.08;
        s.scale = {1, 0.94, 1};
        add("mh-small-nose-shallow", s, kLight, kBlueIris, true, {35, 40, 52});
        s = mh;
        s.earShift = {0, 0.3, -0.25};
        add("mh-ears-back-low", s, kBrown, kDarkIris, true, {20, 20, 22});
        s = mh;
        s.earShift = {0, -0.3, 0.25};
        s.mouthWidth = 1.12;
        add("mh-ears-forward-high", s, kFair, kGreenIris, false);
        s = mh;
        s.scale = {1, 1.08, 1.04};
        s.mouthWidth = 1.15;
        add("mh-deep-wide-mouth", s, kMedium, kBrownIris, true, {28, 30, 40});
        // Shapes beyond small warps: a long lower face, deep and flat skulls, a flat face, an
        // asymmetric face, and a heavy jaw with a prominent nose on a long lower face.
        s = mh;
        s.lowerFace = 1.2;
        add("mh-long-lower-face", s, kOlive, kBrownIris, true, {26, 24, 28});
        s = mh;
        s.skullDepth = 1.25;
        s.scale = {0.97, 1, 1.03};
        add("mh-deep-skull", s, kFair, kBlueIris, false);
        s = mh;
        s.skullDepth = 0.8;
        s.scale = {1.04, 1, 0.97};
        add("mh-flat-skull", s, kTan, kDarkIris, true, {20, 22, 26});
        s = mh;
        s.faceRelief = 0.75;
        s.noseDepth = 0.85;
        add("mh-flat-face", s, kBrown, kDarkIris, false);
        s = mh;
        s.asymmetry = 0.2;
        add("mh-asymmetric", s, kLight, kGreenIris, true, {40, 50, 70});
        s = mh;
        s.jawWidth = 1.22;
        s.lowerFace = 1.1;
        s.noseDepth = 1.2;
        s.noseLength = 0.1;
        s.faceRelief = 1.12;
        add("mh-heavy-jaw", s, kMedium, kBrownIris, false);
        return h;
    }();
    return heads;
}

KnownHeadMaker::KnownHeadMaker(const GenericData& generic) : g(generic)
{
    const Mesh& m = g.g.head;
    double mouthBest = 1e9;
    for (size_t t = 0; t < m.tris.size(); ++t)
        for (int k = 0; k < 3; ++k) {
            const int v = m.tris[t][k], corner = int(3 * t) + k;
            if (v == g.g.noseTipVertex && noseTipCorner < 0)
                noseTipCorner = corner;
            if (v == g.g.chinVertex && chinCorner < 0)
                chinCorner = corner;
            const double d = Len(m.pos[v] - g.front[FrontPoint::MouthCenter].p);
            if (d < mouthBest) {
                mouthBest = d;
                mouthCorner = corner;
            }
        }
}

Vec3 KnownHeadMaker::Place(const HeadShape& shape, Vec3 p) const
{
    return Deform(LandmarksOf(g.facts), shape, p);
}

// Eyeballs move whole, with the change at their centres: a changed head keeps round eyes.
Vec3 KnownHeadMaker::EyeMove(const HeadShape& shape, int side) const
{
    const Mesh& eye = side ? g.g.rightEye : g.g.leftEye;
    Vec3 centre;
    for (const Vec3& p : eye.pos)
        centre = centre + p;
    centre = centre * (1.0 / double(std::max<size_t>(1, eye.pos.size())));
    return Deform(LandmarksOf(g.facts), shape, centre) - centre;
}

KnownHeadMeshes KnownHeadMaker::Meshes(const HeadShape& shape) const
{
    auto placed = [&](const Mesh& m, auto place) {
        Mesh out = m;
        for (Vec3& p : out.pos)
            p = place(p);
        return out;
    };
    auto corners = [](const Mesh& m, const std::vector<Vec3>& values) {
        std::vector<Vec3> out;
        for (const Tri& t : m.tris)
            for (int v : t)
                out.push_back(values[size_t(v)]);
        return Flat(out);
    };
    auto onHead = [&](Vec3 p) { return Place(shape, p); };
    const Vec3 left = EyeMove(shape, 0), right = EyeMove(shape, 1);
    const Mesh head = placed(g.g.head, onHead), hair = placed(g.hair, onHead);
    const Mesh leftEye = placed(g.g.leftEye, [&](Vec3 p) { return p + left; });
    const Mesh rightEye = placed(g.g.rightEye, [&](Vec3 p) { return p + right; });
    KnownHeadMeshes out;
    out.head = corners(head, head.pos);
    out.headNormals = corners(head, head.VertexNormals());
    out.hair = corners(hair, hair.pos);
    out.leftEye = corners(leftEye, leftEye.pos);
    out.rightEye = corners(rightEye, rightEye.pos);
    return out;
}

std::vector<Vec3> KnownHeadMaker::FrontPoints(const HeadShape& shape) const
{
    std::vector<Vec3> out;
    for (const FeaturePoint& f : g.front)
        out.push_back(Place(shape, f.p));
    return out;
}

std::vector<Vec3> KnownHeadMaker::ProfilePoints(const HeadShape& shape) const
{
    std::vector<Vec3> out;
    for (const FeaturePoint& f : g.profile)
        out.push_back(Place(shape, f.p));
    return out;
}

cv::Mat KnownHeadMaker::PaintSkin(const HeadLook& look, int size) const
{
    return ::PaintSkin(g, look, size);
}

cv::Mat KnownHeadMaker::PaintEye(const HeadLook& look) const
{
    return ::PaintEye(look);
}

std::vector<cv::Vec3d> KnownHeadLandmarks(const KnownHeadMaker& maker, const std::vector<float>& head,
                                          const std::vector<float>& rightEye, const std::vector<float>& leftEye)
{
    auto corner = [&](int c) {
        const size_t i = static_cast<size_t>(c) * 3;
        return i + 2 < head.size() ? cv::Vec3d(head[i], head[i + 1], head[i + 2]) : cv::Vec3d();
    };
    auto centre = [](const std::vector<float>& p) {
        cv::Vec3d sum;
        for (size_t i = 0; i + 2 < p.size(); i += 3)
            sum += cv::Vec3d(p[i], p[i + 1], p[i + 2]);
        return p.empty() ? sum : sum * (3.0 / double(p.size()));
    };
    return {corner(maker.noseTipCorner), centre(leftEye), centre(rightEye), corner(maker.mouthCorner),
            corner(maker.chinCorner)};
}

std::vector<float> PlacedPositions(const TColladaAsset& asset, const std::string& nodeName)
{
    for (const auto& node : asset.visualScenes.nodes) {
        if (node->name != nodeName || node->geometryIndex < 0 ||
            size_t(node->geometryIndex) >= asset.geometries.geometries.size())
            continue;
        std::vector<float> p = asset.geometries.geometries[size_t(node->geometryIndex)]->positions;
        const double rad = M_PI / 180.0;
        const double ax = node->rotate[0] * rad, ay = node->rotate[1] * rad, az = node->rotate[2] * rad;
        const cv::Matx33d rx(1, 0, 0, 0, std::cos(ax), -std::sin(ax), 0, std::sin(ax), std::cos(ax));
        const cv::Matx33d ry(std::cos(ay), 0, std::sin(ay), 0, 1, 0, -std::sin(ay), 0, std::cos(ay));
        const cv::Matx33d rz(std::cos(az), -std::sin(az), 0, std::sin(az), std::cos(az), 0, 0, 0, 1);
        const cv::Matx33d r = rz * ry * rx;
        for (size_t i = 0; i + 2 < p.size(); i += 3) {
            const cv::Vec3d v = r * cv::Vec3d(p[i] * node->scale[0], p[i + 1] * node->scale[1], p[i + 2] * node->scale[2]);
            for (int k = 0; k < 3; ++k)
                p[i + size_t(k)] = static_cast<float>(v[k] + node->translate[size_t(k)]);
        }
        return p;
    }
    return {};
}
