#pragma once
// The generic head: the MakeHuman head and neck, warped so its features sit on the anchors the
// reconstruction matches photos against, with open eye sockets and a closed neck.
#include <string>

#include "tools/genhead/Mesh.h"

// Positions in the generic head's model space that the reconstruction hard-codes.
namespace anchors {
inline constexpr Vec3 kNose{0.0, -1.246, 0.817};  // its y is the depth origin of the nose stretch
inline constexpr Vec3 kMouth{0.0, -0.894, -1.521};
inline constexpr Vec3 kLeftEye{-1.023, -0.732, 0.502};
inline constexpr Vec3 kRightEye{1.252, -0.732, 0.502};
inline constexpr Vec3 kLeftEar{-2.622, 2.764, 0.656};
inline constexpr Vec3 kRightEar{2.675, 2.764, 0.656};
}  // namespace anchors

struct GenericHead {
    Mesh head;      // skin of head and neck, welded; holes only at the eyes
    Mesh leftEye;   // eyeball at -x (the front photo's left)
    Mesh rightEye;  // eyeball at +x
    // Feature positions of the finished head.
    int noseTipVertex = -1;   // the most forward vertex
    int chinVertex = -1;      // the lowest vertex of the chin
    int topVertex = -1;       // the highest vertex
    Vec3 leftEyeApex, rightEyeApex;   // front of each cornea: the eye centre of both photos
    Vec3 leftEyeCentre, rightEyeCentre;  // centre of each eyeball
    double eyeRadius = 0;
    Vec3 mouth;               // lip junction on the midline
    Vec3 nasion;              // nose root
    Vec3 leftEar, rightEar;   // ear centres (middle of each ear's extent)
    Vec3 earSize;             // extent of the ear in x, y, z
    double stomionZ = 0;
};

// Builds the head from the MakeHuman model at `path`. Throws std::runtime_error on failure.
GenericHead BuildHead(const std::string& path);
