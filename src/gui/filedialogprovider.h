#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Asks the user for files and directories, and for a yes or no before
// something is destroyed. The windows go through this seam so that tests can
// answer without a human; this default shows the real dialogs.
class FileDialogProvider
{
public:
    FileDialogProvider() = default;
    virtual ~FileDialogProvider();
    FileDialogProvider(const FileDialogProvider &) = delete;
    FileDialogProvider &operator=(const FileDialogProvider &) = delete;

    // A directory picked in a tree, starting at `start`; empty when cancelled.
    virtual QString existingDirectory(const QString &start);
    // A file name to save to; empty when cancelled.
    virtual QString saveFileName(const QString &caption, const QString &dir, const QString &filter);
    // A file name to save a picture to, with the index in `filters` of the
    // kind chosen; empty when cancelled.
    virtual QString saveImageName(const QString &caption, const QStringList &filters, int &chosen);
    // A yes-or-no question; true for yes.
    virtual bool question(QWidget *parent, const QString &title, const QString &text);
    // Tells the user why something was refused.
    virtual void warning(QWidget *parent, const QString &title, const QString &text);
};
