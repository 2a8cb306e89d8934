#pragma once
// One core object on a headless context of the 3D panel's size, shared by the editor, export and
// view tests of one program (building it compiles five programs and reads fifteen weight maps).
#include "core/Vultari.h"
#include "platform/xml/Xmldocument.h"

#include <filesystem>
#include <memory>
#include <string>

#include <opencv2/core.hpp>

constexpr int kPanelWidth = 697;
constexpr int kPanelHeight = 647;

// The shared core object; built on first use. Null (with the reason in CoreError()) when it cannot
// be built: the tests that need it then fail with that reason.
TVultari* SharedCore();
const std::string& CoreError();
// The program folder the shared core object was built on (its own small data tree).
const std::string& SharedProgramFolder();

// A fresh folder under the temporary folder, removed with the object.
class TempFolder {
public:
    explicit TempFolder(const std::string& tag);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path; }
    std::string operator/(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

// Writes an image file and returns its path.
std::string WriteImage(const TempFolder& folder, const std::string& name, const cv::Mat& image);

// Hands the core object three small models as a finished reconstruction leaves them: a head square
// (node with an effect, a base texture and a normal map), two eye squares and a hair square, in the
// engine's registry with buffers, indices and flags set and the view in mode 3. Removes them again
// (and puts the core's view state back) when it goes.
//
// Layout in model units (the head view looks along +y at the x-z plane; x right, z up):
//   head  x -2..2,  z -2..2  at y 0, red texture
//   eyes  x  2.5..4.5, z -1..1 at y 0 (two squares of one asset), green texture
//   hairs x  3.5..5.5, z -1..1 at y 0, blue texture; overlaps the eyes in x 3.5..4.5
class ReconstructedScene {
public:
    explicit ReconstructedScene(TVultari& core);
    ~ReconstructedScene();
    ReconstructedScene(const ReconstructedScene&) = delete;
    ReconstructedScene& operator=(const ReconstructedScene&) = delete;

    TVultari& core;
    int baseTexture = -1;
    int normalMap = -1;

private:
    TempFolder folder{"scene"};
};

// Window pixel (x from the left, y from the top) of a model point on the plane y = 0 in the head
// view with unit asset scale: where the tests look for each square.
cv::Point ScenePixel(float x, float z);

// Counts presented frames while it lives and keeps the last one (read before it was presented).
class SwapCounter {
public:
    SwapCounter();
    ~SwapCounter();
    SwapCounter(const SwapCounter&) = delete;
    SwapCounter& operator=(const SwapCounter&) = delete;
    int Count() const;
    const cv::Mat& Last() const;
};

// The back buffer of framebuffer 0, BGR, top row first.
cv::Mat ReadWindow();
