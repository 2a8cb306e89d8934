#include "tools/genhead/Warp.h"

#include <cmath>
#include <stdexcept>

namespace {
// Solves a * x = b in place by Gaussian elimination with partial pivoting.
std::vector<double> Solve(std::vector<std::vector<double>> a, std::vector<double> b) {
    const size_t n = b.size();
    for (size_t c = 0; c < n; ++c) {
        size_t p = c;
        for (size_t r = c + 1; r < n; ++r)
            if (std::abs(a[r][c]) > std::abs(a[p][c])) p = r;
        if (std::abs(a[p][c]) < 1e-12) throw std::runtime_error("warp: the point pairs are degenerate");
        std::swap(a[p], a[c]);
        std::swap(b[p], b[c]);
        for (size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            double f = a[r][c] / a[c][c];
            for (size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (size_t c = 0; c < n; ++c) b[c] /= a[c][c];
    return b;
}
}  // namespace

Warp::Warp(const std::vector<Vec3>& from, const std::vector<Vec3>& to, const std::vector<int>& similarityPairs) {
    // Least-squares uniform scale and shift (no rotation: the axes already agree).
    Vec3 cf, ct;
    for (int i : similarityPairs) {
        cf = cf + from[i];
        ct = ct + to[i];
    }
    cf = cf * (1.0 / similarityPairs.size());
    ct = ct * (1.0 / similarityPairs.size());
    double num = 0, den = 0;
    for (int i : similarityPairs) {
        num += Dot(from[i] - cf, to[i] - ct);
        den += Dot(from[i] - cf, from[i] - cf);
    }
    scale_ = num / den;
    shift_ = ct - cf * scale_;

    const size_t n = from.size();
    centres_ = from;
    std::vector<std::vector<double>> a(n + 1, std::vector<double>(n + 1, 0.0));
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) a[i][j] = Len(from[i] - from[j]);
        a[i][n] = 1;
        a[n][i] = 1;
    }
    std::vector<double> rx(n + 1, 0), ry(n + 1, 0), rz(n + 1, 0);
    for (size_t i = 0; i < n; ++i) {
        Vec3 r = to[i] - Similar(from[i]);
        rx[i] = r.x;
        ry[i] = r.y;
        rz[i] = r.z;
    }
    auto wx = Solve(a, rx), wy = Solve(a, ry), wz = Solve(a, rz);
    weights_.resize(n);
    for (size_t i = 0; i < n; ++i) weights_[i] = {wx[i], wy[i], wz[i]};
    constant_ = {wx[n], wy[n], wz[n]};
}

Vec3 Warp::operator()(Vec3 p) const {
    Vec3 out = Similar(p) + constant_;
    for (size_t i = 0; i < centres_.size(); ++i) out = out + weights_[i] * Len(p - centres_[i]);
    return out;
}
