// libFuzzer target for the COLLADA reader: any bytes either throw the document's error or load
// into an asset whose indices all fit its arrays; tangents and writers then run on it.
#include <cstddef>
#include <cstdint>
#include <string>

#include "collada/Colladaasset.h"
#include "platform/base/Exception.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {
void CheckSafe(const TColladaAsset& a)
{
    for (const auto& g : a.geometries.geometries) {
        const std::vector<int>& list = g->triangles.empty() ? g->lines : g->triangles;
        if (list.empty() || (g->positions.empty() && g->normals.empty() && g->texCoords.empty() && g->colors.empty()))
            continue;
        const size_t n = list.size();
        for (size_t f = 0; f < n; ++f)
            FUZZ_REQUIRE(list[f] == static_cast<int>(f));
        FUZZ_REQUIRE(g->positions.empty() || g->positions.size() == 3 * n);
        FUZZ_REQUIRE(g->normals.empty() || g->normals.size() == 3 * n);
        FUZZ_REQUIRE(g->texCoords.empty() || g->texCoords.size() == 2 * n);
        FUZZ_REQUIRE(g->colors.empty() || g->colors.size() == 4 * n);
    }
    for (const auto& n : a.visualScenes.nodes) {
        FUZZ_REQUIRE(n->geometryIndex >= -1 && n->geometryIndex < static_cast<int>(a.geometries.geometries.size()));
        FUZZ_REQUIRE(n->effectIndex >= -1 && n->effectIndex < static_cast<int>(a.effects.effects.size()));
    }
    for (const auto& e : a.effects.effects)
        FUZZ_REQUIRE(e->imageIndex >= -1 && e->imageIndex < static_cast<int>(a.images.names.size()));
    FUZZ_REQUIRE(a.images.names.size() == a.images.files.size());
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const fuzz::ScratchFile scratch(".dae");
    const std::string& path = scratch.Write(data, size);
    TXMLDocument document;
    TColladaAsset asset(&document);
    try {
        asset.Load(path);
    } catch (const Exception&) {
        FUZZ_REQUIRE(asset.geometries.geometries.empty());
        return 0;
    }
    CheckSafe(asset);
    for (auto& g : asset.geometries.geometries)
        g->ComputeTangentSpace();
    std::string text = asset.effects.EffectsXml() + asset.images.ImagesXml(ExportTexturePrefix) + asset.MaterialsXml() +
                       asset.geometries.GeometriesXml(asset.visualScenes) + asset.visualScenes.NodesXml();
    FUZZ_REQUIRE(text.size() < (size_t(1) << 40));
    return 0;
}
