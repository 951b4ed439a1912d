#include "ImageCommands.h"

#include "Dialogs.h"
#include "ImageForm.h"
#include "ImageWorkspace.h"
#include "SaveFolder.h"
#include "SaveOptions.h"

#include <QAction>
#include <QDir>
#include <QImageReader>
#include <QMenu>

namespace {

QString savedText(int count, const QString &folder)
{
    const QString shown = QDir::toNativeSeparators(folder);
    return count == 1 ? QStringLiteral("Saved 1 image in %1").arg(shown)
                      : QStringLiteral("Saved %1 images in %2").arg(count).arg(shown);
}

} // namespace

TImageCommands::TImageCommands(ImageWorkspace *workspace, WindowOpener openWindow, QObject *parent)
    : QObject(parent)
    , m_workspace(workspace)
    , m_openWindow(std::move(openWindow))
{
    m_saveAll = new QAction(QStringLiteral("Save &All Images"), this);
    m_saveAll->setObjectName(QStringLiteral("mnuSaveAllImages"));
    m_autoSave = new QAction(QStringLiteral("&Auto-save captures"), this);
    m_autoSave->setObjectName(QStringLiteral("mnuAutoSave"));
    m_autoSave->setCheckable(true);
    m_autoSave->setChecked(TSaveOptions::autoSave());

    m_zoomIn = new QAction(QStringLiteral("Zoom &In"), this);
    m_zoomIn->setObjectName(QStringLiteral("mnuZoomIn"));
    // Ctrl++ is Ctrl+Shift+= on many keyboards; Ctrl+= spares the Shift.
    m_zoomIn->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)});
    m_zoomOut = new QAction(QStringLiteral("Zoom &Out"), this);
    m_zoomOut->setObjectName(QStringLiteral("mnuZoomOut"));
    m_zoomOut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Minus));
    m_actualSize = new QAction(QStringLiteral("&Actual Size"), this);
    m_actualSize->setObjectName(QStringLiteral("mnuActualSize"));
    m_actualSize->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    m_fitToWindow = new QAction(QStringLiteral("&Fit to Window"), this);
    m_fitToWindow->setObjectName(QStringLiteral("mnuFitToWindow"));

    connect(m_saveAll, &QAction::triggered, this, &TImageCommands::saveAll);
    connect(m_autoSave, &QAction::toggled, this, [](bool on) { TSaveOptions::setAutoSave(on); });
    connect(m_zoomIn, &QAction::triggered, this, [this] { zoomActive(&TfrmImage::zoomIn); });
    connect(m_zoomOut, &QAction::triggered, this, [this] { zoomActive(&TfrmImage::zoomOut); });
    connect(m_actualSize, &QAction::triggered, this, [this] { zoomActive(&TfrmImage::actualSize); });
    connect(m_fitToWindow, &QAction::triggered, this, [this] { zoomActive(&TfrmImage::fitToWindow); });
    updateStates();
}

QString TImageCommands::savedAsText(const QString &path)
{
    return QStringLiteral("Saved as %1").arg(QDir::toNativeSeparators(path));
}

TImageCommands::~TImageCommands() = default;

void TImageCommands::fillViewMenu(QMenu *menu) const
{
    menu->addAction(m_zoomIn);
    menu->addAction(m_zoomOut);
    menu->addAction(m_actualSize);
    menu->addAction(m_fitToWindow);
}

void TImageCommands::updateStates()
{
    const TfrmImage *active = m_workspace->activeImageWindow();
    const bool zoomable = active && !active->building();
    for (QAction *item : {m_zoomIn, m_zoomOut, m_actualSize, m_fitToWindow})
        item->setEnabled(zoomable);
    const QList<TfrmImage *> windows = m_workspace->imageWindows();
    m_saveAll->setEnabled(std::any_of(windows.cbegin(), windows.cend(), [](const TfrmImage *window) {
        return !window->saved() && !window->building();
    }));
}

void TImageCommands::zoomActive(void (TfrmImage::*zoom)())
{
    if (TfrmImage *window = m_workspace->activeImageWindow(); window && !window->building())
        (window->*zoom)();
}

void TImageCommands::captureCompleted(TfrmImage *window, const NameFields &fields)
{
    window->setNameFields(fields);
    window->setRecoveryFile(m_recovery.keep(window->pictureWithFields()));
    if (!TSaveOptions::autoSave())
        return;
    QString error;
    const QString path = window->saveInto(TSaveFolder::startFolder(), &error);
    emit statusText(path.isEmpty() ? QStringLiteral("Not saved: %1").arg(error) : savedAsText(path));
    updateStates();
}

void TImageCommands::saveAll()
{
    const QString folder = TSaveFolder::startFolder();
    int saved = 0;
    for (TfrmImage *window : m_workspace->imageWindows()) {
        if (window->saved() || window->building())
            continue;
        QString error;
        if (window->saveInto(folder, &error).isEmpty()) {
            // The pictures saved so far stay saved; the rest wait, their copies still kept.
            if (saved > 0)
                emit statusText(savedText(saved, folder));
            Dialogs::message(window, Dialogs::MessageKind::Error, error);
            updateStates();
            return;
        }
        ++saved;
    }
    emit statusText(saved == 0 ? QStringLiteral("Every image is saved.") : savedText(saved, folder));
    updateStates();
}

void TImageCommands::offerLeftovers()
{
    const QStringList files = m_recovery.leftovers();
    if (files.isEmpty())
        return;
    if (Dialogs::message(m_workspace->window(), Dialogs::MessageKind::Confirmation,
                         QStringLiteral("%1 captures from an earlier session were not saved. Reopen them?")
                             .arg(files.size()),
                         QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes) {
        m_recovery.discard(files);
        return;
    }
    for (const QString &file : m_recovery.adopt(files)) {
        QImageReader reader(file, QByteArrayLiteral("PNG"));
        const QImage picture = reader.read();
        if (picture.isNull()) {
            // Copies are renamed into place only when whole, so this is no picture of ours.
            TRecoveryStore::forget(file);
            continue;
        }
        TfrmImage *window = m_openWindow(picture);
        if (!window)
            continue;
        if (const std::optional<NameFields> fields = TRecoveryStore::fieldsOf(picture))
            window->setNameFields(*fields);
        window->setRecoveryFile(file);
    }
    updateStates();
}

void TImageCommands::forgetUnsaved()
{
    for (TfrmImage *window : m_workspace->imageWindows())
        window->forgetRecovery();
}
