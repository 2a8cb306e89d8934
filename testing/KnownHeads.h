#pragma once
// The quality benchmark's known heads: the generic head itself (which is the MakeHuman figure in
// its own proportions) and smooth changes of it, each with a painted skin (darker brows, lips and
// irises, some with dark hair over the scalp), so that photos of them can be reconstructed and
// compared with the truth.
//
// Every known head keeps the generic head's triangles, texture layout and feature points: a point
// of the generic head has one place on every known head, where the head's own smooth change moves it.
#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tools/genhead/Generic.h"
#include "tools/genhead/Paint.h"

class TColladaAsset;

// A smooth change of proportions; the neutral values change nothing.
struct HeadShape {
    Vec3 scale{1, 1, 1};       // the whole head, about the middle between the ears
    double faceLength = 1;     // everything below the eyes stretched down
    double noseDepth = 1;      // how far the nose stands out of the face
    double noseLength = 0;     // the tip moved down (model units)
    double mouthWidth = 1;
    Vec3 earShift;             // both ears (y back, z up; model units)
    double lowerFace = 1;      // everything below the nose tip stretched down (the chin and jaw with it)
    double skullDepth = 1;     // the back of the head further back (deeper) or forward (flatter)
    double faceRelief = 1;     // how far the face stands out in front of the cheeks (below 1: flatter)
    double asymmetry = 0;      // the face's +x half raised and brought forward, its -x half lowered and set back
    double jawWidth = 1;       // the lower face widened toward the jaw's angles
};

struct KnownHead {
    std::string name;
    HeadShape shape;
    HeadLook look;
};

// The benchmark's heads: varied proportions, skin tones and hair.
const std::vector<KnownHead>& KnownHeads();

// Corner positions (x, y, z a corner, three a triangle) in the order of the data tree's models.
struct KnownHeadMeshes {
    std::vector<float> head, rightEye, leftEye, hair;
    std::vector<float> headNormals;  // unit, a corner each, of the changed surface
};

class KnownHeadMaker {
public:
    explicit KnownHeadMaker(const GenericData& generic);

    // Where the generic head's surface point p lies on a head of this shape.
    Vec3 Place(const HeadShape& shape, Vec3 p) const;
    KnownHeadMeshes Meshes(const HeadShape& shape) const;
    // The 27 front and 14 profile feature points of the generic head, placed on the known head.
    std::vector<Vec3> FrontPoints(const HeadShape& shape) const;
    std::vector<Vec3> ProfilePoints(const HeadShape& shape) const;
    // The head texture in the generic layout (size x size texels) and the eye texture.
    cv::Mat PaintSkin(const HeadLook& look, int size) const;
    cv::Mat PaintEye(const HeadLook& look) const;

    // Corner indices of the head mesh that every head shares: the nose tip, the mouth, the chin.
    int noseTipCorner = -1, mouthCorner = -1, chinCorner = -1;

private:
    Vec3 EyeMove(const HeadShape& shape, int side) const;  // side 0 the left eye (-x)

    const GenericData& g;
};

// The places the head metric's first fit lines up: the nose tip, both eye centres, the mouth and
// the chin of a head made the maker's way (its corners, the eyeballs' middles).
std::vector<cv::Vec3d> KnownHeadLandmarks(const KnownHeadMaker& maker, const std::vector<float>& head,
                                          const std::vector<float>& rightEye, const std::vector<float>& leftEye);

// A node's geometry of an exported scene, placed by the node's transform (translate, rotate Z, Y,
// X, then scale, as the node lists them); empty when no node of that name has a geometry.
std::vector<float> PlacedPositions(const TColladaAsset& asset, const std::string& nodeName);
