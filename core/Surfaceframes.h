#pragma once
// The shading frame of a mesh whose positions have moved since it was loaded.

class TGeometry;

// Normals from the mesh's current positions, smooth and hard where its stored normals were, then,
// for a mesh that carries tangent frames, the tangents and binormals from those normals and its
// current texture coordinates. A mesh without triangles or normals (the hair's lines) is left as it is.
void RecomputeSurfaceFrames(TGeometry& mesh);
