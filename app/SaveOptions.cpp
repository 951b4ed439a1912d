#include "SaveOptions.h"

#include "IniSettings.h"
#include "NameTemplate.h"

namespace {

const QString SectionOptions = QStringLiteral("Options");
const QString KeySaveFormat = QStringLiteral("SaveFormat");
const QString KeyNameTemplate = QStringLiteral("NameTemplate");
const QString KeyAutoSave = QStringLiteral("AutoSave");
constexpr ImageFile::Format DefaultFormat = ImageFile::Format::Bmp;

struct Options
{
    ImageFile::Format format = DefaultFormat;
    QString nameTemplate = TSaveOptions::defaultNameTemplate();
    bool autoSave = false;
};

Options &options()
{
    static Options current;
    return current;
}

} // namespace

ImageFile::Format TSaveOptions::saveFormat()
{
    return options().format;
}

void TSaveOptions::setSaveFormat(ImageFile::Format format)
{
    options().format = format;
}

QString TSaveOptions::nameTemplate()
{
    return options().nameTemplate;
}

void TSaveOptions::setNameTemplate(const QString &text)
{
    // A template that cannot make names (an unknown field, a folder at its end) is not used.
    const bool usable = NameTemplate(text.trimmed()).problem().isEmpty();
    options().nameTemplate = usable ? text.trimmed() : defaultNameTemplate();
}

QString TSaveOptions::defaultNameTemplate()
{
    return QStringLiteral("snaploom-{serial}-{date}-{time}");
}

bool TSaveOptions::autoSave()
{
    return options().autoSave;
}

void TSaveOptions::setAutoSave(bool on)
{
    options().autoSave = on;
}

QString TSaveOptions::formatKey(ImageFile::Format format)
{
    return ImageFile::suffix(format).mid(1);
}

void TSaveOptions::load(const TIniSettings &settings)
{
    setSaveFormat(ImageFile::formatOfSuffix(settings.readString(SectionOptions, KeySaveFormat).trimmed())
                      .value_or(DefaultFormat));
    setNameTemplate(settings.readString(SectionOptions, KeyNameTemplate));
    setAutoSave(settings.readBool(SectionOptions, KeyAutoSave, false));
}

void TSaveOptions::store(TIniSettings &settings)
{
    if (saveFormat() != DefaultFormat || !settings.readString(SectionOptions, KeySaveFormat).isNull())
        settings.writeString(SectionOptions, KeySaveFormat, formatKey(saveFormat()));
    if (autoSave() || !settings.readString(SectionOptions, KeyAutoSave).isNull())
        settings.writeBool(SectionOptions, KeyAutoSave, autoSave());
}
