// Bitmap, canvas and image control: the pixel conventions the drawing code relies on.
#include <filesystem>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QGuiApplication>

#include "platform/base/Exception.h"
#include "platform/image/Graphics.h"

namespace {
// Text needs fonts, and fonts need a GUI application; the offscreen platform needs no display.
class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "platform_image_tests";
        static char* argv[] = {name, nullptr};
        app = new QGuiApplication(argc, argv);
    }
    void TearDown() override { delete app; }

private:
    QGuiApplication* app = nullptr;
};
::testing::Environment* const guiEnvironment = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

using Pixels = std::set<std::pair<int, int>>;

// Every pixel of `bitmap` whose colour is `color`.
Pixels PixelsOf(TBitmap& bitmap, TColor color)
{
    Pixels found;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (bitmap.Canvas()->Pixel(x, y) == color)
                found.insert({x, y});
    return found;
}

Pixels Span(int x0, int x1, int y0, int y1) // inclusive ranges
{
    Pixels p;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            p.insert({x, y});
    return p;
}

struct LineCase {
    const char* what;
    int x0, y0, x1, y1;
    Pixels expected;
};

class LineToTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineToTest, DrawsEveryPixelButTheLast)
{
    const LineCase& c = GetParam();
    TBitmap bitmap(10, 8);
    TCanvas* canvas = bitmap.Canvas();
    canvas->Pen.Color = clBlack;
    canvas->MoveTo(c.x0, c.y0);
    canvas->LineTo(c.x1, c.y1);
    EXPECT_EQ(PixelsOf(bitmap, clBlack), c.expected) << c.what;
    EXPECT_EQ(canvas->PenX, c.x1);
    EXPECT_EQ(canvas->PenY, c.y1);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LineToTest,
    ::testing::Values(LineCase{"horizontal", 2, 2, 6, 2, Span(2, 5, 2, 2)},
                      LineCase{"right to left", 6, 2, 2, 2, Span(3, 6, 2, 2)},
                      LineCase{"vertical", 3, 1, 3, 4, Span(3, 3, 1, 3)},
                      LineCase{"diagonal", 0, 0, 3, 3, Pixels{{0, 0}, {1, 1}, {2, 2}}},
                      LineCase{"zero length", 4, 4, 4, 4, Pixels{}},
                      LineCase{"clipped at the border", -3, 1, 2, 1, Span(0, 1, 1, 1)}));

TEST(CanvasTest, CrossOfTheEditorHasTwelvePixelArms)
{
    // The editor's highlight cross: (vx-6, vy) to (vx+6, vy) and (vx, vy-6) to (vx, vy+6).
    TBitmap bitmap(20, 20);
    TCanvas* c = bitmap.Canvas();
    c->MoveTo(4, 10);
    c->LineTo(16, 10);
    c->MoveTo(10, 4);
    c->LineTo(10, 16);
    Pixels expected = Span(4, 15, 10, 10);
    Pixels vertical = Span(10, 10, 4, 15);
    expected.insert(vertical.begin(), vertical.end());
    EXPECT_EQ(PixelsOf(bitmap, clBlack), expected);
}

TEST(CanvasTest, RectangleOutlineLeavesOutRightAndBottomCoordinates)
{
    TBitmap bitmap(8, 6);
    TCanvas* c = bitmap.Canvas();
    c->Brush.Style = bsClear;
    c->Rectangle(1, 1, 5, 4);
    Pixels outline = Span(1, 4, 1, 3);
    for (const auto& inner : Span(2, 3, 2, 2))
        outline.erase(inner);
    EXPECT_EQ(PixelsOf(bitmap, clBlack), outline);
    EXPECT_EQ(PixelsOf(bitmap, clWhite).size(), size_t(8 * 6) - outline.size());
}

TEST(CanvasTest, RectangleFillsInsideWithASolidBrushOnly)
{
    TBitmap bitmap(8, 6);
    TCanvas* c = bitmap.Canvas();
    c->Brush.Color = clRed;
    c->Rectangle(1, 1, 6, 5);
    EXPECT_EQ(PixelsOf(bitmap, clRed), Span(2, 4, 2, 3));
    // Corners given the other way round describe the same rectangle.
    TBitmap swapped(8, 6);
    swapped.Canvas()->Brush.Color = clRed;
    swapped.Canvas()->Rectangle(6, 5, 1, 1);
    EXPECT_EQ(PixelsOf(swapped, clRed), Span(2, 4, 2, 3));
    EXPECT_EQ(PixelsOf(swapped, clBlack), PixelsOf(bitmap, clBlack));
}

TEST(CanvasTest, DashedOutlineShowsTheBackgroundOnlyWithASolidBrush)
{
    for (const TBrushStyle style : {bsClear, bsSolid}) {
        TBitmap bitmap(60, 4);
        TCanvas* c = bitmap.Canvas();
        c->Brush.Color = clLime;
        c->FillRect(TRect{0, 0, 60, 4});
        c->Brush.Color = clBlue;
        c->Brush.Style = style;
        c->Pen.Style = psDash;
        c->Rectangle(0, 0, 60, 4);
        // Along the top row: 18 pixels of dash, then a gap of 6.
        for (int x = 0; x < 18; ++x)
            EXPECT_EQ(c->Pixel(x, 0), clBlack) << x;
        for (int x = 18; x < 24; ++x)
            EXPECT_EQ(c->Pixel(x, 0), style == bsSolid ? clBlue : clLime) << x;
        EXPECT_EQ(c->Pixel(24, 0), clBlack);
    }
}

TEST(CanvasTest, ClearPenDrawsNoOutline)
{
    TBitmap bitmap(6, 6);
    TCanvas* c = bitmap.Canvas();
    c->Pen.Style = psClear;
    c->Brush.Color = clRed;
    c->Rectangle(1, 1, 4, 4);
    EXPECT_TRUE(PixelsOf(bitmap, clBlack).empty());
    EXPECT_EQ(PixelsOf(bitmap, clRed), Span(1, 3, 1, 3));
}

TEST(CanvasTest, FillRectIsClippedToTheBitmap)
{
    TBitmap bitmap(5, 4);
    TCanvas* c = bitmap.Canvas();
    c->Brush.Color = clRed;
    c->FillRect(TRect{-5, -5, 3, 2});
    EXPECT_EQ(PixelsOf(bitmap, clRed), Span(0, 2, 0, 1));
    c->FillRect(TRect{10, 10, 20, 20}); // entirely outside
    EXPECT_EQ(PixelsOf(bitmap, clRed).size(), 6u);
}

TEST(CanvasTest, DrawCopiesTheGraphicClipped)
{
    TBitmap marker(3, 2);
    marker.Canvas()->SetPixel(0, 0, 0x123456);
    marker.Canvas()->SetPixel(2, 1, 0xABCDEF);
    marker.Canvas()->SetPixel(1, 1, clRed);
    TBitmap target(4, 4);
    target.Canvas()->Draw(-1, 2, &marker);
    EXPECT_EQ(target.Canvas()->Pixel(0, 3), clRed);    // marker (1, 1)
    EXPECT_EQ(target.Canvas()->Pixel(1, 3), 0xABCDEFu); // marker (2, 1)
    EXPECT_EQ(target.Canvas()->Pixel(0, 2), clWhite);  // marker (1, 0)
    EXPECT_EQ(PixelsOf(target, clWhite).size(), 16u - 2u);
    target.Canvas()->Draw(0, 0, nullptr); // nothing to draw
    TBitmap empty;
    target.Canvas()->Draw(0, 0, &empty);
    EXPECT_EQ(PixelsOf(target, clWhite).size(), 14u);
}

TEST(CanvasTest, WidePenDrawsASquareAlongTheLine)
{
    TBitmap bitmap(10, 10);
    TCanvas* c = bitmap.Canvas();
    c->Pen.Width = 3;
    c->MoveTo(3, 5);
    c->LineTo(6, 5);
    EXPECT_EQ(PixelsOf(bitmap, clBlack), Span(2, 6, 4, 6));
}

TEST(CanvasTest, TextIsDrawnInsideItsCellOnTheBrush)
{
    TBitmap bitmap(120, 40);
    TCanvas* c = bitmap.Canvas();
    c->Brush.Color = clYellow;
    c->TextOut(10, 8, "Tip of the Nose");
    const int w = c->TextWidth("Tip of the Nose");
    ASSERT_GT(w, 30);
    int ink = 0, outside = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 120; ++x) {
            const TColor p = c->Pixel(x, y);
            const bool inCell = x >= 10 && x < 10 + w && y >= 8 && y < 8 + 2 * c->Font.Height;
            if (p != clWhite && !inCell)
                ++outside;
            if (p != clWhite && p != clYellow)
                ++ink;
        }
    EXPECT_GT(ink, 20);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(c->Pixel(10, 8), clYellow); // the cell's top-left corner is background
}

TEST(CanvasTest, EveryDrawingOperationReportsAChange)
{
    TBitmap bitmap(10, 10);
    TCanvas* c = bitmap.Canvas();
    int changes = 0;
    c->OnChange = [&] { ++changes; };
    c->MoveTo(0, 0);
    c->LineTo(5, 5);
    c->Rectangle(0, 0, 4, 4);
    c->TextOut(0, 0, "a");
    EXPECT_GE(changes, 3);
}

TEST(BitmapTest, ScanLinesHoldBlueGreenRed)
{
    TBitmap bitmap(3, 2);
    bitmap.Canvas()->SetPixel(1, 1, 0x332211); // red 0x11, green 0x22, blue 0x33
    const std::uint8_t* row = bitmap.ScanLine(1);
    EXPECT_EQ(row[3], 0x33);
    EXPECT_EQ(row[4], 0x22);
    EXPECT_EQ(row[5], 0x11);
    bitmap.ScanLine(0)[0] = 0x44; // blue of (0, 0)
    EXPECT_EQ(bitmap.Canvas()->Pixel(0, 0), 0x44FFFFu);
    EXPECT_THROW(bitmap.ScanLine(-1), Exception);
    EXPECT_THROW(bitmap.ScanLine(2), Exception);
    const TBitmap& constant = bitmap;
    EXPECT_THROW(constant.ScanLine(2), Exception);
}

TEST(BitmapTest, SetSizeGivesAWhiteBitmapAndZeroSidesGiveAnEmptyOne)
{
    TBitmap bitmap;
    EXPECT_TRUE(bitmap.Empty());
    bitmap.SetSize(4, 3);
    EXPECT_EQ(bitmap.Width(), 4);
    EXPECT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(PixelsOf(bitmap, clWhite).size(), 12u);
    for (const auto& size : std::vector<std::pair<int, int>>{{0, 5}, {5, 0}, {-3, 4}}) {
        bitmap.SetSize(size.first, size.second);
        EXPECT_TRUE(bitmap.Empty());
        EXPECT_EQ(bitmap.Width() * bitmap.Height(), 0);
        EXPECT_THROW(bitmap.ScanLine(0), Exception);
    }
}

TEST(BitmapTest, SavedBitmapLoadsBackExactly)
{
    const std::string path = (std::filesystem::temp_directory_path() / "vultari_graphics_test.bmp").string();
    TBitmap bitmap(7, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            bitmap.Canvas()->SetPixel(x, y, TColor(x * 30 + (y * 40 << 8) + ((x + y) * 20 << 16)));
    bitmap.SaveToFile(path);
    TBitmap loaded;
    loaded.LoadFromFile(path);
    ASSERT_EQ(loaded.Width(), 7);
    ASSERT_EQ(loaded.Height(), 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(loaded.Canvas()->Pixel(x, y), bitmap.Canvas()->Pixel(x, y));
    std::filesystem::remove(path);
}

TEST(BitmapTest, FailedLoadAndSaveThrowAndKeepTheBitmap)
{
    TBitmap bitmap(2, 2);
    bitmap.Canvas()->SetPixel(0, 0, clRed);
    EXPECT_THROW(bitmap.LoadFromFile("/nonexistent/vultari/mark.bmp"), Exception);
    const std::string junk = (std::filesystem::temp_directory_path() / "vultari_junk.bmp").string();
    {
        FILE* f = std::fopen(junk.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("not a bitmap", f);
        std::fclose(f);
    }
    EXPECT_THROW(bitmap.LoadFromFile(junk), Exception);
    std::filesystem::remove(junk);
    EXPECT_EQ(bitmap.Width(), 2);
    EXPECT_EQ(bitmap.Canvas()->Pixel(0, 0), clRed);
    EXPECT_THROW(bitmap.SaveToFile("/nonexistent/vultari/out.bmp"), Exception);
    TBitmap empty;
    EXPECT_THROW(empty.SaveToFile((std::filesystem::temp_directory_path() / "vultari_empty.bmp").string()), Exception);
}

TEST(ImageTest, ControlHasAWhiteCanvasOfItsSize)
{
    TImage image(200, 150);
    EXPECT_EQ(image.Width(), 200);
    EXPECT_EQ(image.Height(), 150);
    const TRect r = image.ClientRect();
    EXPECT_EQ(r.Right - r.Left, 200);
    EXPECT_EQ(r.Bottom - r.Top, 150);
    EXPECT_EQ(PixelsOf(image.Picture(), clWhite).size(), size_t(200 * 150));
    image.Canvas()->SetPixel(3, 4, clRed);
    EXPECT_EQ(image.Picture().Canvas()->Pixel(3, 4), clRed);
}
}
