// Build step: writes the program's icon, drawn by the program itself, as the PNG files of the
// icon theme: <folder>/<n>x<n>/apps/corvane-snaploom.png for each size given.
//
//   snaploom-write-icons FOLDER SIZE...
#include "Icons.h"

#include <QDir>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    // Drawing needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: snaploom-write-icons FOLDER SIZE...\n");
        return 2;
    }
    for (const QString &text : arguments.mid(1)) {
        bool ok = false;
        const int size = text.toInt(&ok);
        if (!ok || size < 1 || size > 1024) {
            std::fprintf(stderr, "snaploom-write-icons: bad size %s\n", qPrintable(text));
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments.first()).arg(size);
        const QString file = folder + QStringLiteral("/corvane-snaploom.png");
        if (!QDir().mkpath(folder) || !Icons::applicationPicture(size).save(file, "PNG")) {
            std::fprintf(stderr, "snaploom-write-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
