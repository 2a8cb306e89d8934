#pragma once
// Start-up of the program: the application object, its title, the three windows in the order
// main window, render-settings dialog, about box, and the message loop.
#include <QApplication>

// The application object. No exception may cross Qt's event loop: one that a handler let through
// is caught here and shown, the way the handlers' own guard shows it.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the program's messages in modal message boxes captioned with the application title.
void InstallMessageBoxes();

// Creates Form1, Form2 and Form3 (in that order). Each create step runs while its window is
// made, so the core object exists before the settings dialog hands it the saved settings.
void CreateForms();
// Runs the message loop until the main window has closed; returns the loop's result.
int RunMessageLoop();
// Deletes the three windows (the core object goes with the main window's close step).
void DestroyForms();

// The whole program: returns 0.
int VultariMain(int argc, char** argv);
