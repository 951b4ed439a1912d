#pragma once

#include <QImage>
#include <QMdiSubWindow>
#include <QSize>

class TImageView;
class QCloseEvent;

// One window per capture, inside the main window's MDI area. It shows the captured picture at
// 1:1 on a tiled background, saves it as a Windows bitmap and asks before an unsaved picture is lost.
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

    // Asks for a file name and writes the picture there as a Windows bitmap.
    // True when written; false when cancelled, an overwrite was declined, or the write failed.
    bool SaveImage();

    // While its picture still builds up during a capture, the window has nothing to save or
    // copy and closes without a question (which cancels the capture).
    void setBuilding(bool building) { m_building = building; }
    bool building() const { return m_building; }

    // The control that paints the background and the picture; exposed for tests of its geometry.
    TImageView *imageView() const { return m_view; }

    // True once the image was saved, or its loss accepted: closing then asks nothing.
    bool saved() const { return m_saved; }
    void setSaved(bool saved) { m_saved = saved; }
    // Set while the program exits, so the window closes without its own question.
    bool skipSaveQuery() const { return m_skipSaveQuery; }
    void setSkipSaveQuery(bool skip) { m_skipSaveQuery = skip; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool FormCloseQuery();

    TImageView *m_view = nullptr;
    bool m_building = false;
    bool m_saved = false;
    bool m_skipSaveQuery = false;
};
