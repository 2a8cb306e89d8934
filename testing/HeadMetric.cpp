#include "testing/HeadMetric.h"

#include "testing/CellGrid.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>

namespace {

// Triangles filed by the grid cells their bounding boxes touch, for nearest-point queries.
class TriangleGrid {
public:
    TriangleGrid(const std::vector<cv::Vec3d>& corners, double cellSize) : c(corners), grid(cellSize, 512)
    {
        for (size_t t = 0; t + 2 < c.size(); t += 3) {
            cv::Vec3d lo = c[t], hi = c[t];
            for (int k = 1; k < 3; ++k)
                for (int a = 0; a < 3; ++a) {
                    lo[a] = std::min(lo[a], c[t + k][a]);
                    hi[a] = std::max(hi[a], c[t + k][a]);
                }
            grid.Add(lo.val, hi.val, t);
        }
    }

    // Distance from p to the nearest triangle, and that nearest point.
    double Nearest(const cv::Vec3d& p, cv::Vec3d* at) const
    {
        const auto found = grid.Find(p.val, [&](size_t t) { return cv::norm(Closest(p, t) - p); });
        if (found.item != nullptr)
            *at = Closest(p, *found.item);
        return found.distance;
    }

private:
    cv::Vec3d Closest(const cv::Vec3d& p, size_t t) const { return ClosestPointOnTriangle(p, c[t], c[t + 1], c[t + 2]); }

    const std::vector<cv::Vec3d>& c;
    TCellGrid<size_t> grid;
};

std::vector<cv::Vec3d> Corners(const std::vector<float>& positions)
{
    std::vector<cv::Vec3d> out;
    out.reserve(positions.size() / 3);
    for (size_t i = 0; i + 2 < positions.size(); i += 3)
        out.emplace_back(positions[i], positions[i + 1], positions[i + 2]);
    return out;
}

// The truth's distinct vertices within `radius` of `centre`: corners repeat each vertex.
std::vector<cv::Vec3d> FaceVertices(const std::vector<cv::Vec3d>& corners, const cv::Vec3d& centre, double radius)
{
    struct Hash {
        size_t operator()(const cv::Vec3d& v) const
        {
            std::hash<double> h;
            return h(v[0]) ^ (h(v[1]) * 31) ^ (h(v[2]) * 131);
        }
    };
    struct Equal {
        bool operator()(const cv::Vec3d& a, const cv::Vec3d& b) const { return a == b; }
    };
    std::unordered_set<cv::Vec3d, Hash, Equal> seen;
    std::vector<cv::Vec3d> out;
    for (const cv::Vec3d& p : corners)
        if (cv::norm(p - centre) <= radius && seen.insert(p).second)
            out.push_back(p);
    return out;
}

double Quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return 0;
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(std::floor(q * static_cast<double>(values.size() - 1) + 0.5)));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

std::vector<cv::Vec3d> Transformed(const std::vector<cv::Vec3d>& points, const Similarity& s)
{
    std::vector<cv::Vec3d> out;
    out.reserve(points.size());
    for (const cv::Vec3d& p : points)
        out.push_back(s(p));
    return out;
}

} // namespace

cv::Vec3d ClosestPointOnTriangle(const cv::Vec3d& p, const cv::Vec3d& a, const cv::Vec3d& b, const cv::Vec3d& c)
{
    // By the Voronoi regions of the triangle's corners, edges and face.
    const cv::Vec3d ab = b - a, ac = c - a, ap = p - a;
    const double d1 = ab.dot(ap), d2 = ac.dot(ap);
    if (d1 <= 0 && d2 <= 0)
        return a;
    const cv::Vec3d bp = p - b;
    const double d3 = ab.dot(bp), d4 = ac.dot(bp);
    if (d3 >= 0 && d4 <= d3)
        return b;
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0)
        return a + ab * (d1 / (d1 - d3));
    const cv::Vec3d cp = p - c;
    const double d5 = ab.dot(cp), d6 = ac.dot(cp);
    if (d6 >= 0 && d5 <= d6)
        return c;
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0)
        return a + ac * (d2 / (d2 - d6));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0)
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    const double sum = va + vb + vc;
    if (!(sum > 0))  // a degenerate triangle: its corners are all it has
        return cv::norm(p - a) <= cv::norm(p - b) ? (cv::norm(p - a) <= cv::norm(p - c) ? a : c)
                                                  : (cv::norm(p - b) <= cv::norm(p - c) ? b : c);
    return a + ab * (vb / sum) + ac * (vc / sum);
}

Similarity FitSimilarity(const std::vector<cv::Vec3d>& from, const std::vector<cv::Vec3d>& to, bool withScale)
{
    Similarity s;
    const size_t n = std::min(from.size(), to.size());
    if (n == 0)
        return s;
    cv::Vec3d mf, mt;
    for (size_t i = 0; i < n; ++i) {
        mf += from[i];
        mt += to[i];
    }
    mf *= 1.0 / n;
    mt *= 1.0 / n;
    cv::Matx33d cov = cv::Matx33d::zeros();
    double varFrom = 0;
    for (size_t i = 0; i < n; ++i) {
        const cv::Vec3d f = from[i] - mf, t = to[i] - mt;
        cov += cv::Matx33d(t[0] * f[0], t[0] * f[1], t[0] * f[2], t[1] * f[0], t[1] * f[1], t[1] * f[2], t[2] * f[0],
                           t[2] * f[1], t[2] * f[2]);
        varFrom += f.dot(f);
    }
    cv::Mat w, u, vt;
    cv::SVD::compute(cv::Mat(cov), w, u, vt);
    cv::Matx33d U(u), Vt(vt);
    cv::Matx33d D = cv::Matx33d::eye();
    if (cv::determinant(U * Vt) < 0)
        D(2, 2) = -1;  // a reflection is no turn
    s.rotation = U * D * Vt;
    const double trace = w.at<double>(0) * D(0, 0) + w.at<double>(1) * D(1, 1) + w.at<double>(2) * D(2, 2);
    s.scale = withScale && varFrom > 0 ? trace / varFrom : 1.0;
    s.translation = mt - s.scale * (s.rotation * mf);
    return s;
}

HeadError CompareHeads(const HeadSurface& truth, const HeadSurface& result, double mmPerUnit, double faceRadiusMm)
{
    HeadError e;
    if (truth.positions.size() < 9 || result.positions.size() < 9 || truth.landmarks.size() < 3 ||
        truth.landmarks.size() != result.landmarks.size() || !(mmPerUnit > 0))
        return e;
    const std::vector<cv::Vec3d> face = FaceVertices(Corners(truth.positions), truth.landmarks[0], faceRadiusMm / mmPerUnit);
    const std::vector<cv::Vec3d> resultCorners = Corners(result.positions);
    if (face.empty())
        return e;

    // Landmarks first; the ICP then turns and shifts only, so the scale stays the landmarks'.
    Similarity pose = FitSimilarity(result.landmarks, truth.landmarks);
    const double cell = 0.25 * faceRadiusMm / mmPerUnit / 3.4;
    std::vector<double> distances(face.size());
    for (int iteration = 0; iteration < 30; ++iteration) {
        const std::vector<cv::Vec3d> moved = Transformed(resultCorners, pose);
        TriangleGrid grid(moved, cell);
        std::vector<cv::Vec3d> nearest(face.size());
        for (size_t i = 0; i < face.size(); ++i)
            distances[i] = grid.Nearest(face[i], &nearest[i]);
        // Trimmed: the worst tenth (a torn flap, a hole) must not drag the whole face along.
        const double limit = Quantile(distances, 0.9);
        std::vector<cv::Vec3d> from, to;
        for (size_t i = 0; i < face.size(); ++i)
            if (distances[i] <= limit) {
                from.push_back(nearest[i]);
                to.push_back(face[i]);
            }
        const Similarity step = FitSimilarity(from, to, false);
        Similarity next;
        next.scale = pose.scale;
        next.rotation = step.rotation * pose.rotation;
        next.translation = step.rotation * pose.translation + step.translation;
        pose = next;
        const double turned = cv::norm(step.rotation - cv::Matx33d::eye()), shifted = cv::norm(step.translation);
        if (turned < 1e-7 && shifted < 1e-7)
            break;
    }
    const std::vector<cv::Vec3d> moved = Transformed(resultCorners, pose);
    TriangleGrid grid(moved, cell);
    for (size_t i = 0; i < face.size(); ++i) {
        cv::Vec3d at;
        distances[i] = grid.Nearest(face[i], &at) * mmPerUnit;
    }
    e.median = Quantile(distances, 0.5);
    e.p95 = Quantile(distances, 0.95);
    e.samples = static_cast<int>(face.size());
    e.scale = pose.scale;
    e.valid = true;
    return e;
}
