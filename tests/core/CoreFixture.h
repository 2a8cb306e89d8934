#pragma once
// A core object on a headless context, built over the synthetic data tree in a temporary program
// folder, with photos and points ready for a reconstruction.
#include <memory>
#include <string>

#include <opencv2/core.hpp>

#include "core/Vultari.h"
#include "platform/xml/Xmldocument.h"
#include "tests/core/SyntheticHead.h"
#include "testing/TestHelpers.h"

constexpr int kCoreWidth = 697;
constexpr int kCoreHeight = 647;
constexpr float kPixelsPerUnit = 100.0f;

// The build tree's shader folder beside the test program: the synthetic tree copies it.
std::string BuildShaderFolder();

class CoreFixture {
public:
    // Writes the synthetic tree into a fresh program folder and builds the core object on it.
    explicit CoreFixture(const std::string& tag);
    ~CoreFixture();

    // Gives the core the two photos with their bitmaps, as photo loading leaves them, and the
    // points of the synthetic head (or of `head`) in orthographic views.
    void LoadPhotos(const cv::Scalar& skin = cv::Scalar(120, 150, 210));
    void ProjectPoints(const TSyntheticHead& head);

    ScopedProgramFolder folder;
    TXMLDocument document;
    std::unique_ptr<TVultari> core;
    TSyntheticHead generic;
};
