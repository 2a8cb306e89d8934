#include "app/Application.h"

#include "app/AboutForm.h"
#include "app/Controls.h"
#include "app/RenderForm.h"
#include "app/UnitMain.h"
#include "platform/base/Memory.h"
#include "platform/base/Messages.h"

#include <QMessageBox>

#include <clocale>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    // Qt set the C library's locale from the environment; numbers are always read the C way.
    std::setlocale(LC_NUMERIC, "C");
    setApplicationName(ApplicationTitle);
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

void InstallMessageBoxes()
{
    SetMessageSink([](const std::string& text) {
        QMessageBox box(QMessageBox::NoIcon, ApplicationTitle, QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok,
                        QApplication::activeWindow());
        box.setFont(ProgramFont(11));
        box.exec();
    });
}

void CreateForms()
{
    new TForm1;
    new TForm2;
    new TForm3;
}

int RunMessageLoop()
{
    // Qt ends its loop when the last window closes, but a window shown after that (a menu opened
    // by input still queued, for one) cancels it. The program ends with the main window's close step.
    if (!Form1 || Form1->Closed())
        return 0;
    Form1->OnClosed = [] { QCoreApplication::exit(0); };
    const int result = QApplication::exec();
    if (Form1)
        Form1->OnClosed = nullptr;
    return result;
}

void DestroyForms()
{
    delete Form3;
    delete Form2;
    delete Form1;
}

int VultariMain(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    // The window is laid out in pixels, and the engine's GL window must have exactly the 3D
    // panel's size: no scaling of logical pixels.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qunsetenv("QT_SCALE_FACTOR");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    // The 3D panel needs a native window; its siblings do not.
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    TApplication application(argc, argv);
    InstallMessageBoxes();
    Guarded([] {
        CreateForms();
        Form1->show();
        RunMessageLoop();
    });
    DestroyForms();
    SetMessageSink(nullptr);
    return 0;
}
