// The COLLADA export's pieces that need no GL: the output name, the time stamp, the document text
// (golden, for a small fixture of three models) and the all-or-nothing writer.
#include "core/VultariExport.h"

#include "collada/Colladaasset.h"
#include "tests/core/ColladaChecks.h"
#include "tests/core/ExportFixture.h"
#include "tests/core/FileSizeLimit.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <QUrl>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
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
    // xs:dateTime values: nothing after the stamp.
    EXPECT_NE(text.find("    <created>2010-05-01T17:03:21.000000</created>\n"
                        "    <modified>2010-05-01T17:03:21.000000</modified>\n"), std::string::npos);
    // The head model's own unit.
    EXPECT_NE(text.find("\t  <unit meter=\"0.028\" name=\"model_unit\"/>\n\t  <up_axis>Z_UP</up_axis>\n"), std::string::npos);
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
    // Images point to the document's own copies in the textures folder beside it.
    EXPECT_NE(text.find("<init_from>textures/head-headtexture.bmp</init_from>"), std::string::npos);
    EXPECT_NE(text.find("<init_from>textures/head-eye.bmp</init_from>"), std::string::npos);
    EXPECT_EQ(text.find("data/textures"), std::string::npos);
    EXPECT_EQ(text.find('\\'), std::string::npos);
}

namespace {

// Three models named as the generic ones are: a node and a material named like their geometry, and
// the hair sampling the head's image under the head's image name.
struct GenericNames {
    TXMLDocument xml;
    TColladaAsset head{&xml}, eyes{&xml}, hairs{&xml};
    GenericNames()
    {
        Add(head, "M", "headtexture", "data/textures/headtexture.bmp", {{"Head", "Cube"}});
        Add(eyes, "Eye", "eye", "data/textures/eye.bmp", {{"RightEye", "RightEye"}, {"LeftEye", "LeftEye"}});
        Add(hairs, "Hair", "headtexture", "data/textures/headtexture.bmp", {{"Hair", "Hair"}});
        head.unitMeter = 0.028;
        head.unitName = "model_unit";
    }
    static void Add(TColladaAsset& a, const std::string& material, const std::string& image, const std::string& file,
                    const std::vector<std::pair<std::string, std::string>>& meshes)
    {
        a.effects.effects.push_back(std::make_unique<TEffect>());
        a.effects.effects.back()->name = material + "-fx";
        a.effects.effects.back()->imageName = image;
        a.images.names.push_back(image);
        a.images.files.push_back(file);
        for (const auto& [geometry, node] : meshes) {
            auto g = std::make_unique<TGeometry>();
            g->name = geometry;
            g->positions = {0, 0, 0, 1, 0, 0, 0, 1, 0};
            g->normals = {0, 0, 1, 0, 0, 1, 0, 0, 1};
            g->texCoords = {0, 0, 1, 0, 0, 1};
            g->triangles = {0, 1, 2};
            a.geometries.geometries.push_back(std::move(g));
            auto n = std::make_unique<TNode>();
            n->name = node;
            n->geometryName = geometry;
            n->materialName = material;
            a.visualScenes.nodes.push_back(std::move(n));
        }
    }
};

class ExportFolder : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vultari-export-doc-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path Save(const std::string& leaf, const std::string& text)
    {
        std::ofstream(dir / leaf, std::ios::binary) << text;
        return dir / leaf;
    }
};

} // namespace

TEST_F(ExportFolder, EveryIdOnceWhereTheModelsNamesRepeat)
{
    GenericNames m;
    const std::string text = ColladaDocumentText(m.head, m.eyes, m.hairs, "/out/head.dae", "2010-05-01T17:03:21.000000");
    const std::vector<std::string> problems = collada_checks::ReferenceProblems(text);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    EXPECT_EQ(collada_checks::SchemaErrors(Save("generic.dae", text), dir), "");

    // The names stay as the models have them; the shared image is written once.
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(text.c_str()));
    pugi::xml_node root = doc.child("COLLADA");
    auto names = [&](const char* library, const char* element) {
        std::vector<std::string> out;
        pugi::xml_node parent = root.child(library);
        if (std::string(library) == "library_visual_scenes")
            parent = parent.child("visual_scene");
        for (pugi::xml_node e : parent.children(element))
            out.push_back(e.attribute("name").value());
        return out;
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(names("library_geometries", "geometry"), (Names{"Head", "RightEye", "LeftEye", "Hair"}));
    EXPECT_EQ(names("library_visual_scenes", "node"), (Names{"Cube", "RightEye", "LeftEye", "Hair"}));
    EXPECT_EQ(names("library_materials", "material"), (Names{"M", "Eye", "Hair"}));
    EXPECT_EQ(names("library_effects", "effect"), (Names{"M-fx", "Eye-fx", "Hair-fx"}));
    EXPECT_EQ(names("library_images", "image"), (Names{"headtexture", "eye"}));
}

TEST_F(ExportFolder, TheFixturesDocumentIsValid)
{
    ExportFixture fixture;
    const std::string text = ColladaDocumentText(*fixture.head, *fixture.eyes, *fixture.hairs, "/out/head.dae",
                                                 "2010-05-01T17:03:21.000000");
    const std::vector<std::string> problems = collada_checks::ReferenceProblems(text);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    EXPECT_EQ(collada_checks::SchemaErrors(Save("fixture.dae", text), dir), "");
}

// Each node binds the texture coordinates its effect samples with to the set its geometry's
// triangles carry.
TEST_F(ExportFolder, TextureBindingNamesTheGeometrysSet)
{
    GenericNames m;
    pugi::xml_document doc;
    const std::string text = ColladaDocumentText(m.head, m.eyes, m.hairs, "/out/head.dae", "T");
    ASSERT_TRUE(doc.load_string(text.c_str()));
    pugi::xml_node root = doc.child("COLLADA");
    auto byId = [&](const char* library, const char* element, std::string ref) {
        return root.child(library).find_child_by_attribute(element, "id", ref.substr(ref.empty() ? 0 : 1).c_str());
    };
    int nodes = 0;
    for (pugi::xml_node node : root.child("library_visual_scenes").child("visual_scene").children("node")) {
        SCOPED_TRACE(node.attribute("name").value());
        pugi::xml_node instance = node.child("instance_geometry");
        pugi::xml_node geometry = byId("library_geometries", "geometry", instance.attribute("url").value());
        ASSERT_TRUE(geometry);
        pugi::xml_node input = geometry.child("mesh").child("triangles").find_child_by_attribute("input", "semantic", "TEXCOORD");
        ASSERT_TRUE(input);
        pugi::xml_node material = instance.child("bind_material").child("technique_common").child("instance_material");
        pugi::xml_node bind = material.child("bind_vertex_input");
        pugi::xml_node effect = byId("library_effects", "effect",
                                     byId("library_materials", "material", material.attribute("target").value())
                                         .child("instance_effect").attribute("url").value());
        ASSERT_TRUE(effect);
        pugi::xml_node texture = effect.child("profile_COMMON").child("technique").child("phong").child("diffuse").child("texture");
        EXPECT_STREQ(bind.attribute("semantic").value(), texture.attribute("texcoord").value());
        ASSERT_TRUE(input.attribute("set")) << "a set that the binding can name";
        EXPECT_STREQ(bind.attribute("input_set").value(), input.attribute("set").value());
        ++nodes;
    }
    EXPECT_EQ(nodes, 4);
}

// The program's reader takes back what the export wrote: read and written again, the same text.
TEST_F(ExportFolder, ReadBackAndWrittenAgainGivesTheSameDocument)
{
    for (bool generic : {false, true}) {
        SCOPED_TRACE(generic ? "generic names" : "fixture");
        ExportFixture fixture;
        GenericNames m;
        const TColladaAsset* models[3] = {fixture.head.get(), fixture.eyes.get(), fixture.hairs.get()};
        if (generic)
            models[0] = &m.head, models[1] = &m.eyes, models[2] = &m.hairs;
        const std::string text = ColladaDocumentText(*models[0], *models[1], *models[2], "/out/head.dae", "T");
        TXMLDocument xml;
        TColladaAsset read(&xml), none1(&xml), none2(&xml);
        ASSERT_TRUE(read.Load(Save("first.dae", text).string()));
        EXPECT_EQ(read.geometries.geometries.size(), 4u);
        for (const auto& node : read.visualScenes.nodes) {
            EXPECT_GE(node->geometryIndex, 0) << node->name;
            EXPECT_GE(node->effectIndex, 0) << node->name;
        }
        for (const auto& effect : read.effects.effects)
            EXPECT_GE(effect->imageIndex, 0) << effect->name;
        EXPECT_EQ(ColladaDocumentText(read, none1, none2, "/out/head.dae", "T"), text);
    }
}

// The source and every image are URIs that a URI reader takes back to the files: the document
// itself, and its own texture copies beside it.
TEST_F(ExportDocument, SourceAndImagesAreUrisOfTheFiles)
{
    const std::string cwd = std::filesystem::current_path().string();
    struct Case {
        std::string path;      // as the export is given it
        std::string absolute;  // the file it names
        std::string stem;
    };
    const Case cases[] = {
        {"/out/head.dae", "/out/head.dae", "head"},
        {"/tmp/a&b/<head>\".dae", "/tmp/a&b/<head>\".dae", "<head>\""},
        {"/tmp/with space/head #1?.dae", "/tmp/with space/head #1?.dae", "head #1?"},
        {"/tmp/100%/50%25.dae", "/tmp/100%/50%25.dae", "50%25"},
        {"/tmp/Größe/头 部.dae", "/tmp/Größe/头 部.dae", "头 部"},
        {"out/my head.dae", cwd + "/out/my head.dae", "my head"},
        {"head.dae", cwd + "/head.dae", "head"},
    };
    // Characters a URI may hold at all (RFC 3986); anything else must have been encoded.
    const std::string uriCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~:/?#[]@!$&'()*+,;=%";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string text = Text(c.path);
        pugi::xml_document doc;
        const pugi::xml_parse_result result = doc.load_string(text.c_str());
        ASSERT_TRUE(result) << result.description();
        const std::string source = doc.child("COLLADA").child("asset").child("contributor").child_value("source_data");
        EXPECT_EQ(source.find_first_not_of(uriCharacters), std::string::npos) << source;
        const QUrl sourceUrl(QString::fromStdString(source), QUrl::StrictMode);
        ASSERT_TRUE(sourceUrl.isValid()) << source << ": " << sourceUrl.errorString().toStdString();
        EXPECT_EQ(sourceUrl.scheme().toStdString(), "file");
        EXPECT_TRUE(sourceUrl.host().isEmpty()) << source;
        EXPECT_EQ(sourceUrl.toLocalFile().toStdString(), c.absolute);

        std::set<std::string> images;
        for (pugi::xml_node image : doc.child("COLLADA").child("library_images").children("image")) {
            const std::string uri = image.child_value("init_from");
            EXPECT_EQ(uri.find_first_not_of(uriCharacters), std::string::npos) << uri;
            const QUrl relative(QString::fromStdString(uri), QUrl::StrictMode);
            ASSERT_TRUE(relative.isValid()) << uri << ": " << relative.errorString().toStdString();
            EXPECT_TRUE(relative.isRelative()) << uri;
            images.insert(sourceUrl.resolved(relative).toLocalFile().toStdString());
        }
        const std::string folder = c.absolute.substr(0, c.absolute.rfind('/') + 1) + "textures/";
        EXPECT_EQ(images, (std::set<std::string>{folder + c.stem + "-headtexture.bmp", folder + c.stem + "-eye.bmp"}));
    }
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

namespace {

void Put(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

} // namespace

// Three final names, two of them taken: whichever rename fails, every name keeps what it held
// and nothing else is left behind; with none failing, all three hold their new content.
TEST_F(AtomicWrite, StagedFilesAreReplacedAllOrNone)
{
    fs::create_directory(dir / "textures");
    Put(dir / "source.bmp", "new a");
    Put(dir / "textures/a.bmp", "old a");
    Put(dir / "doc.dae", "old doc");
    const auto before = Snapshot(dir);
    bool committedOnce = false;
    for (int failAt = 1; failAt <= 8 && !committedOnce; ++failAt) {
        SCOPED_TRACE("rename " + std::to_string(failAt) + " fails");
        int calls = 0;
        StagedFiles files([&](const char* from, const char* to) {
            return ++calls == failAt ? (errno = EIO, -1) : std::rename(from, to);
        });
        ASSERT_TRUE(files.Copy((dir / "source.bmp").string(), (dir / "textures/a.bmp").string()));
        ASSERT_TRUE(files.Write((dir / "textures/b.bmp").string(), "new b"));
        ASSERT_TRUE(files.Write((dir / "doc.dae").string(), "new doc"));
        const bool committed = files.Commit();
        if (calls < failAt) {  // no rename failed
            ASSERT_TRUE(committed);
            auto expected = before;
            expected["textures/a.bmp"] = "new a";
            expected["textures/b.bmp"] = "new b";
            expected["doc.dae"] = "new doc";
            EXPECT_EQ(Snapshot(dir), expected);
            committedOnce = true;
            continue;
        }
        EXPECT_FALSE(committed);
        EXPECT_EQ(Snapshot(dir), before);
    }
    EXPECT_TRUE(committedOnce);
}

TEST_F(AtomicWrite, AFolderInTheWayStopsTheWholeSet)
{
    Put(dir / "a.bmp", "old a");
    fs::create_directory(dir / "doc.dae");
    Put(dir / "doc.dae/inside", "kept");
    const auto before = Snapshot(dir);
    StagedFiles files;
    ASSERT_TRUE(files.Write((dir / "a.bmp").string(), "new a"));
    ASSERT_TRUE(files.Write((dir / "doc.dae").string(), "new doc"));
    EXPECT_FALSE(files.Commit());
    EXPECT_EQ(Snapshot(dir), before);
}

// A file that cannot grow (a full disk) fails the write or copy, leaving no partial file.
TEST_F(AtomicWrite, AFullDiskLeavesNoPartialFile)
{
    const std::string big(64 * 1024, 'x');
    Put(dir / "big.bmp", big);
    Put(dir / "doc.dae", "old doc");
    const auto before = Snapshot(dir);
    {
        FileSizeLimit limit(4096);
        StagedFiles files;
        EXPECT_FALSE(files.Copy((dir / "big.bmp").string(), (dir / "copy.bmp").string()));
        EXPECT_FALSE(files.Write((dir / "doc.dae").string(), big));
        EXPECT_TRUE(files.Commit());  // nothing staged, nothing changes
    }
    EXPECT_EQ(Snapshot(dir), before);
}

// The file itself, under its own or another name, is not copied onto itself.
TEST_F(AtomicWrite, CopyOntoItselfIsNoCopy)
{
    Put(dir / "a.bmp", "same");
    fs::create_hard_link(dir / "a.bmp", dir / "link.bmp");
    const auto before = Snapshot(dir);
    StagedFiles files;
    for (const fs::path& to : {dir / "a.bmp", dir / "." / "a.bmp", dir / "link.bmp"})
        EXPECT_TRUE(files.Copy((dir / "a.bmp").string(), to.string())) << to;
    EXPECT_EQ(Snapshot(dir), before) << "nothing staged";
    EXPECT_TRUE(files.Commit());
    EXPECT_EQ(Snapshot(dir), before);
}
