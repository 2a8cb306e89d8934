#pragma once
// The measuring and deforming half of the reconstruction: extents of the generic head and its
// regions, the proportions taken from the photos, and the weighted moves that bring the head, the
// eyeballs and the hair to those proportions. TVultari::Reconstruct runs these on freshly loaded
// models; they are separate so that the arithmetic can be checked on small meshes.
//
// Axes: x across the face (the photo's left is -x), y depth (the face looks toward -y), z up.
// Position float k of a mesh is coordinate k mod 3 of vertex k div 3.
#include <cstddef>

class TGeometry;
class THeadAttributes;
class TWeightManager;
struct TGenericHead;

// One extreme of a region: its value and the position index of the float where it was reached.
struct TExtreme {
    float value = 0;
    size_t index = 0;
};

// A region's box in two coordinates; `found` is false when its map marks no vertex.
struct TRegionBox {
    TExtreme maxA, minA, maxB, minB;  // a = x (y for the ear), b = z
    bool found = false;
};

// Extents of the unmoved generic head (one pass over its positions).
struct THeadExtents {
    float maxX = -10000, minX = 10000, maxY = -10000, minY = 10000, maxZ = -10000;
    float chinZ = 10000;      // z of the last vertex marked by head_bottom
    size_t noseTipIndex = 0;  // index of the x float of the last vertex marked by tip_of_the_nose
    float noseTipY = 0, noseTipZ = 0;  // depth and height of that vertex
    bool chinFound = false, noseTipFound = false;
    TRegionBox mouth, nose, leftEye, rightEye;  // x and z extents
    TRegionBox ear;                              // y and z extents of the left ear
};

// The proportions of one run.
struct TReconstructionScales {
    float t = 1;  // height scale
    float u = 1;      // depth scale of the whole head: the back of the head reaches the photo's border
    float faceU = 1;  // depth scale in front of the ears (the skull's back is no measure of the face)
    // Height scales above and below the eyes (the crown and the chin each measured from the eye
    // line); both t where that cannot be measured.
    float tAbove = 1, tBelow = 1;
    float v = 1;  // model units per front-photo pixel
    float w = 1;  // front-photo pixels per profile-photo pixel
};

// The per-run values of the deformation, kept for inspection.
struct TDeformationReport {
    float noseDepthFactor = 1;
    float tipX = 0, tipY = 0, tipZ = 0;
    float noseXScale = 1, noseZScale = 1, mouthXScale = 1, mouthZScale = 1, earZScale = 1, earYScale = 1;
    float leftEyeXScale = 1, leftEyeZScale = 1, rightEyeXScale = 1, rightEyeZScale = 1;
};

// One pass over the head's positions. The maps must cover every vertex of the head.
THeadExtents MeasureHead(const TGeometry& head, const TWeightManager& weights);

// A photo's size in pixels; 0 x 0 when unknown.
struct TPhotoSize {
    int width = 0;
    int height = 0;
};

// Which of the points the scales may use were found in the photos (or placed by the user), not
// placed by the generic head's proportions.
struct TMeasuredPoints {
    bool profileEar = true;
};

// t, u, v and w from the head's extents and the photo points (head borders already ordered).
// Every divisor that is 0 leaves its factor at 1; a front head width of 0 leaves v at 1 (the
// reconstruction refuses such points before it gets here). t and u are kept within a factor of 1.5
// of the generic head's proportions, which every head has.
// A head border on (within a pixel of) or beyond the edge of a photo of known size was not found
// there: the head runs on past the edge, so the size it bounds is only the least size. A scale that
// such a size sets is then only a bound, and it takes the generic head's proportion (1) unless the
// bound asks for more; bounded from both sides, it is 1. faceU is the depth change that the ear's
// place and the head's back both show (1 where they disagree), as either alone is moved by something
// that is not the face: ears sit at varying depths, skulls vary behind them. The ear's depth is
// measured against the generic head's ear anchor; without the generic head, or for an ear the
// proportions placed, which shows nothing of the face, faceU is u.
TReconstructionScales MeasureScales(const THeadExtents& extents, const THeadAttributes& points,
                                    TPhotoSize front = {}, TPhotoSize profile = {}, TMeasuredPoints measured = {},
                                    const TGenericHead* generic = nullptr);

// Moves the four meshes in place. The head's maps must cover every vertex of the head; the
// profile points must be in their left-facing form. The regions' moves are measured from the
// generic head's anchors, the nose's depth stretches about its stretch plane.
TDeformationReport DeformMeshes(TGeometry& head, TGeometry& leftEye, TGeometry& rightEye, TGeometry& hairs,
                                const THeadExtents& extents, const THeadAttributes& points,
                                const TReconstructionScales& scales, const TWeightManager& weights,
                                const TGenericHead& generic);
