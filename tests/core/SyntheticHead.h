#pragma once
// A small generic data tree of our own for the core's GL tests: a head (an ellipsoid with a nose),
// two eyeballs and a hair cap as COLLADA documents, fifteen weight maps that are functions of
// position, the marker bitmap and the five shader programs. The head follows the contract of the
// real generic head (first geometry in weight-map order, node "Cube" with an effect and a texture,
// eyes geometry 0 right and 1 left, hair drawn as lines), so the reconstruction runs on it unchanged.
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

class THeadAttributes;

struct TSyntheticVertex {
    float x, y, z, nx, ny, nz, u, v;
};

// The generated head, in model units. Positions are those written to head.dae (de-indexed corners).
struct TSyntheticHead {
    std::vector<TSyntheticVertex> corners;  // 3 per triangle
    std::vector<float> weights[15];         // one per corner, by slot
    float tipX = 0, tipY = 0, tipZ = 0;     // the nose tip (the corners marked by tip_of_the_nose)
    struct Change {
        float width = 1, depth = 1, height = 1;  // stretch of the whole head about the origin
        float noseLength = 0;                    // how much further the nose reaches out (-y)
        float mouthDrop = 0;                     // how much lower the mouth sits
    } change;                                    // what distinguishes it from the generic head
};
using TSyntheticChange = TSyntheticHead::Change;

// Builds the generic head ({}) or a changed one; corner i is the same vertex in every variant.
TSyntheticHead MakeSyntheticHead(const TSyntheticChange& change);

// Writes the whole tree under `folder` (which ends with "/"). Shaders are copied from `shaderFolder`.
void WriteSyntheticDataTree(const std::string& folder, const std::string& shaderFolder);

// Writes only the head document (for replacing it with a broken one in failure tests).
std::string HeadDocument(const TSyntheticHead& head, bool withCubeNode = true);

// Feature points of a head as they fall in orthographic front and side views at `pixelsPerUnit`:
// what a perfect recognition of renders of that head would give. The profile is left-facing.
void ProjectFeaturePoints(const TSyntheticHead& head, float pixelsPerUnit, THeadAttributes& points);

// Mean distance between the vertices of `positions` (x, y, z per corner) and the head's corners
// after bringing both centroids together and scaling `positions` uniformly by the factor that fits
// best: photos carry proportions, not an absolute size.
float ShapeDistance(const std::vector<float>& positions, const TSyntheticHead& head);
std::vector<float> Positions(const TSyntheticHead& head);

// Photos of the size the projected points expect (plain skin colour): the reconstruction needs
// photos, the points say where the features are.
cv::Mat SyntheticPhoto(int width, int height, const cv::Scalar& colour);
