#pragma once
// What the headless driver, its tests and the quality benchmark share: drawing models into images
// with fixed cameras, capturing presented frames, the points file, and image and surface measures.
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "testing/GLSupport.h"
#include "tools/genhead/Photo.h"

class TColladaEngine;
class THeadAttributes;
class TVultari;

// The size of every view: the main window's 3D panel.
constexpr int kViewWidth = 697;
constexpr int kViewHeight = 647;

// Rendered photos and the result drawn with the same cameras share the generic head's own photo's
// size, background and light (tools/genhead/Photo.h): the panel's size. Larger photos (tried at
// 1300 x 1207) change which side of the generic head's very shallow nose root the profile's face
// line finds, not how well the head is found.
static_assert(kPhotoWidth == kViewWidth && kPhotoHeight == kViewHeight, "photos are the 3D panel's size");

enum class ViewSide { Front, Side };
enum class ViewLook { Lit, Unlit, Silhouette };

// Runs a shell command, collects its standard output (add "2>&1" for its errors too) and returns
// its exit code, -1 when it could not run or did not exit.
int RunCommand(const std::string& command, std::string* output = nullptr);

// A path in single quotes for such a command.
std::string ShellQuoted(const std::string& path);

// The whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// Draws the given models of the engine with the fixed pipeline, textured and lit from the camera
// (a light of its own, not the view's: see kPhotoAmbient), through an orthographic camera (`halfHeight` model units above and below the centre) into the back buffer
// and returns it as an 8-bit BGR image, top row first. Front: the face looks at the camera. Side:
// the face looks to the image's left (the profile's left-facing form). Engine state is restored.
// Unlit draws the textures' own colours: the view of a head whose texture was painted from lit
// photos, which must not be lit a second time when it is compared with them. Silhouette draws
// every model white, whatever its texture holds (a texture may show the photo's background).
cv::Mat RenderModelView(TColladaEngine& engine, const std::vector<int>& models, ViewSide side, int width, int height,
                        const cv::Vec3b& background = kPhotoBackground, float halfHeight = float(kPhotoHalfHeight),
                        ViewLook look = ViewLook::Lit);

// While it lives, every presented frame is first copied from the back buffer into `Last()`.
class FrameCapture {
public:
    FrameCapture(int width, int height);
    ~FrameCapture();
    FrameCapture(const FrameCapture&) = delete;
    FrameCapture& operator=(const FrameCapture&) = delete;
    const cv::Mat& Last() const;
    int Presented() const;
};

// The 41 points as JSON: {"profileOrientation": n, "points": [{"set", "index", "name", "x", "y"}...]},
// x and y converted from the stored photo's pixels to those of the photo as loaded.
std::string PointsJson(const THeadAttributes& points, cv::Size frontStored, cv::Size frontLoaded,
                       cv::Size profileStored, cv::Size profileLoaded);

// Reads a file in PointsJson's format and puts each point it names (by set and index) at its x, y,
// converted from the loaded photo's pixels to the stored photo's; each point alone, its subtree
// stays. A "profileOrientation" entry sets the flag as it stands (the points are given in that form).
// False, with nothing changed, when the text is not such a file or names a point that does not exist.
bool ApplyPointsJson(const std::string& text, THeadAttributes& points, cv::Size frontStored, cv::Size frontLoaded,
                     cv::Size profileStored, cv::Size profileLoaded);

// Pixels that differ from `background` by more than `tolerance` in some channel.
cv::Mat ForegroundMask(const cv::Mat& image, const cv::Vec3b& background, int tolerance = 12);
// Intersection over union of two masks (1 when both are empty).
double MaskIoU(const cv::Mat& a, const cv::Mat& b);
// Peak signal-to-noise ratio in dB of b against a over the mask's pixels (all channels).
double MaskPsnr(const cv::Mat& a, const cv::Mat& b, const cv::Mat& mask);

struct SurfaceDistance {
    double mean = 0;  // mean of both one-sided mean nearest-vertex distances
    double max = 0;   // the larger one-sided maximum (Hausdorff over the vertices)
};
// Distance between two vertex sets (x, y, z per vertex), model units.
SurfaceDistance VertexSetDistance(const std::vector<float>& a, const std::vector<float>& b);

// A known, smooth change of a head: wider, deeper, a longer nose. Applied to the head, eyes and hair
// positions alike (the nose bump touches only the face's front and fades in over depth).
void DeformHead(std::vector<float>& positions);
