#pragma once
// Photo files that lie about themselves, for the tests of photo loading.
#include <filesystem>
#include <fstream>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

// A small JPEG (16 x 16 pixels of noise) whose frame header declares width x height pixels.
inline void WriteJpegDeclaring(const std::filesystem::path& path, int width, int height)
{
    std::vector<uchar> bytes;
    cv::Mat noise(16, 16, CV_8UC3);
    cv::randu(noise, 0, 255);
    cv::imencode(".jpg", noise, bytes);
    for (size_t i = 2; i + 8 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = uchar(height >> 8), bytes[i + 6] = uchar(height & 0xFF);
            bytes[i + 7] = uchar(width >> 8), bytes[i + 8] = uchar(width & 0xFF);
            break;
        }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
