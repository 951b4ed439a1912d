#pragma once

#include <QObject>

class QAction;
class QMenu;

// The Interface submenu: one checkable item per serial port in number order, tagged with its
// number, then "Refresh" and "Find instrument".
class PortMenu : public QObject
{
    Q_OBJECT

public:
    // Item tags: port items carry their port number, the others these.
    static constexpr int TagPlaceholder = 0;
    static constexpr int TagRefresh = -1;
    static constexpr int TagFindInstrument = -2;
    // "&Find instrument", here and in the Connect button's menu.
    static QString findInstrumentCaption();

    explicit PortMenu(QMenu &menu, QObject *parent = nullptr);

    // Lists the ports present now, checking those numbered selectedPort; true when one is listed.
    bool rebuild(int selectedPort);
    void uncheckAll();
    // Checks the first item of this port number alone.
    void checkPort(int number);

signals:
    // A port item was chosen; it is already the one checked item.
    void portChosen(int number);
    void refreshChosen();
    void findChosen();

private:
    void choose(QAction *item);

    QMenu &m_menu;
};
