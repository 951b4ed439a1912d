#pragma once

#include <QImage>
#include <QMdiSubWindow>
#include <QSize>

#include "NameTemplate.h"
#include "ImageFile.h"

class TImageView;
class QAction;
class QCloseEvent;
class QMimeData;

// One window per capture, inside the main window's MDI area. It shows the captured picture on a
// tiled background at the zoom the user chooses, saves it as PNG, BMP or JPEG and asks before an
// unsaved picture is lost.
class TfrmImage : public QMdiSubWindow
{
    Q_OBJECT

public:
    explicit TfrmImage(QWidget *parent = nullptr);
    ~TfrmImage() override;

    // The picture shown by the `img` control, at its natural size.
    void setPicture(const QImage &picture);
    QImage picture() const;

    // Makes the client area (the part inside the frame) exactly this size.
    void setClientSize(const QSize &size);

    // What generated file names are made of: the instrument, the port, the capture's number and
    // the moment it completed. A window without them proposes its title.
    void setNameFields(const NameFields &fields);
    const NameFields &nameFields() const { return m_fields; }
    // The picture with what it was taken from, kept in its PNG copies.
    QImage pictureWithFields() const;

    // The image's name: "New image N" until saved, then the file's full path. The title adds the
    // zoom while it is not 1:1.
    QString imageName() const { return m_name; }

    // Asks for a file name and writes the picture there, in the format its suffix names (a name
    // without one takes the chosen type's). True when written; false when cancelled, an
    // overwrite was declined, or the write failed.
    bool SaveImage();

    // Writes the picture into folder under a generated name that names no file there yet, in the
    // save dialog's last format, without a dialog. The path written, or empty with the reason.
    QString saveInto(const QString &folder, QString *error);

    // While its picture still builds up during a capture, the window has nothing to save or
    // copy and closes without a question (which cancels the capture).
    void setBuilding(bool building) { m_building = building; }
    bool building() const { return m_building; }

    // The copy of the picture kept until it is saved or its loss accepted, so a crash loses nothing.
    void setRecoveryFile(const QString &file) { m_recoveryFile = file; }
    QString recoveryFile() const { return m_recoveryFile; }
    // The loss of the picture is accepted: its kept copy goes.
    void forgetRecovery();

    // Zoom of the picture (also Ctrl with the mouse wheel).
    void zoomIn();
    void zoomOut();
    void actualSize();
    void fitToWindow();
    int zoomPercent() const;

    // What a drag of the picture hands over: the picture as image/png, and the URL of a PNG file.
    QMimeData *dragData();

    // The control that paints the background and the picture; exposed for tests of its geometry.
    TImageView *imageView() const { return m_view; }

    // True once the image was saved, or its loss accepted: closing then asks nothing.
    bool saved() const { return m_saved; }
    void setSaved(bool saved) { m_saved = saved; }
    // Set while the program exits, so the window closes without its own question.
    bool skipSaveQuery() const { return m_skipSaveQuery; }
    void setSkipSaveQuery(bool skip) { m_skipSaveQuery = skip; }

signals:
    // The context menu's Copy and Save Image As...: the main window runs its own commands on this
    // window, so they behave and report exactly as from its menus.
    void copyRequested();
    void saveRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool FormCloseQuery();
    bool writePicture(const QString &fullPath, ImageFile::Format format);
    void markSavedAs(const QString &path);
    QString proposedName(ImageFile::Format format) const;
    void showZoomInTitle();
    void showContextMenu(const QPoint &position);
    void dragOut();
    NameFields fieldsForName() const;

    TImageView *m_view = nullptr;
    NameFields m_fields;
    bool m_hasFields = false;
    QString m_name;
    QString m_recoveryFile;
    bool m_building = false;
    bool m_showingZoom = false;
    bool m_saved = false;
    bool m_skipSaveQuery = false;
};
