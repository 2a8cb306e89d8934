// COLLADA files written by other programs (Debian's assimp test models): whatever the reader makes
// of them, it must not crash, must leave a safe asset and must write well-formed sections.
#include "ColladaFixture.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <filesystem>

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
}
