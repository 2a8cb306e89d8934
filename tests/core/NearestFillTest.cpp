// The nearest-pixel fill against a brute-force search over small masks.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include <opencv2/core.hpp>

#include "core/NearestFill.h"

namespace {

// Every pixel's colour names its position, so that a filled colour says where it came from.
cv::Mat PositionImage(cv::Size size)
{
    cv::Mat image(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(uint8_t(x), uint8_t(y), 7);
    return image;
}

struct MaskCase {
    std::string what;
    cv::Mat marked;
};

std::vector<MaskCase> Cases()
{
    std::vector<MaskCase> cases;
    cv::RNG random(12345);
    for (double share : {0.5, 0.9, 0.99}) {
        cv::Mat m(37, 53, CV_8UC1);
        for (int y = 0; y < m.rows; ++y)
            for (int x = 0; x < m.cols; ++x)
                m.at<uint8_t>(y, x) = random.uniform(0.0, 1.0) < share ? 255 : 0;
        cases.push_back({"random, share marked " + std::to_string(share), m});
    }
    cv::Mat one(40, 30, CV_8UC1, cv::Scalar(255));
    one.at<uint8_t>(33, 4) = 0;
    cases.push_back({"one unmarked pixel", one});
    // Whole columns and rows without an unmarked pixel, and a far corner.
    cv::Mat band(31, 64, CV_8UC1, cv::Scalar(255));
    band(cv::Rect(10, 0, 3, 31)).setTo(0);
    band.at<uint8_t>(30, 63) = 0;
    cases.push_back({"a band and a corner", band});
    cv::Mat row(1, 50, CV_8UC1, cv::Scalar(1));
    row.at<uint8_t>(0, 20) = 0;
    cases.push_back({"a single row", row});
    cv::Mat column(50, 1, CV_8UC1, cv::Scalar(1));
    column.at<uint8_t>(3, 0) = 0;
    cases.push_back({"a single column", column});
    cases.push_back({"nothing marked", cv::Mat(9, 11, CV_8UC1, cv::Scalar(0))});
    return cases;
}

TEST(NearestFill, EveryMarkedPixelTakesTheColourOfAnUnmarkedPixelAtTheLeastDistance)
{
    for (const MaskCase& c : Cases()) {
        const cv::Mat image = PositionImage(c.marked.size());
        const cv::Mat filled = FillFromNearestUnmarked(image, c.marked);
        ASSERT_EQ(filled.size(), image.size()) << c.what;
        int wrong = 0;
        for (int y = 0; y < image.rows; ++y)
            for (int x = 0; x < image.cols; ++x) {
                const cv::Vec3b got = filled.at<cv::Vec3b>(y, x);
                if (c.marked.at<uint8_t>(y, x) == 0) {
                    wrong += got != image.at<cv::Vec3b>(y, x);
                    continue;
                }
                int best = INT_MAX;
                for (int v = 0; v < image.rows; ++v)
                    for (int u = 0; u < image.cols; ++u)
                        if (c.marked.at<uint8_t>(v, u) == 0)
                            best = std::min(best, (u - x) * (u - x) + (v - y) * (v - y));
                const int sx = got[0], sy = got[1];
                const bool fromUnmarked = got[2] == 7 && sx < image.cols && sy < image.rows &&
                                          c.marked.at<uint8_t>(sy, sx) == 0;
                wrong += !fromUnmarked || (sx - x) * (sx - x) + (sy - y) * (sy - y) != best;
            }
        EXPECT_EQ(wrong, 0) << c.what;
    }
}

TEST(NearestFill, AllMarkedOrUnfitArgumentsGiveAnUnchangedCopy)
{
    const cv::Mat image = PositionImage({8, 6});
    struct Case {
        const char* what;
        cv::Mat marked;
    };
    const Case cases[] = {{"all marked", cv::Mat(6, 8, CV_8UC1, cv::Scalar(255))},
                          {"mask of another size", cv::Mat(5, 8, CV_8UC1, cv::Scalar(0))},
                          {"mask of another type", cv::Mat(6, 8, CV_32FC1, cv::Scalar(1))}};
    for (const Case& c : cases) {
        const cv::Mat filled = FillFromNearestUnmarked(image, c.marked);
        EXPECT_EQ(cv::norm(filled, image, cv::NORM_INF), 0) << c.what;
    }
}

}  // namespace
