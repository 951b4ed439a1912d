#include "About.h"

#include "Artwork.h"
#include "InstrumentRows.h"
#include "Version.h"
#include "qzMeterCOM.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QUrl>

TfrmAbout *frmAbout = nullptr;

const QString TfrmAbout::DistributorName = QStringLiteral("Brannoc Instruments Ltd.");
const QString TfrmAbout::DistributorAddress1 = QStringLiteral("Unit 4, Harrow Quay");
const QString TfrmAbout::DistributorAddress2 = QStringLiteral("Eastmoor EM4 7QT, United Kingdom");
const QString TfrmAbout::DistributorPhone = QStringLiteral("Tel.: +44 1632 960418");
const QString TfrmAbout::DistributorWebAddress = QStringLiteral("https://www.brannoc.example/");

namespace {
constexpr QSize ClientSize{530, 335};
// The instrument's rows: two columns, each row this high at these tops.
struct Column
{
    int x;
    int width;
};
constexpr Column LeftColumn{15, 354};
constexpr Column RightColumn{368, 150};
constexpr int RowHeight = 15;
constexpr int RowY[] = {192, 208, 224};
// The box's own colours on a light desktop; a dark one lends its palette's instead.
const QColor LightGround(Qt::white);
const QColor LightInk(Qt::black);
const QColor LinkColour(Qt::blue);
const QColor VisitedLinkColour(128, 0, 128);

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Base).lightness() < 128;
}

QFont sansFont(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// The rows line up their colons, so they need a font whose characters are all one width.
QFont fixedPitchFont(int pixelSize)
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setPixelSize(pixelSize);
    return font;
}

QLabel *placedLabel(QWidget *parent, int x, int y, const QFont &font)
{
    auto *label = new QLabel(parent);
    label->setFont(font);
    label->move(x, y);
    return label;
}

QLabel *instrumentRow(QWidget *parent, Column column, int y)
{
    auto *label = new QLabel(parent);
    label->setFont(fixedPitchFont(13));
    label->setGeometry(column.x, y, column.width, RowHeight);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A separator: an etched line along the bottom edge of its place.
QFrame *bevel(QWidget *parent, const QRect &place)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(place.x(), place.bottom() - 1, place.width(), 2);
    return line;
}

void setText(QLabel *label, const QString &text)
{
    label->setText(text);
    label->adjustSize();
}
} // namespace

TfrmAbout::TfrmAbout(TqzMeterCom &link, QWidget *parent)
    // No title bar and no border of the window system's; the box draws its own thin frame. Where
    // the window system gives frameless dialogs a drop shadow, nothing here turns it off.
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), Link(link)
{
    setFixedSize(ClientSize);
    setFont(sansFont(13));
    setAutoFillBackground(true);

    shpBorder = new QFrame(this);
    shpBorder->setFrameStyle(QFrame::Box | QFrame::Plain);
    shpBorder->setLineWidth(1);
    shpBorder->setGeometry(QRect(QPoint(), ClientSize));

    imgBrannocBanner = new QLabel(this);
    imgBrannocBanner->setPixmap(QPixmap::fromImage(Artwork::brannocBanner()));
    imgBrannocBanner->hide();
    imgBrannocLogo = new QLabel(this);
    imgBrannocLogo->setPixmap(QPixmap::fromImage(Artwork::brannocLogo()));
    imgBrannocLogo->hide();

    imgBanner = new QLabel(this);
    imgBanner->setGeometry(0, 1, 529, 98);
    imgBanner->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgBanner->setCursor(Qt::PointingHandCursor);
    imgBanner->setToolTip(QStringLiteral("csVisitWWW"));
    imgLogo = new QLabel(this);
    imgLogo->setGeometry(0, 1, Artwork::LogoWidth, Artwork::LogoHeight);
    imgLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgLogo->setCursor(Qt::PointingHandCursor);

    lblAbout = placedLabel(this, 15, 112, sansFont(13, true));
    lblSWVer = placedLabel(this, 15, 128, sansFont(13));
    lblBuild = placedLabel(this, 15, 144, sansFont(8));
    lblQZT = placedLabel(this, 264, 110, sansFont(13, true));
    lblAdr1 = placedLabel(this, 264, 126, sansFont(13));
    lblAdr2 = placedLabel(this, 264, 142, sansFont(13));
    lblPhone = placedLabel(this, 264, 158, sansFont(13));

    Bevel1 = bevel(this, QRect(1, 168, 528, 17));
    lblInstrumentType = instrumentRow(this, LeftColumn, RowY[0]);
    lblSerialNumber = instrumentRow(this, LeftColumn, RowY[1]);
    lblPackageId = instrumentRow(this, RightColumn, RowY[0]);
    lblMcuVersion = instrumentRow(this, RightColumn, RowY[1]);
    lblFpgaVersion = instrumentRow(this, RightColumn, RowY[2]);
    Bevel2 = bevel(this, QRect(1, 264, 528, 17));

    lblLink = new QLabel(this);
    QFont linkFont = sansFont(11, true);
    linkFont.setUnderline(true);
    lblLink->setFont(linkFont);
    lblLink->setGeometry(15, 296, 223, 13);
    lblLink->setCursor(Qt::PointingHandCursor);
    lblLink->installEventFilter(this);

    btnOK = new QPushButton(this);
    btnOK->setGeometry(424, 296, 91, 25);
    // Enter presses the default button; Esc rejects the dialog: both close the box.
    btnOK->setDefault(true);
    btnOK->setAutoDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &TfrmAbout::btnOKClick);

    FormCreate();
    followPalette();
}

TfrmAbout::~TfrmAbout()
{
    if (frmAbout == this)
        frmAbout = nullptr;
}

void TfrmAbout::FormCreate()
{
    setWindowTitle(QStringLiteral("About..."));
    setText(lblAbout, ProductName() + QLatin1Char('.'));

    lblLink->setText(QUrl(DistributorWebAddress).host());
    setText(lblQZT, DistributorName);
    setText(lblAdr1, DistributorAddress1);
    setText(lblAdr2, DistributorAddress2);
    setText(lblPhone, DistributorPhone);

    setText(lblSWVer, QStringLiteral("Software Version ") + FormatFileVersion(QStringLiteral("%d.%d")));
    setText(lblBuild, QStringLiteral("Build ") + FormatFileVersion(QStringLiteral("%d.%d.%d.%d")));

    btnOK->setText(QStringLiteral("OK"));
}

void TfrmAbout::showEvent(QShowEvent *event)
{
    if (!event->spontaneous()) {
        if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
            QRect frame(QPoint(0, 0), size());
            frame.moveCenter(screen->geometry().center());
            move(frame.topLeft());
        }
        FormShow();
    }
    QDialog::showEvent(event);
}

// White with black writing and a blue link on a light desktop; on a dark one the ground, the
// writing and the link take the desktop palette's colours, so the box is not a white glare.
void TfrmAbout::followPalette()
{
    const QPalette desktop = QApplication::palette(this);
    const bool dark = isDark(desktop);
    QPalette box = desktop;
    box.setColor(QPalette::Window, dark ? desktop.color(QPalette::Base) : LightGround);
    box.setColor(QPalette::WindowText, dark ? desktop.color(QPalette::Text) : LightInk);
    setPalette(box);
    QPalette link = box;
    const QColor visited = dark ? desktop.color(QPalette::LinkVisited) : VisitedLinkColour;
    link.setColor(QPalette::WindowText, m_linkVisited ? visited : dark ? desktop.color(QPalette::Link) : LinkColour);
    lblLink->setPalette(link);
}

void TfrmAbout::changeEvent(QEvent *event)
{
    QDialog::changeEvent(event);
    // The desktop's palette changed (a switch to a dark theme while the program runs).
    if (event->type() == QEvent::ApplicationPaletteChange)
        followPalette();
}

void TfrmAbout::FormShow()
{
    followPalette();
    imgBanner->setPixmap(imgBrannocBanner->pixmap());
    // The logo's ground, the colour of its bottom-left pixel, lets the banner show through.
    const QPixmap logo = imgBrannocLogo->pixmap();
    const QImage logoImage = logo.toImage();
    QPixmap transparentLogo = logo;
    if (!logoImage.isNull())
        transparentLogo.setMask(logo.createMaskFromColor(logoImage.pixelColor(0, logoImage.height() - 1)));
    imgLogo->setPixmap(transparentLogo);
    imgLogo->raise();

    // The rows show the identification record as it stands now, complete or not.
    const QList<QLabel *> rows{lblInstrumentType, lblSerialNumber, lblPackageId, lblMcuVersion, lblFpgaVersion};
    const QList<InstrumentRow> texts = Link.IsConnected() ? instrumentRows(Link.Info) : QList<InstrumentRow>{};
    for (int i = 0; i < rows.size(); ++i)
        rows[i]->setText(i < texts.size() ? texts[i].text : QString());
}

void TfrmAbout::btnOKClick()
{
    accept();
}

void TfrmAbout::lblLinkClick()
{
    m_linkVisited = true;
    followPalette();
    // A browser that fails to start is not reported.
    QDesktopServices::openUrl(QUrl(DistributorWebAddress));
}

bool TfrmAbout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblLink && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && lblLink->rect().contains(mouse->position().toPoint())) {
            lblLinkClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
