#pragma once

#include <QString>
#include <QStringList>

#include "activitybins.h"
#include "processrun.h"

// The command line of kestrin-batch:
//   kestrin-batch [--mode one|all|unprocessed] [--counting classic|robust] [--jobs N]
//                 [--tracks] [--quiet] VIDEO
//   kestrin-batch --summary DIR [--bin 10m|1h|1d]
class BatchOptions
{
public:
    enum class Action { Run, Summary, Help, Version, UsageError };

    // True when `arguments` ask for a summary: the program then needs a
    // GUI application (fonts and painting), made before parsing.
    static bool wantsSummary(const QStringList &arguments);

    // `arguments` includes the program name first.
    static BatchOptions parse(const QStringList &arguments);

    Action action = Action::UsageError;
    ProcessRun::Mode mode = ProcessRun::One;
    CountingMethod::Kind counting = CountingMethod::Classic;
    int jobs = 0; // 0: one run over the whole queue, tracks carried over
    bool quiet = false;
    bool tracks = false; // also write exportCSV/<name>_tracks.csv
    QString video;
    QString summaryDir;
    ActivityBins::Width bin = ActivityBins::Width::Hour;
    // Hidden, for the runs that --jobs starts: process VIDEO alone with the
    // boxes and the frame size of this video.
    QString boxSource;
    QString text; // the help, the version, or what is wrong with the line
};
