#include "platform/image/Graphics.h"

#include <algorithm>
#include <cstdlib>

#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include "platform/base/Exception.h"

namespace {
QColor ToQColor(TColor c)
{
    return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

// On/off run lengths of the styled 1-pixel pens.
struct DashPattern {
    int on, off;
};
DashPattern PatternOf(TPenStyle style)
{
    switch (style) {
    case psDash: return {18, 6};
    case psDot: return {3, 3};
    default: return {1, 0};
    }
}

// Fonts exist only once the GUI application does.
bool FontsAvailable()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

QFont ToQFont(const TFont& font)
{
    QFont f(QString::fromStdString(font.Name));
    f.setPixelSize(std::max(1, font.Height));
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}
}

// ---- TCanvas ----

void TCanvas::Changed()
{
    if (OnChange)
        OnChange();
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    QImage& img = bitmap.Image();
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height())
        return;
    std::uint8_t* p = img.scanLine(y) + 3 * x;
    p[0] = std::uint8_t((color >> 16) & 0xFF); // blue
    p[1] = std::uint8_t((color >> 8) & 0xFF);  // green
    p[2] = std::uint8_t(color & 0xFF);         // red
}

TColor TCanvas::Pixel(int x, int y) const
{
    const QImage& img = bitmap.Image();
    if (x < 0 || y < 0 || x >= img.width() || y >= img.height())
        return clBlack;
    const std::uint8_t* p = img.constScanLine(y) + 3 * x;
    return TColor(p[2]) | (TColor(p[1]) << 8) | (TColor(p[0]) << 16);
}

void TCanvas::Plot(int x, int y, TColor color)
{
    if (Pen.Width <= 1) {
        SetPixel(x, y, color);
        return;
    }
    const int lo = -(Pen.Width / 2);
    for (int dy = lo; dy < lo + Pen.Width; ++dy)
        for (int dx = lo; dx < lo + Pen.Width; ++dx)
            SetPixel(x + dx, y + dy, color);
}

void TCanvas::StrokeLine(int x0, int y0, int x1, int y1, bool includeLast)
{
    if (Pen.Style == psClear)
        return;
    const DashPattern pattern = PatternOf(Pen.Style);
    const int period = pattern.on + pattern.off;
    // The gaps of a styled pen show the background (the brush colour) unless the brush is clear.
    const bool paintGaps = Brush.Style == bsSolid;
    const int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    int err = dx + dy;
    int x = x0, y = y0;
    for (;;) {
        const bool last = x == x1 && y == y1;
        if (last && !includeLast)
            break;
        const bool on = period == 1 || (dashPhase % period) < pattern.on;
        if (on)
            Plot(x, y, Pen.Color);
        else if (paintGaps)
            Plot(x, y, Brush.Color);
        dashPhase = (dashPhase + 1) % period;
        if (last)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
}

void TCanvas::MoveTo(int x, int y)
{
    PenX = x;
    PenY = y;
    dashPhase = 0;
}

void TCanvas::LineTo(int x, int y)
{
    StrokeLine(PenX, PenY, x, y, false);
    PenX = x;
    PenY = y;
    Changed();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2)
{
    if (x2 < x1)
        std::swap(x1, x2);
    if (y2 < y1)
        std::swap(y1, y2);
    if (x2 == x1 || y2 == y1)
        return;
    if (Pen.Style == psClear) {
        if (Brush.Style == bsSolid)
            FillRect(TRect{x1, y1, x2, y2});
        return;
    }
    if (Brush.Style == bsSolid && x2 - x1 > 2 && y2 - y1 > 2)
        FillRect(TRect{x1 + 1, y1 + 1, x2 - 1, y2 - 1});
    // The outline runs clockwise over the last column and row inside the rectangle, each pixel once.
    const int r = x2 - 1, b = y2 - 1;
    dashPhase = 0;
    if (r == x1 || b == y1) {
        StrokeLine(x1, y1, r, b, true);
    } else {
        StrokeLine(x1, y1, r, y1, false);
        StrokeLine(r, y1, r, b, false);
        StrokeLine(r, b, x1, b, false);
        StrokeLine(x1, b, x1, y1, false);
    }
    Changed();
}

void TCanvas::FillRect(const TRect& rect)
{
    QImage& img = bitmap.Image();
    const int l = std::max(rect.Left, 0), t = std::max(rect.Top, 0);
    const int r = std::min(rect.Right, img.width()), b = std::min(rect.Bottom, img.height());
    if (l < r && t < b) {
        QPainter painter(&img);
        painter.fillRect(QRect(l, t, r - l, b - t), ToQColor(Brush.Color));
    }
    Changed();
}

void TCanvas::Draw(int x, int y, const TBitmap* graphic)
{
    if (graphic == nullptr || graphic->Empty() || bitmap.Empty())
        return;
    {
        QPainter painter(&bitmap.Image());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(x, y, graphic->Image());
    }
    Changed();
}

int TCanvas::TextWidth(const std::string& text) const
{
    if (!FontsAvailable())
        return 0;
    return QFontMetrics(ToQFont(Font)).horizontalAdvance(QString::fromLocal8Bit(text.c_str()));
}

void TCanvas::TextOut(int x, int y, const std::string& text)
{
    if (bitmap.Empty())
        return;
    // Without a GUI application there are no fonts: the background is drawn, the glyphs are not.
    if (!FontsAvailable()) {
        Changed();
        return;
    }
    const QString s = QString::fromLocal8Bit(text.c_str());
    const QFont font = ToQFont(Font);
    const QFontMetrics metrics(font);
    {
        QPainter painter(&bitmap.Image());
        if (Brush.Style == bsSolid)
            painter.fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), ToQColor(Brush.Color));
        painter.setFont(font);
        painter.setPen(ToQColor(Font.Color));
        painter.drawText(QPoint(x, y + metrics.ascent()), s);
    }
    Changed();
}

// ---- TBitmap ----

TBitmap::TBitmap() : canvas(std::make_unique<TCanvas>(*this)) {}

TBitmap::TBitmap(int width, int height) : TBitmap() { SetSize(width, height); }

TBitmap::~TBitmap() = default;

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == 0 || height == 0) {
        image = QImage();
        return;
    }
    image = QImage(width, height, QImage::Format_BGR888);
    if (image.isNull())
        throw Exception("Out of memory for a bitmap of " + std::to_string(width) + " x " + std::to_string(height));
    image.fill(Qt::white);
}

std::uint8_t* TBitmap::ScanLine(int y)
{
    if (y < 0 || y >= Height())
        throw Exception("Scan line index out of range");
    return image.scanLine(y);
}

const std::uint8_t* TBitmap::ScanLine(int y) const
{
    if (y < 0 || y >= Height())
        throw Exception("Scan line index out of range");
    return image.constScanLine(y);
}

void TBitmap::LoadFromFile(const std::string& path)
{
    QImage loaded;
    if (!loaded.load(QFile::decodeName(path.c_str())))
        throw FileOpenError(path);
    image = loaded.convertToFormat(QImage::Format_BGR888);
}

void TBitmap::SaveToFile(const std::string& path) const
{
    if (Empty() || !image.save(QFile::decodeName(path.c_str())))
        throw Exception("Cannot save bitmap \"" + path + "\"");
}

// ---- TImage ----

TImage::TImage(int width, int height) { picture.SetSize(width, height); }
