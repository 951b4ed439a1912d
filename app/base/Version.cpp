#include "Version.h"

#include "SnaploomVersion.h"

QString FormatFileVersion(const QString &format)
{
    const int numbers[] = {SNAPLOOM_VERSION_MAJOR, SNAPLOOM_VERSION_MINOR, SNAPLOOM_VERSION_PATCH,
                           SNAPLOOM_VERSION_BUILD};
    QString result;
    int next = 0;
    for (int i = 0; i < format.size(); ++i) {
        if (format[i] == QLatin1Char('%') && i + 1 < format.size() && format[i + 1] == QLatin1Char('d')
            && next < 4) {
            result += QString::number(numbers[next++]);
            ++i;
        } else {
            result += format[i];
        }
    }
    return result;
}

QString ProductName()
{
    return QStringLiteral("Corvane Snaploom");
}

QString ApplicationTitle()
{
    return ProductName() + FormatFileVersion(QStringLiteral(" v.%d.%d"));
}
