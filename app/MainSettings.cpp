#include "MainSettings.h"

#include "IniSettings.h"
#include "SaveOptions.h"

#include "SettingsFolder.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString SectionCom = QStringLiteral("COM");
const QString SectionOptions = QStringLiteral("Options");
const QString SectionWindow = QStringLiteral("Window");
const QString KeyPort = QStringLiteral("Port");
const QString KeyFreezeImage = QStringLiteral("FreezeImage");
const QString KeySaveFolder = QStringLiteral("SaveFolder");  // where the save dialog opens next
const QString KeyX = QStringLiteral("X");
const QString KeyY = QStringLiteral("Y");
const QString KeyWidth = QStringLiteral("Width");
const QString KeyHeight = QStringLiteral("Height");
const QString KeyMaximized = QStringLiteral("Maximized");

} // namespace

MainSettings::MainSettings()
    : m_fileName(SettingsFolder::iniFileName())
{
    QDir().mkpath(QFileInfo(m_fileName).absolutePath());
}

MainSettingsValues MainSettings::load() const
{
    const MainSettingsValues defaults;
    const TIniSettings file(m_fileName);
    MainSettingsValues values;
    values.port = file.readInteger(SectionCom, KeyPort, defaults.port);
    values.freezeImage = file.readBool(SectionOptions, KeyFreezeImage, defaults.freezeImage);
    values.saveFolder = file.readString(SectionOptions, KeySaveFolder);
    values.x = file.readInteger(SectionWindow, KeyX, defaults.x);
    values.y = file.readInteger(SectionWindow, KeyY, defaults.y);
    values.width = file.readInteger(SectionWindow, KeyWidth, defaults.width);
    values.height = file.readInteger(SectionWindow, KeyHeight, defaults.height);
    values.maximized = file.readBool(SectionWindow, KeyMaximized, defaults.maximized);
    TSaveOptions::load(file);
    return values;
}

bool MainSettings::save(const MainSettingsValues &values) const
{
    TIniSettings file(m_fileName);
    file.writeInteger(SectionCom, KeyPort, values.port);
    file.writeBool(SectionOptions, KeyFreezeImage, values.freezeImage);
    // Only once something was saved: a file without the key keeps reading as before.
    if (!values.saveFolder.isEmpty())
        file.writeString(SectionOptions, KeySaveFolder, values.saveFolder);
    TSaveOptions::store(file);
    if (values.maximized) {
        file.writeBool(SectionWindow, KeyMaximized, true);
    } else {
        file.writeInteger(SectionWindow, KeyX, values.x);
        file.writeInteger(SectionWindow, KeyY, values.y);
        file.writeInteger(SectionWindow, KeyWidth, values.width);
        file.writeInteger(SectionWindow, KeyHeight, values.height);
        file.writeBool(SectionWindow, KeyMaximized, false);
    }
    return file.commit();
}
