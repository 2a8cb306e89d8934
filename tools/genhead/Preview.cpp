#include "tools/genhead/Preview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace {
struct View {
    double cy, sy, cp, sp;
    Vec3 centre;
    double scale;
    int size;
    // Screen x right, screen y down, depth away from the viewer.
    Vec3 Project(Vec3 p) const {
        Vec3 q = p - centre;
        double x = q.x * cy - q.y * sy;
        double y = q.x * sy + q.y * cy;
        double z = q.z;
        double y2 = y * cp - z * sp;
        double z2 = y * sp + z * cp;
        return {size * 0.5 + x * scale, size * 0.5 - z2 * scale, y2};
    }
    Vec3 Dir(Vec3 n) const {
        double x = n.x * cy - n.y * sy;
        double y = n.x * sy + n.y * cy;
        double y2 = y * cp - n.z * sp;
        double z2 = y * sp + n.z * cp;
        return {x, y2, z2};
    }
};

cv::Vec3d Sample(const cv::Mat& tex, Vec2 uv) {
    double u = uv.u - std::floor(uv.u), v = uv.v;
    v = std::clamp(v, 0.0, 1.0);
    int x = std::clamp(static_cast<int>(u * tex.cols), 0, tex.cols - 1);
    int y = std::clamp(static_cast<int>((1.0 - v) * tex.rows), 0, tex.rows - 1);
    cv::Vec3b c = tex.at<cv::Vec3b>(y, x);
    return {double(c[0]), double(c[1]), double(c[2])};
}
}  // namespace

cv::Mat RenderPreview(const std::vector<PreviewMesh>& meshes, double yawDegrees, double pitchDegrees,
                      Vec3 centre, double unitsAcross, int size) {
    const double a = yawDegrees * M_PI / 180.0, b = pitchDegrees * M_PI / 180.0;
    View view{std::cos(a), std::sin(a), std::cos(b), std::sin(b), centre, size / unitsAcross, size};
    cv::Mat image(size, size, CV_8UC3, cv::Scalar(60, 60, 60));
    std::vector<double> depth(size_t(size) * size, std::numeric_limits<double>::infinity());
    for (const PreviewMesh& pm : meshes) {
        const Mesh& m = *pm.mesh;
        std::vector<Vec3> n = m.VertexNormals();
        std::vector<Vec3> sp(m.pos.size());
        for (size_t i = 0; i < m.pos.size(); ++i) sp[i] = view.Project(m.pos[i]);
        for (size_t t = 0; t < m.tris.size(); ++t) {
            const Tri& tri = m.tris[t];
            Vec3 p0 = sp[tri[0]], p1 = sp[tri[1]], p2 = sp[tri[2]];
            if (pm.wire) {
                for (int i = 0; i < 3; ++i) {
                    Vec3 s = sp[tri[i]], e = sp[tri[(i + 1) % 3]];
                    cv::line(image, cv::Point(int(s.x), int(s.y)), cv::Point(int(e.x), int(e.y)),
                             cv::Scalar(pm.colour[0], pm.colour[1], pm.colour[2]), 1, cv::LINE_AA);
                }
                continue;
            }
            double area = (p1.x - p0.x) * (p2.y - p0.y) - (p2.x - p0.x) * (p1.y - p0.y);
            if (std::abs(area) < 1e-12) continue;
            int x0 = std::max(0, int(std::floor(std::min({p0.x, p1.x, p2.x}))));
            int x1 = std::min(size - 1, int(std::ceil(std::max({p0.x, p1.x, p2.x}))));
            int y0 = std::max(0, int(std::floor(std::min({p0.y, p1.y, p2.y}))));
            int y1 = std::min(size - 1, int(std::ceil(std::max({p0.y, p1.y, p2.y}))));
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x) {
                    double px = x + 0.5, py = y + 0.5;
                    double w0 = ((p1.x - px) * (p2.y - py) - (p2.x - px) * (p1.y - py)) / area;
                    double w1 = ((p2.x - px) * (p0.y - py) - (p0.x - px) * (p2.y - py)) / area;
                    double w2 = 1.0 - w0 - w1;
                    if (w0 < 0 || w1 < 0 || w2 < 0) continue;
                    double d = w0 * p0.z + w1 * p1.z + w2 * p2.z;
                    double& zb = depth[size_t(y) * size + x];
                    if (d >= zb) continue;
                    zb = d;
                    Vec3 nn = Unit(n[tri[0]] * w0 + n[tri[1]] * w1 + n[tri[2]] * w2);
                    Vec3 vd = view.Dir(nn);
                    double light = std::abs(vd.y) * 0.8 + 0.2;  // back faces lit too: holes show
                    if (vd.y > 0) light *= 0.35;                // inside surfaces darker
                    cv::Vec3d c = pm.colour;
                    if (pm.texture && !pm.uv.empty()) {
                        Vec2 a0, a1, a2;
                        if (pm.cornerUv) {
                            a0 = pm.uv[3 * t];
                            a1 = pm.uv[3 * t + 1];
                            a2 = pm.uv[3 * t + 2];
                        } else {
                            a0 = pm.uv[tri[0]];
                            a1 = pm.uv[tri[1]];
                            a2 = pm.uv[tri[2]];
                        }
                        Vec2 uv{a0.u * w0 + a1.u * w1 + a2.u * w2, a0.v * w0 + a1.v * w1 + a2.v * w2};
                        c = Sample(*pm.texture, uv);
                    }
                    cv::Vec3b& o = image.at<cv::Vec3b>(y, x);
                    for (int k = 0; k < 3; ++k) o[k] = cv::saturate_cast<uchar>(c[k] * light);
                }
        }
    }
    return image;
}
