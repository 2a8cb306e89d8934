#include "platform/image/PhotoFile.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bytes at an offset of the file or of a string; fewer (or none) past its end.
using ReadAt = std::function<std::string(std::int64_t offset, std::int64_t count)>;

std::uint64_t Big(const std::string& b, size_t at, int n)
{
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

std::uint64_t Little(const std::string& b, size_t at, int n)
{
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<size_t>(i)]);
    return v;
}

PhotoHeader Size(std::int64_t width, std::int64_t height)
{
    PhotoHeader h;
    h.known = true;
    h.width = width;
    h.height = height;
    return h;
}

// Markers up to the first frame header; every segment is skipped by its length, so the large
// metadata segments in front of it are never read.
PhotoHeader Jpeg(const ReadAt& read)
{
    std::int64_t at = 2;
    for (int segments = 0; segments < 100000; ++segments) {
        std::string m = read(at, 2);
        if (m.size() < 2 || static_cast<unsigned char>(m[0]) != 0xFF)
            return {};
        const unsigned marker = static_cast<unsigned char>(m[1]);
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // no length
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA)  // end of image or scan data before any frame
            return {};
        const std::string seg = read(at + 2, 7);
        if (seg.size() < 2)
            return {};
        const std::int64_t length = static_cast<std::int64_t>(Big(seg, 0, 2));
        if (length < 2)
            return {};
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (seg.size() < 7)
                return {};
            const std::int64_t height = static_cast<std::int64_t>(Big(seg, 3, 2));
            const std::int64_t width = static_cast<std::int64_t>(Big(seg, 5, 2));
            if (height == 0)  // the height follows the first scan: the decoder decides
                return {};
            return Size(width, height);
        }
        at += 2 + length;
    }
    return {};
}

PhotoHeader Png(const std::string& b)
{
    if (b.size() < 24 || b.compare(12, 4, "IHDR") != 0)
        return {};
    return Size(static_cast<std::int64_t>(Big(b, 16, 4)), static_cast<std::int64_t>(Big(b, 20, 4)));
}

PhotoHeader Bmp(const std::string& b)
{
    if (b.size() < 26)
        return {};
    const std::uint64_t infoSize = Little(b, 14, 4);
    if (infoSize == 12)  // the old core header: 16-bit sides
        return Size(static_cast<std::int64_t>(Little(b, 18, 2)), static_cast<std::int64_t>(Little(b, 20, 2)));
    const std::int64_t width = static_cast<std::int32_t>(Little(b, 18, 4));
    const std::int64_t height = static_cast<std::int32_t>(Little(b, 22, 4));
    // A negative height is a picture stored top row first.
    return Size(width < 0 ? -width : width, height < 0 ? -height : height);
}

// The first directory's width and length tags.
PhotoHeader Tiff(const ReadAt& read, bool little, bool big)
{
    auto number = [little](const std::string& b, size_t at, int n) { return little ? Little(b, at, n) : Big(b, at, n); };
    const std::string head = read(0, 16);
    if (head.size() < (big ? 16u : 8u))
        return {};
    const std::uint64_t directory = big ? number(head, 8, 8) : number(head, 4, 4);
    const int countSize = big ? 8 : 2, entrySize = big ? 20 : 12, valueAt = big ? 12 : 8;
    const std::string count = read(static_cast<std::int64_t>(directory), countSize);
    if (count.size() < static_cast<size_t>(countSize))
        return {};
    const std::uint64_t entries = number(count, 0, countSize);
    if (entries > 4096)
        return {};
    const std::string table = read(static_cast<std::int64_t>(directory) + countSize, static_cast<std::int64_t>(entries) * entrySize);
    std::int64_t width = -1, height = -1;
    for (size_t i = 0; (i + 1) * static_cast<size_t>(entrySize) <= table.size(); ++i) {
        const size_t e = i * static_cast<size_t>(entrySize);
        const std::uint64_t tag = number(table, e, 2), type = number(table, e + 2, 2);
        std::int64_t value = -1;
        if (type == 3)  // SHORT
            value = static_cast<std::int64_t>(number(table, e + valueAt, 2));
        else if (type == 4)  // LONG
            value = static_cast<std::int64_t>(number(table, e + valueAt, 4));
        else if (type == 16 && big)  // LONG8
            value = static_cast<std::int64_t>(number(table, e + valueAt, 8) & 0x7FFFFFFFFFFFFFFFull);
        if (tag == 256)
            width = value;
        else if (tag == 257)
            height = value;
    }
    if (width < 0 || height < 0)
        return {};
    return Size(width, height);
}

PhotoHeader Webp(const std::string& b)
{
    if (b.size() < 30)
        return {};
    if (b.compare(12, 4, "VP8 ") == 0) {
        if (static_cast<unsigned char>(b[23]) != 0x9D || static_cast<unsigned char>(b[24]) != 0x01 ||
            static_cast<unsigned char>(b[25]) != 0x2A)
            return {};
        return Size(static_cast<std::int64_t>(Little(b, 26, 2) & 0x3FFF), static_cast<std::int64_t>(Little(b, 28, 2) & 0x3FFF));
    }
    if (b.compare(12, 4, "VP8L") == 0) {
        if (static_cast<unsigned char>(b[20]) != 0x2F)
            return {};
        const std::uint64_t bits = Little(b, 21, 4);
        return Size(static_cast<std::int64_t>((bits & 0x3FFF) + 1), static_cast<std::int64_t>(((bits >> 14) & 0x3FFF) + 1));
    }
    if (b.compare(12, 4, "VP8X") == 0)
        return Size(static_cast<std::int64_t>(Little(b, 24, 3) + 1), static_cast<std::int64_t>(Little(b, 27, 3) + 1));
    return {};
}

// "P1" to "P6", "PF" and "Pf": the magic, then width and height as decimal text, with blanks and
// "#" comments between them.
PhotoHeader Netpbm(const std::string& b)
{
    size_t at = 2;
    std::int64_t sides[2] = {0, 0};
    for (std::int64_t& side : sides) {
        for (;;) {
            while (at < b.size() && std::isspace(static_cast<unsigned char>(b[at])))
                ++at;
            if (at < b.size() && b[at] == '#') {
                while (at < b.size() && b[at] != '\n' && b[at] != '\r')
                    ++at;
                continue;
            }
            break;
        }
        if (at >= b.size() || !std::isdigit(static_cast<unsigned char>(b[at])))
            return {};
        while (at < b.size() && std::isdigit(static_cast<unsigned char>(b[at]))) {
            if (side > (std::int64_t(1) << 40))
                return {};
            side = side * 10 + (b[at] - '0');
            ++at;
        }
    }
    return Size(sides[0], sides[1]);
}

PhotoHeader Sniff(const ReadAt& read)
{
    const std::string b = read(0, 4096);
    auto starts = [&b](const char* magic, size_t n) { return b.size() >= n && std::memcmp(b.data(), magic, n) == 0; };
    if (starts("\xFF\xD8", 2))
        return Jpeg(read);
    if (starts("\x89PNG\r\n\x1A\n", 8))
        return Png(b);
    if (starts("BM", 2))
        return Bmp(b);
    if (starts("II*\0", 4))
        return Tiff(read, true, false);
    if (starts("MM\0*", 4))
        return Tiff(read, false, false);
    if (starts("II+\0", 4))
        return Tiff(read, true, true);
    if (starts("MM\0+", 4))
        return Tiff(read, false, true);
    if (starts("RIFF", 4) && b.size() >= 12 && b.compare(8, 4, "WEBP") == 0)
        return Webp(b);
    if (b.size() >= 2 && b[0] == 'P' && ((b[1] >= '1' && b[1] <= '6') || b[1] == 'F' || b[1] == 'f'))
        return Netpbm(b);
    if (starts("\x59\xA6\x6A\x95", 4) && b.size() >= 12)
        return Size(static_cast<std::int64_t>(Big(b, 4, 4)), static_cast<std::int64_t>(Big(b, 8, 4)));
    return {};
}

} // namespace

PhotoHeader SniffPhotoHeader(const std::string& bytes)
{
    return Sniff([&bytes](std::int64_t offset, std::int64_t count) {
        if (offset < 0 || count <= 0 || static_cast<std::uint64_t>(offset) >= bytes.size())
            return std::string();
        return bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(count));
    });
}

std::string PhotoSizeProblem(std::int64_t width, std::int64_t height)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    // The product is compared by division: a declared side may be near the 64-bit limit.
    if (width > 0 && height > 0 && (width > kMaxPhotoPixels || height > kMaxPhotoPixels / width))
        return "is " + size + "; photos of at most " + std::to_string(kMaxPhotoPixels / (1024 * 1024)) +
               " megapixels are read";
    if (width < kMinPhotoSide || height < kMinPhotoSide)
        return "is " + size + "; a photo needs at least " + std::to_string(kMinPhotoSide) + " pixels on each side";
    return {};
}

std::string PhotoFileProblem(const std::string& path)
{
    // A file that is missing or cannot be opened is left to the decoder, which fails on it.
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode))
        return S_ISDIR(st.st_mode) ? "is a folder, not a picture file" : "is not a regular file";
    // Not blocking: should the name have been replaced by a FIFO since, the open returns at once.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat opened{};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return "is not a regular file";
    }
    const PhotoHeader header = Sniff([fd](std::int64_t offset, std::int64_t count) {
        std::string out;
        if (offset < 0 || count <= 0)
            return out;
        out.resize(static_cast<size_t>(count));
        size_t got = 0;
        while (got < out.size()) {
            const ssize_t n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        out.resize(got);
        return out;
    });
    ::close(fd);
    return header.known ? PhotoSizeProblem(header.width, header.height) : std::string();
}
