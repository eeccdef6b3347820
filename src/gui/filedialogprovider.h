#pragma once

#include <QString>

// Asks the user for files and directories. The main window goes through this
// seam so that tests can answer without a human; this default shows the real
// dialogs.
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
};
