#pragma once
// The MakeHuman base mesh read through assimp, brought to the generic head's axes.
#include <string>

#include "tools/genhead/Mesh.h"

struct SourceModel {
    Mesh body;  // welded skin surface of the whole figure
    Mesh eyes;  // both eyeballs of the high-polygon eye mesh, welded
};

// Reads `path` (human.zae) and maps MakeHuman's y-up, face-towards-+z metres to our axes:
// x across (the figure's left is +x), y towards the back, z up, in units of `unit` metres.
// Throws std::runtime_error when the file cannot be read or lacks the two meshes.
SourceModel LoadSource(const std::string& path, double unit);
