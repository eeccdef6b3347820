#pragma once

#include <opencv2/core.hpp>

#include <QString>
#include <QStringList>

#include "areacontour.h"
#include "batchoptions.h"
#include "foldersummary.h"
#include "framereader.h"
#include "processrun.h"

// What kestrin-batch does with a parsed command line: checks VIDEO and its
// boxes before any file is touched, queues the videos as the window's
// "Process" would, and processes them with the frames decoded on a second
// thread: as one run (tracks carried over), or with --jobs as independent
// one-video runs in child processes. Prints a summary line per video on
// standard output, errors and warnings on standard error.
class BatchRun
{
public:
    enum Status { Done = 0, Failed = 1, Usage = 2, Skipped = 3 };

    explicit BatchRun(const BatchOptions &options);
    Status exec();

    // "<base name>: <frames> frames, <in> in, <out> out", then ", " and
    // `note` when there is one.
    static QString summary(
        const QString &videoPath, int frames, int in, int out, const QString &note = QString());
    // The totals printed by --summary, one line each.
    static QStringList totals(const FolderSummary &folder);

private:
    // The video whose boxes and frame size serve the run; false with a
    // message when it cannot serve.
    bool loadRunSource(const QString &path);
    Status runQueue(const QStringList &queue);
    Status runJobs(const QStringList &queue);
    // --summary: the folder's summary files and totals.
    Status writeSummary();
    // After a video: its files that could not be written fail the run.
    bool reportWriteErrors(const ProcessRun &run);
    void error(const QString &text) const;
    void warning(const QString &text) const;

    BatchOptions options;
    AreaContour zones;
    cv::Size frameSize;
    QString sourcePath; // absolute
    cv::Mat sourceFrame; // its frame 90
    FrameReader reader; // VIDEO's, open at frame 90 until the run takes it
};
