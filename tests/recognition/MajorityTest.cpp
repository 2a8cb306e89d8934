// The square majority against the median filter it stands in for, on 0/255 masks.
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "recognition/Majority.h"

namespace {

// Noise of the given skin share, with a filled disc and a bar that touch the border, so that the
// replicated border and windows near a half share are both exercised.
cv::Mat Mask(int w, int h, double share, unsigned seed)
{
    cv::RNG rng(seed);
    cv::Mat noise(h, w, CV_32F);
    rng.fill(noise, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat mask = noise < share;
    cv::circle(mask, {w / 3, h / 2}, std::max(1, std::min(w, h) / 3), cv::Scalar(255), cv::FILLED);
    cv::rectangle(mask, {w - 1 - w / 5, 0}, {w - 1, h / 4}, cv::Scalar(0), cv::FILLED);
    return mask;
}

struct Case {
    int w, h, side;
    double share;
};

TEST(SquareMajority, EqualsTheMedianOnBinaryMasks)
{
    const std::vector<Case> cases = {
        {1300, 975, 31, 0.5},  {1300, 975, 31, 0.45}, {640, 480, 31, 0.55}, {200, 300, 7, 0.5},
        {97, 61, 31, 0.5},     {40, 25, 31, 0.5},     {31, 31, 31, 0.5},    {33, 180, 3, 0.3},
        {500, 400, 15, 0.02},  {500, 400, 15, 0.98},
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        const cv::Mat mask = Mask(c.w, c.h, c.share, seed++);
        cv::Mat median;
        cv::medianBlur(mask, median, c.side);
        const cv::Mat majority = SquareMajority(mask, c.side);
        ASSERT_EQ(majority.size(), mask.size());
        ASSERT_EQ(majority.type(), CV_8UC1);
        EXPECT_EQ(cv::countNonZero(majority != median), 0)
            << c.w << " x " << c.h << ", side " << c.side << ", share " << c.share;
    }
}

TEST(SquareMajority, FiveOfNineIsAMajorityFourIsNot)
{
    // A 3 x 3 mask: the window about its centre is the mask itself.
    for (int set = 0; set <= 9; ++set) {
        cv::Mat mask(3, 3, CV_8UC1, cv::Scalar(0));
        for (int i = 0; i < set; ++i)
            mask.at<uchar>(i / 3, i % 3) = 255;
        EXPECT_EQ(SquareMajority(mask, 3).at<uchar>(1, 1), set >= 5 ? 255 : 0) << set << " of 9";
    }
}

TEST(SquareMajority, RefusesWhatIsNotAMaskOrAnOddSide)
{
    EXPECT_THROW(SquareMajority(cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(0)), 3), cv::Exception);
    EXPECT_THROW(SquareMajority(cv::Mat(10, 10, CV_8UC1, cv::Scalar(0)), 4), cv::Exception);
}

}  // namespace
