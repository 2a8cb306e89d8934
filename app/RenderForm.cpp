#include "app/RenderForm.h"

#include "app/Controls.h"
#include "app/UnitMain.h"
#include "core/Vultari.h"
#include "platform/base/Paths.h"
#include "platform/ini/Inifile.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>

TForm2* Form2 = nullptr;

namespace {
template <typename T>
T* Make(QWidget* parent, const char* name, const char* caption, int x, int y, int w = -1, int h = -1)
{
    auto* control = new T(caption, parent);
    control->setObjectName(name);
    control->move(x, y);
    control->adjustSize();
    if (w > 0)
        control->resize(w, h);
    return control;
}
}

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    Form2 = this;
    setObjectName("Form2");
    setWindowTitle("Render settings");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(ProgramFont(11));
    setFixedSize(408, 276);
    move(183, 150);

    GroupBox1 = Make<QGroupBox>(this, "GroupBox1", "Light settings", 8, 8, 185, 208);
    Label1 = Make<QLabel>(GroupBox1, "Label1", "Light movement speed", 9, 28);
    TrackBar1 = new QSlider(Qt::Horizontal, GroupBox1);
    TrackBar1->setObjectName("TrackBar1");
    TrackBar1->setGeometry(9, 44, 163, 18);
    TrackBar1->setRange(0, 20);
    TrackBar1->setTickPosition(QSlider::NoTicks);
    TrackBar1->setPageStep(4);
    Label2 = Make<QLabel>(GroupBox1, "Label2", "Shader", 9, 74);
    RadioButton1 = Make<QRadioButton>(GroupBox1, "RadioButton1", "None", 9, 95, 160, 17);
    RadioButton2 = Make<QRadioButton>(GroupBox1, "RadioButton2", "Phong", 9, 119, 160, 17);
    RadioButton3 = Make<QRadioButton>(GroupBox1, "RadioButton3", "Normal mapping", 9, 143, 160, 17);
    RadioButton4 = Make<QRadioButton>(GroupBox1, "RadioButton4", "Texture-space diffusion", 9, 168, 170, 17);

    GroupBox2 = Make<QGroupBox>(this, "GroupBox2", "Model", 207, 8, 185, 208);
    CheckBox1 = Make<QCheckBox>(GroupBox2, "CheckBox1", "Wireframe", 10, 28, 160, 17);
    CheckBox2 = Make<QCheckBox>(GroupBox2, "CheckBox2", "Enable textures", 10, 54, 160, 17);
    CheckBox3 = Make<QCheckBox>(GroupBox2, "CheckBox3", "Render hairs", 10, 81, 160, 17);

    Button1 = Make<QPushButton>(this, "Button1", "OK", 163, 233, 106, 32);
    Button1->setDefault(true);
    Button2 = Make<QPushButton>(this, "Button2", "Cancel", 281, 233, 111, 32);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });

    Guarded([this] { FormCreate(); });
}

TForm2::~TForm2()
{
    if (Form2 == this)
        Form2 = nullptr;
}

std::string TForm2::SettingsFileName() { return ProgramFolder() + "Vultari.ini"; }

int TForm2::ShaderType() const
{
    if (RadioButton4->isChecked())
        return 3;
    if (RadioButton3->isChecked())
        return 2;
    if (RadioButton2->isChecked())
        return 1;
    return 0;
}

void TForm2::FormCreate()
{
    LoadSettings();
    Apply();
}

void TForm2::Apply()
{
    if (Form1 && Form1->core)
        Form1->core->SetRenderSettings(ShaderType(), static_cast<float>(TrackBar1->value()), CheckBox2->isChecked(),
                                       CheckBox1->isChecked(), CheckBox3->isChecked());
}

void TForm2::Button1Click()
{
    Apply();
    SaveSettings();  // an unwritable file throws: the error shows and the dialog stays open
    accept();
}

void TForm2::Button2Click()
{
    LoadSettings();
    reject();
}

void TForm2::LoadSettings()
{
    TIniFile ini(SettingsFileName());
    int t = ini.ReadInteger("light_settings", "shader_type", 0);
    RadioButton1->setChecked(t != 1 && t != 2 && t != 3);
    RadioButton2->setChecked(t == 1);
    RadioButton3->setChecked(t == 2);
    RadioButton4->setChecked(t == 3);
    TrackBar1->setValue(ini.ReadInteger("light_settings", "light_speed", 0));  // kept within 0 to 20
    CheckBox2->setChecked(ini.ReadBool("model", "enable_textures", true));
    CheckBox1->setChecked(ini.ReadBool("model", "wireframe", false));
    CheckBox3->setChecked(ini.ReadBool("model", "render_hairs", true));
}

void TForm2::SaveSettings()
{
    TIniFile ini(SettingsFileName());
    ini.WriteInteger("light_settings", "shader_type", ShaderType());
    ini.WriteInteger("light_settings", "light_speed", TrackBar1->value());
    ini.WriteBool("model", "enable_textures", CheckBox2->isChecked());
    ini.WriteBool("model", "wireframe", CheckBox1->isChecked());
    ini.WriteBool("model", "render_hairs", CheckBox3->isChecked());
}
