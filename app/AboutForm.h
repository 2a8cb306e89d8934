#pragma once
// The about box: the program's picture, name, author and web address, and "Close".
#include <QDialog>

class QLabel;
class QPushButton;

class TForm3 : public QDialog {
public:
    explicit TForm3(QWidget* parent = nullptr);
    ~TForm3() override;

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Button1 = nullptr;

    void Button1Click();
};

// The web address shown in the about box (and written into exported documents).
extern const char* const MakerAddress;

extern TForm3* Form3;
