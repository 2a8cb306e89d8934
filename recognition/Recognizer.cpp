#include "recognition/Recognizer.h"
#include "recognition/FrontProportions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <new>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/base/Exception.h"
#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/base/Paths.h"

namespace {
const char* const kSkinTablePath = "data/SkinLocusYCrCb.jpg";
const char* const kNoSkinTable = "Skin colour table is not loaded";

// Channel 0 of the table below this value marks a skin colour.
constexpr int kSkinThreshold = 244;

// Nearest integer to num / den (den > 0), halves to even, computed exactly.
int RoundRatio(long long num, long long den)
{
    long long q = num / den, rem = num % den;
    if (rem < 0) {
        rem += den;
        --q;
    }
    if (2 * rem > den || (2 * rem == den && (q & 1) != 0))
        ++q;
    return int(q);
}

int Trunc(double v)
{
    return int(v); // toward zero
}

std::unique_ptr<cv::CascadeClassifier> LoadCascade(const std::string& relativePath)
{
    auto cascade = std::make_unique<cv::CascadeClassifier>();
    try {
        if (cascade->load(ProgramFolder() + relativePath) && !cascade->empty())
            return cascade;
    } catch (const cv::Exception&) {
        // A damaged file counts as missing.
    }
    return nullptr;
}

bool ReadPhoto(const std::string& path, cv::Mat& out)
{
    try {
        cv::Mat loaded = cv::imread(path, cv::IMREAD_COLOR);
        if (loaded.empty() || loaded.type() != CV_8UC3)
            return false;
        out = loaded;
        return true;
    } catch (const cv::Exception&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// Skin colours by (Cr, Cb), read once per recognition from the table's channel 0.
struct SkinLookup {
    std::uint8_t isSkin[256][256]; // [Cr][Cb]

    explicit SkinLookup(const cv::Mat& table)
    {
        for (int cr = 0; cr < 256; ++cr)
            for (int cb = 0; cb < 256; ++cb)
                isSkin[cr][cb] = TRecognizer::GetPixel(table, cr, cb, 0) < kSkinThreshold ? 255 : 0;
    }
};

// Single-channel mask of the photo: 255 where the pixel's colour is skin, else 0.
cv::Mat SkinMask(const cv::Mat& photo, const cv::Mat& table)
{
    const SkinLookup lookup(table);
    cv::Mat ycrcb;
    cv::cvtColor(photo, ycrcb, cv::COLOR_BGR2YCrCb);
    cv::Mat mask(photo.rows, photo.cols, CV_8UC1);
    for (int y = 0; y < ycrcb.rows; ++y) {
        const std::uint8_t* in = ycrcb.ptr<std::uint8_t>(y);
        std::uint8_t* out = mask.ptr<std::uint8_t>(y);
        for (int x = 0; x < ycrcb.cols; ++x)
            out[x] = lookup.isSkin[in[3 * x + 1]][in[3 * x + 2]];
    }
    return mask;
}

// Scans row y of the mask from `x` in steps of `step` until a skin pixel, the image's inner edge
// or `limit` (reached when x passes it in the scan's direction). Returns true with the final x
// only when the scan stopped on skin: an edge or the limit is no outline.
bool ScanToSkin(const cv::Mat& mask, int x, int y, int step, int limit, int& stoppedAt)
{
    const int w = mask.cols, h = mask.rows;
    for (;;) {
        const bool readable = x > 0 && x < w - 1 && y > 0 && y < h - 1;
        if (!readable)
            break;
        if (mask.at<std::uint8_t>(y, x) != 0) {
            stoppedAt = x;
            return true;
        }
        if (step > 0 ? x >= limit : x <= limit)
            break;
        x += step;
    }
    stoppedAt = x;
    return false;
}

// Drops the first and last point; every other x becomes the median of it and its neighbours.
std::vector<cv::Point> Median3Smooth(const std::vector<cv::Point>& list)
{
    std::vector<cv::Point> out;
    for (size_t k = 1; k + 1 < list.size(); ++k)
        out.emplace_back(TRecognizer::Median3(list[k - 1].x, list[k].x, list[k + 1].x), list[k].y);
    return out;
}

cv::Point CentreOf(const cv::Rect& region, const cv::Rect& hit)
{
    return {RoundHalfEven(region.x + hit.x + hit.width * 0.5), RoundHalfEven(region.y + hit.y + hit.height * 0.5)};
}

void KeepInside(THPoint* const* points, int count, int w, int h)
{
    for (int i = 0; i < count; ++i)
        points[i]->SetPosition(std::clamp(points[i]->x, 0, std::max(w - 1, 0)),
                               std::clamp(points[i]->y, 0, std::max(h - 1, 0)));
}

// The smoothed skin silhouette of a profile photo with its centroid and outline.
struct Silhouette {
    cv::Mat mask;     // skin mask of the photo
    cv::Mat smoothed; // 31 x 31 median of the mask
    bool hasCentroid = false;
    int cx = 0, cy = 0;
    std::vector<cv::Point> contour; // one point per ray that ends inside the photo

    void Measure()
    {
        long long sumX = 0, sumY = 0, count = 0;
        for (int y = 0; y < smoothed.rows; ++y) {
            const std::uint8_t* row = smoothed.ptr<std::uint8_t>(y);
            long long rowCount = 0, rowSum = 0;
            for (int x = 0; x < smoothed.cols; ++x)
                if (row[x] == 255) {
                    ++rowCount;
                    rowSum += x;
                }
            count += rowCount;
            sumX += rowSum;
            sumY += rowCount * y;
        }
        contour.clear();
        hasCentroid = count > 0;
        if (!hasCentroid)
            return;
        cx = RoundHalfEven(double(sumX) / double(count));
        cy = RoundHalfEven(double(sumY) / double(count));
        const int w = smoothed.cols, h = smoothed.rows;
        for (int i = 0; i < 100; ++i) {
            const float a = float(i) * 0.06283185307179587f;
            const int sx = RoundHalfEven(5.0 * std::cos(double(a))), sy = RoundHalfEven(5.0 * std::sin(double(a)));
            int x = cx, y = cy;
            while (x >= 0 && x < w && y >= 0 && y < h && smoothed.at<std::uint8_t>(y, x) == 255) {
                x += sx;
                y += sy;
            }
            if (x >= 0 && x < w && y >= 0 && y < h)
                contour.emplace_back(x, y);
        }
    }

    Silhouette(const cv::Mat& photo, const cv::Mat& table)
    {
        mask = SkinMask(photo, table);
        cv::medianBlur(mask, smoothed, 31);
        Measure();
    }

    // The silhouette of the mirrored photo: mask and median commute with a horizontal flip.
    void Flip()
    {
        cv::flip(mask, mask, 1);
        cv::flip(smoothed, smoothed, 1);
        Measure();
    }
};

// Chin on a face line (left-facing, top row first): walking up from the bottom to the centroid row,
// the largest step back to the right after which the line stays back, as it does when it runs into
// the throat: no point below the step comes forward past the step's middle. An open mouth is a step
// back that the lower lip and the chin undo, so it is not taken. Returns the index of the point
// above the step (the earlier walk position wins ties), or 0 when there is none.
size_t ChinIndex(const std::vector<cv::Point>& line, int cy)
{
    int bestJump = 0;
    size_t chin = 0;
    int frontmostBelow = line.back().x;
    for (size_t k = line.size() - 1; k >= 1; --k) {
        if (line[k].y < cy)
            break;
        frontmostBelow = std::min(frontmostBelow, line[k].x);
        const int jump = line[k].x - line[k - 1].x;
        const bool staysBack = 2 * (frontmostBelow - line[k - 1].x) > jump;
        if (jump > 0 && jump > bestJump && staysBack) {
            bestJump = jump;
            chin = k - 1;
        }
    }
    return chin;
}

// Moves the bottom border onto the chin of the face line below row `fromRow`; false (the border
// left as it is) when the line shows none.
bool PlaceChin(const std::vector<cv::Point>& line, int fromRow, THPoint* bottom)
{
    if (line.size() < 2)
        return false;
    const size_t chin = ChinIndex(line, fromRow);
    if (chin == 0)
        return false;
    bottom->MoveTo(line[chin].x, line[chin].y);
    return true;
}

// The nose root lies below the brow. On the generic head the brow, one unit above the eye (the top
// of the band in which its nose root was taken), is 2.23 units above the nose tip: 0.2713 of its
// 8.21-unit height from crown to chin.
constexpr double kBrowOverTip = 0.2713;

// Nose root on a face line: from the tip upward, the point where the line stops receding, that is
// where the next two rows up are no further back (one flat row is only sampling), and never above
// the brow, so that a sloping forehead is not climbed to the crown. headHeight in pixels.
size_t NoseRootIndex(const std::vector<cv::Point>& line, size_t tip, int headHeight)
{
    const double limit = line[tip].y - kBrowOverTip * headHeight;
    auto recedes = [&](size_t k, size_t from) { return line[k].y >= limit && line[k].x > line[from].x; };
    size_t root = tip;
    for (size_t k = tip; k-- > 0;) {
        if (recedes(k, root))
            root = k;
        else if (!(k > 0 && recedes(k - 1, root)))
            break;
    }
    return root;
}

// The generic head's own profile points in its side view (data/models/head_features.txt: model
// units, x toward the back of the head, y downward): what each recognized profile point means.
struct ViewPoint {
    double x, y;
};
constexpr ViewPoint kGenericTip{-1.69837, 0.725471}, kGenericRoot{-1.246, -0.456191}, kGenericChin{0.0362422, 2.99467},
    kGenericEye{-0.732, -0.502}, kGenericTop{2.51911, -5.21508}, kGenericBack{5.87946, 3.3965}, kGenericEar{2.764, -0.656},
    kGenericEarLeft{2.26176, -0.738752}, kGenericEarRight{3.21168, -1.05058}, kGenericEarTop{2.68648, -1.59214},
    kGenericEarBottom{2.70276, 0.282428};

// The generic head's side view laid over a profile photo by the features the face line shows
// reliably: the nose root and tip where they were found, the photo's nose-root-to-chin height for
// the generic head's. Points hidden under hair or lost in the background (ears, the back and the
// top of the skull) and the eye, which the silhouette does not show, are placed from it.
struct GenericScale {
    cv::Point root, tip;
    double perUnit; // photo pixels a model unit

    GenericScale(cv::Point noseRoot, cv::Point noseTip, int chinY)
        : root(noseRoot), tip(noseTip), perUnit(double(chinY - noseRoot.y) / (kGenericChin.y - kGenericRoot.y))
    {
    }
    // A generic point placed by its offset from the nose root, or from the tip of the nose.
    cv::Point FromRoot(ViewPoint q) const { return At(root, kGenericRoot, q); }
    cv::Point FromTip(ViewPoint q) const { return At(tip, kGenericTip, q); }

private:
    cv::Point At(cv::Point origin, ViewPoint from, ViewPoint q) const
    {
        return {origin.x + RoundHalfEven((q.x - from.x) * perUnit), origin.y + RoundHalfEven((q.y - from.y) * perUnit)};
    }
};

// The points that the silhouette does not show, placed where they are on the generic head laid
// over the photo (GenericScale): the eye, the ear, the back and the top of the skull, which
// hair covers and the background hides on real photos. The head borders then mean what the generic
// head's own points mean: left the tip of the nose, right the back of the skull, top the crown,
// bottom the chin (when the face line showed one). The skin box's back and top are the hairline on
// a head with hair.
void PlaceByGenericHead(THPoint* const* p, bool chinFound)
{
    using namespace ProfilePoint;
    const GenericScale g(p[NoseRoot]->GetPosition(), p[NoseTip]->GetPosition(), p[BottomHead]->y);
    auto place = [](THPoint* point, cv::Point at) { point->MoveTo(at.x, at.y); };
    place(p[EyeCenter], g.FromRoot(kGenericEye));
    place(p[EarCenter], g.FromRoot(kGenericEar));
    place(p[EarLeft], g.FromRoot(kGenericEarLeft));
    place(p[EarRight], g.FromRoot(kGenericEarRight));
    place(p[EarTop], g.FromRoot(kGenericEarTop));
    place(p[EarBottom], g.FromRoot(kGenericEarBottom));
    if (!chinFound)
        return; // without a chin there is no scale: the borders stay on the skin box
    place(p[LeftHead], p[NoseTip]->GetPosition());
    place(p[RightHead], g.FromTip(kGenericBack));
    place(p[TopHead], g.FromRoot(kGenericTop));
}

// Where the neck is, against the silhouette's centroid: the mean x of the skin in the lowest tenth
// of the outline's box, minus cx. The neck carries the head behind the face, so it lies behind the
// centroid by a tenth to a quarter of the head's depth on the benchmark's heads, bald or with hair.
// Decisive when that is at least a twentieth of the box's width; 0 otherwise.
int NeckLead(const Silhouette& s)
{
    int minX = s.smoothed.cols, maxX = 0, minY = s.smoothed.rows, maxY = 0;
    for (const cv::Point& q : s.contour) {
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
        minY = std::min(minY, q.y);
        maxY = std::max(maxY, q.y);
    }
    long long sum = 0, count = 0;
    for (int y = std::max(maxY - (maxY - minY) / 10, 0); y <= maxY; ++y) {
        const std::uint8_t* row = s.smoothed.ptr<std::uint8_t>(y);
        for (int x = 0; x < s.smoothed.cols; ++x)
            if (row[x] == 255) {
                sum += x;
                ++count;
            }
    }
    if (count == 0)
        return 0;
    const int lead = RoundHalfEven(double(sum) / double(count)) - s.cx;
    return 20 * std::abs(lead) >= maxX - minX ? lead : 0;
}

// The facing of a silhouette: 0 when the face looks toward smaller x, 1 the other way. The neck
// decides (the face is on the side away from it); when it does not, the profile-face cascade breaks
// the tie (profileFaceVote: +1 for toward smaller x, -1 the other way, 0 no preference); last, the
// silhouette's reach: toward smaller x when the sum of cx - x over the outline is positive. False
// without evidence: no skin, no outline inside the photo, or no cue at all.
bool DecideFacing(const Silhouette& s, const std::function<int()>& profileFaceVote, int& orientation)
{
    if (!s.hasCentroid || s.contour.empty())
        return false;
    if (const int neck = NeckLead(s); neck != 0) {
        orientation = neck > 0 ? 0 : 1;
        return true;
    }
    if (const int vote = profileFaceVote(); vote != 0) {
        orientation = vote > 0 ? 0 : 1;
        return true;
    }
    long long sum = 0;
    for (const cv::Point& p : s.contour)
        sum += s.cx - p.x;
    if (sum == 0)
        return false;
    orientation = sum > 0 ? 0 : 1;
    return true;
}
}

TRecognizer::TRecognizer()
{
    detector = [this](TCascadeKind kind, const cv::Mat& grey, const TDetectParams& params) {
        return DetectWithCascades(kind, grey, params);
    };
    try {
        skinLocus = cv::imread(ProgramFolder() + kSkinTablePath, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
        skinLocus.release();
    }
    frontFaceCascade = LoadCascade("haarcascades/haarcascade_frontalface_alt_tree.xml");
    profileFaceCascade = LoadCascade("haarcascades/haarcascade_profileface.xml");
    eyeCascade = LoadCascade("haarcascades/haarcascade_eye_tree_eyeglasses.xml");
    noseCascade = LoadCascade("haarcascades/Nariz.xml");
    mouthCascade = LoadCascade("haarcascades/Mouth.xml");
    if (!frontFaceCascade)
        ShowMessage("Canot load fronthead Haar cascade");
    if (!profileFaceCascade)
        ShowMessage("Canot load profilehead Haar cascade");
    if (!eyeCascade)
        ShowMessage("Canot load eyes Haar cascade");
    if (!noseCascade)
        ShowMessage("Canot load nose Haar cascade");
    if (!mouthCascade)
        ShowMessage("Canot load mouth Haar cascade");
    if (!SkinTableUsable())
        ShowMessage(std::string("Cannot load skin colour table ") + kSkinTablePath +
                    " (an image of at least 256 x 256 pixels is needed)");
}

TRecognizer::~TRecognizer() = default;

bool TRecognizer::LoadFrontImage(const std::string& path)
{
    return ReadPhoto(path, frontImage);
}

bool TRecognizer::LoadProfileImage(const std::string& path)
{
    return ReadPhoto(path, profileImage);
}

int TRecognizer::GetPixel(const cv::Mat& image, int x, int y, int channel)
{
    return image.data[size_t(y) * image.step[0] + size_t(x) * image.channels() + channel];
}

void TRecognizer::SetPixel(cv::Mat& image, int x, int y, int value, int channel)
{
    image.data[size_t(y) * image.step[0] + size_t(x) * image.channels() + channel] = std::uint8_t(value);
}

int TRecognizer::Median3(int a, int b, int c)
{
    if ((b >= a && a >= c) || (c >= a && a >= b))
        return a;
    if ((a >= b && b >= c) || (c >= b && b >= a))
        return b;
    return c;
}

int TRecognizer::Abs(int v) { return std::abs(v); }

std::unique_ptr<TBitmap> TRecognizer::ImageToBitmap(const cv::Mat& image) const
{
    auto bitmap = std::make_unique<TBitmap>();
    if (image.empty())
        return bitmap;
    cv::Mat bgr;
    try {
        if (image.depth() != CV_8U)
            throw Exception("not an 8-bit image");
        if (image.channels() == 3)
            bgr = image;
        else if (image.channels() == 1)
            cv::cvtColor(image, bgr, cv::COLOR_GRAY2BGR);
        else if (image.channels() == 4)
            cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
        else
            throw Exception("unsupported channel count");
        bitmap->SetSize(bgr.cols, bgr.rows);
        for (int y = 0; y < bgr.rows; ++y)
            std::copy_n(bgr.ptr<std::uint8_t>(y), size_t(bgr.cols) * 3, bitmap->ScanLine(y));
    } catch (const Exception&) {
        ShowMessage("Error: canot convert image to bitmap");
    } catch (const cv::Exception&) {
        ShowMessage("Error: canot convert image to bitmap");
    } catch (const std::bad_alloc&) {
        ShowMessage("Error: canot convert image to bitmap");
    }
    return bitmap;
}

cv::Mat TRecognizer::ResizeToMax(const cv::Mat& image, int maxSide, bool force) const
{
    if (maxSide < 1 || image.empty())
        return cv::Mat();
    int w = image.cols, h = image.rows;
    if (force || maxSide < w || maxSide < h) {
        if (w > h) {
            h = RoundRatio(static_cast<long long>(h) * maxSide, w);
            w = maxSide;
        } else {
            w = RoundRatio(static_cast<long long>(w) * maxSide, h);
            h = maxSide;
        }
    }
    // A very thin photo keeps at least one pixel across.
    w = std::max(w, 1);
    h = std::max(h, 1);
    cv::Mat out;
    cv::resize(image, out, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    return out;
}

std::unique_ptr<TBitmap> TRecognizer::ResizedBitmap(const cv::Mat& image, int maxSide, bool force) const
{
    return ImageToBitmap(ResizeToMax(image, maxSide, force));
}

bool TRecognizer::SkinTableUsable() const
{
    return !skinLocus.empty() && skinLocus.depth() == CV_8U && skinLocus.cols >= 256 && skinLocus.rows >= 256;
}

cv::Mat TRecognizer::SkinOf(const cv::Mat& photo) const
{
    if (!SkinTableUsable() || photo.empty() || photo.type() != CV_8UC3)
        return cv::Mat();
    return SkinMask(photo, skinLocus);
}

std::vector<cv::Rect> TRecognizer::DetectWithCascades(TCascadeKind kind, const cv::Mat& grey,
                                                      const TDetectParams& params) const
{
    cv::CascadeClassifier* cascade = nullptr;
    switch (kind) {
    case TCascadeKind::FrontFace: cascade = frontFaceCascade.get(); break;
    case TCascadeKind::Eyes: cascade = eyeCascade.get(); break;
    case TCascadeKind::Nose: cascade = noseCascade.get(); break;
    case TCascadeKind::Mouth: cascade = mouthCascade.get(); break;
    case TCascadeKind::ProfileFace: cascade = profileFaceCascade.get(); break;
    }
    std::vector<cv::Rect> hits;
    if (cascade == nullptr || cascade->empty() || grey.empty())
        return hits;
    if (params.biggestOnly) {
        // Only the biggest object is wanted. The small windows cost by far the most, so search the
        // large ones first, halving the smallest window size until some band of sizes yields a hit;
        // then search once more down to half the size of that hit, so that the largest rectangle
        // is grouped from the same windows as in a search over every size.
        const int floorW = std::max(params.minSize.width, 1), floorH = std::max(params.minSize.height, 1);
        int band = std::max(std::min(grey.cols, grey.rows) / 2, std::max(floorW, floorH));
        for (;;) {
            const cv::Size minSize(std::max(band, floorW), std::max(band, floorH));
            cascade->detectMultiScale(grey, hits, params.scaleFactor, params.minNeighbors, 0, minSize);
            if (!hits.empty() || (minSize.width <= floorW && minSize.height <= floorH))
                break;
            band /= 2;
        }
        if (!hits.empty()) {
            int side = 0;
            for (const cv::Rect& r : hits)
                side = std::max(side, std::min(r.width, r.height));
            const cv::Size refine(std::max(side / 2, floorW), std::max(side / 2, floorH));
            std::vector<cv::Rect> refined;
            cascade->detectMultiScale(grey, refined, params.scaleFactor, params.minNeighbors, 0, refine);
            if (!refined.empty())
                hits = refined;
        }
    } else {
        cascade->detectMultiScale(grey, hits, params.scaleFactor, params.minNeighbors, 0, params.minSize);
    }
    // Clip to the image; the cascades may report windows that reach past the border.
    const cv::Rect whole(0, 0, grey.cols, grey.rows);
    std::vector<cv::Rect> clipped;
    for (const cv::Rect& r : hits) {
        const cv::Rect c = r & whole;
        if (c.area() > 0)
            clipped.push_back(c);
    }
    if (params.biggestOnly && clipped.size() > 1) {
        const auto biggest = std::max_element(clipped.begin(), clipped.end(),
                                              [](const cv::Rect& a, const cv::Rect& b) { return a.area() < b.area(); });
        clipped = {*biggest};
    }
    return clipped;
}

namespace {
// Mean x of an outline list, or the fallback when the list is empty.
double MeanX(const std::vector<cv::Point>& list, double fallback)
{
    long long sum = 0;
    for (const cv::Point& q : list)
        sum += q.x;
    return list.empty() ? fallback : double(float(sum) / float(list.size()));
}

int HeadWidth(THPoint* const* p)
{
    return p[FrontPoint::RightHead]->x - p[FrontPoint::LeftHead]->x;
}

// The head's box as the model measures it: the x extremes (ears included) from the mean skin
// outline, the crown and the chin by the generic head's proportions from the face and that width.
// The photo shows neither crown nor chin reliably (hair, neck), so the height follows the width.
void PlaceHeadBox(THPoint* const* p, const std::vector<cv::Point>& leftOutline,
                  const std::vector<cv::Point>& rightOutline, const cv::Rect& F)
{
    using namespace FrontPoint;
    double meanLeft = MeanX(leftOutline, F.x), meanRight = MeanX(rightOutline, F.x + F.width);
    if (!leftOutline.empty() && !rightOutline.empty()) {
        const double middle = (meanLeft + meanRight) / 2, half = (meanRight - meanLeft) / 2;
        meanLeft = middle - half / FrontProportion::OutlineShareOfWidth;
        meanRight = middle + half / FrontProportion::OutlineShareOfWidth;
    }
    const int left = RoundHalfEven(meanLeft), right = RoundHalfEven(meanRight), width = right - left;
    const int crown = RoundHalfEven(F.y + F.height * 0.5 - FrontProportion::CrownAboveFaceCentre * width);
    const int height = RoundHalfEven(FrontProportion::HeightPerWidth * width);
    const int extremeRow = crown + RoundHalfEven(FrontProportion::ExtremesBelowCrown * height);
    p[LeftHead]->MoveTo(left, extremeRow);
    p[RightHead]->MoveTo(right, extremeRow);
    p[TopHead]->MoveTo(F.x + F.width / 2, crown);
    p[BottomHead]->MoveTo(F.x + F.width / 2, crown + height);
}

// The feature centres at their places in the head box. The ears keep theirs: the outline at the
// ear's row is its outer rim, which says little about where the ear's centre lies.
void EstimateCentres(THPoint* const* p)
{
    using namespace FrontPoint;
    const int L = p[LeftHead]->x, T = p[TopHead]->y;
    const int HW = HeadWidth(p), HH = p[BottomHead]->y - T;
    for (const FrontProportion::TShare& s : FrontProportion::CentreShares)
        p[s.point]->MoveTo(RoundHalfEven(L + s.fx * HW), RoundHalfEven(T + s.fy * HH));
}

// The borders of one feature around its centre, scaled by the head width.
void PlaceBorders(THPoint* const* p, int centre)
{
    const int width = HeadWidth(p);
    for (const FrontProportion::TOffset& o : FrontProportion::BorderOffsets)
        if (o.from == centre)
            p[o.point]->MoveTo(p[centre]->x + RoundHalfEven(o.dx * width), p[centre]->y + RoundHalfEven(o.dy * width));
}

// Scans rows of a box around the face from both sides toward the first skin pixel; the two
// outline lists, median-smoothed.
void ScanOutline(const cv::Mat& mask, const cv::Rect& F, int cx, int cy, std::vector<cv::Point>& left,
                 std::vector<cv::Point>& right)
{
    cv::Rect B;
    B.width = Trunc(F.width * 1.15);
    B.height = Trunc(F.height * 1.5);
    B.x = Trunc(cx - F.width * 0.5 * 1.15);
    B.y = Trunc(cy - F.height * 0.5 * 1.5);
    for (int i = 0; i < 100; ++i) {
        const int y = B.y + (i * B.height) / 100;
        int x = 0;
        if (ScanToSkin(mask, B.x, y, +1, B.x + B.width, x) && x < cx)
            left.emplace_back(x, y);
        if (ScanToSkin(mask, B.x + B.width, y, -1, B.x, x) && x > cx)
            right.emplace_back(x, y);
    }
    right = Median3Smooth(right);
    left = Median3Smooth(left);
}

// The two eyes from the eye hits in the upper half of the face; a missing or misplaced eye is
// the other's mirror about the face's centre. Without hits E1 and E2 stay as given.
void ChooseEyes(const std::vector<cv::Rect>& hits, const cv::Rect& region, const cv::Rect& F, int cx, cv::Point& E1,
                cv::Point& E2)
{
    std::vector<cv::Point> eyes;
    for (const cv::Rect& h : hits) {
        const cv::Point c = CentreOf(region, h);
        if (c.y < F.y + F.height / 2)
            eyes.push_back(c);
    }
    if (eyes.empty())
        return;
    auto mirror = [cx](cv::Point e) { return cv::Point(2 * cx - e.x, e.y); };
    if (eyes.size() == 1) {
        E1 = eyes[0].x < cx ? eyes[0] : mirror(eyes[0]);
        E2 = mirror(E1);
    } else {
        const int l = eyes[1].x < eyes[0].x ? 1 : 0;
        E1 = eyes[l];
        E2 = eyes[1 - l];
    }
    if (E1.x < cx && E2.x < cx)
        E2 = eyes.size() > 2 && eyes[2].x > cx ? eyes[2] : mirror(E1);
    else if (E1.x > cx && E2.x > cx)
        E1 = eyes.size() > 2 && eyes[2].x < cx ? eyes[2] : mirror(E2);
}

// The nose hit below the eye line nearest to the eyes' middle, or the estimate.
cv::Point ChooseNose(const std::vector<cv::Rect>& hits, const cv::Rect& region, cv::Point E1, cv::Point E2,
                     cv::Point estimate)
{
    const int mx = (E1.x + E2.x) / 2, ey = std::max(E1.y, E2.y);
    cv::Point N(0, 0);
    for (const cv::Rect& h : hits) {
        const cv::Point c = CentreOf(region, h);
        if (TRecognizer::Abs(c.x - mx) < TRecognizer::Abs(N.x - mx) && c.y > ey)
            N = c;
    }
    return N.x == 0 || N.y == 0 ? estimate : N;
}

// Mouth: the hit nearest to the eyes' middle below the nose, well away from it and from the head's
// sides; its rectangle's sides are the lips' corners. Without one the lips' junction hangs below
// the nose by the head's proportions.
void PlaceMouth(THPoint* const* p, const std::vector<cv::Rect>& hits, const cv::Rect& region, cv::Point E1,
                cv::Point E2, cv::Point N)
{
    using namespace FrontPoint;
    const int D = TRecognizer::Abs(E2.x - E1.x), mx = (E1.x + E2.x) / 2;
    const int width = HeadWidth(p), margin = width / 5;
    cv::Point M(0, 0);
    cv::Rect RM;
    for (const cv::Rect& h : hits) {
        const cv::Point c = CentreOf(region, h);
        const bool central = TRecognizer::Abs(c.x - mx) < TRecognizer::Abs(M.x - mx);
        const bool belowNose = double(TRecognizer::Abs(N.y - c.y)) > double(D) / 3.0 && N.y < c.y;
        if (central && belowNose && p[LeftHead]->x + margin < c.x && c.x < p[RightHead]->x - margin) {
            M = c;
            RM = cv::Rect(region.x + h.x, region.y + h.y, h.width, h.height);
        }
    }
    const bool found = M.x != 0 && M.y != 0;
    if (!found) {
        const FrontProportion::TOffset& o = FrontProportion::MouthFromNose;
        M = {N.x + RoundHalfEven(o.dx * width), N.y + RoundHalfEven(o.dy * width)};
    }
    p[MouthCenter]->MoveTo(M.x, M.y);
    PlaceBorders(p, MouthCenter);
    if (found) {
        p[MouthLeft]->MoveTo(RM.x, p[MouthLeft]->y);
        p[MouthRight]->MoveTo(RM.x + RM.width, p[MouthRight]->y);
    }
}
}

bool TRecognizer::RecognizeFront(THeadAttributes* attributes)
{
    using namespace FrontPoint;
    if (frontImage.empty()) {
        ShowMessage("Please load front image before recognition");
        return false;
    }
    if (!frontFaceCascade) {
        ShowMessage("FrontHead Haar cascade is not loaded");
        return false;
    }
    if (!eyeCascade) {
        ShowMessage("Eyes Haar cascade is not loaded");
        return false;
    }
    if (!noseCascade) {
        ShowMessage("Nose Haar cascade is not loaded");
        return false;
    }
    if (!mouthCascade) {
        ShowMessage("Mouth Haar cascade is not loaded");
        return false;
    }
    if (!SkinTableUsable()) {
        ShowMessage(kNoSkinTable);
        return false;
    }

    frontImage = ResizeToMax(frontImage, 1300, false);
    const int W = frontImage.cols, H = frontImage.rows;
    THPoint* const* p = attributes->front;
    attributes->SetDefaultFrontPositions(W, H);

    cv::Mat grey;
    cv::cvtColor(frontImage, grey, cv::COLOR_BGR2GRAY);
    cv::equalizeHist(grey, grey);
    const cv::Mat mask = SkinMask(frontImage, skinLocus);

    // Face: the largest hit, or the default head box.
    const std::vector<cv::Rect> faces = detector(TCascadeKind::FrontFace, grey, TDetectParams{1.1, 3, {30, 30}, true});
    const cv::Rect F = !faces.empty() ? faces.front()
                                      : cv::Rect(p[LeftHead]->x, p[TopHead]->y, p[RightHead]->x - p[LeftHead]->x,
                                                 p[BottomHead]->y - p[TopHead]->y);
    const int cx = RoundHalfEven(F.x + F.width * 0.5), cy = RoundHalfEven(F.y + F.height * 0.5);
    std::vector<cv::Point> left, right;
    ScanOutline(mask, F, cx, cy, left, right);
    p[HeadCenter]->MoveTo(cx, cy);
    PlaceHeadBox(p, left, right, F);
    EstimateCentres(p);

    // The features are searched in the face region only.
    const cv::Rect region = F & cv::Rect(0, 0, W, H);
    auto detectInFace = [&](TCascadeKind kind) {
        if (region.area() <= 0)
            return std::vector<cv::Rect>();
        return detector(kind, grey(region), TDetectParams{1.1, 2, {0, 0}, false});
    };

    cv::Point E1 = p[LeftEyeCenter]->GetPosition(), E2 = p[RightEyeCenter]->GetPosition();
    ChooseEyes(detectInFace(TCascadeKind::Eyes), region, F, cx, E1, E2);
    p[LeftEyeCenter]->MoveTo(E1.x, E1.y);
    p[RightEyeCenter]->MoveTo(E2.x, E2.y);
    PlaceBorders(p, LeftEyeCenter);
    PlaceBorders(p, RightEyeCenter);

    const cv::Point N = ChooseNose(detectInFace(TCascadeKind::Nose), region, E1, E2, p[NoseTip]->GetPosition());
    p[NoseTip]->MoveTo(N.x, N.y);
    PlaceBorders(p, NoseTip);

    PlaceMouth(p, detectInFace(TCascadeKind::Mouth), region, E1, E2, N);

    KeepInside(p, Count, W, H);
    return true;
}

int TRecognizer::ProfileFaceVote(const cv::Mat& photo) const
{
    cv::Mat grey, mirrored;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    cv::flip(grey, mirrored, 1);
    // A profile face fills a good part of a profile photo; smaller windows cost much and add only
    // false hits.
    const int side = std::min(grey.cols, grey.rows) / 8;
    const TDetectParams params{1.1, 2, {side, side}, false};
    const size_t asIs = detector(TCascadeKind::ProfileFace, grey, params).size();
    const size_t flipped = detector(TCascadeKind::ProfileFace, mirrored, params).size();
    return asIs > flipped ? 1 : asIs < flipped ? -1 : 0;
}

void TRecognizer::DetectProfileOrientation(THeadAttributes* attributes)
{
    if (profileImage.empty()) {
        ShowMessage("Please load profile image before recognition");
        return;
    }
    if (!SkinTableUsable()) {
        ShowMessage(kNoSkinTable);
        return;
    }
    Silhouette silhouette(profileImage, skinLocus);
    int orientation = 0;
    if (!DecideFacing(silhouette, [this] { return ProfileFaceVote(profileImage); }, orientation))
        return; // the orientation stays as it is
    if (orientation == 1)
        cv::flip(profileImage, profileImage, 1);
    attributes->SetProfileOrientation(orientation, profileImage.cols);
}

bool TRecognizer::RecognizeProfile(THeadAttributes* attributes, bool keepOrientation)
{
    using namespace ProfilePoint;
    if (profileImage.empty()) {
        ShowMessage("Please load profile image before recognition");
        return false;
    }
    if (!profileFaceCascade) {
        ShowMessage("ProfileHead Haar cascade is not loaded");
        return false;
    }
    if (!SkinTableUsable()) {
        ShowMessage(kNoSkinTable);
        return false;
    }

    profileImage = ResizeToMax(profileImage, 1300, false);
    const int W = profileImage.cols, H = profileImage.rows;
    THPoint* const* p = attributes->profile;
    attributes->SetDefaultProfilePositions(W, H, keepOrientation);

    // The silhouette serves the facing decision and the placement; a flip mirrors it.
    Silhouette s(profileImage, skinLocus);
    int orientation = 0;
    if (!keepOrientation && DecideFacing(s, [this] { return ProfileFaceVote(profileImage); }, orientation)) {
        if (orientation == 1) {
            cv::flip(profileImage, profileImage, 1);
            s.Flip();
        }
        attributes->SetProfileOrientation(orientation, W);
    }
    const bool mirrored = attributes->profileOrientation == 1;
    if (mirrored)
        attributes->SetProfileOrientation(0, W);
    auto finish = [&](bool result) {
        if (mirrored)
            attributes->SetProfileOrientation(1, W);
        KeepInside(p, Count, W, H);
        return result;
    };

    if (!s.hasCentroid || s.contour.empty())
        return finish(false);
    const int cx = s.cx, cy = s.cy;
    p[HeadCenter]->MoveTo(cx, cy);

    // Head box from the outline, and a scan box 1.15 times its size about its centre.
    int minX = W, minY = H, maxX = 0, maxY = 0;
    for (const cv::Point& q : s.contour) {
        minX = std::min(minX, q.x);
        minY = std::min(minY, q.y);
        maxX = std::max(maxX, q.x);
        maxY = std::max(maxY, q.y);
    }
    const cv::Rect R0(minX, minY, maxX - minX, maxY - minY);
    const double grow = double(1.15f);
    cv::Rect B;
    B.x = RoundHalfEven(R0.x + R0.width * 0.5 - R0.width * 0.5 * grow);
    B.y = RoundHalfEven(R0.y + R0.height * 0.5 - R0.height * 0.5 * grow);
    B.width = Trunc(R0.width * grow);
    B.height = Trunc(R0.height * grow);

    // Face line: the first skin pixel of each row, scanning from the left.
    std::vector<cv::Point> line;
    for (int i = 0; i < 100; ++i) {
        const int y = B.y + (i * B.height) / 100;
        int x = 0;
        if (ScanToSkin(s.mask, B.x, y, +1, B.x + B.width, x) && x >= 0 && x < cx && y >= 0 && y < H)
            line.emplace_back(x, y);
    }
    line = Median3Smooth(line);
    if (line.empty())
        return finish(false);

    p[LeftHead]->MoveTo(R0.x, R0.y + R0.height / 2);
    p[RightHead]->MoveTo(R0.x + R0.width, R0.y + R0.height / 2);
    p[TopHead]->MoveTo(R0.x + R0.width / 2, R0.y);
    p[BottomHead]->MoveTo(R0.x + R0.width / 2, R0.y + R0.height);

    bool chinFound = PlaceChin(line, cy, p[BottomHead]);

    // Tip of the nose: the leftmost face-line point (the upper one on a tie).
    size_t tip = 0;
    for (size_t k = 1; k < line.size(); ++k)
        if (line[k].x < line[tip].x)
            tip = k;
    p[NoseTip]->MoveTo(line[tip].x, line[tip].y);

    size_t root = NoseRootIndex(line, tip, p[BottomHead]->y - p[TopHead]->y);
    // A chin less than a nose's height below the tip of the nose is the lips: on the generic head the
    // chin lies 1.9 nose heights (root to tip) below the tip, the lips' junction 0.67. Look further
    // down, and take the nose root again for the head's new height.
    const int belowNose = line[tip].y + (line[tip].y - line[root].y);
    if (chinFound && p[BottomHead]->y < belowNose) {
        p[BottomHead]->MoveTo(R0.x + R0.width / 2, R0.y + R0.height);
        chinFound = PlaceChin(line, std::max(cy, belowNose), p[BottomHead]);
        root = NoseRootIndex(line, tip, p[BottomHead]->y - p[TopHead]->y);
    }
    p[NoseRoot]->MoveTo(line[root].x, line[root].y);

    // The mouth by the fixed fractions of the skin box.
    const int HW = p[RightHead]->x - p[LeftHead]->x;
    const int HH = p[BottomHead]->y - p[TopHead]->y;
    p[MouthCenter]->MoveTo(p[LeftHead]->x + RoundHalfEven(0.1111111111 * HW),
                           p[BottomHead]->y - RoundHalfEven(0.18770226537 * HH));
    PlaceByGenericHead(p, chinFound);

    return finish(true);
}
