#pragma once
// GL helpers the GL tests, the driver and the benchmarks share.
#include <GL/glew.h>

#include <opencv2/core.hpp>

// Under the address sanitizer the leak check runs at exit, after the GL driver was unloaded with
// its display: the driver's own leftovers then show up as leaks of an unknown module that no
// suppression can name. Keeping the driver loaded lets the suppressions for it apply.
void KeepGLDriverLoaded();

// The bound framebuffer's colour, width x height from the bottom-left corner, as BGR with the top
// row first.
cv::Mat ReadFramebuffer(int width, int height);

// A colour and depth target of its own size, bound with its viewport while it lives: photos may be
// larger than the window. Afterwards the previous framebuffer, viewport and buffers are back.
class TOffscreenTarget {
public:
    TOffscreenTarget(int width, int height);
    ~TOffscreenTarget();
    TOffscreenTarget(const TOffscreenTarget&) = delete;
    TOffscreenTarget& operator=(const TOffscreenTarget&) = delete;

private:
    GLint previous = 0;
    GLint viewport[4] = {};
    GLuint framebuffer = 0, colour = 0, depth = 0;
};
