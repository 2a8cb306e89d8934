// Feature-point sets: names, tree shape, defaults, mirroring and scaled copies.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recognition/Headattributes.h"

namespace {
std::vector<int> ChildIndices(THPoint* point, THPoint* const* set, int count)
{
    std::vector<int> out;
    for (THPoint* c : point->children)
        for (int i = 0; i < count; ++i)
            if (set[i] == c)
                out.push_back(i);
    return out;
}

TEST(HeadAttributesTest, FreshSetHasEveryPointUnplaced)
{
    THeadAttributes a;
    EXPECT_EQ(a.profileOrientation, 0);
    for (THPoint* p : a.front)
        EXPECT_EQ(p->GetPosition(), cv::Point(0, 0)) << p->name;
    for (THPoint* p : a.profile)
        EXPECT_EQ(p->GetPosition(), cv::Point(0, 0)) << p->name;
}

TEST(HeadAttributesTest, NamesAreTheDisplayTexts)
{
    const std::vector<std::string> front = {
        "Head center", "Left eye's center", "Left eye's left border", "Left eye's right border",
        "Left eye's top border", "Left eye's bottom border", "Right eye's center", "Right eye's left border",
        "Right eye's right border", "Right eye's top border", "Right eye's bottom border", "Mouth center",
        "Mouth left border", "Mouth right border", "Mouth top border", "Mouth bottom border", "Tip of the Nose",
        "Nose left border", "Nose right border", "Nose top border", "Nose bottom border", "Left ear's center",
        "Right ear's center", "Bottom head boreder", "Top head border", "Left head border", "Right head border"};
    const std::vector<std::string> profile = {
        "Head center", "Eye center", "Mouth center", "Tip of the nose", "Nose root", "Ear center",
        "Ear's left border", "Ear's right border", "Ear's top border", "Ear's bottom border", "Left head border",
        "Right head border", "Top head border", "Bottom head border"};
    THeadAttributes a;
    for (int i = 0; i < FrontPoint::Count; ++i)
        EXPECT_EQ(a.front[i]->name, front[size_t(i)]) << i;
    for (int i = 0; i < ProfilePoint::Count; ++i)
        EXPECT_EQ(a.profile[i]->name, profile[size_t(i)]) << i;
}

TEST(HeadAttributesTest, TreesHaveTheirChildOrder)
{
    THeadAttributes a;
    struct Case {
        bool front;
        int index;
        std::vector<int> children;
    };
    const std::vector<Case> cases = {
        {true, 0, {1, 6, 11, 16, 21, 22, 25, 26, 24, 23}},
        {true, 1, {2, 3, 4, 5}}, {true, 6, {7, 8, 9, 10}}, {true, 11, {12, 13, 14, 15}}, {true, 16, {17, 18, 19, 20}},
        {true, 21, {}}, {true, 23, {}}, {true, 2, {}},
        {false, 0, {1, 2, 3, 5, 10, 11, 12, 13}}, {false, 3, {4}}, {false, 5, {6, 7, 8, 9}}, {false, 1, {}},
        {false, 4, {}},
    };
    for (const Case& c : cases) {
        THPoint* const* set = c.front ? a.front : a.profile;
        const int count = c.front ? int(FrontPoint::Count) : int(ProfilePoint::Count);
        EXPECT_EQ(ChildIndices(set[c.index], set, count), c.children) << (c.front ? "front " : "profile ") << c.index;
        EXPECT_EQ(set[c.index]->children.size(), c.children.size());
    }
    // Every point but the roots has a parent in its own set.
    for (int i = 1; i < FrontPoint::Count; ++i)
        EXPECT_NE(a.front[i]->parent, nullptr) << i;
    for (int i = 1; i < ProfilePoint::Count; ++i)
        EXPECT_NE(a.profile[i]->parent, nullptr) << i;
}

const std::vector<cv::Point> kFront1024x682 = {
    {512, 341}, {443, 332}, {410, 332}, {472, 332}, {443, 323}, {443, 341}, {580, 332}, {547, 332}, {607, 332},
    {580, 323}, {580, 341}, {512, 469}, {460, 469}, {560, 469}, {512, 449}, {512, 484}, {509, 398}, {477, 398},
    {540, 398}, {509, 329}, {509, 426}, {359, 355}, {661, 355}, {512, 566}, {512, 146}, {367, 341}, {653, 341}};
const std::vector<cv::Point> kProfile1024x682 = {{512, 341}, {385, 333}, {371, 465}, {312, 413}, {349, 327},
                                                 {598, 342}, {559, 342}, {639, 342}, {598, 267}, {598, 413},
                                                 {308, 341}, {720, 341}, {512, 84}, {512, 570}};

std::vector<cv::Point> Front(const THeadAttributes& a)
{
    std::vector<cv::Point> out;
    for (THPoint* p : a.front)
        out.push_back(p->GetPosition());
    return out;
}

std::vector<cv::Point> Profile(const THeadAttributes& a)
{
    std::vector<cv::Point> out;
    for (THPoint* p : a.profile)
        out.push_back(p->GetPosition());
    return out;
}

TEST(HeadAttributesTest, DefaultsForTheReconstructionSize)
{
    THeadAttributes a;
    a.SetDefaultFrontPositions(1024, 682);
    EXPECT_EQ(Front(a), kFront1024x682);
    a.SetDefaultProfilePositions(1024, 682, false);
    EXPECT_EQ(Profile(a), kProfile1024x682);
    EXPECT_EQ(a.profileOrientation, 0);
}

TEST(HeadAttributesTest, DefaultsAreSetPointByPointNotBySubtree)
{
    // Points that were moved apart get their defaults regardless of where their parents were.
    THeadAttributes a;
    a.front[FrontPoint::HeadCenter]->MoveTo(900, 900);
    a.front[FrontPoint::LeftEyeCenter]->SetPosition(-50, 7);
    a.SetDefaultFrontPositions(1024, 682);
    EXPECT_EQ(Front(a), kFront1024x682);
    // Halves go to the even neighbour: 0.5 x 5 = 2.5 -> 2 and 0.5 x 7 = 3.5 -> 4.
    a.SetDefaultFrontPositions(5, 7);
    EXPECT_EQ(a.front[FrontPoint::HeadCenter]->GetPosition(), cv::Point(2, 4));
}

TEST(HeadAttributesTest, ProfileOrientationMirrorsOnlyOnAChange)
{
    THeadAttributes a;
    a.SetDefaultProfilePositions(1024, 682, false);
    a.SetProfileOrientation(0, 1024);
    EXPECT_EQ(Profile(a), kProfile1024x682);
    a.SetProfileOrientation(1, 1024);
    EXPECT_EQ(a.profileOrientation, 1);
    for (int i = 0; i < ProfilePoint::Count; ++i)
        EXPECT_EQ(a.profile[i]->GetPosition(), cv::Point(1024 - kProfile1024x682[size_t(i)].x, kProfile1024x682[size_t(i)].y));
    a.SetProfileOrientation(1, 1024);
    EXPECT_EQ(a.profile[ProfilePoint::NoseTip]->x, 1024 - 312);
    a.SetProfileOrientation(0, 1024);
    EXPECT_EQ(Profile(a), kProfile1024x682);
    EXPECT_EQ(Front(a), std::vector<cv::Point>(27, cv::Point(0, 0))) << "the front set is not touched";
}

TEST(HeadAttributesTest, ProfileDefaultsKeepOrMeetTheOrientation)
{
    struct Case {
        int startFlag;
        bool keep;
        int endFlag;
        bool mirrored;
    };
    for (const Case& c : {Case{0, false, 0, false}, Case{1, false, 0, false}, Case{0, true, 0, false},
                          Case{1, true, 1, true}}) {
        THeadAttributes a;
        a.profileOrientation = c.startFlag;
        a.SetDefaultProfilePositions(1024, 682, c.keep);
        EXPECT_EQ(a.profileOrientation, c.endFlag);
        // Point 0 is placed before the mirroring and so ends mirrored too when the flag is kept at 1.
        for (int i = 0; i < ProfilePoint::Count; ++i) {
            const cv::Point d = kProfile1024x682[size_t(i)];
            EXPECT_EQ(a.profile[i]->GetPosition(), c.mirrored ? cv::Point(1024 - d.x, d.y) : d)
                << "flag " << c.startFlag << " keep " << c.keep << " point " << i;
        }
    }
    // An odd width shows that point 0 is mirrored twice: it stays at round(1023 x 0.5) = 512
    // (511.5 to even), while point 1 ends at 1023 - round(1023 x 0.3764) = 1023 - 385.
    THeadAttributes odd;
    odd.profileOrientation = 1;
    odd.SetDefaultProfilePositions(1023, 682, true);
    EXPECT_EQ(odd.profile[ProfilePoint::HeadCenter]->x, 512);
    EXPECT_EQ(odd.profile[ProfilePoint::EyeCenter]->x, 638);
}

TEST(HeadAttributesTest, ScaledClonesScaleOneSetAndCopyTheOther)
{
    THeadAttributes a;
    a.SetDefaultFrontPositions(1024, 682);
    a.SetDefaultProfilePositions(1024, 682, false);
    a.SetProfileOrientation(1, 1024);

    std::unique_ptr<THeadAttributes> f(a.CloneScaledFront(0.5f));
    EXPECT_EQ(f->front[FrontPoint::LeftEyeCenter]->GetPosition(), cv::Point(222, 166)); // 221.5 -> 222
    EXPECT_EQ(f->front[FrontPoint::HeadCenter]->GetPosition(), cv::Point(256, 170)); // 170.5 -> 170
    EXPECT_EQ(f->front[FrontPoint::LeftEyeLeft]->GetPosition(), cv::Point(205, 166));
    EXPECT_EQ(Profile(*f), Profile(a));
    EXPECT_EQ(f->profileOrientation, 1);

    std::unique_ptr<THeadAttributes> p(a.CloneScaledProfile(2.0f));
    EXPECT_EQ(Front(*p), Front(a));
    for (int i = 0; i < ProfilePoint::Count; ++i)
        EXPECT_EQ(p->profile[i]->GetPosition(), a.profile[i]->GetPosition() * 2) << i;
    EXPECT_EQ(p->profileOrientation, 1);

    // The copies are independent trees.
    f->front[FrontPoint::HeadCenter]->MoveTo(0, 0);
    EXPECT_EQ(Front(a), kFront1024x682);
    EXPECT_EQ(f->front[FrontPoint::LeftEyeCenter]->parent, f->front[FrontPoint::HeadCenter]);
}
}
