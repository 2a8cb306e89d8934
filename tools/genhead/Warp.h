#pragma once
// A smooth space warp through pairs of points: a similarity fitted to the pairs (uniform scale, a
// turn about the x axis and a shift), then a sum of Gaussian bumps, one on each source point, that
// takes up what the similarity leaves: every source point lands exactly on its target, the space
// near a point moves almost rigidly with it, and far from every point the warp is the similarity.
#include <cmath>
#include <vector>

#include "tools/genhead/Mesh.h"

class Warp {
public:
    // `similarityPairs` chooses which pairs (by index) the similarity is fitted to; `reach` is the
    // bumps' standard deviation, in the source's units.
    Warp(const std::vector<Vec3>& from, const std::vector<Vec3>& to, const std::vector<int>& similarityPairs,
         double reach);
    Vec3 operator()(Vec3 p) const;
    double scale() const { return scale_; }
    // The similarity's turn about x (radians; positive turns +y towards +z).
    double pitch() const { return pitch_; }
    // The similarity's turn and scale alone, for directions and offsets.
    Vec3 Linear(Vec3 d) const {
        const double c = std::cos(pitch_), s = std::sin(pitch_);
        return Vec3{d.x, c * d.y - s * d.z, s * d.y + c * d.z} * scale_;
    }
    // The similarity part alone: where p goes before the bending.
    Vec3 Similar(Vec3 p) const { return Linear(p) + shift_; }

private:
    double scale_ = 1;
    double pitch_ = 0;
    Vec3 shift_;
    double reach_ = 1;
    std::vector<Vec3> centres_;
    std::vector<Vec3> weights_;
    double Bump(Vec3 p, Vec3 centre) const;
};
