#include "recognition/Hierarchicaltree.h"

#include "platform/base/Numbers.h"

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
