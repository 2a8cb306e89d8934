// Every reconstruction through the whole program (the headless driver) must give a whole head: on
// photos of the benchmark's known heads with the points the recognizer finds and with their true
// points, on real front photos beside a drawn profile, and with points dragged as far as the editor
// lets them go. Each case is checked for the invariants of testing/HeadInvariants.h.
#include "testing/HeadInvariants.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "testing/KnownHeadPhotos.h"
#include "collada/Colladaasset.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "render/Colladaengine.h"
#include "testing/DriverSupport.h"
#include "tests/recognition/RecognitionFixture.h"

namespace fs = std::filesystem;

namespace {

const char* const kHuman = "/usr/share/assimp/models/Collada/human.zae";

enum class Points { Recognized, True, Dragged };

// One drag in the point editor: the point (front or profile set) is grabbed and the mouse taken to
// a place given as a share of the photo (below 0 or beyond 1: past its edge, which the editor stops
// at), or onto another point of the same set. kKeep leaves that coordinate where the point is.
constexpr double kKeep = -99;
struct Drag {
    bool front;
    int index;
    double x = kKeep, y = kKeep;
    int onto = -1;
};

struct Case {
    const char* name;
    const char* head;  // the known head drawn in the photos
    std::string (*realFront)() = nullptr;  // a real front photo instead of the known head's
    Points points = Points::Recognized;
    std::vector<Drag> drags = {};
};

std::string Q(const fs::path& p) { return ShellQuoted(p.string()); }

const KnownHead* FindHead(const std::string& name)
{
    for (const KnownHead& h : KnownHeads())
        if (h.name == name)
            return &h;
    return nullptr;
}

// Drags every point of `drags` one after the other, as the editor does, on the true points.
std::string DraggedPoints(const std::string& truth, const std::vector<Drag>& drags)
{
    THeadAttributes points;
    const cv::Size size(kPhotoWidth, kPhotoHeight);
    if (!ApplyPointsJson(truth, points, size, size, size, size))
        return {};
    for (const Drag& d : drags) {
        THPoint* const* set = d.front ? points.front : points.profile;
        THPoint* p = set[d.index];
        int x = p->x, y = p->y;
        if (d.onto >= 0)
            x = set[d.onto]->x, y = set[d.onto]->y;
        if (d.x != kKeep)
            x = static_cast<int>(d.x * kPhotoWidth);
        if (d.y != kKeep)
            y = static_cast<int>(d.y * kPhotoHeight);
        p->KeepDragInside(kPhotoWidth, kPhotoHeight, x, y);
        p->MoveTo(x, y);
    }
    return PointsJson(points, size, size, size, size);
}

const TGeometry* Named(const TColladaAsset& asset, const std::string& name)
{
    for (const auto& g : asset.geometries.geometries)
        if (g->name == name)
            return g.get();
    return nullptr;
}

class HeadInvariants : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vultari-invariants-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override
    {
        if (!HasFailure())
            fs::remove_all(dir);
        else
            std::fprintf(stderr, "outputs kept in %s\n", dir.c_str());
    }
    // Draws the known head's photos into dir/photos.
    bool DrawPhotos(const KnownHead& head)
    {
        GenericData generic;
        try {
            generic = BuildGeneric(kHuman);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "cannot build the known heads from " << kHuman << ": " << e.what();
            return false;
        }
        const KnownHeadMaker maker(generic);
        TXMLDocument document;
        const std::unique_ptr<TColladaEngine> engine = KnownHeadEngine(document);
        return engine && DrawKnownHead(maker, *engine, head, dir / "photos");
    }
    fs::path dir;
};

TEST_P(HeadInvariants, TheHeadStaysWhole)
{
    const Case& c = GetParam();
    const KnownHead* head = FindHead(c.head);
    ASSERT_NE(head, nullptr) << c.head;
    KeepGLDriverLoaded();
    ASSERT_TRUE(DrawPhotos(*head));
    const fs::path photos = dir / "photos";
    const std::string front = c.realFront ? c.realFront() : (photos / "front.png").string();
    ASSERT_TRUE(fs::exists(front)) << "run scripts/fetch-deps: " << front;

    std::string args = "run --front " + Q(front) + " --profile " + Q(photos / "side-left.png") + " --points " +
                       Q(dir / "points.json") + " --export " + Q(dir / "out/head.dae") + " --workdir " + Q(dir / "work");
    if (c.points != Points::Recognized) {
        std::string truth = ReadWholeFile((photos / "truth-left.json").string());
        if (c.points == Points::Dragged)
            truth = DraggedPoints(truth, c.drags);
        ASSERT_FALSE(truth.empty());
        std::ofstream(dir / "set.json") << truth;
        args += " --set-points " + Q(dir / "set.json");
    }
    fs::create_directories(dir / "out");
    std::string output;
    ASSERT_EQ(RunCommand(std::string(VULTARI_DRIVER) + " " + args + " 2>&1", &output), 0) << output;

    TXMLDocument xml;
    TColladaAsset result(&xml), restHead(&xml), restHair(&xml);
    ASSERT_TRUE(result.Load((dir / "out/head.dae").string()));
    ASSERT_TRUE(restHead.Load("data/models/head.dae"));
    ASSERT_TRUE(restHair.Load("data/models/hairs.dae"));
    const TGeometry *head3d = Named(result, "Head"), *hair = Named(result, "Hair"), *right = Named(result, "RightEye"),
                    *left = Named(result, "LeftEye");
    ASSERT_TRUE(head3d && hair && right && left);
    const TGeometry& rest = *restHead.geometries.geometries.at(0);
    ASSERT_EQ(head3d->positions.size(), rest.positions.size());

    // The hair gets only the overall scaling: the rest head is taken at that scale.
    const Vec3 scale = AxisScale(restHair.geometries.geometries.at(0)->positions, hair->positions);
    const SurfaceDamage damage = MeasureSurfaceDamage(rest.positions, head3d->positions, head3d->triangles, scale);
    EXPECT_TRUE(damage.Whole()) << damage.Describe();
    std::printf("%s: surface: %s\n", c.name, damage.Describe().c_str());

    for (const auto& [what, eye] : {std::pair{"left eyeball", left}, std::pair{"right eyeball", right}}) {
        const EyeballView view = LookAtEyeball(*head3d, eye->positions);
        EXPECT_TRUE(view.InItsOpening()) << what << ": " << view.Describe();
        std::printf("%s: %s: %s\n", c.name, what, view.Describe().c_str());
    }

    // Lit by the surface it has now, not by the generic head's.
    for (const auto& [what, mesh] : {std::pair{"head", head3d}, std::pair{"left eyeball", left}, std::pair{"right eyeball", right}}) {
        const NormalDeviation normals = MeasureNormals(*mesh);
        EXPECT_LT(normals.p95, 5.0) << what << ": " << normals.Describe();
        std::printf("%s: %s: %s\n", c.name, what, normals.Describe().c_str());
    }

    const cv::Mat atlas = cv::imread((dir / "out/textures/head-headtexture.bmp").string(), cv::IMREAD_COLOR);
    ASSERT_FALSE(atlas.empty());
    // The drawn profile's background; a real front photo's own background has no one colour.
    const AtlasBackground found = FindBackgroundInSkin(atlas, *head3d, kPhotoBackground);
    EXPECT_EQ(found.backgroundTexels, 0) << found.Describe();
    if (found.backgroundTexels > 0) {
        // The atlas with the head's texels outlined and the background among them red, to look at.
        cv::Mat shown = atlas.clone(), skin = HeadTexels(*head3d, atlas.size());
        for (int y = 0; y < shown.rows; ++y)
            for (int x = 0; x < shown.cols; ++x)
                if (skin.at<uint8_t>(y, x) && cv::norm(cv::Vec3i(atlas.at<cv::Vec3b>(y, x)) - cv::Vec3i(kPhotoBackground), cv::NORM_INF) <= 12)
                    shown.at<cv::Vec3b>(y, x) = {0, 0, 255};
        std::vector<std::vector<cv::Point>> outline;
        cv::findContours(skin, outline, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        cv::drawContours(shown, outline, -1, cv::Scalar(0, 255, 255), 1);
        cv::imwrite((dir / "atlas-background.png").string(), shown);
    }
    std::printf("%s: atlas: %s\n", c.name, found.Describe().c_str());
}

namespace F = FrontPoint;
namespace P = ProfilePoint;

std::vector<Case> Cases()
{
    std::vector<Case> cases;
#ifndef VULTARI_SANITIZED
    // Every known head, with the recognized and with the true points.
    for (const KnownHead& h : KnownHeads()) {
        cases.push_back({h.name.c_str(), h.name.c_str(), nullptr, Points::Recognized});
        cases.push_back({h.name.c_str(), h.name.c_str(), nullptr, Points::True});
    }
#else
    // The sanitizer build is several times slower: two heads with hair and without.
    for (const char* name : {"generic", "mh"}) {
        cases.push_back({name, name, nullptr, Points::Recognized});
        cases.push_back({name, name, nullptr, Points::True});
    }
#endif
    // Real front photos beside drawn profiles.
    cases.push_back({"astronaut", "generic", testdata::Astronaut});
    cases.push_back({"grace_hopper", "mh", testdata::GraceHopper});
    cases.push_back({"mona", "mh-narrow-long", testdata::Mona});
    // Points dragged as far as the editor lets them, from the true points of the generic head.
    const std::vector<std::pair<const char*, std::vector<Drag>>> dragged = {
        {"left_eye_to_the_edge", {{true, F::LeftEyeCenter, 0.0}}},
        {"right_eye_to_the_top_corner", {{true, F::RightEyeCenter, 1.0, 0.0}}},
        {"left_eye_opened_over_the_photo",
         {{true, F::LeftEyeLeft, -1.0}, {true, F::LeftEyeRight, 2.0}, {true, F::LeftEyeTop, kKeep, -1.0},
          {true, F::LeftEyeBottom, kKeep, 2.0}}},
        {"right_eye_shut_to_a_point",
         {{true, F::RightEyeLeft, kKeep, kKeep, F::RightEyeCenter}, {true, F::RightEyeRight, kKeep, kKeep, F::RightEyeCenter},
          {true, F::RightEyeTop, kKeep, kKeep, F::RightEyeCenter}, {true, F::RightEyeBottom, kKeep, kKeep, F::RightEyeCenter}}},
        {"mouth_to_the_bottom_and_wide",
         {{true, F::MouthCenter, kKeep, 2.0}, {true, F::MouthLeft, -1.0}, {true, F::MouthRight, 2.0}}},
        {"nose_over_the_photo",
         {{true, F::NoseLeft, -1.0}, {true, F::NoseRight, 2.0}, {true, F::NoseTop, kKeep, -1.0}, {true, F::NoseBottom, kKeep, 2.0}}},
        {"ears_to_opposite_corners", {{true, F::LeftEar, -1.0, -1.0}, {true, F::RightEar, 2.0, 2.0}}},
        {"head_borders_onto_the_face",
         {{true, F::LeftHead, kKeep, kKeep, F::NoseTip}, {true, F::RightHead, kKeep, kKeep, F::RightEyeCenter}}},
        {"head_top_and_bottom_onto_the_face",
         {{true, F::TopHead, kKeep, kKeep, F::LeftEyeCenter}, {true, F::BottomHead, kKeep, kKeep, F::NoseTip}}},
        {"profile_head_borders_onto_the_ear",
         {{false, P::LeftHead, kKeep, kKeep, P::EarCenter}, {false, P::RightHead, kKeep, kKeep, P::EarRight}}},
        {"face_box_over_the_photo",
         {{true, F::BottomHead, kKeep, 2.0}, {true, F::TopHead, kKeep, -1.0}, {true, F::LeftHead, -1.0}, {true, F::RightHead, 2.0}}},
        {"profile_nose_root_to_the_back", {{false, P::NoseRoot, 2.0}}},
        {"profile_ear_to_the_back_and_tall",
         {{false, P::EarCenter, 2.0}, {false, P::EarTop, kKeep, -1.0}, {false, P::EarBottom, kKeep, 2.0}}},
        {"profile_eye_and_mouth_to_the_edges", {{false, P::EyeCenter, kKeep, -1.0}, {false, P::MouthCenter, 2.0, 2.0}}},
    };
    for (const auto& [name, drags] : dragged)
        cases.push_back({name, "generic", nullptr, Points::Dragged, drags});
    return cases;
}

void PrintTo(const Case& c, std::ostream* out) { *out << c.name << " (" << c.head << ")"; }

std::string CaseName(const ::testing::TestParamInfo<Case>& info)
{
    const Case& c = info.param;
    std::string name = c.name;
    for (char& ch : name)
        if (ch == '-')
            ch = '_';
    return name + (c.points == Points::True ? "_true_points" : c.points == Points::Recognized ? "_recognized" : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, HeadInvariants, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
