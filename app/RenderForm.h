#pragma once
// The render-settings dialog: shader, light speed and three model switches, kept in the settings
// file "Vultari.ini" beside the program. Its controls hold the state between showings: "OK"
// hands them to the core object and saves them, "Cancel" reads the file back into them, and the
// close box leaves them as they are.
#include <QDialog>

#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

class TForm2 : public QDialog {
public:
    // Builds the dialog, then FormCreate: the saved settings reach the core object at once.
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label1 = nullptr;
    QSlider* TrackBar1 = nullptr;
    QLabel* Label2 = nullptr;
    QRadioButton *RadioButton1 = nullptr, *RadioButton2 = nullptr, *RadioButton3 = nullptr, *RadioButton4 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    void FormCreate();
    void Button1Click();  // "OK"
    void Button2Click();  // "Cancel"
    void LoadSettings();
    void SaveSettings();

    // The shader type the radio buttons show: 3, 2 or 1 for the last three, else 0.
    int ShaderType() const;
    // Where the settings live: the program's folder + "Vultari.ini".
    static std::string SettingsFileName();

private:
    // Hands the controls to the main window's core object; without one there is nothing to apply.
    void Apply();
};

extern TForm2* Form2;
