#pragma once

#include "ImageFile.h"

#include <QString>

class TIniSettings;

// How the desktop program writes pictures, kept in the settings file's [Options]: the type the
// save dialog had last (SaveFormat), the template of generated names (NameTemplate), and whether
// each capture is saved the moment it completes (AutoSave).
class TSaveOptions
{
public:
    static ImageFile::Format saveFormat();
    static void setSaveFormat(ImageFile::Format format);

    // Always one that can make names: a template with a problem gives way to the default.
    static QString nameTemplate();
    static void setNameTemplate(const QString &text);
    static QString defaultNameTemplate();

    static bool autoSave();
    static void setAutoSave(bool on);

    // A missing key, or a value that names nothing known, reads as the default.
    static void load(const TIniSettings &settings);
    // Writes a key only when it differs from its default or the file had it already, so a file
    // of an earlier version gains nothing it does not need. The template is the user's to edit
    // and never written.
    static void store(TIniSettings &settings);

    // "bmp", "png" or "jpg", as the settings file holds the format.
    static QString formatKey(ImageFile::Format format);
};
