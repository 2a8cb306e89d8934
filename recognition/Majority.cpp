#include "recognition/Majority.h"

#include <opencv2/imgproc.hpp>

cv::Mat SquareMajority(const cv::Mat& mask, int side)
{
    CV_Assert(mask.type() == CV_8UC1 && side > 0 && side % 2 == 1);
    // Window sums of 0/255 values: at most 255 * side^2, well inside an int.
    cv::Mat sums;
    cv::boxFilter(mask, sums, CV_32S, cv::Size(side, side), cv::Point(-1, -1), false, cv::BORDER_REPLICATE);
    const double half = double(side) * side / 2.0;
    cv::Mat majority;
    cv::compare(sums, 255.0 * half, majority, cv::CMP_GT);
    return majority;
}
