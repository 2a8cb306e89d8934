// genhead_preview: draws the generated head, eyes and hair with the program's own engine, headless,
// in front, side and three-quarter views, shaded and with a checker in the head's texture layout,
// and writes the frames side by side as one PNG.
// Usage (needs an X display, e.g. under xvfb-run): genhead_preview <program folder> <out.png>
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "collada/Colladaasset.h"
#include "platform/xml/Xmldocument.h"
#include "render/Colladaengine.h"
#include "recognition/Generichead.h"
#include "tools/genhead/Head.h"

namespace {
constexpr int kSize = 400;

// The engine draws meshes without colours in white, so the colour comes from the material.
void Material(float r, float g, float b) {
    const float c[4] = {r, g, b, 1.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE, c);
}

cv::Mat Checker() {
    cv::Mat c(512, 1024, CV_8UC3);
    for (int y = 0; y < c.rows; ++y)
        for (int x = 0; x < c.cols; ++x)
            c.at<cv::Vec3b>(y, x) = ((x / 32) + (y / 32)) % 2 ? cv::Vec3b(60, 60, 200) : cv::Vec3b(235, 235, 235);
    for (int x = 0; x < c.cols; x += 128) cv::line(c, {x, 0}, {x, c.rows - 1}, cv::Scalar(0, 150, 0), 3);
    for (int y = 0; y < c.rows; y += 128) cv::line(c, {0, y}, {c.cols - 1, y}, cv::Scalar(200, 120, 0), 3);
    return c;
}

cv::Mat Frame() {
    std::vector<unsigned char> rgb(size_t(kSize) * kSize * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kSize, kSize, GL_BGR, GL_UNSIGNED_BYTE, rgb.data());
    cv::Mat m(kSize, kSize, CV_8UC3, rgb.data());
    cv::Mat out;
    cv::flip(m, out, 0);
    return out;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: genhead_preview <program folder> <out.png>\n");
        return 2;
    }
    try {
        const std::string root = std::string(argv[1]) + "/";
        const std::filesystem::path tmp = std::filesystem::temp_directory_path() / "genhead-preview";
        std::filesystem::create_directories(tmp);
        const std::string checker = (tmp / "checker.bmp").string();
        cv::imwrite(checker, Checker());

        TXMLDocument document;
        TColladaEngine engine(&document, 0, kSize, kSize, 35.0f, 0.1f, 100.0f);
        const int head = engine.LoadModel(root + "data/models/head.dae");
        const int eyes = engine.LoadModel(root + "data/models/eyes.dae");
        const int hairs = engine.LoadModel(root + "data/models/hairs.dae");
        if (head < 0 || eyes < 0 || hairs < 0) {
            std::fprintf(stderr, "genhead_preview: a model did not load\n");
            return 1;
        }
        // eyes.dae holds the eyeballs forward by what the reconstruction pushes them back: show them
        // where every reconstruction puts them, in their openings.
        {
            TColladaAsset& e = *engine.models[eyes];
            const TGenericHead facts = ReadGenericHead(root + kGenericHeadPath);
            for (size_t g = 0; g < 2 && g < e.geometries.geometries.size(); ++g)
                eyeballs::PushBack(e.geometries.geometries[g]->positions, g == 0 ? facts.rightEyePushBack : facts.leftEyePushBack);
            engine.UpdateBuffers(&e);
        }
        // The texture cache finds relative image paths in the program's folder; the head shows the
        // checker instead of its texture.
        engine.models[head]->images.files[0] = checker;
        engine.LoadTextures("");

        glEnable(GL_DEPTH_TEST);
        glEnable(GL_LIGHTING);
        glEnable(GL_LIGHT0);
        glEnable(GL_NORMALIZE);
        glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
        const float light[4] = {0.3f, 0.5f, 1.0f, 0.0f}, ambient[4] = {0.18f, 0.18f, 0.18f, 1.0f},
                    diffuse[4] = {0.8f, 0.8f, 0.8f, 1.0f};
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glLightfv(GL_LIGHT0, GL_POSITION, light);
        glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
        glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);

        std::vector<cv::Mat> shaded, textured;
        for (float yaw : {0.0f, -90.0f, -35.0f, 180.0f}) {
            for (int m : {head, eyes, hairs}) {
                TColladaAsset& a = *engine.models[m];
                a.translate = {0.0f, -0.4f, -19.0f};
                a.rotate = {-90.0f, yaw, 0.0f};
            }
            for (int pass = 0; pass < 2; ++pass) {
                glClearColor(0.24f, 0.24f, 0.26f, 1.0f);
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                engine.useTextures = pass == 1;
                engine.models[head]->polygonMode = GL_FILL;
                engine.models[eyes]->polygonMode = GL_FILL;
                Material(pass ? 1.0f : 0.87f, pass ? 1.0f : 0.70f, pass ? 1.0f : 0.60f);
                engine.RenderModel(head);
                Material(1.0f, 1.0f, 1.0f);
                engine.useTextures = true;
                engine.RenderModel(eyes);
                if (pass == 0) {
                    engine.useTextures = false;
                    glDisable(GL_TEXTURE_2D);
                    engine.models[hairs]->polygonMode = GL_LINE;
                    Material(0.30f, 0.18f, 0.10f);
                    engine.RenderModel(hairs);
                    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
                }
                cv::Mat frame = Frame();
                // The head must fill a good part of every view, or the models did not draw.
                int covered = 0;
                for (int y = 0; y < frame.rows; ++y)
                    for (int x = 0; x < frame.cols; ++x) {
                        cv::Vec3b c = frame.at<cv::Vec3b>(y, x);
                        covered += std::abs(c[0] - 66) + std::abs(c[1] - 61) + std::abs(c[2] - 61) > 12;
                    }
                if (covered < kSize * kSize / 20) {
                    std::fprintf(stderr, "genhead_preview: the view at %g degrees shows almost nothing (%d pixels)\n",
                                 yaw, covered);
                    return 1;
                }
                (pass ? textured : shaded).push_back(frame);
            }
        }
        cv::Mat row1, row2, all;
        cv::hconcat(shaded, row1);
        cv::hconcat(textured, row2);
        cv::vconcat(row1, row2, all);
        if (!cv::imwrite(argv[2], all)) {
            std::fprintf(stderr, "genhead_preview: cannot write %s\n", argv[2]);
            return 1;
        }
        std::filesystem::remove_all(tmp);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "genhead_preview: %s\n", e.what());
        return 1;
    }
    return 0;
}
