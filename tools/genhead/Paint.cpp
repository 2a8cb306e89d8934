#include "tools/genhead/Paint.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace {

double Smooth01(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

cv::Vec3b Mix(cv::Vec3b a, cv::Vec3b b, double t)
{
    cv::Vec3b out;
    for (int c = 0; c < 3; ++c)
        out[c] = cv::saturate_cast<uchar>(a[c] + (b[c] - a[c]) * std::clamp(t, 0.0, 1.0));
    return out;
}

cv::Vec3b Times(cv::Vec3b a, double b, double g, double r)
{
    return {cv::saturate_cast<uchar>(a[0] * b), cv::saturate_cast<uchar>(a[1] * g), cv::saturate_cast<uchar>(a[2] * r)};
}

// The features the paint is laid around, from the head's facts.
struct PaintMarks {
    double eyeX[2], eyeZ, mouthZ;
    Vec3 ears[2];
};

PaintMarks MarksOf(const TGenericHead& f)
{
    return {{f.leftEye.x, f.rightEye.x}, f.leftEye.z, f.mouth.z, {{f.leftEar.x, f.leftEar.y, f.leftEar.z}, {f.rightEar.x, f.rightEar.y, f.rightEar.z}}};
}

cv::Vec3b SkinColour(const PaintMarks& l, const HeadLook& look, Vec3 p)
{
    cv::Vec3b c = look.skin;
    const double front = Smooth01((-0.2 - p.y) / 0.3);
    // Brows: an arc above each eye, dark as the hair.
    const cv::Vec3b brow = Mix(look.skin, {45, 45, 50}, 0.72);
    for (double x : l.eyeX) {
        const double u = (p.x - x) / 0.62;
        const double z = l.eyeZ + 0.6 + 0.1 * (1 - u * u) - 0.08 * u * u;
        const double across = 1 - Smooth01((std::abs(u) - 0.85) / 0.2);
        const double within = 1 - Smooth01((std::abs(p.z - z) - 0.07) / 0.05);
        c = Mix(c, brow, across * within * front);
    }
    // Lips: redder and darker than the skin, with the dark line where they meet.
    {
        const double t = std::max(0.0, 1 - (p.x / 0.97) * (p.x / 0.97));
        const double top = l.mouthZ + 0.3 * std::sqrt(t), bottom = l.mouthZ - 0.36 * std::sqrt(t);
        const double inside = std::min(Smooth01((top - p.z) / 0.04), Smooth01((p.z - bottom) / 0.04));
        c = Mix(c, Times(look.skin, 0.62, 0.58, 0.84), inside * front);
        const double line = 1 - Smooth01((std::abs(p.z - l.mouthZ) - 0.012) / 0.02);
        c = Mix(c, Times(look.skin, 0.3, 0.28, 0.4), line * inside * front);
    }
    if (look.hair) {
        // The hairline: high on the forehead, lower at the temples, above the ears, down the back
        // of the head to the nape. The ears stay skin.
        const double forehead = 2.5 - 0.55 * Smooth01((std::abs(p.x) - 1.3) / 1.0);
        const double back = Smooth01((p.y - 2.9) / 1.0);
        const double line = (1 - back) * forehead + back * -0.9;
        const Vec3& e = l.ears[p.x > 0 ? 1 : 0];
        const bool ear = std::abs(p.x) > 2.2 && p.y > e.y - 0.86 && p.y < e.y + 0.69 && p.z > e.z - 1.16 && p.z < e.z + 1.04;
        if (!ear)
            c = Mix(c, look.hairColour, Smooth01((p.z - line) / 0.08 + 0.5));
    }
    return c;
}

}  // namespace

cv::Mat PaintSkin(const GenericData& g, const HeadLook& look, int size)
{
    const PaintMarks marks = MarksOf(g.facts);
    cv::Mat atlas(size, size, CV_8UC3, cv::Scalar(look.skin[0], look.skin[1], look.skin[2]));
    cv::Mat covered(size, size, CV_8U, cv::Scalar(0));
    const Mesh& m = g.g.head;
    for (size_t t = 0; t < m.tris.size(); ++t) {
        cv::Point2d q[3];
        Vec3 p[3];
        for (int k = 0; k < 3; ++k) {
            const Vec2& uv = g.headUv[3 * t + size_t(k)];
            q[k] = {uv.u * size - 0.5, (1 - uv.v) * size - 0.5};  // row 0 is the top: v runs up
            p[k] = m.pos[size_t(m.tris[t][size_t(k)])];
        }
        const double area = (q[1].x - q[0].x) * (q[2].y - q[0].y) - (q[2].x - q[0].x) * (q[1].y - q[0].y);
        if (std::abs(area) < 1e-12)
            continue;
        const int x0 = std::max(0, int(std::floor(std::min({q[0].x, q[1].x, q[2].x})))),
                  x1 = std::min(size - 1, int(std::ceil(std::max({q[0].x, q[1].x, q[2].x})))),
                  y0 = std::max(0, int(std::floor(std::min({q[0].y, q[1].y, q[2].y})))),
                  y1 = std::min(size - 1, int(std::ceil(std::max({q[0].y, q[1].y, q[2].y}))));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                auto edge = [&](cv::Point2d a, cv::Point2d b) { return ((b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y)) / area; };
                const double w0 = edge(q[1], q[2]), w1 = edge(q[2], q[0]), w2 = edge(q[0], q[1]);
                if (w0 < -1e-9 || w1 < -1e-9 || w2 < -1e-9)
                    continue;
                atlas.at<cv::Vec3b>(y, x) = SkinColour(marks, look, p[0] * w0 + p[1] * w1 + p[2] * w2);
                covered.at<uchar>(y, x) = 255;
            }
    }
    // Texels between triangles take their covered neighbours' colour, so no seam shows skin in hair.
    for (int pass = 0; pass < 4; ++pass) {
        cv::Mat next = covered.clone();
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                if (covered.at<uchar>(y, x))
                    continue;
                int sum[3] = {0, 0, 0}, n = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int yy = y + dy, xx = x + dx;
                        if (yy < 0 || xx < 0 || yy >= size || xx >= size || !covered.at<uchar>(yy, xx))
                            continue;
                        const cv::Vec3b v = atlas.at<cv::Vec3b>(yy, xx);
                        for (int c = 0; c < 3; ++c)
                            sum[c] += v[c];
                        ++n;
                    }
                if (n == 0)
                    continue;
                atlas.at<cv::Vec3b>(y, x) = {uchar(sum[0] / n), uchar(sum[1] / n), uchar(sum[2] / n)};
                next.at<uchar>(y, x) = 255;
            }
        covered = next;
    }
    return atlas;
}

// The eye texture's layout: the iris in the middle of the square (as the generic eye texture).
cv::Mat PaintEye(const HeadLook& look)
{
    cv::Mat m(64, 64, CV_8UC3, cv::Scalar(225, 230, 235));
    cv::circle(m, {32, 32}, 13, cv::Scalar(look.iris[0], look.iris[1], look.iris[2]), cv::FILLED, cv::LINE_AA);
    cv::circle(m, {32, 32}, 5, cv::Scalar(15, 15, 15), cv::FILLED, cv::LINE_AA);
    return m;
}

