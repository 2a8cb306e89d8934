#pragma once
// One mesh of a COLLADA document and the library that owns the meshes of one asset.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/Xmldocument.h"

class TLibraryVisualScenes;

// A de-indexed mesh. After loading, every present vertex array is indexed by one common vertex
// number v (0-based): positions[3v..3v+2], normals[3v..3v+2], texCoords[2v..2v+1],
// colors[4v..4v+3], tangents[3v..3v+2] and binormals[3v..3v+2] belong to the same vertex, and the
// index list is 0, 1, 2, ...: triangle t is vertices 3t, 3t+1, 3t+2, line m is 2m, 2m+1. An array
// the document does not give stays empty; a vertex count is an array's length divided by its
// values per vertex. Model units; the models' up axis is Z; texture v runs up.
class TGeometry {
public:
    TGeometry() = default;
    TGeometry(const TGeometry&) = delete;
    TGeometry& operator=(const TGeometry&) = delete;

    std::string name;               // the geometry's "name" attribute, also the prefix of its source ids
    std::vector<float> positions;   // x, y, z per vertex
    std::vector<float> normals;     // x, y, z per vertex, as stored (not normalised)
    std::vector<float> texCoords;   // u, v per vertex
    std::vector<float> colors;      // r, g, b, a per vertex
    std::vector<float> tangents;    // unit, 3 per vertex; filled by ComputeTangentSpace, else empty
    std::vector<float> binormals;   // unit, 3 per vertex; filled by ComputeTangentSpace, else empty
    std::vector<int> triangles;     // vertex numbers, 3 per triangle
    std::vector<int> lines;         // vertex numbers, 2 per line (only when there are no triangles)

    // GL buffer names, owned by the rendering engine; 0 = no buffer.
    unsigned int positionBuffer = 0;
    unsigned int normalBuffer = 0;
    unsigned int texCoordBuffer = 0;
    unsigned int colorBuffer = 0;
    unsigned int tangentBuffer = 0;
    unsigned int binormalBuffer = 0;
    unsigned int triangleBuffer = 0;   // element buffer of `triangles`
    unsigned int lineBuffer = 0;       // element buffer of `lines`
    // Shader attribute locations fed from tangentBuffer and binormalBuffer; set by the engine, -1 = unset.
    int tangentAttribute = -1;
    int binormalAttribute = -1;

    // Reads one "geometry" element and de-indexes it. False only when it has no "mesh" child.
    bool Load(IXMLNode geometry);
    // Source readers: the source's "float_array" into the named array. Always true.
    bool LoadPositions(IXMLNode source);
    bool LoadNormals(IXMLNode source);
    bool LoadTexCoords(IXMLNode source);
    bool LoadColors(IXMLNode source);
    // Primitive readers: the primitive's "p" list into `triangles` or `lines`. Always true.
    bool LoadTriangles(IXMLNode primitive);
    bool LoadLines(IXMLNode primitive);

    // Gives every triangle corner (or line end) a vertex of its own. Always true. A geometry whose
    // index list does not fit its arrays (an index outside an array, or a list that does not
    // divide into whole corners and primitives) is emptied rather than read out of bounds.
    bool Unweld();

    // Unit normals from the current positions: every corner gets the normalised sum of the face
    // normals (counter-clockwise winding, weighted by area) of all triangles with a corner that
    // shares its position and its stored normal (within 1 degree). A mesh moved after loading so
    // gets its surface's normals again, smooth where its stored normals were shared and hard where
    // they differed. A corner whose triangles have no area keeps its normal. False, and nothing
    // changes, without triangles, positions or normals.
    bool RecomputeNormals();

    // Per-vertex unit tangent (direction of increasing u) and binormal (along v, rebuilt from
    // tangent x normal); false, and nothing changes, without triangles, positions, texCoords or normals.
    bool ComputeTangentSpace();

    // The "geometry" element of this mesh; the material symbol comes from the last node of
    // `scenes` that instantiates this geometry.
    std::string GeometryXml(const TLibraryVisualScenes& scenes) const;
};

// The meshes of one asset in document order, addressed by 0-based index; owns them.
class TLibraryGeometries {
public:
    TLibraryGeometries() = default;
    TLibraryGeometries(const TLibraryGeometries&) = delete;
    TLibraryGeometries& operator=(const TLibraryGeometries&) = delete;

    std::vector<std::unique_ptr<TGeometry>> geometries;

    // Reads the first "geometry" child and every element after it as a geometry; false when the walk
    // ran out of elements before it had visited as many as the library has children.
    bool Load(IXMLNode library);
    // Index of the first geometry with exactly this name; -1 when none.
    int IndexOf(std::string_view name) const;
    // The "geometry" elements of every mesh in order; empty for an empty library.
    std::string GeometriesXml(const TLibraryVisualScenes& scenes) const;
};

// Number lists: the array is made to hold `count` values read from whitespace-separated decimal text
// (without the locale), but never more values than the text holds numbers; a negative count gives an
// empty array. Reading stops at the first token that is not a number, and the entries after it are 0.
// Numbers beyond `count` are ignored.
void ParseFloatArray(std::vector<float>& array, std::string_view text, long long count);
void ParseIntArray(std::vector<int>& array, std::string_view text, long long count);

// Make `target` hold all values of `source`, in order.
void CopyFloatArray(const std::vector<float>& source, std::vector<float>& target);
void CopyIntArray(const std::vector<int>& source, std::vector<int>& target);
