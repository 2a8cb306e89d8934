#include "core/Texturecreator.h"

#include <algorithm>
#include <cmath>
#include <future>
#include <cstdlib>
#include <memory>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "collada/Colladaasset.h"
#include "core/NearestFill.h"
#include "core/Weightmanager.h"
#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/base/Paths.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"

namespace {

// One texture may not grow beyond this; larger measures come from points dragged far off the face.
constexpr int MaxImageSide = 16384;
constexpr double MaxImagePixels = 64.0 * 1024 * 1024;

const char* const AtlasMessage = "Error: the feature points do not describe a face; the head texture was not built.";

// Rounds halves to even, as every real-to-integer conversion of the texture build does.
int Rounded(double v) { return RoundHalfEven(v); }

// The same rounding for a channel value (0 <= v < 2^51), without a library call: adding and
// subtracting 1.5 * 2^52 leaves v rounded to an integer in the default round-to-nearest-even mode.
inline int RoundedChannel(double v)
{
    return static_cast<int>((v + 6755399441055744.0) - 6755399441055744.0);
}
// Drops the fraction towards zero.
int Truncated(double v) { return static_cast<int>(v); }

bool Inside(const cv::Mat& image, int x, int y) { return x >= 0 && y >= 0 && x < image.cols && y < image.rows; }

bool UsableColourImage(const cv::Mat& image) { return !image.empty() && image.depth() == CV_8U && image.channels() >= 3; }

bool SizeAllowed(double width, double height)
{
    return width >= 1 && height >= 1 && width <= MaxImageSide && height <= MaxImageSide &&
           width * height <= MaxImagePixels;
}

float Weight(const TWeightManager* weights, int slot, size_t vertex)
{
    const std::vector<float>& map = weights->weights[slot];
    return vertex < map.size() ? map[vertex] : 0.0f;
}

void SaveBitmap(const std::string& path, const cv::Mat& image)
{
    bool written = false;
    try {
        written = cv::imwrite(path, image);
    } catch (const cv::Exception&) {
        written = false;
    }
    if (!written)
        throw FileOpenError(path, "The file cannot be written");
}

// The texture coordinate of atlas pixel (x, y).
TTexCoord AtlasCoord(int x, int y, const TAtlasLayout& a)
{
    return {static_cast<float>(x) / static_cast<float>(a.Wa), 1.0f - static_cast<float>(y) / static_cast<float>(a.Ha)};
}

TTexCoord operator+(TTexCoord a, TTexCoord b) { return {a.u + b.u, a.v + b.v}; }
TTexCoord operator-(TTexCoord a, TTexCoord b) { return {a.u - b.u, a.v - b.v}; }
TTexCoord operator*(TTexCoord a, TTexCoord b) { return {a.u * b.u, a.v * b.v}; }

// A quotient that falls back to 1 when its divisor is 0 or the result is not finite.
float ScaleOr1(float numerator, float span)
{
    if (span == 0.0f)
        return 1.0f;
    const float s = numerator / span;
    return std::isfinite(s) ? s : 1.0f;
}

// Extents of one texture region: the array index of each extreme.
struct TRegionExtent {
    float maxU = 0, minU = 1, maxV = 0, minV = 1;
    size_t maxUIndex = 0, minUIndex = 0, maxVIndex = 0, minVIndex = 0;
    TTexCoord Span(const std::vector<float>& c) const
    {
        return {c[maxUIndex] - c[minUIndex], c[maxVIndex] - c[minVIndex]};
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Pixel and arithmetic operations

int TTextureCreator::Abs(int a) { return std::abs(a); }

uint8_t TTextureCreator::GetPixel(const cv::Mat& image, int x, int y, int channel)
{
    return image.ptr<uint8_t>(y)[x * image.channels() + channel];
}

void TTextureCreator::SetPixel(cv::Mat& image, int x, int y, uint8_t value, int channel)
{
    image.ptr<uint8_t>(y)[x * image.channels() + channel] = value;
}

void TTextureCreator::CopyPixel(const cv::Mat& source, cv::Mat& target, int sx, int sy, int dx, int dy)
{
    if (!Inside(source, sx, sy) || !Inside(target, dx, dy))
        return;
    const uint8_t* s = source.ptr<uint8_t>(sy) + sx * source.channels();
    uint8_t* d = target.ptr<uint8_t>(dy) + dx * target.channels();
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

void TTextureCreator::BlendPixel(const cv::Mat& a, const cv::Mat& b, cv::Mat& target, float t, int ax, int ay, int bx,
                                 int by, int dx, int dy)
{
    if (!Inside(a, ax, ay) || !Inside(b, bx, by) || !Inside(target, dx, dy))
        return;
    const uint8_t* pa = a.ptr<uint8_t>(ay) + ax * a.channels();
    const uint8_t* pb = b.ptr<uint8_t>(by) + bx * b.channels();
    uint8_t* d = target.ptr<uint8_t>(dy) + dx * target.channels();
    const double ta = 1.0 - static_cast<double>(t), tb = t;
    for (int c = 0; c < 3; ++c)
        d[c] = static_cast<uint8_t>(RoundedChannel(pa[c] * ta + pb[c] * tb) & 0xFF);
}

float TTextureCreator::Lerp(float a, float b, float t) { return BlendInDouble(a, b, t); }

float TTextureCreator::Distance(float x1, float y1, float x2, float y2)
{
    const double dx = static_cast<double>(x2) - x1, dy = static_cast<double>(y2) - y1;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

float TTextureCreator::Clamp(float v, float lo, float hi) { return std::clamp(v, lo, hi); }

// Both return the second argument on a tie, as std::min and std::max do with the arguments swapped.
float TTextureCreator::Min(float a, float b) { return std::min(b, a); }

float TTextureCreator::Max(float a, float b) { return std::max(b, a); }

float TTextureCreator::Falloff(float d)
{
    if (d < 0.045f)
        return 1.0f;
    if (d < 0.09f)
        return static_cast<float>(2.0 * (1.0 - static_cast<double>(d) * 11.111111111111111));
    return 0.0f;
}

// ---------------------------------------------------------------------------------------------
// Patches and normal map

namespace {

// The weights of a patch of radius r and hardness h over `area`, the part of its 2r x 2r square
// that lies on the source image (square coordinates), row by row. Only that part is computed: the
// radius follows the eye height, which a dragged point can make far larger than the atlas, and the
// mask must never outgrow the image. The weights depend only on the offset from the centre, and
// the patch groups call with few distinct (r, h, area), so the last mask is kept (one thread).
const std::vector<float>& PatchWeights(int radius, float hardness, const cv::Rect& area)
{
    static thread_local int cachedRadius = -1;
    static thread_local float cachedHardness = -1;
    static thread_local cv::Rect cachedArea;
    static thread_local std::vector<float> weights;
    if (radius == cachedRadius && hardness == cachedHardness && area == cachedArea)
        return weights;
    const float r = static_cast<float>(radius);
    const float soft = 1.0f - hardness;
    weights.assign(static_cast<size_t>(area.width) * static_cast<size_t>(area.height), 0.0f);
    for (int j = 0; j < area.height; ++j)
        for (int i = 0; i < area.width; ++i) {
            const float d = TTextureCreator::Distance(0.0f, 0.0f, static_cast<float>(area.x + i - radius),
                                                      static_cast<float>(area.y + j - radius));
            float w;
            if (soft > 0.0f) {
                const float ratio = d / r;
                const float q = (1.0f - ratio) / soft;
                w = TTextureCreator::Clamp(q, 0.0f, 1.0f);
            } else {
                w = d < r ? 1.0f : 0.0f;  // hardness 1: a hard-edged disc
            }
            weights[static_cast<size_t>(j) * static_cast<size_t>(area.width) + static_cast<size_t>(i)] = w;
        }
    cachedRadius = radius;
    cachedHardness = hardness;
    cachedArea = area;
    return weights;
}

}  // namespace

void TTextureCreator::BlendPatch(const cv::Mat& source, cv::Mat& target, int cx, int cy, int tx, int ty, int radius,
                                 float hardness)
{
    if (radius <= 0 || !UsableColourImage(source) || !UsableColourImage(target))
        return;
    // Only the part of the source square on the source image is read; copying just that part keeps
    // the pre-call pixels when source and target are one image, without cloning the whole image
    // for every patch. Its bounds are taken in 64 bits: the radius may be huge.
    const int64_t left = std::max<int64_t>(0, int64_t{cx} - radius);
    const int64_t top = std::max<int64_t>(0, int64_t{cy} - radius);
    const int64_t right = std::min<int64_t>(source.cols, int64_t{cx} + radius);
    const int64_t bottom = std::min<int64_t>(source.rows, int64_t{cy} + radius);
    if (left >= right || top >= bottom)
        return;
    const cv::Rect readable(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                            static_cast<int>(bottom - top));
    const cv::Mat work = source(readable).clone();
    // The readable part in square coordinates (the square's corner is (cx - r, cy - r)).
    const cv::Rect area(static_cast<int>(left - (int64_t{cx} - radius)), static_cast<int>(top - (int64_t{cy} - radius)),
                        readable.width, readable.height);
    const std::vector<float>& weights = PatchWeights(radius, hardness, area);
    // Each target pixel is written once per call from the copy, so rows may go in any order.
    for (int y = readable.y; y < readable.y + readable.height; ++y) {
        const int Y = ty + y - cy;
        if (Y < 0 || Y >= target.rows)
            continue;
        const float* rowWeights = weights.data() + static_cast<size_t>(y - readable.y) * static_cast<size_t>(readable.width);
        const uint8_t* sourceRow = work.ptr<uint8_t>(y - readable.y);
        uint8_t* targetRow = target.ptr<uint8_t>(Y);
        for (int x = readable.x; x < readable.x + readable.width; ++x) {
            const int X = tx + x - cx;
            if (X < 0 || X >= target.cols)
                continue;
            const float w = rowWeights[x - readable.x];
            if (w == 0.0f)
                continue;  // target * 1 rounds to itself
            const uint8_t* s = sourceRow + (x - readable.x) * work.channels();
            uint8_t* t = targetRow + X * target.channels();
            if (w == 1.0f) {
                t[0] = s[0], t[1] = s[1], t[2] = s[2];
                continue;
            }
            const double ws = w, wt = 1.0 - static_cast<double>(w);
            for (int c = 0; c < 3; ++c)
                t[c] = static_cast<uint8_t>(RoundedChannel(s[c] * ws + t[c] * wt) & 0xFF);
        }
    }
}

namespace {

// The normal-map pixel of each pair of grey differences (right neighbour, lower neighbour), both in
// -255..255: the normal depends on nothing else, so each is computed once.
struct TNormalTable {
    std::vector<std::array<uint8_t, 3>> pixels;
    TNormalTable() : pixels(511 * 511)
    {
        for (int dq = -255; dq <= 255; ++dq)
            for (int dp = -255; dp <= 255; ++dp) {
                const float p = static_cast<float>(dp) * 0.01f;
                const float q = static_cast<float>(dq) * 0.01f;
                // (1, 0, p) x (0, 1, q) = (-p, -q, 1), normalised.
                const float nx = -p, ny = -q, nz = 1.0f;
                const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
                const float n[3] = {nx / length, ny / length, nz / length};
                std::array<uint8_t, 3>& out = pixels[static_cast<size_t>((dq + 255) * 511 + (dp + 255))];
                out[0] = static_cast<uint8_t>(Rounded(static_cast<double>(n[2]) * 128 + 127) & 0xFF);
                out[1] = static_cast<uint8_t>(Rounded(static_cast<double>(n[1]) * 128 + 127) & 0xFF);
                out[2] = static_cast<uint8_t>(Rounded(static_cast<double>(n[0]) * 128 + 127) & 0xFF);
            }
    }
    const std::array<uint8_t, 3>& At(int dp, int dq) const
    {
        return pixels[static_cast<size_t>((dq + 255) * 511 + (dp + 255))];
    }
};

}  // namespace

cv::Mat TTextureCreator::CreateNormalMap(const cv::Mat& image)
{
    if (!UsableColourImage(image))
        return cv::Mat();
    static const TNormalTable table;
    cv::Mat result = image.clone();
    cv::Mat grey;
    cv::cvtColor(image, grey, image.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
    const int channels = result.channels();
    for (int y = 0; y + 1 < grey.rows; ++y) {
        const uint8_t* row = grey.ptr<uint8_t>(y);
        const uint8_t* below = grey.ptr<uint8_t>(y + 1);
        uint8_t* out = result.ptr<uint8_t>(y);
        for (int x = 0; x + 1 < grey.cols; ++x) {
            const int g = row[x];
            const std::array<uint8_t, 3>& n = table.At(row[x + 1] - g, below[x] - g);
            uint8_t* pixel = out + x * channels;
            pixel[0] = n[0];
            pixel[1] = n[1];
            pixel[2] = n[2];
        }
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Atlas

TAtlasLayout TTextureCreator::MeasureAtlas(const THeadAttributes* c)
{
    TAtlasLayout a;
    a.H = Abs(c->front[23]->y - c->front[24]->y);
    a.W = Abs(c->front[25]->x - c->front[26]->x);
    a.E = Abs(c->front[2]->x - c->front[8]->x);
    a.P = Abs(c->profile[11]->x - c->profile[1]->x);
    a.O = Rounded(a.W * 0.09);
    a.M = Rounded(a.H * 0.15);
    a.S = Rounded(a.W * 0.1);
    a.Q = a.P - a.O;
    a.Wa = 2 * a.M + 2 * a.Q + a.E;
    a.Ha = 2 * a.M + a.H;
    if (a.H == 0)
        a.problem = "the face height is 0";
    else if (a.E == 0)
        a.problem = "the eyes span no width";
    else if (a.Q < 0)
        a.problem = "the profile is narrower than the overlap";
    else if (!SizeAllowed(a.Wa, a.Ha))
        a.problem = "the atlas would be too large";
    a.valid = a.problem.empty();
    return a;
}

namespace {

// Atlas row y, columns [from, to), from source row sy, column offset + direction * x; the columns
// whose source lies outside the image are left as they are.
void CopyRun(const cv::Mat& source, cv::Mat& atlas, int y, int sy, int from, int to, int offset, int direction)
{
    if (sy < 0 || sy >= source.rows)
        return;
    // The atlas columns whose source column lies in [0, source.cols).
    int first = from, last = std::min(to, atlas.cols);
    if (direction > 0) {
        first = std::max(first, -offset);
        last = std::min(last, source.cols - offset);
    } else {
        first = std::max(first, offset - source.cols + 1);
        last = std::min(last, offset + 1);
    }
    first = std::max(first, 0);
    if (first >= last)
        return;
    const int channels = source.channels();
    const uint8_t* in = source.ptr<uint8_t>(sy) + (offset + direction * first) * channels;
    uint8_t* out = atlas.ptr<uint8_t>(y) + first * 3;
    const int step = direction * channels;
    for (int x = first; x < last; ++x, in += step, out += 3) {
        out[0] = in[0];
        out[1] = in[1];
        out[2] = in[2];
    }
}

}  // namespace

cv::Mat TTextureCreator::FillAtlas(const cv::Mat& frontWork, const cv::Mat& profileWork, const THeadAttributes* c,
                                   const TAtlasLayout& a)
{
    // Cleared first: pixels whose photo source lies outside the work image stay black.
    cv::Mat atlas(a.Ha, a.Wa, CV_8UC3, cv::Scalar(0, 0, 0));
    const int M = a.M, Q = a.Q, E = a.E, S = a.S, O = a.O;
    const int e = Q + M + E;
    const int f2x = c->front[2]->x, f8x = c->front[8]->x, f24y = c->front[24]->y;
    const int p11x = c->profile[11]->x, p1x = c->profile[1]->x, p12y = c->profile[12]->y;
    // Each atlas pixel is written once, so the row-by-row order gives the same image as any other.
    for (int y = 0; y < a.Ha; ++y) {
        const int yf = y + f24y - M;
        const int yp = y + p12y - M;
        // The three copied ranges: source column = offset + direction * atlas column.
        CopyRun(profileWork, atlas, y, yp, 0, Q + M - S + 1, p11x + M, -1);
        for (int x = std::max(Q + M - S + 1, 0); x < std::min(Q + M, a.Wa); ++x) {
            const float t = static_cast<float>(x - (Q + M - S)) / static_cast<float>(S);
            BlendPixel(profileWork, frontWork, atlas, t, p11x + M - x, yp, x + f2x - M - Q, yf, x, y);
        }
        CopyRun(frontWork, atlas, y, yf, Q + M, e, f2x - M - Q, +1);
        for (int x = std::max(e, 0); x < std::min(e + S, a.Wa); ++x) {
            const float t = static_cast<float>(x - e) / static_cast<float>(S);
            BlendPixel(frontWork, profileWork, atlas, t, x + f8x - E - M - Q, yf, x + p1x + O - e, yp, x, y);
        }
        CopyRun(profileWork, atlas, y, yp, e + S, a.Wa, p1x + O - e, +1);
    }
    return atlas;
}

// ---------------------------------------------------------------------------------------------
// Seams

namespace {

// The cross-fade between the front and the profile parts is this many head widths wide. Where the
// front photo's face ends sooner (a narrow face), its skin mask hands the rest to the profile.
constexpr double kSeamFade = 0.15;
// The front's share of the cross-fade falls as this power of the distance left to the fade's end:
// faster than linear, as the front sees the face's side ever more obliquely and darker there.
constexpr double kFrontShareFalloff = 1.5;
// The colours are matched on this share of the fade's width at its start, where both photos see
// the face's side alike.
constexpr double kSeamMatchStrip = 0.25;
// Fewer skin pixels than this next to a seam give no match there.
constexpr int kMinSeamSamples = 20;

double SmoothStep(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// A pixel this much darker (CIE Lab L) than the face's skin, or this far from its hue and
// saturation (a, b), is no skin (of the forehead, beside a seam).
constexpr double kHairFromSkin = 18.0;
constexpr double kHairHueFromSkin = 12.0;

// Darker than the skin, or of another hue; skin in brighter light is still skin.
bool HairColoured(const cv::Vec3f& lab, const cv::Scalar& skin)
{
    const bool darker = lab[0] < skin[0] - kHairFromSkin;
    const bool otherHue = std::hypot(lab[1] - skin[1], lab[2] - skin[2]) > kHairHueFromSkin;
    return darker || otherHue;
}

// `image`'s pixels in `area` (clipped to the image) in float CIE Lab; only what is looked at is
// converted, the atlas being millions of pixels.
cv::Mat LabOf(const cv::Mat& image, cv::Rect& area)
{
    area &= cv::Rect(0, 0, image.cols, image.rows);
    cv::Mat scaled, lab;
    if (area.empty())
        return lab;
    image(area).convertTo(scaled, CV_32F, 1.0 / 255.0);
    cv::cvtColor(scaled, lab, cv::COLOR_BGR2Lab);
    return lab;
}

// Mean of the CIE Lab colours of `image` in `area` (clipped to it), over the pixels that
// `skin` marks (all of them when `skin` is empty); no pixels counted when too few are skin.
struct TLabStats {
    cv::Vec3d mean;
    int count = 0;
};

TLabStats SkinStats(const cv::Mat& image, const cv::Mat& skin, cv::Rect area, const cv::Scalar* face = nullptr)
{
    TLabStats stats;
    area &= cv::Rect(0, 0, image.cols, image.rows);
    if (area.empty())
        return stats;
    cv::Mat lab;
    image(area).convertTo(lab, CV_32F, 1.0 / 255.0);
    cv::cvtColor(lab, lab, cv::COLOR_BGR2Lab);
    // With a skin mask, only its skin counts: beside a seam that shows none (points dragged off
    // the face) there is nothing to match.
    cv::Mat mask;
    if (!skin.empty() && skin.size() == image.size())
        mask = skin(area) != 0;
    else
        mask = cv::Mat(area.size(), CV_8U, cv::Scalar(255));
    // With the face's colour, hair that the skin table takes for skin (brown hair, a painting's
    // shadows) does not count either.
    if (face)
        for (int y = 0; y < lab.rows; ++y)
            for (int x = 0; x < lab.cols; ++x)
                if (HairColoured(lab.at<cv::Vec3f>(y, x), *face))
                    mask.at<uint8_t>(y, x) = 0;
    if (cv::countNonZero(mask) < kMinSeamSamples)
        return stats;
    const cv::Scalar mean = cv::mean(lab, mask);
    stats.count = cv::countNonZero(mask);
    for (int k = 0; k < 3; ++k)
        stats.mean[k] = mean[k];
    return stats;
}

// `image`'s pixels in `area` with each Lab channel moved by `to`'s mean less `from`'s. Only the
// means: the strip they are measured on is narrow, so its spread is that of the rows' features
// (eye corner, cheek), not the photos' contrast, and matching it stretched the profile's shading.
// The area is most of the profile part, millions of pixels: the move is made in OpenCV's 8-bit Lab
// (L scaled to 0..255, a and b offset by 128), where the conversions are table look-ups; the
// statistics stay those of float Lab.
cv::Mat TransferColours(const cv::Mat& image, cv::Rect area, const TLabStats& from, const TLabStats& to)
{
    cv::Mat lab;
    cv::cvtColor(image(area), lab, cv::COLOR_BGR2Lab);
    std::vector<cv::Mat> channel;
    cv::split(lab, channel);
    for (int k = 0; k < 3; ++k) {
        const double scale = k == 0 ? 255.0 / 100.0 : 1.0;
        channel[static_cast<size_t>(k)].convertTo(channel[static_cast<size_t>(k)], CV_8U, 1.0, scale * (to.mean[k] - from.mean[k]));
    }
    cv::merge(channel, lab);
    cv::Mat out;
    cv::cvtColor(lab, out, cv::COLOR_Lab2BGR);
    return out;
}

// A skin mask's pixels in `area` (0 off the mask), softened in 8 bits so that what it chooses has
// no edge of its own; empty when the mask does not fit its photo. With `within`, the softening
// stays inside the mask: nothing off the skin (the backdrop) gets a share.
cv::Mat SoftMask(const cv::Mat& skin, const cv::Size& photo, cv::Rect area, int blur, bool within = false)
{
    if (skin.empty() || skin.size() != photo || skin.type() != CV_8UC1)
        return cv::Mat();
    cv::Mat soft(area.size(), CV_8U, cv::Scalar(0));
    const cv::Rect on = area & cv::Rect(0, 0, skin.cols, skin.rows);
    if (!on.empty())
        soft(on - area.tl()).setTo(255, skin(on) != 0);
    if (within)
        cv::erode(soft, soft, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(blur, blur)), {-1, -1}, 1,
                  cv::BORDER_CONSTANT, cv::Scalar(255));
    cv::GaussianBlur(soft, soft, cv::Size(blur, blur), 0);
    return soft;
}

}  // namespace

void TTextureCreator::BlendSeams(cv::Mat& atlas, const cv::Mat& frontWork, const cv::Mat& profileWork,
                                 const THeadAttributes* c, const TAtlasLayout& a, bool matchColours,
                                 const cv::Mat& frontSkin, const cv::Mat& profileSkin)
{
    if (!a.valid || atlas.size() != cv::Size(a.Wa, a.Ha) || atlas.type() != CV_8UC3 || !UsableColourImage(frontWork) ||
        !UsableColourImage(profileWork))
        return;
    const THPoint* const* f = c->front;
    const THPoint* const* p = c->profile;
    const int M = a.M, Q = a.Q, E = a.E, O = a.O;
    const int fade = std::max(a.S, Rounded(a.W * kSeamFade));
    // The match fades out across the rest of the profile part, to the back of the head, so that
    // the profile's own colours return without a step.
    const int matchFade = matchColours ? std::max(0, Q + M - fade) : 0;
    const int n = fade + matchFade;
    // Atlas rows and the rows of both photos: the same offsets as the fill.
    const int frontRow = f[24]->y - M, profileRow = p[12]->y - M;
    // The profile columns of both seams: the profile runs from the eye centre plus the overlap to
    // the back of the head on both sides (mirrored on the left).
    const int seamColumn = p[1]->x + O;
    const int blur = 2 * std::max(1, fade / 6) + 1;

    struct Side {
        int inner;       // the front part's first (left) or one past its last (right) column
        int frontColumn; // the front photo's column at `inner`
        int direction;   // -1: the profile part lies left of the seam, +1: right
        int eyeTop;      // the front photo's row of the eye's top border
    };
    const Side sides[2] = {{Q + M, f[2]->x, -1, std::min(f[4]->y, f[5]->y)},
                           {Q + M + E, f[8]->x, +1, std::min(f[9]->y, f[10]->y)}};

    for (const Side& s : sides) {
        const bool left = s.direction < 0;
        // Column k counts atlas columns away from the front part: 0 .. fade - 1 the cross-fade, then
        // the profile part over which the colour match fades out. Its profile column runs from the
        // seam outwards, its front column from the eye's outer corner outwards.
        const cv::Rect profileArea(seamColumn + (left ? 1 : 0), profileRow, n, a.Ha);
        const cv::Rect frontArea(left ? s.frontColumn - fade : s.frontColumn, frontRow, fade, a.Ha);
        // The skin beside the seam, from the eye's top down to the mouth, at the fade's start only:
        // further out the front sees the face's side ever more obliquely and darker, the profile
        // sees it face-on, so the two views' colours differ by their angle there, not their exposure.
        const int top = s.eyeTop, bottom = std::max(f[11]->y, s.eyeTop + 1);
        const int strip = std::max(2, Rounded(fade * kSeamMatchStrip));
        const cv::Rect frontBox(left ? s.frontColumn - strip : s.frontColumn, top, strip, bottom - top);
        const cv::Rect profileBox(seamColumn, top - frontRow + profileRow, strip, bottom - top);

        // The profile's colours moved to the front's: wholly across the fade, then fading out; only
        // the profile's skin takes the match (its hair keeps its colours).
        cv::Mat matched, profileSoft;
        const cv::Rect matchedArea = profileArea & cv::Rect(0, 0, profileWork.cols, profileWork.rows);
        if (matchColours && !matchedArea.empty()) {
            const TLabStats from = SkinStats(profileWork, profileSkin, profileBox);
            // The front's skin beside the seam, of the face's colour; where hair falls beside the
            // face there, its skin on the seam's inner side.
            const int cheekTop = std::max(f[5]->y, f[10]->y);
            cv::Rect cheeks(f[1]->x, cheekTop, f[6]->x - f[1]->x, f[11]->y - cheekTop);
            const cv::Mat cheekLab = LabOf(frontWork, cheeks);
            const cv::Scalar face = cheekLab.empty() ? cv::Scalar() : cv::mean(cheekLab);
            const cv::Scalar* faceColour = cheekLab.empty() ? nullptr : &face;
            TLabStats to = SkinStats(frontWork, frontSkin, frontBox, faceColour);
            if (to.count < kMinSeamSamples)
                to = SkinStats(frontWork, frontSkin, cv::Rect(s.frontColumn + (left ? 0 : -fade), top, fade, bottom - top), faceColour);
            if (from.count >= kMinSeamSamples && to.count >= kMinSeamSamples) {
                matched = TransferColours(profileWork, matchedArea, from, to);
                profileSoft = SoftMask(profileSkin, profileWork.size(), profileArea, blur);
            }
        }
        // The front's share falls from the seam outwards; where the front photo shows no skin (past
        // the face's outline: the backdrop) the profile, which sees that part, takes over.
        const cv::Mat frontSoft = SoftMask(frontSkin, frontWork.size(), frontArea, blur, true);
        std::vector<float> match(static_cast<size_t>(n)), share(static_cast<size_t>(fade));
        for (int k = 0; k < n; ++k)
            match[size_t(k)] = static_cast<float>(k < fade ? 1.0 : 1.0 - SmoothStep(double(k - fade) / std::max(1, matchFade)));
        for (int k = 0; k < fade; ++k)
            share[size_t(k)] = static_cast<float>(std::pow((fade - k - 0.5) / fade, kFrontShareFalloff));

        // Only the columns on the atlas; beyond the cross-fade only the profile counts, and only its
        // columns on the photo.
        const int kBegin = std::max(0, left ? s.inner - a.Wa : -s.inner);
        const int kEnd = std::min(n, left ? s.inner : a.Wa - s.inner);
        const int fadeEnd = std::min(fade, kEnd);
        const int profileBegin = std::max({kBegin, fade, -profileArea.x});
        const int profileEnd = std::min(kEnd, profileWork.cols - profileArea.x);
        const int step = left ? -3 : 3;
        for (int y = 0; y < a.Ha; ++y) {
            const int py = y + profileRow, fy = y + frontRow;
            const uint8_t* profileRowPixels = py >= 0 && py < profileWork.rows ? profileWork.ptr<uint8_t>(py) : nullptr;
            const uint8_t* frontRowPixels = fy >= 0 && fy < frontWork.rows ? frontWork.ptr<uint8_t>(fy) : nullptr;
            const uint8_t* matchedRow = !matched.empty() && profileRowPixels ? matched.ptr<uint8_t>(py - matchedArea.y) : nullptr;
            const uint8_t* profileSoftRow = profileSoft.empty() ? nullptr : profileSoft.ptr<uint8_t>(y);
            const uint8_t* frontSoftRow = frontSoft.empty() ? nullptr : frontSoft.ptr<uint8_t>(y);
            uint8_t* row = atlas.ptr<uint8_t>(y);
            // The cross-fade: profile and front mixed.
            for (int k = kBegin; k < fadeEnd; ++k) {
                const int px = profileArea.x + k;
                const int fx = left ? s.frontColumn - 1 - k : s.frontColumn + k;
                const bool hasProfile = profileRowPixels && px >= 0 && px < profileWork.cols;
                const bool hasFront = frontRowPixels && fx >= 0 && fx < frontWork.cols;
                if (!hasProfile && !hasFront)
                    continue;
                float colour[3] = {0, 0, 0};
                if (hasProfile) {
                    const uint8_t* pp = profileRowPixels + 3 * px;
                    for (int ch = 0; ch < 3; ++ch)
                        colour[ch] = pp[ch];
                    if (matchedRow) {
                        const uint8_t* m = matchedRow + 3 * (px - matchedArea.x);
                        const float w = match[size_t(k)] * (profileSoftRow ? profileSoftRow[k] / 255.0f : 1.0f);
                        for (int ch = 0; ch < 3; ++ch)
                            colour[ch] += w * (m[ch] - colour[ch]);
                    }
                }
                if (hasFront) {
                    const uint8_t* fp = frontRowPixels + 3 * fx;
                    // frontSoft runs left to right over the photo; k runs outwards.
                    const float w = !hasProfile ? 1.0f
                                                : share[size_t(k)] * (frontSoftRow ? frontSoftRow[left ? fade - 1 - k : k] / 255.0f : 1.0f);
                    for (int ch = 0; ch < 3; ++ch)
                        colour[ch] += w * (fp[ch] - colour[ch]);
                }
                uint8_t* d = row + 3 * (left ? s.inner - 1 - k : s.inner + k);
                for (int ch = 0; ch < 3; ++ch)
                    d[ch] = static_cast<uint8_t>(std::clamp(RoundedChannel(colour[ch]), 0, 255));
            }
            // The rest of the profile part: its colours, the match fading out. Most of the pass is
            // here, so it runs without the cross-fade's tests.
            if (!profileRowPixels || profileBegin >= profileEnd)
                continue;
            const uint8_t* pp = profileRowPixels + 3 * (profileArea.x + profileBegin);
            uint8_t* d = row + 3 * (left ? s.inner - 1 - profileBegin : s.inner + profileBegin);
            if (!matchedRow) {
                for (int k = profileBegin; k < profileEnd; ++k, pp += 3, d += step)
                    d[0] = pp[0], d[1] = pp[1], d[2] = pp[2];
                continue;
            }
            const uint8_t* m = matchedRow + 3 * (profileArea.x + profileBegin - matchedArea.x);
            for (int k = profileBegin; k < profileEnd; ++k, pp += 3, m += 3, d += step) {
                const float w = match[size_t(k)] * (profileSoftRow ? profileSoftRow[k] / 255.0f : 1.0f);
                if (w == 0.0f) {
                    d[0] = pp[0], d[1] = pp[1], d[2] = pp[2];
                    continue;
                }
                for (int ch = 0; ch < 3; ++ch) {
                    const float colour = pp[ch] + w * (m[ch] - static_cast<float>(pp[ch]));
                    d[ch] = static_cast<uint8_t>(std::clamp(RoundedChannel(colour), 0, 255));
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Texture coordinates

namespace {

// How much of a region warp a coordinate at the region's feature takes, by region.
struct TRegionShare {
    float leftEye, rightEye, nose, rest;
};
constexpr TRegionShare kRegionShare{0.8f, 0.7f, 0.4f, 1.0f};

// The share of each photo an atlas column shows, as FillAtlas lays them: the mirrored profile on
// the left, the front between the eyes' outer corners, the plain profile on the right, each
// cross-fade a mix.
struct TPartShares {
    float left = 0, front = 0, right = 0;
};

TPartShares PartsAt(float u, const TAtlasLayout& a)
{
    const float x = u * static_cast<float>(a.Wa), S = static_cast<float>(std::max(1, a.S));
    const float frontStart = static_cast<float>(a.Q + a.M), frontEnd = static_cast<float>(a.Q + a.M + a.E);
    TPartShares s;
    if (x < frontStart) {
        s.front = std::clamp((x - (frontStart - S)) / S, 0.0f, 1.0f);
        s.left = 1.0f - s.front;
    } else if (x < frontEnd) {
        s.front = 1.0f;
    } else {
        s.right = std::clamp((x - frontEnd) / S, 0.0f, 1.0f);
        s.front = 1.0f - s.right;
    }
    return s;
}

// The deformation's regional moves as the atlas shows them: model units to atlas pixels in the
// front and in the profile photo, and each vertex's move beyond the whole-head scaling.
struct TMeshMoves {
    float frontPixels = 0, profilePixels = 0;  // atlas pixels per model unit
    std::vector<float> moves;                  // x, y, z per vertex, model units

    // A vertex's move as a texture offset, through the photo that its coordinate shows: across is
    // x in the front, depth y in the profiles (mirrored on the left), up is z in both.
    TTexCoord Offset(size_t vertex, TTexCoord at, const TAtlasLayout& a) const
    {
        const float* d = &moves[3 * vertex];
        const TPartShares s = PartsAt(at.u, a);
        const float across = s.front * frontPixels * d[0] + (s.right - s.left) * profilePixels * d[1];
        const float up = (s.front * frontPixels + (s.left + s.right) * profilePixels) * d[2];
        return {across / static_cast<float>(a.Wa), up / static_cast<float>(a.Ha)};
    }
};

// The deformation scales the whole head about the nose tip (depth by u, height by t), which the
// global fit stands for, and moves its regions. The nose tip is the last vertex its map marks, as
// the deformation finds it. The model is as wide as the front photo's head, and the profile photo's
// pixels relate to the front's as the eye's height over the nose tip does in both.
bool MeasureMeshMoves(const TGeometry& head, const TDeformedHead& deformed, const TWeightManager* weights,
                      const THeadAttributes* c, TMeshMoves& out)
{
    const std::vector<float>& before = deformed.before;
    const std::vector<float>& after = head.positions;
    const size_t vertices = head.texCoords.size() / 2;
    if (vertices == 0 || before.size() != after.size() || after.size() != 3 * vertices)
        return false;
    size_t tip = vertices;
    float minX = before[0], maxX = before[0];
    for (size_t i = 0; i < vertices; ++i) {
        if (Weight(weights, TWeightManager::tip_of_the_nose, i) > 0.0f)
            tip = i;
        minX = std::min(minX, before[3 * i]);
        maxX = std::max(maxX, before[3 * i]);
    }
    const THPoint* const* f = c->front;
    const THPoint* const* p = c->profile;
    const float photoWidth = static_cast<float>(std::abs(f[FrontPoint::RightHead]->x - f[FrontPoint::LeftHead]->x));
    if (tip == vertices || !(maxX > minX) || photoWidth == 0.0f)
        return false;
    const float frontPerProfile =
        ScaleOr1(static_cast<float>(std::abs(f[FrontPoint::LeftEyeCenter]->y - f[FrontPoint::NoseTip]->y)),
                 static_cast<float>(std::abs(p[ProfilePoint::EyeCenter]->y - p[ProfilePoint::NoseTip]->y)));
    out.frontPixels = photoWidth / (maxX - minX);
    out.profilePixels = out.frontPixels / frontPerProfile;
    const float scale[3] = {1.0f, deformed.depthScale, deformed.heightScale};
    out.moves.assign(after.size(), 0.0f);
    for (size_t k = 0; k < after.size(); ++k) {
        const size_t axis = k % 3;
        const float wholeHead = after[3 * tip + axis] + scale[axis] * (before[k] - before[3 * tip + axis]);
        out.moves[k] = std::isfinite(after[k] - wholeHead) ? after[k] - wholeHead : 0.0f;
    }
    return true;
}

// The extents of the coordinates of a map's marked vertices.
TRegionExtent ExtentOf(const std::vector<float>& tc, const TWeightManager* weights, int slot)
{
    TRegionExtent g;
    for (size_t k = 0; k < tc.size(); ++k) {
        if (!(Weight(weights, slot, k / 2) > 0.0f))
            continue;
        const float value = tc[k];
        if (k % 2 == 0) {
            if (value > g.maxU) { g.maxU = value; g.maxUIndex = k; }
            if (value < g.minU) { g.minU = value; g.minUIndex = k; }
        } else {
            if (value > g.maxV) { g.maxV = value; g.maxVIndex = k; }
            if (value < g.minV) { g.minV = value; g.minVIndex = k; }
        }
    }
    return g;
}

// A region's span; a region without a vertex of positive weight keeps its indices at 0: its spans are 0.
TTexCoord SpanOf(const std::vector<float>& tc, const TWeightManager* weights, int slot)
{
    return tc.empty() ? TTexCoord{0, 0} : ExtentOf(tc, weights, slot).Span(tc);
}

// The middle of a region's extents; (-1, -1) when its map marks no vertex.
TTexCoord MiddleOf(const std::vector<float>& tc, const TWeightManager* weights, int slot)
{
    const TRegionExtent g = ExtentOf(tc, weights, slot);
    if (g.maxU < g.minU)
        return {-1, -1};
    return {0.5f * (g.minU + g.maxU), 0.5f * (g.minV + g.maxV)};
}

// The global fit: the layout moved so that its nose tip is the photo's, and scaled about it so that
// the face outline spans the photo's face.
struct TGlobalFit {
    TTexCoord nose, offset, scale;
    TTexCoord operator()(TTexCoord layout) const { return ((layout + offset) - nose) * scale + nose; }
};

TGlobalFit MeasureGlobalFit(const THeadAttributes* c, const TAtlasLayout& a, TTexCoord layoutNose, TTexCoord photoNose,
                            TTexCoord faceSpan)
{
    const THPoint* const* f = c->front;
    const float Ws = static_cast<float>(f[FrontPoint::RightHead]->x - f[FrontPoint::LeftHead]->x);
    const float Hs = static_cast<float>(f[FrontPoint::BottomHead]->y - f[FrontPoint::TopHead]->y);
    TGlobalFit g;
    g.nose = photoNose;
    g.offset = photoNose - layoutNose;
    g.scale = {faceSpan.u == 0.0f ? 1.0f
                                  : ScaleOr1(Ws / static_cast<float>(a.Wa), faceSpan.u) * TTextureCreator::FaceOutlineWidths,
               ScaleOr1(Hs / static_cast<float>(a.Ha), faceSpan.v)};
    return g;
}

// One region whose feature the fit lays onto the photo's: the layout references whose nearest
// sets a coordinate's weight (the first is the feature), the photo's feature, its size in atlas
// pixels, the map that marks the region's extent, and the share of the warp its feature takes.
struct TRegionWarp {
    int borders;
    std::array<int, 3> references;
    TTexCoord photo;
    int photoWidth, photoHeight;
    float share;
    bool scaleNeedsSpan;  // scaled only when its extent spans both ways
};

// Each coordinate's weight in each region: full near the region's nearest reference.
template <size_t N>
std::vector<std::array<float, N>> RegionWeights(const std::vector<float>& tc, const std::array<TRegionWarp, N>& regions,
                                                const std::array<TTexCoord, N * 3>& references)
{
    std::vector<std::array<float, N>> weight(tc.size() / 2);
    for (size_t i = 0; i < weight.size(); ++i)
        for (size_t r = 0; r < N; ++r) {
            float nearest = 1e30f;
            for (size_t j = 0; j < 3; ++j)
                if (regions[r].references[j] >= 0) {
                    const TTexCoord q = references[3 * r + j];
                    nearest = TTextureCreator::Min(nearest, TTextureCreator::Distance(q.u, q.v, tc[2 * i], tc[2 * i + 1]));
                }
            weight[i][r] = TTextureCreator::Falloff(nearest);
        }
    return weight;
}

// The hair samples a hair area above the ear of the mirrored profile. c is the sum divided by
// the array length, that is half the mean coordinate, as the layout of the generic hair expects.
void FitHairs(TGeometry* hairsGeometry, TTexCoord hairTarget)
{
    if (!hairsGeometry || hairsGeometry->texCoords.empty())
        return;
    std::vector<float>& tc = hairsGeometry->texCoords;
    const double n = static_cast<double>(tc.size());
    double sumU = 0, sumV = 0;
    for (size_t k = 0; k < tc.size(); ++k)
        (k % 2 == 0 ? sumU : sumV) += tc[k];
    const TTexCoord cm{static_cast<float>(sumU / n), static_cast<float>(sumV / n)};
    for (size_t k = 0; k < tc.size(); ++k) {
        if (k % 2 == 0)
            tc[k] = (tc[k] - cm.u) * 0.3f + hairTarget.u;
        else
            tc[k] = (tc[k] - cm.v) * 0.3f + hairTarget.v;
    }
}

}  // namespace

TTexCoord TTextureCreator::FitTextureCoordinates(const THeadAttributes* c, const TAtlasLayout& a,
                                                 TGeometry* headGeometry, TGeometry* hairsGeometry,
                                                 const TWeightManager* weights, const TGenericHead& generic,
                                                 const TDeformedHead* deformed, TFittedFeatures* features)
{
    const THPoint* const* f = c->front;
    const THPoint* const* p = c->profile;
    const int M = a.M, Q = a.Q;
    auto frontCoord = [&](const THPoint* pt) {
        return AtlasCoord(pt->x - f[FrontPoint::LeftEyeLeft]->x + Q + M, pt->y - f[FrontPoint::TopHead]->y + M, a);
    };
    auto profileLeftCoord = [&](const THPoint* pt) {
        return AtlasCoord(p[ProfilePoint::RightHead]->x + M - pt->x, pt->y - p[ProfilePoint::TopHead]->y + M, a);
    };
    auto profileRightCoord = [&](const THPoint* pt) {
        return AtlasCoord(pt->x + a.Wa - M - p[ProfilePoint::RightHead]->x, pt->y - p[ProfilePoint::TopHead]->y + M, a);
    };
    auto layoutAt = [&](int i) {
        return TTexCoord{static_cast<float>(generic.layout[size_t(i)].u), static_cast<float>(generic.layout[size_t(i)].v)};
    };
    const TTexCoord hairTarget = profileLeftCoord(p[ProfilePoint::EarCenter]) + TTexCoord{0.0f, 0.1f};
    if (features)
        *features = TFittedFeatures();

    if (headGeometry && weights) {
        std::vector<float>& tc = headGeometry->texCoords;
        const size_t vertices = tc.size() / 2;

        // The global fit around the nose tip.
        const TGlobalFit global = MeasureGlobalFit(c, a, layoutAt(LayoutRef::NoseTip), frontCoord(f[FrontPoint::NoseTip]),
                                                   SpanOf(tc, weights, TWeightManager::face_borders));
        for (size_t i = 0; i < vertices; ++i) {
            const TTexCoord q = global({tc[2 * i], tc[2 * i + 1]});
            tc[2 * i] = q.u;
            tc[2 * i + 1] = q.v;
        }

        // The six regions: eyes, nose, mouth, ears.
        namespace L = LayoutRef;
        const std::array<TRegionWarp, 6> regions{{
            {TWeightManager::left_eye_borders, {L::LeftEye, -1, -1}, frontCoord(f[FrontPoint::LeftEyeCenter]),
             f[FrontPoint::LeftEyeRight]->x - f[FrontPoint::LeftEyeLeft]->x,
             f[FrontPoint::LeftEyeBottom]->y - f[FrontPoint::LeftEyeTop]->y, kRegionShare.leftEye, false},
            {TWeightManager::right_eye_borders, {L::RightEye, -1, -1}, frontCoord(f[FrontPoint::RightEyeCenter]),
             f[FrontPoint::RightEyeRight]->x - f[FrontPoint::RightEyeLeft]->x,
             f[FrontPoint::RightEyeBottom]->y - f[FrontPoint::RightEyeTop]->y, kRegionShare.rightEye, false},
            {TWeightManager::nose_borders, {L::NoseTip, -1, -1}, frontCoord(f[FrontPoint::NoseTip]),
             f[FrontPoint::NoseRight]->x - f[FrontPoint::NoseLeft]->x, f[FrontPoint::NoseBottom]->y - f[FrontPoint::NoseTop]->y,
             kRegionShare.nose, false},
            {TWeightManager::mouth_borders, {L::Mouth, L::MouthLeft, L::MouthRight}, frontCoord(f[FrontPoint::MouthCenter]),
             f[FrontPoint::MouthRight]->x - f[FrontPoint::MouthLeft]->x,
             f[FrontPoint::MouthBottom]->y - f[FrontPoint::MouthTop]->y, kRegionShare.rest, false},
            {TWeightManager::left_ear_borders, {L::LeftEar, L::LeftEarTop, L::LeftEarBottom},
             profileLeftCoord(p[ProfilePoint::EarCenter]), p[ProfilePoint::EarRight]->x - p[ProfilePoint::EarLeft]->x,
             p[ProfilePoint::EarBottom]->y - p[ProfilePoint::EarTop]->y, kRegionShare.rest, true},
            {TWeightManager::right_ear_borders, {L::RightEar, L::RightEarTop, L::RightEarBottom},
             profileRightCoord(p[ProfilePoint::EarCenter]), p[ProfilePoint::EarRight]->x - p[ProfilePoint::EarLeft]->x,
             p[ProfilePoint::EarBottom]->y - p[ProfilePoint::EarTop]->y, kRegionShare.rest, false},
        }};
        constexpr size_t N = 6;
        std::array<TTexCoord, 3 * N> references{};
        for (size_t r = 0; r < N; ++r)
            for (size_t j = 0; j < 3; ++j)
                if (regions[r].references[j] >= 0)
                    references[3 * r + j] = global(layoutAt(regions[r].references[j]));
        const std::vector<std::array<float, N>> weight = RegionWeights(tc, regions, references);

        // Where the mesh's features are: at the layout's references, moved by the global fit; with
        // the deformed head, every coordinate follows its vertex's regional move, and each feature
        // the mean move of its region's coordinates.
        std::array<TTexCoord, N> meshFeature;
        for (size_t r = 0; r < N; ++r)
            meshFeature[r] = references[3 * r];
        TMeshMoves mesh;
        if (deformed && MeasureMeshMoves(*headGeometry, *deformed, weights, c, mesh)) {
            std::array<double, 2 * N> sum{};
            std::array<double, N> total{};
            for (size_t i = 0; i < vertices; ++i) {
                const TTexCoord move = mesh.Offset(i, {tc[2 * i], tc[2 * i + 1]}, a);
                tc[2 * i] += move.u;
                tc[2 * i + 1] += move.v;
                for (size_t r = 0; r < N; ++r) {
                    sum[2 * r] += double(move.u) * weight[i][r];
                    sum[2 * r + 1] += double(move.v) * weight[i][r];
                    total[r] += weight[i][r];
                }
            }
            for (size_t r = 0; r < N; ++r)
                if (total[r] > 0)
                    meshFeature[r] = meshFeature[r] + TTexCoord{float(sum[2 * r] / total[r]), float(sum[2 * r + 1] / total[r])};
        }

        // Each region's photo feature onto the mesh's, and the region to the photo's size; the spans
        // are those of the coordinates as they are now.
        std::array<TTexCoord, N> shift, size;
        for (size_t r = 0; r < N; ++r) {
            const TRegionWarp& g = regions[r];
            shift[r] = g.photo - meshFeature[r];
            const TTexCoord s = SpanOf(tc, weights, g.borders);
            size[r] = {1, 1};
            if (!g.scaleNeedsSpan || (s.u > 0 && s.v > 0))
                size[r] = {ScaleOr1(static_cast<float>(g.photoWidth) / static_cast<float>(a.Wa), s.u),
                           ScaleOr1(static_cast<float>(g.photoHeight) / static_cast<float>(a.Ha), s.v)};
        }
        for (size_t i = 0; i < vertices; ++i)
            for (size_t axis = 0; axis < 2; ++axis) {
                auto pick = [axis](TTexCoord t) { return axis == 0 ? t.u : t.v; };
                float& cc = tc[2 * i + axis];
                for (size_t r = 0; r < N; ++r) {
                    const float w = weight[i][r] * regions[r].share;
                    const float at = pick(regions[r].photo);
                    cc = Lerp(cc, cc + pick(shift[r]), w);
                    cc = Lerp(cc, (cc - at) * pick(size[r]) + at, w);
                }
            }

        if (features) {
            features->leftEye = MiddleOf(tc, weights, TWeightManager::left_eye_borders);
            features->rightEye = MiddleOf(tc, weights, TWeightManager::right_eye_borders);
        }
        // Clamp into the atlas.
        for (size_t k = 0; k < tc.size(); ++k)
            tc[k] = k % 2 == 0 ? Clamp(tc[k], 0.0f, 1.0f) : Clamp(tc[k], 0.01f, 1.0f);
    }
    FitHairs(hairsGeometry, hairTarget);
    return hairTarget;
}

// ---------------------------------------------------------------------------------------------
// Eye texture and patches

cv::Mat TTextureCreator::CreateEyeTexture(const cv::Mat& frontPhoto, const THeadAttributes* attributes)
{
    const THPoint* const* f = attributes->front;
    const int N = (f[FrontPoint::LeftEyeRight]->x - f[FrontPoint::LeftEyeLeft]->x) / 2;
    if (N <= 0 || !SizeAllowed(2.0 * N, 2.0 * N) || !UsableColourImage(frontPhoto))
        return cv::Mat();
    // The eyeball is mapped from its opening: corner to corner across, centred on the middle between
    // the opening's top and bottom; the square is cut the same way, so that the opening shows the
    // photo's opening with its iris where the photo has it.
    const int middle = (f[FrontPoint::LeftEyeTop]->y + f[FrontPoint::LeftEyeBottom]->y) / 2;
    const int x0 = f[FrontPoint::LeftEyeLeft]->x, y0 = middle - N;
    cv::Mat eye(2 * N, 2 * N, CV_8UC3, cv::Scalar(0, 0, 0));
    for (int x = x0; x < x0 + 2 * N; ++x)
        for (int y = y0; y < y0 + 2 * N; ++y)
            CopyPixel(frontPhoto, eye, x, y, x - x0, y - y0);
    return eye;
}

namespace {

// The offsets of the disc of `radius`, every `step` pixels.
std::vector<cv::Point> Disc(int radius, int step)
{
    std::vector<cv::Point> disc;
    for (int dy = -radius; dy <= radius; dy += step)
        for (int dx = -radius; dx <= radius; dx += step)
            if (dx * dx + dy * dy <= radius * radius)
                disc.push_back({dx, dy});
    return disc;
}


// The radius the hair source is judged over: the part of a patch of radius Hs / 8 that
// is laid on at more than about half its weight.
int SourceRadius(const THeadAttributes* c) { return std::max(2, (c->front[23]->y - c->front[24]->y) * 7 / 80); }


}  // namespace

double TTextureCreator::SkinShare(const cv::Mat& skin, cv::Point centre, int radius)
{
    if (skin.empty() || radius <= 0)
        return 0.0;
    int inside = 0, onSkin = 0;
    for (const cv::Point& d : Disc(radius, std::max(1, radius / 8))) {
        const cv::Point q = centre + d;
        if (!Inside(skin, q.x, q.y))
            continue;
        ++inside;
        onSkin += skin.at<uint8_t>(q) != 0;
    }
    return inside > 0 ? double(onSkin) / inside : 0.0;
}

namespace {

// The face's skin colour in CIE Lab: between the eye centres, from below the eyes to the mouth;
// false when that box lies off the atlas.
bool FaceSkinLab(const cv::Mat& atlas, const THeadAttributes* c, const TAtlasLayout& a, cv::Scalar& skin)
{
    const THPoint* const* f = c->front;
    const int top = std::max(f[5]->y, f[10]->y) - f[24]->y + a.M, bottom = f[11]->y - f[24]->y + a.M;
    cv::Rect cheeks = cv::Rect(f[1]->x - f[2]->x + a.Q + a.M, top, f[6]->x - f[1]->x, bottom - top) & cv::Rect(0, 0, a.Wa, a.Ha);
    if (cheeks.empty())
        return false;
    skin = cv::mean(LabOf(atlas, cheeks));
    return true;
}

// The share of the disc's pixels (every `step`, inside `area`, whose Lab colours `lab` holds) that
// are of hair colour and not background.
double HairColouredShare(const cv::Mat& lab, cv::Rect area, const cv::Mat& background, const cv::Scalar& skin,
                         cv::Point centre, const std::vector<cv::Point>& disc)
{
    int inside = 0, hair = 0;
    for (const cv::Point& d : disc) {
        const cv::Point q = centre + d;
        if (!area.contains(q))
            continue;
        ++inside;
        const bool backdrop = !background.empty() && background.at<uint8_t>(q) != 0;
        hair += !backdrop && HairColoured(lab.at<cv::Vec3f>(q - area.tl()), skin);
    }
    return inside > 0 ? double(hair) / inside : 0.0;
}

// A disc this much of hair colour shows hair.
constexpr double kHairShare = 0.6;

}  // namespace

cv::Point TTextureCreator::FrontHair(const cv::Mat& atlas, const cv::Mat& background, const THeadAttributes* c,
                                     const TAtlasLayout& a)
{
    const THPoint* const* f = c->front;
    cv::Scalar skin;
    if (!UsableColourImage(atlas) || atlas.size() != cv::Size(a.Wa, a.Ha) || !FaceSkinLab(atlas, c, a, skin))
        return {-1, -1};
    const int r = SourceRadius(c);
    const int x = f[16]->x - f[2]->x + a.Q + a.M;
    const int eyes = std::min(f[4]->y, f[9]->y) - f[24]->y + a.M;
    // The column the discs climb, from the eyes to the top of the head.
    cv::Rect column(x - r - 1, 0, 2 * r + 3, std::max(0, eyes + 1));
    const cv::Mat lab = LabOf(atlas, column);
    const std::vector<cv::Point> disc = Disc(r, std::max(1, r / 8));
    // Up from the eyes over the forehead: the first disc that is mostly not of the skin's colour is
    // the hair line (the brows are too thin to fill one); above it, half a radius further, the hair
    // itself. The disc stays below the top of the head, beyond which the photo shows what is behind it.
    for (int y = eyes - r; y >= a.M + r; --y)
        if (HairColouredShare(lab, column, background, skin, {x, y}, disc) >= kHairShare)
            return {x, std::max(a.M + r, y - r / 2)};
    return {-1, -1};
}

bool TTextureCreator::ShowsHair(const cv::Mat& atlas, const cv::Mat& skin, const cv::Mat& background,
                                const THeadAttributes* c, const TAtlasLayout& a, cv::Point centre)
{
    cv::Scalar face;
    if (!UsableColourImage(atlas) || atlas.size() != cv::Size(a.Wa, a.Ha) || !FaceSkinLab(atlas, c, a, face))
        return false;
    const int r = SourceRadius(c);
    if (!skin.empty() && SkinShare(skin, centre, r) >= 0.5)
        return false;
    cv::Rect area(centre.x - r, centre.y - r, 2 * r + 1, 2 * r + 1);
    const cv::Mat lab = LabOf(atlas, area);
    return !lab.empty() && HairColouredShare(lab, area, background, face, centre, Disc(r, std::max(1, r / 8))) >= kHairShare;
}

THairSources TTextureCreator::HairSources(const cv::Mat& atlas, const cv::Mat& skin, const cv::Mat& background,
                                          const THeadAttributes* c, const TAtlasLayout& a, cv::Point strands,
                                          cv::Point patches)
{
    THairSources sources;
    const bool strandsHair = ShowsHair(atlas, skin, background, c, a, strands);
    const bool patchesHair = ShowsHair(atlas, skin, background, c, a, patches);
    // Both take the first of: the patches' own source, the strands' own place, the front photo's
    // hair line, that shows hair. A photo that shows none gives the strands the scalp the hair
    // patches take: skin-coloured strands, not the colour of whatever lies at their own place.
    cv::Point hair = patchesHair ? patches : strandsHair ? strands : FrontHair(atlas, background, c, a);
    if (!patchesHair && hair.x >= 0)
        sources.patches = hair;
    if (!strandsHair)
        sources.strands = hair.x >= 0 ? hair : patches;
    return sources;
}

cv::Point TTextureCreator::ChinSkin(const cv::Mat& atlas, const cv::Mat& skin, const THeadAttributes* c,
                                    const TAtlasLayout& a, int* radius)
{
    const THPoint* const* f = c->front;
    if (!UsableColourImage(atlas) || atlas.size() != cv::Size(a.Wa, a.Ha))
        return {-1, -1};
    auto atlasX = [&](int x) { return x - f[2]->x + a.Q + a.M; };
    auto atlasY = [&](int y) { return y - f[24]->y + a.M; };
    // The skin between the lower lip and the chin: a disc that fits between them, anywhere across
    // the mouth's width at their middle height.
    const int lip = std::max(f[15]->y, f[11]->y), chin = f[23]->y;
    const int r = std::clamp((chin - lip) * 2 / 5, 2, std::max(2, (f[23]->y - f[24]->y) / 8));
    const int y = atlasY((lip + chin) / 2);
    const int x0 = atlasX(std::min(f[12]->x, f[13]->x)), x1 = atlasX(std::max(f[12]->x, f[13]->x));
    // The band the discs are laid in.
    cv::Rect band(x0 - r, y - r, x1 - x0 + 2 * r + 1, 2 * r + 1);
    const cv::Mat lab = LabOf(atlas, band);
    const std::vector<cv::Point> disc = Disc(r, std::max(1, r / 8));
    cv::Point best{-1, -1};
    double bestSpread = 1e300;
    for (int x = x0; x <= x1; x += std::max(1, r / 4)) {
        if (x - r < 0 || y - r < 0 || x + r >= a.Wa || y + r >= a.Ha)
            continue;
        if (!skin.empty() && SkinShare(skin, {x, y}, r) < 0.9)
            continue;
        cv::Vec3d sum(0, 0, 0), sum2(0, 0, 0);
        for (const cv::Point& d : disc) {
            const cv::Vec3f v = lab.at<cv::Vec3f>(y + d.y - band.y, x + d.x - band.x);
            for (int k = 0; k < 3; ++k)
                sum[k] += v[k], sum2[k] += double(v[k]) * v[k];
        }
        const double n = static_cast<double>(disc.size());
        double spread = 0;
        for (int k = 0; k < 3; ++k)
            spread += std::sqrt(std::max(0.0, sum2[k] / n - (sum[k] / n) * (sum[k] / n)));
        if (spread < bestSpread)
            bestSpread = spread, best = {x, y};
    }
    if (radius)
        *radius = best.x >= 0 ? r : 0;
    return best;
}

namespace {

// Fills `area` (clipped to the image) with the mean colour of the disc of `radius` around `centre`;
// leaves the image as it is when the disc lies off it.
void FillWithDiscMean(cv::Mat& image, cv::Point centre, int radius, cv::Rect area)
{
    const cv::Rect disc = cv::Rect(centre.x - radius, centre.y - radius, 2 * radius + 1, 2 * radius + 1) &
                          cv::Rect(0, 0, image.cols, image.rows);
    area &= cv::Rect(0, 0, image.cols, image.rows);
    if (disc.empty() || area.empty())
        return;
    cv::Mat mask(disc.size(), CV_8U, cv::Scalar(0));
    cv::circle(mask, centre - disc.tl(), radius, cv::Scalar(255), cv::FILLED);
    if (cv::countNonZero(mask) == 0)
        return;
    image(area).setTo(cv::mean(image(disc), mask));
}

}  // namespace

std::array<int, 10> TTextureCreator::PaintPatches(cv::Mat& atlas, const THeadAttributes* c, const TAtlasLayout& a, TTexCoord hairTarget,
                                                  const TPatchSources& sources)
{
    const THPoint* const* f = c->front;
    const int Wa = a.Wa, Ha = a.Ha, M = a.M;
    const int Ws = f[26]->x - f[25]->x;
    const int Hs = f[23]->y - f[24]->y;
    const int anchorX = a.Q + a.M;
    const int r8 = Hs / 8;
    const int ws8 = Ws / 8;
    const int midY = (f[16]->y + f[11]->y) / 2 - f[24]->y + M;
    const int hx = sources.hair.x >= 0 ? sources.hair.x : Rounded(static_cast<double>(hairTarget.u) * Wa);
    const int hy = sources.hair.x >= 0 ? sources.hair.y : Rounded((1.0 - static_cast<double>(hairTarget.v) - 0.15) * Ha);
    const bool ownChin = sources.chin.x >= 0 && sources.chinRadius > 0;
    const cv::Point chin = ownChin ? sources.chin : cv::Point(anchorX - Ws / 6, midY);
    // Skin from between the lip and the chin comes in smaller patches, laid as densely.
    const int chinRadius = ownChin ? sources.chinRadius : r8;

    std::array<int, 10> calls{};
    int group = 0;
    auto patch = [&](int cx, int cy, int tx, int ty, int radius, float hardness) {
        BlendPatch(atlas, atlas, cx, cy, tx, ty, radius, hardness);
        ++calls[group];
    };

    // A step of 0 (a face under 8 pixels) would never end these loops: such groups are skipped.
    group = 0;
    // 1: skin into the band below the chin. The feathered patches leave a little of what lay
    // beneath them between their centres (the neck, the clothes): laid on the source's own mean
    // colour first, they show no grid of dots.
    if (chinRadius > 0) {
        const int firstRow = Ha - (Ha - Hs - M - 1) / chinRadius * chinRadius;
        FillWithDiscMean(atlas, chin, chinRadius, cv::Rect(0, firstRow, Wa, Ha - firstRow));
    }
    if (chinRadius > 0)
        for (int x = 0; x < Wa; x += chinRadius)
            for (int y = Ha; y > Hs + M; y -= chinRadius)
                patch(chin.x, chin.y, x, y, chinRadius, 0.3f);
    group = 1;
    // 2, 3: cheek skin on the two jaw corners.
    const int jawY = Truncated(Hs + M - 0.05 * Hs);
    patch(anchorX - Ws / 4, midY, Rounded((0.7 * Ws + Wa) * 0.5), jawY, Hs / 6, 0.2f);
    group = 2;
    patch(anchorX - Ws / 4, midY, Rounded((Wa - 0.7 * Ws) * 0.5), jawY, Hs / 6, 0.2f);
    group = 3;
    // 4: hair above the top of the head.
    if (r8 > 0)
        for (int x = 0; x < Wa; x += r8)
            for (int y = 0; y <= M - 0.01 * Hs; y += r8)
                patch(hx, hy, x, y, r8, 0.6f);
    group = 4;
    // 5, 6: hair along the left and right edges down to just above the chin.
    if (r8 > 0 && ws8 > 0) {
        for (int x = 0; x < M + 0.02 * Ws; x += ws8)
            for (int y = 0; y < Hs + M - 0.06 * Hs; y += r8)
                patch(hx, hy, x, y, r8, 0.6f);
        group = 5;
        for (int x = Wa; x > Wa - (0.02 * Ws + M); x -= ws8)
            for (int y = 0; y < Hs + M - 0.06 * Hs; y += r8)
                patch(hx, hy, x, y, r8, 0.6f);
    }
    group = 6;
    // 7, 8: the two upper corners.
    patch(hx, hy, Truncated(1.3 * M), Truncated(1.5 * M), r8, 0.6f);
    group = 7;
    patch(hx, hy, Truncated(Wa - 1.3 * M), Truncated(1.5 * M), r8, 0.6f);
    group = 8;
    // 9, 10: skin over each eye (the eyeballs carry their own texture), where the mesh's eye
    // opening took its coordinates; without it, at the photo's eye centre. The skin comes from just
    // below the eye.
    auto skinOverEye = [&](cv::Point mesh, cv::Point photoCentre, int bottom, int width, int height, int side) {
        const bool onMesh = mesh.x >= 0;
        const cv::Point centre = onMesh ? mesh : photoCentre;
        const int below = onMesh ? height / 2 : bottom - photoCentre.y;
        for (int i = 0; i < 5; ++i) {
            const int radius = Rounded(0.6 * height * Max(static_cast<float>(1.4 - Abs(i - 2)), 1.0f));
            patch(centre.x, centre.y + below + Rounded(0.03 * Hs), Truncated(centre.x + side * 0.2 * (i - 2) * width),
                  centre.y, radius, 0.09f);
        }
    };
    const int top = f[FrontPoint::TopHead]->y - M;  // the atlas row of photo row 0
    const int leftWidth = f[FrontPoint::LeftEyeRight]->x - f[FrontPoint::LeftEyeLeft]->x;
    const int rightWidth = f[FrontPoint::RightEyeRight]->x - f[FrontPoint::RightEyeLeft]->x;
    skinOverEye(sources.leftEye, {anchorX + leftWidth / 2, f[FrontPoint::LeftEyeCenter]->y - top},
                f[FrontPoint::LeftEyeBottom]->y - top, leftWidth,
                Abs(f[FrontPoint::LeftEyeBottom]->y - f[FrontPoint::LeftEyeTop]->y), -1);
    group = 9;
    skinOverEye(sources.rightEye, {Wa - (anchorX + rightWidth / 2), f[FrontPoint::RightEyeCenter]->y - top},
                f[FrontPoint::RightEyeBottom]->y - top, rightWidth,
                Abs(f[FrontPoint::RightEyeBottom]->y - f[FrontPoint::RightEyeTop]->y), 1);
    return calls;
}

// ---------------------------------------------------------------------------------------------
// Photo background

namespace {

// Neighbouring pixels of one backdrop differ by at most this much in each channel: a plain or
// smoothly lit backdrop floods, while its edge against hair or a face stops the flood.
constexpr int kBackdropStep = 6;
// The head's outline blends into the backdrop over about this many pixels.
constexpr int kOutlineBlend = 2;
// The fill is softened over this many pixels, so that it carries no streaks.
constexpr int kFillSoftening = 9;
// Beyond the marked background, the outline's pixels still mix in the backdrop over about this many.
constexpr int kFringe = 3;

// Calls visit(x, y) for every pixel on the photo's edge (corners twice).
template <class Visit>
void ForEachEdgePixel(const cv::Mat& photo, Visit visit)
{
    for (int x = 0; x < photo.cols; ++x) {
        visit(x, 0);
        visit(x, photo.rows - 1);
    }
    for (int y = 0; y < photo.rows; ++y) {
        visit(0, y);
        visit(photo.cols - 1, y);
    }
}

// The median colour of a photo's outermost pixels, per channel.
cv::Vec3b EdgeMedian(const cv::Mat& photo)
{
    std::vector<uint8_t> channel[3];
    auto add = [&](int x, int y) {
        const cv::Vec3b c = photo.at<cv::Vec3b>(y, x);
        for (int k = 0; k < 3; ++k)
            channel[k].push_back(c[k]);
    };
    ForEachEdgePixel(photo, add);
    cv::Vec3b median;
    for (int k = 0; k < 3; ++k) {
        auto middle = channel[k].begin() + static_cast<long>(channel[k].size() / 2);
        std::nth_element(channel[k].begin(), middle, channel[k].end());
        median[k] = *middle;
    }
    return median;
}

// A mask of one photo's background scaled to its work image.
cv::Mat WorkBackground(const cv::Mat& photo, const cv::Mat& skin, const cv::Mat& work)
{
    cv::Mat background = TTextureCreator::BackgroundMask(photo, skin);
    if (background.empty())
        return cv::Mat(work.size(), CV_8UC1, cv::Scalar(0));
    if (background.size() != work.size())
        cv::resize(background, background, work.size(), 0, 0, cv::INTER_NEAREST);
    return background;
}

// A photo's skin mask scaled to its work image; empty when there is none.
cv::Mat WorkSkin(const cv::Mat& skin, const cv::Mat& work)
{
    if (skin.empty() || skin.type() != CV_8UC1)
        return cv::Mat();
    if (skin.size() == work.size())
        return skin;
    cv::Mat scaled;
    cv::resize(skin, scaled, work.size(), 0, 0, cv::INTER_NEAREST);
    return scaled;
}

}  // namespace

cv::Mat TTextureCreator::BackgroundMask(const cv::Mat& photo, const cv::Mat& skin)
{
    if (photo.empty() || photo.type() != CV_8UC3 || skin.size() != photo.size() || skin.type() != CV_8UC1)
        return cv::Mat();
    // The flood's mask is one pixel wider on every side; its non-zero pixels (skin) stop the flood.
    cv::Mat mask(photo.rows + 2, photo.cols + 2, CV_8UC1, cv::Scalar(0));
    cv::Mat inner = mask(cv::Rect(1, 1, photo.cols, photo.rows));
    inner.setTo(1, skin);
    cv::Mat image = photo;  // read only: the flood writes its mask alone
    const cv::Scalar step(kBackdropStep, kBackdropStep, kBackdropStep);
    const int flags = 4 | cv::FLOODFILL_MASK_ONLY | (255 << 8);
    // The backdrop is what most of the photo's edge shows; the flood starts only there, so that
    // hair cut off by the edge is no backdrop.
    const cv::Vec3b backdrop = EdgeMedian(photo);
    auto flood = [&](int x, int y) {
        const cv::Vec3b c = photo.at<cv::Vec3b>(y, x);
        bool seed = inner.at<uint8_t>(y, x) == 0;
        for (int k = 0; k < 3; ++k)
            seed = seed && std::abs(int(c[k]) - int(backdrop[k])) <= 2 * kBackdropStep;
        if (seed)
            cv::floodFill(image, mask, cv::Point(x, y), cv::Scalar(), nullptr, step, step, flags);
    };
    ForEachEdgePixel(photo, flood);
    cv::Mat background = inner == 255;
    // A plain backdrop also shows through gaps that hair closes off from the edge: its colour marks
    // them wherever it is not skin.
    cv::Scalar mean, deviation;
    cv::meanStdDev(photo, mean, deviation, background);
    if (cv::countNonZero(background) > 0 &&
        std::max({deviation[0], deviation[1], deviation[2]}) <= kBackdropStep) {
        cv::Mat plain;
        cv::inRange(photo, mean - step, mean + step, plain);
        background.setTo(255, plain & (inner == 0));
    }
    const int size = 2 * kOutlineBlend + 1;
    cv::dilate(background, background, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(size, size)));
    return background;
}

void TTextureCreator::KeepBackgroundOut(cv::Mat& atlas, const cv::Mat& background)
{
    if (atlas.empty() || atlas.type() != CV_8UC3 || background.size() != atlas.size())
        return;
    const cv::Mat marked = background != 0;
    const int count = cv::countNonZero(marked);
    if (count == 0 || count == static_cast<int>(atlas.total()))
        return;
    // The fill's colours come from beyond the outline's fringe, whose pixels mix the backdrop into
    // the hair or skin: taken from there, the fill would carry the backdrop's tint onto the crown.
    cv::Mat notSource;
    const int fringe = 2 * kFringe + 1;
    cv::dilate(marked, notSource, cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(fringe, fringe)));
    if (cv::countNonZero(notSource) == static_cast<int>(atlas.total()))
        notSource = marked;
    const cv::Mat filled = FillFromNearestUnmarked(atlas, notSource);
    // Only the marked pixels take the softened fill: the blur runs over their bounding box alone,
    // reading the pixels around it as a blur of the whole atlas would.
    const cv::Rect box = cv::boundingRect(marked);
    cv::Mat soft;
    cv::blur(filled(box), soft, cv::Size(kFillSoftening, kFillSoftening));
    soft.copyTo(atlas(box), marked(box));
}

// ---------------------------------------------------------------------------------------------
// The whole build

cv::Mat TTextureCreator::CreateTexture(const cv::Mat& frontPhoto, const cv::Mat& profilePhoto,
                                       const THeadAttributes* attributes, TGeometry* headGeometry,
                                       TGeometry* hairsGeometry, const TWeightManager* weights,
                                       const TGenericHead& generic, const cv::Mat& frontSkin,
                                       const cv::Mat& profileSkin, cv::Mat* normalMapOut,
                                       const TDeformedHead* deformed)
{
    if (frontPhoto.empty() || profilePhoto.empty() || !attributes)
        return cv::Mat();
    if (!UsableColourImage(frontPhoto) || !UsableColourImage(profilePhoto)) {
        ShowMessage(AtlasMessage);
        return cv::Mat();
    }

    // Scale matching: the photo with the smaller face is enlarged to the other's face height.
    const int Hf = Abs(attributes->front[23]->y - attributes->front[24]->y);
    const int Hp = Abs(attributes->profile[13]->y - attributes->profile[12]->y);
    if (Hf == 0 || Hp == 0) {
        ShowMessage(AtlasMessage);
        return cv::Mat();
    }
    cv::Mat frontWork, profileWork;
    std::unique_ptr<THeadAttributes> scaled;
    auto enlarge = [](const cv::Mat& photo, float s, cv::Mat& work) {
        const double w = Rounded(photo.cols * static_cast<double>(s));
        const double h = Rounded(photo.rows * static_cast<double>(s));
        if (!SizeAllowed(w, h))
            return false;
        cv::resize(photo, work, cv::Size(static_cast<int>(w), static_cast<int>(h)), 0, 0, cv::INTER_LINEAR);
        return true;
    };
    if (Hf < Hp) {
        const float s = static_cast<float>(Hp) / static_cast<float>(Hf);
        profileWork = profilePhoto;
        if (!enlarge(frontPhoto, s, frontWork)) {
            ShowMessage(AtlasMessage);
            return cv::Mat();
        }
        scaled.reset(attributes->CloneScaledFront(s));
    } else {
        const float s = static_cast<float>(Hf) / static_cast<float>(Hp);
        frontWork = frontPhoto;
        if (!enlarge(profilePhoto, s, profileWork)) {
            ShowMessage(AtlasMessage);
            return cv::Mat();
        }
        scaled.reset(attributes->CloneScaledProfile(s));
    }

    const TAtlasLayout layout = MeasureAtlas(scaled.get());
    if (!layout.valid) {
        ShowMessage(AtlasMessage);
        return cv::Mat();
    }

    const cv::Mat frontSkinWork = WorkSkin(frontSkin, frontWork), profileSkinWork = WorkSkin(profileSkin, profileWork);
    cv::Mat atlas = FillAtlas(frontWork, profileWork, scaled.get(), layout);
    BlendSeams(atlas, frontWork, profileWork, scaled.get(), layout, true, frontSkinWork, profileSkinWork);
    // The photos' background (channel 0) and skin (channel 1), carried into the atlas the way the
    // photos are, in one pass (the fill and the seam blend treat each channel alike), the seams'
    // shares by the same skin masks.
    cv::Mat background, skinAtlas;
    if (!frontSkinWork.empty() && !profileSkinWork.empty()) {
        auto masks = [](const cv::Mat& photoBackground, const cv::Mat& skin) {
            cv::Mat both;
            cv::merge(std::vector<cv::Mat>{photoBackground, skin, skin}, both);
            return both;
        };
        const cv::Mat front = masks(WorkBackground(frontPhoto, frontSkin, frontWork), frontSkinWork);
        const cv::Mat profile = masks(WorkBackground(profilePhoto, profileSkin, profileWork), profileSkinWork);
        cv::Mat both = FillAtlas(front, profile, scaled.get(), layout);
        BlendSeams(both, front, profile, scaled.get(), layout, false, frontSkinWork, profileSkinWork);
        cv::extractChannel(both, background, 0);
        cv::extractChannel(both, skinAtlas, 1);
        skinAtlas = skinAtlas >= 128;
        KeepBackgroundOut(atlas, background);
    }
    TFittedFeatures features;
    const TTexCoord fittedHair =
        FitTextureCoordinates(scaled.get(), layout, headGeometry, hairsGeometry, weights, generic, deformed, &features);
    const TTexCoord hairTarget = fittedHair;

    // Where the profile above the ear shows skin, the hair takes its colour from the front photo's
    // hair above the forehead; the band below the chin takes skin from near the chin.
    TPatchSources sources;
    auto atlasPixel = [&](TTexCoord t) {
        return t.u < 0 ? cv::Point(-1, -1) : cv::Point(Rounded(double(t.u) * layout.Wa), Rounded((1.0 - double(t.v)) * layout.Ha));
    };
    sources.leftEye = atlasPixel(features.leftEye);
    sources.rightEye = atlasPixel(features.rightEye);
    sources.chin = ChinSkin(atlas, skinAtlas, scaled.get(), layout, &sources.chinRadius);
    if (!skinAtlas.empty()) {
        const cv::Point strands(Rounded(double(fittedHair.u) * layout.Wa), Rounded((1.0 - double(fittedHair.v)) * layout.Ha));
        const cv::Point patches(strands.x, Rounded((1.0 - double(fittedHair.v) - 0.15) * layout.Ha));
        const THairSources hair = HairSources(atlas, skinAtlas, background, scaled.get(), layout, strands, patches);
        sources.hair = hair.patches;
        if (hair.strands.x >= 0 && hairsGeometry) {
            const TTexCoord to = AtlasCoord(hair.strands.x, hair.strands.y, layout);
            for (size_t k = 0; k < hairsGeometry->texCoords.size(); ++k)
                hairsGeometry->texCoords[k] += k % 2 == 0 ? to.u - fittedHair.u : to.v - fittedHair.v;
        }
    }

    const std::string folder = ProgramFolder();
    const cv::Mat eye = CreateEyeTexture(frontPhoto, attributes);
    if (!eye.empty())
        SaveBitmap(folder + "data/textures/eye.bmp", eye);

    PaintPatches(atlas, scaled.get(), layout, hairTarget, sources);

    const cv::Mat normalMap = CreateNormalMap(atlas);
    if (!normalMap.empty() && !normalMapOut)
        SaveBitmap(folder + "data/textures/normalmap.bmp", normalMap);
    if (normalMapOut)
        *normalMapOut = normalMap;
    return atlas;
}
