#pragma once
// The two sets of feature points of a head: 27 on the front photo, 14 on the profile photo.
#include "recognition/Hierarchicaltree.h"

// Indices of the front points (image left and right: the left eye lies at the smaller x).
namespace FrontPoint {
enum : int {
    HeadCenter = 0,
    LeftEyeCenter = 1, LeftEyeLeft = 2, LeftEyeRight = 3, LeftEyeTop = 4, LeftEyeBottom = 5,
    RightEyeCenter = 6, RightEyeLeft = 7, RightEyeRight = 8, RightEyeTop = 9, RightEyeBottom = 10,
    MouthCenter = 11, MouthLeft = 12, MouthRight = 13, MouthTop = 14, MouthBottom = 15,
    NoseTip = 16, NoseLeft = 17, NoseRight = 18, NoseTop = 19, NoseBottom = 20,
    LeftEar = 21, RightEar = 22,
    BottomHead = 23, TopHead = 24, LeftHead = 25, RightHead = 26,
    Count = 27
};
}

// Indices of the profile points, written for the left-facing form (the nose at the smaller x).
namespace ProfilePoint {
enum : int {
    HeadCenter = 0, EyeCenter = 1, MouthCenter = 2, NoseTip = 3, NoseRoot = 4,
    EarCenter = 5, EarLeft = 6, EarRight = 7, EarTop = 8, EarBottom = 9,
    LeftHead = 10, RightHead = 11, TopHead = 12, BottomHead = 13,
    Count = 14
};
}

class THeadAttributes {
public:
    THPoint* front[FrontPoint::Count];     // front[0] is the root and owns the front tree
    int profileOrientation;                 // 0: profile points left-facing; 1: mirrored (x := W - x)
    THPoint* profile[ProfilePoint::Count]; // profile[0] is the root and owns the profile tree

    // All 41 points at (0, 0), which counts as "never placed"; orientation 0.
    THeadAttributes();
    ~THeadAttributes();
    THeadAttributes(const THeadAttributes&) = delete;
    THeadAttributes& operator=(const THeadAttributes&) = delete;

    // Default positions for a photo of width x height pixels, point by point (no subtree moves).
    void SetDefaultFrontPositions(int width, int height);
    // Left-facing defaults; with keepOrientation and the flag 1 they end mirrored and the flag stays 1.
    void SetDefaultProfilePositions(int width, int height, bool keepOrientation);
    // Mirrors the profile tree about `width` when `orientation` differs from the flag, then stores it.
    void SetProfileOrientation(int orientation, int width);

    // New sets owned by the caller: one group of points scaled (halves to even), the other copied.
    THeadAttributes* CloneScaledFront(float factor) const;
    THeadAttributes* CloneScaledProfile(float factor) const;
};
