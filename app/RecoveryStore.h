#pragma once

#include <QImage>
#include <QLockFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "NameTemplate.h"

// Pictures not yet saved, kept as PNG files from the moment their capture completes, so that a
// crash, a kill or a power loss loses none. Each run keeps its pictures in a folder of its own
// inside the recovery folder, held by a lock file for as long as the run lasts; a folder whose
// lock nobody holds any more was left by a run that ended before its pictures were saved.
class TRecoveryStore
{
public:
    // The recovery folder of the settings folder's rules, or another one (tests).
    TRecoveryStore();
    explicit TRecoveryStore(const QString &folder);
    ~TRecoveryStore();
    TRecoveryStore(const TRecoveryStore &) = delete;
    TRecoveryStore &operator=(const TRecoveryStore &) = delete;

    // Writes the picture, with the texts it carries, completely and on the disk before it counts.
    // Returns the file it is kept in, empty when it could not be kept (a full disk, a folder
    // closed to us).
    QString keep(const QImage &picture);

    // The picture was saved, or its loss accepted: its file goes.
    static void forget(const QString &file);

    // Pictures left by earlier runs, oldest first.
    QStringList leftovers() const;
    // Moves leftover pictures into this run, which from now on keeps them; returns their new
    // files, in the same order (a file that could not be taken over is left out).
    QStringList adopt(const QStringList &files);
    // Deletes leftover pictures, and the folders of earlier runs they leave empty.
    void discard(const QStringList &files);

    // What a picture's generated names are made from travels with its copy, as PNG texts, so a
    // picture found again is named as it would have been.
    static void writeFields(QImage &picture, const NameFields &fields);
    static std::optional<NameFields> fieldsOf(const QImage &picture);

private:
    bool openSession();
    QString nextFileName();

    QString m_folder;
    QString m_session;   // this run's folder, made at the first picture kept
    std::unique_ptr<QLockFile> m_lock;
    int m_count = 0;
};
