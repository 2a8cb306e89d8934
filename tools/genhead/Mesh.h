#pragma once
// Welded triangle meshes for the generator: one position per surface point, triangles by index.
#include <array>
#include <cmath>
#include <vector>

struct Vec3 {
    double x = 0, y = 0, z = 0;
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(Vec3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }
inline double Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline double Len(Vec3 a) { return std::sqrt(Dot(a, a)); }
inline Vec3 Unit(Vec3 a) {
    double l = Len(a);
    return l > 0 ? a * (1.0 / l) : Vec3{0, 0, 1};
}

struct Vec2 {
    double u = 0, v = 0;
};

using Tri = std::array<int, 3>;

struct Mesh {
    std::vector<Vec3> pos;   // model units, axes of the generic head (x across, y back, z up)
    std::vector<Tri> tris;   // counter-clockwise seen from outside

    // Area-weighted vertex normals, unit length.
    std::vector<Vec3> VertexNormals() const;
    // For each vertex the vertices sharing an edge with it, sorted, without repeats.
    std::vector<std::vector<int>> Neighbours() const;
    // Edges used by one triangle only, as (a, b) in the direction of that triangle.
    std::vector<std::array<int, 2>> BoundaryEdges() const;
    // Drops vertices no triangle uses; returns old -> new index (-1 for dropped).
    std::vector<int> Compact();
};

// Merges vertices with identical positions (within `tolerance`); triangles that collapse are dropped.
Mesh Weld(const std::vector<Vec3>& positions, const std::vector<Tri>& tris, double tolerance);
// Keeps the triangles for which keep(t) holds, then compacts.
template <class F>
Mesh KeepTriangles(const Mesh& mesh, F keep) {
    Mesh out;
    out.pos = mesh.pos;
    for (size_t t = 0; t < mesh.tris.size(); ++t)
        if (keep(t)) out.tris.push_back(mesh.tris[t]);
    out.Compact();
    return out;
}
// Connected components of the triangle graph (triangles sharing a vertex); component id per triangle.
std::vector<int> TriangleComponents(const Mesh& mesh, int* count);

// Nearest hit of the ray origin + t * dir (t > 0) with the mesh; false when it misses.
bool RayHit(const Mesh& mesh, Vec3 origin, Vec3 dir, double* t, int* triangle = nullptr);
