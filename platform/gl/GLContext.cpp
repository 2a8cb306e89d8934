#include "platform/gl/GLContext.h"

#include <GL/glx.h>
#include <X11/Xlib.h>

#include <dlfcn.h>
#include <link.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

struct GLSurface {
    Display* display = nullptr;
    WindowHandle parent = 0;  // 0: headless
    int width = 0;
    int height = 0;
    GLXFBConfig config = nullptr;
    XVisualInfo* visual = nullptr;
    Colormap colormap = 0;
    Window window = 0;  // our child window, or the unmapped headless window
    GLXPbuffer pbuffer = 0;
    GLXDrawable drawable = 0;
};

struct GLRenderContext {
    Display* display = nullptr;
    GLXContext context = nullptr;
};

namespace {

// Xlib's default error handler ends the process. Errors on the layer's own display connections are
// caught instead: while the layer creates or destroys something it syncs to learn of them, and at
// any other time (a swap after the window was destroyed under it) they are reported once and
// ignored. Errors on other connections go on to the handler that was there before.
std::vector<Display*> ownDisplays;
XErrorHandler previousHandler = nullptr;
bool handlerInstalled = false;
bool trapping = false;
int trappedError = 0;
bool reportedStrayError = false;

int HandleError(Display* display, XErrorEvent* event)
{
    if (std::find(ownDisplays.begin(), ownDisplays.end(), display) == ownDisplays.end())
        return previousHandler != nullptr ? previousHandler(display, event) : 0;
    if (trapping) {
        if (trappedError == 0)
            trappedError = event->error_code;
    } else if (!reportedStrayError) {
        reportedStrayError = true;
        std::fprintf(stderr, "GL context: X error %d on the drawing surface ignored\n", event->error_code);
    }
    return 0;
}

Display* OpenOwnDisplay()
{
    // A busy server can refuse a connection for a moment (its accept queue full while many clients
    // start at once); a few short retries tell that apart from a display that is not there.
    Display* display = XOpenDisplay(nullptr);
    for (int attempt = 1; display == nullptr && attempt <= 5 && std::getenv("DISPLAY") != nullptr; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(40 * attempt));
        display = XOpenDisplay(nullptr);
    }
    if (display == nullptr)
        return nullptr;
    if (!handlerInstalled) {
        previousHandler = XSetErrorHandler(HandleError);
        handlerInstalled = true;
    }
    ownDisplays.push_back(display);
    return display;
}

void CloseOwnDisplay(Display* display)
{
    XSync(display, False);  // errors still on their way arrive while the display is known
    ownDisplays.erase(std::remove(ownDisplays.begin(), ownDisplays.end(), display), ownDisplays.end());
    XCloseDisplay(display);
}

class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display(display)
    {
        XSync(display, False);  // earlier errors are not this operation's
        trapping = true;
        trappedError = 0;
    }
    ~ErrorTrap() { trapping = false; }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server and returns the first error code since the trap was set (0 for none).
    int Sync()
    {
        XSync(display, False);
        return trappedError;
    }

private:
    Display* display;
};

void Report(const char* what, int errorCode = 0)
{
    if (errorCode != 0)
        std::fprintf(stderr, "GL context: %s (X error %d)\n", what, errorCode);
    else
        std::fprintf(stderr, "GL context: %s\n", what);
}

GLSurface* GetSurface(WindowHandle window, int width, int height)
{
    if (width <= 0 || height <= 0) {
        Report("the drawing area has no pixels");
        return nullptr;
    }
    Display* display = OpenOwnDisplay();
    if (display == nullptr) {
        Report("cannot open the X display (is DISPLAY set?)");
        return nullptr;
    }
    auto* surface = new GLSurface;
    surface->display = display;
    surface->parent = window;
    surface->width = width;
    surface->height = height;
    return surface;
}

GLXFBConfig FirstConfig(Display* display, int drawableType)
{
    const int attributes[] = {
        GLX_DRAWABLE_TYPE, drawableType, GLX_RENDER_TYPE, GLX_RGBA_BIT, GLX_DOUBLEBUFFER, True,
        GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 24, None,
    };
    int count = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), attributes, &count);
    GLXFBConfig config = nullptr;
    // The list starts with the deepest colours (10 bits a channel on some servers); 8 bits a
    // channel is what the program reads back and renders into, so look for it first.
    for (int pass = 0; pass < 2 && config == nullptr; ++pass) {
        for (int i = 0; i < count && config == nullptr; ++i) {
            int red = 0, green = 0, blue = 0;
            glXGetFBConfigAttrib(display, configs[i], GLX_RED_SIZE, &red);
            glXGetFBConfigAttrib(display, configs[i], GLX_GREEN_SIZE, &green);
            glXGetFBConfigAttrib(display, configs[i], GLX_BLUE_SIZE, &blue);
            if (pass == 0 && (red != 8 || green != 8 || blue != 8))
                continue;
            // A window needs a configuration with an X visual.
            if ((drawableType & GLX_WINDOW_BIT) == 0) {
                config = configs[i];
            } else if (XVisualInfo* visual = glXGetVisualFromFBConfig(display, configs[i])) {
                XFree(visual);
                config = configs[i];
            }
        }
    }
    if (configs != nullptr)
        XFree(configs);
    return config;
}

bool ChoosePixelFormat(GLSurface* surface)
{
    if (surface == nullptr)
        return false;
    int errorBase = 0, eventBase = 0, major = 0, minor = 0;
    if (!glXQueryExtension(surface->display, &errorBase, &eventBase) ||
        !glXQueryVersion(surface->display, &major, &minor) || major < 1 || (major == 1 && minor < 3)) {
        Report("the X server offers no GLX 1.3");
        return false;
    }
    if (surface->parent == 0)
        surface->config = FirstConfig(surface->display, GLX_PBUFFER_BIT);
    if (surface->config == nullptr)
        surface->config = FirstConfig(surface->display, GLX_WINDOW_BIT);
    if (surface->config == nullptr) {
        Report("no double-buffered RGBA configuration with a 24-bit depth buffer");
        return false;
    }
    return true;
}

bool CreateWindow(GLSurface* surface, Window parent, bool map)
{
    surface->visual = glXGetVisualFromFBConfig(surface->display, surface->config);
    if (surface->visual == nullptr)
        return false;
    ErrorTrap trap(surface->display);
    surface->colormap = XCreateColormap(surface->display, RootWindow(surface->display, surface->visual->screen),
                                        surface->visual->visual, AllocNone);
    XSetWindowAttributes attributes{};
    attributes.colormap = surface->colormap;
    attributes.border_pixel = 0;
    // The server fills what another window uncovers with black: before the first frame (and
    // whenever no frames are drawn) nobody else repaints it, and the last frame redraws it anyway.
    attributes.background_pixel = 0;
    attributes.event_mask = 0;  // no input selected: mouse and wheel events go on to the parent
    surface->window = XCreateWindow(surface->display, parent, 0, 0, static_cast<unsigned>(surface->width),
                                    static_cast<unsigned>(surface->height), 0, surface->visual->depth, InputOutput,
                                    surface->visual->visual, CWColormap | CWBorderPixel | CWBackPixel | CWEventMask,
                                    &attributes);
    if (map)
        XMapWindow(surface->display, surface->window);
    if (const int error = trap.Sync()) {
        Report(map ? "cannot create the child window of the drawing panel" : "cannot create the headless window", error);
        if (surface->window != 0 && error != BadWindow)
            XDestroyWindow(surface->display, surface->window);
        surface->window = 0;
        trap.Sync();
        return false;
    }
    surface->drawable = surface->window;
    return true;
}

bool SetPixelFormat(GLSurface* surface)
{
    if (surface == nullptr || surface->config == nullptr)
        return false;
    if (surface->parent != 0)
        return CreateWindow(surface, static_cast<Window>(surface->parent), true);

    int drawableType = 0;
    glXGetFBConfigAttrib(surface->display, surface->config, GLX_DRAWABLE_TYPE, &drawableType);
    if ((drawableType & GLX_PBUFFER_BIT) != 0) {
        const int attributes[] = {GLX_PBUFFER_WIDTH, surface->width, GLX_PBUFFER_HEIGHT, surface->height,
                                  GLX_PRESERVED_CONTENTS, True, None};
        ErrorTrap trap(surface->display);
        surface->pbuffer = glXCreatePbuffer(surface->display, surface->config, attributes);
        if (trap.Sync() == 0 && surface->pbuffer != 0) {
            surface->drawable = surface->pbuffer;
            return true;
        }
        surface->pbuffer = 0;
    }
    // No pbuffer: an unmapped window renders the same way (the back buffer is read, never shown).
    return CreateWindow(surface, DefaultRootWindow(surface->display), false);
}

// The driver that the first context loads stays loaded: Mesa unloads it when the display closes,
// and its LLVM back end is not made to be unloaded and loaded again in one process (nor can a leak
// checker name an unloaded module).
void KeepDriverLoaded()
{
    static bool kept = false;
    if (kept)
        return;
    kept = true;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            const char* path = info->dlpi_name;
            if (path == nullptr || *path == '\0')
                return 0;
            if (std::strstr(path, "/dri/") != nullptr || std::strstr(path, "libGLX_mesa") != nullptr ||
                std::strstr(path, "libgallium") != nullptr || std::strstr(path, "libLLVM") != nullptr) {
                if (void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE))
                    dlclose(handle);
            }
            return 0;
        },
        nullptr);
}

GLRenderContext* CreateContext(GLSurface* surface)
{
    if (surface == nullptr || surface->config == nullptr)
        return nullptr;
    ErrorTrap trap(surface->display);
    // The legacy creation call gives a compatibility context of the highest version the driver has.
    GLXContext context = glXCreateNewContext(surface->display, surface->config, GLX_RGBA_TYPE, nullptr, True);
    const int error = trap.Sync();
    if (context == nullptr || error != 0) {
        Report("cannot create the OpenGL context", error);
        if (context != nullptr)
            glXDestroyContext(surface->display, context);
        return nullptr;
    }
    KeepDriverLoaded();
    auto* result = new GLRenderContext;
    result->display = surface->display;
    result->context = context;
    return result;
}

bool MakeCurrent(GLSurface* surface, GLRenderContext* context)
{
    if (surface == nullptr || context == nullptr) {
        Display* display = glXGetCurrentDisplay();
        if (display != nullptr)
            glXMakeContextCurrent(display, None, None, nullptr);
        return surface == nullptr && context == nullptr;
    }
    if (surface->drawable == 0) {
        Report("there is no drawable to make the context current on");
        return false;
    }
    if (glXGetCurrentContext() == context->context && glXGetCurrentDrawable() == surface->drawable)
        return true;
    ErrorTrap trap(surface->display);
    const Bool made = glXMakeContextCurrent(surface->display, surface->drawable, surface->drawable, context->context);
    const int error = trap.Sync();
    if (!made || error != 0) {
        Report("cannot make the OpenGL context current", error);
        return false;
    }
    return true;
}

void SwapBuffers(GLSurface* surface)
{
    if (surface == nullptr || surface->drawable == 0)
        return;
    // Headless nothing is shown, and what a swap does to a pbuffer or an unmapped window is up to
    // the driver: the frame stays in the back buffer, where the caller reads it.
    if (surface->parent == 0)
        glFlush();
    else
        glXSwapBuffers(surface->display, surface->drawable);
}

void DeleteContext(GLRenderContext* context)
{
    if (context == nullptr)
        return;
    if (glXGetCurrentContext() == context->context)
        glXMakeContextCurrent(context->display, None, None, nullptr);
    glXDestroyContext(context->display, context->context);
    delete context;
}

void ReleaseSurface(GLSurface* surface)
{
    if (surface == nullptr)
        return;
    {
        // The parent may be gone already (its window closed first), taking our child with it.
        ErrorTrap trap(surface->display);
        if (surface->pbuffer != 0)
            glXDestroyPbuffer(surface->display, surface->pbuffer);
        if (surface->window != 0)
            XDestroyWindow(surface->display, surface->window);
        if (surface->colormap != 0)
            XFreeColormap(surface->display, surface->colormap);
        trap.Sync();
    }
    if (surface->visual != nullptr)
        XFree(surface->visual);
    CloseOwnDisplay(surface->display);
    delete surface;
}

GLProc GetProcAddress(const char* name)
{
    return glXGetProcAddressARB(reinterpret_cast<const GLubyte*>(name));
}

}  // namespace

GLPlatform GLXPlatform()
{
    return GLPlatform{GetSurface,   ChoosePixelFormat, SetPixelFormat, CreateContext, MakeCurrent,
                      SwapBuffers,  DeleteContext,     ReleaseSurface, GetProcAddress};
}

GLPlatform glPlatform = GLXPlatform();
