#pragma once

#include <memory>

#include <QString>

#include "filedialogprovider.h"

class MainWindow;

// What several window tests share: a window on a working directory, and the
// choice of a video through the file table.
namespace windowdriver {

// Answers every file dialog with a cancel.
class CancelledDialogs final : public FileDialogProvider
{
public:
    QString existingDirectory(const QString &) override { return QString(); }
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        return QString();
    }
};

// A shown window whose setting names `workingDir`; null when it could not be
// exposed.
std::unique_ptr<MainWindow> showWindowOn(const QString &workingDir);

// Clicks the file table row of `path` and tells whether the window took it as
// its current video.
bool selectVideo(MainWindow &window, const QString &path);

} // namespace windowdriver
