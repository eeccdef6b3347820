#pragma once

#include <cstdio>

#include <QElapsedTimer>
#include <QString>

// The progress line on standard error, rewritten in place a few times per
// second: video i of n, frame, frames per second and time left. Only shown
// on a terminal.
class BatchProgress
{
public:
    // Enabled only when `wanted` and standard error is a terminal.
    explicit BatchProgress(bool wanted);

    // A new video of `frames` frames in all (as the container claims; 0 when
    // unknown), whose processing starts after frame `firstFrame`.
    void startVideo(int index, int count, double frames, double firstFrame);
    void update(double frame);
    // For runs in child processes: how many of the videos have ended.
    void videosDone(int done, int count);
    // Erases the line, so that other output starts at the left margin.
    void clear();

    bool enabled() const { return shown; }

    // "1:02:03" or "2:03".
    static QString duration(double seconds);
    static QString line(int index, int count, double frame, double frames, double fps);

private:
    void write(const QString &text);

    bool shown = false;
    int video = 0;
    int videos = 0;
    double totalFrames = 0;
    double startFrame = 0;
    int width = 0; // of the text last written
    QElapsedTimer sinceStart;
    QElapsedTimer sinceWrite;
};
