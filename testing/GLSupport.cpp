#include "testing/GLSupport.h"

#include <dlfcn.h>

#include <opencv2/imgproc.hpp>

void KeepGLDriverLoaded()
{
#if defined(__SANITIZE_ADDRESS__)
    for (const char* driver : {"/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", "swrast_dri.so"})
        if (::dlopen(driver, RTLD_LAZY | RTLD_NODELETE) != nullptr)
            break;
#endif
}

cv::Mat ReadFramebuffer(int width, int height)
{
    cv::Mat rgba(height, width, CV_8UC4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data);
    cv::Mat bgr;
    cv::cvtColor(rgba, bgr, cv::COLOR_RGBA2BGR);
    cv::flip(bgr, bgr, 0);  // GL's first row is the bottom one
    return bgr;
}

TOffscreenTarget::TOffscreenTarget(int width, int height)
{
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &previous);
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGenFramebuffersEXT(1, &framebuffer);
    glGenRenderbuffersEXT(1, &colour);
    glGenRenderbuffersEXT(1, &depth);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, colour);
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_RGBA8, width, height);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depth);
    glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, width, height);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, colour);
    glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, depth);
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glReadBuffer(GL_COLOR_ATTACHMENT0_EXT);
    glViewport(0, 0, width, height);
}

TOffscreenTarget::~TOffscreenTarget()
{
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, static_cast<GLuint>(previous));
    const GLenum buffer = previous == 0 ? GL_BACK : GL_COLOR_ATTACHMENT0_EXT;
    glDrawBuffer(buffer);
    glReadBuffer(buffer);
    glDeleteFramebuffersEXT(1, &framebuffer);
    glDeleteRenderbuffersEXT(1, &colour);
    glDeleteRenderbuffersEXT(1, &depth);
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
}
