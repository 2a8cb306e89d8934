// Smooth vertex normals from the current positions, shared as the stored normals were shared.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

#include "collada/Geometry.h"

namespace {
// Stored normals this close are one normal written twice (rounding, noise of the source's
// arithmetic); a hard edge parts its normals by far more.
const double SameNormalCosine = std::cos(1.0 * 3.14159265358979323846 / 180.0);

bool Finite3(const float* v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

double Dot(const float* a, const float* b) { return double(a[0]) * b[0] + double(a[1]) * b[1] + double(a[2]) * b[2]; }

bool SameDirection(const float* a, const float* b)
{
    const double la = std::sqrt(Dot(a, a)), lb = std::sqrt(Dot(b, b));
    // A normal of no length says nothing about an edge: it joins the others at its place.
    return la == 0 || lb == 0 || Dot(a, b) >= SameNormalCosine * la * lb;
}
}

bool TGeometry::RecomputeNormals()
{
    if (triangles.empty() || positions.empty() || normals.empty())
        return false;
    const size_t vertexCount = std::min(positions.size(), normals.size()) / 3;

    // Corners at one position whose stored normals agree form one group; corners at one position
    // with different stored normals lie on a hard edge and stay apart. A corner with a non-finite
    // position or normal is a group of its own.
    std::vector<size_t> group(vertexCount);
    std::vector<size_t> order;
    order.reserve(vertexCount);
    for (size_t v = 0; v < vertexCount; ++v) {
        group[v] = v;
        if (Finite3(&positions[3 * v]) && Finite3(&normals[3 * v]))
            order.push_back(v);
    }
    // Sorting (not hashing) keeps the result independent of anything but the values; -0 and 0 are one.
    auto position = [&](size_t v) { return std::array<float, 3>{positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]}; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return position(a) < position(b); });
    std::vector<size_t> leaders;  // of the groups at the current position
    for (size_t i = 0; i < order.size(); ++i) {
        const size_t v = order[i];
        if (i == 0 || position(v) != position(order[i - 1]))
            leaders.clear();
        const auto same = std::find_if(leaders.begin(), leaders.end(),
                                       [&](size_t l) { return SameDirection(&normals[3 * l], &normals[3 * v]); });
        if (same != leaders.end())
            group[v] = *same;
        else
            leaders.push_back(v);
    }

    // Each triangle adds its unnormalised face normal (twice its area along it) to its corners'
    // groups, so large triangles weigh more and degenerate ones nothing.
    std::vector<double> sum(3 * vertexCount, 0.0);
    const size_t triangleCount = triangles.size() / 3;
    for (size_t t = 0; t < triangleCount; ++t) {
        const int i0 = triangles[3 * t], i1 = triangles[3 * t + 1], i2 = triangles[3 * t + 2];
        auto valid = [&](int i) { return i >= 0 && static_cast<size_t>(i) < vertexCount; };
        if (!valid(i0) || !valid(i1) || !valid(i2))
            continue;
        const float* p0 = &positions[3 * static_cast<size_t>(i0)];
        const float* p1 = &positions[3 * static_cast<size_t>(i1)];
        const float* p2 = &positions[3 * static_cast<size_t>(i2)];
        const double e1[3] = {double(p1[0]) - p0[0], double(p1[1]) - p0[1], double(p1[2]) - p0[2]};
        const double e2[3] = {double(p2[0]) - p0[0], double(p2[1]) - p0[1], double(p2[2]) - p0[2]};
        const double f[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
        if (!std::isfinite(f[0]) || !std::isfinite(f[1]) || !std::isfinite(f[2]))
            continue;
        for (int i : {i0, i1, i2})
            for (size_t c = 0; c < 3; ++c)
                sum[3 * group[static_cast<size_t>(i)] + c] += f[c];
    }

    // A group without area (only degenerate triangles, or none) keeps its stored normal.
    for (size_t v = 0; v < vertexCount; ++v) {
        const double* s = &sum[3 * group[v]];
        const double length = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
        if (!(length > 0.0) || !std::isfinite(length))
            continue;
        for (size_t c = 0; c < 3; ++c)
            normals[3 * v + c] = static_cast<float>(s[c] / length);
    }
    return true;
}
