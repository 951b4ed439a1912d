#include "ImageForm.h"

#include "Dialogs.h"
#include "ImageFile.h"
#include "ImageView.h"
#include "SaveFolder.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLayout>

namespace {

const QString DesignTitle = QStringLiteral("New image.");
// "All Files" lists every file, also one without a dot, and so leaves a typed name as it is.
const QList<Dialogs::FileType> SaveTypes = {
    {QStringLiteral("Windows Bitmap Files (*.BMP)"), {QStringLiteral("*.BMP")}},
    {QStringLiteral("All Files (*.*)"), {QStringLiteral("*")}},
};
const QString SaveDefaultSuffix = QStringLiteral("BMP");

QString replaceQuestion(const QString &fileName)
{
    return QStringLiteral("The file '") + fileName + QStringLiteral("' allready exists.") + QLatin1Char('\r')
        + QStringLiteral("Would you like to replace the file.");
}

QString saveQuestion(const QString &title)
{
    return QStringLiteral("Would you like to save the image '") + title + QStringLiteral("'?");
}

QString cannotCreateError(const QString &fullPath, const QString &reason)
{
    return QStringLiteral("Cannot create file \"%1\". %2").arg(fullPath, reason);
}

// Design size of the image area, used until a picture arrives.
constexpr int DesignClientWidth = 272;
constexpr int DesignClientHeight = 480;

} // namespace

TfrmImage::TfrmImage(QWidget *parent)
    : QMdiSubWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(DesignTitle);
    m_view = new TImageView(this);
    // A small picture gets a small window; the scroll area's own minimum would pad it with tiles.
    m_view->setMinimumSize(1, 1);
    setWidget(m_view);
    setClientSize(QSize(DesignClientWidth, DesignClientHeight));
}

TfrmImage::~TfrmImage() = default;

void TfrmImage::setPicture(const QImage &picture)
{
    m_view->setPicture(picture);
}

QImage TfrmImage::picture() const
{
    return m_view->picture();
}

void TfrmImage::setClientSize(const QSize &size)
{
    // The frame is the title bar and borders the style puts around the client widget.
    ensurePolished();
    QMargins frame = contentsMargins();
    if (layout())
        frame += layout()->contentsMargins();
    resize(size.grownBy(frame));
}

bool TfrmImage::SaveImage()
{
    if (m_building)
        return false;
    const QString fileName =
        Dialogs::saveFileName(this, windowTitle(), SaveTypes, SaveDefaultSuffix, TSaveFolder::startFolder());
    if (fileName.isEmpty())
        return false;

    if (QFileInfo::exists(fileName)
        && Dialogs::message(this, Dialogs::MessageKind::Confirmation, replaceQuestion(fileName),
                            QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return false;

    // Written through a temporary file, so a failed write never damages a file already there.
    const QString fullPath = QFileInfo(fileName).absoluteFilePath();
    QString reason;
    if (!ImageFile::write(picture(), fullPath, ImageFile::Format::Bmp, &reason)) {
        Dialogs::message(this, Dialogs::MessageKind::Error, cannotCreateError(fullPath, reason));
        return false;
    }

    setWindowTitle(fullPath);
    m_saved = true;
    TSaveFolder::setLastSaveFolder(QFileInfo(fullPath).absolutePath());
    return true;
}

bool TfrmImage::FormCloseQuery()
{
    if (m_skipSaveQuery || m_saved || m_building)
        return true;

    switch (Dialogs::message(this, Dialogs::MessageKind::Confirmation, saveQuestion(windowTitle()),
                             QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        m_saved = SaveImage();
        return m_saved;
    case QMessageBox::No:
        m_saved = true; // the user accepted the loss
        return true;
    default:
        m_saved = false;
        return false;
    }
}

void TfrmImage::closeEvent(QCloseEvent *event)
{
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QMdiSubWindow::closeEvent(event);
}
