#pragma once
// What a person sees of a reconstructed known head, beside its shape: how like the photo it looks
// when drawn by the photo's camera, where its features are drawn, how far each region followed the
// points, and the colour step at the texture's front/profile fade.
#include <array>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "testing/KnownHeads.h"

class THeadAttributes;

// A head as corner positions in the engine's layout: the head mesh and both eyeballs.
struct HeadCorners {
    std::vector<float> head, leftEye, rightEye;
};

// The corners every known head and every result share, by what they stand for.
struct LikenessAnchors {
    int noseTip = -1, chin = -1, mouth = -1;
    std::array<int, 2> mouthCorners{-1, -1};  // nearest the generic head's front mouth corners (left, right)
    std::array<int, 2> ears{-1, -1};          // nearest its front ear points (left, right)
    std::array<int, 2> frontEye{1, 6};        // the front eye centre point of the LeftEye and RightEye meshes
};
LikenessAnchors FindAnchors(const KnownHeadMaker& maker, const GenericData& generic, const HeadCorners& undeformed);

// Mean CIE76 colour difference (Lab, L 0..100) inside a mask: overall, eye boxes, mouth box.
struct PhotoLikeness {
    double all = -1, eyes = -1, mouth = -1;
};
// The result drawn unlit by the photo's camera against the photo; `truthCorners` gives the true face
// mask (its triangles within `faceRadius` model units of the nose tip), `truthFront` the 27 true
// front points in 3D (the boxes around eyes and mouth). `side`: the profile camera. `shown`, when
// given: the result with the mask's outline (green) and the boxes (eyes yellow, mouth red).
PhotoLikeness ComparePhoto(const cv::Mat& photo, const cv::Mat& result, const HeadCorners& truth,
                           const LikenessAnchors& anchors, const std::vector<Vec3>& truthFront, bool side,
                           double faceRadius, cv::Mat* shown = nullptr);

// Where the result's features are drawn against the truth's, % of the true eye distance (the
// worse of each pair); front and profile cameras.
struct Registration {
    double eyes = -1, mouth = -1, nose = -1, chin = -1;
};
Registration CompareRegistration(const HeadCorners& truth, const HeadCorners& result, const LikenessAnchors& anchors,
                                 bool side);

// Of each region's requested move (where the points put its feature, against where the generic
// head has it, both from the nose tip; the nose's: its depth in front of the eyes), the share its
// anchor made, the result brought to the photo's size first: 100 is the whole move. NaN when less
// than 2 mm was asked for.
struct RegionReach {
    double eyes = std::nan(""), nose = std::nan(""), mouth = std::nan(""), ears = std::nan("");
};
RegionReach MeasureReach(const GenericData& generic, const HeadCorners& undeformed, const HeadCorners& result,
                         const LikenessAnchors& anchors, const THeadAttributes& points, bool profileMirrored);

// The colour step across the head texture's front/profile cross-fades, median over the rows from
// eyes to mouth, both sides (CIE76). `inside` is the same step taken a fade's width inside the
// front part: what the face's own shading gives over that distance.
struct SeamStep {
    double step = -1, inside = -1;
};
// `shown`, when given: the atlas with the fades' columns (yellow) and the measured rows' ends (red).
SeamStep MeasureSeam(const cv::Mat& atlas, const THeadAttributes& points, cv::Mat* shown = nullptr);

// Close-ups of both eyes and of the mouth (boxes around the true front points), each scaled to
// `height` pixels: the image is cut out of `image` at the same place for every head drawn with the
// front camera.
cv::Mat EyesCloseUp(const cv::Mat& image, const std::vector<Vec3>& truthFront, int height);
cv::Mat MouthCloseUp(const cv::Mat& image, const std::vector<Vec3>& truthFront, int height);
