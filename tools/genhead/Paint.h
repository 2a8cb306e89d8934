#pragma once
// The painted skin of the photos taken of the generic head and the heads made from it: its skin
// tone, darker brows, lips and irises, and dark hair over the scalp for some.
#include <opencv2/core.hpp>

#include "tools/genhead/Generic.h"

// Colours are blue-green-red, as the photos hold them.
struct HeadLook {
    cv::Vec3b skin;
    cv::Vec3b iris;
    bool hair = false;  // dark hair painted over the scalp and the back of the head, hair strands drawn
    cv::Vec3b hairColour{30, 28, 30};
};

// BGR skin tones whose shading, from the flash-lit front to the outline, stays inside the skin table.
namespace tones {
inline const cv::Vec3b kFair{150, 178, 228}, kLight{165, 195, 236}, kMedium{112, 148, 200}, kOlive{100, 140, 186},
    kTan{88, 118, 168}, kBrown{68, 94, 140};
inline const cv::Vec3b kBrownIris{40, 70, 110}, kBlueIris{150, 110, 70}, kGreenIris{80, 120, 90}, kDarkIris{30, 45, 60};
}  // namespace tones

// The look of the generic head's own photo: the photo its photo-measured facts come from.
inline HeadLook OwnPhotoLook() { return {tones::kFair, tones::kBrownIris, false}; }

// The head texture in the generic layout (size x size texels) and the eye texture.
cv::Mat PaintSkin(const GenericData& generic, const HeadLook& look, int size);
cv::Mat PaintEye(const HeadLook& look);
