#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace cv {
class VideoCapture;
}

// Paths of the files that belong to a video <folder>/<base name>.<ext>:
// all of them lie in <folder>/exportCSV and are named from the base name.
class VideoFiles
{
public:
    VideoFiles() = delete;

    // File name without its folder and its last extension: x.y.mp4 gives x.y.
    static QString baseName(const QString &videoPath);
    // <folder>/exportCSV
    static QString exportDir(const QString &videoPath);
    static QString areaFile(const QString &videoPath); // <base>_area.krn
    static QString maskFile(const QString &videoPath); // <base>_mask.krn
    static QString resultFile(const QString &videoPath); // <base>.csv
    // The video has complete counts: its count file is a regular file (a
    // pipe, a device or a folder under that name counts nothing).
    static bool counted(const QString &videoPath);
    static QString trajectoryImageFile(const QString &videoPath); // <base>_doza.jpg
    static QString densityFile(const QString &videoPath); // <base>_doza.txt
    // Where the files of a run that has not completed a video wait, apart
    // from every video's own names: <folder>/exportCSV/partial.
    static QString partialDir(const QString &videoPath);
    // The counts of a run that has not completed the video:
    // partial/<base>.csv. It is the count file while the video is processed
    // and takes the count file's name when the video is complete.
    static QString partialResultFile(const QString &videoPath);
    // Held while a run works on the video's files: <base>.lock.
    static QString lockFile(const QString &videoPath);
    // Where a result file is written before it replaces `resultPath`:
    // "<resultPath>.tmp". Left over only by a run that was killed; the next
    // run of the video removes it.
    static QString temporaryFile(const QString &resultPath);
    static QString runRecordFile(const QString &videoPath); // <base>_run.json
    // The record of a run that did not complete the video, beside its
    // partial counts: partial/<base>_run.json.
    static QString partialRunRecordFile(const QString &videoPath);
    static QString tracksFile(const QString &videoPath); // <base>_tracks.csv
    // The renames that complete a video, written before the first of them:
    // partial/<base>.commit. Left over only by a run killed in between.
    static QString commitJournalFile(const QString &videoPath);

    // Empty when the video's files have names of their own; else which
    // other video of the folder (listVideos) would share a file name with
    // it, letter case ignored ("x.MP4" beside "x.mp4", "y_tracks.mp4" beside
    // "y.mp4"), in a message naming both; or which file of the folder's own
    // (summary.csv for "summary.mp4") its files would take.
    static QString nameClash(const QString &videoPath);
    // Empty when the path is the file system's own name for the file; else
    // why not: a name whose bytes are not text in the system's encoding
    // (a Latin-1 "café.mp4" under UTF-8) reaches Qt only with its
    // undecodable bytes replaced, and no longer names the file.
    static QString nameProblem(const QString &videoPath);

    // Files of a whole folder of videos, in <folder>/exportCSV.
    static QString folderExportDir(const QString &folder);
    static QString summaryFile(const QString &folder); // summary.csv
    static QString activityFile(const QString &folder); // activity.csv
    static QString activityChartFile(
        const QString &folder, const QString &suffix); // activity.<suffix>
    // Creates exportCSV (and missing parents); true when it exists afterwards.
    static bool ensureExportDir(const QString &videoPath);

    // FrameReader::openCapture, for the window's callers.
    static bool openCapture(cv::VideoCapture &capture, const QString &videoPath);

    // The videos of a folder as the file table lists them: regular *.mp4
    // files (names that nameProblem() refuses included), letter case
    // ignored, no hidden files, no symbolic links, in the
    // order the file system yields them. Each path is the folder, "/" and the
    // file name. Empty for an empty path or a folder that cannot be read.
    static QStringList listVideos(const QString &folder);

    // The recording start coded in the file name, as the counts are stamped:
    // namedRecordingStart, or the current time for a name that carries none
    // (with a warning when it has "video_" but no date that parses).
    static QDateTime startTimeFromFileName(const QString &videoPath);

    // The review of the video's counts, beside them: <base>_review.csv.
    static QString reviewFile(const QString &videoPath);
    // The events picked across a folder for reviewing a sample:
    // <folder>/exportCSV/review_sample.csv.
    static QString reviewSampleFile(const QString &folder);
    // The recording start that the file's own name carries, the one place of
    // the naming rule: video_yyyyMMdd_hhmm_NN.mp4 (video_20150612_0930_01.mp4
    // starts on 12 June 2015 at 09:30). Invalid for any other name, also
    // video_20240702_1000.mp4 or video_20240702_1000_02_site.mp4.
    static QDateTime namedRecordingStart(const QString &videoPath);
    // Where the files of a video are moved when an import replaces it:
    // <folder>/exportCSV/replaced-<yyyyMMdd-hhmmss of `when`>.
    static QString replacedDir(const QString &videoPath, const QDateTime &when);
};
