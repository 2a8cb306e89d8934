#pragma once
// Proportions of the generic head as the front recognizer uses them: where its own feature points
// (data/models/head_features.txt) lie, in units of its head width (the x extent, ears included).
// The reconstruction compares photo distances with the distances between those own points, so a
// point placed by one of these proportions means what the model's point means.
#include "recognition/Headattributes.h"

namespace FrontProportion {
// The mean skin outline of the front scan (inside the ears above, the narrower neck below) is this
// share of the head's full width: the generic head's own front photo gives 0.784, and the known
// heads made from the source figure 0.72 to 0.79.
constexpr double OutlineShareOfWidth = 0.784;
// Crown above the face rectangle's centre, and crown to chin, in head widths (the crown from the
// generic head's front photo, 0.78 to 0.85 on the known heads made from the source figure; the
// height from its own points: 8.2098 / 5.9366 model units).
constexpr double CrownAboveFaceCentre = 0.885;
constexpr double HeightPerWidth = 1.3829;
// The row of the x extremes (the ears' upper part), as a share of the height below the crown.
constexpr double ExtremesBelowCrown = 0.4749;

// A point's place relative to another, in head widths (x right, y down as in the photo).
struct TOffset {
    int point, from;
    double dx, dy;
};

// First estimates of the feature centres inside the head box (crown to chin, extreme to extreme),
// as shares of its width and height.
struct TShare {
    int point;
    double fx, fy;
};
inline constexpr TShare CentreShares[] = {
    {FrontPoint::LeftEyeCenter, 0.3213, 0.5741}, {FrontPoint::RightEyeCenter, 0.7045, 0.5741},
    {FrontPoint::NoseTip, 0.5013, 0.7236},       {FrontPoint::MouthCenter, 0.4936, 0.8205},
    {FrontPoint::LeftEar, 0.0519, 0.5553},       {FrontPoint::RightEar, 0.9442, 0.5553},
};

// The mouth's centre (the lips' junction) from the tip of the nose, for a mouth the cascade missed:
// the nose is found far more often, and the face box often ends above a long face's mouth.
inline constexpr TOffset MouthFromNose = {FrontPoint::MouthCenter, FrontPoint::NoseTip, -0.0077, 0.1340};

// The borders of the eyes, the nose and the mouth from their centres: the extremes of the
// `_borders` maps of the generic head (an eye's borders are the rim of its opening).
inline constexpr TOffset BorderOffsets[] = {
    {FrontPoint::LeftEyeLeft, FrontPoint::LeftEyeCenter, -0.0895, -0.0001},
    {FrontPoint::LeftEyeRight, FrontPoint::LeftEyeCenter, 0.0675, 0.0206},
    {FrontPoint::LeftEyeTop, FrontPoint::LeftEyeCenter, -0.0263, -0.0077},
    {FrontPoint::LeftEyeBottom, FrontPoint::LeftEyeCenter, -0.0043, 0.0416},
    {FrontPoint::RightEyeLeft, FrontPoint::RightEyeCenter, -0.0681, 0.0204},
    {FrontPoint::RightEyeRight, FrontPoint::RightEyeCenter, 0.0886, 0.0001},
    {FrontPoint::RightEyeTop, FrontPoint::RightEyeCenter, 0.0257, -0.0077},
    {FrontPoint::RightEyeBottom, FrontPoint::RightEyeCenter, 0.0031, 0.0416},
    {FrontPoint::MouthLeft, FrontPoint::MouthCenter, -0.1629, 0.0033},
    {FrontPoint::MouthRight, FrontPoint::MouthCenter, 0.1624, 0.0076},
    {FrontPoint::MouthTop, FrontPoint::MouthCenter, -0.0261, -0.0543},
    {FrontPoint::MouthBottom, FrontPoint::MouthCenter, -0.1016, 0.0555},
    {FrontPoint::NoseLeft, FrontPoint::NoseTip, -0.0973, -0.0317},
    {FrontPoint::NoseRight, FrontPoint::NoseTip, 0.1066, -0.0645},
    {FrontPoint::NoseTop, FrontPoint::NoseTip, 0.0097, -0.1984},
    {FrontPoint::NoseBottom, FrontPoint::NoseTip, -0.0056, 0.0665},
};
}
