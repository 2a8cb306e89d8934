// The majority of a square window over a 0/255 mask: what a median of that window gives on such a
// mask, from two running sums instead of a histogram per pixel.
#pragma once

#include <opencv2/core.hpp>

// 255 where more than half of the side x side window about the pixel is 255, 0 elsewhere; the
// border is replicated, as the median filter does. side odd; mask CV_8UC1 holding 0 and 255 only.
cv::Mat SquareMajority(const cv::Mat& mask, int side);
