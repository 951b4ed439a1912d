#pragma once

#include <QString>

// The folder that holds the settings file and the ports folder: SNAPLOOM_HOME when set, else the
// all-users folder when usable, else the per-user data folder. Created when missing.
namespace SettingsFolder {

QString path();
QString iniFileName();   // <folder>/CorvaneSnaploom.INI

// Where pictures not yet saved are kept, so a crash loses none: recovery/ in SNAPLOOM_HOME when
// that is set, else $XDG_STATE_HOME/Brannoc/CorvaneSnaploom/recovery (~/.local/state/... when
// unset). Not created here.
QString recoveryPath();

}  // namespace SettingsFolder
