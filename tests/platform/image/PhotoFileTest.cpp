// The checks before a photo is decoded: the size read from each format's header, the limits, and
// the files that are no pictures at all.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "platform/image/PhotoFile.h"

namespace fs = std::filesystem;

namespace {

std::string Encode(const std::string& extension, const cv::Mat& image)
{
    std::vector<uchar> bytes;
    if (!cv::imencode(extension, image, bytes))
        return {};
    return std::string(bytes.begin(), bytes.end());
}

cv::Mat Noise(int width, int height, int type = CV_8UC3)
{
    cv::Mat m(height, width, type);
    cv::randu(m, 0, 255);
    return m;
}

// The offset of the first frame header (FF C0) of a JPEG.
size_t FrameAt(const std::string& jpeg)
{
    for (size_t i = 2; i + 1 < jpeg.size(); ++i)
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && static_cast<unsigned char>(jpeg[i + 1]) == 0xC0)
            return i;
    return std::string::npos;
}

std::string Bytes(std::initializer_list<int> values)
{
    std::string out;
    for (int v : values)
        out += static_cast<char>(v);
    return out;
}

class TempDir {
public:
    TempDir() : path(fs::temp_directory_path() / ("vultari-photo-file-" + std::to_string(::getpid())))
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        const std::string file = (path / name).string();
        std::ofstream(file, std::ios::binary) << bytes;
        return file;
    }
    fs::path path;
};

} // namespace

// Every format the image library writes here: the header gives the size the encoder was given.
TEST(PhotoHeader, SizeOfEveryFormatTheDecoderReads)
{
    struct Case {
        const char* extension;
        int type;
    };
    const Case cases[] = {{".jpg", CV_8UC3},  {".png", CV_8UC3}, {".bmp", CV_8UC3}, {".tiff", CV_8UC3},
                          {".webp", CV_8UC3}, {".ppm", CV_8UC3}, {".pgm", CV_8UC1}, {".pbm", CV_8UC1},
                          {".pfm", CV_32FC3}, {".ras", CV_8UC3}};
    const cv::Size sizes[] = {{37, 23}, {300, 1}, {1, 300}};
    for (const Case& c : cases)
        for (const cv::Size& size : sizes) {
            const std::string bytes = Encode(c.extension, Noise(size.width, size.height, c.type));
            ASSERT_FALSE(bytes.empty()) << c.extension;
            const PhotoHeader header = SniffPhotoHeader(bytes);
            EXPECT_TRUE(header.known) << c.extension;
            EXPECT_EQ(header.width, size.width) << c.extension << " " << size;
            EXPECT_EQ(header.height, size.height) << c.extension << " " << size;
        }
    // Lossless WebP has a header of its own.
    std::vector<uchar> buffer;
    ASSERT_TRUE(cv::imencode(".webp", Noise(45, 17), buffer, {cv::IMWRITE_WEBP_QUALITY, 101}));
    const PhotoHeader header = SniffPhotoHeader(std::string(buffer.begin(), buffer.end()));
    ASSERT_EQ(std::string(buffer.begin() + 12, buffer.begin() + 16), "VP8L");
    EXPECT_TRUE(header.known);
    EXPECT_EQ(header.width, 45);
    EXPECT_EQ(header.height, 17);
}

// Declared sizes that no small file holds, and headers the encoders do not write.
TEST(PhotoHeader, DeclaredSizesAndRareHeaders)
{
    std::string jpeg = Encode(".jpg", Noise(16, 16));
    const size_t frame = FrameAt(jpeg);
    ASSERT_NE(frame, std::string::npos);
    jpeg[frame + 5] = char(32320 >> 8), jpeg[frame + 6] = char(32320 & 0xFF);
    jpeg[frame + 7] = char(12128 >> 8), jpeg[frame + 8] = char(12128 & 0xFF);
    // Metadata before the frame header is skipped by its length, however long.
    std::string app1 = Bytes({0xFF, 0xE1, 0xFF, 0xF0}) + std::string(0xFFF0 - 2, 'x');
    const std::string withMetadata = jpeg.substr(0, 2) + app1 + app1 + jpeg.substr(2);
    std::string png = Encode(".png", Noise(16, 16));
    png.replace(16, 8, Bytes({0, 0, 0x9C, 0x40, 0, 1, 0, 0}));  // 40000 x 65536
    std::string bmp = Encode(".bmp", Noise(16, 16));
    bmp.replace(18, 8, Bytes({0x10, 0, 0, 0, 0xF0, 0xFF, 0xFF, 0xFF}));  // 16 x -16: top row first
    const std::string bigTiff = Bytes({'I', 'I', 0x2B, 0, 8, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0,
                                       2, 0, 0, 0, 0, 0, 0, 0,
                                       0, 1, 16, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0x70, 0x11, 0x01, 0, 0, 0, 0, 0,
                                       1, 1, 4, 0, 1, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0});
    const std::string bigEndianTiff = Bytes({'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 2,
                                             1, 0, 0, 3, 0, 0, 0, 1, 0x12, 0x34, 0, 0,
                                             1, 1, 0, 4, 0, 0, 0, 1, 0, 0, 0x56, 0x78});
    const std::string vp8x = std::string("RIFF") + Bytes({0, 0, 0, 0}) + "WEBPVP8X" +
                             Bytes({10, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x3F, 0x00, 0x00, 0, 0});
    const std::string netpbm = "P6\n# a comment 99 99\n  640\t# more\n480\n255\n";
    struct Case {
        const char* what;
        std::string bytes;
        bool known;
        std::int64_t width, height;
    };
    const Case cases[] = {
        {"a JPEG declaring 12128 x 32320", jpeg, true, 12128, 32320},
        {"the same behind 128 kB of metadata", withMetadata, true, 12128, 32320},
        {"a PNG declaring 40000 x 65536", png, true, 40000, 65536},
        {"a BMP stored top row first", bmp, true, 16, 16},
        {"a BigTIFF", bigTiff, true, 70000, 5},
        {"a big-endian TIFF", bigEndianTiff, true, 0x1234, 0x5678},
        {"an extended WebP", vp8x, true, 65536, 64},
        {"a PPM with comments", netpbm, true, 640, 480},
        {"text", "hello, world", false, 0, 0},
        {"a JPEG cut before its frame header", jpeg.substr(0, frame), false, 0, 0},
        {"nothing", "", false, 0, 0},
    };
    for (const Case& c : cases) {
        const PhotoHeader header = SniffPhotoHeader(c.bytes);
        EXPECT_EQ(header.known, c.known) << c.what;
        if (c.known) {
            EXPECT_EQ(header.width, c.width) << c.what;
            EXPECT_EQ(header.height, c.height) << c.what;
        }
    }
}

TEST(PhotoHeader, SizeLimits)
{
    struct Case {
        std::int64_t width, height;
        std::string problem;
    };
    const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
    const Case cases[] = {
        {8192, 8192, ""},
        {16, 16, ""},
        {65536, 1024, ""},
        {8193, 8192, "is 8193 x 8192 pixels; photos of at most 64 megapixels are read"},
        {12128, 32320, "is 12128 x 32320 pixels; photos of at most 64 megapixels are read"},
        {huge, 2, "is " + std::to_string(huge) + " x 2 pixels; photos of at most 64 megapixels are read"},
        {15, 100, "is 15 x 100 pixels; a photo needs at least 16 pixels on each side"},
        {1, 4000, "is 1 x 4000 pixels; a photo needs at least 16 pixels on each side"},
        {0, 0, "is 0 x 0 pixels; a photo needs at least 16 pixels on each side"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PhotoSizeProblem(c.width, c.height), c.problem) << c.width << " x " << c.height;
}

// Files as the loader meets them; a FIFO is refused without being opened (an open would wait).
TEST(PhotoFile, WhatMayBeDecoded)
{
    TempDir dir;
    std::string jpeg = Encode(".jpg", Noise(20, 18));
    const std::string photo = dir.Write("photo.jpg", jpeg);
    const size_t frame = FrameAt(jpeg);
    jpeg[frame + 5] = char(0x7E), jpeg[frame + 7] = char(0x2F);  // 0x7E12 rows of 0x2F14 pixels
    const std::string huge = dir.Write("huge.jpg", jpeg);
    const std::string fifo = (dir.path / "pipe.jpg").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directory(dir.path / "folder.png");
    fs::create_symlink(photo, dir.path / "link.jpg");
    const std::string text = dir.Write("text.png", "no picture");
    struct Case {
        std::string path;
        std::string problem;
    };
    const Case cases[] = {
        {photo, ""},
        {(dir.path / "link.jpg").string(), ""},
        {text, ""},  // the decoder refuses it
        {(dir.path / "missing.jpg").string(), ""},
        {huge, "is 12052 x 32274 pixels; photos of at most 64 megapixels are read"},
        {fifo, "is not a regular file"},
        {(dir.path / "folder.png").string(), "is a folder, not a picture file"},
        {"/dev/zero", "is not a regular file"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PhotoFileProblem(c.path), c.problem) << c.path;
}
