#include "Dialogs.h"

#include "Version.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>

namespace Dialogs {

namespace {

MessageHandler &messageHandler()
{
    static MessageHandler handler;
    return handler;
}

SaveFileHandler &saveFileHandler()
{
    static SaveFileHandler handler;
    return handler;
}

QMessageBox::Icon iconFor(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Error:
        return QMessageBox::Critical;
    case MessageKind::Warning:
        return QMessageBox::Warning;
    case MessageKind::Information:
        return QMessageBox::Information;
    case MessageKind::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// The program's texts break lines with a carriage return; a message box breaks them with "\n".
QString displayText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

// Stands in for the file dialog's own rule: a name typed without an extension gets the default one.
QString withDefaultSuffix(const QString &fileName, const QString &defaultSuffix)
{
    if (fileName.isEmpty() || defaultSuffix.isEmpty() || !QFileInfo(fileName).suffix().isEmpty())
        return fileName;
    return fileName + QLatin1Char('.') + defaultSuffix;
}

// The program's title for message boxes: the application's display name, or the product name.
QString applicationTitle()
{
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? ProductName() : name;
}

} // namespace

QMessageBox::StandardButton message(QWidget *parent, MessageKind kind, const QString &text,
                                    QMessageBox::StandardButtons buttons)
{
    if (messageHandler())
        return messageHandler()(kind, text, buttons);

    QMessageBox box(iconFor(kind), applicationTitle(), displayText(text), buttons, parent);
    box.setTextFormat(Qt::PlainText);
    const int answer = box.exec();
    // Dismissed without a button that means anything: treat as Cancel.
    if (!(buttons & QMessageBox::StandardButton(answer)))
        return QMessageBox::Cancel;
    return QMessageBox::StandardButton(answer);
}

SaveChoice saveFile(QWidget *parent, const QString &proposedName, const QList<FileType> &types, int preselected,
                    const QString &startFolder)
{
    preselected = qBound(0, preselected, int(types.size()) - 1);
    const QString preselectedSuffix = types.value(preselected).suffix;
    if (saveFileHandler()) {
        QStringList captions;
        for (const FileType &type : types)
            captions << type.caption;
        const QString chosen = saveFileHandler()(proposedName, captions, preselectedSuffix);
        return {withDefaultSuffix(chosen, preselectedSuffix), chosen.isEmpty() ? -1 : preselected};
    }

    // The dialog reads a type's patterns from the last brackets of its entry and, with their
    // details hidden, shows only what stands before them: the caption.
    QStringList filters;
    for (const FileType &type : types)
        filters << type.caption + QStringLiteral(" (") + type.patterns.join(QLatin1Char(' ')) + QLatin1Char(')');

    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The program asks about replacing a file itself, with its own text.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    dialog.setNameFilters(filters);
    if (!filters.isEmpty())
        dialog.selectNameFilter(filters.at(preselected));
    dialog.setDefaultSuffix(preselectedSuffix);
    // The dialog names a type by its entry, or, with the details hidden, by its caption alone.
    const auto typeIndex = [&filters, &types](const QString &filter) {
        const int index = filters.indexOf(filter);
        if (index >= 0)
            return index;
        for (int i = 0; i < types.size(); ++i)
            if (types.at(i).caption == filter)
                return i;
        return -1;
    };
    // A name typed without a suffix takes the one of the type selected at that moment.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &types, typeIndex](const QString &filter) {
        const int index = typeIndex(filter);
        if (index >= 0)
            dialog.setDefaultSuffix(types.at(index).suffix);
    });
    dialog.setDirectory(startFolder);
    // A full path (an image saved before) opens in its own folder.
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return {dialog.selectedFiles().first(), typeIndex(dialog.selectedNameFilter())};
}

void setMessageHandler(MessageHandler handler)
{
    messageHandler() = std::move(handler);
}

void setSaveFileHandler(SaveFileHandler handler)
{
    saveFileHandler() = std::move(handler);
}

} // namespace Dialogs
