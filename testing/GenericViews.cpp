#include "testing/GenericViews.h"

#include <GL/glew.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <opencv2/imgproc.hpp>

#include "core/Vultari.h"
#include "platform/base/Numbers.h"
#include "platform/image/Graphics.h"
#include "platform/base/Exception.h"
#include "recognition/Generichead.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "testing/GLSupport.h"

namespace fs = std::filesystem;

bool ReadGenericFeatures(const std::string& path, TGenericFeatures& features, std::string& error)
{
    try {
        const TGenericHead head = ReadGenericHead(path);
        auto point = [](const TModelPoint& p) { return cv::Point3f(float(p.x), float(p.y), float(p.z)); };
        for (size_t i = 0; i < features.front.size(); ++i)
            features.front[i] = point(head.front[i]);
        for (size_t i = 0; i < features.profile.size(); ++i)
            features.profile[i] = point(head.profile[i]);
        return true;
    } catch (const Exception& e) {
        error = e.Message();
        return false;
    }
}

// 150 pixels a unit: the generic head (about 6 x 7 units) fills a photo of 1200 x 1300 pixels, the
// largest size recognition keeps.
TViewCamera FrontCamera() { return {1200, 1300, 150.0f, 600.0f, 640.0f, false}; }
TViewCamera SideCamera() { return {1200, 1300, 150.0f, 520.0f, 640.0f, true}; }

namespace {

int Pixel(float v) { return RoundHalfEven(v); }

cv::Point ToPixel(const TViewCamera& c, const cv::Point3f& p)
{
    const float a = c.side ? p.y : p.x;
    return {Pixel(c.cx + a * c.ppu), Pixel(c.cy - p.z * c.ppu)};
}

}  // namespace

void FeaturePixels(const TGenericFeatures& features, THeadAttributes& points, const TViewCamera& front,
                   const TViewCamera& side)
{
    for (int i = 0; i < 27; ++i) {
        const cv::Point p = ToPixel(front, features.front[static_cast<size_t>(i)]);
        points.front[i]->SetPosition(p.x, p.y);
    }
    for (int i = 0; i < 14; ++i) {
        const cv::Point p = ToPixel(side, features.profile[static_cast<size_t>(i)]);
        points.profile[i]->SetPosition(p.x, p.y);
    }
    points.profileOrientation = 0;
}

cv::Mat RenderView(TColladaEngine& engine, const std::vector<int>& models, const TViewCamera& camera)
{
    engine.MakeCurrent();
    const TOffscreenTarget target(camera.width, camera.height);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    // Eye x runs with the photo's x, eye y with its rows upwards.
    glOrtho(-camera.cx / camera.ppu, (camera.width - camera.cx) / camera.ppu, (camera.cy - camera.height) / camera.ppu,
            camera.cy / camera.ppu, -100.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    if (camera.side) {
        // Seen from +x: eye x = model y, eye y = model z, toward the eye = model x.
        const GLfloat m[16] = {0, 0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1};
        glMultMatrixf(m);
    } else {
        // Seen from -y: eye x = model x, eye y = model z.
        glRotatef(-90, 1, 0, 0);
    }
    glClearColor(0.16f, 0.39f, 0.67f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    engine.shaderEngine->UseShader(-1);
    const bool textures = engine.useTextures;
    engine.useTextures = true;
    for (int model : models)
        engine.RenderModel(model);
    engine.useTextures = textures;
    glFinish();

    cv::Mat bgr = ReadFramebuffer(camera.width, camera.height);

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glClearColor(0, 0, 0, 1);
    return bgr;
}

void CopyDataTree(const std::string& buildFolder, const std::string& folder)
{
    const auto options = fs::copy_options::recursive | fs::copy_options::overwrite_existing;
    fs::copy(buildFolder + "data", folder + "data", options);
    if (fs::exists(buildFolder + "haarcascades"))
        fs::copy(buildFolder + "haarcascades", folder + "haarcascades", options);
}

void GivePhotos(TVultari& core, const cv::Mat& front, const cv::Mat& profile, const TGenericFeatures& features,
                const TViewCamera& frontCamera, const TViewCamera& sideCamera)
{
    core.recognizer->frontImage = front.clone();
    core.recognizer->profileImage = profile.clone();
    for (TBitmap** b : {&core.frontThumbnail, &core.frontEditBitmap, &core.profileThumbnail, &core.profileEditBitmap}) {
        delete *b;
        *b = nullptr;
    }
    // The program's thumbnail and editor sizes: 200 and 610 rows, the photo's aspect.
    auto sized = [](const cv::Mat& photo, int rows) { return new TBitmap(RoundHalfEven(double(rows) * photo.cols / photo.rows), rows); };
    core.frontThumbnail = sized(front, 200);
    core.frontEditBitmap = sized(front, 610);
    core.profileThumbnail = sized(profile, 200);
    core.profileEditBitmap = sized(profile, 610);
    FeaturePixels(features, *core.headAttributes, frontCamera, sideCamera);
}

void THeadChange::Apply(std::vector<float>& positions, const std::vector<float>& nose, const std::vector<float>& mouth) const
{
    for (size_t v = 0; 3 * v + 2 < positions.size(); ++v) {
        const cv::Point3f p = Apply({positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]},
                                    v < nose.size() ? nose[v] : 0.0f, v < mouth.size() ? mouth[v] : 0.0f);
        positions[3 * v] = p.x;
        positions[3 * v + 1] = p.y;
        positions[3 * v + 2] = p.z;
    }
}

cv::Point3f THeadChange::Apply(cv::Point3f p, float nose, float mouth) const
{
    p.y -= noseLength * std::max(nose, 0.0f);
    p.z -= mouthDrop * std::max(mouth, 0.0f);
    p.x *= width;
    p.y *= depth;
    return p;
}

TMeshDistance MeshDistance(const std::vector<float>& a, const std::vector<float>& b)
{
    TMeshDistance d;
    const size_t n = std::min(a.size(), b.size()) / 3;
    if (n == 0)
        return d;
    double ca[3] = {}, cb[3] = {};
    for (size_t v = 0; v < n; ++v)
        for (int c = 0; c < 3; ++c)
            ca[c] += a[3 * v + c] / n, cb[c] += b[3 * v + c] / n;
    double ab = 0, aa = 0;
    for (size_t v = 0; v < n; ++v)
        for (int c = 0; c < 3; ++c) {
            const double pa = a[3 * v + c] - ca[c];
            ab += pa * (b[3 * v + c] - cb[c]);
            aa += pa * pa;
        }
    const double s = aa > 0 ? ab / aa : 1.0;
    double sum = 0, shapeSum = 0;
    for (size_t v = 0; v < n; ++v) {
        double plain = 0, shape = 0;
        for (int c = 0; c < 3; ++c) {
            const double e = a[3 * v + c] - b[3 * v + c];
            const double f = s * (a[3 * v + c] - ca[c]) - (b[3 * v + c] - cb[c]);
            plain += e * e;
            shape += f * f;
        }
        plain = std::sqrt(plain);
        shape = std::sqrt(shape);
        sum += plain;
        shapeSum += shape;
        d.max = std::max(d.max, plain);
        d.shapeMax = std::max(d.shapeMax, shape);
    }
    d.mean = sum / n;
    d.shapeMean = shapeSum / n;
    return d;
}
