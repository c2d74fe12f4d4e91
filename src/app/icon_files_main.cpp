// Writes the program's icon as PNG files for the hicolor icon theme, one per size:
//   ferrydesk-icon-files OUTDIR NAME SIZE...  ->  OUTDIR/SIZExSIZE/apps/NAME.png
// Run by the build (offscreen), so the installed icons are the icon the windows show.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "ui/app_icon.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: ferrydesk-icon-files OUTDIR NAME SIZE...\n");
        return 2;
    }
    QGuiApplication qt(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024) {
            std::fprintf(stderr, "ferrydesk-icon-files: bad size '%s'\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(out).arg(size);
        const QString file = dir + "/" + name + ".png";
        if (!QDir().mkpath(dir) || !ferry::DrawApplicationIcon(size).save(file, "PNG")) {
            std::fprintf(stderr, "ferrydesk-icon-files: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
