#pragma once
// The generic head: the MakeHuman head and neck in their natural proportions, with open eye sockets
// and a closed neck.
#include <string>

#include "tools/genhead/Mesh.h"

// Metres per model unit of the generic models; their documents declare it as their unit.
inline constexpr double kMetresPerUnit = 0.028;

// The program's frame for the generic head: MakeHuman's figure moved whole, neither bent, turned
// nor scaled, so that the middle between its corneas' fronts sits here; x = 0 stays its midline.
// Everything the program knows of the head's features is measured in this frame (its facts).
inline constexpr Vec3 kEyesMiddleAt{0.0, -0.732, 0.502};

// Besides moving with its socket, the reconstruction moves each eyeball back (+y) by its push-back
// (in the head's facts), and eyes.dae keeps it that far in front of its place in the head. The
// eyeballs of this head are stored in their places: no push-back.
namespace eyeballs {
inline constexpr double kLeftPushBack = 0.0;
inline constexpr double kRightPushBack = 0.0;

// An eyeball placed in the head, moved forward by its push-back: as eyes.dae stores it.
inline Mesh AsStored(Mesh eyeball, double pushBack) {
    for (Vec3& p : eyeball.pos) p.y -= pushBack;
    return eyeball;
}

// Moves a stored eyeball (x, y, z floats a vertex) back to where the reconstruction puts it.
inline void PushBack(std::vector<float>& positions, double pushBack) {
    for (size_t k = 1; k < positions.size(); k += 3) positions[k] = static_cast<float>(positions[k] + pushBack);
}
}  // namespace eyeballs

struct GenericHead {
    Mesh head;      // skin of head and neck, welded; holes only at the eyes
    // The eyeballs where they sit in the head (the skin is shaped around these); eyes.dae stores
    // them forward by their push-back (eyeballs::AsStored).
    Mesh leftEye;   // eyeball at -x (the front photo's left)
    Mesh rightEye;  // eyeball at +x
    // Feature positions of the finished head.
    int noseTipVertex = -1;   // the most forward vertex
    int chinVertex = -1;      // the lowest vertex of the chin
    int topVertex = -1;       // the highest vertex
    Vec3 leftEyeApex, rightEyeApex;   // front of each cornea (the eye centre photos see is the opening's middle)
    Vec3 leftEyeCentre, rightEyeCentre;  // centre of each eyeball
    double eyeRadius = 0;
    Vec3 mouth;               // lip junction on the midline, at the depth of the lips' fronts
    Vec3 nasion;              // nose root; the nose's depth stretches about its depth
    Vec3 leftEar, rightEar;   // ear centres (middle of each ear's extent)
    Vec3 earSize;             // extent of the ear in x, y, z
    double stomionZ = 0;
};

// The most forward (least y) vertex within 0.3 of the midline strictly between heights zLow and
// zHigh: the nose tip. Throws std::runtime_error when there is none.
int MostForwardMidlineVertex(const Mesh& m, double zLow, double zHigh);

// A head other than MakeHuman's, made from its figure (shares: 0.08 is 8 % more). The neutral
// values give the figure as it is.
struct HeadVariant {
    double wider = 0;       // across (x), about the midline
    double noseLonger = 0;  // the nose from root to tip
};

// Builds the head from the MakeHuman model at `path`. Throws std::runtime_error on failure.
GenericHead BuildHead(const std::string& path, const HeadVariant& variant = {});
