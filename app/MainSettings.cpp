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

// A key of the file with the section it stands in.
struct SettingsKey
{
    QString section;
    QString name;
};

const SettingsKey Port{SectionCom, QStringLiteral("Port")};
const SettingsKey FreezeImage{SectionOptions, QStringLiteral("FreezeImage")};
const SettingsKey SaveFolder{SectionOptions, QStringLiteral("SaveFolder")};  // where the save dialog opens next
const SettingsKey ConnectAtStart{SectionOptions, QStringLiteral("ConnectAtStart")};
const SettingsKey X{SectionWindow, QStringLiteral("X")};
const SettingsKey Y{SectionWindow, QStringLiteral("Y")};
const SettingsKey Width{SectionWindow, QStringLiteral("Width")};
const SettingsKey Height{SectionWindow, QStringLiteral("Height")};
const SettingsKey Maximized{SectionWindow, QStringLiteral("Maximized")};

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
    values.port = file.readInteger(Port.section, Port.name, defaults.port);
    values.freezeImage = file.readBool(FreezeImage.section, FreezeImage.name, defaults.freezeImage);
    values.saveFolder = file.readString(SaveFolder.section, SaveFolder.name);
    values.connectAtStart = file.readBool(ConnectAtStart.section, ConnectAtStart.name, defaults.connectAtStart);
    values.x = file.readInteger(X.section, X.name, defaults.x);
    values.y = file.readInteger(Y.section, Y.name, defaults.y);
    values.width = file.readInteger(Width.section, Width.name, defaults.width);
    values.height = file.readInteger(Height.section, Height.name, defaults.height);
    values.maximized = file.readBool(Maximized.section, Maximized.name, defaults.maximized);
    TSaveOptions::load(file);
    return values;
}

bool MainSettings::save(const MainSettingsValues &values) const
{
    TIniSettings file(m_fileName);
    file.writeInteger(Port.section, Port.name, values.port);
    file.writeBool(FreezeImage.section, FreezeImage.name, values.freezeImage);
    // Only once something was saved: a file without the key keeps reading as before.
    if (!values.saveFolder.isEmpty())
        file.writeString(SaveFolder.section, SaveFolder.name, values.saveFolder);
    TSaveOptions::store(file);
    if (values.maximized) {
        file.writeBool(Maximized.section, Maximized.name, true);
    } else {
        file.writeInteger(X.section, X.name, values.x);
        file.writeInteger(Y.section, Y.name, values.y);
        file.writeInteger(Width.section, Width.name, values.width);
        file.writeInteger(Height.section, Height.name, values.height);
        file.writeBool(Maximized.section, Maximized.name, false);
    }
    return file.commit();
}
