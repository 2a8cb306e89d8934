#pragma once
// What every reconstructed head must be, whatever the photos and however the points were placed:
// each eyeball shows in its opening and nowhere else, no triangle turns over or is stretched far
// beyond its rest shape, and the skin of the atlas holds no photo background.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "tools/genhead/Mesh.h"

class TGeometry;

// An edge may grow at most this much against the generic head scaled like the result.
constexpr double kMaxEdgeStretch = 3.0;

// Edges of the welded skin used by one triangle only, as loops of corner positions (the head's
// corners are not shared; equal positions are one surface point). `folds` counts edges used twice in
// one direction.
std::vector<std::vector<Vec3>> OpenLoops(const TGeometry& g, int* folds = nullptr);

struct SurfaceDamage {
    Vec3 scale{1, 1, 1};     // the reconstruction's overall scale per axis, against which the rest is taken
    int turned = 0;          // triangles whose normal points against their rest normal
    int overStretched = 0;   // triangles with an edge longer than kMaxEdgeStretch x its rest length
    double worstStretch = 0; // the largest edge ratio
    size_t worstTriangle = 0;
    Vec3 worstAt;            // the middle of that triangle, as moved
    bool Whole() const { return turned == 0 && overStretched == 0; }
    std::string Describe() const;
};

// The per-axis scale that takes `rest` onto `moved` best (least squares about their middles); the
// hair gets only the reconstruction's overall scaling, so its scale is that of the whole head.
Vec3 AxisScale(const std::vector<float>& rest, const std::vector<float>& moved);

// Every triangle of `moved` against the same triangle of `rest` scaled by `scale` (corner positions
// x, y, z; corner numbers three a triangle).
SurfaceDamage MeasureSurfaceDamage(const std::vector<float>& rest, const std::vector<float>& moved,
                                   const std::vector<int>& triangles, Vec3 scale);

// Rays from the front (+y) over an eyeball's front view: inside the opening's rim each must meet the
// eyeball before any skin, and outside it the eyeball must never lie in front of the skin.
struct EyeballView {
    bool rimFound = false;
    int shown = 0;         // inside the rim, the eyeball first
    int covered = 0;       // inside the rim, skin in front of the eyeball (behind its lids)
    int missed = 0;        // inside the rim, no eyeball at all (an empty socket)
    int hidden = 0;        // outside the rim, the eyeball behind the skin
    int pokesThrough = 0;  // outside the rim, the eyeball in front of the skin
    bool InItsOpening() const { return rimFound && shown > 0 && covered == 0 && missed == 0 && pokesThrough == 0; }
    std::string Describe() const;
};
// `eyeball`: its corner positions, moved back by `pushBack` before the rays are cast.
EyeballView LookAtEyeball(const TGeometry& head, const std::vector<float>& eyeball, double pushBack = 0);

// The part of an eyeball's texture that shows through its opening, seen from the front (rays as in
// LookAtEyeball, the eyeball's texture coordinates interpolated at each hit).
struct EyeTextureSeen {
    int rays = 0;
    double u0 = 1e9, u1 = -1e9, v0 = 1e9, v1 = -1e9;  // extent of the coordinates seen
    double meanU = 0, meanV = 0;
    std::string Describe() const;
};
EyeTextureSeen SeenEyeTexture(const TGeometry& head, const TGeometry& eyeball, double pushBack = 0);

// Atlas texels that the head's triangles cover in texture space and that show the photo's
// background colour (every channel within `tolerance`).
struct AtlasBackground {
    int skinTexels = 0;
    int backgroundTexels = 0;
    cv::Point first{-1, -1};  // one of them, atlas pixels
    std::string Describe() const;
};
// The head's texels of the atlas: 255 where a head triangle samples the texel.
cv::Mat HeadTexels(const TGeometry& head, cv::Size atlas);
AtlasBackground FindBackgroundInSkin(const cv::Mat& atlas, const TGeometry& head, const cv::Vec3b& background,
                                     int tolerance = 12);

// How far a mesh's stored normals are from its surface's, in degrees: per corner, the angle between
// its stored normal and the sum of the face normals, each weighted by its triangle's area, of every
// triangle with a corner at its position (the rule the generic head's normals follow; the skin and
// the eyeballs are smooth everywhere). A stored normal of no length counts as 180 degrees off.
struct NormalDeviation {
    int corners = 0;  // corners measured (those whose surroundings have an area)
    double p95 = 0;
    double max = 0;
    std::string Describe() const;
};
NormalDeviation MeasureNormals(const TGeometry& g);
