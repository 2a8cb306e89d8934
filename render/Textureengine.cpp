#include "render/Textureengine.h"

#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/gl/GLFunctions.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>

namespace {

// The extension of the file name part, from its last '.', in lower case ("" when there is none).
std::string LowerExtension(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return "";
    std::string extension = path.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

enum class ImageKind { None, Bitmap, Jpeg };

ImageKind KindOf(const std::string& path)
{
    const std::string extension = LowerExtension(path);
    if (extension == ".bmp")
        return ImageKind::Bitmap;
    if (extension == ".jpg" || extension == ".jpeg")
        return ImageKind::Jpeg;
    return ImageKind::None;
}

// Decodes to 8-bit blue-green-red rows whatever the file's depth (palette, 16, 24, 32 bits, grey).
cv::Mat DecodeImage(const std::string& file, ImageKind kind)
{
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        throw FileOpenError(file);
    char magic[2] = {0, 0};
    stream.read(magic, 2);
    const bool signatureOk = kind == ImageKind::Bitmap
                                 ? stream.gcount() == 2 && magic[0] == 'B' && magic[1] == 'M'
                                 : stream.gcount() == 2 && static_cast<unsigned char>(magic[0]) == 0xFF &&
                                       static_cast<unsigned char>(magic[1]) == 0xD8;
    stream.close();
    const char* what = kind == ImageKind::Bitmap ? "bitmap" : "JPEG image";
    if (!signatureOk)
        throw Exception("Cannot read \"" + file + "\": it is not a valid " + what + ".");
    // The pixels as stored: a JPEG's orientation tag is not applied, as a plain decoder would not.
    cv::Mat image;
    try {
        image = cv::imread(file, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    } catch (const cv::Exception&) {
        image.release();
    }
    if (image.empty() || image.type() != CV_8UC3)
        throw Exception("Cannot read \"" + file + "\": the " + what + " is damaged or of an unsupported kind.");
    return image;
}

// GL's pixels of an 8-bit BGR image: RGBA, the bottom row first.
std::vector<unsigned char> GLPixels(const cv::Mat& image, int& width, int& height)
{
    const int w = image.cols;
    const int h = image.rows;
    std::vector<unsigned char> pixels(static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    // Output row r is image row h - 1 - r: GL's first row is the bottom one.
    for (int r = 0; r < h; ++r) {
        const unsigned char* source = image.ptr<unsigned char>(h - 1 - r);
        unsigned char* target = pixels.data() + static_cast<size_t>(r) * static_cast<size_t>(w) * 4;
        for (int x = 0; x < w; ++x) {
            target[4 * x + 0] = source[3 * x + 2];
            target[4 * x + 1] = source[3 * x + 1];
            target[4 * x + 2] = source[3 * x + 0];
            target[4 * x + 3] = 255;
        }
    }
    width = w;
    height = h;
    return pixels;
}

}  // namespace

std::vector<unsigned char> ReadTextureImage(const std::string& path, int& width, int& height)
{
    width = height = 0;
    const std::string file = ResolveDataPath(path);
    const ImageKind kind = KindOf(file);
    if (kind == ImageKind::None)
        return {};
    return GLPixels(DecodeImage(file, kind), width, height);
}

TTexture::~TTexture()
{
    if (textureId != 0)
        glCore.DeleteTextures(1, &textureId);
}

bool TTexture::Load(const std::string& path, int unit)
{
    int width = 0, height = 0;
    const std::vector<unsigned char> pixels = ReadTextureImage(path, width, height);
    Upload(path, unit, pixels, width, height);
    return true;
}

bool TTexture::Load(const std::string& path, int unit, const cv::Mat& image)
{
    if (image.empty() || image.type() != CV_8UC3)
        throw Exception("Cannot use the image given for \"" + path + "\": it is not an 8-bit colour image.");
    int width = 0, height = 0;
    const std::vector<unsigned char> pixels = GLPixels(image, width, height);
    Upload(path, unit, pixels, width, height);
    return true;
}

void TTexture::Upload(const std::string& path, int unit, const std::vector<unsigned char>& pixels, int width, int height)
{
    fileName = path;
    textureUnit = unit;

    glEntryPoints.ActiveTextureARB(static_cast<unsigned>(unit));
    if (textureId != 0)
        glCore.DeleteTextures(1, &textureId);  // loaded again: the old name is not left behind
    glCore.GenTextures(1, &textureId);
    glCore.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glCore.BindTexture(GL_TEXTURE_2D, textureId);
    glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glCore.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glCore.TexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_FALSE);
    glCore.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                      pixels.empty() ? nullptr : pixels.data());
}

void TTexture::Bind()
{
    if (!enabled)
        return;
    glEntryPoints.ActiveTextureARB(static_cast<unsigned>(textureUnit));
    glCore.Enable(GL_TEXTURE_2D);
    glCore.BindTexture(GL_TEXTURE_2D, textureId);
}

void TTexture::Unbind()
{
    glEntryPoints.ActiveTextureARB(static_cast<unsigned>(textureUnit));
    glCore.Disable(GL_TEXTURE_2D);
}

TTextureEngine::~TTextureEngine()
{
    Clear();
}

int TTextureEngine::LoadTexture(const std::string& path, int unit)
{
    for (size_t i = 0; i < textures.size(); ++i) {
        if (textures[i]->fileName == path && textures[i]->textureUnit == unit)
            return static_cast<int>(i);
    }
    auto texture = std::make_unique<TTexture>();
    texture->Load(path, unit);
    textures.push_back(texture.get());
    texture.release();
    return static_cast<int>(textures.size()) - 1;
}

int TTextureEngine::LoadTexture(const std::string& path, int unit, const cv::Mat& image)
{
    for (size_t i = 0; i < textures.size(); ++i) {
        if (textures[i]->fileName == path && textures[i]->textureUnit == unit)
            return static_cast<int>(i);
    }
    auto texture = std::make_unique<TTexture>();
    texture->Load(path, unit, image);
    textures.push_back(texture.get());
    texture.release();
    return static_cast<int>(textures.size()) - 1;
}

void TTextureEngine::Clear()
{
    for (TTexture* texture : textures)
        delete texture;
    textures.clear();
}
