// Takes the manual's screenshots and figures from the real program under Xvfb:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bin/vultari_screenshots docs/manual [front profile [features]]
// The manual's pictures use renders of the generic head (vultari_driver photos) with the points
// where the generic head's feature file puts them (build/bin/data/models/generic_head.txt).
// It runs the windows on a private copy of the data tree, walks through the working steps and
// writes images/*.png and the point tables points-front.html and points-profile.html.
#include "app/AboutForm.h"
#include "app/Application.h"
#include "app/Controls.h"
#include "app/RenderForm.h"
#include "app/UnitMain.h"
#include "core/Vultari.h"
#include "platform/base/Numbers.h"
#include "recognition/Headattributes.h"
#include "recognition/Recognizer.h"
#include "testing/GuiFixture.h"
#include "platform/base/Memory.h"

#include <QFile>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QCheckBox>
#include <QSlider>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace fs = std::filesystem;

namespace {
fs::path out;

// What the screen shows of a window (the GL view included), not what Qt would paint.
void Shot(QWidget* window, const char* name)
{
    QTest::qWait(300);
    QApplication::processEvents();
    QRect r = window->frameGeometry();
    QPixmap pixmap = window->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    if (!pixmap.save(QString::fromStdString((out / "images" / name).string())))
        std::fprintf(stderr, "cannot save %s\n", name);
}

int Depth(const THPoint* p)
{
    int d = 0;
    for (; p->parent; p = p->parent)
        ++d;
    return d;
}

// A crop of the photo around its head box, scaled up, with every point numbered.
void Figure(const cv::Mat& photo, THPoint* const* points, int count, int left, int top, int right, int bottom,
            const char* name)
{
    QImage image(photo.data, photo.cols, photo.rows, int(photo.step), QImage::Format_BGR888);
    int mx = (points[right]->x - points[left]->x) / 5, my = (points[bottom]->y - points[top]->y) / 8;
    QRect crop(QPoint(points[left]->x - mx, points[top]->y - my), QPoint(points[right]->x + mx, points[bottom]->y + my));
    crop = crop.intersected(image.rect());
    double scale = 900.0 / crop.width();
    QImage figure = image.copy(crop).scaled(900, int(crop.height() * scale), Qt::IgnoreAspectRatio,
                                            Qt::SmoothTransformation).convertToFormat(QImage::Format_RGB32);
    QPainter p(&figure);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = ProgramFont(20, true);
    p.setFont(font);
    std::vector<QPointF> spots;
    for (int i = 0; i < count; ++i)
        spots.emplace_back((points[i]->x - crop.x()) * scale, (points[i]->y - crop.y()) * scale);
    QPointF middle(figure.width() / 2.0, figure.height() / 2.0);
    // Each label goes outward from the middle of the face, as close to its point as it can be
    // without covering another label or another point.
    std::vector<QRectF> taken;
    auto free = [&](const QRectF& box) {
        if (!QRectF(figure.rect()).contains(box))
            return false;
        for (const QRectF& t : taken)
            if (t.adjusted(-3, -3, 3, 3).intersects(box))
                return false;
        for (const QPointF& spot : spots)
            if (box.adjusted(-7, -7, 7, 7).contains(spot))
                return false;
        return true;
    };
    for (int i = 0; i < count; ++i) {
        QPointF at = spots[static_cast<size_t>(i)];
        QPointF out = at - middle;
        double base = std::hypot(out.x(), out.y()) < 1 ? -1.5708 : std::atan2(out.y(), out.x());
        QRectF box;
        bool placed = false;
        for (double distance = 30; distance <= 160 && !placed; distance += 10)
            for (int k = 0; k < 24 && !placed; ++k) {
                double angle = base + (k % 2 ? 1 : -1) * ((k + 1) / 2) * 0.26;
                QPointF c = at + QPointF(std::cos(angle), std::sin(angle)) * distance;
                box = QRectF(c.x() - 15, c.y() - 13, 30, 26);
                placed = free(box);
            }
        taken.push_back(box);
        p.setPen(QPen(QColor(255, 255, 255, 220), 1.5));
        p.drawLine(at, box.center());
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 190));
        p.drawRoundedRect(box, 5, 5);
        p.setPen(Qt::white);
        p.drawText(box, Qt::AlignCenter, QString::number(i));
    }
    for (const QPointF& spot : spots) {
        p.setPen(QPen(Qt::black, 2));
        p.setBrush(QColor(60, 230, 90));
        p.drawEllipse(spot, 5, 5);
    }
    p.end();
    figure.save(QString::fromStdString((out / "images" / name).string()));
}

// The points in two halves side by side, so that a figure and its whole table share one page.
void Table(THPoint* const* points, int count, const char* name)
{
    std::ofstream html(out / name);
    int half = (count + 1) / 2;
    html << "<table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" width=\"100%\" style=\"margin-top: 6px\"><tr>\n";
    for (int from = 0; from < count; from += half) {
        html << "<td valign=\"top\" width=\"50%\"" << (from ? " style=\"padding-left: 10px\"" : "") << ">\n"
             << "<table border=\"1\" cellpadding=\"2\" cellspacing=\"0\" width=\"100%\" style=\"font-size: 8pt\">\n"
                "<tr><th>No.</th><th align=\"left\">Point</th><th align=\"left\">Moves with</th></tr>\n";
        for (int i = from; i < count && i < from + half; ++i) {
            html << "<tr><td align=\"center\">" << i << "</td><td>";
            for (int d = 1; d < Depth(points[i]); ++d)
                html << "&nbsp;&nbsp;&nbsp;&nbsp;";
            html << points[i]->name << "</td><td>"
                 << (points[i]->parent ? points[i]->parent->name : std::string("-")) << "</td></tr>\n";
        }
        html << "</table>\n</td>\n";
    }
    html << "</tr></table>\n";
}

// Puts the points where they truly are on the renders of the generic head (vultari_driver photos:
// orthographic, 6 model units above and below the middle), from the generic head's facts file.
void PlaceTruePoints(THeadAttributes* head, const cv::Mat& frontPhoto, const cv::Mat& sidePhoto, const std::string& file)
{
    const TGenericHead facts = ReadGenericHead(file);
    auto pixel = [](const cv::Mat& photo, double vx, double vy) {
        const double halfHeight = 6.0, halfWidth = halfHeight * photo.cols / photo.rows;
        return cv::Point(RoundHalfEven((vx / halfWidth + 1) * photo.cols / 2), RoundHalfEven((vy / halfHeight + 1) * photo.rows / 2));
    };
    for (int i = 0; i < FrontPoint::Count; ++i) {
        const cv::Point p = pixel(frontPhoto, facts.front[size_t(i)].x, -facts.front[size_t(i)].z);
        head->front[i]->SetPosition(p.x, p.y);
    }
    for (int i = 0; i < ProfilePoint::Count; ++i) {
        const cv::Point p = pixel(sidePhoto, facts.profile[size_t(i)].y, -facts.profile[size_t(i)].z);
        head->profile[i]->SetPosition(p.x, p.y);
    }
}

void HoverOver(THPoint* point, const TBitmap* editBitmap, const cv::Mat& photo)
{
    int ew = editBitmap->Width(), eh = editBitmap->Height();
    QPoint at((697 - ew) / 2 + int(std::lround(point->x * double(ew) / photo.cols)),
              (613 - eh) / 2 + int(std::lround(point->y * double(eh) / photo.rows)));
    QTest::mouseMove(Form1->ImageMain, at);
}
}

int main(int argc, char** argv)
{
    KeepFreedMemoryForReuse();
    if (argc < 2) {
        std::fprintf(stderr, "usage: vultari_screenshots MANUAL_FOLDER [FRONT_PHOTO PROFILE_PHOTO [FEATURES]]\n");
        return 2;
    }
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    TApplication application(argc, argv);
    out = argv[1];
    fs::create_directories(out / "images");
    std::string front = argc > 2 ? argv[2] : gui::FrontPhoto();
    std::string profile = argc > 3 ? argv[3] : gui::SecondPhoto();
    std::string truth = argc > 4 ? argv[4] : "";
    fs::path folder = gui::MakeProgramFolder("screenshots");
    gui::CaptureMessages();

    CreateForms();
    Form1->show();
    if (!QTest::qWaitForWindowExposed(Form1) || !Form1->core) {
        std::fprintf(stderr, "the program did not start\n");
        return 1;
    }
    TVultari* core = Form1->core;
    Shot(Form1, "main-start.png");

    gui::AnswerDialogs({front});
    Form1->ButtonLoadFronImage->click();
    gui::AnswerDialogs({profile});
    Form1->ButtonLoadProfileImage->click();
    if (!truth.empty() && core->GetProfileOrientation() == 0) {
        PlaceTruePoints(core->headAttributes, core->recognizer->frontImage, core->recognizer->profileImage, truth);
        core->DrawThumbnail(Form1->ImageFront->Image(), 0);
        core->DrawThumbnail(Form1->ImageProfile->Image(), 1);
    }
    Shot(Form1, "photos-loaded.png");

    Form1->ButtonEditFront->click();
    HoverOver(core->headAttributes->front[FrontPoint::LeftEyeCenter], core->frontEditBitmap, core->recognizer->frontImage);
    Shot(Form1, "edit-front.png");
    Form1->ButtonEditProfile->click();
    HoverOver(core->headAttributes->profile[ProfilePoint::NoseTip], core->profileEditBitmap, core->recognizer->profileImage);
    Shot(Form1, "edit-profile.png");

    Figure(core->recognizer->frontImage, core->headAttributes->front, FrontPoint::Count, FrontPoint::LeftHead,
           FrontPoint::TopHead, FrontPoint::RightHead, FrontPoint::BottomHead, "points-front.png");
    Table(core->headAttributes->front, FrontPoint::Count, "points-front.html");
    // The profile points live on the photo as loaded; mirrored points go with a mirrored photo.
    cv::Mat profilePhoto = core->recognizer->profileImage.clone();
    if (core->GetProfileOrientation() == 1)
        cv::flip(profilePhoto, profilePhoto, 1);
    Figure(profilePhoto, core->headAttributes->profile, ProfilePoint::Count, ProfilePoint::LeftHead,
           ProfilePoint::TopHead, ProfilePoint::RightHead, ProfilePoint::BottomHead, "points-profile.png");
    Table(core->headAttributes->profile, ProfilePoint::Count, "points-profile.html");

    Form1->Button1->click();
    if (!core->reconstructed) {
        std::fprintf(stderr, "the reconstruction failed\n");
        for (const std::string& m : gui::Messages())
            std::fprintf(stderr, "  %s\n", m.c_str());
        return 1;
    }
    core->BeginRotate(0, 0);
    core->Rotate(-120, -40);
    core->EndRotate();
    Shot(Form1, "view-3d.png");

    Form2->show();
    Form2->RadioButton3->setChecked(true);
    Form2->TrackBar1->setValue(8);
    Shot(Form2, "render-settings.png");
    Form2->Button2->click();
    Form3->show();
    Shot(Form3, "about.png");
    Form3->hide();

    for (const std::string& m : gui::Messages())
        std::fprintf(stderr, "message: %s\n", m.c_str());
    DestroyForms();
    gui::RemoveProgramFolder(folder);
    return 0;
}
