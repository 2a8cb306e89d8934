// End to end with the headless driver: a real front photo and a profile drawn from the generic
// head go through recognition, reconstruction, every shader type and the export, which assimp reads.
#include "testing/PhotoFiles.h"
#include "testing/DriverSupport.h"

#include "collada/Colladaasset.h"
#include "core/VultariExport.h"
#include "platform/xml/Xmldocument.h"
#include "tests/core/ColladaChecks.h"

#include <assimp/cimport.h>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <filesystem>
#include <vector>
#include <fstream>
#include <set>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace {

struct Result {
    int code = -1;
    std::string output;  // standard output and error
};

// With `seconds`, a run that takes longer is ended (code 124).
Result RunDriver(const std::string& arguments, int seconds = 0)
{
    Result r;
    const std::string limit = seconds > 0 ? "timeout " + std::to_string(seconds) + " " : "";
    r.code = RunCommand(limit + VULTARI_DRIVER + " " + arguments + " 2>&1", &r.output);
    return r;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Quote(const fs::path& p)
{
    std::string quoted(1, '\'');
    quoted.append(p.string()).push_back('\'');
    return quoted;
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vultari-e2e-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir / "out");
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
        else
            std::fprintf(stderr, "outputs kept in %s\n", dir.c_str());
    }
    fs::path dir;
};

const std::string kAstronaut = std::string(VULTARI_DEPS_DIR) + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png";

} // namespace

namespace {

// What other programs need of an export: the schema, ids and references, opaque materials whose
// texture samples coordinates the mesh has, a life-size head; and the program's own reader takes
// it back whole.
void ExpectAnExportOthersRead(const fs::path& document, const fs::path& scratch)
{
    const std::string text = ReadFile(document);
    EXPECT_EQ(collada_checks::SchemaErrors(document, scratch), "");
    const std::vector<std::string> problems = collada_checks::ReferenceProblems(text);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);

    // Vertices in metres, the nodes' transforms and the document's unit applied.
    const aiScene* scene = aiImportFile(document.c_str(), aiProcess_ValidateDataStructure | aiProcess_PreTransformVertices);
    ASSERT_NE(scene, nullptr) << aiGetErrorString();
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        const aiMesh* mesh = scene->mMeshes[i];
        SCOPED_TRACE(mesh->mName.C_Str());
        const aiMaterial* material = scene->mMaterials[mesh->mMaterialIndex];
        float opacity = 1.0f;
        material->Get(AI_MATKEY_OPACITY, opacity);
        EXPECT_FLOAT_EQ(opacity, 1.0f);
        aiString file;
        unsigned channel = 99;
        ASSERT_EQ(material->GetTexture(aiTextureType_DIFFUSE, 0, &file, nullptr, &channel), aiReturn_SUCCESS);
        EXPECT_TRUE(mesh->HasTextureCoords(channel)) << "texture on channel " << channel;
        if (std::string(mesh->mName.C_Str()) == "Head") {
            float low = 1e9f, high = -1e9f;
            for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
                low = std::min(low, mesh->mVertices[v].y);  // assimp turns z up into y up
                high = std::max(high, mesh->mVertices[v].y);
            }
            // Crown to the neck's cut: a life-size head, neither a third nor three times of it.
            EXPECT_GT(high - low, 0.18f);
            EXPECT_LT(high - low, 0.40f);
        }
    }
    aiReleaseImport(scene);

    TXMLDocument xml;
    TColladaAsset read(&xml), none1(&xml), none2(&xml);
    ASSERT_TRUE(read.Load(document.string()));
    std::vector<std::string> geometries;
    for (const auto& g : read.geometries.geometries) {
        geometries.push_back(g->name);
        EXPECT_FALSE(g->triangles.empty()) << g->name;
    }
    EXPECT_EQ(geometries, (std::vector<std::string>{"Head", "RightEye", "LeftEye", "Hair"}));
    for (const auto& node : read.visualScenes.nodes) {
        EXPECT_GE(node->geometryIndex, 0) << node->name;
        ASSERT_GE(node->effectIndex, 0) << node->name;
        const int image = read.effects.effects[static_cast<size_t>(node->effectIndex)]->imageIndex;
        ASSERT_GE(image, 0) << node->name;
        EXPECT_TRUE(fs::exists(document.parent_path() / read.images.files[static_cast<size_t>(image)])) << node->name;
    }
    EXPECT_DOUBLE_EQ(read.unitMeter, 0.028);
    // Written again from what was read, with the same name and time: the same document.
    const size_t at = text.find("<created>") + 9;
    const std::string stamp = text.substr(at, text.find("</created>") - at);
    const std::string again = ColladaDocumentText(read, none1, none2, document.string(), stamp);
    const size_t differs = std::mismatch(again.begin(), again.end(), text.begin(), text.end()).first - again.begin();
    EXPECT_TRUE(again == text) << "differs from byte " << differs << ": "
                               << again.substr(differs > 80 ? differs - 80 : 0, 160);
}

} // namespace

TEST_F(Driver, RealFrontPhotoAndRenderedProfileEndToEnd)
{
    ASSERT_TRUE(fs::exists(kAstronaut)) << "run scripts/fetch-deps: " << kAstronaut;
    Result photos = RunDriver("photos --front " + Quote(dir / "generic-front.png") + " --side " +
                              Quote(dir / "generic-side.png") + " --workdir " + Quote(dir / "work-photos"));
    ASSERT_EQ(photos.code, 0) << photos.output;
    cv::Mat side = cv::imread((dir / "generic-side.png").string());
    ASSERT_FALSE(side.empty());
    // The profile shows a head on the plain background.
    double headShare = cv::countNonZero(ForegroundMask(side, kPhotoBackground)) / double(side.total());
    EXPECT_GT(headShare, 0.05);
    EXPECT_LT(headShare, 0.8);

    Result run = RunDriver("run --front " + Quote(kAstronaut) + " --profile " + Quote(dir / "generic-side.png") +
                           " --points " + Quote(dir / "points.json") + " --frames " + Quote(dir / "frame") +
                           " --export " + Quote(dir / "out/head.obj") + " --workdir " + Quote(dir / "work"));
    ASSERT_EQ(run.code, 0) << run.output;
    // Which points fell back to proportions is told; the ears are never measured on a front photo,
    // the real face's centre always is.
    const size_t report = run.output.find("recognition fallback: front ");
    ASSERT_NE(report, std::string::npos) << run.output;
    const std::string line = run.output.substr(report, run.output.find('\n', report) - report);
    const std::string frontPart = line.substr(0, line.find("; profile "));
    EXPECT_NE(frontPart.find("Left ear's center"), std::string::npos) << line;
    EXPECT_EQ(frontPart.find("Head center"), std::string::npos) << line;

    // The 41 points, inside the photos as loaded.
    const cv::Mat astronaut = cv::imread(kAstronaut);
    ASSERT_FALSE(astronaut.empty());
    const std::string json = ReadFile(dir / "points.json");
    int front = 0, profile = 0;
    for (size_t at = json.find("{\"set\": "); at != std::string::npos; at = json.find("{\"set\": ", at + 1)) {
        char set[16] = {}, name[64] = {};
        int index = -1, x = 0, y = 0;
        ASSERT_EQ(std::sscanf(json.c_str() + at, "{\"set\": \"%15[a-z]\", \"index\": %d, \"name\": \"%63[^\"]\", \"x\": %d, \"y\": %d}",
                              set, &index, name, &x, &y), 5)
            << json.substr(at, 80);
        const bool isFront = std::string(set) == "front";
        const int w = isFront ? astronaut.cols : side.cols, h = isFront ? astronaut.rows : side.rows;
        EXPECT_GE(x, 0) << name;
        EXPECT_LT(x, w) << name;
        EXPECT_GE(y, 0) << name;
        EXPECT_LT(y, h) << name;
        EXPECT_EQ(index, isFront ? front : profile);
        (isFront ? front : profile)++;
    }
    EXPECT_EQ(front, 27);
    EXPECT_EQ(profile, 14);
    EXPECT_TRUE(json.find("\"profileOrientation\": 0,") != std::string::npos ||
                json.find("\"profileOrientation\": 1,") != std::string::npos);
    EXPECT_NE(json.find("\"name\": \"Left eye's center\""), std::string::npos);

    // One frame per shader type, each showing the head on black.
    cv::Mat frames[4];
    for (int type = 0; type < 4; ++type) {
        SCOPED_TRACE("shader type " + std::to_string(type));
        frames[type] = cv::imread((dir / ("frame-shader" + std::to_string(type) + ".png")).string());
        ASSERT_FALSE(frames[type].empty());
        EXPECT_EQ(frames[type].cols, kViewWidth);
        EXPECT_EQ(frames[type].rows, kViewHeight);
        cv::Mat lit = ForegroundMask(frames[type], cv::Vec3b(0, 0, 0), 20);
        double share = cv::countNonZero(lit) / double(lit.total());
        EXPECT_GT(share, 0.05) << "no head in the frame";
        EXPECT_LT(share, 0.9);
        cv::Scalar mean, deviation;
        cv::meanStdDev(frames[type], mean, deviation, lit);
        EXPECT_GT(deviation[0] + deviation[1] + deviation[2], 10.0) << "the head is one flat colour";
    }
    cv::Mat difference;
    cv::absdiff(frames[1], frames[3], difference);
    EXPECT_GT(cv::mean(difference)[0] + cv::mean(difference)[1] + cv::mean(difference)[2], 0.5)
        << "the diffusion frame equals the Phong frame";

    // The export: ".obj" became ".dae", the textures sit beside it, assimp reads it all.
    EXPECT_FALSE(fs::exists(dir / "out/head.obj"));
    const fs::path document = dir / "out/head.dae";
    ASSERT_TRUE(fs::exists(document));
    for (const char* file : {"headtexture.bmp", "normalmap.bmp", "eye.bmp"}) {
        cv::Mat texture = cv::imread((dir / "out/textures" / ("head-" + std::string(file))).string());
        EXPECT_FALSE(texture.empty()) << file;
    }
    const aiScene* scene = aiImportFile(document.c_str(), aiProcess_ValidateDataStructure);
    ASSERT_NE(scene, nullptr) << aiGetErrorString();
    EXPECT_GE(scene->mNumMeshes, 3u);
    std::set<std::string> textures;
    unsigned withTexture = 0;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        const aiMesh* mesh = scene->mMeshes[i];
        EXPECT_GT(mesh->mNumVertices, 0u);
        const aiMaterial* material = scene->mMaterials[mesh->mMaterialIndex];
        aiString file;
        if (material->GetTexture(aiTextureType_DIFFUSE, 0, &file) == aiReturn_SUCCESS) {
            ++withTexture;
            textures.insert(file.C_Str());
            EXPECT_TRUE(fs::exists(dir / "out" / file.C_Str())) << file.C_Str();
        }
    }
    EXPECT_EQ(withTexture, scene->mNumMeshes);
    EXPECT_TRUE(textures.count("textures/head-headtexture.bmp"));
    EXPECT_TRUE(textures.count("textures/head-eye.bmp"));
    aiReleaseImport(scene);
    ExpectAnExportOthersRead(document, dir);
}

TEST_F(Driver, BadInputEndsWithAMessageNotACrash)
{
    const fs::path garbage = dir / "garbage.png";
    std::ofstream(garbage) << "this is not a picture";
    // Over the program's limit; and over the image library's own, where its reader throws.
    WriteJpegDeclaring(dir / "huge.jpg", 12128, 32320);
    WriteJpegDeclaring(dir / "huger.jpg", 65000, 65000);
    ASSERT_EQ(::mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    struct Case {
        std::string arguments;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"run --front " + Quote(dir / "none.png") + " --profile " + Quote(garbage), 4, "Error: Front image not loaded"},
        {"run --front " + Quote(kAstronaut) + " --profile " + Quote(garbage), 4, "Error: Profile image not loaded"},
        {"run --front " + Quote(dir / "huge.jpg") + " --profile " + Quote(kAstronaut), 4,
         "Error: Front image not loaded: the photo is 12128 x 32320 pixels"},
        {"run --front " + Quote(kAstronaut) + " --profile " + Quote(dir / "huger.jpg"), 4,
         "Error: Profile image not loaded: the photo is 65000 x 65000 pixels"},
        {"run --front " + Quote(dir / "pipe.jpg") + " --profile " + Quote(kAstronaut), 4,
         "Error: Front image not loaded: the photo is not a regular file"},
        {"run --front", 2, "usage"},
        {"fly", 2, "usage"},
    };
    for (const Case& c : cases) {
        Result r = RunDriver(c.arguments + " --workdir " + Quote(dir / "work"), 60);
        EXPECT_EQ(r.code, c.code) << c.arguments << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.arguments << "\n" << r.output;
    }
}

namespace {

// Rows of a photo in which the skin mask ends more than `slack` pixels inside the silhouette on
// the side `fromLeft` names (only rows where the silhouette is present count).
struct SkinEdge {
    int rows = 0;
    int short_ = 0;
};

SkinEdge SkinShortOfSilhouette(const cv::Mat& photo, const cv::Mat& skinTable, int firstRow, int lastRow, bool fromLeft,
                               int slack)
{
    const cv::Mat foreground = ForegroundMask(photo, kPhotoBackground);
    cv::Mat ycrcb;
    cv::cvtColor(photo, ycrcb, cv::COLOR_BGR2YCrCb);
    SkinEdge e;
    for (int y = firstRow; y <= lastRow; ++y) {
        int silhouette = -1, skin = -1;
        for (int i = 0; i < photo.cols; ++i) {
            const int x = fromLeft ? i : photo.cols - 1 - i;
            if (silhouette < 0 && foreground.at<uchar>(y, x))
                silhouette = i;
            const cv::Vec3b c = ycrcb.at<cv::Vec3b>(y, x);
            if (skin < 0 && skinTable.at<cv::Vec3b>(c[2], c[1])[0] < 244)  // column Cr, row Cb
                skin = i;
        }
        if (silhouette < 0)
            continue;
        ++e.rows;
        if (skin < 0 || skin - silhouette > slack)
            ++e.short_;
    }
    return e;
}

} // namespace

// The rendered photos must be skin-coloured out to the head's silhouette on every side the
// recognizers scan (both sides of the front, the face side of the profile), or the outline stops
// on a shadowed cheek instead of at the ear or the face line.
TEST_F(Driver, RenderedPhotosAreSkinUpToTheSilhouette)
{
    const cv::Mat table = cv::imread("data/SkinLocusYCrCb.jpg", cv::IMREAD_COLOR);
    ASSERT_GE(table.cols, 256);
    ASSERT_GE(table.rows, 256);
    for (const char* variant : {"", " --deformed"}) {
        Result photos = RunDriver(std::string("photos") + variant + " --front " + Quote(dir / "front.png") + " --side " +
                                  Quote(dir / "side.png") + " --workdir " + Quote(dir / "work-photos"));
        ASSERT_EQ(photos.code, 0) << photos.output;
        const cv::Mat front = cv::imread((dir / "front.png").string()), side = cv::imread((dir / "side.png").string());
        ASSERT_FALSE(front.empty());
        ASSERT_FALSE(side.empty());
        // Rows from just below the eyes (z = 0.3) to below the mouth (z = -2), 6 units above and
        // below the photo's middle row.
        const double perUnit = kPhotoHeight / 12.0;
        const int first = static_cast<int>(kPhotoHeight / 2.0 - 0.3 * perUnit), last = static_cast<int>(kPhotoHeight / 2.0 + 2.0 * perUnit);
        struct Side {
            const char* name;
            const cv::Mat* photo;
            bool fromLeft;
        };
        for (const Side& s : {Side{"front, image left", &front, true}, Side{"front, image right", &front, false},
                              Side{"profile, face side", &side, true}}) {
            const SkinEdge e = SkinShortOfSilhouette(*s.photo, table, first, last, s.fromLeft, 4);
            EXPECT_GT(e.rows, (last - first) / 2) << variant << " " << s.name;
            EXPECT_LE(e.short_, e.rows / 10) << variant << " " << s.name << ": " << e.short_ << " of " << e.rows
                                              << " rows have no skin at the silhouette";
        }
    }
}

// The known change of the quality benchmark must be smooth: two points 0.01 units apart stay
// about that far apart (a step would tear a ledge into the head that no reconstruction can follow),
// while the nose really is pulled forward.
TEST(DeformHead, IsSmoothAndPullsTheNoseForward)
{
    auto moved = [](float x, float y, float z) {
        std::vector<float> p = {x, y, z};
        DeformHead(p);
        return cv::Point3f(p[0], p[1], p[2]);
    };
    const float h = 0.01f;
    double worst = 0;
    for (float x = -1.0f; x <= 1.0f; x += 0.05f)
        for (float y = -2.5f; y <= 0.0f; y += 0.05f)
            for (float z = -2.0f; z <= 1.0f; z += 0.05f) {
                const cv::Point3f p = moved(x, y, z);
                for (const cv::Point3f& step : {cv::Point3f(h, 0, 0), cv::Point3f(0, h, 0), cv::Point3f(0, 0, h)}) {
                    const cv::Point3f q = moved(x + step.x, y + step.y, z + step.z);
                    worst = std::max(worst, cv::norm(q - p) / h);
                }
            }
    EXPECT_LT(worst, 2.5) << "the change stretches some neighbourhood " << worst << " times";

    // The nose tip comes forward (toward -y) beyond the plain depth scale; the back of the head not.
    const cv::Point3f tip = moved(0.0f, -2.25f, -0.41f);
    EXPECT_LT(tip.y, -2.25f * 1.06f - 0.2f);
    const cv::Point3f back = moved(0.0f, 3.0f, 0.5f);
    EXPECT_FLOAT_EQ(back.y, 3.0f * 1.06f);
    EXPECT_FLOAT_EQ(back.x, 0.0f);
}

// The result views that the quality benchmark compares with the photos: the same silhouette as the
// photos' head (drawn white, whatever the texture shows), and colours not lit a second time (the
// head texture was painted from the lit photos; lit again, the head came out about half as bright).
TEST_F(Driver, ResultViewsMatchThePhotosSilhouetteAndBrightness)
{
    Result photos = RunDriver("photos --front " + Quote(dir / "front.png") + " --side " + Quote(dir / "side.png") +
                              " --workdir " + Quote(dir / "work-photos"));
    ASSERT_EQ(photos.code, 0) << photos.output;
    Result run = RunDriver("run --front " + Quote(dir / "front.png") + " --profile " + Quote(dir / "side.png") + " --views " +
                           Quote(dir / "result") + " --workdir " + Quote(dir / "work"));
    ASSERT_EQ(run.code, 0) << run.output;
    for (const char* view : {"front", "side"}) {
        const cv::Mat photo = cv::imread((dir / (std::string(view) + ".png")).string());
        const cv::Mat colour = cv::imread((dir / ("result-" + std::string(view) + ".png")).string());
        const cv::Mat white = cv::imread((dir / ("result-" + std::string(view) + "-silhouette.png")).string());
        ASSERT_FALSE(photo.empty());
        ASSERT_EQ(colour.size(), photo.size()) << view;
        ASSERT_EQ(white.size(), photo.size()) << view;
        const cv::Mat head = ForegroundMask(photo, kPhotoBackground), drawn = ForegroundMask(white, kPhotoBackground);
        EXPECT_GT(MaskIoU(head, drawn), 0.8) << view;
        // Inside its silhouette the white view is white.
        cv::Mat grey;
        cv::cvtColor(white, grey, cv::COLOR_BGR2GRAY);
        EXPECT_GT(cv::mean(grey, drawn)[0], 250.0) << view;
        cv::Mat photoGrey, colourGrey;
        cv::cvtColor(photo, photoGrey, cv::COLOR_BGR2GRAY);
        cv::cvtColor(colour, colourGrey, cv::COLOR_BGR2GRAY);
        const double ratio = cv::mean(colourGrey, head)[0] / cv::mean(photoGrey, head)[0];
        EXPECT_GT(ratio, 0.8) << view << ": the result is drawn darker than the photo";
        EXPECT_LT(ratio, 1.6) << view;
    }
}

// The quality benchmark's oracle: every point the file names lands exactly where it says, in the
// form the file gives (here the profile mirrored, as for a right-facing photo); a file that is
// not a points file, or names a point that does not exist, ends the run before anything is done.
TEST_F(Driver, SetPointsPutsEveryPointWhereTheFileSays)
{
    Result photos = RunDriver("photos --front " + Quote(dir / "front.png") + " --side " + Quote(dir / "side.png") +
                              " --workdir " + Quote(dir / "work-photos"));
    ASSERT_EQ(photos.code, 0) << photos.output;
    std::string file = "{\n  \"profileOrientation\": 1,\n  \"points\": [\n";
    std::vector<std::array<int, 4>> expected;  // set (0 front, 1 profile), index, x, y
    for (int set = 0; set < 2; ++set)
        for (int i = 0; i < (set ? 14 : 27); ++i) {
            const int x = 17 + 13 * i + 5 * set, y = 600 - 11 * i - 3 * set;
            expected.push_back({set, i, x, y});
            file += std::string("    {\"set\": \"") + (set ? "profile" : "front") + "\", \"index\": " + std::to_string(i) +
                    ", \"name\": \"a \\\"name\\\" }\", \"x\": " + std::to_string(x) + ", \"y\": " + std::to_string(y) +
                    "}" + (set == 1 && i == 13 ? "\n" : ",\n");
        }
    file += "  ]\n}\n";
    std::ofstream(dir / "true.json") << file;
    const std::string run = "run --front " + Quote(dir / "front.png") + " --profile " + Quote(dir / "side.png") +
                            " --workdir " + Quote(dir / "work") + " --points " + Quote(dir / "points.json") + " --set-points ";
    Result r = RunDriver(run + Quote(dir / "true.json"));
    ASSERT_EQ(r.code, 0) << r.output;
    const std::string points = ReadFile(dir / "points.json");
    EXPECT_NE(points.find("\"profileOrientation\": 1"), std::string::npos) << points;
    for (const auto& [set, index, x, y] : expected) {
        const std::string entry = std::string("{\"set\": \"") + (set ? "profile" : "front") + "\", \"index\": " +
                                  std::to_string(index) + ",";
        const size_t at = points.find(entry);
        ASSERT_NE(at, std::string::npos) << entry;
        const std::string line = points.substr(at, points.find('\n', at) - at);
        EXPECT_NE(line.find("\"x\": " + std::to_string(x) + ", \"y\": " + std::to_string(y) + "}"), std::string::npos) << line;
    }

    const std::pair<const char*, std::string> bad[] = {
        {"not JSON", "points, please"},
        {"no such point", "{\"points\": [{\"set\": \"front\", \"index\": 27, \"x\": 1, \"y\": 2}]}"},
        {"no such set", "{\"points\": [{\"set\": \"side\", \"index\": 0, \"x\": 1, \"y\": 2}]}"},
        {"a point without y", "{\"points\": [{\"set\": \"front\", \"index\": 0, \"x\": 1}]}"},
        {"cut short", file.substr(0, file.size() / 2)},
    };
    for (const auto& [what, text] : bad) {
        std::ofstream(dir / "bad.json") << text;
        fs::remove(dir / "points.json");
        Result b = RunDriver(run + Quote(dir / "bad.json"));
        EXPECT_EQ(b.code, 2) << what << "\n" << b.output;
        EXPECT_FALSE(fs::exists(dir / "points.json")) << what;
    }
}
