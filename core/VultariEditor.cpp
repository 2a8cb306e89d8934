// Photo loading, the thumbnails and the point editor. Feature points live in photo pixels; the
// thumbnail and editor bitmaps are scaled copies of the photo drawn centred in their image controls.
#include "core/Vultari.h"

#include "platform/base/Messages.h"
#include "platform/base/Numbers.h"
#include "platform/image/Graphics.h"
#include "recognition/Headattributes.h"
#include "recognition/Hierarchicaltree.h"
#include "recognition/Recognizer.h"

#include <algorithm>

#include <opencv2/core.hpp>

namespace {

const char* const kNoFrontFace =
    "No face was found in the front photo; its points were placed at default positions. Check them in the point editor.";
const char* const kNoProfileOutline =
    "No skin outline was found in the profile photo; its points were placed at default positions. Check them in the "
    "point editor.";

constexpr int kThumbnailSize = 200;
constexpr int kEditSize = 610;

// What the drawing needs to know about one of the two photos.
struct PhotoView {
    TBitmap* thumbnail = nullptr;
    TBitmap* editBitmap = nullptr;
    const cv::Mat* photo = nullptr;
    THPoint* root = nullptr;
    THPoint* left = nullptr;  // the face box's four border points
    THPoint* top = nullptr;
    THPoint* right = nullptr;
    THPoint* bottom = nullptr;
    const char* missing = nullptr;  // text shown when the photo is not there
};

void FillWhite(TImage* image)
{
    TCanvas* canvas = image->Canvas();
    canvas->Brush.Color = clWhite;
    canvas->Brush.Style = bsSolid;
    canvas->FillRect(image->ClientRect());
}

void DrawFaceBox(TCanvas* canvas, int left, int top, int right, int bottom)
{
    canvas->Brush.Style = bsClear;
    canvas->Pen.Color = clWhite;
    canvas->Pen.Style = psDash;
    // Right and bottom are exclusive: the lines pass through the border points' own pixels.
    canvas->Rectangle(left, top, right + 1, bottom + 1);
}

// A file refused before decoding says why after the usual text, and which photo stays.
std::string RefusedPhotoMessage(const std::string& text, const std::string& problem, bool kept, const char* kind)
{
    if (problem.empty())
        return text;
    return text + ": the photo " + problem + "." + (kept ? std::string(" The ") + kind + " photo loaded before stays." : "");
}

template <typename T>
void Replace(T*& field, T* value)
{
    delete field;
    field = value;
}

} // namespace

// ---- photos ----------------------------------------------------------------------------------

bool TVultari::LoadFrontImage(const std::string& path)
{
    std::string problem;
    if (recognizer == nullptr || !recognizer->LoadFrontImage(path, &problem)) {
        ShowMessage(RefusedPhotoMessage("Error: Front image not loaded", problem, IsFrontLoaded(), "front"));
        return false;
    }
    Replace(frontThumbnail, recognizer->ResizedBitmap(recognizer->frontImage, kThumbnailSize, true).release());
    Replace(frontEditBitmap, recognizer->ResizedBitmap(recognizer->frontImage, kEditSize, true).release());
    recognizer->RecognizeFront(headAttributes);
    if (recognizer->frontFaceMissing)
        ShowMessage(kNoFrontFace);
    return true;
}

bool TVultari::LoadProfileImage(const std::string& path)
{
    std::string problem;
    if (recognizer == nullptr || !recognizer->LoadProfileImage(path, &problem)) {
        ShowMessage(RefusedPhotoMessage("Error: Profile image not loaded", problem, IsProfileLoaded(), "profile"));
        return false;
    }
    // The bitmaps show the photo as loaded; the points stay in that photo's coordinates.
    Replace(profileThumbnail, recognizer->ResizedBitmap(recognizer->profileImage, kThumbnailSize, true).release());
    Replace(profileEditBitmap, recognizer->ResizedBitmap(recognizer->profileImage, kEditSize, true).release());
    recognizer->RecognizeProfile(headAttributes, false);
    if (recognizer->profileOutlineMissing)
        ShowMessage(kNoProfileOutline);
    return true;
}

int TVultari::GetProfileOrientation()
{
    return headAttributes->profileOrientation;
}

// ---- drawing ---------------------------------------------------------------------------------

namespace {

PhotoView ViewOf(TVultari& core, int which)
{
    PhotoView v;
    THeadAttributes* points = core.headAttributes;
    if (which == 0) {
        v.thumbnail = core.frontThumbnail;
        v.editBitmap = core.frontEditBitmap;
        v.photo = core.recognizer ? &core.recognizer->frontImage : nullptr;
        v.root = points->front[FrontPoint::HeadCenter];
        v.left = points->front[FrontPoint::LeftHead];
        v.top = points->front[FrontPoint::TopHead];
        v.right = points->front[FrontPoint::RightHead];
        v.bottom = points->front[FrontPoint::BottomHead];
        v.missing = "Error: Reload front image please.";
    } else {
        v.thumbnail = core.profileThumbnail;
        v.editBitmap = core.profileEditBitmap;
        v.photo = core.recognizer ? &core.recognizer->profileImage : nullptr;
        v.root = points->profile[ProfilePoint::HeadCenter];
        v.left = points->profile[ProfilePoint::LeftHead];
        v.top = points->profile[ProfilePoint::TopHead];
        v.right = points->profile[ProfilePoint::RightHead];
        v.bottom = points->profile[ProfilePoint::BottomHead];
        v.missing = "Error: Reload profile image please.";
    }
    return v;
}

bool Present(const PhotoView& v)
{
    return v.thumbnail != nullptr && v.editBitmap != nullptr && v.photo != nullptr && !v.photo->empty();
}

} // namespace

void TVultari::DrawThumbnail(TImage* image, int which)
{
    if (image == nullptr)
        return;
    FillWhite(image);
    if (which != 0 && which != 1)
        return;
    PhotoView v = ViewOf(*this, which);
    if (!Present(v)) {
        ShowMessage(v.missing);
        return;
    }
    TCanvas* canvas = image->Canvas();
    const int bw = v.thumbnail->Width(), bh = v.thumbnail->Height();
    const int pw = v.photo->cols, ph = v.photo->rows;
    const int x0 = (image->Width() - bw) / 2;
    const int y0 = (image->Height() - bh) / 2;
    canvas->Draw(x0, y0, v.thumbnail);

    auto sx = [&](int value) { return RoundHalfEven(static_cast<double>(bw) * value / pw); };
    auto sy = [&](int value) { return RoundHalfEven(static_cast<double>(bh) * value / ph); };
    DrawFaceBox(canvas, sx(v.left->x) + x0, sy(v.top->y) + y0, sx(v.right->x) + x0, sy(v.bottom->y) + y0);

    // Depth 2: the root and its direct children only.
    v.root->Draw(image, markBitmap, pw, ph, bw, bh, 2, x0, y0, 0, 0, false, nullptr);
}

void TVultari::DrawEditView(TImage* image, int which, int mouseX, int mouseY, bool highlight, bool grab)
{
    if (image == nullptr)
        return;
    FillWhite(image);
    if (which != 0 && which != 1)
        return;
    PhotoView v = ViewOf(*this, which);
    if (!Present(v)) {
        // Said once: the editor closes, so the next mouse move does not ask again.
        if (displayMode == dmEditFront || displayMode == dmEditProfile) {
            displayMode = dmNothing;
            grabbedPoint = nullptr;
        }
        ShowMessage(v.missing);
        return;
    }
    TCanvas* canvas = image->Canvas();
    const int ew = v.editBitmap->Width(), eh = v.editBitmap->Height();
    const int pw = v.photo->cols, ph = v.photo->rows;
    const int x0 = (image->Width() - ew) / 2;
    const int y0 = (image->Height() - eh) / 2;
    const float toViewX = static_cast<float>(ew) / static_cast<float>(pw);
    const float toViewY = static_cast<float>(eh) / static_cast<float>(ph);
    const float toPhotoX = static_cast<float>(pw) / static_cast<float>(ew);
    const float toPhotoY = static_cast<float>(ph) / static_cast<float>(eh);

    int mx = RoundHalfEven(static_cast<double>(mouseX - x0) * toPhotoX);
    int my = RoundHalfEven(static_cast<double>(mouseY - y0) * toPhotoY);
    if (grabbedPoint != nullptr)
        grabbedPoint->KeepDragInside(pw, ph, mx, my);  // a drag never leaves the photo

    canvas->Draw(x0, y0, v.editBitmap);

    auto vx = [&](int value) { return RoundHalfEven(static_cast<double>(value) * toViewX); };
    auto vy = [&](int value) { return RoundHalfEven(static_cast<double>(value) * toViewY); };
    DrawFaceBox(canvas, vx(v.left->x) + x0, vy(v.top->y) + y0, vx(v.right->x) + x0, vy(v.bottom->y) + y0);

    canvas->Pen.Color = clWhite;
    canvas->Pen.Style = psSolid;
    THPoint* hit = v.root->Draw(image, markBitmap, pw, ph, ew, eh, -1, x0, y0, mx, my, highlight, grabbedPoint);

    THPoint* label = grabbedPoint != nullptr ? grabbedPoint : hit;
    if (label == nullptr)
        return;
    const int lx = vx(label->x) + x0;
    const int ly = vy(label->y) + y0;
    const int n = static_cast<int>(label->name.size());
    canvas->Pen.Color = clBlack;
    canvas->Brush.Style = bsSolid;
    canvas->Brush.Color = clWhite;
    canvas->Rectangle(lx + 10, ly + 9, lx + 15 + 6 * n, ly + 29);
    canvas->TextOut(lx + 15, ly + 12, label->name);

    if (grab)
        grabbedPoint = label;
}

// ---- editor mouse ----------------------------------------------------------------------------

namespace {

// Redraws the editor of the shown photo and then its thumbnail; a missing photo closes the editor
// inside DrawEditView, and the thumbnail is then left alone.
void Redraw(TVultari& core, TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y, bool grab)
{
    int mode = core.displayMode;
    if (mode != dmEditFront && mode != dmEditProfile)
        return;
    int which = mode == dmEditFront ? 0 : 1;
    core.DrawEditView(editImage, which, x, y, true, grab);
    if (core.displayMode == mode)
        core.DrawThumbnail(which == 0 ? frontImage : profileImage, which);
}

} // namespace

void TVultari::EditViewMouseDown(TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y)
{
    Redraw(*this, editImage, frontImage, profileImage, x, y, true);
}

void TVultari::EditViewMouseMove(TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y)
{
    Redraw(*this, editImage, frontImage, profileImage, x, y, false);
}

void TVultari::MarkPlacedByHand(const THPoint* point)
{
    if (point == nullptr || recognizer == nullptr || headAttributes == nullptr)
        return;
    for (int i = 0; i < FrontPoint::Count; ++i)
        if (headAttributes->front[i] == point)
            recognizer->report.frontFallback.reset(static_cast<size_t>(i));
    for (int i = 0; i < ProfilePoint::Count; ++i)
        if (headAttributes->profile[i] == point)
            recognizer->report.profileFallback.reset(static_cast<size_t>(i));
}

void TVultari::EditViewMouseUp(TImage* editImage, TImage* frontImage, TImage* profileImage, int x, int y)
{
    MarkPlacedByHand(grabbedPoint);
    grabbedPoint = nullptr;
    Redraw(*this, editImage, frontImage, profileImage, x, y, false);
}

void TVultari::SetEditMode(TImage* editImage, int mode)
{
    displayMode = mode;
    grabbedPoint = nullptr;
    rotating = false;
    if (mode == dmEditFront)
        DrawEditView(editImage, 0, 0, 0, false, false);
    else if (mode == dmEditProfile)
        DrawEditView(editImage, 1, 0, 0, false, false);
}

void TVultari::SetProfileOrientation(TImage* profileImage, TImage* editImage, int orientation)
{
    if (profileThumbnail == nullptr || profileEditBitmap == nullptr || recognizer == nullptr ||
        recognizer->profileImage.empty()) {
        ShowMessage("Error: Reload profile image please.");
        return;
    }
    int old = headAttributes->profileOrientation;
    headAttributes->SetProfileOrientation(orientation, recognizer->profileImage.cols);
    if (!loading && headAttributes->profileOrientation != old) {
        cv::flip(recognizer->profileImage, recognizer->profileImage, 1);
        recognizer->RecognizeProfile(headAttributes, true);
    }
    DrawThumbnail(profileImage, 1);
    if (displayMode == dmEditProfile)
        DrawEditView(editImage, 1, 0, 0, false, false);
    loading = false;
}
