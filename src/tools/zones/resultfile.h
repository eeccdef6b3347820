#pragma once

#include <optional>

#include <QFile>
#include <QString>
#include <QVector>

struct Result;

// Handle on a video's count file <folder>/exportCSV/<base>.csv: one header
// line "Frame;X;Y;In;Out;Timestamp", then one ";"-separated line per event.
// Opened, used and closed within one call of its user.
class ResultFile
{
public:
    enum Kind { Read = 4, Append = 5 };

    ResultFile();
    ResultFile(const ResultFile &) = delete;
    ResultFile &operator=(const ResultFile &) = delete;

    // 1 when open, -1 otherwise. Read needs an existing regular file (a
    // pipe or a device is refused, errorText() saying so) and skips its
    // header; Append creates the file (and exportCSV) with the header first.
    int open(const QString &videoPath, int kind);
    // The same on a count file named directly (a run writes its counts under
    // a temporary name); Append does not create the folder.
    int openFile(const QString &countFile, int kind);
    // 0, or -1 when not open or the line could not be written. The line goes
    // to the file in one write and is flushed at once.
    int writeRecord(double frame, int x, int y, int in, int out, const QString &timestamp);
    // 1 for a record; -1 when not open or the next line has fewer than six
    // fields (the out-parameters are then left unchanged).
    int readRecord(double &frame, int &x, int &y, int &in, int &out, QString &timestamp);
    // 1 after closing, -1 when not open.
    int close();

    // Appends one event to `countFile` (openFile, writeRecord, close), so
    // that a run stopped at any point leaves every event before it. Empty
    // when written, else the file and the system's reason.
    static QString append(const QString &countFile, const Result &event);

    // Every record of the count file named directly; none when it cannot
    // be read.
    static std::optional<QVector<Result>> readAll(const QString &countFile);

    // Deletes the count file; a missing one is no error.
    static void removeResultFile(const QString &videoPath);

    // After a failed open or writeRecord: the file and the system's reason.
    const QString &errorText() const { return problem; }

    // The frame as C's %g writes it (1234567 as 1.23457e+06), whatever the locale.
    static QString formatFrame(double frame);

private:
    int fail(const QString &what);

    QFile file;
    bool isOpen = false;
    QString problem;
};
