#pragma once
// Helpers for the COLLADA tests: inline document text written to a scratch file and read through
// the same XML document the program uses.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "collada/Colladaasset.h"
#include "platform/xml/Xmldocument.h"

namespace testing_collada {

// A scratch folder of its own per test, removed afterwards.
inline std::filesystem::path ScratchFolder()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string leaf = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : leaf)
        if (c == '/')
            c = '_';
    auto dir = std::filesystem::temp_directory_path() / ("vultari-collada-" + std::to_string(::getpid()) + "-" + leaf);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string WriteFile(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return path.string();
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class ColladaTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        std::error_code ec;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ec);
    }

    std::string Scratch(const std::string& leaf, const std::string& text)
    {
        if (folder.empty())
            folder = ScratchFolder();
        return WriteFile(folder / leaf, text);
    }

    // Parses `text` and returns its root element (valid until the next Parse).
    IXMLNode Parse(const std::string& text)
    {
        document.LoadFromFile(Scratch("doc.xml", text));
        return document.DocumentElement();
    }

    // Loads a whole document into a fresh asset; returns Load's result.
    bool LoadAsset(const std::string& text)
    {
        asset = std::make_unique<TColladaAsset>(&document);
        return asset->Load(Scratch("model.dae", text));
    }

    // A COLLADA document around the given library sections.
    static std::string Document(const std::string& body)
    {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
               "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.0\">\n" +
               body + "</COLLADA>\n";
    }

    std::filesystem::path folder;
    TXMLDocument document;
    std::unique_ptr<TColladaAsset> asset;
};

}  // namespace testing_collada

namespace testing_collada {

// What every loaded asset must satisfy, however bad its file: the drawing and the writers may
// use every index and every vertex without reading outside an array.
inline void ExpectSafeAsset(const TColladaAsset& a)
{
    for (const auto& gp : a.geometries.geometries) {
        const TGeometry& g = *gp;
        SCOPED_TRACE("geometry " + g.name);
        EXPECT_TRUE(g.tangents.empty());
        EXPECT_TRUE(g.binormals.empty());
        const std::vector<int>& list = g.triangles.empty() ? g.lines : g.triangles;
        bool anyArray = !g.positions.empty() || !g.normals.empty() || !g.texCoords.empty() || !g.colors.empty();
        if (list.empty() || !anyArray)
            continue;   // nothing was de-indexed
        const size_t n = list.size();
        for (size_t f = 0; f < n; ++f)
            ASSERT_EQ(list[f], static_cast<int>(f));
        EXPECT_EQ(n % (g.triangles.empty() ? 2 : 3), 0u);
        if (!g.positions.empty()) {
            EXPECT_EQ(g.positions.size(), 3 * n);
        }
        if (!g.normals.empty()) {
            EXPECT_EQ(g.normals.size(), 3 * n);
        }
        if (!g.texCoords.empty()) {
            EXPECT_EQ(g.texCoords.size(), 2 * n);
        }
        if (!g.colors.empty()) {
            EXPECT_EQ(g.colors.size(), 4 * n);
        }
    }
    const int geometries = static_cast<int>(a.geometries.geometries.size());
    const int effects = static_cast<int>(a.effects.effects.size());
    const int images = static_cast<int>(a.images.names.size());
    EXPECT_EQ(a.images.names.size(), a.images.files.size());
    for (const auto& n : a.visualScenes.nodes) {
        EXPECT_GE(n->geometryIndex, -1);
        EXPECT_LT(n->geometryIndex, geometries);
        EXPECT_GE(n->effectIndex, -1);
        EXPECT_LT(n->effectIndex, effects);
    }
    for (const auto& e : a.effects.effects) {
        EXPECT_GE(e->imageIndex, -1);
        EXPECT_LT(e->imageIndex, images);
    }
}

// Every section the export would write, wrapped; must parse as one well-formed document.
inline std::string AllSections(const TColladaAsset& a)
{
    return "<all>\n<library_effects>\n" + a.effects.EffectsXml() + "</library_effects>\n<library_images>\n" +
           a.images.ImagesXml(ExportTexturePrefix) + "</library_images>\n<library_materials>\n" + a.MaterialsXml() +
           "</library_materials>\n<library_geometries>\n" + a.geometries.GeometriesXml(a.visualScenes) +
           "</library_geometries>\n<library_visual_scenes>\n" + a.visualScenes.NodesXml() +
           "</library_visual_scenes>\n</all>\n";
}

}  // namespace testing_collada
