// The generic head's facts: what the generator writes reads back exactly, and every way the file
// can be wrong is an error that names the file, the line and what was expected.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "recognition/Generichead.h"

namespace {
// A head whose every number differs, so a value read into the wrong place shows.
TGenericHead Numbered()
{
    TGenericHead h;
    double n = 0.125;
    auto next = [&] { return n += 0.3711; };
    for (auto& p : h.front)
        p = {next(), next(), next()};
    for (auto& p : h.profile)
        p = {next(), next(), next()};
    // Head borders that enclose a head, so the proportions can be derived.
    h.front[FrontPoint::LeftHead].x = -3;
    h.front[FrontPoint::RightHead].x = 3.5;
    h.front[FrontPoint::TopHead].z = 5;
    h.front[FrontPoint::BottomHead].z = -3;
    for (TModelPoint* p : {&h.mouth, &h.leftEye, &h.rightEye, &h.leftEar, &h.rightEar})
        *p = {next(), -next(), next()};
    h.noseStretchY = -next();
    for (auto& r : h.layout)
        r = {next() / 100, next() / 100};
    h.leftEyePushBack = 0.1;
    h.rightEyePushBack = 1.0 / 3;
    h.outlineShare = 0.784;
    h.crownAboveFaceCentre = 0.885;
    h.browOverTip = 0.27;
    h.profileMouthBehindTip = 0.1;
    h.profileMouthAboveChin = 0.2;
    return h;
}

bool Same(const TModelPoint& a, const TModelPoint& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }

TEST(GenericHeadFacts, WhatIsWrittenReadsBackExactly)
{
    const TGenericHead h = Numbered();
    const TGenericHead r = ParseGenericHead(GenericHeadText(h), "test");
    for (size_t i = 0; i < h.front.size(); ++i)
        EXPECT_TRUE(Same(h.front[i], r.front[i])) << "front " << i;
    for (size_t i = 0; i < h.profile.size(); ++i)
        EXPECT_TRUE(Same(h.profile[i], r.profile[i])) << "profile " << i;
    EXPECT_TRUE(Same(h.mouth, r.mouth) && Same(h.leftEye, r.leftEye) && Same(h.rightEye, r.rightEye) &&
                Same(h.leftEar, r.leftEar) && Same(h.rightEar, r.rightEar));
    EXPECT_EQ(h.noseStretchY, r.noseStretchY);
    for (size_t i = 0; i < h.layout.size(); ++i)
        EXPECT_TRUE(h.layout[i].u == r.layout[i].u && h.layout[i].v == r.layout[i].v) << "layout " << i;
    EXPECT_EQ(h.leftEyePushBack, r.leftEyePushBack);
    EXPECT_EQ(h.rightEyePushBack, r.rightEyePushBack);
    EXPECT_EQ(h.outlineShare, r.outlineShare);
    EXPECT_EQ(h.crownAboveFaceCentre, r.crownAboveFaceCentre);
    EXPECT_EQ(h.browOverTip, r.browOverTip);
    EXPECT_EQ(h.profileMouthBehindTip, r.profileMouthBehindTip);
    EXPECT_EQ(h.profileMouthAboveChin, r.profileMouthAboveChin);
}

TEST(GenericHeadFacts, ProportionsFollowFromTheFrontPoints)
{
    using namespace FrontPoint;
    TGenericHead h = Numbered();
    h.front[LeftEyeCenter] = {-1.7, 0, 1};  // 1.3 of the 6.5 width from the left, 4 of the 8 height below the crown
    h.front[LeftEyeLeft] = {-2.35, 0, 1.13};
    h.front[NoseTip] = {0.25, -2, -1};
    h.front[MouthCenter] = {0.9, 0, -1.65};
    h.front[LeftHead].z = 3;
    DeriveProportions(h);
    const TFrontProportions& p = h.proportions;
    EXPECT_DOUBLE_EQ(p.heightPerWidth, 8.0 / 6.5);
    EXPECT_DOUBLE_EQ(p.extremesBelowCrown, 2.0 / 8);
    ASSERT_EQ(p.centreShares.size(), 6u);
    EXPECT_EQ(p.centreShares[0].point, LeftEyeCenter);
    EXPECT_DOUBLE_EQ(p.centreShares[0].fx, 1.3 / 6.5);
    EXPECT_DOUBLE_EQ(p.centreShares[0].fy, 0.5);
    EXPECT_EQ(p.mouthFromNose.point, MouthCenter);
    EXPECT_NEAR(p.mouthFromNose.dx, 0.1, 1e-12);
    EXPECT_NEAR(p.mouthFromNose.dy, 0.1, 1e-12);
    ASSERT_EQ(p.borderOffsets.size(), 16u);
    EXPECT_EQ(p.borderOffsets[0].point, LeftEyeLeft);
    EXPECT_NEAR(p.borderOffsets[0].dx, -0.1, 1e-12);
    EXPECT_NEAR(p.borderOffsets[0].dy, -0.02, 1e-12);
    // Borders that enclose no head give no proportions.
    h.front[RightHead].x = h.front[LeftHead].x;
    EXPECT_THROW(DeriveProportions(h), Exception);
}

// Replaces the first line starting with `start` by `with` (nothing: the line goes).
std::string Edited(std::string text, const std::string& start, const std::string& with)
{
    const size_t at = text.find("\n" + start) + 1;
    const size_t end = text.find('\n', at);
    return text.replace(at, end - at + (with.empty() ? 1 : 0), with);
}

TEST(GenericHeadFacts, EveryMalformedFileIsAnErrorThatSaysWhereAndWhat)
{
    const std::string good = GenericHeadText(Numbered());
    const int frontLine = [&] {
        int line = 1;
        for (size_t i = 0; i < good.find("\nfront 3 "); ++i)
            line += good[i] == '\n';
        return line + 1;
    }();
    const std::string at = ", line " + std::to_string(frontLine) + ": ";
    struct Case {
        const char* what;
        std::string text, expected;
    } cases[] = {
        {"an entry missing", Edited(good, "anchor left_ear ", ""), "the entry \"anchor left_ear\" is missing"},
        {"too few numbers", Edited(good, "front 3 ", "front 3 1 2"), at + "expected 3 numbers after \"front 3\", found 2"},
        {"too many numbers", Edited(good, "front 3 ", "front 3 1 2 3 4"), at + "expected 3 numbers"},
        {"not a number", Edited(good, "front 3 ", "front 3 1 2,5 3"), at + "expected a number for front 3, found \"2,5\""},
        {"not finite", Edited(good, "front 3 ", "front 3 1 inf 3"), at + "expected a number for front 3"},
        {"an unknown entry", Edited(good, "front 3 ", "front 27 1 2 3"), at + "unknown entry \"front 27 1 2 3\""},
        {"a repeated entry", Edited(good, "front 3 ", "front 2 1 2 3"), at + "front 2 given again"},
        {"an empty file", "", "is missing"},
    };
    for (const Case& c : cases) {
        try {
            ParseGenericHead(c.text, "facts.txt");
            ADD_FAILURE() << c.what << ": read without an error";
        } catch (const Exception& e) {
            const std::string m = e.Message();
            EXPECT_NE(m.find("\"facts.txt\""), std::string::npos) << c.what << ": " << m;
            EXPECT_NE(m.find(c.expected), std::string::npos) << c.what << ": " << m;
        }
    }
    EXPECT_NO_THROW(ParseGenericHead(good, "facts.txt"));
}

TEST(GenericHeadFacts, AMissingFileIsAnErrorNamingIt)
{
    const std::string path = testing::TempDir() + "no_such_generic_head.txt";
    std::remove(path.c_str());
    try {
        ReadGenericHead(path);
        ADD_FAILURE() << "read a missing file";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
}

// The file the generator wrote beside the models reads, and describes a head: its anchors and
// layout references are its own points' places.
TEST(GenericHeadFacts, TheShippedFileReadsAndItsAnchorsAreItsOwnPoints)
{
    const TGenericHead h = ReadGenericHead(ProgramFolder() + kGenericHeadPath);
    EXPECT_TRUE(Same(h.mouth, h.front[FrontPoint::MouthCenter]));
    EXPECT_TRUE(Same(h.leftEye, h.front[FrontPoint::LeftEyeCenter]));
    EXPECT_TRUE(Same(h.rightEye, h.front[FrontPoint::RightEyeCenter]));
    EXPECT_TRUE(Same(h.leftEar, h.front[FrontPoint::LeftEar]));
    EXPECT_TRUE(Same(h.rightEar, h.front[FrontPoint::RightEar]));
    EXPECT_TRUE(Same(h.rightEye, h.profile[ProfilePoint::EyeCenter]));
    EXPECT_GT(h.proportions.heightPerWidth, 1.1);
    EXPECT_LT(h.proportions.heightPerWidth, 1.6);
    EXPECT_LT(h.front[FrontPoint::LeftEyeCenter].x, h.front[FrontPoint::RightEyeCenter].x);
}
}  // namespace
