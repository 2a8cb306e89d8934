// libFuzzer target for the COLLADA reader: any bytes either throw the document's error or load
// into an asset whose indices all fit its arrays; tangents and writers then run on it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "collada/Colladaasset.h"
#include "platform/base/Exception.h"

namespace {
void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void CheckSafe(const TColladaAsset& a)
{
    for (const auto& g : a.geometries.geometries) {
        const std::vector<int>& list = g->triangles.empty() ? g->lines : g->triangles;
        if (list.empty() || (g->positions.empty() && g->normals.empty() && g->texCoords.empty() && g->colors.empty()))
            continue;
        const size_t n = list.size();
        for (size_t f = 0; f < n; ++f)
            Require(list[f] == static_cast<int>(f));
        Require(g->positions.empty() || g->positions.size() == 3 * n);
        Require(g->normals.empty() || g->normals.size() == 3 * n);
        Require(g->texCoords.empty() || g->texCoords.size() == 2 * n);
        Require(g->colors.empty() || g->colors.size() == 4 * n);
    }
    for (const auto& n : a.visualScenes.nodes) {
        Require(n->geometryIndex >= -1 && n->geometryIndex < static_cast<int>(a.geometries.geometries.size()));
        Require(n->effectIndex >= -1 && n->effectIndex < static_cast<int>(a.effects.effects.size()));
    }
    for (const auto& e : a.effects.effects)
        Require(e->imageIndex >= -1 && e->imageIndex < static_cast<int>(a.images.names.size()));
    Require(a.images.names.size() == a.images.files.size());
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    struct ScratchFile {
        std::string path =
            (std::filesystem::temp_directory_path() / ("vultari-fuzz-" + std::to_string(::getpid()) + ".dae")).string();
        ~ScratchFile() { std::remove(path.c_str()); }
    };
    static const ScratchFile scratch;
    const std::string& path = scratch.path;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    TXMLDocument document;
    TColladaAsset asset(&document);
    try {
        asset.Load(path);
    } catch (const Exception&) {
        Require(asset.geometries.geometries.empty());
        return 0;
    }
    CheckSafe(asset);
    for (auto& g : asset.geometries.geometries)
        g->ComputeTangentSpace();
    std::string text = asset.effects.EffectsXml() + asset.images.ImagesXml(ExportTexturePrefix) + asset.MaterialsXml() +
                       asset.geometries.GeometriesXml(asset.visualScenes) + asset.visualScenes.NodesXml();
    Require(text.size() < (size_t(1) << 40));
    return 0;
}
