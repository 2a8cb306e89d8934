// Photo loading, thumbnails and the point editor on a real core object: bitmap sizes, offsets,
// the face box, the label box, pick order, dragging, orientation and the missing-photo message.
#include "testing/PhotoFiles.h"
#include "tests/core/ViewCoreFixture.h"

#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/image/Graphics.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

namespace {

// Text drawing needs an application object; the offscreen platform needs no display.
void EnsureGuiApplication()
{
    static int argc = 1;
    static char name[] = "view_core_tests";
    static char* argv[] = {name, nullptr};
    if (QGuiApplication::instance() == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static QGuiApplication app(argc, argv);
    }
}

const cv::Scalar kGrey(90, 90, 90);

class Editor : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureGuiApplication();
        core = SharedCore();
        ASSERT_NE(core, nullptr) << CoreError();
        core->displayMode = 0;
        core->grabbedPoint = nullptr;
    }

    // A uniform photo of the given size, loaded as front (0) or profile (1).
    void LoadPhoto(int which, int width, int height)
    {
        std::string file = WriteImage(folder, "photo" + std::to_string(width) + "x" + std::to_string(height) + ".png",
                                      cv::Mat(height, width, CV_8UC3, kGrey));
        ScopedMessageCapture quiet;  // recognition on a blank photo may complain
        ASSERT_TRUE(which == 0 ? core->LoadFrontImage(file) : core->LoadProfileImage(file));
    }

    // Every point on its own spot of a coarse grid, far from the others and from the corners.
    void SpreadPoints()
    {
        THeadAttributes& a = *core->headAttributes;
        for (int i = 0; i < FrontPoint::Count; ++i)
            a.front[i]->SetPosition(160 + (i % 9) * 110, 150 + (i / 9) * 250);
        for (int i = 0; i < ProfilePoint::Count; ++i)
            a.profile[i]->SetPosition(160 + (i % 7) * 140, 150 + (i / 7) * 300);
    }

    TVultari* core = nullptr;
    TempFolder folder{"editor"};
};

bool IsWhite(TImage& image, int x, int y)
{
    return image.Canvas()->Pixel(x, y) == clWhite;
}

TColor PixelOf(TImage& image, int x, int y)
{
    return image.Canvas()->Pixel(x, y);
}

int WhiteInRow(TImage& image, int y, int x0, int x1)
{
    int n = 0;
    for (int x = x0; x <= x1; ++x)
        n += PixelOf(image, x, y) == clWhite;
    return n;
}

int WhiteInColumn(TImage& image, int x, int y0, int y1)
{
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        n += PixelOf(image, x, y) == clWhite;
    return n;
}

} // namespace

TEST_F(Editor, BitmapSizes)
{
    struct Case {
        int w, h;
        int tw, th, ew, eh;
    };
    const Case cases[] = {
        {150, 100, 200, 133, 610, 407},    // smaller than both: enlarged
        {100, 150, 133, 200, 407, 610},    // portrait
        {1300, 975, 200, 150, 610, 458},   // 457.5 rounds to the even 458
        {500, 500, 200, 200, 610, 610},
    };
    for (const Case& c : cases) {
        LoadPhoto(0, c.w, c.h);
        ASSERT_NE(core->frontThumbnail, nullptr);
        EXPECT_EQ(core->frontThumbnail->Width(), c.tw) << c.w << "x" << c.h;
        EXPECT_EQ(core->frontThumbnail->Height(), c.th) << c.w << "x" << c.h;
        EXPECT_EQ(core->frontEditBitmap->Width(), c.ew) << c.w << "x" << c.h;
        EXPECT_EQ(core->frontEditBitmap->Height(), c.eh) << c.w << "x" << c.h;
        LoadPhoto(1, c.w, c.h);
        EXPECT_EQ(core->profileThumbnail->Width(), c.tw);
        EXPECT_EQ(core->profileEditBitmap->Height(), c.eh);
    }
}

TEST_F(Editor, FailedLoadKeepsTheBitmaps)
{
    LoadPhoto(0, 400, 300);
    TBitmap* thumbnail = core->frontThumbnail;
    TBitmap* edit = core->frontEditBitmap;
    ScopedMessageCapture messages;
    EXPECT_FALSE(core->LoadFrontImage((folder / "missing.png")));
    EXPECT_FALSE(core->LoadProfileImage((folder / "missing.png")));
    ASSERT_EQ(messages.Texts().size(), 2u);
    EXPECT_EQ(messages.Texts()[0], "Error: Front image not loaded");
    EXPECT_EQ(messages.Texts()[1], "Error: Profile image not loaded");
    EXPECT_EQ(core->frontThumbnail, thumbnail);
    EXPECT_EQ(core->frontEditBitmap, edit);
}

namespace {

// A small JPEG whose frame header declares a picture of width x height.
std::string JpegDeclaring(const TempFolder& folder, const std::string& name, int width, int height)
{
    const std::string file = folder / name;
    WriteJpegDeclaring(file, width, height);
    return file;
}

// A load that blocks (a FIFO opened for reading waits for a writer) is ended by a writer after a
// few seconds and then reported as blocked; the load's result is otherwise returned.
std::optional<bool> LoadWithin(const std::function<bool()>& load, const std::string& fifo)
{
    auto result = std::async(std::launch::async, load);
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::ready)
        return result.get();
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
    result.wait();
    return std::nullopt;
}

} // namespace

TEST_F(Editor, RefusedPhotosSayWhyAndKeepThePreviousOne)
{
    const std::string fifo = folder / "pipe.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(folder.Path() / "folder.png");
    struct Case {
        const char* what;
        std::string file;
        std::string reason;
    };
    const Case cases[] = {
        {"a FIFO", fifo, "is not a regular file"},
        {"a folder", folder / "folder.png", "is a folder, not a picture file"},
        {"a small file declaring a huge photo", JpegDeclaring(folder, "huge.jpg", 12128, 32320),
         "is 12128 x 32320 pixels; photos of at most 64 megapixels are read"},
        {"a photo of one pixel", WriteImage(folder, "dot.png", cv::Mat(1, 1, CV_8UC3, kGrey)),
         "is 1 x 1 pixels; a photo needs at least 16 pixels on each side"},
        {"a photo one pixel wide", WriteImage(folder, "line.png", cv::Mat(4000, 1, CV_8UC3, kGrey)),
         "is 1 x 4000 pixels; a photo needs at least 16 pixels on each side"},
    };
    for (int which = 0; which < 2; ++which) {
        LoadPhoto(which, 400, 300);
        const cv::Mat before = (which == 0 ? core->recognizer->frontImage : core->recognizer->profileImage).clone();
        TBitmap* thumbnail = which == 0 ? core->frontThumbnail : core->profileThumbnail;
        auto root = [&] {
            return which == 0 ? core->headAttributes->front[FrontPoint::HeadCenter]
                              : core->headAttributes->profile[ProfilePoint::HeadCenter];
        };
        const int rootX = root()->x;
        for (const Case& c : cases) {
            ScopedMessageCapture messages;
            const std::optional<bool> loaded = LoadWithin(
                [&] { return which == 0 ? core->LoadFrontImage(c.file) : core->LoadProfileImage(c.file); }, fifo);
            if (!loaded) {
                ADD_FAILURE() << c.what << ": the load blocked";
                continue;
            }
            EXPECT_FALSE(*loaded) << c.what;
            const std::string expected = which == 0
                ? "Error: Front image not loaded: the photo " + c.reason + ". The front photo loaded before stays."
                : "Error: Profile image not loaded: the photo " + c.reason + ". The profile photo loaded before stays.";
            EXPECT_EQ(messages.Texts(), std::vector<std::string>{expected}) << c.what;
            const cv::Mat& now = which == 0 ? core->recognizer->frontImage : core->recognizer->profileImage;
            ASSERT_EQ(now.size(), before.size()) << c.what;
            EXPECT_EQ(cv::norm(now, before, cv::NORM_L1), 0.0) << c.what;
            EXPECT_EQ(which == 0 ? core->frontThumbnail : core->profileThumbnail, thumbnail) << c.what;
            EXPECT_EQ(root()->x, rootX) << c.what;
        }
    }
}

// A photo in which recognition finds no face (front) or no skin (profile) still loads, with the
// points at their defaults, and says so; a photo with a face says nothing of the kind.
TEST_F(Editor, PhotosWithoutAFaceOrSkinSaySo)
{
    const std::string noFace =
        "No face was found in the front photo; its points were placed at default positions. Check them in the point editor.";
    const std::string noSkin =
        "No skin outline was found in the profile photo; its points were placed at default positions. Check them in the "
        "point editor.";
    const std::string grey = WriteImage(folder, "grey.png", cv::Mat(300, 400, CV_8UC3, kGrey));
    const std::string astronaut =
        std::string(VULTARI_DEPS_DIR) + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
    struct Case {
        int which;
        std::string file;
        std::string message;  // empty: none of the two
    };
    const Case cases[] = {{0, grey, noFace}, {1, grey, noSkin}, {0, astronaut, ""}, {1, astronaut, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.which) + " " + c.file);
        ScopedMessageCapture messages;
        ASSERT_TRUE(c.which == 0 ? core->LoadFrontImage(c.file) : core->LoadProfileImage(c.file));
        int told = 0;
        for (const std::string& text : messages.Texts())
            told += text == noFace || text == noSkin;
        if (c.message.empty()) {
            EXPECT_EQ(told, 0) << ::testing::PrintToString(messages.Texts());
        } else {
            EXPECT_EQ(told, 1) << ::testing::PrintToString(messages.Texts());
            EXPECT_NE(std::find(messages.Texts().begin(), messages.Texts().end(), c.message), messages.Texts().end());
        }
    }
}

TEST_F(Editor, ThumbnailAndEditorOffsets)
{
    LoadPhoto(0, 1220, 916);  // thumbnail 200 x 150, editor 610 x 458
    SpreadPoints();
    ASSERT_EQ(core->frontThumbnail->Height(), 150);
    ASSERT_EQ(core->frontEditBitmap->Height(), 458);
    TImage thumb(200, 200);
    core->DrawThumbnail(&thumb, 0);
    EXPECT_TRUE(IsWhite(thumb, 3, 24));
    EXPECT_FALSE(IsWhite(thumb, 3, 25));
    EXPECT_FALSE(IsWhite(thumb, 3, 174));
    EXPECT_TRUE(IsWhite(thumb, 3, 175));

    TImage edit(697, 613);  // the editor bitmap lands at (43, 77)
    core->DrawEditView(&edit, 0, 0, 0, false, false);
    EXPECT_TRUE(IsWhite(edit, 42, 80));
    EXPECT_FALSE(IsWhite(edit, 43, 80));
    EXPECT_FALSE(IsWhite(edit, 652, 80));
    EXPECT_TRUE(IsWhite(edit, 653, 80));
    EXPECT_TRUE(IsWhite(edit, 50, 76));
    EXPECT_FALSE(IsWhite(edit, 50, 77));
    EXPECT_FALSE(IsWhite(edit, 50, 534));
    EXPECT_TRUE(IsWhite(edit, 50, 535));

    // Other which values only clear the image.
    core->DrawEditView(&edit, 2, 0, 0, false, false);
    EXPECT_TRUE(IsWhite(edit, 300, 300));
}

TEST_F(Editor, FaceBoxPassesThroughTheBorderPoints)
{
    LoadPhoto(0, 1220, 916);
    SpreadPoints();
    THeadAttributes& a = *core->headAttributes;
    a.front[FrontPoint::LeftHead]->SetPosition(200, 450);  // left
    a.front[FrontPoint::TopHead]->SetPosition(600, 100);  // top
    a.front[FrontPoint::RightHead]->SetPosition(1000, 450); // right
    a.front[FrontPoint::BottomHead]->SetPosition(600, 800);  // bottom
    for (int i = 0; i < 23; ++i)         // the others out of the way, inside the box
        a.front[i]->SetPosition(450 + (i % 6) * 60, 500 + (i / 6) * 50);
    TImage edit(697, 613);
    core->DrawEditView(&edit, 0, 0, 0, false, false);
    // View: left 143, top 127, right 543, bottom 477 (toView 0.5, offset 43, 77).
    EXPECT_GT(WhiteInRow(edit, 127, 160, 300), 20);
    EXPECT_EQ(WhiteInRow(edit, 126, 160, 300), 0);
    EXPECT_GT(WhiteInRow(edit, 477, 160, 300), 20);
    EXPECT_EQ(WhiteInRow(edit, 478, 160, 300), 0);
    EXPECT_GT(WhiteInColumn(edit, 143, 140, 280), 20);
    EXPECT_EQ(WhiteInColumn(edit, 142, 140, 280), 0);
    EXPECT_GT(WhiteInColumn(edit, 543, 140, 280), 20);
    EXPECT_EQ(WhiteInColumn(edit, 544, 140, 280), 0);

    TImage thumb(200, 200);  // thumbnail: scale 200/1220, offset (0, 25)
    core->DrawThumbnail(&thumb, 0);
    const int left = RoundHalfEven(200.0 * 200 / 1220), right = RoundHalfEven(200.0 * 1000 / 1220);
    EXPECT_GT(WhiteInColumn(thumb, right, 50, 80), 5);
    EXPECT_EQ(WhiteInColumn(thumb, right + 1, 50, 80), 0);
    EXPECT_GT(WhiteInColumn(thumb, left, 50, 80), 5);
    EXPECT_EQ(WhiteInColumn(thumb, left - 1, 50, 80), 0);
}

TEST_F(Editor, LabelBoxFollowsTheNameLength)
{
    LoadPhoto(0, 1220, 916);
    SpreadPoints();
    struct Case {
        int index;  // front point
        size_t length;
    };
    const Case cases[] = {{FrontPoint::HeadCenter, 11} /* "Head center" */, {FrontPoint::MouthCenter, 12} /* "Mouth center" */,
                          {FrontPoint::NoseTip, 15} /* "Tip of the Nose" */};
    for (const Case& c : cases) {
        THPoint* p = core->headAttributes->front[c.index];
        ASSERT_EQ(p->name.size(), c.length);
        p->SetPosition(656, 524);  // off the grid of the others
        const int lx = 328 + 43, ly = 262 + 77;
        TImage edit(697, 613);
        core->DrawEditView(&edit, 0, lx, ly, true, false);
        const int right = lx + 15 + 6 * static_cast<int>(c.length) - 1;  // last pixel of the box
        SCOPED_TRACE(p->name);
        EXPECT_EQ(PixelOf(edit, lx + 10, ly + 20), clBlack);
        EXPECT_NE(PixelOf(edit, lx + 9, ly + 20), clBlack);
        // The right edge, above the text's cell (a wide font's text may run over it).
        EXPECT_EQ(PixelOf(edit, right, ly + 10), clBlack);
        EXPECT_NE(PixelOf(edit, right + 1, ly + 10), clBlack);
        EXPECT_EQ(PixelOf(edit, right, ly + 28), clBlack);
        EXPECT_NE(PixelOf(edit, right + 1, ly + 28), clBlack);
        EXPECT_EQ(PixelOf(edit, lx + 12, ly + 9), clBlack);
        EXPECT_NE(PixelOf(edit, lx + 12, ly + 8), clBlack);
        EXPECT_EQ(PixelOf(edit, lx + 12, ly + 28), clBlack);
        EXPECT_NE(PixelOf(edit, lx + 12, ly + 29), clBlack);
        EXPECT_EQ(PixelOf(edit, lx + 12, ly + 11), clWhite);
        // Some of the name is written inside the box.
        int dark = 0;
        for (int y = ly + 10; y < ly + 28; ++y)
            for (int x = lx + 15; x < right; ++x)
                dark += PixelOf(edit, x, y) != clWhite;
        EXPECT_GT(dark, 10);
        SpreadPoints();
    }
    // Away from every point: no label.
    TImage edit(697, 613);
    core->DrawEditView(&edit, 0, 43 + 5, 77 + 5, true, false);
    EXPECT_NE(PixelOf(edit, 43 + 5 + 10, 77 + 5 + 20), clBlack);
}

TEST_F(Editor, PressPicksTheFirstPointInTreeOrderAndDragsItsSubtree)
{
    LoadPhoto(0, 1220, 916);
    SpreadPoints();
    THeadAttributes& a = *core->headAttributes;
    a.front[FrontPoint::LeftEyeCenter]->SetPosition(300, 300);  // left eye centre over its left border
    a.front[FrontPoint::LeftEyeLeft]->SetPosition(300, 300);
    a.front[FrontPoint::LeftEyeRight]->SetPosition(400, 300);
    a.front[FrontPoint::LeftEyeTop]->SetPosition(350, 260);
    a.front[FrontPoint::LeftEyeBottom]->SetPosition(350, 340);
    // Recognition placed every point by the proportions; a point the user drags is placed.
    TRecognitionReport& report = core->recognizer->report;
    report.frontFallback.set();
    report.profileFallback.set();
    TImage edit(697, 613), front(200, 200), profile(200, 200);
    core->SetEditMode(&edit, 1);
    ASSERT_EQ(core->displayMode, 1);
    auto view = [](int px, int py) { return cv::Point(px / 2 + 43, py / 2 + 77); };

    cv::Point p = view(300, 300);
    core->EditViewMouseDown(&edit, &front, &profile, p.x, p.y);
    EXPECT_EQ(core->grabbedPoint, a.front[FrontPoint::LeftEyeCenter]);
    cv::Point q = view(500, 420);
    core->EditViewMouseMove(&edit, &front, &profile, q.x, q.y);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeCenter]->x, 500);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeCenter]->y, 420);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeLeft]->x, 500);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeRight]->x, 600);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeTop]->y, 380);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeBottom]->y, 460);
    // Far from every point the held point still follows the mouse.
    cv::Point r = view(900, 700);
    core->EditViewMouseMove(&edit, &front, &profile, r.x, r.y);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeCenter]->x, 900);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeCenter]->y, 700);
    core->EditViewMouseUp(&edit, &front, &profile, r.x, r.y);
    EXPECT_EQ(core->grabbedPoint, nullptr);
    EXPECT_FALSE(report.frontFallback[FrontPoint::LeftEyeCenter]);
    EXPECT_EQ(report.frontFallback.count(), size_t(FrontPoint::Count - 1)) << "its borders only moved along";
    EXPECT_TRUE(report.profileFallback.all());

    // A border point alone: only it moves.
    cv::Point b = view(a.front[FrontPoint::LeftEyeRight]->x, a.front[FrontPoint::LeftEyeRight]->y);
    core->EditViewMouseDown(&edit, &front, &profile, b.x, b.y);
    EXPECT_EQ(core->grabbedPoint, a.front[FrontPoint::LeftEyeRight]);
    core->EditViewMouseMove(&edit, &front, &profile, b.x + 10, b.y);
    core->EditViewMouseUp(&edit, &front, &profile, b.x + 10, b.y);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeRight]->x, 1020);
    EXPECT_EQ(a.front[FrontPoint::LeftEyeCenter]->x, 900);
    EXPECT_FALSE(report.frontFallback[FrontPoint::LeftEyeRight]);
    EXPECT_EQ(report.frontFallback.count(), size_t(FrontPoint::Count - 2));

    // A press over no point grabs nothing and moves nothing.
    core->EditViewMouseDown(&edit, &front, &profile, 45, 79);
    EXPECT_EQ(core->grabbedPoint, nullptr);
    core->EditViewMouseUp(&edit, &front, &profile, 45, 79);
    EXPECT_EQ(report.frontFallback.count(), size_t(FrontPoint::Count - 2));
}

TEST_F(Editor, DraggedPointStaysInsideThePhoto)
{
    LoadPhoto(1, 1220, 916);
    SpreadPoints();
    THeadAttributes& a = *core->headAttributes;
    THPoint* chin = a.profile[ProfilePoint::BottomHead];  // a point without points below it
    TImage edit(697, 613), front(200, 200), profile(200, 200);
    core->SetEditMode(&edit, 2);
    const int vx = chin->x / 2 + 43, vy = chin->y / 2 + 77;
    core->EditViewMouseDown(&edit, &front, &profile, vx, vy);
    ASSERT_EQ(core->grabbedPoint, chin);
    core->EditViewMouseMove(&edit, &front, &profile, -500, -500);
    EXPECT_EQ(chin->x, 0);
    EXPECT_EQ(chin->y, 0);
    core->EditViewMouseMove(&edit, &front, &profile, 5000, 5000);
    EXPECT_EQ(chin->x, 1219);
    EXPECT_EQ(chin->y, 915);
    core->EditViewMouseUp(&edit, &front, &profile, 5000, 5000);
    EXPECT_EQ(chin->x, 1219);

    // A centre drags its borders along: the whole group stays inside.
    THPoint* centre = a.profile[ProfilePoint::EarCenter];
    centre->MoveTo(600, 450);
    a.profile[ProfilePoint::EarLeft]->SetPosition(560, 450);  // 40 to the left
    a.profile[ProfilePoint::EarRight]->SetPosition(650, 450);  // 50 to the right
    a.profile[ProfilePoint::EarTop]->SetPosition(600, 380);  // 70 above
    a.profile[ProfilePoint::EarBottom]->SetPosition(600, 540);  // 90 below
    core->EditViewMouseDown(&edit, &front, &profile, 300 + 43, 225 + 77);
    ASSERT_EQ(core->grabbedPoint, centre);
    core->EditViewMouseMove(&edit, &front, &profile, -500, 5000);
    EXPECT_EQ(centre->x, 40);
    EXPECT_EQ(centre->y, 915 - 90);
    EXPECT_EQ(a.profile[ProfilePoint::EarLeft]->x, 0);
    EXPECT_EQ(a.profile[ProfilePoint::EarBottom]->y, 915);
    core->EditViewMouseMove(&edit, &front, &profile, 5000, -500);
    EXPECT_EQ(a.profile[ProfilePoint::EarRight]->x, 1219);
    EXPECT_EQ(a.profile[ProfilePoint::EarTop]->y, 0);
    core->EditViewMouseUp(&edit, &front, &profile, 5000, -500);
}

TEST_F(Editor, MissingPhotoIsReportedOnceAndClosesTheEditor)
{
    LoadPhoto(1, 400, 300);
    // The profile's bitmaps gone, as after a failed reload.
    std::unique_ptr<TBitmap> thumbnail(core->profileThumbnail), edit(core->profileEditBitmap);
    core->profileThumbnail = nullptr;
    core->profileEditBitmap = nullptr;
    TImage image(697, 613), front(200, 200), profile(200, 200);
    {
        ScopedMessageCapture messages;
        core->SetEditMode(&image, 2);
        for (int i = 0; i < 20; ++i)
            core->EditViewMouseMove(&image, &front, &profile, 100 + i, 100);
        core->EditViewMouseDown(&image, &front, &profile, 100, 100);
        ASSERT_EQ(messages.Texts().size(), 1u);
        EXPECT_EQ(messages.Texts()[0], "Error: Reload profile image please.");
        EXPECT_EQ(core->displayMode, 0);
        EXPECT_TRUE(IsWhite(image, 300, 300));

        core->DrawThumbnail(&profile, 1);  // asked for directly, it says so
        ASSERT_EQ(messages.Texts().size(), 2u);
        EXPECT_TRUE(IsWhite(profile, 100, 100));
        core->SetProfileOrientation(&profile, &image, 1);
        ASSERT_EQ(messages.Texts().size(), 3u);
        EXPECT_EQ(messages.Texts()[2], "Error: Reload profile image please.");
    }
    core->profileThumbnail = thumbnail.release();
    core->profileEditBitmap = edit.release();
}

TEST_F(Editor, OrientationMirrorsPointsAndFlipsThePhotoOnce)
{
    // A photo whose left half is dark, so a flip shows.
    cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(200, 200, 200));
    photo(cv::Rect(0, 0, 100, 300)).setTo(cv::Scalar(20, 20, 20));
    std::string file = WriteImage(folder, "halves.png", photo);
    {
        ScopedMessageCapture quiet;
        ASSERT_TRUE(core->LoadProfileImage(file));
    }
    THeadAttributes& a = *core->headAttributes;
    const int width = core->recognizer->profileImage.cols;
    TImage profile(200, 200), edit(697, 613);

    // While the main window sets its buttons: points mirrored, photo and recognition untouched.
    const int old = a.profileOrientation;
    for (int i = 0; i < ProfilePoint::Count; ++i)
        a.profile[i]->SetPosition(10 + 20 * i, 5 + 10 * i);
    cv::Mat before = core->recognizer->profileImage.clone();
    core->loading = true;
    core->SetProfileOrientation(&profile, &edit, 1 - old);
    EXPECT_FALSE(core->loading);
    EXPECT_EQ(core->GetProfileOrientation(), 1 - old);
    for (int i = 0; i < ProfilePoint::Count; ++i) {
        EXPECT_EQ(a.profile[i]->x, width - (10 + 20 * i));
        EXPECT_EQ(a.profile[i]->y, 5 + 10 * i);
    }
    EXPECT_EQ(cv::norm(before, core->recognizer->profileImage, cv::NORM_L1), 0.0);

    // The same orientation again: nothing but the redraw.
    core->SetProfileOrientation(&profile, &edit, 1 - old);
    EXPECT_EQ(a.profile[ProfilePoint::NoseTip]->x, width - 70);
    EXPECT_EQ(cv::norm(before, core->recognizer->profileImage, cv::NORM_L1), 0.0);

    // The user's choice: the stored photo is flipped in place.
    {
        ScopedMessageCapture quiet;
        core->SetProfileOrientation(&profile, &edit, old);
    }
    EXPECT_EQ(core->GetProfileOrientation(), old);
    cv::Mat flipped;
    cv::flip(before, flipped, 1);
    EXPECT_EQ(cv::norm(flipped, core->recognizer->profileImage, cv::NORM_L1), 0.0);
}

TEST_F(Editor, RealPhotoGetsPointsInsideIt)
{
    std::string photo = std::string(VULTARI_DEPS_DIR) + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
    ScopedMessageCapture messages;
    ASSERT_TRUE(core->LoadFrontImage(photo)) << photo;
    EXPECT_EQ(core->frontThumbnail->Width(), 200);
    EXPECT_EQ(core->frontEditBitmap->Height(), 610);
    const cv::Mat& stored = core->recognizer->frontImage;
    for (int i = 0; i < FrontPoint::Count; ++i) {
        const THPoint* p = core->headAttributes->front[i];
        EXPECT_GE(p->x, 0) << p->name;
        EXPECT_LT(p->x, stored.cols) << p->name;
        EXPECT_GE(p->y, 0) << p->name;
        EXPECT_LT(p->y, stored.rows) << p->name;
    }
    TImage edit(697, 613);
    core->SetEditMode(&edit, 1);
    EXPECT_EQ(core->displayMode, 1);
    int white = 0;
    for (int y = 0; y < edit.Height(); ++y)
        white += WhiteInRow(edit, y, 0, edit.Width() - 1);
    EXPECT_LT(white, edit.Width() * edit.Height() / 3);  // the photo is shown
}
