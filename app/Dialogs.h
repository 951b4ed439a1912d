#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

// Every message box and file dialog of the desktop program goes through here, so that
// tests can answer them instead of a person.
namespace Dialogs {

enum class MessageKind { Error, Warning, Information, Confirmation };

// A modal message box titled with the application's title. "\r" in the text is shown as a
// line break. Returns the button pressed; the escape button when the box is dismissed.
QMessageBox::StandardButton message(QWidget *parent, MessageKind kind, const QString &text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// One entry of a file dialog's type list: the caption the user reads, the patterns of the files
// it lists, and the suffix (without the dot) a name typed without one gets while it is selected.
struct FileType
{
    QString caption;
    QStringList patterns;
    QString suffix;
};

// What the user chose in the save-file dialog: the full path, empty when cancelled, and the
// type that was selected when the dialog was accepted.
struct SaveChoice
{
    QString fileName;
    int type = -1;
};

// The save-file dialog: proposed file name, type list with the preselected type, and the folder
// it opens in unless the proposed name is a full path. Choosing a type never rewrites the typed
// name. It does not ask about overwriting; the caller does.
SaveChoice saveFile(QWidget *parent, const QString &proposedName, const QList<FileType> &types, int preselected,
                    const QString &startFolder);

// Test hooks: when set, they answer instead of a real dialog. An empty function removes the hook.
using MessageHandler = std::function<QMessageBox::StandardButton(
    MessageKind, const QString &text, QMessageBox::StandardButtons)>;
void setMessageHandler(MessageHandler handler);

// The save-file hook is handed the type captions and the preselected type's suffix; the
// preselected type counts as chosen.
using SaveFileHandler = std::function<QString(const QString &proposedName, const QStringList &filters,
                                              const QString &defaultSuffix)>;
void setSaveFileHandler(SaveFileHandler handler);

} // namespace Dialogs
