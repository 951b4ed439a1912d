#pragma once

#include <QString>

// The folder that holds the settings file and the ports folder: SNAPLOOM_HOME when set, else the
// all-users folder when usable, else the per-user data folder. Created when missing.
namespace SettingsFolder {

QString path();
QString iniFileName();   // <folder>/CorvaneSnaploom.INI

}  // namespace SettingsFolder
