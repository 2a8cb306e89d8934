#include "testing/DriverSupport.h"

#include "testing/CellGrid.h"

#include "collada/Colladaasset.h"
#include "platform/base/Numbers.h"
#include "platform/gl/GLContext.h"
#include "recognition/Headattributes.h"
#include "render/Colladaengine.h"

#include <GL/glew.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cmath>
#include <limits>
#include <unordered_map>

#include <opencv2/imgproc.hpp>

// ---- drawing and capture ---------------------------------------------------------------------

std::string ShellQuoted(const std::string& path)
{
    std::string quoted(1, '\'');
    quoted.append(path).push_back('\'');
    return quoted;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int RunCommand(const std::string& command, std::string* output)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, n);
    const int status = ::pclose(pipe);
    if (output != nullptr)
        *output = std::move(text);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

cv::Mat RenderModelView(TColladaEngine& engine, const std::vector<int>& models, ViewSide side, int width, int height,
                        const cv::Vec3b& background, float halfHeight, ViewLook look)
{
    engine.MakeCurrent();
    const bool useShaders = engine.useShaders;
    const bool lighting = glIsEnabled(GL_LIGHTING);
    const bool light0 = glIsEnabled(GL_LIGHT0);
    const bool light1 = glIsEnabled(GL_LIGHT1);
    const bool normalize = glIsEnabled(GL_NORMALIZE);
    engine.shaderEngine->UseShader(-1);
    engine.useShaders = false;  // every node through the fixed pipeline
    // Only the base textures: a normal map on another unit would tint the fixed pipeline's colour.
    std::vector<TTexture*> switchedOff;
    for (TTexture* texture : engine.textureEngine->textures)
        if (texture->textureUnit != GL_TEXTURE0 && texture->enabled) {
            texture->enabled = false;
            switchedOff.push_back(texture);
        }
    std::optional<TOffscreenTarget> target(std::in_place, width, height);
    // A flash on the camera with a bright ambient, on its own light so the view's light stays put.
    // Skin turned away from the light must stay skin-coloured: a dark shadow has too little red
    // chroma for the skin table, and the outline scan then stops on the cheek instead of the ear.
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const float direction[4] = {0.0f, 0.0f, 1.0f, 0.0f};
    const float white[4] = {kPhotoDiffuse, kPhotoDiffuse, kPhotoDiffuse, 1.0f};
    const float ambient[4] = {kPhotoAmbient, kPhotoAmbient, kPhotoAmbient, 1.0f};
    const float none[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    glLightfv(GL_LIGHT1, GL_POSITION, direction);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT1, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT1, GL_SPECULAR, none);
    const bool lit = look == ViewLook::Lit;
    const bool useTextures = engine.useTextures;
    engine.useTextures = look != ViewLook::Silhouette;
    lit ? glEnable(GL_LIGHTING) : glDisable(GL_LIGHTING);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);  // unlit, the texture is modulated by the current colour
    glDisable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    glEnable(GL_NORMALIZE);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    const double halfWidth = halfHeight * static_cast<double>(width) / height;
    glOrtho(-halfWidth, halfWidth, -halfHeight, halfHeight, 0.1, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -20.0f);
    glRotatef(-90.0f, 1.0f, 0.0f, 0.0f);  // the models are Z-up
    if (side == ViewSide::Side)
        glRotatef(-90.0f, 0.0f, 0.0f, 1.0f);  // the face (toward -y) turns to the image's left

    glClearColor(background[2] / 255.0f, background[1] / 255.0f, background[0] / 255.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (int m : models)
        engine.RenderModel(m);
    glFinish();
    cv::Mat image = ReadFramebuffer(width, height);

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    auto restore = [](GLenum what, bool on) { on ? glEnable(what) : glDisable(what); };
    restore(GL_LIGHTING, lighting);
    restore(GL_LIGHT0, light0);
    restore(GL_LIGHT1, light1);
    restore(GL_NORMALIZE, normalize);
    target.reset();
    engine.useShaders = useShaders;
    engine.useTextures = useTextures;
    for (TTexture* texture : switchedOff)
        texture->enabled = true;
    engine.shaderEngine->UseShader(-1);
    return image;
}

namespace {

struct CaptureState {
    int width = 0;
    int height = 0;
    cv::Mat last;
    int presented = 0;
    void (*swap)(GLSurface*) = nullptr;
};

CaptureState& Capture()
{
    static CaptureState state;
    return state;
}

void CapturingSwap(GLSurface* surface)
{
    CaptureState& c = Capture();
    glReadBuffer(GL_BACK);
    c.last = ReadFramebuffer(c.width, c.height);
    ++c.presented;
    c.swap(surface);
}

} // namespace

FrameCapture::FrameCapture(int width, int height)
{
    CaptureState& c = Capture();
    c.width = width;
    c.height = height;
    c.presented = 0;
    c.last.release();
    c.swap = glPlatform.SwapBuffers;
    glPlatform.SwapBuffers = CapturingSwap;
}

FrameCapture::~FrameCapture()
{
    glPlatform.SwapBuffers = Capture().swap;
}

const cv::Mat& FrameCapture::Last() const
{
    return Capture().last;
}

int FrameCapture::Presented() const
{
    return Capture().presented;
}

// ---- points file -----------------------------------------------------------------------------

namespace {

std::string JsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
            out += buffer;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int ToLoaded(int value, int stored, int loaded)
{
    if (stored <= 0 || stored == loaded)
        return value;
    return RoundHalfEven(static_cast<double>(value) * loaded / stored);
}

} // namespace

std::string PointsJson(const THeadAttributes& points, cv::Size frontStored, cv::Size frontLoaded,
                       cv::Size profileStored, cv::Size profileLoaded)
{
    std::string out = "{\n  \"profileOrientation\": " + std::to_string(points.profileOrientation) + ",\n  \"points\": [\n";
    auto add = [&](const char* set, int index, const THPoint* p, cv::Size stored, cv::Size loaded, bool last) {
        out += std::string("    {\"set\": \"") + set + "\", \"index\": " + std::to_string(index) +
               ", \"name\": " + JsonString(p->name) + ", \"x\": " + std::to_string(ToLoaded(p->x, stored.width, loaded.width)) +
               ", \"y\": " + std::to_string(ToLoaded(p->y, stored.height, loaded.height)) + "}" + (last ? "\n" : ",\n");
    };
    for (int i = 0; i < FrontPoint::Count; ++i)
        add("front", i, points.front[i], frontStored, frontLoaded, false);
    for (int i = 0; i < ProfilePoint::Count; ++i)
        add("profile", i, points.profile[i], profileStored, profileLoaded, i + 1 == ProfilePoint::Count);
    return out + "  ]\n}\n";
}

namespace {

// Just enough JSON for the points file: objects, arrays, strings and integers.
class PointsReader {
public:
    explicit PointsReader(const std::string& text) : s(text) {}

    // Calls `field(object depth, key, string value, number value, is number)` for every member.
    template <class Field, class Close>
    bool Parse(Field field, Close close)
    {
        Skip();
        return Value(0, "", field, close) && (Skip(), at == s.size());
    }

private:
    void Skip()
    {
        while (at < s.size() && std::isspace(static_cast<unsigned char>(s[at])))
            ++at;
    }
    bool String(std::string& out)
    {
        if (at >= s.size() || s[at] != '"')
            return false;
        for (++at; at < s.size(); ++at) {
            char c = s[at];
            if (c == '"') {
                ++at;
                return true;
            }
            if (c == '\\') {
                if (++at >= s.size())
                    return false;
                c = s[at];
                if (c == 'u') {
                    if (at + 4 >= s.size())
                        return false;
                    out += static_cast<char>(std::strtol(s.substr(at + 1, 4).c_str(), nullptr, 16));
                    at += 4;
                    continue;
                }
            }
            out += c;
        }
        return false;
    }
    template <class Field, class Close>
    bool Value(int depth, const std::string& key, Field& field, Close& close)
    {
        Skip();
        if (at >= s.size())
            return false;
        if (s[at] == '{' || s[at] == '[') {
            const bool object = s[at] == '{';
            ++at;
            Skip();
            const char end = object ? '}' : ']';
            if (at < s.size() && s[at] == end) {
                ++at;
                return !object || close(depth + 1);
            }
            for (;;) {
                std::string name;
                if (object) {
                    Skip();
                    if (!String(name))
                        return false;
                    Skip();
                    if (at >= s.size() || s[at++] != ':')
                        return false;
                }
                if (!Value(depth + 1, name, field, close))
                    return false;
                Skip();
                if (at < s.size() && s[at] == ',') {
                    ++at;
                    continue;
                }
                if (at < s.size() && s[at] == end) {
                    ++at;
                    return !object || close(depth + 1);
                }
                return false;
            }
        }
        if (s[at] == '"') {
            std::string text;
            return String(text) && field(depth, key, text, 0L, false);
        }
        const char* begin = s.c_str() + at;
        char* end = nullptr;
        const long number = std::strtol(begin, &end, 10);
        if (end == begin)
            return false;
        at += static_cast<size_t>(end - begin);
        return field(depth, key, std::string(), number, true);
    }

    const std::string& s;
    size_t at = 0;
};

int ToStored(long value, int stored, int loaded)
{
    if (loaded <= 0 || stored == loaded)
        return static_cast<int>(value);
    return RoundHalfEven(static_cast<double>(value) * stored / loaded);
}

} // namespace

bool ApplyPointsJson(const std::string& text, THeadAttributes& points, cv::Size frontStored, cv::Size frontLoaded,
                     cv::Size profileStored, cv::Size profileLoaded)
{
    struct Entry {
        std::string set;
        long index = -1, x = 0, y = 0;
        int seen = 0;
    };
    std::vector<Entry> entries;
    Entry current;
    long orientation = -1;
    auto field = [&](int depth, const std::string& key, const std::string& value, long number, bool isNumber) {
        if (depth == 1 && key == "profileOrientation" && isNumber)
            orientation = number;
        if (depth != 3)
            return true;
        if (key == "set" && !isNumber)
            current.set = value, current.seen |= 1;
        else if (key == "index" && isNumber)
            current.index = number, current.seen |= 2;
        else if (key == "x" && isNumber)
            current.x = number, current.seen |= 4;
        else if (key == "y" && isNumber)
            current.y = number, current.seen |= 8;
        return true;
    };
    auto close = [&](int depth) {
        if (depth == 3) {
            entries.push_back(current);
            current = Entry();
        }
        return true;
    };
    if (!PointsReader(text).Parse(field, close) || entries.empty())
        return false;
    for (const Entry& e : entries) {
        const bool front = e.set == "front", profile = e.set == "profile";
        const long count = front ? long{FrontPoint::Count} : long{ProfilePoint::Count};
        if (e.seen != 15 || !(front || profile) || e.index < 0 || e.index >= count)
            return false;
    }
    if (orientation == 0 || orientation == 1)
        points.profileOrientation = static_cast<int>(orientation);
    for (const Entry& e : entries) {
        if (e.set == "front")
            points.front[e.index]->SetPosition(ToStored(e.x, frontStored.width, frontLoaded.width),
                                               ToStored(e.y, frontStored.height, frontLoaded.height));
        else
            points.profile[e.index]->SetPosition(ToStored(e.x, profileStored.width, profileLoaded.width),
                                                 ToStored(e.y, profileStored.height, profileLoaded.height));
    }
    return true;
}

// ---- measures --------------------------------------------------------------------------------

cv::Mat ForegroundMask(const cv::Mat& image, const cv::Vec3b& background, int tolerance)
{
    cv::Mat mask(image.size(), CV_8U, cv::Scalar(0));
    for (int y = 0; y < image.rows; ++y) {
        const cv::Vec3b* row = image.ptr<cv::Vec3b>(y);
        uchar* out = mask.ptr<uchar>(y);
        for (int x = 0; x < image.cols; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(int(row[x][c]) - int(background[c])) > tolerance)
                    out[x] = 255;
    }
    return mask;
}

double MaskIoU(const cv::Mat& a, const cv::Mat& b)
{
    cv::Mat both, either;
    cv::bitwise_and(a, b, both);
    cv::bitwise_or(a, b, either);
    int u = cv::countNonZero(either);
    return u == 0 ? 1.0 : static_cast<double>(cv::countNonZero(both)) / u;
}

double MaskPsnr(const cv::Mat& a, const cv::Mat& b, const cv::Mat& mask)
{
    double sum = 0;
    long long n = 0;
    for (int y = 0; y < a.rows; ++y) {
        const cv::Vec3b* ra = a.ptr<cv::Vec3b>(y);
        const cv::Vec3b* rb = b.ptr<cv::Vec3b>(y);
        const uchar* m = mask.ptr<uchar>(y);
        for (int x = 0; x < a.cols; ++x) {
            if (!m[x])
                continue;
            for (int c = 0; c < 3; ++c) {
                double d = double(ra[x][c]) - double(rb[x][c]);
                sum += d * d;
            }
            n += 3;
        }
    }
    if (n == 0)
        return 0;
    double mse = sum / n;
    return mse == 0 ? std::numeric_limits<double>::infinity() : 10.0 * std::log10(255.0 * 255.0 / mse);
}

namespace {

// Nearest-vertex queries over a uniform grid.
class VertexGrid {
public:
    VertexGrid(const std::vector<float>& p, double cellSize) : points(p), grid(cellSize, 4096)
    {
        for (size_t i = 0; i + 2 < p.size(); i += 3) {
            const double at[3] = {p[i], p[i + 1], p[i + 2]};
            grid.Add(at, at, i);
        }
    }

    double Nearest(float x, float y, float z) const
    {
        const double at[3] = {x, y, z};
        return grid.Find(at, [&](size_t v) {
                       const double dx = points[v] - x, dy = points[v + 1] - y, dz = points[v + 2] - z;
                       return std::sqrt(dx * dx + dy * dy + dz * dz);
                   }).distance;
    }

private:
    const std::vector<float>& points;
    TCellGrid<size_t> grid;
};

void OneSided(const std::vector<float>& from, const VertexGrid& to, double& mean, double& max)
{
    double sum = 0;
    size_t n = 0;
    max = 0;
    for (size_t i = 0; i + 2 < from.size(); i += 3) {
        double d = to.Nearest(from[i], from[i + 1], from[i + 2]);
        sum += d;
        max = std::max(max, d);
        ++n;
    }
    mean = n ? sum / n : 0;
}

} // namespace

SurfaceDistance VertexSetDistance(const std::vector<float>& a, const std::vector<float>& b)
{
    SurfaceDistance d;
    if (a.size() < 3 || b.size() < 3)
        return d;
    VertexGrid ga(a, 0.25), gb(b, 0.25);
    double meanAB, maxAB, meanBA, maxBA;
    OneSided(a, gb, meanAB, maxAB);
    OneSided(b, ga, meanBA, maxBA);
    d.mean = 0.5 * (meanAB + meanBA);
    d.max = std::max(maxAB, maxBA);
    return d;
}

void DeformHead(std::vector<float>& positions)
{
    for (size_t i = 0; i + 2 < positions.size(); i += 3) {
        float& x = positions[i];
        float& y = positions[i + 1];
        float& z = positions[i + 2];
        // The nose: the front of the face between the eyes and the mouth, pulled forward. The pull
        // fades in over depth as well as across the face, so that neighbouring vertices move alike
        // and the surface keeps no step (a hard depth limit would cut a ledge into the cheeks).
        const double r2 = (x * x) / (0.7 * 0.7) + ((z + 0.5) * (z + 0.5)) / (1.0 * 1.0);
        const double front = std::clamp((-0.9 - y) / 0.4, 0.0, 1.0);  // 0 behind y = -0.9, 1 before y = -1.3
        if (r2 < 1.0)
            y -= static_cast<float>(0.25 * (1.0 - r2) * (1.0 - r2) * front * front * (3.0 - 2.0 * front));
        x *= 1.08f;  // wider
        y *= 1.06f;  // deeper
    }
}
