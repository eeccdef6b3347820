#pragma once

#include <memory>
#include <vector>

#include <QByteArray>
#include <QString>

class QLockFile;

// The files one run writes for one video, complete or absent. begin() takes
// the video's lock (exportCSV/<base>.lock) and starts the counts afresh in
// <base>.partial.csv; the counter appends to countFile(). commit() writes the
// trajectory image and the density under temporary names, then renames all
// three into place, the count file last, and syncs the folder: until then
// the earlier complete files stay exactly as they were (or absent). A run
// that stops before, by abandon(), destruction, a crash or a kill, leaves its
// counts in <base>.partial.csv, which marks nothing as done and which the next
// run of the video replaces.
//
//   OutputSet output;
//   if (output.begin(video) != OutputSet::Started) { show output.error(); ... }
//   ... counter appends to output.countFile() ...
//   if (!output.commit(jpeg, density)) show output.error();
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
    bool active() const { return lock != nullptr; }
    // The file the counts go to while the video is processed.
    const QString &countFile() const { return partial; }

    // Completes the video; false with error() when any write, sync or rename
    // fails, the earlier files then being as they were. The set is inactive
    // afterwards either way.
    bool commit(const std::vector<unsigned char> &jpeg, const QByteArray &density);
    // Stops without completing: the partial counts stay, nothing else does.
    void abandon();

    const QString &error() const { return problem; }

private:
    void release();

    std::unique_ptr<QLockFile> lock;
    QString video;
    QString partial;
    QString problem;
};
