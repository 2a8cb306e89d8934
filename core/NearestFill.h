#pragma once
// Nearest-pixel fill: every marked pixel takes the colour of the nearest unmarked one.
#include <opencv2/core.hpp>

// A copy of `image` (8-bit, 3 channels) in which every pixel that `marked` (8-bit, the image's
// size) marks with a non-zero value has the colour of the unmarked pixel nearest to it by
// Euclidean distance (exact; of equally near ones, any). Unmarked pixels keep their colour. When
// every pixel is marked, or the arguments do not fit, the copy is unchanged.
cv::Mat FillFromNearestUnmarked(const cv::Mat& image, const cv::Mat& marked);
