#pragma once

#include <string>

#include <QString>

#include "imgproc/target.h"

// Writes a video's tracks, exportCSV/<name>_tracks.csv: the header
// "Frame;Id;X;Y;Width;Height", then one line per live track per processed
// frame (X, Y the track's centre, frames numbered as in the count file, ids
// counted from the run's first).
// Built under a temporary name (<name>_tracks.csv.writing), which finish()
// completes and the video's OutputSet renames with its other files, so the
// file is complete or absent. Lines are gathered and written in blocks.
class TrackWriter
{
public:
    TrackWriter() = default;
    ~TrackWriter();
    TrackWriter(const TrackWriter &) = delete;
    TrackWriter &operator=(const TrackWriter &) = delete;

    // Starts the temporary file; false with error() set when it cannot.
    bool start(const QString &videoPath);
    bool active() const { return fd >= 0; }
    // The tracks of one processed frame, ids less `firstId`; a failed write
    // is kept for commit.
    void addFrame(double frame, const TargetList &tracks, int firstId);
    // Flushes, syncs and closes the temporary file; false with error() set
    // (and the temporary file removed) when any step fails or a write failed.
    bool finish();
    // The temporary file and the name it is to take.
    static QString temporaryFile(const QString &videoPath);
    // Drops the temporary file: a cancelled video leaves no tracks file.
    void discard();
    const QString &error() const { return problem; }

    static const char *header() { return "Frame;Id;X;Y;Width;Height\n"; }

private:
    // Writes the gathered lines out; keeps a failure for finish().
    void writePending();

    int fd = -1;
    QString temporary;
    QString problem;
    bool failed = false;
    std::string pending; // lines not yet written; reused, no allocation per frame once grown
};
