// COLLADA files written by other programs (Debian's assimp test models): whatever the reader makes
// of them, it must not crash, must leave a safe asset and must write well-formed sections.
#include "ColladaFixture.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <filesystem>

#include <pugixml.hpp>
#include <sstream>

#include "platform/base/Exception.h"

namespace {
using testing_collada::AllSections;
using testing_collada::ColladaTest;
using testing_collada::ExpectSafeAsset;

std::vector<std::filesystem::path> ColladaFiles()
{
    std::vector<std::filesystem::path> files;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(VULTARI_ASSIMP_MODELS, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".dae" && it->is_regular_file())
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class RealModels : public ColladaTest {};

TEST_F(RealModels, AssimpTestModelsReadSafely)
{
    const auto files = ColladaFiles();
    if (files.empty())
        GTEST_SKIP() << "assimp-testmodels is not installed (" << VULTARI_ASSIMP_MODELS << ")";
    int linked = 0;
    int withGeometry = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        TColladaAsset a(&document);
        bool ok = false;
        try {
            ok = a.Load(file.string());
        } catch (const Exception& e) {
            ADD_FAILURE() << "well-formed file refused: " << e.Message();
            continue;
        }
        linked += ok;
        ExpectSafeAsset(a);
        for (auto& g : a.geometries.geometries) {
            withGeometry += !g->positions.empty();
            g->ComputeTangentSpace();
            for (float v : g->tangents)
                ASSERT_TRUE(std::isfinite(v));
        }
        // Another document for the written text, so that the model's document stays untouched.
        TXMLDocument check;
        ASSERT_NO_THROW(check.LoadFromFile(Scratch("written.xml", AllSections(a))));
        EXPECT_EQ(check.DocumentElement().ChildCount(), 5);
    }
    // These are COLLADA documents with geometries and scenes: most link, even if their source ids
    // do not follow the naming this reader expects.
    EXPECT_GT(linked, static_cast<int>(files.size()) / 2) << linked << " of " << files.size();
    std::cout << "[ info ] " << files.size() << " files, " << linked << " linked, " << withGeometry
              << " geometries with positions\n";
}

TEST_F(RealModels, SpecialCharactersSurviveAWriteAndRead)
{
    const std::filesystem::path file = std::filesystem::path(VULTARI_ASSIMP_MODELS) / "Collada/cube_xmlspecialchars.dae";
    if (!std::filesystem::exists(file))
        GTEST_SKIP() << file;
    ASSERT_TRUE(LoadAsset(testing_collada::ReadFile(file.string())));
    std::vector<std::string> names;
    for (const auto& n : asset->visualScenes.nodes)
        names.push_back(n->name);
    ASSERT_FALSE(names.empty());
    IXMLNode written = Parse(AllSections(*asset));
    std::vector<std::string> back;
    for (IXMLNode n = written.FindChild("library_visual_scenes").FindChild("node"); n; n = n.NextSibling())
        back.push_back(n.Attribute("name"));
    EXPECT_EQ(back, names);
}

template <typename T>
std::vector<T> Numbers(const char* text)
{
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    std::vector<T> values;
    T v{};
    while (in >> v)
        values.push_back(v);
    return values;
}

// A Blender export that follows this reader's naming: its first triangle list, de-indexed by hand
// from the raw document, must equal what the reader makes of it.
TEST_F(RealModels, BlenderExportDeIndexesLikeTheDocumentSays)
{
    const std::filesystem::path file = std::filesystem::path(VULTARI_ASSIMP_MODELS) / "Collada/regr01.dae";
    if (!std::filesystem::exists(file))
        GTEST_SKIP() << file;
    pugi::xml_document raw;
    ASSERT_TRUE(raw.load_file(file.c_str()));
    pugi::xml_node mesh = raw.child("COLLADA").child("library_geometries").child("geometry").child("mesh");
    auto source = [&](const char* suffix) {
        std::string id = std::string("Skal_proccesed-Geometry") + suffix;
        return Numbers<float>(mesh.find_child_by_attribute("source", "id", id.c_str()).child("float_array").child_value());
    };
    const std::vector<float> P = source("-Position"), N = source("-Normals"), T = source("-UV");
    const std::vector<int> p = Numbers<int>(mesh.child("triangles").child("p").child_value());
    ASSERT_EQ(p.size(), 102u * 9);

    TColladaAsset a(&document);
    ASSERT_TRUE(a.Load(file.string()));
    ASSERT_EQ(a.geometries.geometries.size(), 1u);
    const TGeometry& g = *a.geometries.geometries[0];
    const size_t corners = 102 * 3;
    ASSERT_EQ(g.triangles.size(), corners);
    ASSERT_EQ(g.positions.size(), 3 * corners);
    ASSERT_EQ(g.normals.size(), 3 * corners);
    ASSERT_EQ(g.texCoords.size(), 2 * corners);
    for (size_t f = 0; f < corners; ++f) {
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(g.positions[3 * f + c], P.at(3 * p[3 * f] + c)) << "corner " << f;
            ASSERT_EQ(g.normals[3 * f + c], N.at(3 * p[3 * f + 1] + c)) << "corner " << f;
        }
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ(g.texCoords[2 * f + c], T.at(2 * p[3 * f + 2] + c)) << "corner " << f;
    }
    ASSERT_EQ(a.visualScenes.nodes.size(), 1u);
    const TNode& node = *a.visualScenes.nodes[0];
    EXPECT_EQ(node.geometryIndex, 0);
    EXPECT_EQ(node.materialName, "Material_001");
    EXPECT_EQ(node.effectIndex, a.effects.IndexOf("Material_001-fx"));
    EXPECT_GE(node.effectIndex, 0);

    TGeometry& mutableGeometry = *a.geometries.geometries[0];
    ASSERT_TRUE(mutableGeometry.ComputeTangentSpace());
    for (size_t v = 0; v < corners; ++v) {
        const float* t = &g.tangents[3 * v];
        const float* n = &g.normals[3 * v];
        EXPECT_NEAR(Length3(t[0], t[1], t[2]), 1.0f, 1e-5f);
        // Orthogonal to the stored normal up to that normal's own length error.
        EXPECT_NEAR(Dot3(t[0], t[1], t[2], n[0], n[1], n[2]), 0.0f, 1e-3f) << v;
    }
}
}

