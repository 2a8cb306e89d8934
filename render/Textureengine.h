#pragma once
// The texture cache: image files turned into GL 2D textures, each on a fixed texture unit, handed
// out by 0-based index. Needs the engine's context current for every operation that touches GL.
#include <string>
#include <vector>

namespace cv {
class Mat;
}

class TTexture {
public:
    TTexture() = default;
    // Deletes the GL texture (when there is one).
    ~TTexture();
    TTexture(const TTexture&) = delete;
    TTexture& operator=(const TTexture&) = delete;

    // Reads the image at `path` and creates the GL texture on `unit` (GL_TEXTURE0 + n). A path that
    // starts with "/" is read as it is, any other from ProgramFolder() followed by the path. ".bmp"
    // (any bit depth), ".jpg" and ".jpeg" (any case) are decoded; any other extension gives an empty
    // 0 x 0 texture. A missing or undecodable file throws Exception naming the file, before any GL
    // object exists. Returns true. Leaves `unit` active with the new texture bound on it.
    bool Load(const std::string& path, int unit);
    // The same texture from `image` (8-bit BGR, as the file at `path` would decode), without reading
    // the file: for an image just written there. Another kind of image throws Exception.
    bool Load(const std::string& path, int unit, const cv::Mat& image);
    // When `enabled`: makes `textureUnit` active, enables 2D texturing and binds the texture.
    void Bind();
    // Makes `textureUnit` active and disables 2D texturing, whatever `enabled` says.
    void Unbind();

    int textureUnit = 0;           // GL_TEXTURE0 + n
    unsigned int textureId = 0;    // GL texture name; 0 = none
    std::string fileName;          // the path as requested; the cache key with textureUnit
    bool enabled = true;           // false: Bind does nothing

private:
    void Upload(const std::string& path, int unit, const std::vector<unsigned char>& pixels, int width, int height);
};

class TTextureEngine {
public:
    TTextureEngine() = default;
    // Deletes every texture in list order.
    ~TTextureEngine();
    TTextureEngine(const TTextureEngine&) = delete;
    TTextureEngine& operator=(const TTextureEngine&) = delete;

    // Index of the texture loaded from exactly `path` on `unit`, loading it first when there is none.
    // A load failure propagates (Exception) and appends nothing.
    int LoadTexture(const std::string& path, int unit);
    // As above, a texture not yet in the cache made from `image` (see TTexture::Load).
    int LoadTexture(const std::string& path, int unit, const cv::Mat& image);
    // Deletes every texture in list order and empties the list; the next load gets index 0.
    void Clear();

    std::vector<TTexture*> textures;  // owned; index valid until the list is emptied
};

// The pixels that TTexture::Load uploads: width x height RGBA bytes (red, green, blue, 255), the
// image's bottom row first. Same path rule, extensions and errors as TTexture::Load; no GL needed.
std::vector<unsigned char> ReadTextureImage(const std::string& path, int& width, int& height);
