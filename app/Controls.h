#pragma once
// The few window controls the forms need beyond Qt's own: an image box that shows a TImage and
// reports the mouse, a plain panel that reports the mouse, file dialogs with a seam for the GUI
// tests, and the application-wide helpers (pending messages, fonts, error display).
#include "platform/image/Graphics.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class QFileDialog;

using MouseHandler = std::function<void(int x, int y)>;

// An image control: a fixed-size TImage whose canvas the core paints on; every change repaints.
// Mouse moves are reported with or without a button held.
class TImageBox : public QWidget {
public:
    TImageBox(QWidget* parent, int x, int y, int width, int height);

    TImage* Image() { return image.get(); }

    MouseHandler OnMouseDown, OnMouseMove, OnMouseUp;
    std::function<void()> OnClick;  // press and release of the left button inside the box

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    std::unique_ptr<TImage> image;
    bool pressed = false;
};

// A panel: a plain rectangle that takes the mouse itself (it does not pass clicks to its parent).
class TPanel : public QWidget {
public:
    explicit TPanel(QWidget* parent);

    MouseHandler OnMouseDown, OnMouseMove, OnMouseUp;

protected:
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
};

// Open and save dialogs. Execute runs the dialog modally and leaves the chosen name in FileName;
// false when the user cancels. Filter uses the "Description (*.ext)|*.ext" form.
// Tests replace the user with Responder, which gets the dialog's widget once it is shown.
class TFileDialog {
public:
    explicit TFileDialog(bool save) : save(save) {}
    bool Execute(QWidget* parent);

    std::string Filter;
    std::string FileName;
    std::string Title;

    // Called from within the running dialog; it accepts or rejects it (tests only).
    static std::function<void(QFileDialog&)> Responder;

private:
    bool save;
    QString folder;  // where the last chosen file was: the next showing starts there (the first
                     // showing starts in PhotoFolder())
};

// Where the first open or save dialog starts: the user's Pictures folder (as the desktop names it), or
// the home folder when there is none.
QString PhotoFolder();

// Runs the events that are waiting once, without user input and without an idle call, so a
// status text shows while a long step starts and no second command can begin inside it.
void ProcessPendingMessages();
bool InPendingMessages();

// "Tahoma" at the given pixel height where the font exists (or can be registered from the
// system's Wine fonts), otherwise a sans font of the same size.
QFont ProgramFont(int pixelHeight, bool bold = false);

// Shows an error that reached the top of a handler; never throws.
void ShowException(const std::string& message);

// Runs a window event handler: nothing it throws reaches the event loop; errors are shown.
void Guarded(const std::function<void()>& handler);

// The application title, used as the caption of message boxes.
extern const char* const ApplicationTitle;
