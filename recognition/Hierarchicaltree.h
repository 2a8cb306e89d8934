#pragma once
// A named feature point on a photo and the points below it.
#include <string>
#include <vector>

#include <opencv2/core/types.hpp>

#include "platform/image/Graphics.h"

// One feature point: an integer pixel position in its photo (y runs down) and the points below it,
// which it owns. Moving a point with MoveTo or MoveBy moves its whole subtree.
class THPoint {
public:
    int x;                           // column in photo pixels
    int y;                           // row in photo pixels
    std::string name;                // display text only (the editor's label)
    THPoint* parent;                 // set by AddChild; not owned
    std::vector<THPoint*> children;  // in the order added; owned

    THPoint(const std::string& name, THPoint* parent, int x, int y);
    ~THPoint(); // deletes the subtree, children in list order
    THPoint(const THPoint&) = delete;
    THPoint& operator=(const THPoint&) = delete;

    // Appends `child` (taking ownership) and makes this point its parent; its position is kept.
    void AddChild(THPoint* child);
    // These three set this point only; the subtree stays where it is.
    void SetPosition(int x, int y);
    void CopyPosition(const THPoint* other);
    void SetScaled(const THPoint* other, float factor); // rounds halves to even
    // These move the whole subtree.
    void MoveBy(int dx, int dy);
    void MoveTo(int x, int y);
    void MirrorX(int width); // x := width - x
    // The editor's drag: the mouse position (photo pixels) clamped so that this point and everything
    // that moves with it stay inside a photo of that size; a subtree wider than the photo keeps at
    // least the point itself inside.
    void KeepDragInside(int width, int height, int& mouseX, int& mouseY) const;
    cv::Point GetPosition() const { return {x, y}; }

    // Draws the marker on this point and (depth - 1 levels of) its subtree, drags `grabbed` onto
    // the mouse, and returns the first point in pre-order that lies under the mouse, or null.
    // Photo sizes convert photo pixels to view pixels; the offset is added to every view position;
    // the mouse is in photo pixels. A negative depth draws the whole tree, 0 draws nothing.
    // Only the first hit whose highlight flag is still set gets a cross (with the current pen).
    // A null image draws nothing but still picks and drags; non-positive sizes do nothing at all.
    THPoint* Draw(TImage* image, const TGraphic* marker, int photoWidth, int photoHeight, int viewWidth,
                  int viewHeight, int depth, int offsetX, int offsetY, int mouseX, int mouseY, bool highlight,
                  THPoint* grabbed);
};
