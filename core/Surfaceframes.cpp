#include "core/Surfaceframes.h"

#include "collada/Geometry.h"

void RecomputeSurfaceFrames(TGeometry& mesh)
{
    if (!mesh.RecomputeNormals())
        return;
    // Frames were built at load time from the old normals and texture coordinates; a mesh loaded
    // without them keeps none.
    if (!mesh.tangents.empty())
        mesh.ComputeTangentSpace();
}
