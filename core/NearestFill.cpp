// The nearest unmarked pixel of every pixel by the separable exact Euclidean transform
// (Felzenszwalb and Huttenlocher, "Distance Transforms of Sampled Functions"), carrying the
// nearest pixel's position instead of only its distance: first along each column, then along each
// row over the lower envelope of the columns' parabolas. Linear in the pixel count, and each pass
// runs its columns or rows in parallel.
#include "core/NearestFill.h"

#include <cstdint>
#include <vector>

#include <opencv2/core/utility.hpp>

namespace {

constexpr int kNone = -1;

// nearestRow(y, x): the row of the unmarked pixel of column x nearest to row y, kNone if the
// column has none.
cv::Mat NearestInColumns(const cv::Mat& marked)
{
    const int rows = marked.rows, cols = marked.cols;
    cv::Mat nearest(rows, cols, CV_32SC1);
    cv::parallel_for_(cv::Range(0, cols), [&](const cv::Range& range) {
        const int x0 = range.start, x1 = range.end;
        // Downwards: the last unmarked row at or above y.
        std::vector<int> last(static_cast<size_t>(x1 - x0), kNone);
        for (int y = 0; y < rows; ++y) {
            const uint8_t* m = marked.ptr<uint8_t>(y);
            int* out = nearest.ptr<int>(y);
            for (int x = x0; x < x1; ++x) {
                int& l = last[static_cast<size_t>(x - x0)];
                if (m[x] == 0)
                    l = y;
                out[x] = l;
            }
        }
        // Upwards: the first unmarked row at or below y, kept where it is nearer.
        std::fill(last.begin(), last.end(), kNone);
        for (int y = rows - 1; y >= 0; --y) {
            const uint8_t* m = marked.ptr<uint8_t>(y);
            int* out = nearest.ptr<int>(y);
            for (int x = x0; x < x1; ++x) {
                int& l = last[static_cast<size_t>(x - x0)];
                if (m[x] == 0)
                    l = y;
                if (l != kNone && (out[x] == kNone || l - y < y - out[x]))
                    out[x] = l;
            }
        }
    });
    return nearest;
}

}  // namespace

cv::Mat FillFromNearestUnmarked(const cv::Mat& image, const cv::Mat& marked)
{
    cv::Mat filled = image.clone();
    if (image.empty() || image.type() != CV_8UC3 || marked.size() != image.size() || marked.type() != CV_8UC1)
        return filled;
    if (cv::countNonZero(marked) == static_cast<int>(marked.total()))
        return filled;
    const cv::Mat nearestRow = NearestInColumns(marked);
    const int cols = image.cols;
    cv::parallel_for_(cv::Range(0, image.rows), [&](const cv::Range& range) {
        // Lower envelope of the parabolas (x - q)^2 + f(q), f(q) the squared distance to the
        // nearest unmarked pixel in column q; columns without one take no part.
        std::vector<int> site(static_cast<size_t>(cols));
        std::vector<double> from(static_cast<size_t>(cols) + 1);
        std::vector<double> f(static_cast<size_t>(cols));
        for (int y = range.start; y < range.end; ++y) {
            const int* rowOf = nearestRow.ptr<int>(y);
            const uint8_t* m = marked.ptr<uint8_t>(y);
            int k = -1;
            for (int q = 0; q < cols; ++q) {
                if (rowOf[q] == kNone)
                    continue;
                const double dy = rowOf[q] - y;
                f[static_cast<size_t>(q)] = dy * dy;
                const double fq = f[static_cast<size_t>(q)] + double(q) * q;
                double s = 0;
                while (k >= 0) {
                    const int v = site[static_cast<size_t>(k)];
                    s = (fq - (f[static_cast<size_t>(v)] + double(v) * v)) / (2.0 * (q - v));
                    if (s > from[static_cast<size_t>(k)])
                        break;
                    --k;
                }
                ++k;
                site[static_cast<size_t>(k)] = q;
                from[static_cast<size_t>(k)] = k == 0 ? -1e300 : s;
            }
            // Every row has a site: some column holds an unmarked pixel.
            cv::Vec3b* out = filled.ptr<cv::Vec3b>(y);
            int j = 0;
            for (int x = 0; x < cols; ++x) {
                while (j < k && from[static_cast<size_t>(j) + 1] < x)
                    ++j;
                if (m[x] == 0)
                    continue;
                const int q = site[static_cast<size_t>(j)];
                out[x] = image.ptr<cv::Vec3b>(rowOf[q])[q];
            }
        }
    });
    return filled;
}
