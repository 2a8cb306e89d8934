#pragma once
// The checks a photo file passes before its pixels are decoded: it must be a regular file (a FIFO
// or a device would block the reader or never end), and the size its header declares must lie
// within the limits below, so that a small file declaring a huge picture is refused without
// allocating it.
#include <cstdint>
#include <string>

// At most 64 megapixels (8192 x 8192), at least 16 pixels on each side.
constexpr std::int64_t kMaxPhotoPixels = 64LL * 1024 * 1024;
constexpr std::int64_t kMinPhotoSide = 16;

// The picture size a file's header declares. `known` is false for a format the sniffer does not
// read (or a header too damaged to say); the decoder then decides.
struct PhotoHeader {
    bool known = false;
    std::int64_t width = 0, height = 0;
};

// The size from the header of a JPEG, PNG, BMP, TIFF (or BigTIFF), WebP, PNM/PFM or Sun raster
// file whose bytes are given (at least the header's; a JPEG's header lies after its other
// segments). PhotoFileProblem reads the same from the file itself, segment by segment.
PhotoHeader SniffPhotoHeader(const std::string& bytes);

// Empty when a picture of this size may be read; otherwise why not, as a phrase that follows
// "the photo " ("is 12128 x 32320 pixels; photos of at most 64 megapixels are read").
std::string PhotoSizeProblem(std::int64_t width, std::int64_t height);

// Empty when the file may be handed to the decoder (also when it is missing or cannot be opened:
// the decoder then fails on it); otherwise why not, as a phrase of the same kind ("is not a
// regular file", or the size problem). Opens nothing that is not a regular file.
std::string PhotoFileProblem(const std::string& path);
