#pragma once
// Bitmaps and drawing canvases for the photo thumbnails, the point editor and the marker.
//
// A TBitmap is a 24-bit image whose scan lines hold blue, green, red bytes (QImage Format_BGR888),
// so rows of an 8-bit BGR cv::Mat copy into it unchanged. Its TCanvas draws with the conventions the
// drawing code was written for: lines leave out their last pixel, a rectangle's right and bottom
// coordinates are exclusive, and a 1-pixel pen is drawn pixel-exactly (no antialiasing).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QImage>

// 0x00BBGGRR, as the drawing code writes colours.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clYellow = 0x00FFFF;

enum TPenStyle { psSolid, psDash, psDot, psClear };
enum TBrushStyle { bsSolid, bsClear };

struct TPen {
    TColor Color = clBlack;
    TPenStyle Style = psSolid;
    int Width = 1; // pixels; widths above 1 are drawn as squares of that size along the line
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

struct TFont {
    TColor Color = clBlack;
    std::string Name = "DejaVu Sans";
    // Pixel size of the em. DejaVu Sans at 11 gives a 13-pixel text cell and about 6 pixels a
    // character, the measure the editor's label box is made for.
    int Height = 11;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0; // Right and Bottom exclusive
};

class TBitmap;

// Draws on one bitmap. The current position (PenPos) is where the next LineTo starts.
class TCanvas {
public:
    explicit TCanvas(TBitmap& target) : bitmap(target) {}
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TPen Pen;
    TBrush Brush;
    TFont Font;
    int PenX = 0, PenY = 0;

    // Called after every drawing operation (the window that shows the bitmap repaints).
    std::function<void()> OnChange;

    void MoveTo(int x, int y);
    // From the pen position to (x, y), leaving out (x, y) itself; the pen position becomes (x, y).
    void LineTo(int x, int y);
    // Outline with the pen over [x1, x2) x [y1, y2), inside filled with the brush unless it is clear.
    void Rectangle(int x1, int y1, int x2, int y2);
    // Fills [Left, Right) x [Top, Bottom) with the brush colour (whatever the brush style).
    void FillRect(const TRect& rect);
    // Copies the whole graphic with its top-left corner at (x, y), clipped to this bitmap.
    void Draw(int x, int y, const TBitmap* graphic);
    // Text whose cell's top-left corner is (x, y), on the brush colour when the brush is solid.
    void TextOut(int x, int y, const std::string& text);
    // Width in pixels of text in the current font.
    int TextWidth(const std::string& text) const;

    // One pixel; reads outside the bitmap give clBlack, writes outside are ignored.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

private:
    void Plot(int x, int y, TColor color);
    void Changed();

    TBitmap& bitmap;
    int dashPhase = 0; // dash pattern position, carried from one segment to the next
    void StrokeLine(int x0, int y0, int x1, int y1, bool includeLast);
};

// A 24-bit bitmap (blue, green, red bytes in every scan line). A bitmap of 0 x 0 is empty.
class TBitmap {
public:
    TBitmap();
    TBitmap(int width, int height);
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;
    ~TBitmap();

    int Width() const { return image.width(); }
    int Height() const { return image.height(); }
    bool Empty() const { return image.isNull() || image.width() == 0 || image.height() == 0; }

    // New size with every pixel white; a negative side counts as 0.
    void SetSize(int width, int height);

    // Row y: Width() * 3 bytes in blue, green, red order. Throws Exception for a row outside 0..Height()-1.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;

    // Reads any format Qt decodes (BMP, JPEG, PNG ...). Throws FileOpenError for a missing or
    // undecodable file; the bitmap is unchanged then.
    void LoadFromFile(const std::string& path);
    // Writes in the format the extension names (".bmp" 24-bit). Throws Exception when it fails.
    void SaveToFile(const std::string& path) const;

    TCanvas* Canvas() { return canvas.get(); }

    QImage& Image() { return image; }
    const QImage& Image() const { return image; }

private:
    QImage image;
    std::unique_ptr<TCanvas> canvas;
};

// Anything a canvas can draw; here always a bitmap.
using TGraphic = TBitmap;

// An image control: a fixed-size drawing surface (Width x Height) whose canvas the drawing code
// paints on; the window that holds it shows Picture.
class TImage {
public:
    TImage(int width, int height);
    TImage(const TImage&) = delete;
    TImage& operator=(const TImage&) = delete;

    int Width() const { return picture.Width(); }
    int Height() const { return picture.Height(); }
    TRect ClientRect() const { return TRect{0, 0, Width(), Height()}; }
    TCanvas* Canvas() { return picture.Canvas(); }
    TBitmap& Picture() { return picture; }
    const TBitmap& Picture() const { return picture; }

private:
    TBitmap picture;
};
