#pragma once

#include <map>

#include <QByteArray>
#include <QString>

namespace testfiles {

// The whole file, or "<cannot open>" so that a missing file never equals an
// empty one.
QByteArray read(const QString &path);

// Replaces the file's contents, creating missing folders; true when every
// byte was written.
bool write(const QString &path, const QByteArray &bytes);

// Every entry below `dir`, hidden ones included, by its path relative to
// `dir`: the bytes of a file, "<dir>" for a folder.
std::map<QString, QByteArray> snapshot(const QString &dir);

// The results in `folder`/exportCSV, by file name, without the run records:
// they carry the time of processing, so two runs never write the same bytes.
std::map<QString, QByteArray> exports(const QString &folder);

// A stand-in wrapping tool `bin`/mp4box: it notes its arguments in
// "mp4box.args", waits for "mp4box.go" beside it, prints a progress line and
// copies its input ($4) to its output ($5). True when written executable.
bool writeGatedTool(const QString &bin);

} // namespace testfiles
