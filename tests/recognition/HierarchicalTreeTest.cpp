// Feature-point trees: moving, mirroring, scaling, and drawing with picking and dragging.
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "recognition/Hierarchicaltree.h"

namespace {
// centre (100, 50) with borders (90, 50) and (110, 50); the left border owns a leaf at (85, 55).
struct SmallTree {
    THPoint* root = new THPoint("root", nullptr, 100, 50);
    THPoint* left = new THPoint("left", nullptr, 90, 50);
    THPoint* right = new THPoint("right", nullptr, 110, 50);
    THPoint* leaf = new THPoint("leaf", nullptr, 85, 55);
    SmallTree()
    {
        root->AddChild(left);
        root->AddChild(right);
        left->AddChild(leaf);
    }
    ~SmallTree() { delete root; }
    std::vector<cv::Point> Positions() const
    {
        return {root->GetPosition(), left->GetPosition(), right->GetPosition(), leaf->GetPosition()};
    }
};

TEST(HPointTest, AddChildLinksWithoutMoving)
{
    SmallTree t;
    ASSERT_EQ(t.root->children.size(), 2u);
    EXPECT_EQ(t.root->children[0], t.left);
    EXPECT_EQ(t.root->children[1], t.right);
    EXPECT_EQ(t.left->parent, t.root);
    EXPECT_EQ(t.leaf->parent, t.left);
    EXPECT_EQ(t.root->parent, nullptr);
    EXPECT_EQ(t.leaf->GetPosition(), cv::Point(85, 55));
}

TEST(HPointTest, MovesAndMirrorsReachTheRightPoints)
{
    struct Case {
        const char* what;
        void (*apply)(SmallTree&);
        std::vector<cv::Point> expected; // root, left, right, leaf
    };
    const std::vector<Case> cases = {
        {"MoveTo on the root moves the tree", [](SmallTree& t) { t.root->MoveTo(10, 20); },
         {{10, 20}, {0, 20}, {20, 20}, {-5, 25}}},
        {"MoveTo on a leaf moves only the leaf", [](SmallTree& t) { t.leaf->MoveTo(1, 2); },
         {{100, 50}, {90, 50}, {110, 50}, {1, 2}}},
        {"MoveTo on an inner point moves its subtree", [](SmallTree& t) { t.left->MoveTo(80, 40); },
         {{100, 50}, {80, 40}, {110, 50}, {75, 45}}},
        {"MoveBy moves the subtree", [](SmallTree& t) { t.root->MoveBy(-3, 4); },
         {{97, 54}, {87, 54}, {107, 54}, {82, 59}}},
        {"SetPosition leaves the children", [](SmallTree& t) { t.root->SetPosition(0, 0); },
         {{0, 0}, {90, 50}, {110, 50}, {85, 55}}},
        {"MirrorX mirrors the subtree about the width", [](SmallTree& t) { t.root->MirrorX(200); },
         {{100, 50}, {110, 50}, {90, 50}, {115, 55}}},
        {"MirrorX of a subtree", [](SmallTree& t) { t.left->MirrorX(100); }, {{100, 50}, {10, 50}, {110, 50}, {15, 55}}},
        {"MirrorX twice restores", [](SmallTree& t) { t.root->MirrorX(333); t.root->MirrorX(333); },
         {{100, 50}, {90, 50}, {110, 50}, {85, 55}}},
    };
    for (const Case& c : cases) {
        SmallTree t;
        c.apply(t);
        EXPECT_EQ(t.Positions(), c.expected) << c.what;
    }
}

TEST(HPointTest, CopyAndScaleSetOnlyThePointAndRoundHalvesToEven)
{
    struct Case {
        int x, y;
        float factor;
        int ex, ey;
    };
    const std::vector<Case> cases = {
        {5, 7, 0.5f, 2, 4},       // 2.5 -> 2, 3.5 -> 4
        {443, 332, 0.5f, 222, 166}, // 221.5 -> 222
        {-1, -3, 0.5f, 0, -2},     // -0.5 -> 0, -1.5 -> -2
        {123, -45, 1.0f, 123, -45},
        {10, 10, 0.1f, 1, 1},      // 0.1f is a little above 0.1
        {3, 1, 2.5f, 8, 2},        // 7.5 -> 8, 2.5 -> 2
    };
    for (const Case& c : cases) {
        SmallTree t;
        THPoint source("source", nullptr, c.x, c.y);
        t.root->SetScaled(&source, c.factor);
        EXPECT_EQ(t.root->GetPosition(), cv::Point(c.ex, c.ey)) << c.x << "," << c.y << " x " << c.factor;
        EXPECT_EQ(t.left->GetPosition(), cv::Point(90, 50));
    }
    SmallTree t;
    THPoint source("source", nullptr, -8, 9);
    t.left->CopyPosition(&source);
    EXPECT_EQ(t.Positions(), (std::vector<cv::Point>{{100, 50}, {-8, 9}, {110, 50}, {85, 55}}));
}

// Draw on a 100 x 100 photo shown 1:1 (hit radius 8), with a 3 x 3 marker.
class DrawTest : public ::testing::Test {
protected:
    TImage image{140, 120};
    TBitmap marker{3, 3};
    SmallTree t;

    void SetUp() override
    {
        marker.Canvas()->Brush.Color = clRed;
        marker.Canvas()->FillRect(TRect{0, 0, 3, 3});
        image.Canvas()->Pen.Color = clBlack;
    }
    THPoint* Draw(int depth, int mx, int my, bool highlight, THPoint* grabbed, int offset = 0)
    {
        return t.root->Draw(&image, &marker, 200, 100, 200, 100, depth, offset, offset, mx, my, highlight, grabbed);
    }
    bool MarkerAt(int x, int y) { return image.Canvas()->Pixel(x, y) == clRed; }
    bool CrossAt(int x, int y)
    {
        // The cross's arm ends (the markers cover the middle).
        return image.Canvas()->Pixel(x - 6, y) == clBlack && image.Canvas()->Pixel(x + 5, y) == clBlack &&
               image.Canvas()->Pixel(x, y - 6) == clBlack && image.Canvas()->Pixel(x, y + 5) == clBlack &&
               image.Canvas()->Pixel(x + 6, y) != clBlack;
    }
    int BlackPixels()
    {
        int n = 0;
        for (int y = 0; y < image.Height(); ++y)
            for (int x = 0; x < image.Width(); ++x)
                n += image.Canvas()->Pixel(x, y) == clBlack;
        return n;
    }
};

TEST_F(DrawTest, DepthLimitsHowFarDownMarkersAreDrawn)
{
    struct Case {
        int depth;
        bool root, children, leaf;
    };
    for (const Case& c : {Case{0, false, false, false}, Case{1, true, false, false}, Case{2, true, true, false},
                          Case{3, true, true, true}, Case{-1, true, true, true}}) {
        image.Canvas()->Brush.Color = clWhite;
        image.Canvas()->FillRect(image.ClientRect());
        Draw(c.depth, 0, 0, false, nullptr);
        EXPECT_EQ(MarkerAt(100 - 1, 50 - 1), c.root) << c.depth;  // marker centred: top-left at -1
        EXPECT_EQ(MarkerAt(90 + 1, 50 + 1), c.children) << c.depth;
        EXPECT_EQ(MarkerAt(110, 50), c.children) << c.depth;
        EXPECT_EQ(MarkerAt(85, 55), c.leaf) << c.depth;
    }
    EXPECT_EQ(Draw(0, 100, 50, true, nullptr), nullptr); // depth 0 reports no hit either
}

TEST_F(DrawTest, HitNeedsTheMouseStrictlyWithinTheRadius)
{
    struct Case {
        int mx, my;
        THPoint* SmallTree::*expected;
    };
    // Radius round(200 * 8 / 200) = 8 photo pixels.
    const std::vector<Case> cases = {
        {100, 50, &SmallTree::root}, {107, 57, &SmallTree::root}, {100, 58, nullptr}, {100, 42, nullptr},
        {93, 50, &SmallTree::root}, // root and left both hit: the parent wins
        {89, 53, &SmallTree::left}, // left and leaf both hit: the earlier in pre-order wins
        {80, 58, &SmallTree::leaf}, {117, 50, &SmallTree::right}, {118, 50, nullptr}, {130, 90, nullptr},
    };
    for (const Case& c : cases) {
        THPoint* expected = c.expected ? t.*(c.expected) : nullptr;
        EXPECT_EQ(Draw(-1, c.mx, c.my, false, nullptr), expected) << c.mx << "," << c.my;
    }
    EXPECT_EQ(Draw(1, 85, 55, false, nullptr), nullptr) << "the leaf is below the depth limit";
}

TEST_F(DrawTest, HitRadiusIsEightViewPixelsInPhotoPixels)
{
    // A 1000-pixel photo shown 100 pixels wide: radius round(1000 * 8 / 100) = 80.
    THPoint p("p", nullptr, 500, 500);
    EXPECT_EQ(p.Draw(nullptr, nullptr, 1000, 1000, 100, 100, 1, 0, 0, 579, 421, false, nullptr), &p);
    EXPECT_EQ(p.Draw(nullptr, nullptr, 1000, 1000, 100, 100, 1, 0, 0, 580, 500, false, nullptr), nullptr);
    EXPECT_EQ(p.Draw(nullptr, nullptr, 1000, 1000, 100, 100, 1, 0, 0, 500, 420, false, nullptr), nullptr);
    // Radius round(300 * 8 / 960) = round(2.5) = 2: halves go to the even neighbour.
    EXPECT_EQ(p.Draw(nullptr, nullptr, 300, 300, 960, 960, 1, 0, 0, 501, 501, false, nullptr), &p);
    EXPECT_EQ(p.Draw(nullptr, nullptr, 300, 300, 960, 960, 1, 0, 0, 502, 500, false, nullptr), nullptr);
}

TEST_F(DrawTest, OnlyTheFirstHitOnAPathGetsTheCross)
{
    // Mouse over root and left: the cross is drawn on the root only.
    EXPECT_EQ(Draw(-1, 93, 50, true, nullptr), t.root);
    EXPECT_TRUE(CrossAt(100, 50));
    EXPECT_FALSE(CrossAt(90, 50));
    // Two 12-pixel arms sharing the centre, 5 of their pixels under the root's marker.
    EXPECT_EQ(BlackPixels(), 2 * 12 - 1 - 5);
}

TEST_F(DrawTest, SiblingsKeepTheHighlightOfTheirParent)
{
    EXPECT_EQ(Draw(-1, 112, 52, true, nullptr), t.right);
    EXPECT_TRUE(CrossAt(110, 50));
    // Put the leaf (below left) next to right as well. Pre-order visits left, leaf, right: the
    // leaf is the first hit and is reported; clearing the flag in the leaf's call does not reach
    // right, which still has the root's highlight and gets a cross too.
    t.leaf->SetPosition(113, 47);
    image.Canvas()->Brush.Color = clWhite;
    image.Canvas()->FillRect(image.ClientRect());
    EXPECT_EQ(Draw(-1, 112, 50, true, nullptr), t.leaf);
    EXPECT_TRUE(CrossAt(113, 47));
    EXPECT_TRUE(CrossAt(110, 50));
}

TEST_F(DrawTest, NoCrossWithoutHighlight)
{
    EXPECT_EQ(Draw(-1, 100, 50, false, nullptr), t.root);
    EXPECT_EQ(BlackPixels(), 0);
}

TEST_F(DrawTest, GrabbedPointFollowsTheMouseWithItsSubtree)
{
    // The mouse is far from the grabbed point: no cross anywhere, but the drag still happens.
    // After the drag the leaf lies under the mouse and is reported, but it is not the grabbed
    // point, so it gets no cross either.
    EXPECT_EQ(Draw(-1, 30, 20, true, t.left), t.leaf);
    EXPECT_EQ(BlackPixels(), 0);
    EXPECT_EQ(t.Positions(), (std::vector<cv::Point>{{100, 50}, {30, 20}, {110, 50}, {25, 25}}));
    EXPECT_TRUE(MarkerAt(30, 20)) << "the marker is drawn at the moved position";
    EXPECT_TRUE(MarkerAt(25, 25));
}

TEST_F(DrawTest, CrossShowsTheGrabbedPointBeforeTheDrag)
{
    // Mouse over root and left; left is grabbed: root is hit but is not the grabbed point, so no
    // cross on it; left is hit and grabbed: cross at its old place, then it moves onto the mouse.
    EXPECT_EQ(Draw(-1, 94, 52, true, t.left), t.root);
    EXPECT_TRUE(CrossAt(90, 50));
    EXPECT_FALSE(CrossAt(100, 50));
    EXPECT_EQ(t.left->GetPosition(), cv::Point(94, 52));
    EXPECT_EQ(t.leaf->GetPosition(), cv::Point(89, 57));
}

TEST_F(DrawTest, ViewScaleAndOffsetPlaceTheMarkers)
{
    // Photo 400 x 200 in a 100 x 50 view at offset (20, 30): (100, 50) -> (25, 12.5 -> 12) + offset.
    t.root->Draw(&image, &marker, 400, 200, 100, 50, 1, 20, 30, 0, 0, false, nullptr);
    EXPECT_TRUE(MarkerAt(45 - 1, 42 - 1));
    EXPECT_TRUE(MarkerAt(45 + 1, 42 + 1));
    EXPECT_FALSE(MarkerAt(45 + 2, 42));
    EXPECT_FALSE(MarkerAt(45, 42 + 2));
}

TEST_F(DrawTest, DegenerateSizesDrawAndPickNothing)
{
    EXPECT_EQ(t.root->Draw(&image, &marker, 0, 100, 200, 100, -1, 0, 0, 100, 50, true, t.left), nullptr);
    EXPECT_EQ(t.root->Draw(&image, &marker, 200, 100, 0, 100, -1, 0, 0, 100, 50, true, t.left), nullptr);
    EXPECT_EQ(t.left->GetPosition(), cv::Point(90, 50));
    EXPECT_FALSE(MarkerAt(99, 49));
}
}
