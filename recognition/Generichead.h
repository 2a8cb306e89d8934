#pragma once
// The generic head's facts: what recognition, the deformation and the texture builder need to know
// about the head they compare photos with. The generator writes them beside the models
// (data/models/generic_head.txt, described in data/README.md); the program reads them at start.
// Nothing else in the program states where the generic head's features are.
#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "recognition/Headattributes.h"

// A position in the generic head's model space: x across (the front photo's left is -x), y depth
// (the face looks toward -y), z up.
struct TModelPoint {
    double x = 0, y = 0, z = 0;
};

// A position in the head texture's layout (u around the head, v up).
struct TLayoutPoint {
    double u = 0, v = 0;
};

// The texture builder's references: where the layout has these features of the generic head.
namespace LayoutRef {
enum : int {
    NoseTip = 0, LeftEye = 1, RightEye = 2, Mouth = 3, MouthLeft = 4, MouthRight = 5,
    LeftEar = 6, LeftEarTop = 7, LeftEarBottom = 8, RightEar = 9, RightEarTop = 10, RightEarBottom = 11,
    Count = 12
};
}

// A front point's place relative to another, in head widths (x right, y down as in the photo).
struct TFrontOffset {
    int point, from;
    double dx, dy;
};

// A feature centre inside the head box (crown to chin, extreme to extreme), as shares of its
// width and height.
struct TFrontShare {
    int point;
    double fx, fy;
};

// Proportions the front recognizer uses, derived from the head's own front points when read.
struct TFrontProportions {
    double heightPerWidth = 0;      // crown to chin over the x extent (ears included)
    double extremesBelowCrown = 0;  // row of the x extremes, as a share of the height below the crown
    std::vector<TFrontShare> centreShares;   // eyes, nose tip, mouth, ears
    TFrontOffset mouthFromNose{};            // the mouth's centre from the tip of the nose
    std::vector<TFrontOffset> borderOffsets; // eye, mouth and nose borders from their centres
};

struct TGenericHead {
    // Its own feature points in model space: the front photo sees (x, -z), the profile photo
    // (from +x, the face to the left) sees (y, -z).
    std::array<TModelPoint, FrontPoint::Count> front;
    std::array<TModelPoint, ProfilePoint::Count> profile;
    // Where the deformation measures each region's move from.
    TModelPoint mouth, leftEye, rightEye, leftEar, rightEar;
    double noseStretchY = 0;  // the plane y = this that the nose's depth stretches about
    std::array<TLayoutPoint, LayoutRef::Count> layout;
    // eyes.dae keeps each eyeball this far in front (-y) of its place in the head.
    double leftEyePushBack = 0, rightEyePushBack = 0;
    // Measured on the head's own front photo: the mean skin outline's share of the head's full
    // width, and the crown's height above the face rectangle's centre in head widths.
    double outlineShare = 0, crownAboveFaceCentre = 0;
    // The brow (the top of the band the nose root is looked for in) above the nose tip, as a share
    // of the crown-to-chin height.
    double browOverTip = 0;
    // The profile's mouth in its skin box: behind the nose tip as a share of the head's depth (tip to
    // back), and above the chin as a share of the crown-to-chin height.
    double profileMouthBehindTip = 0, profileMouthAboveChin = 0;

    TFrontProportions proportions;  // derived from `front`
};

// The file of the program's data tree, under the program folder.
inline constexpr const char* kGenericHeadPath = "data/models/generic_head.txt";

// Reads the facts. Throws Exception naming the file, the line and what was expected when the file
// is missing, an entry is malformed, unknown, repeated or missing.
TGenericHead ReadGenericHead(const std::string& path);
// The same for text already in memory; `name` stands for the file in messages.
TGenericHead ParseGenericHead(std::string_view text, const std::string& name);
// The file's text (numbers in their shortest exact form, never the locale's).
std::string GenericHeadText(const TGenericHead& head);
// Fills head.proportions from head.front.
void DeriveProportions(TGenericHead& head);
