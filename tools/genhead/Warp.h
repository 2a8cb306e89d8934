#pragma once
// A smooth space warp through pairs of points: a similarity fitted to the pairs, then a
// polyharmonic (|r|) interpolant of what the similarity leaves, so every source point lands
// exactly on its target and the space between bends as little as it can.
#include <vector>

#include "tools/genhead/Mesh.h"

class Warp {
public:
    // `similarityPairs` chooses which pairs (by index) the similarity is fitted to.
    Warp(const std::vector<Vec3>& from, const std::vector<Vec3>& to, const std::vector<int>& similarityPairs);
    Vec3 operator()(Vec3 p) const;
    double scale() const { return scale_; }
    // The similarity part alone: where p goes before the bending.
    Vec3 Similar(Vec3 p) const { return p * scale_ + shift_; }

private:
    double scale_ = 1;
    Vec3 shift_;
    std::vector<Vec3> centres_;
    std::vector<Vec3> weights_;
    Vec3 constant_;
};
