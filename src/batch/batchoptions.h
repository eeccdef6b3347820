#pragma once

#include <QString>
#include <QStringList>

#include "report/activitybins.h"
#include "run/processrun.h"

// The command line of kestrin-batch:
//   kestrin-batch [--mode one|all|unprocessed] [--counting classic|robust] [--jobs N]
//                 [--boxes current|own] [--tracks] [--shard I/N] [--quiet] VIDEO
//   kestrin-batch --summary DIR [--bin 10m|1h|1d]
//   kestrin-batch --make-demo DIR
class BatchOptions
{
public:
    enum class Action { Run, Summary, Help, Version, MakeDemo, UsageError };
    // Whose boxes count a queued video: VIDEO's (as the window does), or its
    // own when it has usable box files.
    enum class Boxes { Current, Own };

    // True when `arguments` ask for a summary: the program then needs a
    // GUI application (fonts and painting), made before parsing.
    static bool wantsSummary(const QStringList &arguments);

    // `arguments` includes the program name first.
    static BatchOptions parse(const QStringList &arguments);
    // "I/N" with 0 <= I < N; false for anything else.
    static bool parseShard(const QString &text, int &index, int &count);

    Action action = Action::UsageError;
    ProcessRun::Mode mode = ProcessRun::One;
    CountingMethod::Kind counting = CountingMethod::Classic;
    int jobs = 0; // 0: one run over the whole queue, tracks carried over
    bool quiet = false;
    bool tracks = false; // also write exportCSV/<name>_tracks.csv
    Boxes boxes = Boxes::Current;
    QString video;
    QString summaryDir;
    ActivityBins::Width bin = ActivityBins::Width::Hour;
    // Hidden, for the runs that --jobs starts: process VIDEO alone with the
    // boxes and the frame size of this video.
    QString boxSource;
    // Hidden, with --boxes-from: the boxes and frame size that the parent run
    // read at its start (ZoneSnapshot), used instead of the box files.
    QString zonesFile;
    // --shard I/N: every N-th video of the folder from the I-th (0-based);
    // shardCount 0 means no sharding.
    int shardIndex = 0;
    int shardCount = 0;
    QString demoDir; // --make-demo
    QString text; // the help, the version, or what is wrong with the line
};
