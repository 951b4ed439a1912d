#include "ProgressBarFix.h"

#include <QProgressBar>

void ApplyProgressBarFix(QProgressBar *progressBar)
{
    if (!progressBar)
        return;
    progressBar->setAttribute(Qt::WA_PaintOnScreen, false);     // keep the back buffer
    progressBar->setAttribute(Qt::WA_OpaquePaintEvent, false);  // the background is painted
    progressBar->setAttribute(Qt::WA_NoSystemBackground, false);
    progressBar->setAutoFillBackground(true);
}
