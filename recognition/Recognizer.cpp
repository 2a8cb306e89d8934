#include "recognition/Recognizer.h"
#include "recognition/Generichead.h"
#include "recognition/Majority.h"

#include <algorithm>
#include <bitset>
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
#include "platform/image/PhotoFile.h"

namespace {
const char* const kSkinTablePath = "data/SkinLocusYCrCb.jpg";
const char* const kNoSkinTable = "Skin colour table is not loaded";
const char* const kNoGenericHead = "The generic head's facts are not loaded (data/models/generic_head.txt)";

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

// The file is checked before the decoder sees it; the decoded size is checked again for the
// formats whose header the check does not read.
bool ReadPhoto(const std::string& path, cv::Mat& out, std::string* problem)
{
    std::string why = PhotoFileProblem(path);
    if (why.empty()) {
        try {
            cv::Mat loaded = cv::imread(path, cv::IMREAD_COLOR);
            if (!loaded.empty() && loaded.type() == CV_8UC3) {
                why = PhotoSizeProblem(loaded.cols, loaded.rows);
                if (why.empty()) {
                    out = loaded;
                    return true;
                }
            }
        } catch (const cv::Exception&) {
        } catch (const std::bad_alloc&) {
        }
    }
    if (problem)
        *problem = why;
    return false;
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
    cv::Mat smoothed; // 31 x 31 median of the mask (its majority: the mask holds 0 and 255 only)
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
        smoothed = SquareMajority(mask, 31);
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

// The photo's background: each channel's median over the top row and the left column, which lie
// above the head and in front of a left-facing face.
cv::Vec3b BackgroundColour(const cv::Mat& photo)
{
    std::vector<int> channel[3];
    auto add = [&](int x, int y) {
        const cv::Vec3b c = photo.at<cv::Vec3b>(y, x);
        for (int k = 0; k < 3; ++k)
            channel[k].push_back(c[k]);
    };
    for (int x = 0; x < photo.cols; ++x)
        add(x, 0);
    for (int y = 1; y < photo.rows; ++y)
        add(0, y);
    cv::Vec3b colour;
    for (int k = 0; k < 3; ++k) {
        std::nth_element(channel[k].begin(), channel[k].begin() + long(channel[k].size() / 2), channel[k].end());
        colour[k] = std::uint8_t(channel[k][channel[k].size() / 2]);
    }
    return colour;
}

// True when the photo just beyond the skin's edge at `edge` (a few pixels further in the direction
// dx, dy) shows the background: there the skin is the head's own outline, not its border with hair.
bool BackgroundBeyond(const cv::Mat& photo, const cv::Vec3b& background, cv::Point edge, int dx, int dy)
{
    constexpr int kFrom = 3, kTo = 8, kTolerance = 40; // past the edge's blending; a colour step
    for (int d = kFrom; d <= kTo; ++d) {
        const int x = edge.x + d * dx, y = edge.y + d * dy;
        if (x < 0 || y < 0 || x >= photo.cols || y >= photo.rows)
            return false;
        const cv::Vec3b c = photo.at<cv::Vec3b>(y, x);
        for (int k = 0; k < 3; ++k)
            if (std::abs(int(c[k]) - int(background[k])) > kTolerance)
                return false;
    }
    return true;
}

// Follows the raw skin mask from a point of the smoothed silhouette's edge outward (dx, dy) while it
// stays skin: the smoothing rounds the outline's extremes off.
cv::Point RawEdge(const cv::Mat& mask, cv::Point at, int dx, int dy)
{
    while (at.x + dx >= 0 && at.y + dy >= 0 && at.x + dx < mask.cols && at.y + dy < mask.rows &&
           mask.at<std::uint8_t>(at.y + dy, at.x + dx) != 0)
        at += cv::Point(dx, dy);
    return at;
}

// The back of the skull where the silhouette shows it: the skin furthest back inside the scan box
// in its rows down to `bottom` (above the ear, where the neck does not reach), when the background
// lies behind it. False when no row has skin or hair covers the back.
bool FindSkinBack(const cv::Mat& photo, const Silhouette& s, const cv::Vec3b& background, const cv::Rect& box, int bottom,
                  cv::Point& back)
{
    bool found = false;
    for (int y = std::max(box.y, 0); y <= std::min(bottom, s.smoothed.rows - 1); ++y) {
        const std::uint8_t* row = s.smoothed.ptr<std::uint8_t>(y);
        int x = std::min(box.x + box.width, s.smoothed.cols - 1);
        while (x >= 0 && row[x] != 255)
            --x;
        if (x < 0 || s.mask.at<std::uint8_t>(y, x) == 0)
            continue;
        const cv::Point edge = RawEdge(s.mask, {x, y}, +1, 0);
        if (!found || edge.x > back.x) {
            back = edge;
            found = true;
        }
    }
    return found && BackgroundBeyond(photo, background, back, +1, 0);
}

// The highest of the tops offered column by column, left to right; where several neighbouring
// columns share that row (a flat top), its middle column.
class HighestTop {
public:
    void Offer(cv::Point top)
    {
        if (!found || top.y < highest.y) {
            highest = top;
            last = top.x;
            found = true;
        } else if (top.y == highest.y && last == top.x - 1) {
            last = top.x;
        }
    }
    bool Found() const { return found; }
    cv::Point Middle() const { return {(highest.x + last) / 2, highest.y}; }

private:
    bool found = false;
    cv::Point highest;
    int last = 0;  // the last column of the run at the highest row
};

// The top of the skull where the silhouette shows it: the highest skin inside the scan box in the
// columns from `left` to `right`, when the background lies above it. False when hair covers the crown.
bool FindSkinCrown(const cv::Mat& photo, const Silhouette& s, const cv::Vec3b& background, const cv::Rect& box, int left,
                   int right, cv::Point& crown)
{
    HighestTop highest;
    for (int x = std::max(left, 0); x <= std::min(right, s.smoothed.cols - 1); ++x) {
        int y = std::max(box.y, 0);
        while (y < s.smoothed.rows && s.smoothed.at<std::uint8_t>(y, x) != 255)
            ++y;
        if (y == s.smoothed.rows || s.mask.at<std::uint8_t>(y, x) == 0)
            continue;
        const cv::Point edge = RawEdge(s.mask, {x, y}, 0, -1);
        highest.Offer({x, edge.y});
    }
    if (!highest.Found())
        return false;
    crown = highest.Middle();
    return BackgroundBeyond(photo, background, crown, 0, -1);
}

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

// Nose root on a face line: from the tip upward, the point where the line stops receding, that is
// where the next two rows up are no further back (one flat row is only sampling), and never above
// the brow, so that a sloping forehead is not climbed to the crown (the generic head's brow over its
// nose tip, in shares of its height). headHeight in pixels.
size_t NoseRootIndex(const std::vector<cv::Point>& line, size_t tip, int headHeight, double browOverTip)
{
    const double limit = line[tip].y - browOverTip * headHeight;
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

// The face line at every row: per row from `top` to `bottom`, the first skin pixel of the mask
// scanning right from `fromX` no further than `limitX` (-1 where the row shows none), then the
// median of each three neighbouring rows. The sampled line finds the features; this one places them
// to the row.
class FullFaceLine {
public:
    FullFaceLine(const cv::Mat& mask, int top, int bottom, int fromX, int limitX)
        : first(std::max(top, 0)), xs(size_t(std::max(std::min(bottom, mask.rows - 1) - std::max(top, 0) + 1, 0)), -1)
    {
        for (size_t k = 0; k < xs.size(); ++k) {
            int x = 0;
            if (ScanToSkin(mask, fromX, first + int(k), +1, limitX, x))
                xs[k] = x;
        }
        std::vector<int> smoothed = xs;
        for (size_t k = 1; k + 1 < xs.size(); ++k)
            if (xs[k - 1] >= 0 && xs[k] >= 0 && xs[k + 1] >= 0)
                smoothed[k] = TRecognizer::Median3(xs[k - 1], xs[k], xs[k + 1]);
        xs = std::move(smoothed);
    }
    int Top() const { return first; }
    int Bottom() const { return first + int(xs.size()) - 1; }
    // The line's x at row y; -1 outside the traced rows or where the row shows no skin.
    int At(int y) const { return y < first || y > Bottom() ? -1 : xs[size_t(y - first)]; }

private:
    int first;
    std::vector<int> xs;
};

// The middle row of the run of rows where the line is at its extreme (furthest forward with
// `forward`, furthest back without) near row y: the extreme is looked for within `window` rows of
// y, and its run followed as far as the line stays there, up to one and a half windows above y
// (never above `highest`) and down to two windows below the extreme. A rounded nose tip or a nose root spans
// several rows; the sampled line hits only one of them. An upright forehead or a straight line at
// the same depth is not climbed. Returns y when no row shows skin.
int MiddleOfExtreme(const FullFaceLine& line, int y, int window, bool forward, int highest)
{
    const int top = std::max(y - window, highest), climb = std::max(highest, y - window * 3 / 2);
    int best = -1, at = y;
    for (int r = top; r <= y + window; ++r) {
        const int x = line.At(r);
        if (x >= 0 && (best < 0 || (forward ? x < best : x > best) || (x == best && std::abs(r - y) < std::abs(at - y)))) {
            best = x;
            at = r;
        }
    }
    if (best < 0)
        return y;
    int from = at, to = at;
    while (from > climb && line.At(from - 1) == best)
        --from;
    while (to < at + 2 * window && line.At(to + 1) == best)
        ++to;
    return (from + to) / 2;
}

// The chin's lower turn: below the front of the chin the face line recedes ever faster into the
// throat; the chin point is the highest row of that run where it recedes by at least one and a half
// pixels a row (measured over `reach` rows either side), walking up from the sampled chin `y`
// (or, when that row does not recede yet, down from it to `lowest`). False when no row recedes so.
bool FindChinTurn(const FullFaceLine& line, int y, int lowest, int reach, int& chinY)
{
    auto recedes = [&](int r) {
        const int above = line.At(r - reach), below = line.At(r + reach);
        return above >= 0 && below >= 0 && 2 * (below - above) >= 3 * 2 * reach;
    };
    while (!recedes(y) && y < lowest)
        ++y;
    if (!recedes(y))
        return false;
    while (y - 1 > line.Top() + reach && recedes(y - 1))
        --y;
    chinY = y;
    return true;
}

// A turn of the face line: a row where it comes furthest forward (a lip, the nose tip) or goes
// furthest back (the notch between the lips) between two others.
struct LineTurn {
    int y, x;
};

// The line's turns from row `from` (a forward turn: the tip of the nose) down to row `to`, each at
// least `depth` pixels from the one before, alternately back and forward (the middle row of a turn
// that spans several rows).
std::vector<LineTurn> LineTurns(const FullFaceLine& line, int from, int to, int depth)
{
    std::vector<LineTurn> turns{{from, line.At(from)}};
    bool forward = false; // the next turn looked for
    int bestX = -1, bestFirst = from, bestLast = from;
    for (int y = from + 1; y <= to; ++y) {
        const int x = line.At(y);
        if (x < 0)
            continue;
        if (bestX < 0 || (forward ? x < bestX : x > bestX)) {
            bestX = x;
            bestFirst = bestLast = y;
        } else if (x == bestX) {
            bestLast = y;
        } else if (std::abs(x - bestX) >= depth) {
            turns.push_back({(bestFirst + bestLast) / 2, bestX});
            forward = !forward;
            bestX = x;
            bestFirst = bestLast = y;
        }
    }
    return turns;
}

// The mouth on the face line: below the nose tip the line goes back under the nose, forward to the
// upper lip, back into the notch between the lips, forward to the lower lip. The mouth is at the
// notch's row, as far forward as both lips reach. The notch must lie within a sixth of the tip-to-chin
// height of where the generic head has its mouth (`share` of that height below the tip), else the
// turns are others (a lip that does not stand out). False when the line shows no such notch.
bool FindMouthNotch(const FullFaceLine& line, int tipY, int chinY, double share, cv::Point& mouth)
{
    const int height = chinY - tipY;
    if (height <= 0)
        return false;
    const std::vector<LineTurn> turns = LineTurns(line, tipY, chinY, std::max(2, height / 60));
    if (turns.size() < 5)
        return false;
    const LineTurn &upperLip = turns[2], &notch = turns[3], &lowerLip = turns[4];
    if (std::abs(double(notch.y - tipY) / height - share) > 1.0 / 6)
        return false;
    mouth = {std::max(upperLip.x, lowerLip.x), notch.y};
    return true;
}

// A generic head's own profile point in its side view (model units, x toward the back of the head,
// y downward): what the recognized profile point means.
struct ViewPoint {
    double x, y;
};
ViewPoint SideView(const TGenericHead& g, int point)
{
    const TModelPoint& q = g.profile[size_t(point)];
    return {q.y, -q.z};
}

// The generic head's side view laid over a profile photo by the features the face line shows
// reliably: the nose root and tip where they were found, the photo's nose-root-to-chin height for
// the generic head's. Points hidden under hair or lost in the background (ears, the back and the
// top of the skull) and the eye, which the silhouette does not show, are placed from it.
struct GenericScale {
    const TGenericHead& g;
    cv::Point root, tip;
    double perUnit; // photo pixels a model unit

    GenericScale(const TGenericHead& generic, cv::Point noseRoot, cv::Point noseTip, int chinY)
        : g(generic), root(noseRoot), tip(noseTip),
          perUnit(double(chinY - noseRoot.y) /
                  (SideView(g, ProfilePoint::BottomHead).y - SideView(g, ProfilePoint::NoseRoot).y))
    {
    }
    // A generic point placed by its offset from the nose root, or from the tip of the nose.
    cv::Point FromRoot(int point) const { return At(root, SideView(g, ProfilePoint::NoseRoot), SideView(g, point)); }
    cv::Point FromTip(int point) const { return At(tip, SideView(g, ProfilePoint::NoseTip), SideView(g, point)); }

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
// a head with hair; where the skin meets the background there instead, PlaceShownSkull measures them.
void PlaceByGenericHead(THPoint* const* p, bool chinFound, const TGenericHead& generic)
{
    using namespace ProfilePoint;
    const GenericScale g(generic, p[NoseRoot]->GetPosition(), p[NoseTip]->GetPosition(), p[BottomHead]->y);
    auto place = [](THPoint* point, cv::Point at) { point->MoveTo(at.x, at.y); };
    for (int point : {EyeCenter, EarCenter, EarLeft, EarRight, EarTop, EarBottom})
        place(p[point], g.FromRoot(point));
    if (!chinFound)
        return; // without a chin there is no scale: the borders stay on the skin box
    place(p[LeftHead], p[NoseTip]->GetPosition());
    place(p[RightHead], g.FromTip(RightHead));
    place(p[TopHead], g.FromRoot(TopHead));
}

// The nose tip and root and the chin placed to the row on the face line traced at every row: each
// at the middle of the rows its sampled point stands for (`step` rows apart on the sampled line),
// the root never higher above the tip than the brow (`browOverTip` pixels). The chin only moves
// where the line shows its lower turn.
void PlaceFaceLineFeatures(const FullFaceLine& full, cv::Point tip, cv::Point root, int step, double browOverTip,
                           THPoint* const* p)
{
    using namespace ProfilePoint;
    auto place = [&](THPoint* point, cv::Point sampled, bool forward, int highest) {
        const int y = MiddleOfExtreme(full, sampled.y, step, forward, highest);
        const int x = full.At(y);
        point->MoveTo(x >= 0 ? x : sampled.x, x >= 0 ? y : sampled.y);
    };
    place(p[NoseTip], tip, true, full.Top());
    place(p[NoseRoot], root, false, int(std::ceil(p[NoseTip]->y - browOverTip)));
    int chinY = 0;
    if (p[BottomHead]->y > p[NoseTip]->y &&
        FindChinTurn(full, p[BottomHead]->y, p[BottomHead]->y + step, std::max(2, (full.Bottom() - full.Top()) / 250), chinY))
        p[BottomHead]->MoveTo(full.At(chinY), chinY);
}

// The mouth at the notch between the lips on the face line, looked for where the generic head has
// it between its nose tip and chin. False (the mouth left as it is) when the line shows no notch.
bool PlaceMouth(const FullFaceLine& full, THPoint* const* p, const TGenericHead& generic)
{
    using namespace ProfilePoint;
    const double tipY = SideView(generic, NoseTip).y;
    const double share = (SideView(generic, MouthCenter).y - tipY) / (SideView(generic, BottomHead).y - tipY);
    cv::Point mouth;
    if (!FindMouthNotch(full, p[NoseTip]->y, p[BottomHead]->y, share, mouth))
        return false;
    p[MouthCenter]->MoveTo(mouth.x, mouth.y);
    return true;
}

// The back and the top of the skull where the skin reaches the background there (a head without
// hair over them); elsewhere they stay where the generic head put them. `box` is the scan box.
void PlaceShownSkull(const cv::Mat& photo, const Silhouette& s, const cv::Rect& box, THPoint* const* p,
                     std::bitset<ProfilePoint::Count>& fallback)
{
    using namespace ProfilePoint;
    const cv::Vec3b background = BackgroundColour(photo);
    cv::Point at;
    if (FindSkinBack(photo, s, background, box, p[NoseRoot]->y, at)) {
        p[RightHead]->MoveTo(at.x, at.y);
        fallback.reset(RightHead);
    }
    if (FindSkinCrown(photo, s, background, box, p[NoseRoot]->x, p[RightHead]->x, at)) {
        p[TopHead]->MoveTo(at.x, at.y);
        fallback.reset(TopHead);
    }
}

// The head's centre is the middle of its box (nose tip to back, crown to chin), as on the generic
// head; measured when the four borders were.
void PlaceHeadCentre(THPoint* const* p, std::bitset<ProfilePoint::Count>& fallback)
{
    using namespace ProfilePoint;
    p[HeadCenter]->SetPosition((p[LeftHead]->x + p[RightHead]->x) / 2, (p[TopHead]->y + p[BottomHead]->y) / 2);
    if (!fallback[LeftHead] && !fallback[RightHead] && !fallback[TopHead] && !fallback[BottomHead])
        fallback.reset(HeadCenter);
}

cv::Rect OutlineBox(const Silhouette& s)
{
    int minX = s.smoothed.cols, maxX = 0, minY = s.smoothed.rows, maxY = 0;
    for (const cv::Point& q : s.contour) {
        minX = std::min(minX, q.x);
        maxX = std::max(maxX, q.x);
        minY = std::min(minY, q.y);
        maxY = std::max(maxY, q.y);
    }
    return {minX, minY, std::max(maxX - minX, 0), std::max(maxY - minY, 0)};
}

// Where the neck is, against the silhouette's centroid: the mean x of the skin in the lowest tenth
// of the outline's box, minus cx. The neck carries the head behind the face, so it lies behind the
// centroid by a tenth to a quarter of the head's depth on the benchmark's heads, bald or with hair.
// Decisive when that is at least a twentieth of the box's width; 0 otherwise.
int NeckLead(const Silhouette& s)
{
    if (s.contour.empty())
        return 0;
    const cv::Rect box = OutlineBox(s);
    const int minX = box.x, maxX = box.x + box.width, minY = box.y, maxY = box.y + box.height;
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

// A face shell (a scan of the face alone) is much less deep than tall: no skull behind the face and
// no neck below it, so its lowest part is the chin and the neck cue would point the wrong way.
bool IsFaceShell(const Silhouette& s)
{
    const cv::Rect box = OutlineBox(s);
    return 2 * box.width < box.height;
}

// The nose of a face shell: the face's side is the one whose edge juts out furthest past its own
// run (the tip of the nose past the lips and the brow; the shell's back is a smooth cut). Per row of the upper seven tenths of the
// box (above shoulders), the first and the last skin column; each side's largest jut past the
// median of its edge. +1 when the side toward smaller x juts out three times as far as the other and
// by at least a twentieth of the box's width, -1 the other way round, 0 otherwise.
int NoseLead(const Silhouette& s)
{
    const cv::Rect box = OutlineBox(s);
    std::vector<int> first, last;
    for (int y = std::max(box.y, 0); y < std::min(box.y + box.height * 7 / 10, s.smoothed.rows); ++y) {
        const std::uint8_t* row = s.smoothed.ptr<std::uint8_t>(y);
        int a = -1, b = -1;
        for (int x = 0; x < s.smoothed.cols; ++x)
            if (row[x] == 255) {
                if (a < 0)
                    a = x;
                b = x;
            }
        if (a >= 0) {
            first.push_back(a);
            last.push_back(b);
        }
    }
    if (first.size() < 3)
        return 0;
    auto median = [](std::vector<int> v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    const int front = median(first) - *std::min_element(first.begin(), first.end());
    const int back = *std::max_element(last.begin(), last.end()) - median(last);
    const int least = std::max(1, box.width / 20);
    if (front >= 3 * back && front >= least)
        return 1;
    if (back >= 3 * front && back >= least)
        return -1;
    return 0;
}

// How the facing was decided.
enum class TFacing { Decided, NoEvidence, CuesDisagree };

// The facing of a silhouette: 0 when the face looks toward smaller x, 1 the other way. A head
// with a neck: the neck decides (the face is on the side away from it). A face shell has none: its
// nose decides, and the profile-face cascade (profileFaceVote: +1 for toward smaller x, -1 the
// other way, 0 no preference) is asked too; when the two disagree nothing is decided. Otherwise
// the cascade breaks the tie; last, the silhouette's reach: toward smaller x when the sum of
// cx - x over the outline is positive. NoEvidence without skin, without an outline inside the
// photo, or without any cue.
TFacing DecideFacing(const Silhouette& s, const std::function<int()>& profileFaceVote, int& orientation)
{
    if (!s.hasCentroid || s.contour.empty())
        return TFacing::NoEvidence;
    auto decide = [&](int towardSmallerX) {
        orientation = towardSmallerX > 0 ? 0 : 1;
        return TFacing::Decided;
    };
    if (IsFaceShell(s)) {
        const int nose = NoseLead(s), vote = profileFaceVote();
        if (nose != 0 && vote != 0 && nose != vote)
            return TFacing::CuesDisagree;
        if (nose != 0 || vote != 0)
            return decide(nose != 0 ? nose : vote);
    } else {
        if (const int neck = NeckLead(s); neck != 0)
            return decide(neck);
        if (const int vote = profileFaceVote(); vote != 0)
            return decide(vote);
    }
    long long sum = 0;
    for (const cv::Point& p : s.contour)
        sum += s.cx - p.x;
    if (sum == 0)
        return TFacing::NoEvidence;
    return decide(sum > 0 ? 1 : -1);
}

const char* const kFacingUndecided =
    "The profile photo's facing could not be decided: it is kept as loaded. Mirror it in the editor if the face looks right.";
}

TRecognizer::TRecognizer() : TRecognizer(nullptr)
{
    try {
        generic = std::make_shared<const TGenericHead>(ReadGenericHead(ProgramFolder() + kGenericHeadPath));
    } catch (const Exception& e) {
        genericError = e.Message();
        ShowMessage(genericError);
    }
}

TRecognizer::TRecognizer(std::shared_ptr<const TGenericHead> genericHead) : generic(std::move(genericHead))
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

bool TRecognizer::LoadFrontImage(const std::string& path, std::string* problem)
{
    return ReadPhoto(path, frontImage, problem);
}

bool TRecognizer::LoadProfileImage(const std::string& path, std::string* problem)
{
    return ReadPhoto(path, profileImage, problem);
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
                  const std::vector<cv::Point>& rightOutline, const cv::Rect& F, const TGenericHead& g)
{
    using namespace FrontPoint;
    double meanLeft = MeanX(leftOutline, F.x), meanRight = MeanX(rightOutline, F.x + F.width);
    if (!leftOutline.empty() && !rightOutline.empty()) {
        const double middle = (meanLeft + meanRight) / 2, half = (meanRight - meanLeft) / 2;
        meanLeft = middle - half / g.outlineShare;
        meanRight = middle + half / g.outlineShare;
    }
    const int left = RoundHalfEven(meanLeft), right = RoundHalfEven(meanRight), width = right - left;
    const int crown = RoundHalfEven(F.y + F.height * 0.5 - g.crownAboveFaceCentre * width);
    const int height = RoundHalfEven(g.proportions.heightPerWidth * width);
    const int extremeRow = crown + RoundHalfEven(g.proportions.extremesBelowCrown * height);
    p[LeftHead]->MoveTo(left, extremeRow);
    p[RightHead]->MoveTo(right, extremeRow);
    p[TopHead]->MoveTo(F.x + F.width / 2, crown);
    p[BottomHead]->MoveTo(F.x + F.width / 2, crown + height);
}

// A measured chin carries the head box: the crown and the row of the extremes follow from it, at
// the height the measured eyes give (they lie at their share of it below the crown), or else at
// the height the outline's width gives, rather than from the face rectangle's centre.
void HangHeadBoxFromChin(THPoint* const* p, int chinY, bool eyesMeasured, bool crownMeasured, const TGenericHead& g)
{
    using namespace FrontPoint;
    double eyeShare = 0;
    for (const TFrontShare& s : g.proportions.centreShares)
        if (s.point == LeftEyeCenter)
            eyeShare = s.fy;
    const double eyeY = (p[LeftEyeCenter]->y + p[RightEyeCenter]->y) / 2.0;
    int height = p[BottomHead]->y - p[TopHead]->y;
    if (crownMeasured && chinY > p[TopHead]->y)
        height = chinY - p[TopHead]->y;
    else if (eyesMeasured && chinY > eyeY && eyeShare > 0 && eyeShare < 1)
        height = RoundHalfEven((chinY - eyeY) / (1 - eyeShare));
    const int crown = chinY - height;
    const int extremeRow = crown + RoundHalfEven(g.proportions.extremesBelowCrown * height);
    p[BottomHead]->MoveTo(p[BottomHead]->x, chinY);
    p[TopHead]->MoveTo(p[TopHead]->x, crown);
    p[LeftHead]->MoveTo(p[LeftHead]->x, extremeRow);
    p[RightHead]->MoveTo(p[RightHead]->x, extremeRow);
}

// The top of a head without hair where the front photo shows it against the backdrop: the highest
// skin above row `below`, in the columns from `left` to `right`, that runs down unbroken for a few
// rows (a lone skin-coloured speck of the backdrop does not count), with the backdrop's colour just
// above it. Hair over the crown ends the skin below the hair's top, so there the proportion's crown
// stays. Accepted only within a quarter of the head's height of that crown.
bool FindShownCrown(const cv::Mat& photo, const cv::Mat& mask, int left, int right, int below, THPoint* const* p,
                    cv::Point& crown)
{
    using namespace FrontPoint;
    constexpr int kRun = 5;
    const int height = p[BottomHead]->y - p[TopHead]->y;
    if (photo.empty() || mask.size() != photo.size() || photo.type() != CV_8UC3 || height <= 0)
        return false;
    HighestTop highest;
    const int bottom = std::min(below, mask.rows - kRun);
    for (int x = std::max(left, 0); x <= std::min(right, mask.cols - 1); ++x) {
        int run = 0, y = 0;
        for (; y < bottom && run < kRun; ++y)
            run = mask.at<std::uint8_t>(y, x) != 0 ? run + 1 : 0;
        if (run == kRun)
            highest.Offer({x, y - kRun});
    }
    if (!highest.Found())
        return false;
    crown = highest.Middle();
    return std::abs(crown.y - p[TopHead]->y) * 4 <= height && BackgroundBeyond(photo, BackgroundColour(photo), crown, 0, -1);
}

// The crown where the photo shows it (see FindShownCrown), searched in the face's middle third; the
// x extremes' row follows it. The chin keeps its place.
bool PlaceShownCrown(const cv::Mat& photo, const cv::Mat& mask, const cv::Rect& F, THPoint* const* p, const TGenericHead& g)
{
    using namespace FrontPoint;
    cv::Point crown;
    if (!FindShownCrown(photo, mask, F.x + F.width / 3, F.x + 2 * F.width / 3, F.y + F.height / 2, p, crown))
        return false;
    p[TopHead]->MoveTo(p[TopHead]->x, crown.y);
    const int extremeRow = crown.y + RoundHalfEven(g.proportions.extremesBelowCrown * (p[BottomHead]->y - crown.y));
    p[LeftHead]->MoveTo(p[LeftHead]->x, extremeRow);
    p[RightHead]->MoveTo(p[RightHead]->x, extremeRow);
    return true;
}

// The head's centre where the generic head has it in its box (its middle), once the box is final:
// the face rectangle's centre lies lower, at the features. Only the point moves, not what hangs
// from it.
void PlaceHeadCentreInBox(THPoint* const* p, const TGenericHead& g)
{
    using namespace FrontPoint;
    const double width = g.front[RightHead].x - g.front[LeftHead].x, height = g.front[TopHead].z - g.front[BottomHead].z;
    if (!(width > 0) || !(height > 0))
        return;
    const double fx = (g.front[HeadCenter].x - g.front[LeftHead].x) / width, fy = (g.front[TopHead].z - g.front[HeadCenter].z) / height;
    p[HeadCenter]->SetPosition(RoundHalfEven(p[LeftHead]->x + fx * HeadWidth(p)),
                               RoundHalfEven(p[TopHead]->y + fy * (p[BottomHead]->y - p[TopHead]->y)));
}

// The feature centres at their places in the head box. The ears keep theirs: the outline at the
// ear's row is its outer rim, which says little about where the ear's centre lies.
void EstimateCentres(THPoint* const* p, const TGenericHead& g)
{
    using namespace FrontPoint;
    const int L = p[LeftHead]->x, T = p[TopHead]->y;
    const int HW = HeadWidth(p), HH = p[BottomHead]->y - T;
    for (const TFrontShare& s : g.proportions.centreShares)
        p[s.point]->MoveTo(RoundHalfEven(L + s.fx * HW), RoundHalfEven(T + s.fy * HH));
}

// The borders of one feature around its centre, scaled by `width` (the head width, or what the
// measured eye distance says it is) and turned by the face's roll in the picture plane.
void PlaceBorders(THPoint* const* p, int centre, const TGenericHead& g, double width, double roll = 0)
{
    const double c = std::cos(roll), s = std::sin(roll);
    for (const TFrontOffset& o : g.proportions.borderOffsets)
        if (o.from == centre) {
            const double dx = o.dx * width, dy = o.dy * width;
            p[o.point]->MoveTo(p[centre]->x + RoundHalfEven(c * dx - s * dy), p[centre]->y + RoundHalfEven(s * dx + c * dy));
        }
}

// The eyes' distance in head widths on the generic head.
double EyeDistanceShare(const TGenericHead& g)
{
    double left = 0, right = 0;
    for (const TFrontShare& s : g.proportions.centreShares) {
        if (s.point == FrontPoint::LeftEyeCenter)
            left = s.fx;
        if (s.point == FrontPoint::RightEyeCenter)
            right = s.fx;
    }
    return right - left;
}

// The nose's lower border where the generic head has it on the way from the nose tip down to the
// lips' junction, both as found in this photo: the nose below its tip is as long as the photo's
// tip-to-mouth drop says, which the eye distance says less well.
void PlaceNoseBottomTowardMouth(THPoint* const* p, const TGenericHead& g)
{
    using namespace FrontPoint;
    const double drop = g.front[NoseTip].z - g.front[MouthCenter].z;
    if (!(drop > 0))
        return;
    const double share = (g.front[NoseTip].z - g.front[NoseBottom].z) / drop;
    const cv::Point tip = p[NoseTip]->GetPosition(), mouth = p[MouthCenter]->GetPosition();
    p[NoseBottom]->MoveTo(tip.x + RoundHalfEven(share * (mouth.x - tip.x)), tip.y + RoundHalfEven(share * (mouth.y - tip.y)));
}

// A part of the face rectangle, in shares of its width and height, that one feature's hits can lie
// in (the choices below discard a hit elsewhere), so that only it is searched.
struct TZone {
    double x0, y0, x1, y1;
};
constexpr TZone kLeftEyeZone{0.05, 0.12, 0.55, 0.62}, kRightEyeZone{0.45, 0.12, 0.95, 0.62},
    kNoseZone{0.2, 0.3, 0.8, 0.9}, kMouthZone{0.1, 0.55, 0.9, 1.0};
// The face width the zones are searched at: a small face is enlarged so that a rendered eye fills
// the cascade's windows, a large one shrunk so that the search costs the same at any face size.
constexpr int kSearchFaceWidth = 240;

// The cascade's hits in one zone of the face F, in photo pixels.
std::vector<cv::Rect> DetectInZone(const TDetector& detector, TCascadeKind kind, const cv::Mat& grey, const cv::Rect& F,
                                   const TZone& z)
{
    std::vector<cv::Rect> found;
    if (F.width <= 0 || F.height <= 0)
        return found;
    const cv::Point a(F.x + RoundHalfEven(z.x0 * F.width), F.y + RoundHalfEven(z.y0 * F.height));
    const cv::Point b(F.x + RoundHalfEven(z.x1 * F.width), F.y + RoundHalfEven(z.y1 * F.height));
    const cv::Rect area = cv::Rect(a, b) & cv::Rect(0, 0, grey.cols, grey.rows);
    if (area.width < 2 || area.height < 2)
        return found;
    const double wanted = double(kSearchFaceWidth) / F.width;
    const cv::Size size(std::max(1, RoundHalfEven(area.width * wanted)), std::max(1, RoundHalfEven(area.height * wanted)));
    cv::Mat image;
    if (size == area.size())
        image = grey(area);
    else
        cv::resize(grey(area), image, size, 0, 0, wanted < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    const double scale = double(size.width) / area.width;
    const TDetectParams params{1.1, 2, {0, 0}, false, cv::Point2d(area.x, area.y), scale};
    for (const cv::Rect& h : detector(kind, image, params)) {
        const cv::Rect r(area.x + RoundHalfEven(h.x / scale), area.y + RoundHalfEven(h.y / scale),
                         RoundHalfEven(h.width / scale), RoundHalfEven(h.height / scale));
        if (r.width > 0 && r.height > 0 && (r & area).area() > 0)
            found.push_back(r);
    }
    return found;
}

// A smoothed copy of the grey photo's window (clipped to the photo), blurred by sigma pixels.
cv::Mat SmoothWindow(const cv::Mat& grey, cv::Rect& window, double sigma)
{
    window &= cv::Rect(0, 0, grey.cols, grey.rows);
    cv::Mat out;
    if (window.width < 3 || window.height < 3)
        return out;
    cv::GaussianBlur(grey(window), out, cv::Size(0, 0), std::max(sigma, 0.5));
    return out;
}

// An eye's centre: the darkest spot near the first guess, blurred to the iris's size, which is the
// iris and pupil on rendered and real eyes alike. False when the spot is not clearly darker than
// its window (a closed eye, a glare, a flat patch).
bool FindIris(const cv::Mat& grey, cv::Point guess, int D, cv::Point& iris)
{
    const int rx = std::max(2, RoundHalfEven(0.2 * D)), ry = std::max(2, RoundHalfEven(0.14 * D));
    cv::Rect window(guess.x - rx, guess.y - ry, 2 * rx + 1, 2 * ry + 1);
    const cv::Mat w = SmoothWindow(grey, window, D / 16.0);
    if (w.empty())
        return false;
    double low = 0;
    cv::Point at;
    cv::minMaxLoc(w, &low, nullptr, &at);
    // A minimum on the window's rim is the slope toward something darker outside (a brow, hair).
    const int rim = std::max(2, D / 40);
    if (cv::mean(w)[0] - low < 18 || at.x < rim || at.y < rim || at.x >= w.cols - rim || at.y >= w.rows - rim)
        return false;
    iris = window.tl() + at;
    return true;
}

// An eye's centre where the first guess is too far off for the window above (the proportions
// place it a brow's width high or low): in a taller window, the spot darker than the points an
// iris's width to its left and right (the white of the eye), which a brow or a lid's shadow, dark
// along its whole length, is not. False without that contrast.
bool FindIrisBetweenWhites(const cv::Mat& grey, cv::Point guess, int D, cv::Point& iris)
{
    const int side = std::max(2, RoundHalfEven(0.15 * D));
    const int rx = std::max(2, RoundHalfEven(0.2 * D)) + side, ry = std::max(2, RoundHalfEven(0.3 * D));
    cv::Rect window(guess.x - rx, guess.y - ry, 2 * rx + 1, 2 * ry + 1);
    const cv::Mat w = SmoothWindow(grey, window, D / 16.0);
    if (w.empty() || w.cols <= 2 * side + 2)
        return false;
    const int rim = std::max(2, D / 40);
    int best = 0;
    cv::Point at;
    for (int y = rim; y < w.rows - rim; ++y)
        for (int x = side; x < w.cols - side; ++x) {
            const int whites = std::min(w.at<std::uint8_t>(y, x - side), w.at<std::uint8_t>(y, x + side));
            const int contrast = whites - w.at<std::uint8_t>(y, x);
            if (contrast > best) {
                best = contrast;
                at = {x, y};
            }
        }
    if (best < 18 || at.x < side + rim || at.x >= w.cols - side - rim)
        return false;
    iris = window.tl() + at;
    return true;
}

// The lips' junction and its ends: the darkest row near the mouth's first guess (row means over
// the mouth's middle), and along it the columns where the darkness fades half way to the skin's
// level. False when no row is clearly darker than the skin or the ends make no plausible mouth.
// The row is the darkest of the photo's own grey levels: equalising them darkens the whole of
// both lips to the gap's level, so that the darkest row can lie inside the upper lip.
struct TLipLine {
    int y = 0, left = 0, right = 0;
    int leftY = 0, rightY = 0; // the corners' rows
};
bool FindLipLine(const cv::Mat& grey, const cv::Mat& plain, cv::Point guess, int D, TLipLine& lips)
{
    const int rx = std::max(3, RoundHalfEven(0.9 * D)), ry = std::max(3, RoundHalfEven(0.2 * D));
    cv::Rect window(guess.x - rx, guess.y - ry, 2 * rx + 1, 2 * ry + 1), plainWindow = window;
    const cv::Mat w = SmoothWindow(grey, window, D / 40.0), wPlain = SmoothWindow(plain, plainWindow, D / 40.0);
    if (w.empty() || wPlain.size() != w.size())
        return false;
    const int mid = guess.x - window.x, half = std::max(1, RoundHalfEven(0.2 * D));
    const cv::Rect middle = cv::Rect(mid - half, 0, 2 * half + 1, w.rows) & cv::Rect(0, 0, w.cols, w.rows);
    if (middle.width < 1)
        return false;
    // The junction's row from the photo's own grey levels, the run along it on the equalised ones.
    cv::Mat rows, plainRows;
    cv::reduce(w(middle), rows, 1, cv::REDUCE_AVG, CV_64F);
    cv::reduce(wPlain(middle), plainRows, 1, cv::REDUCE_AVG, CV_64F);
    cv::Point at;
    cv::minMaxLoc(plainRows, nullptr, nullptr, &at);
    const double low = rows.at<double>(at.y), skin = (rows.at<double>(0) + rows.at<double>(rows.rows - 1)) / 2;
    if (skin - low < 15 || at.y == 0 || at.y == rows.rows - 1)
        return false;
    // From the middle out along the junction, which may bend (a smile): each column's darkest of
    // the three rows next to the last one, until the darkness fades half way to the skin's level
    // for two columns. A smile's crease can go on past the corner darker than that; then the
    // corner ends the dark run that holds the side's darkest spot (the corner's pocket), faded
    // half way from that spot's level instead. Each side reaches 0.7 eye distances from the
    // guess; a guess off the mouth's middle leaves one corner beyond that, so a side that does
    // not fade there goes on as far as the widest mouth allows from the other side's corner.
    auto follow = [&](int step, int limit, cv::Point& end) {
        std::vector<cv::Point> trace{{mid, at.y}};
        int x = mid, y = at.y;
        while (x + step > 0 && x + step < w.cols - 1 && std::abs(x - mid) < limit) {
            x += step;
            int bestY = y;
            for (int dy = -1; dy <= 1; ++dy)
                if (y + dy > 0 && y + dy < w.rows - 1 && w.at<std::uint8_t>(y + dy, x) < w.at<std::uint8_t>(bestY, x))
                    bestY = y + dy;
            y = bestY;
            trace.emplace_back(x, y);
        }
        auto value = [&](const cv::Point& q) { return double(w.at<std::uint8_t>(q)); };
        // A cheek in shadow is darker than the skin over the mouth's middle: past the corner
        // the line is measured against its own column's skin above and below it.
        auto skinAt = [&](int col) {
            return std::min(skin, (w.at<std::uint8_t>(0, col) + w.at<std::uint8_t>(w.rows - 1, col)) / 2.0);
        };
        auto fadesAfter = [&](size_t from, double bottom) {
            end = trace[from];
            for (size_t k = from + 1, misses = 0; k < trace.size(); ++k) {
                if (value(trace[k]) < bottom + 0.5 * (skinAt(trace[k].x) - bottom)) {
                    end = trace[k];
                    misses = 0;
                } else if (++misses == 2) {
                    return true;
                }
            }
            return false;
        };
        if (fadesAfter(0, low))
            return true;
        size_t darkest = 0;
        for (size_t k = 1; k < trace.size(); ++k)
            if (value(trace[k]) < value(trace[darkest]))
                darkest = k;
        return fadesAfter(darkest, std::min(low, value(trace[darkest])));
    };
    const int reach = RoundHalfEven(0.7 * D), widest = RoundHalfEven(1.4 * D);
    cv::Point leftEnd, rightEnd;
    const bool leftFades = follow(-1, reach, leftEnd), rightFades = follow(+1, reach, rightEnd);
    if (!leftFades && !rightFades)
        return false;
    if (!leftFades && !follow(-1, widest - (rightEnd.x - mid), leftEnd))
        return false;
    if (!rightFades && !follow(+1, widest - (mid - leftEnd.x), rightEnd))
        return false;
    const int left = leftEnd.x, right = rightEnd.x, width = right - left;
    if (width < 0.5 * D || width > 1.4 * D)
        return false;
    lips.leftY = window.y + leftEnd.y;
    lips.rightY = window.y + rightEnd.y;
    lips.y = window.y + at.y;
    lips.left = window.x + left;
    lips.right = window.x + right;
    return true;
}

// The grey levels of a thin column band through x, from row `from` to row `to` (either way),
// smoothed; empty where the band leaves the photo.
std::vector<double> ColumnProfile(const cv::Mat& grey, int x, int from, int to, int D)
{
    const int half = std::max(1, RoundHalfEven(0.08 * D));
    cv::Rect window(x - half, std::min(from, to), 2 * half + 1, std::abs(to - from) + 1);
    const cv::Mat w = SmoothWindow(grey, window, D / 40.0);
    std::vector<double> out;
    if (w.empty() || window.height != std::abs(to - from) + 1)
        return out;
    cv::Mat rows;
    cv::reduce(w, rows, 1, cv::REDUCE_AVG, CV_64F);
    for (int k = 0; k < rows.rows; ++k)
        out.push_back(rows.at<double>(from <= to ? k : rows.rows - 1 - k));
    return out;
}

// The upper lip's top edge above the lips' junction at (x, lineY): going up, the first row
// lit half way from the junction's darkness to the skin above it. False without that contrast.
bool FindUpperLipTop(const cv::Mat& grey, int x, int lineY, int D, int& topY)
{
    const std::vector<double> up = ColumnProfile(grey, x, lineY, lineY - std::max(3, RoundHalfEven(0.35 * D)), D);
    if (up.size() < 3)
        return false;
    const double skin = *std::max_element(up.begin(), up.end()), dark = up.front();
    if (skin - dark < 15)
        return false;
    for (size_t k = 1; k < up.size(); ++k)
        if (up[k] >= dark + 0.5 * (skin - dark)) {
            topY = lineY - int(k);
            return true;
        }
    return false;
}

// The lower lip's bottom edge below the junction: the lower lip is where the grey level stops
// rising below it, the shadow under the lip the darkest row after that; the edge is the first row
// past the lip darker than half way between the two. False without that contrast.
bool FindLowerLipBottom(const cv::Mat& grey, int x, int lineY, int D, int& bottomY)
{
    const std::vector<double> down = ColumnProfile(grey, x, lineY, lineY + std::max(3, RoundHalfEven(0.4 * D)), D);
    if (down.size() < 3)
        return false;
    size_t lip = 0;
    while (lip + 1 < down.size() && down[lip + 1] > down[lip])
        ++lip;
    const double shadow = *std::min_element(down.begin() + long(lip), down.end());
    if (down[lip] - shadow < 15)
        return false;
    for (size_t k = lip + 1; k < down.size(); ++k)
        if (down[k] < 0.5 * (down[lip] + shadow)) {
            bottomY = lineY + int(k);
            return true;
        }
    return false;
}

// The chin: below the mouth, the face's lower outline, which is where the grey level of a band
// under the mouth falls from light to dark (the shadow under the jaw), between 0.45 and 1.1 eye
// distances below the lips: the highest fall of at least half the strongest, since a dark collar
// or the neck's own edge below it may fall further. False when there is no clear fall. Measured on
// the photo's own grey levels: equalising them stretches the skin's tones and compresses the
// shadow's, which moves the steepest fall up onto the chin's lit curve.
bool FindChin(const cv::Mat& grey, cv::Point mouth, int D, int& chinY)
{
    const int half = std::max(2, RoundHalfEven(0.3 * D)), top = mouth.y + RoundHalfEven(0.45 * D);
    cv::Rect window(mouth.x - half, top, 2 * half + 1, std::max(3, RoundHalfEven(0.65 * D)));
    const cv::Mat w = SmoothWindow(grey, window, D / 40.0);
    if (w.empty())
        return false;
    cv::Mat rows;
    cv::reduce(w, rows, 1, cv::REDUCE_AVG, CV_64F);
    const int k = std::max(2, D / 20);
    std::vector<double> fall(size_t(rows.rows), 0.0);
    double best = 0;
    for (int y = k; y + k < rows.rows; ++y) {
        fall[size_t(y)] = rows.at<double>(y - k) - rows.at<double>(y + k);
        best = std::max(best, fall[size_t(y)]);
    }
    if (best < 12)
        return false;
    int at = -1;
    for (int y = k; y + k < rows.rows && at < 0; ++y)
        if (fall[size_t(y)] >= 0.5 * best && fall[size_t(y)] >= fall[size_t(y - 1)] && fall[size_t(y)] >= fall[size_t(y + 1)])
            at = y;
    if (at < 0)
        return false;
    chinY = window.y + at;
    return true;
}

// The largest face. The cascade's windows grow by a tenth from one search size to the next; a face
// whose size falls between two of them can gather fewer than the neighbours asked for, so a photo
// without a hit is searched once more with sizes a twentieth apart.
std::vector<cv::Rect> FindFace(const TDetector& detector, const cv::Mat& grey)
{
    std::vector<cv::Rect> faces = detector(TCascadeKind::FrontFace, grey, TDetectParams{1.1, 3, {30, 30}, true});
    if (faces.empty())
        faces = detector(TCascadeKind::FrontFace, grey, TDetectParams{1.05, 3, {30, 30}, true});
    return faces;
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

// The two eyes, each from the hits of its own half of the face (left of the face's centre for E1):
// of those in the upper half of the face and within a third of the estimates' distance of that
// eye's estimate, the one nearest to it (a hit further off is a brow, a temple or a nostril). An eye
// without a hit keeps its estimate, which is nearer than the other eye's mirror on a turned face.
// Returns which eyes were found (bit 0 E1, bit 1 E2).
int ChooseEyes(const std::vector<cv::Rect>& leftHits, const std::vector<cv::Rect>& rightHits, const cv::Rect& F,
               int cx, cv::Point& E1, cv::Point& E2)
{
    const double reach = cv::norm(E2 - E1) / 3;
    auto nearest = [&](const std::vector<cv::Rect>& hits, cv::Point estimate, bool leftSide, cv::Point& eye) {
        double best = -1;
        for (const cv::Rect& h : hits) {
            const cv::Point c = CentreOf(cv::Rect(), h);
            if (c.y >= F.y + F.height / 2 || (leftSide ? c.x >= cx : c.x <= cx))
                continue;
            const double d = cv::norm(c - estimate);
            if (d <= reach && (best < 0 || d < best)) {
                best = d;
                eye = c;
            }
        }
        return best >= 0;
    };
    const bool hasLeft = nearest(leftHits, E1, true, E1), hasRight = nearest(rightHits, E2, false, E2);
    return (hasLeft ? 1 : 0) | (hasRight ? 2 : 0);
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

// Mouth: the hit nearest to the eyes' middle below the nose, well away from it (but above the
// chin) and from the head's sides; its rectangle's sides are the lips' corners. Without one the lips' junction hangs below
// the nose by the head's proportions.
bool PlaceMouth(THPoint* const* p, const std::vector<cv::Rect>& hits, const cv::Rect& region, cv::Point E1,
                cv::Point E2, cv::Point N, const TGenericHead& g, double featureWidth, double roll)
{
    using namespace FrontPoint;
    const int D = TRecognizer::Abs(E2.x - E1.x), mx = (E1.x + E2.x) / 2;
    const int width = HeadWidth(p), margin = width / 5;
    // A hit further below the nose than twice the lips' junction is the chin.
    const double lowest = N.y + 2 * g.proportions.mouthFromNose.dy * featureWidth;
    cv::Point M(0, 0);
    cv::Rect RM;
    for (const cv::Rect& h : hits) {
        const cv::Point c = CentreOf(region, h);
        const bool central = TRecognizer::Abs(c.x - mx) < TRecognizer::Abs(M.x - mx);
        const bool belowNose = double(TRecognizer::Abs(N.y - c.y)) > double(D) / 3.0 && N.y < c.y && c.y <= lowest;
        if (central && belowNose && p[LeftHead]->x + margin < c.x && c.x < p[RightHead]->x - margin) {
            M = c;
            RM = cv::Rect(region.x + h.x, region.y + h.y, h.width, h.height);
        }
    }
    const bool found = M.x != 0 && M.y != 0;
    if (!found) {
        const TFrontOffset& o = g.proportions.mouthFromNose;
        M = {N.x + RoundHalfEven(o.dx * featureWidth), N.y + RoundHalfEven(o.dy * featureWidth)};
    }
    p[MouthCenter]->MoveTo(M.x, M.y);
    PlaceBorders(p, MouthCenter, g, featureWidth, roll);
    if (found) {
        p[MouthLeft]->MoveTo(RM.x, p[MouthLeft]->y);
        p[MouthRight]->MoveTo(RM.x + RM.width, p[MouthRight]->y);
    }
    return found;
}

// The front's first steps, which recognition and the generator's measure of the head's own photo
// share: the grey levels, the skin mask, the largest face and the skin outline's two sides around
// the face's rectangle (around `noFaceBox` where no face was found).
struct TFaceAndOutline {
    cv::Mat plain, grey, mask;
    std::vector<cv::Rect> faces;
    cv::Rect F;
    int cx = 0, cy = 0;
    std::vector<cv::Point> left, right;
};

TFaceAndOutline FindFaceAndOutline(const cv::Mat& photo, const TDetector& detector, const cv::Mat& skinTable,
                                   const cv::Rect& noFaceBox)
{
    TFaceAndOutline s;
    cv::cvtColor(photo, s.plain, cv::COLOR_BGR2GRAY);
    cv::equalizeHist(s.plain, s.grey);
    s.mask = SkinMask(photo, skinTable);
    s.faces = FindFace(detector, s.grey);
    s.F = !s.faces.empty() ? s.faces.front() : noFaceBox;
    s.cx = RoundHalfEven(s.F.x + s.F.width * 0.5);
    s.cy = RoundHalfEven(s.F.y + s.F.height * 0.5);
    ScanOutline(s.mask, s.F, s.cx, s.cy, s.left, s.right);
    return s;
}
}

TRecognizer::TFaceOutline TRecognizer::MeasureFaceOutline()
{
    TFaceOutline out;
    if (frontImage.empty() || !frontFaceCascade || !SkinTableUsable())
        return out;
    frontImage = ResizeToMax(frontImage, 1300, false);
    const TFaceAndOutline found = FindFaceAndOutline(frontImage, detector, skinLocus, cv::Rect());
    if (found.faces.empty())
        return out;
    out.faceFound = true;
    out.face = found.F;
    out.outlineFound = !found.left.empty() && !found.right.empty();
    out.meanLeft = MeanX(found.left, found.F.x);
    out.meanRight = MeanX(found.right, found.F.x + found.F.width);
    return out;
}

bool TRecognizer::RecognizeFront(THeadAttributes* attributes)
{
    using namespace FrontPoint;
    frontFaceMissing = false;
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
    if (!generic) {
        ShowMessage(kNoGenericHead);
        return false;
    }

    frontImage = ResizeToMax(frontImage, 1300, false);
    const int W = frontImage.cols, H = frontImage.rows;
    THPoint* const* p = attributes->front;
    attributes->SetDefaultFrontPositions(W, H);

    // Face: the largest hit, or the default head box.
    const TFaceAndOutline found = FindFaceAndOutline(
        frontImage, detector, skinLocus,
        cv::Rect(p[LeftHead]->x, p[TopHead]->y, p[RightHead]->x - p[LeftHead]->x, p[BottomHead]->y - p[TopHead]->y));
    const cv::Mat& plain = found.plain;
    const cv::Mat& grey = found.grey;
    const cv::Mat& mask = found.mask;
    const std::vector<cv::Rect>& faces = found.faces;
    const cv::Rect& F = found.F;
    const int cx = found.cx, cy = found.cy;
    const std::vector<cv::Point>& left = found.left;
    const std::vector<cv::Point>& right = found.right;
    frontFaceMissing = faces.empty();
    p[HeadCenter]->MoveTo(cx, cy);
    PlaceHeadBox(p, left, right, F, *generic);
    const bool crownShown = PlaceShownCrown(frontImage, mask, F, p, *generic);
    EstimateCentres(p, *generic);

    // Every point counts as placed by proportion until a step measures it.
    std::bitset<Count>& fallback = report.frontFallback;
    fallback.set();
    if (!faces.empty())
        fallback.reset(HeadCenter);
    if (crownShown)
        fallback.reset(TopHead);
    if (!left.empty() && !right.empty()) {
        fallback.reset(LeftHead);
        fallback.reset(RightHead);
    }

    // Eyes: each half of the face's eye band apart, then the iris inside what was found.
    const std::vector<cv::Rect> leftHits = DetectInZone(detector, TCascadeKind::Eyes, grey, F, kLeftEyeZone);
    const std::vector<cv::Rect> rightHits = DetectInZone(detector, TCascadeKind::Eyes, grey, F, kRightEyeZone);
    cv::Point E1 = p[LeftEyeCenter]->GetPosition(), E2 = p[RightEyeCenter]->GetPosition();
    const int eyesHit = ChooseEyes(leftHits, rightHits, F, cx, E1, E2);
    const int guessD = std::max(std::abs(E2.x - E1.x), 1);
    cv::Point iris;
    bool measured1 = (eyesHit & 1) != 0, measured2 = (eyesHit & 2) != 0;
    if (FindIris(grey, E1, guessD, iris) || (!measured1 && FindIrisBetweenWhites(grey, E1, guessD, iris))) {
        E1 = iris;
        measured1 = true;
    }
    if (FindIris(grey, E2, guessD, iris) || (!measured2 && FindIrisBetweenWhites(grey, E2, guessD, iris))) {
        E2 = iris;
        measured2 = true;
    }
    // A face turned in the picture plane: the roll is the eye line's slope, when both eyes were
    // measured and it is small enough to be a roll rather than a misplaced eye.
    double roll = 0, featureWidth = HeadWidth(p);
    if (measured1 && measured2 && E2.x > E1.x) {
        const double slope = std::atan2(double(E2.y - E1.y), double(E2.x - E1.x));
        if (std::abs(slope) < 0.35)
            roll = slope;
        featureWidth = std::hypot(E2.x - E1.x, E2.y - E1.y) / EyeDistanceShare(*generic);
    }
    if (measured1)
        fallback.reset(LeftEyeCenter);
    if (measured2)
        fallback.reset(RightEyeCenter);
    p[LeftEyeCenter]->MoveTo(E1.x, E1.y);
    p[RightEyeCenter]->MoveTo(E2.x, E2.y);
    PlaceBorders(p, LeftEyeCenter, *generic, featureWidth, roll);
    PlaceBorders(p, RightEyeCenter, *generic, featureWidth, roll);
    const int D = std::max(RoundHalfEven(featureWidth * EyeDistanceShare(*generic)), 1);

    const cv::Point nose = p[NoseTip]->GetPosition();
    const cv::Point N = ChooseNose(DetectInZone(detector, TCascadeKind::Nose, grey, F, kNoseZone), cv::Rect(), E1, E2, nose);
    if (N != nose)
        fallback.reset(NoseTip);
    p[NoseTip]->MoveTo(N.x, N.y);
    PlaceBorders(p, NoseTip, *generic, featureWidth, roll);

    if (PlaceMouth(p, DetectInZone(detector, TCascadeKind::Mouth, grey, F, kMouthZone), cv::Rect(), E1, E2, N, *generic, featureWidth, roll))
        fallback.reset(MouthCenter);
    TLipLine lips;
    if (FindLipLine(grey, plain, p[MouthCenter]->GetPosition(), D, lips)) {
        p[MouthCenter]->MoveTo((lips.left + lips.right) / 2, lips.y);
        PlaceBorders(p, MouthCenter, *generic, featureWidth, roll);
        p[MouthLeft]->MoveTo(lips.left, lips.leftY);
        p[MouthRight]->MoveTo(lips.right, lips.rightY);
        fallback.reset(MouthCenter);
        fallback.reset(MouthLeft);
        fallback.reset(MouthRight);
        // The lips' outer edges in the columns where the generic head has them.
        int edge = 0;
        if (FindUpperLipTop(grey, p[MouthTop]->x, lips.y, D, edge)) {
            p[MouthTop]->MoveTo(p[MouthTop]->x, edge);
            fallback.reset(MouthTop);
        }
        if (FindLowerLipBottom(grey, p[MouthBottom]->x, lips.y, D, edge)) {
            p[MouthBottom]->MoveTo(p[MouthBottom]->x, edge);
            fallback.reset(MouthBottom);
        }
    }

    if (!fallback.test(NoseTip) && !fallback.test(MouthCenter))
        PlaceNoseBottomTowardMouth(p, *generic);

    int chinY = 0;
    if (FindChin(plain, p[MouthCenter]->GetPosition(), D, chinY) && chinY > p[MouthCenter]->y) {
        HangHeadBoxFromChin(p, chinY, measured1 && measured2, crownShown, *generic);
        fallback.reset(BottomHead);
    }
    PlaceHeadCentreInBox(p, *generic);

    KeepInside(p, Count, W, H);
    return true;
}

int TRecognizer::ProfileFaceVote(const cv::Mat& photo) const
{
    cv::Mat grey, mirrored;
    cv::cvtColor(photo, grey, cv::COLOR_BGR2GRAY);
    // Only large faces count, so a shrunk copy shows them as well and saves building the search's
    // image pyramid from the full photo (the search runs on the photo and its mirror).
    constexpr int kVoteSide = 480;
    if (const int small = std::min(grey.cols, grey.rows); small > kVoteSide) {
        const double f = double(kVoteSide) / small;
        cv::resize(grey, grey, cv::Size(std::max(1, RoundHalfEven(grey.cols * f)), std::max(1, RoundHalfEven(grey.rows * f))), 0, 0,
                   cv::INTER_AREA);
    }
    cv::flip(grey, mirrored, 1);
    // A profile face fills a good part of a profile photo (a fifth of its smaller side and more);
    // smaller windows cost by far the most and add only false hits.
    const int side = std::min(grey.cols, grey.rows) / 5;
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
    const TFacing facing = DecideFacing(silhouette, [this] { return ProfileFaceVote(profileImage); }, orientation);
    report.facingUndecided = facing == TFacing::CuesDisagree;
    if (report.facingUndecided)
        ShowMessage(kFacingUndecided);
    if (facing != TFacing::Decided)
        return; // the orientation stays as it is
    if (orientation == 1)
        cv::flip(profileImage, profileImage, 1);
    attributes->SetProfileOrientation(orientation, profileImage.cols);
}

bool TRecognizer::RecognizeProfile(THeadAttributes* attributes, bool keepOrientation)
{
    using namespace ProfilePoint;
    profileOutlineMissing = false;
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
    if (!generic) {
        ShowMessage(kNoGenericHead);
        return false;
    }

    profileImage = ResizeToMax(profileImage, 1300, false);
    const int W = profileImage.cols, H = profileImage.rows;
    THPoint* const* p = attributes->profile;
    attributes->SetDefaultProfilePositions(W, H, keepOrientation);

    // The silhouette serves the facing decision and the placement; a flip mirrors it.
    Silhouette s(profileImage, skinLocus);
    int orientation = 0;
    const TFacing facing =
        keepOrientation ? TFacing::NoEvidence : DecideFacing(s, [this] { return ProfileFaceVote(profileImage); }, orientation);
    report.facingUndecided = facing == TFacing::CuesDisagree;
    if (report.facingUndecided)
        ShowMessage(kFacingUndecided);
    if (facing == TFacing::Decided) {
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

    std::bitset<Count>& fallback = report.profileFallback;
    fallback.set();
    if (!s.hasCentroid || s.contour.empty()) {
        profileOutlineMissing = true;
        return finish(false);
    }
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
    if (line.empty()) {
        profileOutlineMissing = true;
        return finish(false);
    }

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

    size_t root = NoseRootIndex(line, tip, p[BottomHead]->y - p[TopHead]->y, generic->browOverTip);
    // A chin less than a nose's height below the tip of the nose is the lips: on the generic head the
    // chin lies 1.9 nose heights (root to tip) below the tip, the lips' junction 0.67. Look further
    // down, and take the nose root again for the head's new height.
    const int belowNose = line[tip].y + (line[tip].y - line[root].y);
    if (chinFound && p[BottomHead]->y < belowNose) {
        p[BottomHead]->MoveTo(R0.x + R0.width / 2, R0.y + R0.height);
        chinFound = PlaceChin(line, std::max(cy, belowNose), p[BottomHead]);
        root = NoseRootIndex(line, tip, p[BottomHead]->y - p[TopHead]->y, generic->browOverTip);
    }
    const FullFaceLine full(s.mask, B.y, B.y + B.height, B.x, std::min(B.x + B.width, cx - 1));
    PlaceFaceLineFeatures(full, line[tip], line[root], std::max(1, B.height / 100),
                          generic->browOverTip * (p[BottomHead]->y - p[TopHead]->y), p);
    fallback.reset(NoseTip);
    fallback.reset(NoseRoot);
    if (chinFound) {
        fallback.reset(BottomHead);
        fallback.reset(LeftHead); // the tip of the nose
    }

    // The mouth at the notch between the lips; else where the generic head has it in its skin box.
    if (chinFound && PlaceMouth(full, p, *generic))
        fallback.reset(MouthCenter);
    else {
        const int HW = p[RightHead]->x - p[LeftHead]->x;
        const int HH = p[BottomHead]->y - p[TopHead]->y;
        p[MouthCenter]->MoveTo(p[LeftHead]->x + RoundHalfEven(generic->profileMouthBehindTip * HW),
                               p[BottomHead]->y - RoundHalfEven(generic->profileMouthAboveChin * HH));
    }
    PlaceByGenericHead(p, chinFound, *generic);
    PlaceShownSkull(profileImage, s, B, p, fallback);
    PlaceHeadCentre(p, fallback);

    return finish(true);
}
