#include "PortMenu.h"

#include "SerialPorts.h"

#include <QAction>
#include <QMenu>
#include <algorithm>

namespace {

const QString NoPortsInstalled = QStringLiteral("No ports installed");
const QString Refresh = QStringLiteral("&Refresh");

int tagOf(const QAction *item)
{
    return item->data().toInt();
}

} // namespace

QString PortMenu::findInstrumentCaption()
{
    return QStringLiteral("&Find instrument");
}

PortMenu::PortMenu(QMenu &menu, QObject *parent)
    : QObject(parent)
    , m_menu(menu)
{
    m_menu.setToolTipsVisible(true);
    connect(&m_menu, &QMenu::triggered, this, &PortMenu::choose);
}

bool PortMenu::rebuild(int selectedPort)
{
    m_menu.clear();

    // Ordered by number; names with equal numbers keep the order in which they were listed.
    QList<SerialPortName> ports = SerialPorts::list();
    // A name whose digits make no number names no port.
    ports.removeIf([](const SerialPortName &port) { return port.number < 0; });
    std::stable_sort(ports.begin(), ports.end(), [](const SerialPortName &a, const SerialPortName &b) {
        return a.number < b.number;
    });

    bool listed = false;
    for (const SerialPortName &port : std::as_const(ports)) {
        // The device path and the adapter beside the number tell one adapter from another; an
        // ampersand of a description is no access letter.
        QString caption = port.caption();
        caption.replace(QLatin1Char('&'), QLatin1String("&&"));
        QAction *item = m_menu.addAction(caption);
        item->setData(port.number);
        item->setCheckable(true);
        const QString where = port.byIdPath.isEmpty() ? port.devicePath : port.byIdPath;
        item->setStatusTip(where);
        item->setToolTip(where);
        if (port.number == selectedPort) {
            item->setChecked(true);
            listed = true;
        }
    }
    if (m_menu.isEmpty()) {
        QAction *placeholder = m_menu.addAction(NoPortsInstalled);
        placeholder->setData(TagPlaceholder);
        placeholder->setEnabled(false);
    }
    m_menu.addSeparator()->setData(TagPlaceholder);
    m_menu.addAction(Refresh)->setData(TagRefresh);
    m_menu.addAction(findInstrumentCaption())->setData(TagFindInstrument);
    return listed;
}

void PortMenu::uncheckAll()
{
    for (QAction *item : m_menu.actions())
        item->setChecked(false);
}

void PortMenu::checkPort(int number)
{
    uncheckAll();
    for (QAction *item : m_menu.actions())
        if (!item->isSeparator() && tagOf(item) == number) {
            item->setChecked(true);
            return;
        }
}

void PortMenu::choose(QAction *item)
{
    const int tag = tagOf(item);
    if (tag == TagRefresh) {
        emit refreshChosen();
        return;
    }
    if (tag == TagFindInstrument) {
        emit findChosen();
        return;
    }
    uncheckAll();
    item->setChecked(true);
    emit portChosen(tag);
}
