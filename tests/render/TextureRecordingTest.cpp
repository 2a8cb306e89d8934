// The texture cache: decoding to upload bytes, the path rule, and its GL calls without a driver.
#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "render/Textureengine.h"
#include "tests/render/GLRecorder.h"
#include "tests/render/RenderTestSupport.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

using Calls = std::vector<std::string>;
using Bytes = std::vector<unsigned char>;

namespace {

class TextureFiles : public ::testing::Test {
protected:
    void SetUp() override { SetProgramFolder(folder.path); }
    void TearDown() override { SetProgramFolder(""); }
    ScratchFolder folder;
};

const Rgb blue{0, 0, 255}, red{255, 0, 0}, green{0, 255, 0}, white{255, 255, 255};

TEST_F(TextureFiles, ABluePixelBecomesRedGreenBlueAlphaBytesInRowOrder)
{
    for (int bits : {24, 32, 8}) {
        SCOPED_TRACE(bits);
        folder.Write("wide.bmp", bmp::File(2, 1, {blue, red}, bits));
        int w = 0, h = 0;
        EXPECT_EQ(ReadTextureImage("wide.bmp", w, h), (Bytes{0, 0, 255, 255, 255, 0, 0, 255}));
        EXPECT_EQ(w, 2);
        EXPECT_EQ(h, 1);

        // 1 x 2, top row green over bottom row white: the bottom row comes first.
        folder.Write("tall.bmp", bmp::File(1, 2, {green, white}, bits));
        EXPECT_EQ(ReadTextureImage("tall.bmp", w, h), (Bytes{255, 255, 255, 255, 0, 255, 0, 255}));
        EXPECT_EQ(w, 1);
        EXPECT_EQ(h, 2);
    }
}

TEST_F(TextureFiles, RowPaddingIsSkipped)
{
    // 3 pixels of 3 bytes: each stored row carries 3 bytes of padding.
    const std::vector<Rgb> pixels = {red, green, blue, white, red, green};
    folder.Write("odd.bmp", bmp::File(3, 2, pixels, 24));
    int w = 0, h = 0;
    EXPECT_EQ(ReadTextureImage("odd.bmp", w, h),
              (Bytes{255, 255, 255, 255, 255, 0, 0, 255, 0, 255, 0, 255,   // bottom row: white red green
                     255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255}));   // top row: red green blue
}

TEST_F(TextureFiles, TheExtensionDecidesTheDecoderInAnyCase)
{
    const std::string bitmap = bmp::File(1, 1, {red}, 24);
    for (const char* name : {"a.BMP", "b.Bmp", "dir.x/c.bmp"}) {
        folder.Write(name, bitmap);
        int w = 0, h = 0;
        EXPECT_EQ(ReadTextureImage(name, w, h), (Bytes{255, 0, 0, 255})) << name;
    }
    // Any other extension gives an empty image, even when the file is a fine bitmap.
    for (const char* name : {"d.png", "e.bmp.txt", "noextension", "dir.bmp/f"}) {
        folder.Write(name, bitmap);
        int w = 7, h = 7;
        EXPECT_TRUE(ReadTextureImage(name, w, h).empty()) << name;
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
    }
}

TEST_F(TextureFiles, JpegFilesDecodeToTheirColours)
{
    cv::Mat image(8, 16, CV_8UC3, cv::Scalar(255, 0, 0));  // blue, as OpenCV stores blue-green-red
    image(cv::Rect(8, 0, 8, 8)).setTo(cv::Scalar(0, 0, 255));  // right half red
    for (const char* name : {"photo.jpg", "photo.JPEG"}) {
        ASSERT_TRUE(cv::imwrite(folder.path + name, image, {cv::IMWRITE_JPEG_QUALITY, 100}));
        int w = 0, h = 0;
        const Bytes bytes = ReadTextureImage(name, w, h);
        ASSERT_EQ(w, 16);
        ASSERT_EQ(h, 8);
        auto near = [](int a, int b) { return std::abs(a - b) <= 24; };
        EXPECT_TRUE(near(bytes[0], 0) && near(bytes[2], 255)) << name;                 // left: blue
        EXPECT_TRUE(near(bytes[15 * 4], 255) && near(bytes[15 * 4 + 2], 0)) << name;  // right: red
        EXPECT_EQ(bytes[3], 255);
    }
}

struct BadImage {
    const char* name;
    std::string bytes;  // empty: the file does not exist
    const char* expected;
};

class TextureErrors : public TextureFiles, public ::testing::WithParamInterface<BadImage> {};

TEST_P(TextureErrors, AnUnreadableImageThrowsNamingTheFileAndTheCacheStaysEmpty)
{
    const BadImage& c = GetParam();
    if (!c.bytes.empty())
        folder.Write(c.name, c.bytes);
    GLRecorder recorder;
    TTextureEngine cache;
    try {
        cache.LoadTexture(c.name, GL_TEXTURE0);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(folder.path + c.name), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find(c.expected), std::string::npos) << e.Message();
    }
    EXPECT_TRUE(cache.textures.empty());
    EXPECT_TRUE(recorder.calls.empty());  // no texture name was made
}

INSTANTIATE_TEST_SUITE_P(
    Files, TextureErrors,
    ::testing::Values(BadImage{"missing.bmp", "", "Cannot open file"},
                      BadImage{"text.bmp", "just some text", "not a valid bitmap"},
                      BadImage{"cut.bmp", bmp::File(4, 4, std::vector<Rgb>(16, red), 24).substr(0, 40), "damaged"},
                      BadImage{"empty.jpg", "\xFF\xD8", "damaged"},
                      BadImage{"bitmap.jpg", bmp::File(1, 1, {red}, 24), "not a valid JPEG"}));

TEST_F(TextureFiles, AnAbsolutePathIsReadAsItIsAndARelativeOneFromTheProgramFolder)
{
    folder.Write("data/textures/normalmap.bmp", bmp::File(1, 1, {green}, 24));
    int w = 0, h = 0;
    // The reconstruction passes the program folder already joined: it must not be joined twice.
    EXPECT_EQ(ReadTextureImage(ProgramFolder() + "data/textures/normalmap.bmp", w, h), (Bytes{0, 255, 0, 255}));
    EXPECT_EQ(ReadTextureImage("data/textures/normalmap.bmp", w, h), (Bytes{0, 255, 0, 255}));
    // A single character is a relative path too.
    folder.Write("x", bmp::File(1, 1, {green}, 24));
    EXPECT_TRUE(ReadTextureImage("x", w, h).empty());
}

TEST_F(TextureFiles, LoadMakesTheTextureOnItsUnitInTheFixedOrder)
{
    folder.Write("wide.bmp", bmp::File(2, 1, {blue, red}, 24));
    GLRecorder recorder;
    TTexture texture;
    EXPECT_TRUE(texture.Load("wide.bmp", GL_TEXTURE1));
    EXPECT_EQ(texture.fileName, "wide.bmp");
    EXPECT_EQ(texture.textureUnit, GL_TEXTURE1);
    EXPECT_EQ(texture.textureId, 1u);
    EXPECT_TRUE(texture.enabled);
    EXPECT_EQ(recorder.calls, (Calls{
        Call("glActiveTextureARB", GL_TEXTURE1),
        Call("glGenTextures", 1) + " -> 1",
        Call("glPixelStorei", GL_UNPACK_ALIGNMENT, 1),
        Call("glBindTexture", GL_TEXTURE_2D, 1),
        Call("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT),
        Call("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT),
        Call("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR),
        Call("glTexParameteri", GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR),
        Call("glTexParameteri", GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_FALSE),
        Call("glTexImage2D", GL_TEXTURE_2D, 0, GL_RGBA, 2, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, anyPointer),
    }));
    ASSERT_EQ(recorder.uploads.size(), 1u);
    EXPECT_EQ(recorder.uploads[0].bytes, (Bytes{0, 0, 255, 255, 255, 0, 0, 255}));
}

TEST_F(TextureFiles, AnImageInMemoryUploadsAsItsFileWouldWithoutReadingIt)
{
    // 3 x 2, odd width so that a row-stride slip would show; the file is written, then changed on
    // disk, so that only bytes from memory can match the image.
    cv::Mat image(2, 3, CV_8UC3);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            image.at<cv::Vec3b>(y, x) = cv::Vec3b(uint8_t(10 * x), uint8_t(50 + y), uint8_t(200 - x - y));
    ASSERT_TRUE(cv::imwrite(folder.path + "atlas.bmp", image));
    Calls fromFile;
    Bytes fileBytes;
    {
        GLRecorder recorder;
        TTexture texture;
        texture.Load("atlas.bmp", GL_TEXTURE1);
        fromFile = recorder.calls;
        ASSERT_EQ(recorder.uploads.size(), 1u);
        fileBytes = recorder.uploads[0].bytes;
    }
    folder.Write("atlas.bmp", bmp::File(1, 1, {red}, 24));
    GLRecorder recorder;
    TTextureEngine cache;
    EXPECT_EQ(cache.LoadTexture("atlas.bmp", GL_TEXTURE1, image), 0);
    EXPECT_EQ(cache.LoadTexture("atlas.bmp", GL_TEXTURE1), 0) << "the cache knows it by its path and unit";
    EXPECT_EQ(cache.textures[0]->fileName, "atlas.bmp");
    ASSERT_EQ(recorder.uploads.size(), 1u);
    EXPECT_EQ(recorder.uploads[0].bytes, fileBytes);
    const Calls calls(recorder.calls.begin(), recorder.calls.begin() + static_cast<long>(fromFile.size()));
    EXPECT_EQ(calls, fromFile);
}

TEST_F(TextureFiles, AnImageInMemoryOfAnotherKindThrowsAndTheCacheStaysEmpty)
{
    GLRecorder recorder;
    TTextureEngine cache;
    for (const cv::Mat& image : {cv::Mat(), cv::Mat(2, 2, CV_8UC1, cv::Scalar(9)), cv::Mat(2, 2, CV_8UC4, cv::Scalar(9))})
        EXPECT_THROW(cache.LoadTexture("x.bmp", GL_TEXTURE0, image), Exception);
    EXPECT_TRUE(cache.textures.empty());
    EXPECT_TRUE(recorder.uploads.empty());
}

TEST_F(TextureFiles, AnUnknownExtensionGivesAnEmptyTexture)
{
    folder.Write("picture.png", "whatever");
    GLRecorder recorder;
    TTextureEngine cache;
    EXPECT_EQ(cache.LoadTexture("picture.png", GL_TEXTURE0), 0);
    EXPECT_EQ(recorder.Calls({"glTexImage2D"}),
              (Calls{Call("glTexImage2D", GL_TEXTURE_2D, 0, GL_RGBA, 0, 0, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr)}));
}

TEST_F(TextureFiles, TheCacheKeyIsThePathTextAndTheUnit)
{
    folder.Write("data/textures/normalmap.bmp", bmp::File(1, 1, {green}, 24));
    GLRecorder recorder;
    TTextureEngine cache;
    EXPECT_EQ(cache.LoadTexture("data/textures/normalmap.bmp", GL_TEXTURE1), 0);
    EXPECT_EQ(cache.LoadTexture("data/textures/normalmap.bmp", GL_TEXTURE1), 0);
    EXPECT_EQ(recorder.Calls({"glTexImage2D"}).size(), 1u);  // loaded once
    EXPECT_EQ(cache.LoadTexture("data/textures/normalmap.bmp", GL_TEXTURE0), 1);
    EXPECT_EQ(cache.LoadTexture(ProgramFolder() + "data/textures/normalmap.bmp", GL_TEXTURE0), 2);
    EXPECT_EQ(cache.LoadTexture("data/textures/normalmap.bmp", GL_TEXTURE0), 1);
    EXPECT_EQ(cache.textures.size(), 3u);

    recorder.Clear();
    cache.Clear();
    EXPECT_EQ(recorder.calls, (Calls{Call("glDeleteTextures", 1) + " [1]", Call("glDeleteTextures", 1) + " [2]",
                                     Call("glDeleteTextures", 1) + " [3]"}));
    EXPECT_EQ(cache.LoadTexture("data/textures/normalmap.bmp", GL_TEXTURE1), 0);
}

TEST_F(TextureFiles, BindHonoursEnabledAndUnbindAlwaysDisables)
{
    folder.Write("t.bmp", bmp::File(1, 1, {green}, 24));
    GLRecorder recorder;
    TTexture texture;
    texture.Load("t.bmp", GL_TEXTURE1);
    recorder.Clear();
    texture.Bind();
    texture.Unbind();
    EXPECT_EQ(recorder.calls, (Calls{Call("glActiveTextureARB", GL_TEXTURE1), Call("glEnable", GL_TEXTURE_2D),
                                     Call("glBindTexture", GL_TEXTURE_2D, 1), Call("glActiveTextureARB", GL_TEXTURE1),
                                     Call("glDisable", GL_TEXTURE_2D)}));
    texture.enabled = false;
    recorder.Clear();
    texture.Bind();
    EXPECT_TRUE(recorder.calls.empty());
    texture.Unbind();
    EXPECT_EQ(recorder.calls, (Calls{Call("glActiveTextureARB", GL_TEXTURE1), Call("glDisable", GL_TEXTURE_2D)}));
}

TEST(TextureWithoutName, DeletesNothing)
{
    GLRecorder recorder;
    { TTexture texture; }
    EXPECT_TRUE(recorder.calls.empty());
}

}  // namespace
