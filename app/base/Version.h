#pragma once

#include <QString>

// The program's four file-version numbers (1.2.0.3) put through a format such as "%d.%d.%d.%d";
// the format takes as many numbers as it names, in order.
QString FormatFileVersion(const QString &format);

// The product's name, "Corvane Snaploom", as the desktop, its dialogs and notifications show it.
QString ProductName();

// The application title, the product's name and the short version: "Corvane Snaploom v.1.2".
QString ApplicationTitle();
