#pragma once
// Everything the generator derives from the generic head: texture layout, the fifteen weight
// maps, the feature points of both photos, eyes and hair.
#include <array>
#include <string>
#include <vector>

#include "recognition/Generichead.h"
#include "tools/genhead/Head.h"

// The fifteen maps in the reconstruction's slot order.
inline const std::array<const char*, 15> kWeightNames = {
    "tip_of_the_nose", "head_bottom", "left_eye",  "left_eye_borders",  "right_eye",
    "right_eye_borders", "nose",      "nose_borders", "mouth",          "mouth_borders",
    "left_ear",        "left_ear_borders", "right_ear", "right_ear_borders", "face_borders"};

// A feature point of the generic head in model space; its orthographic front view position is
// (x, -z), its side view position (seen from +x, the face to the left) is (y, -z).
struct FeaturePoint {
    Vec3 p;
};

struct GenericData {
    GenericHead g;
    std::array<std::vector<double>, 15> weights;  // per welded head vertex
    std::vector<Vec2> headUv;                     // 3 per triangle, corner order
    std::vector<FeaturePoint> front;              // 27
    std::vector<FeaturePoint> profile;            // 14
    std::vector<Vec2> leftEyeUv, rightEyeUv;       // per welded vertex
    Mesh hair;
    std::vector<Vec2> hairUv;                      // per welded vertex
    double pixelsPerUnit = 60;                     // scale of the notional photos of the layout
    TGenericHead facts;                            // what the program reads of this head
};

GenericData BuildGeneric(const std::string& sourcePath, const HeadVariant& variant = {});
