// GUI tests of the main window, the render-settings dialog and the about box: the real windows
// under Xvfb with a real core object on the real data tree.
#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/Controls.h"
#include "app/RenderForm.h"
#include "app/UnitMain.h"
#include "collada/Colladaasset.h"
#include "core/Vultari.h"
#include "platform/base/Exception.h"
#include "platform/base/Paths.h"
#include "platform/ini/Inifile.h"
#include "platform/xml/Xmldocument.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"
#include "render/Colladaengine.h"
#include "testing/GuiFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <fstream>
#include <sstream>

#include <sys/stat.h>

namespace fs = std::filesystem;
using namespace gui;

namespace {
std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// What the enabling rules govern, in one comparable line.
struct Enabling {
    bool loadFront, editFront, loadProfile, editProfile, left, right, reconstruct;
    bool menuEditFront, menuEditProfile, menuReconstruct, menuShow, menuExport;
    bool operator==(const Enabling&) const = default;
};

Enabling Current()
{
    TForm1* f = Form1;
    return {f->ButtonLoadFronImage->isEnabled(), f->ButtonEditFront->isEnabled(), f->ButtonLoadProfileImage->isEnabled(),
            f->ButtonEditProfile->isEnabled(), f->RadioButtonLeftOriented->isEnabled(),
            f->RadioButtonRightOriented->isEnabled(), f->Button1->isEnabled(), f->Editfrontimagepoints1->isEnabled(),
            f->Editprofileimagepoints1->isEnabled(), f->Reconstruct1->isEnabled(), f->Showreconstructedmodel1->isEnabled(),
            f->Exportreconstructed3Dheadmode1->isEnabled()};
}

char* Describe(const Enabling& e)
{
    std::string s;
    for (bool b : {e.loadFront, e.editFront, e.loadProfile, e.editProfile, e.left, e.right, e.reconstruct,
                   e.menuEditFront, e.menuEditProfile, e.menuReconstruct, e.menuShow, e.menuExport})
        s += b ? '1' : '0';
    return qstrdup(s.c_str());
}

// Texts the status line shows while pending messages are processed during the next handler:
// the first pending-message pass after WatchStatus records the line once.
std::vector<std::string> statusSeen;
bool watching = false;
void StatusTick()
{
    if (!watching)
        return;
    if (InPendingMessages()) {
        statusSeen.push_back(Form1->LabelInfo->text().toStdString());
        watching = false;
        return;
    }
    QTimer::singleShot(0, StatusTick);
}
void WatchStatus()
{
    watching = true;
    QTimer::singleShot(0, StatusTick);
}

QImage Picture(TImageBox* box) { return box->Image()->Picture().Image().copy(); }

// What the X server shows of a widget: for the 3D panel, the frames the engine has swapped.
QImage OnScreen(QWidget* widget)
{
    QApplication::processEvents();
    const QPoint at = widget->mapToGlobal(QPoint(0, 0));
    return widget->screen()->grabWindow(0, at.x(), at.y(), widget->width(), widget->height()).toImage();
}

int LitPixels(const QImage& image)
{
    int lit = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            lit += qGray(image.pixel(x, y)) > 40 ? 1 : 0;
    return lit;
}

}  // namespace

namespace QTest {
template <>
char* toString(const Enabling& e)
{
    return Describe(e);
}
}

// Throws from its event handler: what the application object must catch and show.
class Thrower : public QObject {
public:
    int kind = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (kind == 0)
            throw Exception("Cannot open file \"x.bmp\".");
        if (kind == 1)
            throw std::runtime_error("bad thing");
        throw 42;
    }
};

class MainWindowTest : public QObject {
    Q_OBJECT

    fs::path folder;

    void Start()
    {
        CreateForms();
        Form1->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form1));
    }
    void LoadFront(const std::string& file)
    {
        AnswerDialogs({file});
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
    }
    void LoadProfile(const std::string& file)
    {
        AnswerDialogs({file});
        QTest::mouseClick(Form1->ButtonLoadProfileImage, Qt::LeftButton);
    }
    TColladaAsset* Model(int index) { return Form1->core->engine->models[static_cast<size_t>(index)]; }

private slots:
    void init()
    {
        folder = MakeProgramFolder(QTest::currentTestFunction());
        CaptureMessages();
        Messages().clear();
        statusSeen.clear();
        watching = false;
        TFileDialog::Responder = nullptr;
    }

    void cleanup()
    {
        DestroyForms();
        TFileDialog::Responder = nullptr;
        RemoveProgramFolder(folder);
    }

    // Every component where the fixed layout puts it, with its caption.
    void layoutAndCaptions()
    {
        Start();
        TForm1* f = Form1;
        QCOMPARE(f->windowTitle(), QString("Vultari"));
        QCOMPARE(f->Client->size(), QSize(994, 647));
        QVERIFY(f->minimumSize() == f->maximumSize());  // fixed border
        struct Place {
            QWidget* widget;
            QRect rect;
            const char* caption;
        };
        const Place places[] = {
            {f->PanelLeft, {0, 0, 297, 647}, nullptr},
            {f->ButtonLoadFronImage, {80, 18, 113, 34}, "Load front image..."},
            {f->ButtonEditFront, {199, 18, 81, 34}, "Edit points"},
            {f->ImageFront, {80, 58, 200, 200}, nullptr},
            {f->ButtonLoadProfileImage, {80, 264, 113, 34}, "Load profile image..."},
            {f->ButtonEditProfile, {199, 264, 81, 35}, "Edit points"},
            {f->ImageProfile, {80, 305, 200, 200}, nullptr},
            {f->RadioButtonLeftOriented, {80, 514, 113, 17}, "Left oriented"},
            {f->RadioButtonRightOriented, {194, 514, 113, 17}, "Right oriented"},
            {f->Button1, {80, 570, 200, 58}, "Reconstruct 3D head model"},
            {f->PanelMain, {297, 0, 697, 647}, nullptr},
            {f->PanelInfo, {0, 0, 697, 34}, nullptr},
            {f->ImageMain, {0, 34, 697, 613}, nullptr},
        };
        for (const Place& p : places) {
            QCOMPARE(p.widget->geometry(), p.rect);
            if (p.caption) {
                auto* button = qobject_cast<QAbstractButton*>(p.widget);
                QVERIFY(button);
                QCOMPARE(button->text(), QString(p.caption));
            }
        }
        QCOMPARE(f->Label1->text(), QString("1."));
        QCOMPARE(f->Label2->pos(), QPoint(16, 252));
        QCOMPARE(f->Label3->text(), QString("3."));
        QCOMPARE(f->LabelInfo->pos(), QPoint(7, 8));
        QCOMPARE(f->LabelInfo->text(), QString("Vultari"));
        QVERIFY(f->PanelMain->testAttribute(Qt::WA_NativeWindow));
        QCOMPARE(f->Timer1->interval(), 25);
        QVERIFY(f->Timer1->isActive());

        // The menus with their captions, separators in place.
        QStringList captions;
        for (QAction* menu : f->menuBar()->actions()) {
            captions << menu->text();
            for (QAction* item : menu->menu()->actions())
                captions << (item->isSeparator() ? QString("-") : "  " + item->text());
        }
        QCOMPARE(captions, QStringList({"Reconstruction", "  1. Load front image...", "  2. Load profile iamge...", "-",
                                        "  3. Reconstruct 3D head model", "  Show reconstructed model", "-",
                                        "  Export model to Collada...", "-", "  Exit", "Edit", "  Edit front image points",
                                        "  Edit profile image points", "Rendering", "  Render settings...", "Help",
                                        "  User manual", "  About"}));
        QCOMPARE(QString::fromStdString(f->ExportDialog.Filter), QString("Collada Asset (*.dae)|*.dae"));
        QVERIFY(f->OpenDialog.Filter.empty());

        // The core was given the panel's client size.
        QVERIFY(f->core);
        QCOMPARE(f->core->displayMode, 0);
        QVERIFY(IsBlank(Picture(f->ImageFront)));
        QVERIFY(IsBlank(Picture(f->ImageProfile)));
        QCOMPARE(f->ImageFront->Image()->Width(), 200);
        QCOMPARE(f->ImageMain->Image()->Height(), 613);
    }

    // The enabling table through the working steps, a failed reload of each photo included.
    void enablingThroughTheSteps()
    {
        Start();
        QVERIFY(Form1->RadioButtonLeftOriented->isChecked());
        std::string notAnImage = (folder / "notes.txt").string();
        WriteText(notAnImage, "not a photo");
        QImage frontThumbnail;
        struct Step {
            const char* what;
            std::function<void()> act;
            std::vector<std::string> messages;
            Enabling expected;
        };
        // Columns: load front, edit front, load profile, edit profile, left, right, reconstruct;
        // menu: edit front, edit profile, reconstruct, show, export.
        const Step steps[] = {
            {"at start", [] {}, {}, {true, false, true, false, false, false, false, false, false, false, false, false}},
            {"front loaded", [&] { LoadFront(FrontPhoto()); }, {},
             {true, true, true, false, false, false, false, true, false, false, false, false}},
            {"both loaded", [&] { LoadProfile(SecondPhoto()); }, {},
             {true, true, true, true, true, true, true, true, true, true, false, false}},
            // The recognizer keeps the photos it holds, so both can still be edited and reconstructed.
            {"front reload failed",
             [&] {
                 frontThumbnail = Picture(Form1->ImageFront);
                 LoadFront(notAnImage);
             },
             {"Error: Front image not loaded"},
             {true, true, true, true, true, true, true, true, true, true, false, false}},
            {"profile reload failed", [&] { LoadProfile(notAnImage); }, {"Error: Profile image not loaded"},
             {true, true, true, true, true, true, true, true, true, true, false, false}},
        };
        for (const Step& step : steps) {
            Messages().clear();
            step.act();
            QVERIFY2(Messages() == step.messages, step.what);
            const Enabling now = Current();
            if (!(now == step.expected))
                qInfo("after step \"%s\"", step.what);
            QCOMPARE(now, step.expected);
        }
        QVERIFY(!IsBlank(frontThumbnail));
        QCOMPARE(Form1->RadioButtonRightOriented->isChecked(), Form1->core->GetProfileOrientation() == 1);
        QVERIFY(!IsBlank(Picture(Form1->ImageProfile)));
        QCOMPARE(Picture(Form1->ImageFront), frontThumbnail);  // the failed reload kept the thumbnail
        QCOMPARE(Form1->LabelInfo->text(), QString("Vultari"));
    }

    // The "Edit points" commands follow the photo the recognizer holds: a failed reload keeps the
    // old photo, so its editing stays, like "Reconstruct".
    void enablingFollowsThePhotosHeld()
    {
        Start();
        const std::string notAnImage = (folder / "notes.txt").string();
        WriteText(notAnImage, "not a photo");
        const std::string pipe = (folder / "pipe.jpg").string();
        QCOMPARE(::mkfifo(pipe.c_str(), 0600), 0);
        struct Step {
            bool front;
            std::string file;
            const char* message;  // "" when the load works
            Enabling expected;
        };
        const Step steps[] = {
            {true, notAnImage, "Error: Front image not loaded",
             {true, false, true, false, false, false, false, false, false, false, false, false}},
            {true, FrontPhoto(), "", {true, true, true, false, false, false, false, true, false, false, false, false}},
            {false, notAnImage, "Error: Profile image not loaded",
             {true, true, true, false, false, false, false, true, false, false, false, false}},
            {false, SecondPhoto(), "", {true, true, true, true, true, true, true, true, true, true, false, false}},
            {true, notAnImage, "Error: Front image not loaded",
             {true, true, true, true, true, true, true, true, true, true, false, false}},
            {false, notAnImage, "Error: Profile image not loaded",
             {true, true, true, true, true, true, true, true, true, true, false, false}},
            // A pipe named like a photo is refused before it is opened: no wait for a writer.
            {true, pipe, "Error: Front image not loaded: the photo is not a regular file. The front photo loaded before stays.",
             {true, true, true, true, true, true, true, true, true, true, false, false}},
            {false, pipe,
             "Error: Profile image not loaded: the photo is not a regular file. The profile photo loaded before stays.",
             {true, true, true, true, true, true, true, true, true, true, false, false}},
        };
        for (const Step& step : steps) {
            Messages().clear();
            if (step.front)
                LoadFront(step.file);
            else
                LoadProfile(step.file);
            const std::vector<std::string> expectedMessages =
                *step.message ? std::vector<std::string>{step.message} : std::vector<std::string>{};
            QCOMPARE(Messages(), expectedMessages);
            QCOMPARE(Current(), step.expected);
        }
        // The kept photos can still be edited.
        QImage kept = Picture(Form1->ImageFront);
        QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        QCOMPARE(Form1->core->displayMode, 1);
        Form1->Editprofileimagepoints1->trigger();
        QCOMPARE(Form1->core->displayMode, 2);
        QVERIFY(!IsBlank(Picture(Form1->ImageMain)));
        QCOMPARE(Picture(Form1->ImageFront), kept);
        QVERIFY(Messages().size() == 1);  // only the last load's
    }

    // The first open and export dialogs start in the user's Pictures folder, or at home when there
    // is none; later ones where the last file was chosen.
    void openDialogStartsAmongThePhotos_data()
    {
        QTest::addColumn<QString>("userDirs");  // contents of ~/.config/user-dirs.dirs, "" for none
        QTest::addColumn<QString>("make");      // folder made under the home folder, "" for none
        QTest::addColumn<QString>("expected");  // under the home folder
        QTest::newRow("Pictures") << "" << "Pictures" << "Pictures";
        QTest::newRow("no Pictures") << "" << "" << "";
        QTest::newRow("named by the desktop") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n" << "Bilder" << "Bilder";
        QTest::newRow("named but absent") << "XDG_PICTURES_DIR=\"$HOME/Bilder\"\n" << "Pictures" << "";
    }

    void openDialogStartsAmongThePhotos()
    {
        QFETCH(QString, userDirs);
        QFETCH(QString, make);
        QFETCH(QString, expected);
        const fs::path home = folder / "home";
        fs::create_directories(home);
        if (!make.isEmpty())
            fs::create_directories(home / make.toStdString());
        if (!userDirs.isEmpty()) {
            fs::create_directories(home / ".config");
            WriteText(home / ".config" / "user-dirs.dirs", userDirs.toStdString());
        }
        // A home of its own for this case, the real one back afterwards.
        struct Home {
            QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
            explicit Home(const fs::path& to)
            {
                qputenv("HOME", QByteArray::fromStdString(to.string()));
                qunsetenv("XDG_CONFIG_HOME");
            }
            ~Home()
            {
                qputenv("HOME", home);
                if (!config.isNull())
                    qputenv("XDG_CONFIG_HOME", config);
            }
        } temporaryHome(home);
        const QString wanted = QDir::cleanPath(QString::fromStdString((home / expected.toStdString()).string()));
        QCOMPARE(QDir::cleanPath(PhotoFolder()), wanted);

        Start();
        QStringList shown;
        const std::string photo = (folder / "elsewhere" / "front.jpg").string();
        fs::create_directories(folder / "elsewhere");
        fs::copy_file(FrontPhoto(), photo);
        TFileDialog::Responder = [&](QFileDialog& dialog) {
            shown << QDir::cleanPath(dialog.directory().absolutePath());
            dialog.selectFile(QString::fromStdString(photo));
            QMetaObject::invokeMethod(&dialog, "accept");
        };
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
        QTest::mouseClick(Form1->ButtonLoadProfileImage, Qt::LeftButton);
        QCOMPARE(shown, QStringList({wanted, QString::fromStdString((folder / "elsewhere").string())}));

        // The export's dialog too: not where the photos were opened, and later where it last saved.
        shown.clear();
        const fs::path saved = folder / "saved";
        fs::create_directories(saved);
        TFileDialog::Responder = [&](QFileDialog& dialog) {
            shown << QDir::cleanPath(dialog.directory().absolutePath());
            if (shown.size() == 1) {
                dialog.selectFile(QString::fromStdString((saved / "head.dae").string()));
                QMetaObject::invokeMethod(&dialog, "accept");
            } else {
                dialog.reject();
            }
        };
        Form1->Exportreconstructed3Dheadmode1Click();
        Form1->Exportreconstructed3Dheadmode1Click();
        QCOMPARE(shown, QStringList({wanted, QString::fromStdString(saved.string())}));
    }

    // Cancelled dialogs change nothing but refresh the status line.
    void cancelledDialogsChangeNothing()
    {
        Start();
        LoadFront(FrontPhoto());
        QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        QCOMPARE(Form1->LabelInfo->text(), QString("Edit front image points"));
        Enabling before = Current();
        QImage thumbnail = Picture(Form1->ImageFront);
        QImage editor = Picture(Form1->ImageMain);
        int x = Form1->core->headAttributes->front[FrontPoint::LeftEyeCenter]->x;

        Form1->LabelInfo->setText("stale");
        AnswerDialogs({""});
        QTest::mouseClick(Form1->ButtonLoadProfileImage, Qt::LeftButton);
        QCOMPARE(DialogsShown(), 1);
        QCOMPARE(Form1->LabelInfo->text(), QString("Edit front image points"));
        AnswerDialogs({""});
        Form1->Loadfrontimage1->trigger();  // the menu item runs the same handler
        QCOMPARE(DialogsShown(), 1);
        AnswerDialogs({""});
        QTest::mouseClick(Form1->ImageFront, Qt::LeftButton);  // and so does a click on the thumbnail
        QCOMPARE(DialogsShown(), 1);

        QCOMPARE(Current(), before);
        QCOMPARE(Picture(Form1->ImageFront), thumbnail);
        QCOMPARE(Picture(Form1->ImageMain), editor);
        QCOMPARE(Form1->core->headAttributes->front[FrontPoint::LeftEyeCenter]->x, x);
        QCOMPARE(Form1->core->displayMode, 1);
        QVERIFY(Messages().empty());
    }

    // The texts of the status line, shown before each long step and after it.
    void statusTexts()
    {
        Start();
        AnswerDialogs({FrontPhoto()});
        WatchStatus();
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
        AnswerDialogs({SecondPhoto()});
        WatchStatus();
        QTest::mouseClick(Form1->ButtonLoadProfileImage, Qt::LeftButton);
        QCOMPARE(statusSeen, (std::vector<std::string>{"Loading front image...", "Loading profile image..."}));

        struct Step {
            QPushButton* button;
            const char* text;
            int mode;
        };
        const Step steps[] = {{Form1->ButtonEditProfile, "Edit profile image points", 2},
                              {Form1->ButtonEditFront, "Edit front image points", 1}};
        for (const Step& s : steps) {
            QTest::mouseClick(s.button, Qt::LeftButton);
            QCOMPARE(Form1->LabelInfo->text(), QString(s.text));
            QCOMPARE(Form1->core->displayMode, s.mode);
            QVERIFY(Form1->ImageMain->isVisible());
        }
        // "Show reconstructed model" before any reconstruction only refreshes the line.
        Form1->LabelInfo->setText("stale");
        Form1->Showreconstructedmodel1Click();
        QCOMPARE(Form1->LabelInfo->text(), QString("Edit front image points"));
        QVERIFY(Form1->ImageMain->isVisible());
    }

    // A second command that arrives while a long step runs does not start inside it.
    void noSecondCommandInsideALongStep()
    {
        Start();
        LoadFront(FrontPhoto());
        LoadProfile(SecondPhoto());
        QVERIFY(Form1->Button1->isEnabled());
        AnswerDialogs({FrontPhoto(), FrontPhoto()});
        int reconstructedInside = -1;
        // Runs inside the load's pending-message pass: a click on each long command.
        std::function<void()> poke = [&] {
            if (QApplication::activeModalWidget() || !InPendingMessages()) {
                QTimer::singleShot(0, poke);
                return;
            }
            QVERIFY(Form1->Busy());
            Form1->ButtonLoadFronImage->click();
            Form1->Button1->click();
            Form1->ImageFront->OnClick();
            reconstructedInside = Form1->core->reconstructed ? 1 : 0;
        };
        QTimer::singleShot(0, poke);
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
        QCOMPARE(reconstructedInside, 0);
        QCOMPARE(DialogsShown(), 1);  // no second dialog opened inside the first load
        QVERIFY(!Form1->Busy());
        QVERIFY(Messages().empty());
    }

    // Dragging a point in the editor moves it with the points below it and redraws the thumbnail.
    void editPointByMouseDrag()
    {
        Start();
        LoadFront(FrontPhoto());
        QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        TVultari* core = Form1->core;
        THPoint* eye = core->headAttributes->front[FrontPoint::LeftEyeCenter];  // left eye's centre, parent of four points
        QVERIFY(!eye->children.empty());
        const cv::Mat& photo = core->recognizer->frontImage;
        int ew = core->frontEditBitmap->Width(), eh = core->frontEditBitmap->Height();
        int x0 = (697 - ew) / 2, y0 = (613 - eh) / 2;
        double toView = double(ew) / photo.cols;
        QPoint at(x0 + int(std::lround(eye->x * toView)), y0 + int(std::lround(eye->y * double(eh) / photo.rows)));
        int ex = eye->x, ey = eye->y;
        std::vector<std::pair<int, int>> children;
        for (THPoint* c : eye->children)
            children.emplace_back(c->x, c->y);
        QImage thumbnail = Picture(Form1->ImageFront);

        QTest::mousePress(Form1->ImageMain, Qt::LeftButton, {}, at);
        QCOMPARE(core->grabbedPoint, eye);
        QTest::mouseMove(Form1->ImageMain, at + QPoint(15, 5));
        QTest::mouseMove(Form1->ImageMain, at + QPoint(30, 10));
        QTest::mouseRelease(Form1->ImageMain, Qt::LeftButton, {}, at + QPoint(30, 10));
        QVERIFY(core->grabbedPoint == nullptr);

        int dx = eye->x - ex, dy = eye->y - ey;
        QVERIFY2(std::abs(dx - 30 / toView) <= 2 && std::abs(dy - 10 / toView) <= 2,
                 qPrintable(QString("moved by %1, %2").arg(dx).arg(dy)));
        for (size_t i = 0; i < children.size(); ++i) {
            QCOMPARE(eye->children[i]->x - children[i].first, dx);
            QCOMPARE(eye->children[i]->y - children[i].second, dy);
        }
        QVERIFY(Picture(Form1->ImageFront) != thumbnail);

        // A move afterwards, with no point held, moves nothing.
        QTest::mouseMove(Form1->ImageMain, at + QPoint(60, 60));
        QCOMPARE(eye->x - ex, dx);
    }

    // The orientation buttons: a click mirrors the profile points; the one already checked does nothing.
    void orientationButtons()
    {
        Start();
        LoadProfile(SecondPhoto());
        TVultari* core = Form1->core;
        int width = core->recognizer->profileImage.cols;
        QRadioButton* checked = core->GetProfileOrientation() == 1 ? Form1->RadioButtonRightOriented : Form1->RadioButtonLeftOriented;
        QRadioButton* other = checked == Form1->RadioButtonLeftOriented ? Form1->RadioButtonRightOriented : Form1->RadioButtonLeftOriented;
        QVERIFY(checked->isChecked());
        int orientation = core->GetProfileOrientation();

        QTest::mouseClick(checked, Qt::LeftButton);  // already checked: no change
        QCOMPARE(core->GetProfileOrientation(), orientation);

        QTest::mouseClick(other, Qt::LeftButton);
        QCOMPARE(core->GetProfileOrientation(), 1 - orientation);
        QVERIFY(other->isChecked());
        QVERIFY(Messages().empty());
        QVERIFY(!core->loading);
        QVERIFY(width > 0);
    }

    // A right-facing profile (the mirror image of a left-facing one) checks "Right oriented" on
    // load; the load mirrors only the points and neither flips the photo again nor re-recognises it.
    void rightFacingProfileChecksRightOriented()
    {
        Start();
        LoadProfile(SecondPhoto());
        int first = Form1->core->GetProfileOrientation();
        cv::Mat stored = Form1->core->recognizer->profileImage.clone();
        cv::Mat flipped;
        cv::flip(cv::imread(SecondPhoto()), flipped, 1);
        std::string mirrored = (folder / "mirrored.png").string();
        QVERIFY(cv::imwrite(mirrored, flipped));
        LoadProfile(mirrored);
        int second = Form1->core->GetProfileOrientation();
        QCOMPARE(Form1->RadioButtonRightOriented->isChecked(), second == 1);
        QCOMPARE(Form1->RadioButtonLeftOriented->isChecked(), second == 0);
        QVERIFY(!Form1->core->loading);
        if (first == second)
            QSKIP("recognition did not tell the two facings apart on this photo");
        // Recognition keeps the stored photo left-facing: the mirrored photo is stored as the
        // original was, not flipped a second time by the radio button's click.
        cv::Mat now = Form1->core->recognizer->profileImage;
        QCOMPARE(now.size(), stored.size());
        QVERIFY(cv::norm(now, stored, cv::NORM_L1) / double(now.total()) < 8.0);
    }

    // A reconstruction that fails (here: no head width to measure) shows its message and leaves
    // the editor on screen as it was, with its status line.
    void failedReconstructionKeepsTheEditor()
    {
        Start();
        LoadFront(FrontPhoto());
        LoadProfile(SecondPhoto());
        QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        THPoint** front = Form1->core->headAttributes->front;
        front[FrontPoint::RightHead]->x = front[FrontPoint::LeftHead]->x;
        QTest::mouseClick(Form1->Button1, Qt::LeftButton);
        QCOMPARE(Messages().size(), size_t(1));
        QVERIFY(!Form1->core->reconstructed);
        QCOMPARE(Form1->core->displayMode, 1);
        QVERIFY(Form1->ImageMain->isVisible());
        QCOMPARE(Form1->LabelInfo->text(), QString("Edit front image points"));
        QVERIFY(!Form1->Showreconstructedmodel1->isEnabled());
        QVERIFY(!Form1->Exportreconstructed3Dheadmode1->isEnabled());
    }

    // A window closed over the 3D panel leaves nothing of itself there, in every display mode:
    // without a window manager or compositor, no one but the program repaints what it uncovers.
    void panelRepaintsWhenUncovered_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("no head yet") << 0;
        QTest::newRow("point editor") << 1;
        QTest::newRow("head shown") << 3;
    }

    void panelRepaintsWhenUncovered()
    {
        QFETCH(int, mode);
        Start();
        if (mode != 0) {
            LoadFront(FrontPhoto());
            LoadProfile(SecondPhoto());
        }
        if (mode == 1)
            QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        if (mode == 3)
            QTest::mouseClick(Form1->Button1, Qt::LeftButton);
        QCOMPARE(Form1->core->displayMode, mode);
        QTest::qWait(200);

        // A magenta window over the panel, below the status line, then closed.
        const QRect area(Form1->PanelMain->mapToGlobal(QPoint(100, 100)), QSize(300, 200));
        auto shoot = [&] {
            return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
        };
        const QImage before = shoot();
        QWidget cover(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        cover.setAttribute(Qt::WA_ShowWithoutActivating);
        QPalette palette;
        palette.setColor(QPalette::Window, QColor(255, 0, 255));
        cover.setPalette(palette);
        cover.setAutoFillBackground(true);
        cover.setGeometry(area);
        cover.show();
        QVERIFY(QTest::qWaitForWindowExposed(&cover));
        QTest::qWait(200);
        auto magentaShare = [&] {
            const QImage shot = shoot();
            int magenta = 0;
            for (int y = 0; y < shot.height(); ++y)
                for (int x = 0; x < shot.width(); ++x)
                    magenta += (shot.pixel(x, y) & 0xFFFFFF) == 0xFF00FF;
            return double(magenta) / (double(area.width()) * area.height());
        };
        QVERIFY2(magentaShare() > 0.9, "the covering window did not show");
        cover.hide();
        QTest::qWait(300);
        QCOMPARE(magentaShare(), 0.0);
        QCOMPARE(shoot(), before);  // as it was (black while no head is shown)
        if (mode == 0)
            QCOMPARE(before.pixel(150, 100) & 0xFFFFFF, 0u);
        QVERIFY(Messages().empty());
    }

    // Reconstruction, the 3D view and its mouse controls, settings, export: the whole road.
    void fullRun()
    {
        Start();
        // Photos chosen by typing their names into the real dialog.
        AnswerDialogs({FrontPhoto()}, true);
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
        AnswerDialogs({SecondPhoto()}, true);
        QTest::mouseClick(Form1->ButtonLoadProfileImage, Qt::LeftButton);
        QVERIFY2(Messages().empty(), Messages().empty() ? "" : Messages().front().c_str());
        QVERIFY(Form1->Button1->isEnabled());

        // Drag a point: the nose tip.
        QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        TVultari* core = Form1->core;
        THPoint* nose = core->headAttributes->front[FrontPoint::NoseTip];
        int ew = core->frontEditBitmap->Width(), eh = core->frontEditBitmap->Height();
        double toView = double(ew) / core->recognizer->frontImage.cols;
        QPoint at((697 - ew) / 2 + int(std::lround(nose->x * toView)), (613 - eh) / 2 + int(std::lround(nose->y * toView)));
        int nx = nose->x;
        PointerTo(Form1->ImageMain, at);  // the real mouse, through the X server
        Button(1, true);
        QCOMPARE(core->grabbedPoint, nose);
        PointerTo(Form1->ImageMain, at + QPoint(4, 0));
        Button(1, false);
        QVERIFY(core->grabbedPoint == nullptr);
        QVERIFY2(nose->x > nx, qPrintable(QString("%1 -> %2").arg(nx).arg(nose->x)));

        // Settings confirmed before any head exists reach the head the reconstruction builds.
        QTimer::singleShot(0, [] {
            Form2->RadioButton2->setChecked(true);
            Form2->CheckBox1->setChecked(true);
            QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        });
        Form1->Rendersettings1->trigger();
        QCOMPARE(core->shaderType, 1);

        WatchStatus();
        QTest::mouseClick(Form1->Button1, Qt::LeftButton);
        QCOMPARE(statusSeen, std::vector<std::string>{"Reconstructing 3D head model..."});
        QCOMPARE(Model(core->headModel)->shaderIndex, core->phongShader);
        QCOMPARE(Model(core->headModel)->polygonMode, 6913);
        QVERIFY2(Messages().empty(), Messages().empty() ? "" : Messages().front().c_str());
        QVERIFY(core->reconstructed);
        QCOMPARE(core->displayMode, 3);
        QCOMPARE(Form1->LabelInfo->text(), QString("Reconstructed 3D head model"));
        QVERIFY(!Form1->ImageMain->isVisible());
        QVERIFY(Form1->Showreconstructedmodel1->isEnabled());
        QVERIFY(Form1->Exportreconstructed3Dheadmode1->isEnabled());
        // The light speed starts at 0: ticks and frames run, the light holds still, and the
        // window shows the same picture twice.
        QTest::qWait(100);
        const float stillAngle = core->lightAngle;
        const QImage stillFirst = OnScreen(Form1->PanelMain);
        QTest::qWait(150);
        QCOMPARE(core->lightAngle, stillAngle);
        QVERIFY(LitPixels(stillFirst) > 1000);
        QCOMPARE(OnScreen(Form1->PanelMain), stillFirst);

        // Turn with the real mouse on the 3D panel, over the engine's GL window: 0.2 degrees a pixel.
        PointerTo(Form1->PanelMain, QPoint(100, 100));
        Button(1, true);
        QVERIFY(core->rotating);
        PointerTo(Form1->PanelMain, QPoint(110, 95));
        Button(1, false);
        QCOMPARE(core->yaw, 2.0f);
        QCOMPARE(core->pitch, -1.0f);
        QCOMPARE(Model(core->headModel)->rotate[2], 2.0f);
        QCOMPARE(Model(core->hairsModel)->rotate[0], -1.0f);
        QVERIFY(!core->rotating);

        // Zoom with the real wheel over the GL window: it reaches the main window.
        WheelOver(Form1->PanelMain, QPoint(300, 300), 1);
        QCOMPARE(Model(core->headModel)->scale[0], 1.1f);
        WheelOver(Form1->PanelMain, QPoint(300, 300), -2);
        QVERIFY(std::abs(Model(core->headModel)->scale[0] - 0.9f) < 1e-6f);
        // And over the left column too.
        WheelOver(Form1->PanelLeft, QPoint(40, 400), 1);
        QCOMPARE(Model(core->eyesModel)->scale[2], 1.0f);

        // Editing and back to the 3D view.
        QTest::mouseClick(Form1->ButtonEditProfile, Qt::LeftButton);
        QCOMPARE(core->displayMode, 2);
        Form1->Showreconstructedmodel1->trigger();
        QCOMPARE(core->displayMode, 3);
        QVERIFY(!Form1->ImageMain->isVisible());

        // Settings: texture-space diffusion, wireframe off, through the dialog.
        QTimer::singleShot(0, [] {
            Form2->RadioButton4->setChecked(true);
            Form2->CheckBox1->setChecked(false);
            Form2->TrackBar1->setValue(10);
            QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        });
        Form1->Rendersettings1->trigger();
        QCOMPARE(core->shaderType, 3);
        QCOMPARE(core->lightSpeed, 0.1f);
        QCOMPARE(Model(core->headModel)->polygonMode, 6914);
        QCOMPARE(Model(core->headModel)->shaderIndex, core->textureSpaceShader);

        // Speed 10 on the slider: each timer tick moves the light by 0.1 along its orbit, and the
        // frames that reach the window show the head lit from elsewhere.
        const float startAngle = core->lightAngle;
        const QImage startPicture = OnScreen(Form1->PanelMain);
        QTRY_VERIFY_WITH_TIMEOUT(core->lightAngle - startAngle > 0.35f, 5000);
        const float ticks = (core->lightAngle - startAngle) / 0.1f;
        QVERIFY2(std::abs(ticks - std::round(ticks)) < 1e-3f, qPrintable(QString::number(ticks)));
        QVERIFY(std::abs(core->lightPosition[0] - std::sin(core->lightAngle - 0.1f) * 30.0f) < 1e-3f);
        QTRY_VERIFY_WITH_TIMEOUT(OnScreen(Form1->PanelMain) != startPicture, 5000);
        QVERIFY(LitPixels(OnScreen(Form1->PanelMain)) > 1000);

        // Export under a name with another extension: written as .dae with its textures.
        fs::path out = folder / "export";
        fs::create_directories(out);
        AnswerDialogs({(out / "my head.obj").string()}, true);
        WatchStatus();
        Form1->Exportreconstructed3Dheadmode1->trigger();
        QCOMPARE(statusSeen, (std::vector<std::string>{"Reconstructing 3D head model...", "Exporting 3D head model..."}));
        QCOMPARE(Form1->LabelInfo->text(), QString("Reconstructed 3D head model"));
        fs::path document = out / "my head.dae";
        QVERIFY(fs::exists(document));
        for (const char* texture : {"headtexture.bmp", "normalmap.bmp", "eye.bmp"})
            QVERIFY2(fs::file_size(out / "textures" / ("my head-" + std::string(texture))) > 54, texture);
        std::string text = ReadText(document);
        QVERIFY(text.rfind("<?xml", 0) == 0);
        QVERIFY(text.size() > 10 && text.substr(text.size() - 10) == "</COLLADA>");
        TXMLDocument xml;
        xml.LoadFromFile(document.string());
        QCOMPARE(QString::fromStdString(xml.DocumentElement().NodeName()), QString("COLLADA"));
        // Another program reads it: assimp finds the three models' meshes.
        QProcess assimp;
        assimp.start("assimp", {"info", QString::fromStdString(document.string())});
        QVERIFY(assimp.waitForFinished(60000));
        QByteArray report = assimp.readAllStandardOutput();
        QVERIFY2(assimp.exitStatus() == QProcess::NormalExit && assimp.exitCode() == 0, report.constData());
        QVERIFY2(report.contains("Meshes:"), report.constData());
        QVERIFY(Messages().empty());
    }

    // Without a core object (a data file missing) the window opens, shows the error, and only the
    // commands that need no core object work.
    void withoutACoreObject()
    {
        fs::remove(folder / "data" / "textures" / "mark.bmp");
        Start();
        QVERIFY(Form1->core == nullptr);
        QCOMPARE(Messages().size(), size_t(1));
        QVERIFY2(Messages()[0].find("mark.bmp") != std::string::npos, Messages()[0].c_str());
        const Enabling none{false, false, false, false, false, false, false, false, false, false, false, false};
        QCOMPARE(Current(), none);
        QVERIFY(!Form1->Loadfrontimage1->isEnabled());
        QVERIFY(!Form1->Loadprofileiamge1->isEnabled());
        for (QAction* kept : {Form1->Exit1, Form1->Documentation1, Form1->About1, Form1->Rendersettings1})
            QVERIFY(kept->isEnabled());

        // Every handler is harmless when reached anyway.
        AnswerDialogs({FrontPhoto(), FrontPhoto(), FrontPhoto()});
        Form1->ButtonLoadFronImageClick();
        Form1->ButtonLoadProfileImageClick();
        Form1->ButtonEditFrontClick();
        Form1->ButtonEditProfileClick();
        Form1->Button1Click();
        Form1->Showreconstructedmodel1Click();
        Form1->Exportreconstructed3Dheadmode1Click();
        Form1->RadioButtonRightOrientedClick();
        Form1->ImageMainMouseDown(10, 10);
        Form1->PanelMainMouseMove(10, 10);
        Form1->FormMouseWheelUp();
        QCOMPARE(DialogsShown(), 0);
        QCOMPARE(Form1->LabelInfo->text(), QString("Vultari"));
        QTest::qWait(60);  // idle loop and light timer find no core

        // The settings dialog works and saves; there is nothing to apply.
        Form2->show();
        Form2->RadioButton3->setChecked(true);
        QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        QVERIFY(!Form2->isVisible());
        QCOMPARE(TIniFile((folder / "Vultari.ini").string()).ReadInteger("light_settings", "shader_type", 0), 2);
        QCOMPARE(Messages().size(), size_t(1));
    }

    // Closing deletes the core object; events still queued then find no core.
    void closeClearsTheCoreFirst()
    {
        Start();
        LoadFront(FrontPhoto());
        QTest::mouseClick(Form1->ButtonEditFront, Qt::LeftButton);
        QMouseEvent* press = new QMouseEvent(QEvent::MouseButtonPress, QPointF(300, 300), QPointF(300, 300),
                                             Form1->ImageMain->mapToGlobal(QPointF(300, 300)), Qt::LeftButton,
                                             Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::postEvent(Form1->ImageMain, press);
        Form1->Exit1->trigger();
        QVERIFY(Form1->core == nullptr);
        QVERIFY(!Form1->Timer1->isActive());
        QVERIFY(!Form1->IdleTimer->isActive());
        QVERIFY(!Form1->isVisible());
        QCoreApplication::processEvents();  // the queued press runs now
        Form1->Timer1Timer();
        Form1->IdleLoop();
        Form1->FormMouseWheelDown();
    }

    // The program ends after the main window's close step: Exit chosen while a step runs, with a
    // menu open around the close (without a window manager nothing else closes it).
    void closeWithAMenuOpenEndsTheLoop_data()
    {
        QTest::addColumn<int>("when");  // 0 inside the open dialog, 1 while reconstructing, 2 just after the close
        QTest::newRow("menu opened inside the open dialog") << 0;
        QTest::newRow("menu opened while reconstructing") << 1;
        QTest::newRow("menu opened just after the close") << 2;  // a shown window cancels Qt's own quit
    }

    void closeWithAMenuOpenEndsTheLoop()
    {
        QFETCH(int, when);
        Start();
        auto openMenu = [] {
            Form1->Project1->popup(Form1->menuBar()->mapToGlobal(QPoint(0, Form1->menuBar()->height())));
        };
        auto exitWithTheMenuOpen = [openMenu] {
            Form1->Exit1->trigger();
            QVERIFY(Form1->isVisible());  // the close waits for the step
            openMenu();
        };
        std::function<void()> poke;
        if (when == 0) {
            TFileDialog::Responder = [&](QFileDialog& dialog) {
                exitWithTheMenuOpen();
                dialog.reject();
            };
            QTimer::singleShot(0, [] { Form1->Loadfrontimage1->trigger(); });
        } else if (when == 1) {
            LoadFront(FrontPhoto());
            LoadProfile(SecondPhoto());
            QVERIFY(Form1->Reconstruct1->isEnabled());
            poke = [&] {
                if (!InPendingMessages()) {
                    QTimer::singleShot(0, poke);
                    return;
                }
                exitWithTheMenuOpen();
            };
            QTimer::singleShot(0, [&] {
                QTimer::singleShot(0, poke);
                Form1->Reconstruct1->trigger();
            });
        } else {
            QTimer::singleShot(0, [openMenu] {
                Form1->Exit1->trigger();
                QVERIFY(!Form1->isVisible());
                openMenu();
            });
        }
        bool timedOut = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        watchdog.start(15000);
        const int result = RunMessageLoop();
        QVERIFY2(!timedOut, "the message loop did not end after the main window closed");
        QCOMPARE(result, 0);
        QVERIFY(Form1->core == nullptr);
        QVERIFY(!Form1->isVisible());
        if (when != 2)
            QVERIFY(!Form1->Project1->isVisible());  // the menu went with the window
        QVERIFY(Messages().empty());
    }

    // A name with quotation marks is taken as typed in both dialogs; Qt's own dialog would read
    // it as a list of names and hand back another file in another folder.
    void quotesInANameAreTakenLiterally_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("typed");  // typed into the name field, or chosen by the dialog's API
        QTest::newRow("a\"b typed") << "a\"b.dae" << true;
        QTest::newRow("quoted typed") << "\"head\".dae" << true;
        QTest::newRow("two quotes chosen") << "x\"y\"z.dae" << false;
        QTest::newRow("plain typed") << "plain head.dae" << true;
    }

    void quotesInANameAreTakenLiterally()
    {
        QFETCH(QString, name);
        QFETCH(bool, typed);
        Start();
        fs::path sub = folder / "out";
        fs::create_directories(sub);
        const std::string wanted = (sub / name.toStdString()).string();
        AnswerDialogs({wanted}, typed);
        QVERIFY(Form1->ExportDialog.Execute(Form1));
        QCOMPARE(QString::fromStdString(Form1->ExportDialog.FileName), QString::fromStdString(wanted));

        // The open dialog loads the photo of that very name.
        const std::string photo = (sub / (name.toStdString() + ".jpg")).string();
        fs::copy_file(FrontPhoto(), photo);
        AnswerDialogs({photo}, typed);
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
        QVERIFY2(Messages().empty(), Messages().empty() ? "" : Messages().front().c_str());
        QCOMPARE(QString::fromStdString(Form1->OpenDialog.FileName), QString::fromStdString(photo));
        QVERIFY(Form1->ButtonEditFront->isEnabled());
    }

    // A close that arrives inside a running handler waits until the handler is done.
    void closeInsideAHandlerWaits()
    {
        Start();
        TFileDialog::Responder = [](QFileDialog& dialog) {
            Form1->close();  // the core is still in use by the load
            QVERIFY(Form1->core != nullptr);
            dialog.selectFile(QString::fromStdString(FrontPhoto()));
            QMetaObject::invokeMethod(&dialog, "accept");
        };
        QTest::mouseClick(Form1->ButtonLoadFronImage, Qt::LeftButton);
        QVERIFY(Form1->core == nullptr);
        QVERIFY(!Form1->isVisible());
    }

    // The settings dialog's file cases.
    void settingsWithoutAFile()
    {
        new TForm1;
        TVultari* core = Form1->core;
        QVERIFY(core);
        core->SetRenderSettings(2, 7.0f, false, true, false);  // anything but the defaults
        new TForm2;
        new TForm3;
        QVERIFY(Form2->RadioButton1->isChecked());
        QVERIFY(!Form2->RadioButton2->isChecked() && !Form2->RadioButton3->isChecked() && !Form2->RadioButton4->isChecked());
        QCOMPARE(Form2->TrackBar1->value(), 0);
        QVERIFY(Form2->CheckBox2->isChecked());
        QVERIFY(!Form2->CheckBox1->isChecked());
        QVERIFY(Form2->CheckBox3->isChecked());
        QCOMPARE(core->shaderType, 0);
        QCOMPARE(core->lightSpeed, 0.0f);
        QVERIFY(core->enableTextures && !core->wireframe && core->renderHairs);
        QVERIFY(!fs::exists(folder / "Vultari.ini"));  // reading creates no file
    }

    void settingsFileCases_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("radio");     // which radio button shows
        QTest::addColumn<int>("speed");     // track bar
        QTest::addColumn<bool>("textures");
        QTest::addColumn<bool>("wireframe");
        QTest::addColumn<bool>("hairs");
        QTest::addColumn<float>("coreSpeed");
        QTest::addColumn<QString>("savedByOk");
        QTest::newRow("shader 7 selects None") << "[light_settings]\nshader_type=7\n" << 0 << 0 << true << false << true
                                               << 0.0f
                                               << "[light_settings]\nshader_type=0\nlight_speed=0\n[model]\n"
                                                  "enable_textures=1\nwireframe=0\nrender_hairs=1\n";
        QTest::newRow("speed 35 is 20") << "[light_settings]\nshader_type=2\nlight_speed=35\n" << 2 << 20 << true << false
                                        << true << 0.2f
                                        << "[light_settings]\nshader_type=2\nlight_speed=20\n[model]\n"
                                           "enable_textures=1\nwireframe=0\nrender_hairs=1\n";
        QTest::newRow("all set") << "[model]\nrender_hairs=0\nwireframe=1\nenable_textures=0\n[light_settings]\n"
                                    "light_speed=12\nshader_type=3\n"
                                 << 3 << 12 << false << true << false << 0.12f
                                 << "[model]\nrender_hairs=0\nwireframe=1\nenable_textures=0\n[light_settings]\n"
                                    "light_speed=12\nshader_type=3\n";
        QTest::newRow("not numbers") << "[light_settings]\nshader_type=x\nlight_speed=fast\n[model]\nwireframe=yes\n"
                                     << 0 << 0 << true << false << true << 0.0f
                                     << "[light_settings]\nshader_type=0\nlight_speed=0\n[model]\nwireframe=0\n"
                                        "enable_textures=1\nrender_hairs=1\n";
    }

    void settingsFileCases()
    {
        QFETCH(QString, file);
        QFETCH(int, radio);
        QFETCH(int, speed);
        QFETCH(bool, textures);
        QFETCH(bool, wireframe);
        QFETCH(bool, hairs);
        QFETCH(float, coreSpeed);
        QFETCH(QString, savedByOk);
        fs::path ini = folder / "Vultari.ini";
        WriteText(ini, file.toStdString());
        Start();
        QRadioButton* radios[] = {Form2->RadioButton1, Form2->RadioButton2, Form2->RadioButton3, Form2->RadioButton4};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(radios[i]->isChecked(), i == radio);
        QCOMPARE(Form2->TrackBar1->value(), speed);
        QCOMPARE(Form2->CheckBox2->isChecked(), textures);
        QCOMPARE(Form2->CheckBox1->isChecked(), wireframe);
        QCOMPARE(Form2->CheckBox3->isChecked(), hairs);
        TVultari* core = Form1->core;
        QCOMPARE(core->shaderType, radio);
        QCOMPARE(core->lightSpeed, coreSpeed);
        QCOMPARE(core->enableTextures, textures);
        QCOMPARE(core->wireframe, wireframe);
        QCOMPARE(core->renderHairs, hairs);
        QCOMPARE(QString::fromStdString(ReadText(ini)), file);  // start-up does not write

        QTimer::singleShot(0, [] { QTest::mouseClick(Form2->Button1, Qt::LeftButton); });
        Form1->Rendersettings1->trigger();
        QCOMPARE(QString::fromStdString(ReadText(ini)), savedByOk);
    }

    void settingsOkCancelAndCloseBox()
    {
        fs::path ini = folder / "Vultari.ini";
        const std::string saved = "[light_settings]\nshader_type=2\nlight_speed=5\n[model]\nenable_textures=1\nwireframe=0\nrender_hairs=1\n";
        WriteText(ini, saved);
        Start();
        TVultari* core = Form1->core;

        // Cancel after changes: the file's values come back; the core is not touched.
        core->shaderType = 9;
        QTimer::singleShot(0, [] {
            Form2->RadioButton4->setChecked(true);
            Form2->TrackBar1->setValue(17);
            Form2->CheckBox1->setChecked(true);
            QTest::mouseClick(Form2->Button2, Qt::LeftButton);
        });
        Form1->Rendersettings1->trigger();
        QVERIFY(Form2->RadioButton3->isChecked());
        QCOMPARE(Form2->TrackBar1->value(), 5);
        QVERIFY(!Form2->CheckBox1->isChecked());
        QCOMPARE(core->shaderType, 9);
        QCOMPARE(ReadText(ini), saved);

        // The close box: the controls stay as the user left them, neither applied nor saved.
        QTimer::singleShot(0, [] {
            Form2->RadioButton2->setChecked(true);
            Form2->TrackBar1->setValue(3);
            Form2->close();
        });
        Form1->Rendersettings1->trigger();
        QVERIFY(Form2->RadioButton2->isChecked());
        QCOMPARE(Form2->TrackBar1->value(), 3);
        QCOMPARE(core->shaderType, 9);
        QCOMPARE(ReadText(ini), saved);

        // OK with texture-space diffusion: applied, then saved.
        QTimer::singleShot(0, [] {
            Form2->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Form2));
            QTest::mouseClick(Form2->RadioButton4, Qt::LeftButton);  // the focus leaves the push buttons
            QCOMPARE(QApplication::focusWidget(), Form2->RadioButton4);
            QTest::keyClick(Form2->RadioButton4, Qt::Key_Return);    // so Enter presses the default button, OK
        });
        Form1->Rendersettings1->trigger();
        QVERIFY(!Form2->isVisible());
        QCOMPARE(core->shaderType, 3);
        QCOMPARE(core->lightSpeed, 0.03f);
        QCOMPARE(TIniFile(ini.string()).ReadInteger("light_settings", "shader_type", 0), 3);
        QCOMPARE(TIniFile(ini.string()).ReadInteger("light_settings", "light_speed", 0), 3);
        QVERIFY(Messages().empty());
    }

    // "OK" with a settings file that cannot be written: the error shows, the settings are
    // applied already, the dialog stays open and keeps working.
    void settingsUnwritableFile()
    {
        fs::path ini = folder / "Vultari.ini";
        fs::create_directories(ini);  // a folder where the file should be
        Start();
        Form2->show();
        Form2->RadioButton2->setChecked(true);
        QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        QCOMPARE(Messages(), std::vector<std::string>{"Unable to write to " + ini.string() + " (Is a directory)"});
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form1->core->shaderType, 1);
        QTest::mouseClick(Form2->Button2, Qt::LeftButton);  // Cancel still closes it
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form2->RadioButton1->isChecked());
    }

    void aboutBox()
    {
        Start();
        QTimer::singleShot(0, [] {
            QVERIFY(Form3->isVisible());
            QTest::mouseClick(Form3->Button1, Qt::LeftButton);
        });
        Form1->About1->trigger();
        QVERIFY(!Form3->isVisible());
        QCOMPARE(Form3->windowTitle(), QString("About "));
        QCOMPARE(Form3->size(), QSize(481, 200));
        QCOMPARE(Form3->Image1->geometry(), QRect(12, 14, 170, 170));
        QCOMPARE(Form3->Label1->text(), QString("Vultari"));
        QCOMPARE(Form3->Button1->geometry(), QRect(390, 159, 75, 25));
        QVERIFY(!Form3->Image1->pixmap().isNull());
        QCOMPARE(Form2->windowTitle(), QString("Render settings"));
        QCOMPARE(Form2->size(), QSize(408, 276));
        QCOMPARE(Form2->GroupBox1->title(), QString("Light settings"));
        QCOMPARE(Form2->TrackBar1->maximum(), 20);
    }

    // An error that a handler lets through is shown by the application and goes no further.
    void escapedErrorsAreShown()
    {
        Start();
        Thrower thrower;
        for (int kind = 0; kind < 3; ++kind) {
            thrower.kind = kind;
            QEvent posted(QEvent::User);
            QCoreApplication::sendEvent(&thrower, &posted);  // returns: nothing crosses the loop
            QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
            QCoreApplication::processEvents();
        }
        QCOMPARE(Messages(), (std::vector<std::string>{"Cannot open file \"x.bmp\".", "Cannot open file \"x.bmp\".",
                                                       "bad thing", "bad thing", "", ""}));
        QVERIFY(Form1->isVisible());
    }

    // "User manual": opened with the desktop's opener; a missing viewer or file is said clearly.
    void userManual_data()
    {
        QTest::addColumn<QString>("viewer");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QString>("message");
        QTest::newRow("viewer works") << "true" << true << "";
        QTest::newRow("no opener") << "/nonexistent/xdg-open" << true << "no program to show PDF files";
        QTest::newRow("no manual") << "true" << false << "user manual was not found";
    }

    // The desktop's opener (xdg-open) ends with 3 when it found no program for the file; anything
    // else after a viewer started (closed with an error, killed) is the viewer's own business.
    void userManualViewerEnds_data()
    {
        QTest::addColumn<QString>("script");  // the opener's body
        QTest::addColumn<bool>("message");
        QTest::newRow("no program found") << "exit 3" << true;
        QTest::newRow("viewer closed with an error") << "sleep 0.3; exit 4" << false;
        QTest::newRow("viewer ended with its own code") << "sleep 0.3; exit 1" << false;
        QTest::newRow("killed") << "sleep 0.3; kill -9 $$" << false;
        QTest::newRow("viewer closed normally") << "sleep 0.3; exit 0" << false;
    }

    void userManualViewerEnds()
    {
        QFETCH(QString, script);
        QFETCH(bool, message);
        WriteText(folder / "user_manual.pdf", "%PDF-1.4\n");
        const fs::path opener = folder / "opener";
        WriteText(opener, "#!/bin/sh\n" + script.toStdString() + "\n");
        fs::permissions(opener, fs::perms::owner_all);
        Start();
        Form1->manualViewer = opener.string();
        Form1->Documentation1->trigger();
        QTRY_VERIFY(Form1->findChildren<QProcess*>().isEmpty());  // the opener has ended
        QTest::qWait(100);
        QCOMPARE(Messages().size(), size_t(message ? 1 : 0));
        if (message)
            QVERIFY2(Messages()[0].find("no program to show PDF files") != std::string::npos, Messages()[0].c_str());
    }

    void userManual()
    {
        QFETCH(QString, viewer);
        QFETCH(bool, withFile);
        QFETCH(QString, message);
        fs::path pdf = folder / "user_manual.pdf";
        fs::remove(pdf);
        if (withFile)
            WriteText(pdf, "%PDF-1.4\n");
        Start();
        Form1->manualViewer = viewer.toStdString();
        Form1->Documentation1->trigger();
        QTest::qWait(message.isEmpty() ? 500 : 0);
        if (message.isEmpty()) {
            QVERIFY(Messages().empty());
        } else {
            QTRY_COMPARE(Messages().size(), size_t(1));
            QVERIFY2(Messages()[0].find(message.toStdString()) != std::string::npos, Messages()[0].c_str());
        }
    }
};

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    TApplication application(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
