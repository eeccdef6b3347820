#pragma once

#include <opencv2/core.hpp>

#include <QHash>
#include <QString>
#include <QStringList>

#include "batchoptions.h"
#include "report/foldersummary.h"
#include "run/processrun.h"
#include "run/rundriver.h"
#include "zones/areacontour.h"

// What kestrin-batch does with a parsed command line: checks VIDEO and its
// boxes before any file is touched, queues the videos as the window's
// "Process" would, and processes them with the frames decoded on a second
// thread: as one run (tracks carried over), or with --jobs as independent
// one-video runs in child processes. Prints a summary line per video on
// standard output, errors and warnings on standard error.
//
// Exit status: Done; Failed when nothing could start or the only video of
// the queue failed; Skipped when some videos of the queue failed, were
// skipped or were left by an interruption; StopSignal::exitStatus(N) after
// SIGINT, SIGTERM or SIGHUP (the video in hand keeps its partial counts).
class BatchRun
{
public:
    enum Status { Done = 0, Failed = 1, Usage = 2, Skipped = 3 };

    explicit BatchRun(const BatchOptions &options);
    int exec();

    // "<base name>: failed: <reason>"
    static QString failedSummary(const QString &videoPath, const QString &reason);
    // The totals printed by --summary, one line each.
    static QStringList totals(const FolderSummary &folder);

    // Shard `index` of `count` of a folder's videos: every count-th video in
    // file name order, from the index-th. Name order, not listing order, so
    // that shards started on different machines or at different times agree.
    static QStringList shard(const QStringList &videos, int index, int count);

private:
    // The video whose boxes and frame size serve the run; false with a
    // message when it cannot serve.
    bool loadRunSource(const QString &path);
    // The boxes and frame size a --jobs parent read, for a child run.
    bool loadSnapshot(const QString &path);
    int runQueue(const QStringList &queue);
    int runJobs(const QStringList &queue);
    // What the run ends with, from how its videos ended.
    int finalStatus(int videos, int failed, int skipped) const;
    void error(const QString &text);
    void warning(const QString &text);
    void result(const QString &line);
    // --summary: the folder's summary files and totals.
    Status writeSummary();
    // A video's end on standard error and its summary line.
    void reportEnd(const RunDriver::VideoEnd &end);
    // The videos of `queue` counted with boxes of their own (--boxes own),
    // and those boxes; with --boxes current none, and a warning for each
    // video whose own differ from the run's.
    QHash<QString, AreaContour> ownBoxes(const QStringList &queue);
    // Removes the snapshot folders of --jobs parents that were killed.
    void removeDeadTemporaries();

    BatchOptions options;
    AreaContour zones;
    cv::Size frameSize;
    QString sourcePath; // absolute
    QString outputProblem; // standard output could not be written
};
