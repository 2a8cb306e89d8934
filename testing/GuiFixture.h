#pragma once
// What every GUI test of the program needs: a program folder of its own (the data tree of the
// build, with private copies of everything the program writes), captured messages, the three
// real windows with a real core object, and a way to answer the file dialogs.
#include <QFileDialog>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace gui {

// Mirrors build/bin's data tree into a fresh folder and makes it the program folder. Files are
// linked, except those the program writes (data/textures, Vultari.ini), which are copied or left out.
std::filesystem::path MakeProgramFolder(const std::string& tag);
void RemoveProgramFolder(const std::filesystem::path& folder);

// Every message the program shows, in order.
std::vector<std::string>& Messages();
void CaptureMessages();

// The next file dialogs are answered with these actions, in order; each empty name cancels.
// Counts how many dialogs were shown.
void AnswerDialogs(std::vector<std::string> fileNames, bool typeName = false);
int DialogsShown();

// Real photos unpacked by the set-up.
std::string FrontPhoto();    // grace_hopper_512x512.jpg
std::string SecondPhoto();   // astronaut.png
std::string ThirdPhoto();    // mona.png

// Real input through the X server (XTest), as a user's mouse makes it: it reaches the window
// that is really under the pointer, the engine's GL window included, and Qt sees it as
// spontaneous. Each call waits until Qt has handled it.
void PointerTo(QWidget* widget, QPoint local);
void Button(int button, bool press);  // 1 left, 4 wheel up, 5 wheel down
void WheelOver(QWidget* widget, QPoint local, int notches);  // > 0 up, < 0 down

// All white?
bool IsBlank(const QImage& image);

}  // namespace gui
