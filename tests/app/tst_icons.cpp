// The menu and toolbar pictures stay readable on light and dark desktops: the outer edge of each
// shape stands out from the window colour it is drawn on.

#include "Icons.h"

#include <QApplication>
#include <QPainter>
#include <QtTest>
#include <functional>

namespace {

// The share of the shape's outer edge (opaque pixels beside a clear one) whose brightness differs
// clearly from the ground's once drawn on it.
double edgeContrast(const QIcon &icon, const QColor &ground)
{
    const QImage shape = icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QImage shown(shape.size(), QImage::Format_RGB32);
    shown.fill(ground);
    QPainter(&shown).drawImage(0, 0, shape);
    // Beyond the picture counts as clear ground too.
    const auto clear = [&](int x, int y) { return !shape.valid(x, y) || qAlpha(shape.pixel(x, y)) < 64; };
    int edge = 0;
    int standingOut = 0;
    for (int y = 0; y < shape.height(); ++y)
        for (int x = 0; x < shape.width(); ++x) {
            if (qAlpha(shape.pixel(x, y)) < 128)
                continue;
            if (!clear(x - 1, y) && !clear(x + 1, y) && !clear(x, y - 1) && !clear(x, y + 1))
                continue;
            ++edge;
            standingOut += qAbs(qGray(shown.pixel(x, y)) - qGray(ground.rgb())) >= 80;
        }
    return edge ? double(standingOut) / edge : 0.0;
}

} // namespace

class TestIcons : public QObject
{
    Q_OBJECT

private slots:
    void readableOnTheDesktop_data()
    {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<QColor>("writing");
        QTest::addColumn<QString>("picture");
        const QStringList pictures{"save", "capture", "connect", "copy", "exit", "about"};
        for (const QString &picture : pictures) {
            QTest::addRow("%s, light", qPrintable(picture)) << QColor(239, 239, 239) << QColor(Qt::black) << picture;
            QTest::addRow("%s, dark", qPrintable(picture)) << QColor(49, 54, 59) << QColor(239, 240, 241) << picture;
        }
    }

    void readableOnTheDesktop()
    {
        QFETCH(QColor, window);
        QFETCH(QColor, writing);
        QFETCH(QString, picture);
        const QPalette before = QApplication::palette();
        QPalette desktop = before;
        desktop.setColor(QPalette::Window, window);
        desktop.setColor(QPalette::Button, window);
        desktop.setColor(QPalette::WindowText, writing);
        QApplication::setPalette(desktop);
        const QMap<QString, std::function<QIcon()>> icons{
            {"save", Icons::save}, {"capture", Icons::capture}, {"connect", Icons::connect},
            {"copy", Icons::copy}, {"exit", Icons::exit}, {"about", Icons::about}};
        const double contrast = edgeContrast(icons.value(picture)(), window);
        QApplication::setPalette(before);
        QVERIFY2(contrast >= 0.6, qPrintable(QStringLiteral("%1 of the edge stands out").arg(contrast)));
    }
};

QTEST_MAIN(TestIcons)
#include "tst_icons.moc"
