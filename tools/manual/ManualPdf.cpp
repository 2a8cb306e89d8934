// Builds the user manual: an HTML source with its pictures, laid out by QTextDocument and printed
// into a PDF file.  Usage: vultari_manual SOURCE.html OUTPUT.pdf
#include <QFile>
#include <QFileInfo>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vultari_manual SOURCE.html OUTPUT.pdf\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    QString sourceName = QString::fromLocal8Bit(argv[1]);
    QString outputName = QString::fromLocal8Bit(argv[2]);

    QFile source(sourceName);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "vultari_manual: cannot read %s\n", argv[1]);
        return 1;
    }
    QString html = QString::fromUtf8(source.readAll());
    QDir folder = QFileInfo(sourceName).absoluteDir();
    // Generated parts (the point tables) come in through "<!--include NAME-->".
    QRegularExpression include(R"re(<!--include ([^ ]+)-->)re");
    for (QRegularExpressionMatch m = include.match(html); m.hasMatch(); m = include.match(html)) {
        QFile part(folder.filePath(m.captured(1)));
        if (!part.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "vultari_manual: missing part %s\n", qPrintable(part.fileName()));
            return 1;
        }
        html.replace(m.capturedStart(), m.capturedLength(), QString::fromUtf8(part.readAll()));
    }

    QTextDocument document;
    document.setDefaultFont(QFont("DejaVu Sans", 10));
    document.setDocumentMargin(0);
    // Every picture must be there: a manual with a hole is a build error, not a silent blank.
    QRegularExpression image(R"re(<img[^>]*src="([^"]+)")re");
    for (auto it = image.globalMatch(html); it.hasNext();) {
        QString name = it.next().captured(1);
        QImage picture(folder.filePath(name));
        if (picture.isNull()) {
            std::fprintf(stderr, "vultari_manual: missing picture %s\n", qPrintable(folder.filePath(name)));
            return 1;
        }
        document.addResource(QTextDocument::ImageResource, QUrl(name), picture);
    }
    document.setHtml(html);

    QPdfWriter writer(outputName + ".tmp");
    writer.setTitle("Vultari user manual");
    writer.setCreator("Vultari");
    // QTextDocument::print puts its own 2 cm around the text (the page number sits in the bottom one);
    // the page's margins come on top of that.
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(2, 2, 2, 2),
                                     QPageLayout::Millimeter));
    writer.setResolution(150);
    document.print(&writer);
    if (!QFile::exists(outputName + ".tmp")) {
        std::fprintf(stderr, "vultari_manual: cannot write %s\n", argv[2]);
        return 1;
    }
    QFile::remove(outputName);
    if (!QFile::rename(outputName + ".tmp", outputName)) {
        std::fprintf(stderr, "vultari_manual: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
