#include "app/Controls.h"

#include "platform/base/Exception.h"
#include "platform/base/Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>

const char* const ApplicationTitle = "Vultari";

TImageBox::TImageBox(QWidget* parent, int x, int y, int width, int height)
    : QWidget(parent), image(std::make_unique<TImage>(width, height))
{
    setGeometry(x, y, width, height);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    image->Canvas()->OnChange = [this] { update(); };
}

void TImageBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawImage(0, 0, image->Picture().Image());
}

void TImageBox::mousePressEvent(QMouseEvent* event)
{
    pressed = event->button() == Qt::LeftButton;
    QPoint p = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(p.x(), p.y());
}

void TImageBox::mouseMoveEvent(QMouseEvent* event)
{
    QPoint p = event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(p.x(), p.y());
}

void TImageBox::mouseReleaseEvent(QMouseEvent* event)
{
    QPoint p = event->position().toPoint();
    bool click = pressed && event->button() == Qt::LeftButton && rect().contains(p);
    pressed = false;
    if (OnMouseUp)
        OnMouseUp(p.x(), p.y());
    if (click && OnClick)
        OnClick();
}

TPanel::TPanel(QWidget* parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAutoFillBackground(true);
}

void TPanel::mousePressEvent(QMouseEvent* event)
{
    QPoint p = event->position().toPoint();
    if (OnMouseDown)
        OnMouseDown(p.x(), p.y());
}

void TPanel::mouseMoveEvent(QMouseEvent* event)
{
    QPoint p = event->position().toPoint();
    if (OnMouseMove)
        OnMouseMove(p.x(), p.y());
}

void TPanel::mouseReleaseEvent(QMouseEvent* event)
{
    QPoint p = event->position().toPoint();
    if (OnMouseUp)
        OnMouseUp(p.x(), p.y());
}

std::function<void(QFileDialog&)> TFileDialog::Responder;

namespace {
// "Description (*.a)|*.a|Other|*.b" -> Qt's name filters.
QStringList NameFilters(const std::string& filter)
{
    QStringList parts = QString::fromStdString(filter).split('|');
    QStringList result;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        if (!description.contains('('))
            description += " (" + QString(parts[i + 1]).replace(';', ' ') + ")";
        result << description;
    }
    return result;
}
}

namespace {
// Qt's dialog reads quotation marks in the name field as a list of names ("a" "b") and would hand
// back another file: such a name is taken as typed instead.
class TNameDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    QString literalName;  // set when the typed name held a quotation mark

    void accept() override
    {
        auto* edit = findChild<QLineEdit*>("fileNameEdit");
        const QString typed = edit ? edit->text() : QString();
        if (!typed.contains('"')) {
            QFileDialog::accept();
            return;
        }
        const QString path = QDir::cleanPath(QDir::isAbsolutePath(typed) ? typed : directory().absoluteFilePath(typed));
        if (QFileInfo(path).isDir()) {  // as the dialog does with a folder's name: go there
            setDirectory(path);
            edit->clear();
            return;
        }
        literalName = path;
        QDialog::accept();
    }
};
}

bool TFileDialog::Execute(QWidget* parent)
{
    TNameDialog dialog(parent, QString::fromStdString(Title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);  // the export overwrites without a question
    } else {
        // Any name may be typed: a file that does not load is reported by the loader.
        dialog.setFileMode(QFileDialog::AnyFile);
    }
    // Photos are looked for, and heads saved, among the user's pictures first: not beside the
    // program, nor wherever another dialog was last.
    dialog.setDirectory(folder.isEmpty() ? PhotoFolder() : folder);
    QStringList filters = NameFilters(Filter);
    if (!filters.isEmpty())
        dialog.setNameFilters(filters);
    if (Responder) {
        auto responder = Responder;
        QTimer::singleShot(0, &dialog, [&dialog, responder] { responder(dialog); });
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    QStringList files = dialog.literalName.isEmpty() ? dialog.selectedFiles() : QStringList{dialog.literalName};
    FileName = files.isEmpty() ? std::string() : QFile::encodeName(files.first()).toStdString();
    if (!files.isEmpty())
        folder = QFileInfo(files.first()).absolutePath();
    return true;
}

QString PhotoFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return pictures;
    return QDir::homePath();
}

namespace {
int pendingDepth = 0;
}

void ProcessPendingMessages()
{
    ++pendingDepth;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    --pendingDepth;
}

bool InPendingMessages() { return pendingDepth > 0; }

QFont ProgramFont(int pixelHeight, bool bold)
{
    static const QString family = [] {
        if (QFontDatabase::families().contains("Tahoma"))
            return QString("Tahoma");
        // Wine's Tahoma has the same metrics; Debian ships it outside the font path.
        bool added = false;
        for (const char* file : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
            if (QFile::exists(file) && QFontDatabase::addApplicationFont(file) >= 0)
                added = true;
        if (added && QFontDatabase::families().contains("Tahoma"))
            return QString("Tahoma");
        return QString("DejaVu Sans");
    }();
    QFont font(family);
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    return font;
}

void ShowException(const std::string& message)
{
    try {
        ShowMessage(message);
    } catch (...) {
    }
}

void Guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const Exception& e) {
        ShowException(e.Message());
    } catch (const std::exception& e) {
        ShowException(e.what());
    } catch (...) {
        ShowException("");
    }
}
