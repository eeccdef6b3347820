#pragma once

#include <QString>
#include <QStringList>

// A folder to try the program on without a recording at hand: two short
// synthetic 1280 x 720 videos of dark insects over a textured background,
// with their boxes saved beside them. In the first, insects fly across a
// vertical counting line; in the second, they fly into and out of a counting
// box. The names carry a recording time, so the counts are stamped the same
// on every run.
//
//   const QString why = DemoFolder::make(folder);   // empty when done
class DemoFolder
{
public:
    DemoFolder() = delete;

    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 720;
    static constexpr int kFrames = 300;
    static constexpr double kFps = 90;

    // The file names of the videos, in the order they are made.
    static QStringList videoNames();

    // Makes `folder` when missing and writes the videos and their boxes into
    // it. Refuses, touching nothing, when any of these files exists already.
    // Each video is written under a hidden temporary name and renamed when
    // complete, after its boxes. Returns what went wrong, naming the file, or
    // an empty string.
    static QString make(const QString &folder);

    // True when `folder` holds every demonstration video.
    static bool isComplete(const QString &folder);
};
