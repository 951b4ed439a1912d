#include "ImageForm.h"

#include "Dialogs.h"
#include "ImageFile.h"
#include "ImageView.h"
#include "RecoveryStore.h"
#include "SaveFolder.h"
#include "SaveOptions.h"

#include <QCloseEvent>
#include <QDir>
#include <QBuffer>
#include <QDrag>
#include <QFileInfo>
#include <QLayout>
#include <QMdiArea>
#include <QMenu>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QStandardPaths>
#include <QUrl>

namespace {

const QString DesignTitle = QStringLiteral("New image.");

// The save dialog's types, each with the format it writes and the suffix a bare name gets.
// "All Files" lists every file, also one without a dot, and so leaves a typed name as it is.
struct SaveType
{
    Dialogs::FileType type;
    ImageFile::Format format;
};
const QList<SaveType> SaveTypes = {
    {{QStringLiteral("PNG Images (*.PNG)"), {QStringLiteral("*.PNG")}, QStringLiteral("png")}, ImageFile::Format::Png},
    {{QStringLiteral("Windows Bitmap Files (*.BMP)"), {QStringLiteral("*.BMP")}, QStringLiteral("BMP")},
     ImageFile::Format::Bmp},
    {{QStringLiteral("JPEG Images (*.JPG)"), {QStringLiteral("*.JPG"), QStringLiteral("*.JPEG")}, QStringLiteral("jpg")},
     ImageFile::Format::Jpeg},
    {{QStringLiteral("All Files (*.*)"), {QStringLiteral("*")}, QStringLiteral("BMP")}, ImageFile::Format::Bmp},
};
constexpr int AllFilesType = 3;

QList<Dialogs::FileType> dialogTypes()
{
    QList<Dialogs::FileType> types;
    for (const SaveType &entry : SaveTypes)
        types << entry.type;
    return types;
}

int typeOfFormat(ImageFile::Format format)
{
    for (int i = 0; i < AllFilesType; ++i)
        if (SaveTypes.at(i).format == format)
            return i;
    return 0;
}

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

// Where a generated name puts the picture: the template's path inside folder, with the suffix of
// the format.
QString generatedPath(const QString &folder, const NameFields &fields, ImageFile::Format format)
{
    return QDir(folder).filePath(NameTemplate(TSaveOptions::nameTemplate()).expand(fields) + ImageFile::suffix(format));
}

// The picture under the mouse pointer while it is dragged, at most this wide and high.
constexpr int DragPictureSide = 128;

// Design size of the image area, used until a picture arrives.
constexpr QSize DesignClientSize{272, 480};

} // namespace

TfrmImage::TfrmImage(QWidget *parent)
    : QMdiSubWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(DesignTitle);
    m_view = new TImageView(this);
    // A small picture gets a small window; the scroll area's own minimum would pad it with tiles.
    m_view->setMinimumSize(1, 1);
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    setWidget(m_view);
    setClientSize(DesignClientSize);
    connect(m_view, &QWidget::customContextMenuRequested, this, &TfrmImage::showContextMenu);
    connect(m_view, &TImageView::dragOutStarted, this, &TfrmImage::dragOut);
    connect(m_view, &TImageView::zoomChanged, this, &TfrmImage::showZoomInTitle);
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

void TfrmImage::setNameFields(const NameFields &fields)
{
    m_fields = fields;
    m_hasFields = true;
}

// A window that came from no capture is named as of now.
NameFields TfrmImage::fieldsForName() const
{
    NameFields fields = m_fields;
    if (!m_hasFields)
        fields.capturedAt = QDateTime::currentDateTime();
    return fields;
}

// A new capture proposes a name from the template, one that names no file in the folder yet;
// an image saved before proposes its path, and one that came from no capture its title.
QString TfrmImage::proposedName(ImageFile::Format format) const
{
    if (!m_hasFields || QFileInfo(m_name).isAbsolute())
        return m_name;
    const QString path = NameTemplate::freePath(generatedPath(TSaveFolder::startFolder(), m_fields, format));
    // Without its suffix, which the dialog adds from the chosen type.
    return QFileInfo(path).fileName().chopped(ImageFile::suffix(format).size());
}

bool TfrmImage::SaveImage()
{
    if (m_building)
        return false;
    const int preselected = typeOfFormat(TSaveOptions::saveFormat());
    const Dialogs::SaveChoice choice = Dialogs::saveFile(this, proposedName(SaveTypes.at(preselected).format),
                                                         dialogTypes(), preselected, TSaveFolder::startFolder());
    if (choice.fileName.isEmpty())
        return false;

    if (QFileInfo::exists(choice.fileName)
        && Dialogs::message(this, Dialogs::MessageKind::Confirmation, replaceQuestion(choice.fileName),
                            QMessageBox::Yes | QMessageBox::No)
            != QMessageBox::Yes)
        return false;

    // The name's suffix decides the format, so a file called .png holds PNG; a name without a
    // known suffix is written in the chosen type's format.
    const int type = qBound(0, choice.type, int(SaveTypes.size()) - 1);
    const ImageFile::Format format =
        ImageFile::formatOfSuffix(QFileInfo(choice.fileName).suffix()).value_or(SaveTypes.at(type).format);
    const QString fullPath = QFileInfo(choice.fileName).absoluteFilePath();
    if (!writePicture(fullPath, format))
        return false;
    // The dialog opens on the type chosen last; after "All Files", on the format written.
    TSaveOptions::setSaveFormat(type == AllFilesType ? format : SaveTypes.at(type).format);
    return true;
}

QString TfrmImage::saveInto(const QString &folder, QString *error)
{
    if (m_building) {
        *error = QString();
        return QString();
    }
    const ImageFile::Format format = TSaveOptions::saveFormat();
    const QString wanted = generatedPath(folder, fieldsForName(), format);
    QString reason;
    // The free name is claimed at once, so two pictures saved in the same second never share it.
    const QString path = NameTemplate::makeFolders(wanted, &reason) ? NameTemplate::claimFreePath(wanted, &reason)
                                                                     : QString();
    if (path.isEmpty()) {
        *error = cannotCreateError(wanted, reason);
        return QString();
    }
    if (!ImageFile::write(picture(), path, format, &reason)) {
        NameTemplate::releaseClaim(path);
        *error = cannotCreateError(path, reason);
        return QString();
    }
    markSavedAs(path);
    return path;
}

// Written through a temporary file, so a failed write never damages a file already there.
bool TfrmImage::writePicture(const QString &fullPath, ImageFile::Format format)
{
    QString reason;
    if (!ImageFile::write(picture(), fullPath, format, &reason)) {
        Dialogs::message(this, Dialogs::MessageKind::Error, cannotCreateError(fullPath, reason));
        return false;
    }
    markSavedAs(fullPath);
    TSaveFolder::setLastSaveFolder(QFileInfo(fullPath).absolutePath());
    return true;
}

// The file's path is the image's name from now on, and the kept copy is no longer needed.
void TfrmImage::markSavedAs(const QString &path)
{
    setWindowTitle(path);
    m_saved = true;
    forgetRecovery();
}

void TfrmImage::forgetRecovery()
{
    TRecoveryStore::forget(std::exchange(m_recoveryFile, QString()));
}

bool TfrmImage::FormCloseQuery()
{
    if (m_skipSaveQuery || m_saved || m_building)
        return true;

    switch (Dialogs::message(this, Dialogs::MessageKind::Confirmation, saveQuestion(m_name),
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
    // Saved, or its loss accepted: nothing is left to recover. A window closed while the program
    // exits keeps its copy until the exit decides.
    if (m_saved)
        forgetRecovery();
    QMdiSubWindow::closeEvent(event);
}

// ---------------------------------------------------------------------------------------------
// Zoom, context menu and dragging

void TfrmImage::zoomIn()
{
    m_view->zoomIn();
}

void TfrmImage::zoomOut()
{
    m_view->zoomOut();
}

void TfrmImage::actualSize()
{
    m_view->actualSize();
}

void TfrmImage::fitToWindow()
{
    m_view->fitToWindow();
}

int TfrmImage::zoomPercent() const
{
    return m_view->zoomPercent();
}

void TfrmImage::changeEvent(QEvent *event)
{
    QMdiSubWindow::changeEvent(event);
    // A title set from outside (a capture's number, a saved file's path) is the image's name.
    if (event->type() == QEvent::WindowTitleChange && !m_showingZoom) {
        m_name = windowTitle();
        showZoomInTitle();
    }
}

void TfrmImage::showZoomInTitle()
{
    if (!m_view)
        return;   // the design title, set before the view exists
    const QString title = m_view->zoomPercent() == 100 && !m_view->fitsWindow()
        ? m_name
        : QStringLiteral("%1 (%2 %)").arg(m_name).arg(m_view->zoomPercent());
    if (title == windowTitle())
        return;
    const QScopedValueRollback<bool> showing(m_showingZoom, true);
    setWindowTitle(title);
}

void TfrmImage::showContextMenu(const QPoint &position)
{
    QMenu menu(this);
    QAction *copy = menu.addAction(QStringLiteral("&Copy to clipboard"));
    QAction *save = menu.addAction(QStringLiteral("&Save Image As..."));
    copy->setEnabled(!m_building);
    save->setEnabled(!m_building);
    menu.addSeparator();
    // The keys are the main window's; shown here as a reminder, they act only through its menu.
    QAction *in = menu.addAction(QStringLiteral("Zoom &In"), this, &TfrmImage::zoomIn);
    in->setShortcut(QKeySequence::ZoomIn);
    QAction *out = menu.addAction(QStringLiteral("Zoom &Out"), this, &TfrmImage::zoomOut);
    out->setShortcut(QKeySequence::ZoomOut);
    QAction *actual = menu.addAction(QStringLiteral("&Actual Size"), this, &TfrmImage::actualSize);
    actual->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    menu.addAction(QStringLiteral("&Fit to Window"), this, &TfrmImage::fitToWindow);
    for (QAction *item : {in, out, actual})
        item->setShortcutContext(Qt::WidgetShortcut);
    menu.addSeparator();
    QAction *closeItem = menu.addAction(QStringLiteral("C&lose"));

    // Copy and Save act on the active window, which this one becomes first.
    if (mdiArea())
        mdiArea()->setActiveSubWindow(this);
    QAction *chosen = menu.exec(m_view->viewport()->mapToGlobal(position));
    if (chosen == copy)
        emit copyRequested();
    else if (chosen == save)
        emit saveRequested();
    else if (chosen == closeItem)
        close();
}

QImage TfrmImage::pictureWithFields() const
{
    QImage copy = picture();
    if (m_hasFields)
        TRecoveryStore::writeFields(copy, m_fields);
    return copy;
}

// A drop target gets the picture itself as PNG, and the URL of a PNG file for those that take
// files (file managers, mail, chat): the saved file when it is a PNG, else a copy named like a
// generated name.
QMimeData *TfrmImage::dragData()
{
    QString file;
    if (m_saved && ImageFile::formatOfSuffix(QFileInfo(m_name).suffix()) == ImageFile::Format::Png
        && QFileInfo(m_name).isFile()) {
        file = m_name;
    } else {
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation)
            + QStringLiteral("/dragged");
        QDir(folder).removeRecursively();   // the copies of earlier drags
        file = generatedPath(folder, fieldsForName(), ImageFile::Format::Png);
        QString reason;
        if (!NameTemplate::makeFolders(file, &reason)
            || !ImageFile::write(pictureWithFields(), file, ImageFile::Format::Png, &reason))
            file.clear();
    }

    auto *data = new QMimeData;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QString reason;
    if (ImageFile::write(picture(), buffer, ImageFile::Format::Png, &reason))
        data->setData(QStringLiteral("image/png"), png);
    if (!file.isEmpty())
        data->setUrls({QUrl::fromLocalFile(file)});
    return data;
}

void TfrmImage::dragOut()
{
    if (m_building || picture().isNull())
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(dragData());
    drag->setPixmap(QPixmap::fromImage(
        picture().scaled(picture().size().boundedTo(QSize(DragPictureSide, DragPictureSide)), Qt::KeepAspectRatio)));
    drag->exec(Qt::CopyAction);
}
