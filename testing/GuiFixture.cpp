#include "testing/GuiFixture.h"

#include "app/Controls.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QGuiApplication>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <deque>
#include <unistd.h>

namespace fs = std::filesystem;

namespace gui {

namespace {
fs::path BuildFolder()
{
    // The tests live beside the program and its data tree.
    static const fs::path folder = fs::path(ProgramFolder()).parent_path();
    return folder;
}

void Mirror(const fs::path& from, const fs::path& to, bool copy)
{
    fs::create_directories(to);
    for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
        fs::path target = to / entry.path().filename();
        if (entry.is_directory())
            Mirror(entry.path(), target, copy || entry.path().filename() == "textures");
        else if (copy)
            fs::copy_file(entry.path(), target, fs::copy_options::overwrite_existing);
        else
            fs::create_symlink(entry.path(), target);
    }
}

std::deque<std::pair<std::string, bool>> answers;

// The name is checked and the button pressed again each second until the dialog closes: under the
// sanitizers on a loaded machine the dialog can still be loading the folder when the name is typed,
// or a completer popup that opened late eats the click. A dialog that never takes the name fails
// the test after 30 s instead of hanging it.
void PressUntilAccepted(QPointer<QFileDialog> open, const QString& typed, int tries)
{
    if (!open || !open->isVisible())
        return;
    if (tries == 30) {
        Messages().push_back("the file dialog did not accept the typed name");
        open->reject();
        return;
    }
    auto* edit = open->findChild<QLineEdit*>("fileNameEdit");
    auto* box = open->findChild<QDialogButtonBox*>("buttonBox");
    QPushButton* ok = nullptr;
    if (box)
        ok = box->button(QDialogButtonBox::Open) ? box->button(QDialogButtonBox::Open)
                                                 : box->button(QDialogButtonBox::Save);
    if (!edit || !ok) {
        Messages().push_back("the file dialog has no name field or no accept button");
        open->reject();
        return;
    }
    if (edit->text() != typed) {
        edit->clear();
        QTest::keyClicks(edit, typed);
    }
    if (QCompleter* completer = edit->completer())
        completer->popup()->hide();
    QTest::mouseClick(ok, Qt::LeftButton);
    QTimer::singleShot(1000, open, [open, typed, tries] { PressUntilAccepted(open, typed, tries + 1); });
}

// As a user would: go to the file's folder, type its name into the name field, press the button.
void TypeNameAndAccept(QFileDialog& dialog, const fs::path& file)
{
    dialog.setDirectory(QString::fromStdString(file.parent_path().string()));
    QTest::qWait(100);
    PressUntilAccepted(QPointer<QFileDialog>(&dialog), QString::fromStdString(file.filename().string()), 0);
}

int shown = 0;
}

fs::path MakeProgramFolder(const std::string& tag)
{
    fs::path build = BuildFolder();
    fs::path folder = fs::temp_directory_path() / ("vultari-gui-" + tag + "-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const char* tree : {"data", "haarcascades"})
        if (fs::exists(build / tree))
            Mirror(build / tree, folder / tree, false);
    if (fs::exists(build / "user_manual.pdf"))
        fs::create_symlink(build / "user_manual.pdf", folder / "user_manual.pdf");
    SetProgramFolder(folder.string());
    return folder;
}

void RemoveProgramFolder(const fs::path& folder)
{
    SetProgramFolder("");
    std::error_code ec;
    fs::remove_all(folder, ec);
}

std::vector<std::string>& Messages()
{
    static std::vector<std::string> texts;
    return texts;
}

void CaptureMessages()
{
    SetMessageSink([](const std::string& text) { Messages().push_back(text); });
}

void AnswerDialogs(std::vector<std::string> fileNames, bool typeName)
{
    answers.clear();
    shown = 0;
    for (std::string& name : fileNames)
        answers.emplace_back(std::move(name), typeName);
    TFileDialog::Responder = [](QFileDialog& dialog) {
        ++shown;
        if (answers.empty()) {
            dialog.reject();
            return;
        }
        auto [name, type] = answers.front();
        answers.pop_front();
        if (name.empty()) {
            dialog.reject();
        } else if (type) {
            TypeNameAndAccept(dialog, fs::path(name));
        } else {
            dialog.selectFile(QString::fromStdString(name));
            QMetaObject::invokeMethod(&dialog, "accept");
        }
    };
}

int DialogsShown() { return shown; }

std::string FrontPhoto()
{
    return std::string(VULTARI_DEPS_DIR) + "/facedetect/usr/share/doc/facedetect/examples/grace_hopper_512x512.jpg";
}

std::string SecondPhoto()
{
    return std::string(VULTARI_DEPS_DIR) + "/python3-skimage/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
}

std::string ThirdPhoto()
{
    return std::string(VULTARI_DEPS_DIR) + "/node-opencv/usr/share/doc/node-opencv/examples/files/mona.png";
}

namespace {
Display* XDisplay()
{
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

void Settle()
{
    if (Display* display = XDisplay())
        XSync(display, False);
    QTest::qWait(60);
}
}

void PointerTo(QWidget* widget, QPoint local)
{
    QPoint global = widget->mapToGlobal(local);
    Display* display = XDisplay();
    QVERIFY(display);
    XTestFakeMotionEvent(display, -1, global.x(), global.y(), CurrentTime);
    Settle();
}

void Button(int button, bool press)
{
    Display* display = XDisplay();
    QVERIFY(display);
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), press ? True : False, CurrentTime);
    Settle();
}

void WheelOver(QWidget* widget, QPoint local, int notches)
{
    PointerTo(widget, local);
    for (int i = 0; i < std::abs(notches); ++i) {
        Button(notches > 0 ? 4 : 5, true);
        Button(notches > 0 ? 4 : 5, false);
    }
}

bool IsBlank(const QImage& image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != 0xFFFFFFFFu)
                return false;
    return true;
}

}  // namespace gui
