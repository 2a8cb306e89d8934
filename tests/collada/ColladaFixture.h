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
    auto dir = std::filesystem::temp_directory_path() / ("vultari-collada-" + std::to_string(::getpid())) / leaf;
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
