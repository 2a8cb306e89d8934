#pragma once
// Photos of the known heads as the quality benchmark and the invariant tests take them: each head
// drawn front and side with the photo cameras on the plain background, beside its true points.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "testing/KnownHeads.h"

class TColladaEngine;
class TXMLDocument;

// Pixel of a model point in the photos' orthographic cameras (RenderModelView, 6 units above and
// below the centre): front (x, -z), side (y, -z).
cv::Point PhotoPixel(double across, double up);

// The true points as the driver's points file; `mirrored` for the profile photo flipped to face right.
std::string TruthJson(const std::vector<Vec3>& front, const std::vector<Vec3>& profile, bool mirrored);

// An engine holding the generic head, eyes and hair, drawn as the program draws them; null when a
// model cannot be read. Needs a current GL context's process (the engine makes its own).
std::unique_ptr<TColladaEngine> KnownHeadEngine(TXMLDocument& document);

// Draws one known head into `folder`: textures/, front.png, side-left.png, side-right.png (the
// profile mirrored), truth-left.json and truth-right.json. Returns its meshes through `meshes`.
bool DrawKnownHead(const KnownHeadMaker& maker, TColladaEngine& engine, const KnownHead& head,
                   const std::filesystem::path& folder, KnownHeadMeshes* meshes = nullptr);
