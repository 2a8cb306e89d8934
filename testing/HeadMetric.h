#pragma once
// How far a reconstructed head is from the true head, in millimetres, whatever its own position,
// turn and size: the quality benchmark's measure.
//
// The result is brought onto the truth by a similarity fitted to matching landmarks, refined by a
// rigid ICP on the truth's face; then every face vertex of the truth is measured against the
// result's surface (nearest point on its triangles).
#include <vector>

#include <opencv2/core.hpp>

struct HeadSurface {
    // x, y, z a corner, three corners a triangle (de-indexed, the engine's layout).
    std::vector<float> positions;
    // Matching feature positions, the same features in the same order on both heads (the first is
    // the nose tip: the face region is measured from it).
    std::vector<cv::Vec3d> landmarks;
};

struct HeadError {
    double median = 0;  // mm
    double p95 = 0;     // mm
    int samples = 0;    // face vertices measured
    double scale = 1;   // of the similarity that brought the result onto the truth
    bool valid = false; // false when a surface is empty or the landmarks do not match
};

// `mmPerUnit` converts the truth's model units; the face is the truth's vertices within
// `faceRadiusMm` of its nose tip.
HeadError CompareHeads(const HeadSurface& truth, const HeadSurface& result, double mmPerUnit,
                       double faceRadiusMm = 95.0);

// The similarity (scale * R * p + t) that best maps `from` onto `to` in the least-squares sense
// (Umeyama). Needs at least three points not on one line.
struct Similarity {
    double scale = 1;
    cv::Matx33d rotation = cv::Matx33d::eye();
    cv::Vec3d translation;
    cv::Vec3d operator()(const cv::Vec3d& p) const { return scale * (rotation * p) + translation; }
};
Similarity FitSimilarity(const std::vector<cv::Vec3d>& from, const std::vector<cv::Vec3d>& to, bool withScale = true);

// Nearest point of triangle (a, b, c) to p.
cv::Vec3d ClosestPointOnTriangle(const cv::Vec3d& p, const cv::Vec3d& a, const cv::Vec3d& b, const cv::Vec3d& c);
