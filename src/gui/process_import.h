#pragma once

#include <memory>

#include <QList>
#include <QPair>
#include <QString>
#include <QThread>

class QProcess;

// Imports one video file into the working directory on a thread of its own:
// an .mp4 file is copied, an .avi file is copied under the .mp4 name, and a
// raw .h264 stream is copied, wrapped into .mp4 by the mp4box tool, and the
// copy deleted again. Reports progress, then end_thread() once, whatever
// happened.
class Process_Import final : public QThread
{
    Q_OBJECT

public:
    Process_Import(const QString &destination, const QString &source, QObject *parent = nullptr);
    // Waits for a running import: a thread is never destroyed under itself.
    ~Process_Import() override;

    // The progress parser behind readyReadStandardOutput(): appends one chunk
    // of the tool's output to what is left of earlier chunks and emits
    // encode_pos and save_pos for the fractions after the stage markers.
    void parseOutput(const QByteArray &chunk);

    // The wrapping tool: "mp4box" on the search path, then "MP4Box", then
    // "mp4box" in `ownFolder` (the folder of the running program), then in
    // the installation's private folder `ownFolder`/../lib/kestrin. Returns
    // the plain name when none is found, so that starting it fails.
    static QString findTool(const QString &ownFolder);

    // The video at `video` has counts, complete or partial. An import that
    // replaces it asks first, and moves every file of the old recording
    // (counts, boxes, trajectory, run record, tracks) to
    // VideoFiles::replacedDir just before the new one takes its place.
    static bool hasResults(const QString &video);

signals:
    void end_thread();
    void copy_pos(int value);
    void save_pos(int value);
    void encode_pos(int value);

public slots:
    void readyReadStandardOutput();

protected:
    void run() override;

private:
    // `replacing`: `to` is the video, whose old files go aside first.
    bool copyFile(const QString &from, const QString &to, bool replacing = false);
    // Moves the files of the counted video `target` aside; false, with
    // nothing moved, when one cannot be moved.
    bool setAside(const QString &target);
    // Moves them back after the import failed.
    void putBack();
    void importStream(const QString &baseName, const QString &target);
    QString streamFile(const QString &baseName) const;
    void wrap(const QString &stream, const QString &target);
    bool takeProgress(int &value);

    const QString destination;
    const QString source;
    // Exists only while run() waits for the tool, on the worker's own thread.
    std::unique_ptr<QProcess> process;
    // Tool output not yet consumed by the parser.
    QString output;
    // Files set aside for this import: where they were, where they are.
    QList<QPair<QString, QString>> moved;
};
