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

Warp::Warp(const std::vector<Vec3>& from, const std::vector<Vec3>& to, const std::vector<int>& similarityPairs,
           double reach) {
    // Least-squares scale, turn about x and shift. Across (x) the axes already agree; the turn
    // takes up a different tilt of the head between the source and the targets.
    Vec3 cf, ct;
    for (int i : similarityPairs) {
        cf = cf + from[i];
        ct = ct + to[i];
    }
    cf = cf * (1.0 / similarityPairs.size());
    ct = ct * (1.0 / similarityPairs.size());
    double along = 0, turn = 0, across = 0, den = 0;
    for (int i : similarityPairs) {
        const Vec3 a = from[i] - cf, b = to[i] - ct;
        along += a.y * b.y + a.z * b.z;
        turn += a.y * b.z - a.z * b.y;
        across += a.x * b.x;
        den += Dot(a, a);
    }
    pitch_ = std::atan2(turn, along);
    scale_ = (across + std::cos(pitch_) * along + std::sin(pitch_) * turn) / den;
    shift_ = ct - Linear(cf);

    reach_ = reach;
    const size_t n = from.size();
    centres_ = from;
    std::vector<std::vector<double>> a(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) a[i][j] = Bump(from[i], from[j]);
    std::vector<double> rx(n, 0), ry(n, 0), rz(n, 0);
    for (size_t i = 0; i < n; ++i) {
        Vec3 r = to[i] - Similar(from[i]);
        rx[i] = r.x;
        ry[i] = r.y;
        rz[i] = r.z;
    }
    auto wx = Solve(a, rx), wy = Solve(a, ry), wz = Solve(a, rz);
    weights_.resize(n);
    for (size_t i = 0; i < n; ++i) weights_[i] = {wx[i], wy[i], wz[i]};
}

double Warp::Bump(Vec3 p, Vec3 centre) const {
    const Vec3 d = p - centre;
    return std::exp(-Dot(d, d) / (2 * reach_ * reach_));
}

Vec3 Warp::operator()(Vec3 p) const {
    Vec3 out = Similar(p);
    for (size_t i = 0; i < centres_.size(); ++i) out = out + weights_[i] * Bump(p, centres_[i]);
    return out;
}
