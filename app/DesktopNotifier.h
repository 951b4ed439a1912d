#pragma once

#include <QString>

// Desktop notifications through the session bus's notification service, where one runs. Nothing
// is waited for: a desktop without the service (or without a session bus) just shows none.
namespace DesktopNotifier {

// Sends summary and body; false when no notification service is on the session bus.
bool notify(const QString &summary, const QString &body);

} // namespace DesktopNotifier
