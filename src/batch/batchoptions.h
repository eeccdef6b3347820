#pragma once

#include <QString>
#include <QStringList>

#include "processrun.h"

// The command line of kestrin-batch:
//   kestrin-batch [--mode one|all|unprocessed] [--counting classic|robust] [--jobs N]
//                 [--quiet] VIDEO
class BatchOptions
{
public:
    enum class Action { Run, Help, Version, UsageError };

    // `arguments` includes the program name first.
    static BatchOptions parse(const QStringList &arguments);

    Action action = Action::UsageError;
    ProcessRun::Mode mode = ProcessRun::One;
    CountingMethod::Kind counting = CountingMethod::Classic;
    int jobs = 0; // 0: one run over the whole queue, tracks carried over
    bool quiet = false;
    QString video;
    // Hidden, for the runs that --jobs starts: process VIDEO alone with the
    // boxes and the frame size of this video.
    QString boxSource;
    // Hidden, with --boxes-from: the boxes and frame size that the parent run
    // read at its start (ZoneSnapshot), used instead of the box files.
    QString zonesFile;
    QString text; // the help, the version, or what is wrong with the line
};
