// De-indexing: every corner of the index list becomes a vertex of its own.
#include <cstddef>
#include <vector>

#include "collada/Geometry.h"

namespace {
struct Slot {
    std::vector<float>* array;
    size_t perVertex;
};
}

bool TGeometry::Unweld()
{
    if (triangles.empty() && lines.empty())
        return true;
    const bool useTriangles = !triangles.empty();
    std::vector<int>& list = useTriangles ? triangles : lines;
    const size_t perPrimitive = useTriangles ? 3 : 2;

    // Each corner is one group of k indices, one per present array, in this fixed order; the
    // document's input offsets play no part.
    Slot all[] = {{&positions, 3}, {&normals, 3}, {&texCoords, 2}, {&colors, 4}};
    Slot slots[4];
    size_t k = 0;
    for (const Slot& s : all)
        if (!s.array->empty())
            slots[k++] = s;
    if (k == 0)
        return true;

    const size_t total = list.size();
    // A list that does not divide into whole primitives of whole corners, or an index past its
    // array, would scramble the mesh or read outside an array: such a mesh is dropped whole.
    bool fits = total % (k * perPrimitive) == 0;
    const size_t n = total / k;
    for (size_t i = 0; fits && i < total; ++i) {
        int x = list[i];
        const Slot& s = slots[i % k];
        fits = x >= 0 && static_cast<size_t>(x) < s.array->size() / s.perVertex;
    }
    if (!fits) {
        positions.clear();
        normals.clear();
        texCoords.clear();
        colors.clear();
        triangles.clear();
        lines.clear();
        return true;
    }

    std::vector<int> oldList;
    CopyIntArray(list, oldList);
    for (size_t j = 0; j < k; ++j) {
        const Slot& s = slots[j];
        std::vector<float> old;
        CopyFloatArray(*s.array, old);
        std::vector<float>& a = *s.array;
        a.assign(n * s.perVertex, 0.0f);
        for (size_t f = 0; f < n; ++f) {
            size_t x = static_cast<size_t>(oldList[f * k + j]);
            for (size_t c = 0; c < s.perVertex; ++c)
                a[f * s.perVertex + c] = old[x * s.perVertex + c];
        }
    }
    list.resize(n);
    for (size_t f = 0; f < n; ++f)
        list[f] = static_cast<int>(f);
    return true;
}
