#include "app/AboutForm.h"

#include "app/Controls.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>

#include <cmath>

TForm3* Form3 = nullptr;
const char* const MakerAddress = "https://example.org/vultari";

namespace {
// The program's picture: a head outline in three-quarter view with a few mesh lines and
// feature points, drawn once when the box is made.
QPixmap Picture()
{
    QPixmap pixmap(170, 170);
    pixmap.fill(QColor(24, 32, 48));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRectF head(38, 18, 94, 126);
    QRadialGradient skin(head.center() + QPointF(-14, -20), 90);
    skin.setColorAt(0, QColor(242, 205, 170));
    skin.setColorAt(1, QColor(170, 118, 84));
    p.setBrush(skin);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1.5));
    p.drawEllipse(head);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    for (int i = 1; i < 6; ++i) {  // meridians and parallels of the mesh
        double k = i / 6.0;
        p.drawEllipse(QRectF(head.center().x() - head.width() / 2 * std::cos(k * 3.14159),
                             head.top(), head.width() * std::cos(k * 3.14159), head.height()));
        double y = head.top() + head.height() * k;
        double half = head.width() / 2 * std::sqrt(1 - std::pow(2 * k - 1, 2));
        p.drawLine(QPointF(head.center().x() - half, y), QPointF(head.center().x() + half, y));
    }
    p.setPen(QPen(QColor(60, 220, 90), 1));
    p.setBrush(QColor(60, 220, 90));
    const QPointF points[] = {{66, 72}, {104, 72}, {85, 92}, {85, 112}, {72, 112}, {98, 112},
                              {85, 20}, {85, 142}, {40, 80}, {130, 80}};
    for (QPointF point : points)
        p.drawRect(QRectF(point.x() - 2, point.y() - 2, 4, 4));
    p.setPen(QPen(QColor(255, 255, 255), 1, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(40, 20, 90, 122));
    p.setPen(QColor(255, 255, 255));
    p.setFont(ProgramFont(12, true));
    p.drawText(QRectF(0, 148, 170, 20), Qt::AlignCenter, "front + profile = 3D");
    return pixmap;
}
}

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    Form3 = this;
    setObjectName("Form3");
    setWindowTitle("About ");
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    setFont(ProgramFont(11));
    setFixedSize(481, 200);
    move(91, 100);

    Image1 = new QLabel(this);
    Image1->setObjectName("Image1");
    Image1->setGeometry(12, 14, 170, 170);
    Image1->setPixmap(Picture());

    Label1 = new QLabel("Vultari", this);
    Label1->setObjectName("Label1");
    Label1->setFont(ProgramFont(21));
    Label1->move(223, 14);
    Label1->adjustSize();

    Label2 = new QLabel("Written by the Vultari developers, 2026", this);
    Label2->setObjectName("Label2");
    Label2->move(223, 53);
    Label2->adjustSize();

    Label3 = new QLabel(MakerAddress, this);
    Label3->setObjectName("Label3");
    Label3->move(223, 72);
    Label3->adjustSize();
    Label3->setTextInteractionFlags(Qt::TextSelectableByMouse);

    Button1 = new QPushButton("Close", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(390, 159, 75, 25);
    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
}

TForm3::~TForm3()
{
    if (Form3 == this)
        Form3 = nullptr;
}

void TForm3::Button1Click()
{
    accept();
}
