#pragma once
// Proportions of the generic head as the front recognizer uses them: where its own feature points
// (data/models/head_features.txt) lie, in units of its head width (the x extent, ears included).
// The reconstruction compares photo distances with the distances between those own points, so a
// point placed by one of these proportions means what the model's point means.
#include "recognition/Headattributes.h"

namespace FrontProportion {
// The mean skin outline of the front scan (inside the ears above, the narrower neck below) is this
// share of the head's full width: the generic head's own front photo gives 0.749, and the known
// heads made from the source figure 0.749 to 0.776.
constexpr double OutlineShareOfWidth = 0.749;
// Crown above the face rectangle's centre, and crown to chin, in head widths (the crown from the
// generic head's front photo; the height from its own points: 7.2462 / 5.89168 model units).
constexpr double CrownAboveFaceCentre = 0.660;
constexpr double HeightPerWidth = 1.2299;
// The row of the x extremes (the ears' upper part), as a share of the height below the crown.
constexpr double ExtremesBelowCrown = 0.3917;

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
    {FrontPoint::LeftEyeCenter, 0.3206, 0.4827}, {FrontPoint::RightEyeCenter, 0.7068, 0.4827},
    {FrontPoint::NoseTip, 0.5024, 0.6002},       {FrontPoint::MouthCenter, 0.4943, 0.7619},
    {FrontPoint::LeftEar, 0.0492, 0.4615},       {FrontPoint::RightEar, 0.9483, 0.4615},
};

// The mouth's centre (the lips' junction) from the tip of the nose, for a mouth the cascade missed:
// the nose is found far more often, and the face box often ends above a long face's mouth.
inline constexpr TOffset MouthFromNose = {FrontPoint::MouthCenter, FrontPoint::NoseTip, -0.0082, 0.1989};

// The borders of the eyes, the nose and the mouth from their centres: the extremes of the
// `_borders` maps of the generic head (an eye's borders are the rim of its opening).
inline constexpr TOffset BorderOffsets[] = {
    {FrontPoint::LeftEyeLeft, FrontPoint::LeftEyeCenter, -0.1212, -0.0158},
    {FrontPoint::LeftEyeRight, FrontPoint::LeftEyeCenter, 0.0698, 0.0005},
    {FrontPoint::LeftEyeTop, FrontPoint::LeftEyeCenter, -0.0663, -0.0239},
    {FrontPoint::LeftEyeBottom, FrontPoint::LeftEyeCenter, -0.0044, 0.0248},
    {FrontPoint::RightEyeLeft, FrontPoint::RightEyeCenter, -0.0748, 0.0005},
    {FrontPoint::RightEyeRight, FrontPoint::RightEyeCenter, 0.0788, -0.0252},
    {FrontPoint::RightEyeTop, FrontPoint::RightEyeCenter, 0.0674, -0.0295},
    {FrontPoint::RightEyeBottom, FrontPoint::RightEyeCenter, 0.0009, 0.0249},
    {FrontPoint::MouthLeft, FrontPoint::MouthCenter, -0.1648, 0.0153},
    {FrontPoint::MouthRight, FrontPoint::MouthCenter, 0.1637, -0.0072},
    {FrontPoint::MouthTop, FrontPoint::MouthCenter, 0.0337, -0.0574},
    {FrontPoint::MouthBottom, FrontPoint::MouthCenter, -0.0003, 0.0664},
    {FrontPoint::NoseLeft, FrontPoint::NoseTip, -0.1090, -0.0298},
    {FrontPoint::NoseRight, FrontPoint::NoseTip, 0.0924, -0.0447},
    {FrontPoint::NoseTop, FrontPoint::NoseTip, -0.0081, -0.1801},
    {FrontPoint::NoseBottom, FrontPoint::NoseTip, -0.0035, 0.1039},
};
}
