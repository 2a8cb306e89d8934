// Reading the geometries of a COLLADA document.
#include "collada/Geometry.h"

#include <limits>

namespace {
// A count attribute; absent, malformed or negative counts read as 0.
long long CountOf(IXMLNode element)
{
    long long count = element.AttributeInt("count").value_or(0);
    return count < 0 ? 0 : count;
}

// a * b * c without overflow: saturates at the largest long long (the list readers never make more
// entries than their text holds numbers, so a saturated request only means "all there are").
long long SaturatingProduct(long long a, long long b, long long c)
{
    long long ab = 0;
    long long abc = 0;
    if (__builtin_mul_overflow(a, b, &ab) || __builtin_mul_overflow(ab, c, &abc))
        return std::numeric_limits<long long>::max();
    return abc;
}

// Number of "input" elements from the first one on; other elements between them are passed over.
long long InputCount(IXMLNode primitive)
{
    long long inputs = 0;
    for (IXMLNode e = primitive.FindChild("input"); e; e = e.NextSibling())
        if (e.NodeName() == "input")
            ++inputs;
    return inputs;
}

void LoadFloatSource(IXMLNode source, std::vector<float>& target)
{
    IXMLNode array = source.FindChild("float_array");
    if (!array)
        return;
    ParseFloatArray(target, array.Text(), CountOf(array));
}

void LoadPrimitive(IXMLNode primitive, std::vector<int>& target, long long corners)
{
    long long count = CountOf(primitive);
    IXMLNode p = primitive.FindChild("p");
    long long inputs = InputCount(primitive);
    if (!p)
        return;
    ParseIntArray(target, p.Text(), SaturatingProduct(count, inputs, corners));
}
}

bool TGeometry::LoadPositions(IXMLNode source)
{
    LoadFloatSource(source, positions);
    return true;
}

bool TGeometry::LoadNormals(IXMLNode source)
{
    LoadFloatSource(source, normals);
    return true;
}

bool TGeometry::LoadTexCoords(IXMLNode source)
{
    LoadFloatSource(source, texCoords);
    return true;
}

bool TGeometry::LoadColors(IXMLNode source)
{
    LoadFloatSource(source, colors);
    return true;
}

bool TGeometry::LoadTriangles(IXMLNode primitive)
{
    LoadPrimitive(primitive, triangles, 3);
    return true;
}

bool TGeometry::LoadLines(IXMLNode primitive)
{
    LoadPrimitive(primitive, lines, 2);
    return true;
}

bool TGeometry::Load(IXMLNode geometry)
{
    name = geometry.Attribute("name");
    IXMLNode mesh = geometry.FindChild("mesh");
    if (!mesh)
        return false;
    IXMLNode source = mesh.FindChild("source");
    if (!source)
        return true;
    // Sources are told apart by their id alone, and only the first run of sources is read.
    for (; source && source.NodeName() == "source"; source = source.NextSibling()) {
        std::string id = source.Attribute("id");
        if (id == name + "-Position")
            LoadPositions(source);
        else if (id == name + "-Normals")
            LoadNormals(source);
        else if (id == name + "-UV")
            LoadTexCoords(source);
        else if (id == name + "-color")
            LoadColors(source);
    }
    if (IXMLNode t = mesh.FindChild("triangles"))
        LoadTriangles(t);
    else if (IXMLNode l = mesh.FindChild("lines"))
        LoadLines(l);
    return Unweld();
}

bool TLibraryGeometries::Load(IXMLNode library)
{
    int n = library.ChildCount();
    IXMLNode e = library.FindChild("geometry");
    // Every element after the first geometry is read as a geometry, as the document layout is fixed.
    for (int i = 0; i < n; ++i) {
        if (!e)
            return false;
        auto geometry = std::make_unique<TGeometry>();
        geometry->Load(e);
        geometries.push_back(std::move(geometry));
        e = e.NextSibling();
    }
    return true;
}

int TLibraryGeometries::IndexOf(std::string_view name) const
{
    for (size_t i = 0; i < geometries.size(); ++i)
        if (geometries[i]->name == name)
            return static_cast<int>(i);
    return -1;
}
