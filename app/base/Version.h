#pragma once

#include <QString>

// The program's four file-version numbers (1.2.0.3) put through a format such as "%d.%d.%d.%d";
// the format takes as many numbers as it names, in order.
QString FormatFileVersion(const QString &format);

// The application title, "Corvane Snaploom" and the short version: "Corvane Snaploom v.1.2".
QString ApplicationTitle();
