#pragma once
// The GL context layer: what the window system does for the engine. It stands in for the device
// context, the pixel format, context creation, making it current, buffer swapping and fetching
// entry points by name.
//
// A window is an X11 window id on the default display. For a real window the layer makes its own
// child window of it, of the same size, carrying the GL visual (double-buffered RGBA, 24-bit depth);
// the child selects no input, so mouse events reach the parent. WindowHandle 0 asks for a headless
// drawable of the given size (a GLX pbuffer, or an unmapped window when the server has no pbuffer
// configuration) with the same framebuffer-0 semantics. The context is a compatibility context.
//
// The operations are reached through `glPlatform`, a table of function pointers, so that tests can
// put a recording stand-in in its place. Each operation reports failure by its result and writes
// the reason to standard error; none of them shows a message or throws.
#include "platform/gl/GLFunctions.h"

using WindowHandle = unsigned long;

struct GLSurface;        // display connection, framebuffer configuration and drawable
struct GLRenderContext;  // one GL context on a surface's display

struct GLPlatform {
    // Opens the display and notes the window and size; null when there is no display.
    GLSurface* (*GetSurface)(WindowHandle window, int width, int height);
    // Picks a double-buffered RGBA configuration with a 24-bit depth buffer; false when none exists.
    bool (*ChoosePixelFormat)(GLSurface* surface);
    // Creates the drawable (the child window, or the headless pbuffer) with the chosen configuration.
    bool (*SetPixelFormat)(GLSurface* surface);
    GLRenderContext* (*CreateContext)(GLSurface* surface);
    // Both null releases the current context.
    bool (*MakeCurrent)(GLSurface* surface, GLRenderContext* context);
    // Presents the back buffer. Headless it only flushes: the frame stays readable in the back buffer.
    void (*SwapBuffers)(GLSurface* surface);
    void (*DeleteContext)(GLRenderContext* context);
    // Destroys the drawable and closes the display; accepts null.
    void (*ReleaseSurface)(GLSurface* surface);
    GLProc (*GetProcAddress)(const char* name);
};

extern GLPlatform glPlatform;

// The GLX implementation, for putting it back after a test replaced glPlatform.
GLPlatform GLXPlatform();
