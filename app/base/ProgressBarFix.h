#pragma once

class QProgressBar;

// Makes the status bar's progress bar draw without flicker while its background is still painted.
// Qt widgets already paint through the window's back buffer, so what remains is to make sure the
// bar paints its own background and never paints straight to the screen.
void ApplyProgressBarFix(QProgressBar *progressBar);
