#include "tools/genhead/Photo.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/base/Paths.h"
#include "recognition/Recognizer.h"

namespace {

constexpr double kPerUnit = kPhotoHeight / (2 * kPhotoHalfHeight);

// A model point's place in the photo, in pixels whose centres are at whole numbers.
double PhotoX(double x) { return kPhotoWidth / 2.0 + x * kPerUnit - 0.5; }
double PhotoY(double z) { return kPhotoHeight / 2.0 - z * kPerUnit - 0.5; }

// The fixed pipeline's colour of a vertex lit by the flash on the camera (the light looks along +y).
double Lit(Vec3 normal)
{
    constexpr double kMaterialAmbient = 0.2, kMaterialDiffuse = 0.8, kSceneAmbient = 0.2;
    const double facing = std::max(0.0, -Unit(normal).y);
    return std::min(1.0, kSceneAmbient * kMaterialAmbient + kPhotoAmbient * kMaterialAmbient +
                             kPhotoDiffuse * kMaterialDiffuse * facing);
}

// The texture's colour at (u, v) between its four nearest texels, repeated beyond its edges; v
// runs up from the image's last row.
cv::Vec3d Texel(const cv::Mat& texture, Vec2 uv)
{
    const double x = uv.u * texture.cols - 0.5, y = (1 - uv.v) * texture.rows - 0.5;
    const double x0 = std::floor(x), y0 = std::floor(y), fx = x - x0, fy = y - y0;
    auto at = [&](double col, double row) {
        const int c = (int(col) % texture.cols + texture.cols) % texture.cols;
        const int r = (int(row) % texture.rows + texture.rows) % texture.rows;
        const cv::Vec3b t = texture.at<cv::Vec3b>(r, c);
        return cv::Vec3d(t[0], t[1], t[2]);
    };
    return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
}

struct Corner {
    double x, y, depth, light;
    Vec2 uv;
};

// One triangle into the photo where it lies nearer the camera (smaller y) than what is there.
void Fill(const Corner (&c)[3], const cv::Mat& texture, cv::Mat& photo, cv::Mat1d& depth)
{
    const double area = (c[1].x - c[0].x) * (c[2].y - c[0].y) - (c[2].x - c[0].x) * (c[1].y - c[0].y);
    if (std::abs(area) < 1e-12)
        return;
    const int x0 = std::max(0, int(std::ceil(std::min({c[0].x, c[1].x, c[2].x})))),
              x1 = std::min(photo.cols - 1, int(std::floor(std::max({c[0].x, c[1].x, c[2].x})))),
              y0 = std::max(0, int(std::ceil(std::min({c[0].y, c[1].y, c[2].y})))),
              y1 = std::min(photo.rows - 1, int(std::floor(std::max({c[0].y, c[1].y, c[2].y}))));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            auto edge = [&](const Corner& a, const Corner& b) { return ((b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y)) / area; };
            const double w[3] = {edge(c[1], c[2]), edge(c[2], c[0]), edge(c[0], c[1])};
            if (w[0] < 0 || w[1] < 0 || w[2] < 0)
                continue;
            const double d = w[0] * c[0].depth + w[1] * c[1].depth + w[2] * c[2].depth;
            if (d >= depth(y, x))
                continue;
            depth(y, x) = d;
            const double light = w[0] * c[0].light + w[1] * c[1].light + w[2] * c[2].light;
            const Vec2 uv{w[0] * c[0].uv.u + w[1] * c[1].uv.u + w[2] * c[2].uv.u,
                          w[0] * c[0].uv.v + w[1] * c[1].uv.v + w[2] * c[2].uv.v};
            const cv::Vec3d t = Texel(texture, uv);
            cv::Vec3b& out = photo.at<cv::Vec3b>(y, x);
            for (int k = 0; k < 3; ++k)
                out[k] = cv::saturate_cast<uchar>(light * t[k]);
        }
}

// A mesh whose texture coordinates are a pair per vertex, or (perCorner) three per triangle.
void Draw(const Mesh& m, const std::vector<Vec2>& uv, bool perCorner, const cv::Mat& texture, cv::Mat& photo,
          cv::Mat1d& depth)
{
    const std::vector<Vec3> normals = m.VertexNormals();
    for (size_t t = 0; t < m.tris.size(); ++t) {
        Corner c[3];
        for (size_t k = 0; k < 3; ++k) {
            const size_t v = size_t(m.tris[t][k]);
            const Vec3& p = m.pos[v];
            c[k] = {PhotoX(p.x), PhotoY(p.z), p.y, Lit(normals[v]), perCorner ? uv[3 * t + k] : uv[v]};
        }
        Fill(c, texture, photo, depth);
    }
}

}  // namespace

cv::Mat DrawFrontPhoto(const GenericData& generic, const cv::Mat& skin, const cv::Mat& eye)
{
    cv::Mat photo(kPhotoHeight, kPhotoWidth, CV_8UC3, cv::Scalar(kPhotoBackground[0], kPhotoBackground[1], kPhotoBackground[2]));
    cv::Mat1d depth(kPhotoHeight, kPhotoWidth, std::numeric_limits<double>::infinity());
    Draw(generic.g.head, generic.headUv, true, skin, photo, depth);
    Draw(generic.g.leftEye, generic.leftEyeUv, false, eye, photo, depth);
    Draw(generic.g.rightEye, generic.rightEyeUv, false, eye, photo, depth);
    return photo;
}

PhotoFacts MeasurePhotoFacts(const TGenericHead& facts, const cv::Mat& photo)
{
    TRecognizer recognizer(std::make_shared<const TGenericHead>(facts));
    if (!recognizer.frontFaceCascade)
        throw std::runtime_error("no front-face cascade in " + ProgramFolder() + "haarcascades to measure the head's own photo with");
    if (!recognizer.SkinTableUsable())
        throw std::runtime_error("no skin-colour table in " + ProgramFolder() + "data to measure the head's own photo with");
    recognizer.frontImage = photo.clone();
    const TRecognizer::TFaceOutline found = recognizer.MeasureFaceOutline();
    if (!found.faceFound)
        throw std::runtime_error("the front recognizer finds no face on the head's own photo");
    if (!found.outlineFound)
        throw std::runtime_error("the front recognizer finds no skin outline on the head's own photo");
    const double left = PhotoX(facts.front[FrontPoint::LeftHead].x), right = PhotoX(facts.front[FrontPoint::RightHead].x);
    const double crown = PhotoY(facts.front[FrontPoint::TopHead].z), width = right - left;
    const cv::Rect& F = found.face;
    return {(found.meanRight - found.meanLeft) / width, (F.y + F.height * 0.5 - crown) / width};
}

PhotoFacts MeasureOwnPhoto(const GenericData& generic)
{
    const HeadLook look = OwnPhotoLook();
    return MeasurePhotoFacts(generic.facts, DrawFrontPhoto(generic, PaintSkin(generic, look, 1024), PaintEye(look)));
}
