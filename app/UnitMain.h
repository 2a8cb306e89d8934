#pragma once
// The main window: the photo column with the three working steps on the left, the status line
// and the point editor or 3D view on the right, and the main menu. It owns the core object from
// its create step to its close step and forwards every command to it.
#include "app/Controls.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProcess;
class QPushButton;
class QRadioButton;
class QTimer;
class TVultari;
class TXMLDocument;

class TForm1 : public QMainWindow {
public:
    // Builds the window and its components, installs the idle loop, then runs FormCreate, which
    // builds the core object. An error while building it is shown; the window then works without
    // a core object (only Exit, the settings, the manual and the about box do anything).
    TForm1();
    ~TForm1() override;

    // --- components, as laid out in the fixed 994 x 647 client area --------------------------
    QWidget* Client = nullptr;
    QWidget* PanelLeft = nullptr;
    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr;
    QPushButton* ButtonLoadFronImage = nullptr;
    QPushButton* ButtonEditFront = nullptr;
    TImageBox* ImageFront = nullptr;
    QPushButton* ButtonLoadProfileImage = nullptr;
    QPushButton* ButtonEditProfile = nullptr;
    TImageBox* ImageProfile = nullptr;
    QRadioButton* RadioButtonLeftOriented = nullptr;
    QRadioButton* RadioButtonRightOriented = nullptr;
    QPushButton* Button1 = nullptr;
    TPanel* PanelMain = nullptr;   // native window; the engine's GL window is its child
    TPanel* PanelInfo = nullptr;   // native, kept above the GL window
    QLabel* LabelInfo = nullptr;
    TImageBox* ImageMain = nullptr;  // native, over the GL window while the editor shows
    TFileDialog OpenDialog{false};
    TFileDialog ExportDialog{true};
    std::unique_ptr<TXMLDocument> XMLDocument;
    QTimer* Timer1 = nullptr;
    QTimer* IdleTimer = nullptr;

    QMenu *Project1 = nullptr, *Edit1 = nullptr, *Render1 = nullptr, *Help1 = nullptr;
    QAction *Loadfrontimage1 = nullptr, *Loadprofileiamge1 = nullptr, *Reconstruct1 = nullptr,
            *Showreconstructedmodel1 = nullptr, *Exportreconstructed3Dheadmode1 = nullptr, *Exit1 = nullptr;
    QAction *Editfrontimagepoints1 = nullptr, *Editprofileimagepoints1 = nullptr;
    QAction* Rendersettings1 = nullptr;
    QAction *Documentation1 = nullptr, *About1 = nullptr;

    TVultari* core = nullptr;  // owned; null until FormCreate built it and after FormClose

    // The program that shows the manual; tests point it elsewhere.
    std::string manualViewer = "xdg-open";

    // --- handlers ------------------------------------------------------------------------------
    void FormCreate();
    void FormClose();
    void IdleLoop();
    void Timer1Timer();
    void ButtonLoadFronImageClick();
    void ButtonLoadProfileImageClick();
    void ButtonEditFrontClick();
    void ButtonEditProfileClick();
    void ImageMainMouseDown(int x, int y);
    void ImageMainMouseMove(int x, int y);
    void ImageMainMouseUp(int x, int y);
    void Button1Click();
    void PanelMainMouseDown(int x, int y);
    void PanelMainMouseMove(int x, int y);
    void PanelMainMouseUp(int x, int y);
    void FormMouseWheelDown();
    void FormMouseWheelUp();
    void RadioButtonLeftOrientedClick();
    void RadioButtonRightOrientedClick();
    void Rendersettings1Click();
    void Exit1Click();
    void Showreconstructedmodel1Click();
    void Exportreconstructed3Dheadmode1Click();
    void About1Click();
    void ShowState();
    void Documentation1Click();

    // True while a load, reconstruction or export runs; a second one does not start inside it.
    bool Busy() const { return longStep; }
    // True once the close step has run.
    bool Closed() const { return closed; }
    // Runs right after the close step (the message loop ends there).
    std::function<void()> OnClosed;

protected:
    void closeEvent(QCloseEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    void BuildComponents();
    void BuildMenu();
    // Runs one handler: errors shown, nothing thrown into the event loop, close requests that
    // arrive inside it carried out after it.
    void Handle(const std::function<void()>& handler);
    // Checks a radio button from code and runs its click handler when that changed its state.
    void CheckRadio(QRadioButton* button);
    void SetStatus(const char* text);
    // The shared start of a step that works on a chosen file: the status text shown, pending
    // messages run, then the chosen name; "" (after the message for an empty name) ends the step.
    std::string StartFileStep(const TFileDialog& dialog, const char* status, const char* emptyName);
    // Without a core object only the commands that do not need one stay enabled.
    void DisableCoreCommands();

    bool longStep = false;
    int handlerDepth = 0;
    bool closeRequested = false;
    bool closed = false;
    int wheelRemainder = 0;
};

extern TForm1* Form1;
