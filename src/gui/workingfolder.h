#pragma once

#include <QObject>
#include <QString>

class FileDialogProvider;
class QLineEdit;
class QStatusBar;
class TableViewFile;

// The working directory, the folder of the videos: kept in the setting
// currentPath, shown in its field, its videos listed in the file table.
class WorkingFolder final : public QObject
{
    Q_OBJECT

public:
    // Starts on the directory of the setting.
    WorkingFolder(QLineEdit *field, TableViewFile &files, QStatusBar *status, QObject *parent);
    Q_DISABLE_COPY(WorkingFolder)

    // "/" as separator when chosen in the dialog; empty before any choice.
    QString path() const { return dir; }
    // The directory exists: videos can be imported into it.
    bool usable() const;
    // Takes `chosen` as the working directory, and remembers it.
    void choose(const QString &chosen);
    // Lists the directory's videos once the files a killed run left half
    // replaced are put right, and says what is wrong with the directory.
    void relist();
    // "Import": the import dialog into the directory, if usable, then the
    // videos listed again.
    void importVideos(FileDialogProvider *dialogs);

private:
    QLineEdit *field;
    TableViewFile &files;
    QStatusBar *status;
    QString dir;
};
