#pragma once
// A small software rasteriser for looking at the generated models while they are being made
// (orthographic views, Lambert light from the viewer, optional texture). Not used by the program.
#include <opencv2/core.hpp>

#include "tools/genhead/Mesh.h"

struct PreviewMesh {
    const Mesh* mesh = nullptr;
    std::vector<Vec2> uv;          // per vertex, or per corner when cornerUv is set
    bool cornerUv = false;         // uv holds 3 entries per triangle
    const cv::Mat* texture = nullptr;  // BGR; v runs up
    cv::Vec3d colour{200, 200, 200};    // BGR when there is no texture
    bool wire = false;             // draw the edges only
};

// yawDegrees turns the model about z before viewing along +y (0 = front view, 90 = from the +x side).
cv::Mat RenderPreview(const std::vector<PreviewMesh>& meshes, double yawDegrees, double pitchDegrees,
                      Vec3 centre, double unitsAcross, int size);
