#pragma once
// Orthographic front and side views of the generic head drawn with the project's engine, and the
// head's own feature points in those views: photos whose perfect recognition is known. Shared by
// the identity test and the deformation benchmark.
#include <array>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

class TColladaEngine;
class THeadAttributes;
class TVultari;

// The generic head's 27 front and 14 profile feature points in model space, from its facts.
struct TGenericFeatures {
    std::array<cv::Point3f, 27> front;
    std::array<cv::Point3f, 14> profile;
};

// Reads them with the program's reader of the facts file; false (with its message) when that fails.
bool ReadGenericFeatures(const std::string& path, TGenericFeatures& features, std::string& error);

// An orthographic camera: model point -> photo pixel (cx + a * ppu, cy - z * ppu), a being x in the
// front view and y in the side view (seen from +x, the face to the left).
struct TViewCamera {
    int width, height;
    float ppu, cx, cy;
    bool side;
};
TViewCamera FrontCamera();
TViewCamera SideCamera();

// The feature points as pixels of the two cameras (the profile left-facing, orientation 0).
void FeaturePixels(const TGenericFeatures& features, THeadAttributes& points, const TViewCamera& front = FrontCamera(),
                   const TViewCamera& side = SideCamera());

// Draws the given models of the engine unlit with their textures into an offscreen image of the
// camera's size; returns it as 8-bit BGR, top row first, on a plain background.
cv::Mat RenderView(TColladaEngine& engine, const std::vector<int>& models, const TViewCamera& camera);

// Copies the build's data tree (models, weights, textures, shaders, skin table, cascades) into
// `folder` so that a reconstruction there does not rewrite the build's own bitmaps.
void CopyDataTree(const std::string& buildFolder, const std::string& folder);

// Hands the core the two photos with their bitmaps and the points, as photo loading leaves them.
void GivePhotos(TVultari& core, const cv::Mat& front, const cv::Mat& profile, const TGenericFeatures& features,
                const TViewCamera& frontCamera = FrontCamera(), const TViewCamera& sideCamera = SideCamera());

// A smooth change of the generic head: wider, deeper, a longer nose and a lower mouth, the last two
// weighted by the head's own nose and mouth maps. Applied to positions (x, y, z per vertex) with
// per-vertex weights, and to single points with the weight of their nearest vertex.
struct THeadChange {
    float width = 1.08f, depth = 1.1f, noseLength = 0.3f, mouthDrop = 0.2f;
    void Apply(std::vector<float>& positions, const std::vector<float>& nose, const std::vector<float>& mouth) const;
    cv::Point3f Apply(cv::Point3f p, float nose, float mouth) const;
};

// Mean and largest vertex-to-vertex distance (same vertex order), plain and after fitting a
// uniform scale about the centroids (photos carry proportions, not a size).
struct TMeshDistance {
    double mean = 0, max = 0, shapeMean = 0, shapeMax = 0;
};
TMeshDistance MeshDistance(const std::vector<float>& a, const std::vector<float>& b);
