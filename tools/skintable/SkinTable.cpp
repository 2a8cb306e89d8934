// Writes the skin-colour look-up image: 256 x 256, column Cr, row Cb; black (0) marks a skin
// colour, white (255) any other, so that the reader's threshold of 244 lies far from both and
// JPEG coding cannot move a cell across it. The file is read back and checked cell by cell.
//
// Skin model: the Cr/Cb box of D. Chai and K. N. Ngan, "Face segmentation using skin-color map in
// videophone applications", IEEE Trans. Circuits Syst. Video Technol. 9(4), 1999:
// 133 <= Cr <= 173 and 77 <= Cb <= 127.
#include <cstdio>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace {
constexpr int kThreshold = 244;

bool IsSkin(int cr, int cb)
{
    return cr >= 133 && cr <= 173 && cb >= 77 && cb <= 127;
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: skintable OUTPUT.jpg\n");
        return 2;
    }
    cv::Mat table(256, 256, CV_8UC1);
    for (int cb = 0; cb < 256; ++cb)
        for (int cr = 0; cr < 256; ++cr)
            table.at<unsigned char>(cb, cr) = IsSkin(cr, cb) ? 0 : 255;

    const std::vector<int> params = {cv::IMWRITE_JPEG_QUALITY, 100};
    if (!cv::imwrite(argv[1], table, params)) {
        std::fprintf(stderr, "skintable: cannot write %s\n", argv[1]);
        return 1;
    }
    // The program loads it in colour and reads channel 0.
    const cv::Mat back = cv::imread(argv[1], cv::IMREAD_COLOR);
    if (back.rows != 256 || back.cols != 256 || back.type() != CV_8UC3) {
        std::fprintf(stderr, "skintable: %s does not read back as a 256 x 256 colour image\n", argv[1]);
        return 1;
    }
    int flipped = 0, worst = 0;
    for (int cb = 0; cb < 256; ++cb)
        for (int cr = 0; cr < 256; ++cr) {
            const int v = back.at<cv::Vec3b>(cb, cr)[0];
            const int want = table.at<unsigned char>(cb, cr);
            if ((v < kThreshold) != (want < kThreshold))
                ++flipped;
            worst = std::max(worst, std::abs(v - want));
        }
    if (flipped != 0) {
        std::fprintf(stderr, "skintable: %d cells of %s changed class after JPEG coding\n", flipped, argv[1]);
        return 1;
    }
    std::printf("skintable: wrote %s (largest coding error %d)\n", argv[1], worst);
    return 0;
}
