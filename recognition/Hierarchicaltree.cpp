#include "recognition/Hierarchicaltree.h"

#include <algorithm>

#include "platform/base/Numbers.h"

namespace {

// The offsets of a point's subtree from the point itself, as a box.
void SubtreeExtent(const THPoint* root, const THPoint* p, int& left, int& top, int& right, int& bottom)
{
    left = std::min(left, p->x - root->x);
    right = std::max(right, p->x - root->x);
    top = std::min(top, p->y - root->y);
    bottom = std::max(bottom, p->y - root->y);
    for (const THPoint* child : p->children)
        SubtreeExtent(root, child, left, top, right, bottom);
}

}  // namespace

THPoint::THPoint(const std::string& pointName, THPoint* parentPoint, int px, int py)
    : x(px), y(py), name(pointName), parent(parentPoint)
{
}

THPoint::~THPoint()
{
    for (THPoint* child : children)
        delete child;
}

void THPoint::AddChild(THPoint* child)
{
    children.push_back(child);
    child->parent = this;
}

void THPoint::SetPosition(int px, int py)
{
    x = px;
    y = py;
}

void THPoint::CopyPosition(const THPoint* other)
{
    x = other->x;
    y = other->y;
}

void THPoint::SetScaled(const THPoint* other, float factor)
{
    // int32 times float is exact in a double, so only the final rounding matters.
    x = RoundHalfEven(double(other->x) * double(factor));
    y = RoundHalfEven(double(other->y) * double(factor));
}

void THPoint::MoveBy(int dx, int dy)
{
    x += dx;
    y += dy;
    for (THPoint* child : children)
        child->MoveBy(dx, dy);
}

void THPoint::MoveTo(int px, int py)
{
    const int dx = px - x, dy = py - y;
    x = px;
    y = py;
    for (THPoint* child : children)
        child->MoveBy(dx, dy);
}

void THPoint::KeepDragInside(int width, int height, int& mx, int& my) const
{
    int left = 0, top = 0, right = 0, bottom = 0;
    SubtreeExtent(this, this, left, top, right, bottom);
    int lowX = -left, highX = width - 1 - right, lowY = -top, highY = height - 1 - bottom;
    if (lowX > highX) {
        lowX = 0;
        highX = width - 1;
    }
    if (lowY > highY) {
        lowY = 0;
        highY = height - 1;
    }
    mx = std::clamp(mx, lowX, highX);
    my = std::clamp(my, lowY, highY);
}

void THPoint::MirrorX(int width)
{
    x = width - x;
    for (THPoint* child : children)
        child->MirrorX(width);
}

THPoint* THPoint::Draw(TImage* image, const TGraphic* marker, int photoWidth, int photoHeight, int viewWidth,
                       int viewHeight, int depth, int offsetX, int offsetY, int mouseX, int mouseY, bool highlight,
                       THPoint* grabbed)
{
    if (depth == 0)
        return nullptr;
    if (photoWidth <= 0 || photoHeight <= 0 || viewWidth <= 0 || viewHeight <= 0)
        return nullptr;

    // 8 view pixels expressed in photo pixels.
    const int r = RoundHalfEven(double(photoWidth) * 8.0 / double(viewWidth));
    const bool hit = x - r < mouseX && mouseX < x + r && y - r < mouseY && mouseY < y + r;
    TCanvas* canvas = image != nullptr ? image->Canvas() : nullptr;
    auto viewX = [&] { return RoundHalfEven(double(viewWidth) * double(x) / double(photoWidth)) + offsetX; };
    auto viewY = [&] { return RoundHalfEven(double(viewHeight) * double(y) / double(photoHeight)) + offsetY; };

    if (hit && highlight && (grabbed == nullptr || grabbed == this)) {
        if (canvas != nullptr) {
            const int vx = viewX(), vy = viewY();
            canvas->MoveTo(vx - 6, vy);
            canvas->LineTo(vx + 6, vy);
            canvas->MoveTo(vx, vy - 6);
            canvas->LineTo(vx, vy + 6);
        }
        highlight = false; // no cross below this point
    }
    if (grabbed == this)
        MoveBy(mouseX - x, mouseY - y);
    if (canvas != nullptr && marker != nullptr)
        canvas->Draw(viewX() - marker->Width() / 2, viewY() - marker->Height() / 2, marker);

    THPoint* childHit = nullptr;
    for (THPoint* child : children) {
        THPoint* h = child->Draw(image, marker, photoWidth, photoHeight, viewWidth, viewHeight, depth - 1, offsetX,
                                 offsetY, mouseX, mouseY, highlight, grabbed);
        if (childHit == nullptr)
            childHit = h;
    }
    return hit ? this : childHit;
}
