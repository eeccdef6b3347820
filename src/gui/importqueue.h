#pragma once

#include <memory>
#include <optional>
#include <utility>

#include <QObject>
#include <QString>
#include <QStringList>

class Process_Import;

// The videos of one import into a working directory, imported in the order
// given, one Process_Import worker at a time. No two queues import into the
// same folder at once, however its path is spelled. A window shows the
// progress; when the window goes first, the queue carries on by itself
// (detach) and frees its folder after its last file.
class ImportQueue final : public QObject
{
    Q_OBJECT

public:
    explicit ImportQueue(const QString &destination, QObject *parent = nullptr);
    Q_DISABLE_COPY(ImportQueue)
    // Lets the file in hand finish and imports no other.
    ~ImportQueue() override;

    // The name a source gets in the working directory: its name up to the
    // first dot, with ".mp4".
    static QString targetName(const QString &source);
    // The first two sources that would land on one name, if any.
    static std::optional<std::pair<QString, QString>> collision(const QStringList &sources);

    QString destination() const { return folder; }
    // A queue, this or another, imports into the destination now.
    bool destinationBusy() const;
    // Imports `sources` in order; false, doing nothing, for an empty list
    // or while the destination is busy.
    bool start(const QStringList &sources);
    bool isRunning() const { return running; }
    // Files done of the list started last.
    int done() const { return finished; }
    // Imports no further file; the one in hand is finished.
    void stop();
    // Goes on without its window: owned by the application from now on,
    // deleted after its last file, stopped when the application quits.
    void detach();

signals:
    void fileStarted(const QString &source);
    // A file is done (imported or not); done() counts it already.
    void fileDone();
    void copyProgress(int value);
    void saveProgress(int value);
    void encodeProgress(int value);
    void allDone();

private:
    void startNext();
    void workerEnded();
    void release();

    const QString folder;
    const QString key; // the destination as claimed
    QStringList rest;
    int finished = 0;
    bool running = false;
    bool claimed = false;
    std::unique_ptr<Process_Import> worker;
};
