// The GL context layer on a real X server (Xvfb in CI) with Mesa: headless drawables, child windows
// of a given window, failures, and the capability check.
#include "platform/gl/GLContext.h"
#include "platform/gl/GLFunctions.h"

// GoogleTest before X11, whose headers define None and Bool as macros.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <array>
#include <cstdlib>

#include <cstring>

namespace {

// ---- The capability check, from the strings alone.

const char* const everything =
    "GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_ARB_shader_objects GL_ARB_vertex_shader "
    "GL_ARB_fragment_shader GL_EXT_framebuffer_object";

struct Capabilities {
    const char* version;
    const char* extensions;
    bool ok;
    const char* mentioned;  // a text the message must hold when not ok
};

class CapabilityCheck : public ::testing::TestWithParam<Capabilities> {};

TEST_P(CapabilityCheck, AcceptsOpenGL2WithEveryExtensionAndSaysWhatIsMissing)
{
    const Capabilities& c = GetParam();
    const std::string message = CheckGLCapabilities(c.version, c.extensions);
    if (c.ok) {
        EXPECT_EQ(message, "");
    } else {
        EXPECT_NE(message.find("OpenGL 2.0"), std::string::npos) << message;
        EXPECT_NE(message.find(c.mentioned), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CapabilityCheck,
    ::testing::Values(
        Capabilities{"2.0", everything, true, ""},
        Capabilities{"2.1 Mesa 7.0", everything, true, ""},
        Capabilities{"4.5 (Compatibility Profile) Mesa 22.3.6", everything, true, ""},
        Capabilities{"10.2", everything, true, ""},
        Capabilities{"1.5", everything, false, "offers OpenGL 1.5"},
        Capabilities{"1.99", everything, false, "1.99"},
        Capabilities{"", everything, false, "offers OpenGL"},
        Capabilities{"OpenGL ES 3.2 Mesa", everything, false, "OpenGL ES 3.2"},
        Capabilities{nullptr, everything, false, "unknown version"},
        Capabilities{"2.1", nullptr, false, "GL_EXT_framebuffer_object"},
        Capabilities{"2.1", "GL_ARB_multitexture GL_ARB_vertex_buffer_object GL_ARB_shader_objects "
                            "GL_ARB_vertex_shader GL_ARB_fragment_shader GL_ARB_framebuffer_object",
                     false, "lacks GL_EXT_framebuffer_object"},
        // A longer name that starts with a required one does not count.
        Capabilities{"2.1", "GL_ARB_multitexture_x GL_ARB_vertex_buffer_object GL_ARB_shader_objects "
                            "GL_ARB_vertex_shader GL_ARB_fragment_shader GL_EXT_framebuffer_object",
                     false, "lacks GL_ARB_multitexture"},
        Capabilities{"2.1", "GL_EXT_framebuffer_object GL_ARB_fragment_shader GL_ARB_vertex_shader "
                            "GL_ARB_shader_objects GL_ARB_vertex_buffer_object GL_ARB_multitexture",
                     true, ""}));

// ---- The layer on the X server.

struct Made {
    GLSurface* surface = nullptr;
    GLRenderContext* context = nullptr;
};

Made MakeCurrentContext(WindowHandle window, int width, int height)
{
    Made made;
    made.surface = glPlatform.GetSurface(window, width, height);
    if (made.surface == nullptr || !glPlatform.ChoosePixelFormat(made.surface) || !glPlatform.SetPixelFormat(made.surface))
        return made;
    made.context = glPlatform.CreateContext(made.surface);
    if (made.context != nullptr && !glPlatform.MakeCurrent(made.surface, made.context)) {
        glPlatform.DeleteContext(made.context);
        made.context = nullptr;
    }
    return made;
}

void Release(Made& made)
{
    glPlatform.MakeCurrent(nullptr, nullptr);
    glPlatform.DeleteContext(made.context);
    glPlatform.ReleaseSurface(made.surface);
    made = Made{};
}

// Clears to a colour and reads a pixel back from the back buffer.
std::array<unsigned char, 4> ClearAndRead(float r, float g, float b, int x, int y)
{
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    std::array<unsigned char, 4> pixel{};
    glReadBuffer(GL_BACK);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel.data());
    return pixel;
}

void ExpectDefaultFramebuffer()
{
    GLint framebuffer = -1, doubleBuffer = 0, depthBits = 0, redBits = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
    glGetIntegerv(GL_DOUBLEBUFFER, &doubleBuffer);
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    glGetIntegerv(GL_RED_BITS, &redBits);
    EXPECT_EQ(framebuffer, 0);
    EXPECT_TRUE(doubleBuffer);
    EXPECT_GE(depthBits, 24);
    EXPECT_EQ(redBits, 8);
    // A compatibility context: the fixed pipeline is there.
    EXPECT_EQ(CheckGLCapabilities(reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                                  reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS))),
              "");
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(GLContext, AHeadlessDrawableGivesTheDefaultFramebufferOfTheRequestedSize)
{
    Made made = MakeCurrentContext(0, 37, 23);
    ASSERT_NE(made.context, nullptr);
    ExpectDefaultFramebuffer();
    EXPECT_EQ(ClearAndRead(1, 0, 0, 36, 22), (std::array<unsigned char, 4>{255, 0, 0, 255}));
    EXPECT_EQ(glXGetCurrentContext() != nullptr, true);
    // The drawable is exactly 37 x 23.
    GLXDrawable drawable = glXGetCurrentDrawable();
    unsigned width = 0, height = 0;
    glXQueryDrawable(glXGetCurrentDisplay(), drawable, GLX_WIDTH, &width);
    glXQueryDrawable(glXGetCurrentDisplay(), drawable, GLX_HEIGHT, &height);
    EXPECT_EQ(width, 37u);
    EXPECT_EQ(height, 23u);
    // Nothing is shown headless: the presented frame stays in the back buffer, where it is read.
    glPlatform.SwapBuffers(made.surface);
    std::array<unsigned char, 4> back{};
    glReadBuffer(GL_BACK);
    glReadPixels(5, 5, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
    EXPECT_EQ(back, (std::array<unsigned char, 4>{255, 0, 0, 255}));
    Release(made);
    EXPECT_EQ(glXGetCurrentContext(), nullptr);
}

TEST(GLContext, EntryPointsAreFetchedForEveryName)
{
    Made made = MakeCurrentContext(0, 8, 8);
    ASSERT_NE(made.context, nullptr);
    glEntryPoints = GLEntryPoints{};
    LoadGLExtensions();
#define VULTARI_FILLED(name, result, params) EXPECT_NE(glEntryPoints.name, nullptr) << #name;
    VULTARI_GL_EXTENSION_TABLE(VULTARI_FILLED)
    VULTARI_GL_EXTENSION_EXTRAS(VULTARI_FILLED)
#undef VULTARI_FILLED
    // And they work: a buffer object made through the table.
    unsigned int buffer = 0;
    glEntryPoints.GenBuffersARB(1, &buffer);
    EXPECT_NE(buffer, 0u);
    glEntryPoints.DeleteBuffers(1, &buffer);
    Release(made);
}

class XWindow {
public:
    XWindow(int width, int height, bool map = true)
    {
        display = XOpenDisplay(nullptr);
        if (display == nullptr)
            return;
        window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, static_cast<unsigned>(width),
                                     static_cast<unsigned>(height), 0, 0, 0);
        XSelectInput(display, window, ButtonPressMask | PointerMotionMask);
        if (map)
            XMapWindow(display, window);
        XSync(display, False);
    }
    ~XWindow()
    {
        if (display != nullptr) {
            Destroy();
            XCloseDisplay(display);
        }
    }
    void Destroy()
    {
        if (window != 0)
            XDestroyWindow(display, window);
        window = 0;
        XSync(display, False);
    }
    XWindow(const XWindow&) = delete;
    XWindow& operator=(const XWindow&) = delete;

    std::vector<Window> Children() const
    {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        std::vector<Window> result;
        if (XQueryTree(display, window, &root, &parent, &children, &count)) {
            result.assign(children, children + count);
            XFree(children);
        }
        return result;
    }

    Display* display = nullptr;
    Window window = 0;
};

TEST(GLContext, AWindowGetsOneChildOfItsSizeThatTakesNoInputAndIsGoneAfterRelease)
{
    XWindow parent(80, 60);
    ASSERT_NE(parent.display, nullptr);
    Made made = MakeCurrentContext(parent.window, 80, 60);
    ASSERT_NE(made.context, nullptr);
    ExpectDefaultFramebuffer();
    EXPECT_EQ(ClearAndRead(0, 0, 1, 79, 59), (std::array<unsigned char, 4>{0, 0, 255, 255}));
    glPlatform.SwapBuffers(made.surface);

    const std::vector<Window> children = parent.Children();
    ASSERT_EQ(children.size(), 1u);
    XWindowAttributes attributes{};
    ASSERT_TRUE(XGetWindowAttributes(parent.display, children[0], &attributes));
    EXPECT_EQ(attributes.width, 80);
    EXPECT_EQ(attributes.height, 60);
    EXPECT_EQ(attributes.x, 0);
    EXPECT_EQ(attributes.y, 0);
    EXPECT_EQ(attributes.map_state, IsViewable);
    EXPECT_EQ(attributes.all_event_masks, 0L);      // mouse events go on to the parent
    EXPECT_EQ(attributes.do_not_propagate_mask, 0L);

    Release(made);
    EXPECT_TRUE(parent.Children().empty());
}

TEST(GLContext, AWindowThatDoesNotExistFailsWithoutEndingTheProcess)
{
    XWindow parent(10, 10);
    ASSERT_NE(parent.display, nullptr);
    const Window gone = parent.window;
    parent.Destroy();
    ::testing::internal::CaptureStderr();
    GLSurface* surface = glPlatform.GetSurface(gone, 10, 10);
    ASSERT_NE(surface, nullptr);
    EXPECT_TRUE(glPlatform.ChoosePixelFormat(surface));
    EXPECT_FALSE(glPlatform.SetPixelFormat(surface));
    GLRenderContext* context = glPlatform.CreateContext(surface);  // the configuration is still fine
    EXPECT_NE(context, nullptr);
    EXPECT_FALSE(glPlatform.MakeCurrent(surface, context));  // but there is nothing to draw into
    glPlatform.DeleteContext(context);
    glPlatform.ReleaseSurface(surface);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("child window"), std::string::npos) << errors;
}

TEST(GLContext, ReleasingAfterTheParentWindowIsGoneIsHarmless)
{
    XWindow parent(20, 20);
    ASSERT_NE(parent.display, nullptr);
    Made made = MakeCurrentContext(parent.window, 20, 20);
    ASSERT_NE(made.context, nullptr);
    parent.Destroy();  // takes our child window with it
    ::testing::internal::CaptureStderr();
    glClear(GL_COLOR_BUFFER_BIT);
    glPlatform.SwapBuffers(made.surface);  // the idle loop may draw once more
    glFinish();
    Release(made);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("ignored"), std::string::npos) << errors;
    SUCCEED();  // reaching this line is the test: Xlib's default handler would have ended the process
}

TEST(GLContext, NoDisplayOrNoPixelsGivesNoSurface)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(glPlatform.GetSurface(0, 0, 10), nullptr);
    EXPECT_EQ(glPlatform.GetSurface(0, 10, -1), nullptr);
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    setenv("DISPLAY", ":4711", 1);
    EXPECT_EQ(glPlatform.GetSurface(0, 10, 10), nullptr);
    if (display != nullptr)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("display"), std::string::npos) << errors;
    EXPECT_FALSE(glPlatform.ChoosePixelFormat(nullptr));
    EXPECT_FALSE(glPlatform.SetPixelFormat(nullptr));
    EXPECT_EQ(glPlatform.CreateContext(nullptr), nullptr);
    glPlatform.ReleaseSurface(nullptr);
}

TEST(GLContext, ErrorsOnOtherConnectionsStillReachTheHandlerThatWasThereBefore)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a fresh process: a handler set before the layer's first display, as the toolkit would.
    EXPECT_EXIT(
        {
            XSetErrorHandler([](Display*, XErrorEvent* event) -> int { std::_Exit(event->error_code == BadWindow ? 3 : 4); });
            Made made = MakeCurrentContext(0, 8, 8);
            if (made.context == nullptr)
                std::_Exit(5);
            XWindow other(4, 4);
            XDestroyWindow(other.display, 0x7ffffff0);  // no such window: BadWindow on that connection
            XSync(other.display, False);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(3), "");
}

TEST(GLContext, TwoContextsOneAfterTheOtherEachWork)
{
    for (int round = 0; round < 2; ++round) {
        Made made = MakeCurrentContext(0, 16, 16);
        ASSERT_NE(made.context, nullptr);
        EXPECT_EQ(ClearAndRead(0, 1, 0, 0, 0), (std::array<unsigned char, 4>{0, 255, 0, 255}));
        Release(made);
    }
}

}  // namespace
