// The generator measures the generic head's outline share and crown height on a photo of the head
// it draws without GL. The photo the program's engine draws of the same head, with the same camera,
// light and paint, measures the same, for the shipped head and for another head it makes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include <unistd.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/base/Paths.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "testing/GLSupport.h"
#include "testing/KnownHeadPhotos.h"
#include "tools/genhead/Output.h"
#include "tools/genhead/Photo.h"

namespace fs = std::filesystem;

namespace {

// How far the two photos' facts may lie apart: a thousandth of the outline share moves the
// recognised head's sides by a fifth of a pixel of these photos, of the crown height its crown by
// 0.3 px; 0.003 is about a pixel (half a millimetre on the head).
constexpr double kAgree = 0.003;
// The photos themselves: texels and edges may round the other way in a few pixels, never more.
constexpr int kLevels = 8;
constexpr double kDifferingShare = 0.001;

// The share of pixels whose colours differ by more than kLevels in some channel.
double DifferingShare(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat difference, most;
    cv::absdiff(a, b, difference);
    cv::Mat channels[3];
    cv::split(difference, channels);
    most = cv::max(channels[0], cv::max(channels[1], channels[2]));
    return double(cv::countNonZero(most > kLevels)) / double(most.total());
}

struct Case {
    const char* name;
    HeadVariant variant;
};

// The engine's front photo of the head (its models from a data tree of its own), read back.
cv::Mat EnginePhoto(const GenericData& generic, const fs::path& folder)
{
    WriteDataTree(generic, (folder / "data").string());
    SetProgramFolder(folder.string());
    TXMLDocument document;
    const std::unique_ptr<TColladaEngine> engine = KnownHeadEngine(document);
    const KnownHeadMaker maker(generic);
    const bool drawn = engine && DrawKnownHead(maker, *engine, {"own", HeadShape{}, OwnPhotoLook()}, folder / "photos");
    SetProgramFolder("");
    return drawn ? cv::imread((folder / "photos/front.png").string(), cv::IMREAD_COLOR) : cv::Mat();
}

TEST(OwnPhoto, TheGeneratorsPhotoMeasuresAsTheEnginesPhoto)
{
    KeepGLDriverLoaded();
    const fs::path dir = fs::temp_directory_path() / ("vultari-own-photo-" + std::to_string(::getpid()));
    const Case cases[] = {{"shipped", {}}, {"wider-longer-nose", {0.08, 0.10}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GenericData generic;
        ASSERT_NO_THROW(generic = BuildGeneric(VULTARI_HUMAN_ZAE, c.variant));
        const cv::Mat photo = EnginePhoto(generic, dir / c.name);
        ASSERT_FALSE(photo.empty()) << "the engine drew no photo of the head";
        PhotoFacts engine;
        ASSERT_NO_THROW(engine = MeasurePhotoFacts(generic.facts, photo));
        const double width = (generic.facts.front[FrontPoint::RightHead].x - generic.facts.front[FrontPoint::LeftHead].x) *
                             kPhotoHeight / (2 * kPhotoHalfHeight);
        std::printf("%s: outline share %.4f (engine's photo %.4f), crown above the face centre %.4f (%.4f), head %.1f px wide\n",
                    c.name, generic.facts.outlineShare, engine.outlineShare, generic.facts.crownAboveFaceCentre,
                    engine.crownAboveFaceCentre, width);
        EXPECT_NEAR(generic.facts.outlineShare, engine.outlineShare, kAgree);
        EXPECT_NEAR(generic.facts.crownAboveFaceCentre, engine.crownAboveFaceCentre, kAgree);

        const HeadLook look = OwnPhotoLook();
        const cv::Mat own = DrawFrontPhoto(generic, PaintSkin(generic, look, 1024), PaintEye(look));
        ASSERT_EQ(own.size(), photo.size());
        EXPECT_LE(DifferingShare(own, photo), kDifferingShare) << "the generator's photo is no longer drawn as the engine draws it";
    }
    if (!::testing::Test::HasFailure())
        fs::remove_all(dir);
}

// The eye centres are what the front recognizer finds on a photo of the head: the irises as its
// eye texture and eyeballs show them. Stated elsewhere (at the corneas' fronts, 2 mm nearer the
// nose), the recognised eyes of the head's own photo lay 7 % wider apart than its own, and every
// reconstruction of it widened its eyes (by 7.6 px on these photos). The recognizer's own scatter
// on them is up to 3 px an eye.
constexpr double kEyeMiss = 4.0, kApartMiss = 3.0;

TEST(OwnPhoto, TheRecognizerFindsTheEyeCentresWhereTheHeadStatesThem)
{
    const Case cases[] = {{"shipped", {}}, {"wider-longer-nose", {0.08, 0.10}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GenericData generic;
        ASSERT_NO_THROW(generic = BuildGeneric(VULTARI_HUMAN_ZAE, c.variant));
        const HeadLook look = OwnPhotoLook();
        TRecognizer recognizer(std::make_shared<const TGenericHead>(generic.facts));
        recognizer.frontImage = DrawFrontPhoto(generic, PaintSkin(generic, look, 1024), PaintEye(look));
        THeadAttributes points;
        ASSERT_TRUE(recognizer.RecognizeFront(&points));
        const double perUnit = kPhotoHeight / (2 * kPhotoHalfHeight);
        auto stated = [&](int i) {
            const TModelPoint& p = generic.facts.front[size_t(i)];
            return cv::Point2d(kPhotoWidth / 2.0 + p.x * perUnit - 0.5, kPhotoHeight / 2.0 - p.z * perUnit - 0.5);
        };
        auto found = [&](int i) { return cv::Point2d(points.front[i]->x, points.front[i]->y); };
        for (int i : {FrontPoint::LeftEyeCenter, FrontPoint::RightEyeCenter}) {
            const cv::Point2d miss = found(i) - stated(i);
            std::printf("%s: eye centre %d found %+.1f %+.1f px from where the head states it\n", c.name, i, miss.x, miss.y);
            EXPECT_LT(std::hypot(miss.x, miss.y), kEyeMiss) << "eye centre " << i;
        }
        const double apart = found(FrontPoint::RightEyeCenter).x - found(FrontPoint::LeftEyeCenter).x;
        const double statedApart = stated(FrontPoint::RightEyeCenter).x - stated(FrontPoint::LeftEyeCenter).x;
        std::printf("%s: eyes found %.1f px apart, stated %.1f px\n", c.name, apart, statedApart);
        EXPECT_NEAR(apart, statedApart, kApartMiss) << "the eyes are found another distance apart than the head has them";
    }
}

}  // namespace
