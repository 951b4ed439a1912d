#include "About.h"
#include "qzMeterCOM.h"

#include "ScriptedComPort.h"
#include "TestHome.h"

#include <QApplication>
#include <QDesktopServices>
#include <QScopeGuard>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

// Takes the place of the browser, so clicking the link opens nothing.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void openUrl(const QUrl &url) { opened.append(url); }
};

// What the link read from the instrument, as far as the box shows it.
struct Identity
{
    QString model;
    qint32 serial;
    quint16 packageId;
    quint8 mcuMajor;
    quint8 mcuMinor;
    quint8 fpga;
};
Q_DECLARE_METATYPE(Identity)

class TestAbout : public QObject
{
    Q_OBJECT

private:
    TestHome home;

    struct Fixture
    {
        Fixture() : link(closedPort()), box(link) {}
        // The box asks nothing of the link but whether its port is open.
        static std::unique_ptr<TCustomComPort> closedPort()
        {
            auto port = std::make_unique<ScriptedComPort>();
            port->close();
            return port;
        }
        void setConnected(bool connected) { connected ? link.ComPort->open() : link.ComPort->close(); }
        QStringList rows() const
        {
            return {box.lblInstrumentType->text(), box.lblSerialNumber->text(), box.lblPackageId->text(),
                    box.lblMcuVersion->text(), box.lblFpgaVersion->text()};
        }
        TqzMeterCom link;
        TfrmAbout box;
    };

private slots:
    void fixedTextsAndPlaces()
    {
        Fixture f;
        QCOMPARE(f.box.size(), QSize(530, 335));
        QCOMPARE(f.box.windowTitle(), QStringLiteral("About..."));
        QVERIFY(f.box.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(f.box.lblAbout->text(), QStringLiteral("Corvane Snaploom."));
        QCOMPARE(f.box.lblSWVer->text(), QStringLiteral("Software Version 1.2"));
        QCOMPARE(f.box.lblBuild->text(), QStringLiteral("Build 1.2.0.3"));
        QCOMPARE(f.box.btnOK->text(), QStringLiteral("OK"));
        QVERIFY(f.box.btnOK->isDefault());
    }

    void showingPutsThePicturesIn()
    {
        Fixture f;
        QVERIFY(f.box.imgBanner->pixmap().isNull());
        f.box.show();
        QCOMPARE(f.box.imgBanner->pixmap().size(), QSize(577, 98));
        QCOMPARE(f.box.imgBanner->size(), QSize(529, 98));
        QCOMPARE(f.box.imgLogo->pixmap().size(), QSize(124, 98));
        QVERIFY(!f.box.imgLogo->pixmap().mask().isNull());
        f.box.hide();
    }

    // The identification the box shows, as the link read it; the texts expected are the values
    // after each row's fixed label, and no row at all while no instrument is connected.
    void instrumentRows_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<Identity>("identity");
        QTest::addColumn<QStringList>("values");

        QTest::newRow("no instrument connected") << false << Identity{"QZ 220", 1234, 7, 1, 5, 3} << QStringList{};
        QTest::newRow("connected instrument")
            << true << Identity{"QZ 220", 100234, 7, 2, 14, 9} << QStringList{"QZ 220", "100234", "7", "2,14", "9"};
        QTest::newRow("package id read failed")
            << true << Identity{"QZ 221", 5, 65535, 3, 0, 1} << QStringList{"QZ 221", "5", "65535", "3,0", "1"};
        QTest::newRow("MCU 1,5 with a comma, not a point")
            << true << Identity{"QZ 220", 42, 0, 1, 5, 255} << QStringList{"QZ 220", "42", "0", "1,5", "255"};
        QTest::newRow("port open, identification not yet read")
            << true << Identity{"", 0, 0, 0, 0, 0} << QStringList{"", "0", "0", "0,0", "0"};
    }
    void instrumentRows()
    {
        QFETCH(bool, connected);
        QFETCH(Identity, identity);
        QFETCH(QStringList, values);
        const QStringList labels{"      Instrument Type: ", "        Serial Number: ", "  Package ID: ",
                                 " MCU Version: ", "FPGA Version: "};
        QStringList rows(labels.size());
        for (int i = 0; i < values.size(); ++i)
            rows[i] = labels[i] + values[i];

        Fixture f;
        f.setConnected(connected);
        f.link.Info.ModelName = identity.model;
        f.link.Info.SerialNumber = identity.serial;
        f.link.Info.PackageId = identity.packageId;
        f.link.Info.McuVersionMajor = identity.mcuMajor;
        f.link.Info.McuVersionMinor = identity.mcuMinor;
        f.link.Info.FpgaVersion = identity.fpga;
        f.box.show();
        QCOMPARE(f.rows(), rows);
        // The colons line up in the fixed-pitch font: 23 characters to the value on the left, 14 on the right.
        if (connected) {
            QCOMPARE(f.box.lblInstrumentType->text().indexOf(QLatin1String(": ")) + 2, 23);
            QCOMPARE(f.box.lblSerialNumber->text().indexOf(QLatin1String(": ")) + 2, 23);
            for (QLabel *right : {f.box.lblPackageId, f.box.lblMcuVersion, f.box.lblFpgaVersion})
                QCOMPARE(right->text().indexOf(QLatin1String(": ")) + 2, 14);
        }
        QVERIFY(f.box.lblInstrumentType->font().fixedPitch());
        f.box.hide();
    }

    void rowsFollowTheLinkOnEveryShowing()
    {
        Fixture f;
        f.setConnected(true);
        f.link.Info.ModelName = QStringLiteral("QZ 220");
        f.link.Info.SerialNumber = 77;
        f.box.show();
        QCOMPARE(f.box.lblSerialNumber->text(), QStringLiteral("        Serial Number: 77"));
        f.box.hide();

        f.setConnected(false);
        f.box.show();
        QCOMPARE(f.rows(), (QStringList{"", "", "", "", ""}));
        f.box.hide();
    }

    void keysCloseTheBox_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(QDialog::Accepted);
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(QDialog::Rejected);
    }
    void keysCloseTheBox()
    {
        QFETCH(int, key);
        QFETCH(int, result);
        Fixture f;
        // Shown modally, as the main window's About command does; the key arrives once it is up.
        QTimer::singleShot(0, &f.box, [&f, key] { QTest::keyClick(&f.box, Qt::Key(key)); });
        QCOMPARE(f.box.exec(), result);
        QVERIFY(!f.box.isVisible());
        // And it can be shown again afterwards.
        QTimer::singleShot(0, &f.box, [&f] { f.box.btnOK->click(); });
        QCOMPARE(f.box.exec(), int(QDialog::Accepted));
    }

    // On a light desktop the box is white with a blue link that turns purple; on a dark one it
    // takes the desktop's colours instead of glaring white.
    void linkOpensTheWebAddressInTheDesktopsColours_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<QColor>("ground");
        QTest::addColumn<QColor>("link");
        QTest::addColumn<QColor>("visited");
        QTest::newRow("light desktop") << false << QColor(Qt::white) << QColor(Qt::blue) << QColor(128, 0, 128);
        QTest::newRow("dark desktop") << true << QColor(30, 30, 30) << QColor(90, 160, 255) << QColor(200, 130, 255);
    }

    void linkOpensTheWebAddressInTheDesktopsColours()
    {
        QFETCH(bool, dark);
        QFETCH(QColor, ground);
        QFETCH(QColor, link);
        QFETCH(QColor, visited);
        const QPalette before = QApplication::palette();
        if (dark) {
            QPalette night = before;
            night.setColor(QPalette::Base, ground);
            night.setColor(QPalette::Window, QColor(45, 45, 45));
            night.setColor(QPalette::Text, QColor(230, 230, 230));
            night.setColor(QPalette::WindowText, QColor(230, 230, 230));
            night.setColor(QPalette::Link, link);
            night.setColor(QPalette::LinkVisited, visited);
            QApplication::setPalette(night);
        }
        const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
        UrlCatcher browser;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "openUrl");
        Fixture f;
        f.box.show();
        QCOMPARE(f.box.palette().color(QPalette::Window), ground);
        // The writing stands out from the ground.
        QVERIFY(qAbs(f.box.lblAbout->palette().color(QPalette::WindowText).lightness() - ground.lightness()) > 128);
        QCOMPARE(f.box.lblLink->palette().color(QPalette::WindowText), link);
        QTest::mouseClick(f.box.lblLink, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(browser.opened, QList<QUrl>{QUrl(TfrmAbout::DistributorWebAddress)});
        QCOMPARE(f.box.lblLink->palette().color(QPalette::WindowText), visited);
        // Still visited on the next showing.
        f.box.hide();
        f.box.show();
        QCOMPARE(f.box.lblLink->palette().color(QPalette::WindowText), visited);
        f.box.hide();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
