// The export on a real core object: the document beside its "textures" folder, the golden text,
// assimp reading it back, and every failure reported instead of passed off as success.
#include "tests/core/ViewCoreFixture.h"

#include "collada/Colladaasset.h"
#include "core/VultariExport.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "render/Colladaengine.h"
#include "tests/core/ExportFixture.h"
#include "tests/core/FileSizeLimit.h"

#include <assimp/cimport.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const char* const kWriteError = "Writing file error, please try it again.";
const char* const kTextures[] = {"headtexture.bmp", "normalmap.bmp", "eye.bmp"};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

class ExportColladaFile : public ::testing::Test {
public:
    void SetUp() override
    {
        core = SharedCore();
        ASSERT_NE(core, nullptr) << CoreError();
        // The three bitmaps a reconstruction leaves in the data tree.
        fs::create_directories(data.Path() / "data/textures");
        for (const char* file : kTextures)
            WriteFile(data.Path() / "data/textures" / file, std::string("BM fake ") + file);
        SetProgramFolder(data.Path().string());
        SetExportClock([] {
            std::tm t{};
            t.tm_year = 110;
            t.tm_mon = 4;
            t.tm_mday = 1;
            t.tm_hour = 17;
            t.tm_min = 3;
            t.tm_sec = 21;
            return t;
        });
        core->engine->models.push_back(fixture.head.release());
        core->engine->models.push_back(fixture.eyes.release());
        core->engine->models.push_back(fixture.hairs.release());
        core->headModel = 0;
        core->eyesModel = 1;
        core->hairsModel = 2;
        core->reconstructed = true;
    }
    void TearDown() override
    {
        if (core != nullptr) {
            core->engine->ClearModels();
            core->reconstructed = false;
            core->headModel = core->eyesModel = core->hairsModel = -1;
        }
        SetExportClock({});
        SetProgramFolder(SharedProgramFolder());
    }

    std::string Golden() const
    {
        std::string golden = ReadFile(fs::path(VULTARI_TEST_SOURCE_DIR) / "tests/core/golden/ExportSmall.dae");
        // The golden text names the document /out/head.dae.
        const std::string from = "file:///out/head.dae";
        size_t at = golden.find(from);
        if (at != std::string::npos)
            golden.replace(at, from.size(), "file://" + (out.Path() / "head.dae").string());
        return golden;
    }

    TVultari* core = nullptr;
    ExportFixture fixture;
    TempFolder data{"export-data"};
    TempFolder out{"export-out"};
};

} // namespace

TEST_F(ExportColladaFile, NothingBeforeAReconstruction)
{
    core->reconstructed = false;
    ScopedMessageCapture messages;
    EXPECT_FALSE(core->ExportCollada(out / "head"));
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(fs::is_empty(out.Path()));
}

TEST_F(ExportColladaFile, DocumentAndTexturesBesideIt)
{
    ScopedMessageCapture messages;
    ASSERT_TRUE(core->ExportCollada(out / "head.obj"));
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_FALSE(fs::exists(out.Path() / "head.obj"));
    const std::string text = ReadFile(out.Path() / "head.dae");
    EXPECT_EQ(text, Golden());
    for (const char* file : kTextures)
        EXPECT_EQ(ReadFile(out.Path() / "textures" / ("head-" + std::string(file))), std::string("BM fake ") + file) << file;
    // Only the document, its folder of textures, and no temporary file.
    std::set<std::string> entries;
    for (const auto& e : fs::directory_iterator(out.Path()))
        entries.insert(e.path().filename().string());
    EXPECT_EQ(entries, (std::set<std::string>{"head.dae", "textures"}));

    // A second export overwrites document and bitmaps without a question.
    WriteFile(data.Path() / "data/textures/eye.bmp", "BM newer eye");
    core->engine->models[0]->visualScenes.nodes[0]->rotate[2] = 33.0f;
    ASSERT_TRUE(core->ExportCollada(out / "head"));
    EXPECT_EQ(ReadFile(out.Path() / "textures/head-eye.bmp"), "BM newer eye");
    EXPECT_NE(ReadFile(out.Path() / "head.dae").find("<rotate sid=\"rotateZ\">0 0 1 33</rotate>"), std::string::npos);
}

TEST_F(ExportColladaFile, AssimpReadsTheDocument)
{
    ASSERT_TRUE(core->ExportCollada(out / "head.dae"));
    const std::string path = out / "head.dae";
    const aiScene* scene = aiImportFile(path.c_str(), aiProcess_ValidateDataStructure);
    ASSERT_NE(scene, nullptr) << aiGetErrorString();
    EXPECT_EQ(scene->mNumMeshes, 4u);  // head, two eyes, hair
    std::set<std::string> textures;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        const aiMesh* mesh = scene->mMeshes[i];
        EXPECT_EQ(mesh->mNumFaces, 2u);
        EXPECT_TRUE(mesh->HasNormals());
        EXPECT_TRUE(mesh->HasTextureCoords(0));
        const aiMaterial* material = scene->mMaterials[mesh->mMaterialIndex];
        aiString file;
        unsigned channel = 99;
        ASSERT_EQ(material->GetTexture(aiTextureType_DIFFUSE, 0, &file, nullptr, &channel), aiReturn_SUCCESS);
        textures.insert(file.C_Str());
        EXPECT_TRUE(fs::exists(out.Path() / file.C_Str())) << file.C_Str();
        // The texture samples coordinates the mesh has.
        EXPECT_TRUE(mesh->HasTextureCoords(channel)) << "texture on channel " << channel;
        // Opaque: assimp reads no opacity below 1.
        float opacity = 1.0f;
        material->Get(AI_MATKEY_OPACITY, opacity);
        EXPECT_FLOAT_EQ(opacity, 1.0f) << mesh->mName.C_Str();
        float refraction = -1.0f;
        EXPECT_EQ(material->Get(AI_MATKEY_REFRACTI, refraction), aiReturn_SUCCESS);
        EXPECT_GE(refraction, 1.0f);
    }
    // The head's unit reaches the scene: model units become metres (beside the turn to y up).
    aiVector3D scaling, position;
    aiQuaternion rotation;
    scene->mRootNode->mTransformation.Decompose(scaling, rotation, position);
    EXPECT_NEAR(scaling.x, 0.028f, 1e-6f);
    EXPECT_NEAR(scaling.y, 0.028f, 1e-6f);
    EXPECT_NEAR(scaling.z, 0.028f, 1e-6f);
    EXPECT_EQ(textures, (std::set<std::string>{"textures/head-headtexture.bmp", "textures/head-eye.bmp"}));
    // The values survive the trip: the first head vertex.
    const aiMesh* head = nullptr;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i)
        if (std::string(scene->mMeshes[i]->mName.C_Str()).find("Head") != std::string::npos)
            head = scene->mMeshes[i];
    ASSERT_NE(head, nullptr);
    std::vector<float> y;
    for (unsigned v = 0; v < head->mNumVertices; ++v)
        y.push_back(head->mVertices[v].y);
    EXPECT_TRUE(std::find_if(y.begin(), y.end(), [](float value) { return std::abs(value - 12.3457f) < 1e-3f; }) != y.end() ||
                std::find_if(y.begin(), y.end(), [](float value) { return std::abs(value - 1e6f) < 1.0f; }) != y.end());
    aiReleaseImport(scene);
}

// Each failure says what went wrong: a missing folder is not a full disk, a texture that cannot be
// read is not a document that cannot be written.
TEST_F(ExportColladaFile, FailuresAreReportedAndLeaveNoHalfDocument)
{
    const std::string failed = "Error: the model was not exported: ";
    const std::string kept = " The files already there are kept.";
    struct Case {
        const char* what;
        std::string (*prepare)(ExportColladaFile&);  // returns the path to export to
        std::string message;
    };
    const Case cases[] = {
        {"missing texture", [](ExportColladaFile& t) {
             fs::remove(t.data.Path() / "data/textures/normalmap.bmp");
             return t.out / "head.dae";
         }, failed + "\"" + (data.Path() / "data/textures/normalmap.bmp").string() + "\" cannot be read (No such file or directory)." + kept},
        {"a file where the textures folder goes", [](ExportColladaFile& t) {
             WriteFile(t.out.Path() / "textures", "in the way");
             return t.out / "head.dae";
         }, failed + "\"" + (out.Path() / "textures").string() + "\" cannot be written (File exists)." + kept},
        {"a folder where the document goes", [](ExportColladaFile& t) {
             fs::create_directory(t.out.Path() / "head.dae");
             return t.out / "head.dae";
         }, failed + "\"" + (out.Path() / "head.dae").string() + "\" cannot be written (Is a directory)." + kept},
        {"no such folder", [](ExportColladaFile& t) { return t.out / "missing/deeper/head.dae"; },
         failed + "the folder \"" + (out.Path() / "missing/deeper/").string() + "\" does not exist."},
        {"no file name", [](ExportColladaFile& t) { return t.out / ""; }, kWriteError},
        {"a model that is not there", [](ExportColladaFile& t) {
             t.core->eyesModel = 9;
             return t.out / "head.dae";
         }, kWriteError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScopedMessageCapture messages;
        std::string path = c.prepare(*this);
        EXPECT_FALSE(core->ExportCollada(path));
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{c.message});
        EXPECT_FALSE(fs::is_regular_file(out.Path() / "head.dae"));
        EXPECT_FALSE(fs::exists(out.Path() / "textures/head-eye.bmp"));
        // Nothing half-written stays: no temporary file, and no textures folder this export made.
        for (const auto& e : fs::recursive_directory_iterator(out.Path()))
            EXPECT_EQ(e.path().filename().string().find(".dae."), std::string::npos) << e.path();
        if (std::string(c.what) != "a file where the textures folder goes") {
            EXPECT_FALSE(fs::exists(out.Path() / "textures")) << "an empty textures folder stays";
        }
        // Put everything back for the next case.
        fs::remove_all(out.Path());
        fs::create_directories(out.Path());
        WriteFile(data.Path() / "data/textures/normalmap.bmp", "BM fake normalmap.bmp");
        core->eyesModel = 1;
    }
}


// A disk that fills up during an export: while a texture is copied, or after the textures while
// the document is written. The earlier export of the same name stays exactly as it was, and no
// partial file is left. A file-size limit stands in for the disk here; the real disk is below.
TEST_F(ExportColladaFile, AFullDiskKeepsTheEarlierExport)
{
    ASSERT_TRUE(core->ExportCollada(out / "head.dae"));
    const auto earlier = Snapshot(out.Path());
    const size_t documentSize = earlier.at("head.dae").size();
    struct Case {
        const char* what;
        size_t headTextureSize;  // of the new reconstruction's head texture
        size_t limit;            // no file may grow beyond
        std::string file;        // the one that did not fit
    };
    const Case cases[] = {
        {"the head texture does not fit", 64 * 1024, 16 * 1024, "textures/head-headtexture.bmp"},
        {"the document does not fit", 100, documentSize / 2, "head.dae"},
    };
    ASSERT_GT(documentSize / 2, 100u + 32);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(data.Path() / "data/textures/headtexture.bmp", std::string(c.headTextureSize, 'h'));
        WriteFile(data.Path() / "data/textures/eye.bmp", "BM another eye");
        core->engine->models[0]->visualScenes.nodes[0]->rotate[2] = 45.0f;
        ScopedMessageCapture messages;
        bool exported;
        {
            FileSizeLimit limit(c.limit);
            exported = core->ExportCollada(out / "head.dae");
        }
        EXPECT_FALSE(exported);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error: the model was not exported: \"" + (out / c.file) +
                                                             "\" cannot be written (File too large). The files already there are kept."});
        EXPECT_EQ(Snapshot(out.Path()), earlier);
    }
}

// A real full disk: a small file system of its own (mounting one needs root).
TEST_F(ExportColladaFile, AFullDiskIsNamedAsSuch)
{
    const fs::path disk = out.Path() / "disk";
    fs::create_directories(disk);
    if (::geteuid() != 0 || ::mount("vultari-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "a 64 kB file system cannot be mounted here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount(path.c_str()); }
    } unmount{disk.string()};
    ASSERT_TRUE(core->ExportCollada((disk / "head.dae").string()));
    const auto earlier = Snapshot(disk);
    WriteFile(data.Path() / "data/textures/headtexture.bmp", std::string(200 * 1024, 'h'));
    ScopedMessageCapture messages;
    EXPECT_FALSE(core->ExportCollada((disk / "head.dae").string()));
    EXPECT_EQ(messages.Texts(),
              std::vector<std::string>{"Error: the model was not exported: the disk is full. The files already there are kept."});
    EXPECT_EQ(Snapshot(disk), earlier);
}

// Exported into the program's own data folder, the document gets copies of its own there and the
// program's textures stay as they are.
TEST_F(ExportColladaFile, IntoTheProgramsOwnDataFolder)
{
    const fs::path dataFolder = data.Path() / "data";
    ScopedMessageCapture messages;
    for (const fs::path& name : {dataFolder / "head.dae", data.Path() / "." / "data" / "head.dae"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(core->ExportCollada(name.string()));
        EXPECT_TRUE(messages.Texts().empty());
        EXPECT_TRUE(fs::is_regular_file(dataFolder / "head.dae"));
        for (const char* file : kTextures) {
            EXPECT_EQ(ReadFile(dataFolder / "textures" / file), std::string("BM fake ") + file) << file;
            EXPECT_EQ(ReadFile(dataFolder / "textures" / ("head-" + std::string(file))), std::string("BM fake ") + file) << file;
        }
    }
    std::set<std::string> entries;
    for (const auto& e : fs::directory_iterator(dataFolder / "textures"))
        entries.insert(e.path().filename().string());
    std::set<std::string> expected;
    for (const char* file : kTextures)
        expected.insert({file, "head-" + std::string(file)});
    EXPECT_EQ(entries, expected);
}

// Documents exported one after the other into one folder, each from another reconstruction: each
// still shows its own textures, as another program reads it.
TEST_F(ExportColladaFile, EachDocumentKeepsItsOwnTextures)
{
    const std::vector<std::string> names = {"a.dae", "b.dae", "with space #1 100%.dae", "Kopf ü 头.dae"};
    for (size_t i = 0; i < names.size(); ++i) {
        for (const char* file : kTextures)
            WriteFile(data.Path() / "data/textures" / file, "BM " + std::to_string(i) + " " + file);
        ASSERT_TRUE(core->ExportCollada(out / names[i])) << names[i];
    }
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const std::string path = out / names[i];
        const aiScene* scene = aiImportFile(path.c_str(), aiProcess_ValidateDataStructure);
        ASSERT_NE(scene, nullptr) << aiGetErrorString();
        std::map<std::string, std::string> shown;  // texture file -> its content
        for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
            aiString file;
            const aiMaterial* material = scene->mMaterials[scene->mMeshes[m]->mMaterialIndex];
            ASSERT_EQ(material->GetTexture(aiTextureType_DIFFUSE, 0, &file), aiReturn_SUCCESS);
            shown[file.C_Str()] = ReadFile(out.Path() / file.C_Str());
        }
        aiReleaseImport(scene);
        std::set<std::string> contents;
        for (const auto& [file, content] : shown)
            contents.insert(content);
        EXPECT_EQ(contents, (std::set<std::string>{"BM " + std::to_string(i) + " headtexture.bmp",
                                                   "BM " + std::to_string(i) + " eye.bmp"}));
    }
    size_t copies = 0;
    for (const auto& e : fs::directory_iterator(out.Path() / "textures"))
        copies += e.is_regular_file();
    EXPECT_EQ(copies, 3 * names.size());
}
