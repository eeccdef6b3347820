#pragma once

#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

class RunLock;

// The files one run writes for one video, complete or absent. begin() takes
// the video's lock (exportCSV/<base>.lock), checks that the partial and
// temporary files are regular files or absent, and starts the counts afresh
// in partial/<base>.csv; the counter appends to countFile(). commit() writes
// the trajectory image, the density and the run record under temporary
// names once every file it replaces has been checked, writes a journal of the renames
// (partial/<base>.commit), then renames them into place with the tracks, the count file last, and
// syncs the folder: until then the earlier complete files stay exactly as they were (or absent). A
// run killed during the renames leaves the journal, which the next run of the video, or recover(),
// rolls forward. A run that stops before commit(), by abandon(), destruction, a crash or a kill,
// leaves its counts in partial/<base>.csv, which marks nothing as done and which the next run of
// the video replaces.
//
//   OutputSet output;
//   if (output.begin(video) != OutputSet::Started) { show output.error(); ... }
//   ... counter appends to output.countFile() ...
//   if (!output.commit(jpeg, density, record, tracks, counts)) show output.error();
class OutputSet
{
public:
    enum Begin {
        Started,
        Busy, // another run holds the lock: error() names its process and host
        Failed, // a file could not be written or removed: error() says which
    };

    OutputSet();
    ~OutputSet(); // as abandon()
    OutputSet(const OutputSet &) = delete;
    OutputSet &operator=(const OutputSet &) = delete;

    // Abandons a set still active, then starts the one of `videoPath`.
    Begin begin(const QString &videoPath);
    bool active() const;
    // The file the counts go to while the video is processed.
    const QString &countFile() const { return partial; }
    // Empty while countFile() is still the file begin() made; else why not
    // (removed, or replaced by another run that took the video over): no
    // count may go there then.
    QString countFileProblem() const;
    // What begin() found and tidied: a stale lock taken over, leftovers of a
    // killed run removed, its commit completed. One line each.
    const QStringList &notes() const { return tidied; }

    // Completes the video with `runRecord` as its record and the finished
    // tracks file `tracks` (TrackWriter; empty: an earlier tracks file is
    // removed). `counts` is the number of counts the run wrote: a count file
    // that holds another number, or that was removed or replaced during the
    // run, or a lock that was, fails the video. False with error() when any
    // check, write, sync or rename fails, the earlier files then being as they
    // were. The set is inactive afterwards either way.
    bool commit(const std::vector<unsigned char> &jpeg, const QByteArray &density,
        const QByteArray &runRecord, const QString &tracks, int counts);
    // Stops without completing: the partial counts stay, nothing else does.
    void abandon();

    const QString &error() const { return problem; }

    // Completes the commits that runs killed during their renames left in
    // `folder`'s exportCSV (the window calls it when it opens a folder).
    // Videos another run holds are left to it. The lines say what was done
    // and what failed.
    static QStringList recover(const QString &folder);

private:
    void release();
    // Rolls forward the journal of `video` under its held lock; false with
    // `problem` set when a step fails.
    static bool rollForward(const QString &video, QStringList &notes, QString &problem);

    std::unique_ptr<RunLock> lock;
    QString video;
    QString partial;
    QString problem;
    QStringList tidied;
    // Open from begin() to the end: removed, its inode cannot come back as
    // another file's, so that commit() sees it was replaced.
    int partialHandle = -1;
};
