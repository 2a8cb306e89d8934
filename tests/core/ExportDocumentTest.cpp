// The COLLADA export's pieces that need no GL: the output name, the time stamp, the document text
// (golden, for a small fixture of three models) and the all-or-nothing writer.
#include "core/VultariExport.h"

#include "collada/Colladaasset.h"
#include "tests/core/ExportFixture.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct NameCase {
    const char* chosen;
    const char* written;
};

} // namespace

TEST(ExportName, ReplacesOnlyTheFileNamesExtension)
{
    const NameCase cases[] = {
        {"/out/head", "/out/head.dae"},
        {"/out/head.obj", "/out/head.dae"},
        {"/out/head.dae", "/out/head.dae"},
        {"/out/head.DAE", "/out/head.dae"},
        {"/home/a.b/head", "/home/a.b/head.dae"},       // a dot in a folder is no extension
        {"/home/a.b/head.x.obj", "/home/a.b/head.x.dae"},
        {"/out/head.", "/out/head.dae"},
        {"/out/.hidden", "/out/.hidden.dae"},           // a leading dot is part of the name
        {"head", "head.dae"},
        {"./head.obj", "./head.dae"},
        {"/out/", ""},                                  // names no file
        {"", ""},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(ColladaExportName(c.chosen), c.written) << c.chosen;
}

TEST(ExportName, FolderIsEverythingUpToTheLastSlash)
{
    EXPECT_EQ(ColladaExportFolder("/out/head.dae"), "/out/");
    EXPECT_EQ(ColladaExportFolder("/home/a.b/head.dae"), "/home/a.b/");
    EXPECT_EQ(ColladaExportFolder("head.dae"), "");
    EXPECT_EQ(ColladaExportFolder("/head.dae"), "/");
}

TEST(ExportTimeStamp, FractionIsWrittenLiterally)
{
    std::tm t{};
    t.tm_year = 2010 - 1900;
    t.tm_mon = 4;
    t.tm_mday = 1;
    t.tm_hour = 17;
    t.tm_min = 3;
    t.tm_sec = 21;
    EXPECT_EQ(ColladaTimeStamp(t), "2010-05-01T17:03:21.000000");
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 0;
    t.tm_min = 0;
    t.tm_sec = 9;
    EXPECT_EQ(ColladaTimeStamp(t), "2010-12-31T00:00:09.000000");
}

class ExportDocument : public ::testing::Test {
protected:
    ExportFixture fixture;
    std::string Text(const std::string& path = "/out/head.dae")
    {
        return ColladaDocumentText(*fixture.head, *fixture.eyes, *fixture.hairs, path, "2010-05-01T17:03:21.000000");
    }
};

TEST_F(ExportDocument, MatchesTheGoldenDocument)
{
    const fs::path file = fs::path(VULTARI_TEST_SOURCE_DIR) / "tests/core/golden/ExportSmall.dae";
    if (std::getenv("VULTARI_UPDATE_GOLDEN") != nullptr)
        std::ofstream(file, std::ios::binary) << Text();
    std::string golden = ReadFile(file);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(Text(), golden);
}

TEST_F(ExportDocument, SkeletonLinesAndModelOrder)
{
    std::string text = Text();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<COLLADA version=\"1.4.0\" "
                         "xmlns=\"http://www.collada.org/2005/11/COLLADASchema\">\n", 0), 0u);
    EXPECT_TRUE(text.ends_with("  </scene>\n</COLLADA>"));
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("\n<library_geometries>\n"), std::string::npos);
    EXPECT_NE(text.find("\n  </library_geometries>\n"), std::string::npos);
    EXPECT_NE(text.find("    <created>2010-05-01T17:03:21.000000    </created>\n"
                        "    <modified>2010-05-01T17:03:21.000000    </modified>\n"), std::string::npos);
    // Every section lists head, then eyes, then hairs.
    for (const char* tag : {"<effect id=\"", "<image id=\"", "<material id=\"", "<geometry id=\"", "<node layer=\"L1\" id=\""}) {
        size_t a = text.find(std::string(tag) + fixture.headKey);
        size_t b = text.find(std::string(tag) + fixture.eyesKey);
        size_t c = text.find(std::string(tag) + fixture.hairsKey);
        ASSERT_NE(a, std::string::npos) << tag;
        ASSERT_NE(b, std::string::npos) << tag;
        ASSERT_NE(c, std::string::npos) << tag;
        EXPECT_LT(a, b) << tag;
        EXPECT_LT(b, c) << tag;
    }
    // Images point into the copied textures folder beside the document.
    EXPECT_NE(text.find("<init_from>textures/headtexture.bmp</init_from>"), std::string::npos);
    EXPECT_NE(text.find("<init_from>textures/eye.bmp</init_from>"), std::string::npos);
    EXPECT_EQ(text.find("data/textures"), std::string::npos);
    EXPECT_EQ(text.find('\\'), std::string::npos);
}

TEST_F(ExportDocument, PathWithMarkupStaysWellFormed)
{
    std::string text = Text("/tmp/a&b/<head>\".dae");
    EXPECT_NE(text.find("<source_data>file:///tmp/a&amp;b/&lt;head&gt;&quot;.dae</source_data>"), std::string::npos);
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_string(text.c_str());
    ASSERT_TRUE(result) << result.description();
    EXPECT_STREQ(doc.child("COLLADA").child("asset").child("contributor").child_value("source_data"),
                 "file:///tmp/a&b/<head>\".dae");
}

TEST_F(ExportDocument, ModelsWithoutContentLeaveOnlyTheWrappers)
{
    TXMLDocument xml;
    TColladaAsset empty1(&xml), empty2(&xml), empty3(&xml);
    std::string text = ColladaDocumentText(empty1, empty2, empty3, "/x.dae", "T");
    EXPECT_NE(text.find("  <library_effects>\n  </library_effects>\n  <library_images>\n  </library_images>\n"
                        "  <library_materials>\n  </library_materials>\n<library_geometries>\n  </library_geometries>\n"
                        "  <library_visual_scenes>\n    <visual_scene id=\"Scene\" name=\"Scene\">\n    </visual_scene>\n"),
              std::string::npos);
}

class AtomicWrite : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vultari-atomic-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    size_t Entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }
};

TEST_F(AtomicWrite, WritesAndReplacesWholeFiles)
{
    fs::path file = dir / "doc.dae";
    ASSERT_TRUE(WriteFileAtomically(file.string(), "first\n"));
    EXPECT_EQ(ReadFile(file), "first\n");
    ASSERT_TRUE(WriteFileAtomically(file.string(), "second"));
    EXPECT_EQ(ReadFile(file), "second");
    EXPECT_EQ(Entries(), 1u);  // no temporary file left behind
    struct stat st{};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(AtomicWrite, FailureKeepsWhatWasThere)
{
    // A folder that does not exist: nothing can be created.
    EXPECT_FALSE(WriteFileAtomically((dir / "missing" / "doc.dae").string(), "x"));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    // A folder in the way of the document: it stays a folder, no temporary file remains.
    fs::create_directory(dir / "doc.dae");
    fs::path inside = dir / "doc.dae" / "keep.txt";
    std::ofstream(inside) << "kept";
    EXPECT_FALSE(WriteFileAtomically((dir / "doc.dae").string(), "x"));
    EXPECT_TRUE(fs::is_directory(dir / "doc.dae"));
    EXPECT_EQ(ReadFile(inside), "kept");
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(AtomicWrite, UnwritableFolderIsAFailure)
{
    // Nobody, root included, creates files in /proc.
    EXPECT_FALSE(WriteFileAtomically("/proc/vultari-export.dae", "x"));
    EXPECT_FALSE(fs::exists("/proc/vultari-export.dae"));
}
