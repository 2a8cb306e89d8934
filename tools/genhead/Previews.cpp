#include "tools/genhead/Previews.h"

#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "tools/genhead/Preview.h"

void WritePreviews(const GenericData& d, const std::string& folder) {
    std::filesystem::create_directories(folder);
    cv::Mat checker(512, 1024, CV_8UC3);
    for (int y = 0; y < checker.rows; ++y)
        for (int x = 0; x < checker.cols; ++x) {
            bool odd = ((x / 32) + (y / 32)) % 2;
            checker.at<cv::Vec3b>(y, x) = odd ? cv::Vec3b(60, 60, 200) : cv::Vec3b(230, 230, 230);
        }
    for (int x = 0; x < checker.cols; x += 128) cv::line(checker, {x, 0}, {x, 511}, cv::Scalar(0, 160, 0), 2);
    PreviewMesh head{&d.g.head, {}, false, nullptr, {170, 190, 225}, false};
    // The eyeballs where the reconstruction puts them (eyes.dae holds them forward of this).
    PreviewMesh l{&d.g.leftEye, d.leftEyeUv, false, nullptr, {235, 235, 240}, false};
    PreviewMesh r{&d.g.rightEye, d.rightEyeUv, false, nullptr, {235, 235, 240}, false};
    PreviewMesh hair{&d.hair, {}, false, nullptr, {40, 60, 90}, true};
    PreviewMesh tex{&d.g.head, d.headUv, true, &checker, {}, false};
    const Vec3 c{0, 1.4, 0};
    const double yaw[3] = {0, -90, -35};
    std::vector<cv::Mat> shaded, textured;
    for (double a : yaw) {
        shaded.push_back(RenderPreview({head, l, r}, a, 0, c, 11, 420));
        textured.push_back(RenderPreview({tex, l, r}, a, 0, c, 11, 420));
    }
    shaded.push_back(RenderPreview({head, l, r, hair}, -35, 0, c, 11, 420));
    textured.push_back(RenderPreview({tex}, 180, 0, c, 11, 420));
    cv::Mat row1, row2, all;
    cv::hconcat(shaded, row1);
    cv::hconcat(textured, row2);
    cv::vconcat(row1, row2, all);
    cv::imwrite(folder + "/generic_head.png", all);
    std::vector<cv::Mat> hairViews;
    for (double a : {-35.0, -90.0, 150.0}) hairViews.push_back(RenderPreview({head, l, r, hair}, a, 0, c, 10, 560));
    cv::Mat hairRow;
    cv::hconcat(hairViews, hairRow);
    cv::imwrite(folder + "/generic_hair.png", hairRow);
}
