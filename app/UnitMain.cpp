#include "app/UnitMain.h"

#include "app/AboutForm.h"
#include "app/RenderForm.h"
#include "core/Vultari.h"
#include "platform/base/Messages.h"
#include "platform/base/Paths.h"
#include "platform/xml/Xmldocument.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWheelEvent>

namespace {
// Marks a long step (photo load, reconstruction, export) as running for the handler's lifetime, so
// that input dispatched while its status text shows cannot start a second one inside it.
class LongStep {
public:
    explicit LongStep(bool& flag) : flag(flag) { flag = true; }
    ~LongStep() { flag = false; }
    LongStep(const LongStep&) = delete;
    LongStep& operator=(const LongStep&) = delete;

private:
    bool& flag;
};
}

TForm1* Form1 = nullptr;

namespace {
const char* StateText(int displayMode)
{
    switch (displayMode) {
    case 1: return "Edit front image points";
    case 2: return "Edit profile image points";
    case 3: return "Reconstructed 3D head model";
    default: return "Vultari";
    }
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption, int x, int y, int w, int h)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(x, y, w, h);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// A label sized to its text at (x, y).
QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption, int x, int y, const QFont& font)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setFont(font);
    label->move(x, y);
    label->adjustSize();
    return label;
}
}

TForm1::TForm1() : XMLDocument(std::make_unique<TXMLDocument>())
{
    Form1 = this;
    BuildComponents();
    BuildMenu();

    // The idle loop: a frame whenever the queue is empty, while the 3D view shows.
    IdleTimer = new QTimer(this);
    IdleTimer->setObjectName("IdleTimer");
    IdleTimer->setInterval(0);
    connect(IdleTimer, &QTimer::timeout, this, [this] { IdleLoop(); });
    IdleTimer->start();

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(25);
    connect(Timer1, &QTimer::timeout, this, [this] { Handle([this] { Timer1Timer(); }); });
    Timer1->start();

    Handle([this] { FormCreate(); });
    if (!core)
        DisableCoreCommands();
}

TForm1::~TForm1()
{
    FormClose();
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::BuildComponents()
{
    setWindowTitle("Vultari");
    setObjectName("Form1");
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(ProgramFont(11));
    move(10, 10);

    Client = new QWidget(this);
    Client->setObjectName("Client");
    Client->setFixedSize(994, 647);
    setCentralWidget(Client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);  // fixed single border

    PanelLeft = new QWidget(Client);
    PanelLeft->setObjectName("PanelLeft");
    PanelLeft->setGeometry(0, 0, 297, 647);

    QFont big = ProgramFont(40, true);
    Label1 = MakeLabel(PanelLeft, "Label1", "1.", 16, 5, big);
    Label2 = MakeLabel(PanelLeft, "Label2", "2.", 16, 252, big);
    Label3 = MakeLabel(PanelLeft, "Label3", "3.", 16, 567, big);
    for (QLabel* label : {Label1, Label2, Label3})
        label->resize(label->width(), 48);

    ButtonLoadFronImage = MakeButton(PanelLeft, "ButtonLoadFronImage", "Load front image...", 80, 18, 113, 34);
    ButtonEditFront = MakeButton(PanelLeft, "ButtonEditFront", "Edit points", 199, 18, 81, 34);
    ButtonEditFront->setEnabled(false);
    ImageFront = new TImageBox(PanelLeft, 80, 58, 200, 200);
    ImageFront->setObjectName("ImageFront");

    ButtonLoadProfileImage = MakeButton(PanelLeft, "ButtonLoadProfileImage", "Load profile image...", 80, 264, 113, 34);
    ButtonEditProfile = MakeButton(PanelLeft, "ButtonEditProfile", "Edit points", 199, 264, 81, 35);
    ButtonEditProfile->setEnabled(false);
    ImageProfile = new TImageBox(PanelLeft, 80, 305, 200, 200);
    ImageProfile->setObjectName("ImageProfile");

    RadioButtonLeftOriented = new QRadioButton("Left oriented", PanelLeft);
    RadioButtonLeftOriented->setObjectName("RadioButtonLeftOriented");
    RadioButtonLeftOriented->setGeometry(80, 514, 113, 17);
    RadioButtonLeftOriented->setChecked(true);
    RadioButtonLeftOriented->setEnabled(false);
    RadioButtonRightOriented = new QRadioButton("Right oriented", PanelLeft);
    RadioButtonRightOriented->setObjectName("RadioButtonRightOriented");
    RadioButtonRightOriented->setGeometry(194, 514, 113, 17);
    RadioButtonRightOriented->setEnabled(false);

    Button1 = MakeButton(PanelLeft, "Button1", "Reconstruct 3D head model", 80, 570, 200, 58);
    Button1->setEnabled(false);

    // The 3D panel carries the engine's GL child window; what must show above it (the status
    // line, the editor image) has native windows of its own, raised over the GL window.
    PanelMain = new TPanel(Client);
    PanelMain->setObjectName("PanelMain");
    PanelMain->setGeometry(297, 0, 697, 647);
    PanelMain->setAttribute(Qt::WA_NativeWindow);
    PanelMain->setAttribute(Qt::WA_DontCreateNativeAncestors, false);

    PanelInfo = new TPanel(PanelMain);
    PanelInfo->setObjectName("PanelInfo");
    PanelInfo->setGeometry(0, 0, 697, 34);
    PanelInfo->setAttribute(Qt::WA_NativeWindow);
    LabelInfo = MakeLabel(PanelInfo, "LabelInfo", "Vultari", 7, 8, ProgramFont(11));
    LabelInfo->resize(680, 15);

    ImageMain = new TImageBox(PanelMain, 0, 34, 697, 613);
    ImageMain->setObjectName("ImageMain");
    ImageMain->setAttribute(Qt::WA_NativeWindow);
    ImageMain->hide();

    // Clicks and mouse moves: every handler runs guarded.
    connect(ButtonLoadFronImage, &QPushButton::clicked, this, [this] { Handle([this] { ButtonLoadFronImageClick(); }); });
    connect(ButtonEditFront, &QPushButton::clicked, this, [this] { Handle([this] { ButtonEditFrontClick(); }); });
    connect(ButtonLoadProfileImage, &QPushButton::clicked, this, [this] { Handle([this] { ButtonLoadProfileImageClick(); }); });
    connect(ButtonEditProfile, &QPushButton::clicked, this, [this] { Handle([this] { ButtonEditProfileClick(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { Handle([this] { Button1Click(); }); });
    ImageFront->OnClick = [this] { Handle([this] { ButtonLoadFronImageClick(); }); };
    ImageProfile->OnClick = [this] { Handle([this] { ButtonLoadProfileImageClick(); }); };
    // A radio button's click runs when it becomes checked, by the user or by the code (as the
    // load handler relies on); clicking the one already checked does nothing.
    connect(RadioButtonLeftOriented, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Handle([this] { RadioButtonLeftOrientedClick(); });
    });
    connect(RadioButtonRightOriented, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            Handle([this] { RadioButtonRightOrientedClick(); });
    });
    ImageMain->OnMouseDown = [this](int x, int y) { Handle([=, this] { ImageMainMouseDown(x, y); }); };
    ImageMain->OnMouseMove = [this](int x, int y) { Handle([=, this] { ImageMainMouseMove(x, y); }); };
    ImageMain->OnMouseUp = [this](int x, int y) { Handle([=, this] { ImageMainMouseUp(x, y); }); };
    PanelMain->OnMouseDown = [this](int x, int y) { Handle([=, this] { PanelMainMouseDown(x, y); }); };
    PanelMain->OnMouseMove = [this](int x, int y) { Handle([=, this] { PanelMainMouseMove(x, y); }); };
    PanelMain->OnMouseUp = [this](int x, int y) { Handle([=, this] { PanelMainMouseUp(x, y); }); };

    OpenDialog.Title = "Open";
    ExportDialog.Title = "Save As";
    ExportDialog.Filter = "Collada Asset (*.dae)|*.dae";
}

void TForm1::BuildMenu()
{
    auto item = [this](QMenu* menu, const char* name, const char* caption, bool enabled, void (TForm1::*handler)()) {
        QAction* action = menu->addAction(caption);
        action->setObjectName(name);
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, [this, handler] { Handle([this, handler] { (this->*handler)(); }); });
        return action;
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu");
    Project1 = bar->addMenu("Reconstruction");
    Project1->setObjectName("Project1");
    Loadfrontimage1 = item(Project1, "Loadfrontimage1", "1. Load front image...", true, &TForm1::ButtonLoadFronImageClick);
    Loadprofileiamge1 = item(Project1, "Loadprofileiamge1", "2. Load profile iamge...", true, &TForm1::ButtonLoadProfileImageClick);
    Project1->addSeparator()->setObjectName("N2");
    Reconstruct1 = item(Project1, "Reconstruct1", "3. Reconstruct 3D head model", false, &TForm1::Button1Click);
    Showreconstructedmodel1 = item(Project1, "Showreconstructedmodel1", "Show reconstructed model", false,
                                   &TForm1::Showreconstructedmodel1Click);
    Project1->addSeparator()->setObjectName("N1");
    Exportreconstructed3Dheadmode1 = item(Project1, "Exportreconstructed3Dheadmode1", "Export model to Collada...", false,
                                          &TForm1::Exportreconstructed3Dheadmode1Click);
    Project1->addSeparator()->setObjectName("N3");
    Exit1 = item(Project1, "Exit1", "Exit", true, &TForm1::Exit1Click);

    Edit1 = bar->addMenu("Edit");
    Edit1->setObjectName("Edit1");
    Editfrontimagepoints1 = item(Edit1, "Editfrontimagepoints1", "Edit front image points", false, &TForm1::ButtonEditFrontClick);
    Editprofileimagepoints1 = item(Edit1, "Editprofileimagepoints1", "Edit profile image points", false,
                                   &TForm1::ButtonEditProfileClick);

    Render1 = bar->addMenu("Rendering");
    Render1->setObjectName("Render1");
    Rendersettings1 = item(Render1, "Rendersettings1", "Render settings...", true, &TForm1::Rendersettings1Click);

    Help1 = bar->addMenu("Help");
    Help1->setObjectName("Help1");
    Documentation1 = item(Help1, "Documentation1", "User manual", true, &TForm1::Documentation1Click);
    About1 = item(Help1, "About1", "About", true, &TForm1::About1Click);
}

void TForm1::Handle(const std::function<void()>& handler)
{
    ++handlerDepth;
    Guarded(handler);
    --handlerDepth;
    if (handlerDepth == 0 && closeRequested && !closed) {
        closeRequested = false;
        close();
    }
}

void TForm1::DisableCoreCommands()
{
    for (QWidget* w : std::initializer_list<QWidget*>{ButtonLoadFronImage, ButtonEditFront, ButtonLoadProfileImage,
                                                      ButtonEditProfile, RadioButtonLeftOriented,
                                                      RadioButtonRightOriented, Button1, ImageFront, ImageProfile})
        w->setEnabled(false);
    for (QAction* a : {Loadfrontimage1, Loadprofileiamge1, Reconstruct1, Showreconstructedmodel1,
                       Exportreconstructed3Dheadmode1, Editfrontimagepoints1, Editprofileimagepoints1})
        a->setEnabled(false);
}

void TForm1::SetStatus(const char* text)
{
    LabelInfo->setText(text);
}

void TForm1::FormCreate()
{
    // The pointer is stored only once the object is complete: message boxes shown while it is
    // built run the event loop, and the idle loop and the timer must find no core until then.
    TVultari* made = new TVultari(XMLDocument.get(), static_cast<WindowHandle>(PanelMain->winId()),
                                  PanelMain->width(), PanelMain->height());
    core = made;
    // The engine's GL window is now the panel's topmost child: bring the status line back over it.
    PanelInfo->raise();
    ImageMain->raise();
    for (TImageBox* box : {ImageFront, ImageProfile}) {
        TImage* image = box->Image();
        image->Canvas()->FillRect(image->ClientRect());
    }
}

void TForm1::FormClose()
{
    if (closed)
        return;
    closed = true;
    // A manual viewer still open keeps running; its end must not reach a closed window.
    for (QProcess* opener : findChildren<QProcess*>())
        opener->disconnect(this);
    // Nothing queued may reach the deleted object: the loops stop and the pointer is cleared first.
    if (IdleTimer)
        IdleTimer->stop();
    if (Timer1)
        Timer1->stop();
    TVultari* old = core;
    core = nullptr;
    Guarded([old] { delete old; });
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (handlerDepth > 0) {
        // A close that arrives inside a running handler waits for it: the core is still in use.
        closeRequested = true;
        event->ignore();
        return;
    }
    FormClose();
    if (Form2)
        Form2->hide();
    if (Form3)
        Form3->hide();
    // A menu still open goes with the window: without a window manager nothing else closes it.
    for (int i = 0; i < 16 && QApplication::activePopupWidget(); ++i)
        QApplication::activePopupWidget()->close();
    event->accept();
    if (OnClosed)
        OnClosed();
}

void TForm1::IdleLoop()
{
    // Pending messages processed after a status text carry no idle call.
    if (InPendingMessages() || !core)
        return;
    Handle([this] {
        if (core)
            core->RenderFrame();
    });
    // Back to back while the 3D view shows; otherwise a frame draws nothing, so poll gently.
    IdleTimer->setInterval(core && core->displayMode == 3 ? 0 : 25);
}

void TForm1::Timer1Timer()
{
    if (core)
        core->LightStep();
}

std::string TForm1::StartFileStep(const TFileDialog& dialog, const char* status, const char* emptyName)
{
    SetStatus(status);
    ProcessPendingMessages();
    if (dialog.FileName.empty()) {
        ShowMessage(emptyName);
        return {};
    }
    // The pending messages may have closed the window and taken the core with it.
    return core ? dialog.FileName : std::string();
}

void TForm1::ButtonLoadFronImageClick()
{
    if (!core || longStep)
        return;
    if (!OpenDialog.Execute(this)) {
        ShowState();
        return;
    }
    LongStep step(longStep);
    const std::string fileName = StartFileStep(OpenDialog, "Loading front image...", "Image loading error, please try it again.");
    if (fileName.empty())
        return;
    bool ok = core->LoadFrontImage(fileName);
    if (ok) {
        core->DrawThumbnail(ImageFront->Image(), 0);
        if (core->displayMode == 1)
            core->DrawEditView(ImageMain->Image(), 0, 0, 0, false, false);
    }
    // Editing follows the photo the recognizer holds: a failed reload keeps the previous one.
    ButtonEditFront->setEnabled(core->IsFrontLoaded());
    Editfrontimagepoints1->setEnabled(ButtonEditFront->isEnabled());
    Button1->setEnabled(core->IsFrontLoaded() && core->IsProfileLoaded());
    Reconstruct1->setEnabled(Button1->isEnabled());
    ShowState();
}

void TForm1::ButtonLoadProfileImageClick()
{
    if (!core || longStep)
        return;
    if (!OpenDialog.Execute(this)) {
        ShowState();
        return;
    }
    LongStep step(longStep);
    const std::string fileName = StartFileStep(OpenDialog, "Loading profile image...", "Image loading error, please try it again.");
    if (fileName.empty())
        return;
    bool ok = core->LoadProfileImage(fileName);
    if (ok) {
        core->loading = true;
        core->DrawThumbnail(ImageProfile->Image(), 1);
        if (core->displayMode == 2)
            core->DrawEditView(ImageMain->Image(), 1, 0, 0, false, false);
        RadioButtonRightOriented->setEnabled(true);
        RadioButtonLeftOriented->setEnabled(true);
        // Checking the other button runs its click, which mirrors only the points (loading is set).
        CheckRadio(core->GetProfileOrientation() == 1 ? RadioButtonRightOriented : RadioButtonLeftOriented);
        core->loading = false;
    }
    ButtonEditProfile->setEnabled(core->IsProfileLoaded());
    Editprofileimagepoints1->setEnabled(ButtonEditProfile->isEnabled());
    Button1->setEnabled(core->IsFrontLoaded() && core->IsProfileLoaded());
    Reconstruct1->setEnabled(Button1->isEnabled());
    ShowState();
}

void TForm1::CheckRadio(QRadioButton* button)
{
    // The toggled connection runs the click handler exactly when the state changes.
    button->setChecked(true);
}

void TForm1::ButtonEditFrontClick()
{
    if (!core)
        return;
    core->SetEditMode(ImageMain->Image(), 1);
    ImageMain->show();
    ImageMain->raise();
    ShowState();
}

void TForm1::ButtonEditProfileClick()
{
    if (!core)
        return;
    core->SetEditMode(ImageMain->Image(), 2);
    ImageMain->show();
    ImageMain->raise();
    ShowState();
}

void TForm1::ImageMainMouseDown(int x, int y)
{
    if (core)
        core->EditViewMouseDown(ImageMain->Image(), ImageFront->Image(), ImageProfile->Image(), x, y);
}

void TForm1::ImageMainMouseMove(int x, int y)
{
    if (core)
        core->EditViewMouseMove(ImageMain->Image(), ImageFront->Image(), ImageProfile->Image(), x, y);
}

void TForm1::ImageMainMouseUp(int x, int y)
{
    if (core)
        core->EditViewMouseUp(ImageMain->Image(), ImageFront->Image(), ImageProfile->Image(), x, y);
}

void TForm1::Button1Click()
{
    if (!core || longStep)
        return;
    LongStep step(longStep);
    SetStatus("Reconstructing 3D head model...");
    ProcessPendingMessages();
    if (!core)
        return;
    ImageMain->hide();
    core->Reconstruct();
    // A reconstruction that failed leaves the view as it was: the editor comes back with it.
    if (core->displayMode == 1 || core->displayMode == 2) {
        ImageMain->show();
        ImageMain->raise();
    }
    Showreconstructedmodel1->setEnabled(core->reconstructed);
    Exportreconstructed3Dheadmode1->setEnabled(core->reconstructed);
    ShowState();
}

void TForm1::PanelMainMouseDown(int x, int y)
{
    if (core)
        core->BeginRotate(x, y);
}

void TForm1::PanelMainMouseMove(int x, int y)
{
    if (core)
        core->Rotate(x, y);
}

void TForm1::PanelMainMouseUp(int, int)
{
    if (core)
        core->EndRotate();
}

void TForm1::FormMouseWheelDown()
{
    if (core)
        core->ZoomOut();
}

void TForm1::FormMouseWheelUp()
{
    if (core)
        core->ZoomIn();
}

void TForm1::wheelEvent(QWheelEvent* event)
{
    // One step per notch (120); finer wheels add up to a notch first.
    wheelRemainder += event->angleDelta().y();
    while (wheelRemainder >= 120) {
        wheelRemainder -= 120;
        Handle([this] { FormMouseWheelUp(); });
    }
    while (wheelRemainder <= -120) {
        wheelRemainder += 120;
        Handle([this] { FormMouseWheelDown(); });
    }
    event->ignore();  // not marked handled
}

void TForm1::RadioButtonLeftOrientedClick()
{
    if (core)
        core->SetProfileOrientation(ImageProfile->Image(), ImageMain->Image(), 0);
}

void TForm1::RadioButtonRightOrientedClick()
{
    if (core)
        core->SetProfileOrientation(ImageProfile->Image(), ImageMain->Image(), 1);
}

void TForm1::Rendersettings1Click()
{
    if (Form2)
        Form2->exec();
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::Showreconstructedmodel1Click()
{
    if (core && core->reconstructed) {
        ImageMain->hide();
        core->displayMode = 3;
    }
    ShowState();
}

void TForm1::Exportreconstructed3Dheadmode1Click()
{
    if (!core || longStep)
        return;
    if (!ExportDialog.Execute(this)) {
        ShowState();
        return;
    }
    LongStep step(longStep);
    const std::string fileName = StartFileStep(ExportDialog, "Exporting 3D head model...", "Writing file error, please try it again.");
    if (fileName.empty())
        return;
    core->ExportCollada(fileName);
    ShowState();
}

void TForm1::About1Click()
{
    if (Form3)
        Form3->exec();
}

void TForm1::ShowState()
{
    SetStatus(StateText(core ? core->displayMode : 0));
    ProcessPendingMessages();
}

namespace {
// xdg-open's exit code when it found no program for the file.
constexpr int kNoViewerFound = 3;
}

void TForm1::Documentation1Click()
{
    QString manual = QFile::decodeName(QByteArray::fromStdString(ProgramFolder() + "user_manual.pdf"));
    if (!QFile::exists(manual)) {
        ShowMessage("The user manual was not found: " + QFile::encodeName(manual).toStdString());
        return;
    }
    // Said only when no viewer could be started: the opener is missing, or it ends with 3, xdg-open's
    // "no method available". Once a viewer ran, how it ended (closed with an error, killed) is not
    // ours to report. The opener runs on its own, so a long-open viewer does not block the window.
    auto* opener = new QProcess(this);
    const std::string failure =
        "The user manual could not be opened: no program to show PDF files was found.\n"
        "Open it with a PDF viewer: " + QFile::encodeName(manual).toStdString();
    connect(opener, &QProcess::errorOccurred, this, [opener, failure](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            ShowException(failure);
            opener->deleteLater();
        }
    });
    connect(opener, &QProcess::finished, this, [opener, failure](int exitCode, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && exitCode == kNoViewerFound)
            ShowException(failure);
        opener->deleteLater();
    });
    opener->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    opener->start(QString::fromStdString(manualViewer), {manual});
}
