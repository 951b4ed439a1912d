#pragma once

#include <QString>

// The folder that holds the settings file and the ports folder: SNAPLOOM_HOME when set, else the
// all-users folder when an administrator has made it and it is writable, else the per-user data
// folder. SNAPLOOM_HOME and the per-user folder are created when missing; the all-users folder
// never is, so no program leaves a folder behind that no package owns.
namespace SettingsFolder {

QString path();
QString iniFileName();   // <folder>/CorvaneSnaploom.INI

// The same choice with another all-users folder in place of /var/lib/Brannoc/CorvaneSnaploom.
QString path(const QString &allUsersFolder);

// Where pictures not yet saved are kept, so a crash loses none: recovery/ in SNAPLOOM_HOME when
// that is set, else $XDG_STATE_HOME/Brannoc/CorvaneSnaploom/recovery (~/.local/state/... when
// unset). Not created here.
QString recoveryPath();

}  // namespace SettingsFolder
