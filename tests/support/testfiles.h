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

} // namespace testfiles
