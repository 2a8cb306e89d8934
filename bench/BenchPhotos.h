#pragma once
// The benchmarks' photos at the size recognition works at.
#include <algorithm>
#include <string>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

// A photo scaled so that its larger side is 1300 pixels, saved as JPEG; "" when it cannot be read.
inline std::string Prepare(const std::string& source, const std::string& out)
{
    cv::Mat photo = cv::imread(source, cv::IMREAD_COLOR);
    if (photo.empty())
        return "";
    const double f = 1300.0 / std::max(photo.cols, photo.rows);
    cv::resize(photo, photo, cv::Size(), f, f, cv::INTER_CUBIC);
    return cv::imwrite(out, photo) ? out : "";
}
