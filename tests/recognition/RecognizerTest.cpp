// Recognizer set-up, photo loading and the image helpers.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "tests/recognition/RecognitionFixture.h"

namespace fs = std::filesystem;
using namespace testdata;

namespace {
const std::vector<std::string> kCascadeFiles = {"haarcascade_frontalface_alt_tree.xml", "haarcascade_profileface.xml",
                                                "haarcascade_eye_tree_eyeglasses.xml", "Nariz.xml", "Mouth.xml"};

// A program folder of its own, filled with links to the real data as asked for.
class DataTree {
public:
    DataTree()
    {
        real = ProgramFolder();
        dir = fs::temp_directory_path() / ("vultari_recognizer_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(dir / "haarcascades");
        fs::create_directories(dir / "data/models");
        // The generic head's facts are there unless a test removes them.
        fs::create_symlink(real + "data/models/generic_head.txt", dir / "data/models/generic_head.txt");
    }
    ~DataTree()
    {
        SetProgramFolder("");
        fs::remove_all(dir);
    }
    void LinkCascades(const std::vector<std::string>& except = {})
    {
        for (const std::string& name : kCascadeFiles)
            if (std::find(except.begin(), except.end(), name) == except.end())
                fs::create_symlink(real + "haarcascades/" + name, dir / "haarcascades" / name);
    }
    void LinkSkinTable() { fs::create_symlink(real + "data/SkinLocusYCrCb.jpg", dir / "data/SkinLocusYCrCb.jpg"); }
    void WriteSkinTable(const cv::Mat& table) { ASSERT_TRUE(cv::imwrite((dir / "data/SkinLocusYCrCb.jpg").string(), table)); }
    void WriteFile(const std::string& relative, const std::string& text)
    {
        std::ofstream(dir / relative) << text;
    }
    void Use() { SetProgramFolder(dir.string() + "/"); }
    void Remove(const std::string& relative) { fs::remove(dir / relative); }

private:
    static inline int counter = 0;
    std::string real;
    fs::path dir;
};

TEST(RecognizerSetupTest, CompleteDataTreeShowsNoMessage)
{
    ScopedMessageCapture messages;
    TRecognizer r;
    EXPECT_TRUE(messages.Texts().empty());
    EXPECT_TRUE(r.frontFaceCascade && r.profileFaceCascade && r.eyeCascade && r.noseCascade && r.mouthCascade);
    EXPECT_TRUE(r.SkinTableUsable());
    EXPECT_TRUE(r.frontImage.empty());
    EXPECT_TRUE(r.profileImage.empty());
}

TEST(RecognizerSetupTest, EachMissingFileIsReportedInOrder)
{
    struct Case {
        std::vector<std::string> missing;
        bool skinTable;
        std::vector<std::string> messages;
    };
    const std::string noTable =
        "Cannot load skin colour table data/SkinLocusYCrCb.jpg (an image of at least 256 x 256 pixels is needed)";
    const std::vector<Case> cases = {
        {kCascadeFiles, false,
         {"Canot load fronthead Haar cascade", "Canot load profilehead Haar cascade", "Canot load eyes Haar cascade",
          "Canot load nose Haar cascade", "Canot load mouth Haar cascade", noTable}},
        {{"Nariz.xml"}, true, {"Canot load nose Haar cascade"}},
        {{"haarcascade_profileface.xml", "Mouth.xml"}, true,
         {"Canot load profilehead Haar cascade", "Canot load mouth Haar cascade"}},
        {{}, false, {noTable}},
    };
    for (const Case& c : cases) {
        DataTree tree;
        tree.LinkCascades(c.missing);
        if (c.skinTable)
            tree.LinkSkinTable();
        tree.Use();
        ScopedMessageCapture messages;
        TRecognizer r;
        EXPECT_EQ(messages.Texts(), c.messages);
    }
}

// Without the generic head's facts (missing or malformed) the recognizer says why once at start and
// refuses to recognize, since its points would mean nothing to the reconstruction.
TEST(RecognizerSetupTest, MissingOrMalformedGenericHeadMakesRecognitionRefuse)
{
    struct Case {
        const char* what;
        std::string text;  // empty: no file
        std::string expected;
    };
    const std::vector<Case> cases = {{"missing", "", "generic_head.txt"},
                                     {"malformed", "front 0 1 2\n", "line 1: expected 3 numbers after \"front 0\""}};
    for (const Case& c : cases) {
        DataTree tree;
        tree.LinkCascades();
        tree.LinkSkinTable();
        tree.Remove("data/models/generic_head.txt");
        if (!c.text.empty())
            tree.WriteFile("data/models/generic_head.txt", c.text);
        tree.Use();
        ScopedMessageCapture messages;
        TRecognizer r;
        ASSERT_EQ(messages.Texts().size(), 1u) << c.what;
        EXPECT_NE(messages.Texts()[0].find(c.expected), std::string::npos) << c.what << ": " << messages.Texts()[0];
        EXPECT_FALSE(r.generic) << c.what;
        messages.Clear();
        THeadAttributes points;
        r.frontImage = Plain(800, 600);
        r.profileImage = Plain(600, 800);
        EXPECT_FALSE(r.RecognizeFront(&points)) << c.what;
        EXPECT_FALSE(r.RecognizeProfile(&points, false)) << c.what;
        EXPECT_EQ(messages.Texts().size(), 2u) << c.what;
        for (const std::string& m : messages.Texts())
            EXPECT_NE(m.find("generic head"), std::string::npos) << c.what << ": " << m;
    }
}

TEST(RecognizerSetupTest, DamagedCascadeCountsAsMissing)
{
    DataTree tree;
    tree.LinkCascades({"Mouth.xml"});
    tree.LinkSkinTable();
    tree.WriteFile("haarcascades/Mouth.xml", "<?xml version=\"1.0\"?><opencv_storage><cascade>broken");
    tree.Use();
    ScopedMessageCapture messages;
    TRecognizer r;
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Canot load mouth Haar cascade"});
    EXPECT_FALSE(r.mouthCascade);
}

TEST(RecognizerSetupTest, UnusableSkinTableMakesRecognitionRefuse)
{
    struct Case {
        const char* what;
        cv::Mat table; // empty: a file that is no image
    };
    const std::vector<Case> cases = {{"too small", cv::Mat(100, 300, CV_8UC3, cv::Scalar::all(0))},
                                     {"too narrow", cv::Mat(256, 255, CV_8UC3, cv::Scalar::all(0))},
                                     {"not an image", cv::Mat()}};
    for (const Case& c : cases) {
        DataTree tree;
        tree.LinkCascades();
        if (c.table.empty())
            tree.WriteFile("data/SkinLocusYCrCb.jpg", "no jpeg here");
        else
            tree.WriteSkinTable(c.table);
        tree.Use();
        ScopedMessageCapture messages;
        TRecognizer r;
        ASSERT_EQ(messages.Texts().size(), 1u) << c.what;
        EXPECT_FALSE(r.SkinTableUsable());
        messages.Clear();

        THeadAttributes points;
        r.frontImage = Plain(2600, 1950);
        r.profileImage = Plain(1950, 2600);
        EXPECT_FALSE(r.RecognizeFront(&points));
        EXPECT_FALSE(r.RecognizeProfile(&points, false));
        r.DetectProfileOrientation(&points);
        EXPECT_EQ(messages.Texts(), std::vector<std::string>(3, "Skin colour table is not loaded")) << c.what;
        EXPECT_EQ(r.frontImage.size(), cv::Size(2600, 1950)) << "the photo is left as it was";
        EXPECT_EQ(r.profileImage.size(), cv::Size(1950, 2600));
        EXPECT_EQ(points.front[FrontPoint::HeadCenter]->GetPosition(), cv::Point(0, 0));
        EXPECT_EQ(points.profile[ProfilePoint::HeadCenter]->GetPosition(), cv::Point(0, 0));
    }
}

TEST(SkinTableTest, ReloadsExactlyAsTheSkinModel)
{
    // The generated table: skin exactly for 133 <= Cr <= 173 and 77 <= Cb <= 127, each cell within
    // a few levels of black (skin) or white, so JPEG coding is nowhere near moving it across 244.
    const cv::Mat table = cv::imread(ProgramFolder() + "data/SkinLocusYCrCb.jpg", cv::IMREAD_COLOR);
    ASSERT_EQ(table.size(), cv::Size(256, 256));
    int wrong = 0, offTarget = 0;
    for (int cb = 0; cb < 256; ++cb)
        for (int cr = 0; cr < 256; ++cr) {
            const int v = TRecognizer::GetPixel(table, cr, cb, 0);
            const bool skin = cr >= 133 && cr <= 173 && cb >= 77 && cb <= 127;
            wrong += (v < 244) != skin;
            offTarget += std::abs(v - (skin ? 0 : 255)) > 3;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(offTarget, 0);
}

TEST(PhotoLoadingTest, LoadsAsBlueGreenRedAndKeepsThePhotoOnFailure)
{
    const fs::path dir = fs::temp_directory_path();
    const std::string grey = (dir / "vultari_grey.png").string(), deep = (dir / "vultari_deep.png").string();
    ASSERT_TRUE(cv::imwrite(grey, cv::Mat(30, 40, CV_8UC1, cv::Scalar(77))));
    ASSERT_TRUE(cv::imwrite(deep, cv::Mat(30, 40, CV_16UC3, cv::Scalar(65535, 0, 256 * 100))));
    TRecognizer r;
    for (bool front : {true, false}) {
        auto load = [&](const std::string& path) { return front ? r.LoadFrontImage(path) : r.LoadProfileImage(path); };
        cv::Mat& photo = front ? r.frontImage : r.profileImage;
        ASSERT_TRUE(load(Astronaut()));
        EXPECT_EQ(photo.type(), CV_8UC3);
        EXPECT_EQ(photo.size(), cv::Size(512, 512));
        const cv::Mat before = photo.clone();
        for (const std::string& bad : {std::string("/nonexistent/photo.jpg"), std::string(""), dir.string()}) {
            EXPECT_FALSE(load(bad)) << bad;
            ASSERT_EQ(photo.size(), before.size()) << "a failed load keeps the photo";
            EXPECT_EQ(cv::norm(photo, before, cv::NORM_INF), 0.0);
        }
        ASSERT_TRUE(load(grey));
        EXPECT_EQ(photo.type(), CV_8UC3);
        EXPECT_EQ(photo.at<cv::Vec3b>(5, 5), cv::Vec3b(77, 77, 77));
        ASSERT_TRUE(load(deep));
        EXPECT_EQ(photo.type(), CV_8UC3);
        EXPECT_EQ(photo.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 100));
    }
    fs::remove(grey);
    fs::remove(deep);
}

TEST(ImageHelpersTest, Median3AndAbs)
{
    struct Case {
        int a, b, c, median;
    };
    for (const Case& c : {Case{3, 1, 2, 2}, Case{2, 2, 5, 2}, Case{1, 2, 3, 2}, Case{3, 2, 1, 2}, Case{5, 5, 5, 5},
                          Case{-1, -5, 7, -1}, Case{9, 1, 9, 9}, Case{0, 10, 4, 4}})
        EXPECT_EQ(TRecognizer::Median3(c.a, c.b, c.c), c.median) << c.a << " " << c.b << " " << c.c;
    EXPECT_EQ(TRecognizer::Abs(-7), 7);
    EXPECT_EQ(TRecognizer::Abs(7), 7);
    EXPECT_EQ(TRecognizer::Abs(0), 0);
}

TEST(ImageHelpersTest, PixelAccessFollowsTheRowStep)
{
    cv::Mat whole(10, 10, CV_8UC3, cv::Scalar(0, 0, 0));
    cv::Mat part = whole(cv::Rect(2, 3, 5, 4)); // rows of the part are 30 bytes apart, not 15
    TRecognizer::SetPixel(part, 1, 2, 200, 2);
    EXPECT_EQ(whole.at<cv::Vec3b>(5, 3)[2], 200);
    EXPECT_EQ(TRecognizer::GetPixel(part, 1, 2, 2), 200);
    EXPECT_EQ(TRecognizer::GetPixel(whole, 3, 5, 2), 200);
    EXPECT_EQ(TRecognizer::GetPixel(part, 1, 2, 1), 0);
}

TEST(ImageHelpersTest, ResizeToMaxSizes)
{
    struct Case {
        int w, h, maxSide;
        bool force;
        int ew, eh; // 0 x 0: no image
    };
    const std::vector<Case> cases = {
        {2600, 1950, 1300, false, 1300, 975}, {1950, 2600, 1300, false, 975, 1300},
        {400, 300, 1300, false, 400, 300},    {400, 300, 1300, true, 1300, 975},
        {500, 500, 200, true, 200, 200},      {500, 500, 200, false, 200, 200},
        {1300, 1000, 1300, false, 1300, 1000}, {1, 1, 200, true, 200, 200},
        {200, 5, 100, false, 100, 2},         // 2.5 -> 2
        {200, 7, 100, false, 100, 4},         // 3.5 -> 4
        {3000, 1, 1300, false, 1300, 1},      // 0.43 would be 0: at least one pixel
        {1, 3000, 1300, false, 1, 1300},      {4, 1, 2, false, 2, 1},
        {400, 300, 0, true, 0, 0},            {400, 300, -5, false, 0, 0},
    };
    TRecognizer r;
    for (const Case& c : cases) {
        cv::Mat source(c.h, c.w, CV_8UC3, cv::Scalar(10, 20, 30));
        const cv::Mat out = r.ResizeToMax(source, c.maxSide, c.force);
        EXPECT_EQ(out.size(), cv::Size(c.ew, c.eh)) << c.w << "x" << c.h << " to " << c.maxSide;
        if (!out.empty()) {
            EXPECT_EQ(out.type(), CV_8UC3);
            EXPECT_EQ(out.at<cv::Vec3b>(out.rows / 2, out.cols / 2), cv::Vec3b(10, 20, 30));
        }
    }
    EXPECT_TRUE(r.ResizeToMax(cv::Mat(), 200, true).empty());
}

TEST(ImageHelpersTest, ResizeToMaxOfASmallPhotoIsAnIndependentExactCopy)
{
    TRecognizer r;
    cv::Mat source(30, 40, CV_8UC3);
    cv::randu(source, 0, 256);
    cv::Mat copy = r.ResizeToMax(source, 1300, false);
    ASSERT_EQ(copy.size(), source.size());
    EXPECT_EQ(cv::norm(copy, source, cv::NORM_INF), 0.0);
    copy.setTo(cv::Scalar::all(0));
    EXPECT_GT(cv::norm(source, cv::NORM_INF), 0.0);
}

TEST(ImageHelpersTest, ImageToBitmapKeepsTheBytes)
{
    TRecognizer r;
    cv::Mat whole(6, 9, CV_8UC3);
    cv::randu(whole, 0, 256);
    const cv::Mat part = whole(cv::Rect(1, 2, 5, 3)); // not continuous
    ScopedMessageCapture messages;
    const auto bitmap = r.ImageToBitmap(part);
    ASSERT_EQ(bitmap->Width(), 5);
    ASSERT_EQ(bitmap->Height(), 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_EQ(bitmap->ScanLine(y)[3 * x + ch], part.at<cv::Vec3b>(y, x)[ch]);

    const auto grey = r.ImageToBitmap(cv::Mat(2, 3, CV_8UC1, cv::Scalar(90)));
    ASSERT_EQ(grey->Width(), 3);
    EXPECT_EQ(grey->Canvas()->Pixel(2, 1), TColor(0x5A5A5A));
    const auto withAlpha = r.ImageToBitmap(cv::Mat(2, 3, CV_8UC4, cv::Scalar(1, 2, 3, 4)));
    EXPECT_EQ(withAlpha->ScanLine(1)[6], 1);
    EXPECT_EQ(withAlpha->ScanLine(1)[8], 3);
    EXPECT_TRUE(r.ImageToBitmap(cv::Mat())->Empty());
    EXPECT_TRUE(messages.Texts().empty());

    r.ImageToBitmap(cv::Mat(2, 3, CV_16UC3));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{"Error: canot convert image to bitmap"});
}

TEST(ImageHelpersTest, ResizedBitmapHasTheRequestedLargerSide)
{
    TRecognizer r;
    struct Case {
        int w, h, side, ew, eh;
    };
    for (const Case& c : {Case{400, 300, 200, 200, 150}, Case{300, 400, 610, 458, 610}, Case{512, 512, 200, 200, 200},
                          Case{3000, 2, 200, 200, 1}}) {
        const auto b = r.ResizedBitmap(Plain(c.w, c.h), c.side, true);
        EXPECT_EQ(b->Width(), c.ew) << c.w << "x" << c.h;
        EXPECT_EQ(b->Height(), c.eh) << c.w << "x" << c.h;
    }
    EXPECT_TRUE(r.ResizedBitmap(Plain(10, 10), 0, true)->Empty());
}
}
