#include "StatusPanels.h"

#include "CaptureProgress.h"
#include "ElidedLabel.h"
#include "ProgressBarFix.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <algorithm>
#include <utility>

namespace {

constexpr int DefaultPort = 1;

// Geometry, in pixels.
constexpr int FrameAllowance = 8;      // the bar is this much narrower than the window
constexpr int StatusBarHeight = 24;
constexpr int PanelHeight = 20;
constexpr int PanelTop = 2;
constexpr int PanelGap = 2;
constexpr int InfoPercent = 25;
constexpr int ConnectedWidth = 120;
constexpr int SerialWidth = 120;
constexpr int PortWidth = 50;
constexpr int CornerSize = 16;
constexpr int CornerMargin = 3;
constexpr int FileRemainderAllowance = 12;

QString portCaption(int number)
{
    return QStringLiteral("COM") + QString::number(number);
}

} // namespace

StatusPanels::StatusPanels(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("StatusPanels"));
    // The bar is placed by layoutFor inside this strip, centred like a framed window's.
    setFixedHeight(StatusBarHeight);
    m_bar = new QWidget(this);
    m_bar->setObjectName(QStringLiteral("pnlStatus"));

    auto makePanel = [this](const QString &name, Qt::Alignment alignment, const QString &text,
                            QLabel *panel = nullptr) {
        if (!panel)
            panel = new QLabel(text, m_bar);
        panel->setObjectName(name);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setAlignment(alignment | Qt::AlignVCenter);
        panel->setFixedHeight(PanelHeight);
        return panel;
    };
    // Messages never show cut off: a long one ends in an ellipsis, the whole of it in the tooltip.
    m_message = new TElidedLabel(m_bar);
    makePanel(QStringLiteral("pnlFile"), Qt::AlignLeft, {}, m_message);
    m_info = makePanel(QStringLiteral("pnlInfo"), Qt::AlignLeft, {});
    m_connected = makePanel(QStringLiteral("pnlConnected"), Qt::AlignHCenter, QStringLiteral("Not Connected"));
    m_serial = makePanel(QStringLiteral("pnlSerial"), Qt::AlignHCenter, {});
    m_port = makePanel(QStringLiteral("pnlPort"), Qt::AlignHCenter, portCaption(DefaultPort));
    m_connected->setFixedWidth(ConnectedWidth);
    m_serial->setFixedWidth(SerialWidth);
    m_port->setFixedWidth(PortWidth);

    m_captureProgress = new TCaptureProgress(m_info);
    ApplyProgressBarFix(m_captureProgress->bar());

    m_corner = new QLabel(m_bar);
    m_corner->setObjectName(QStringLiteral("imgCorner"));
    m_corner->setFixedSize(CornerSize, CornerSize);
}

void StatusPanels::setMessage(const QString &text)
{
    m_message->setText(text);
    emit messageChanged(text);
}


void StatusPanels::showConnected(int portNumber, qint32 serialNumber)
{
    m_port->setText(portCaption(portNumber));
    m_connected->setText(QStringLiteral("Connected."));
    m_serial->setText(QStringLiteral("Serial No.: ") + QString::number(serialNumber));
}

void StatusPanels::showDisconnected()
{
    m_serial->clear();
    m_connected->setText(QStringLiteral("Disconnected."));
}

void StatusPanels::showPort(int portNumber)
{
    m_port->setText(portCaption(portNumber));
}

void StatusPanels::layoutFor(int windowWidth)
{
    const int barWidth = windowWidth - FrameAllowance;
    m_bar->setGeometry(FrameAllowance / 2, 0, barWidth, StatusBarHeight);

    const int infoWidth = barWidth * InfoPercent / 100;
    // On a narrow (highly scaled) screen the message panel gives way first, never below nothing.
    const int fileWidth = std::max(0, barWidth - infoWidth - ConnectedWidth - SerialWidth - PortWidth - CornerSize
                                          - FileRemainderAllowance);
    m_message->setGeometry(PanelGap, PanelTop, fileWidth, PanelHeight);
    QLabel *previous = m_message;
    for (auto [panel, panelWidth] : {std::pair<QLabel *, int>{m_info, infoWidth}, {m_connected, ConnectedWidth},
                                     {m_serial, SerialWidth}, {m_port, PortWidth}}) {
        panel->setGeometry(previous->x() + previous->width() + PanelGap, PanelTop, panelWidth, PanelHeight);
        previous = panel;
    }
    m_corner->move(barWidth - CornerSize - CornerMargin, StatusBarHeight - CornerSize - CornerMargin);
    m_captureProgress->setGeometry(m_info->contentsRect());
}

void StatusPanels::drawSizeGrip()
{
    QImage grip(CornerSize, CornerSize, QImage::Format_RGB32);
    grip.fill(palette().color(QPalette::Button));
    const QRgb white = qRgb(255, 255, 255);
    const QRgb grey = qRgb(128, 128, 128);
    // Three stripes of a white and two grey diagonal lines; the line from x0 on the bottom edge
    // holds the pixels with x + y == x0 + 16, up to the right edge.
    for (int x0 = 1; x0 < 12; ++x0) {
        if (x0 % 4 == 0)
            continue; // the gap between two stripes
        const QRgb colour = x0 % 4 == 1 ? white : grey;
        for (int x = x0 + 1, y = CornerSize - 1; x < CornerSize; ++x, --y)
            grip.setPixel(x, y, colour);
    }
    m_corner->setPixmap(QPixmap::fromImage(grip));
}
