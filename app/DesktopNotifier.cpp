#include "DesktopNotifier.h"

#include "Version.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace DesktopNotifier {

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString DesktopEntry = QStringLiteral("corvane-snaploom");  // also the installed icon's name
constexpr int ServerTimeout = -1;  // the service's own choice of how long to show it
} // namespace

bool notify(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QDBusConnectionInterface *daemon = bus.interface();
    // A service that starts on demand counts as there; one that neither runs nor starts does not.
    if (!daemon || (!daemon->isServiceRegistered(Service).value()
                    && !daemon->activatableServiceNames().value().contains(Service)))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), DesktopEntry);
    call << ProductName() << quint32(0) << DesktopEntry << summary << body << QStringList() << hints
         << qint32(ServerTimeout);
    // The reply (the notification's id) is of no use here, so nothing waits for it.
    call.setAutoStartService(true);
    return bus.send(call);
}

} // namespace DesktopNotifier
