#pragma once

#include <memory>

#include <QString>
#include <QStringList>

#include "filedialogprovider.h"

class MainWindow;

// What several window tests share: a window on a working directory, and the
// choice of a video through the file table.
namespace windowdriver {

// Answers the directory dialog with the folder it opens on (the same working
// directory chosen again), every other file dialog with a cancel and every
// question with `answer`, and keeps what was asked or refused.
class CancelledDialogs final : public FileDialogProvider
{
public:
    QString existingDirectory(const QString &start) override
    {
        return sameDirectory ? start : QString();
    }
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    QString saveImageName(const QString &, const QStringList &, int &) override
    {
        return QString();
    }
    bool question(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        return answer;
    }
    void warning(QWidget *, const QString &, const QString &text) override { warnings << text; }

    bool answer = true;
    bool sameDirectory = true; // false: the directory dialog is cancelled
    QStringList questions;
    QStringList warnings;
};

// A shown window whose setting names `workingDir`; null when it could not be
// exposed.
// `dialogs`, when given, is pointed at the window's dialogs.
std::unique_ptr<MainWindow> showWindowOn(
    const QString &workingDir, CancelledDialogs **dialogs = nullptr);

// Clicks the file table row of `path` and tells whether the window took it as
// its current video.
bool selectVideo(MainWindow &window, const QString &path);

} // namespace windowdriver
