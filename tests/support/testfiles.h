#pragma once

#include <QByteArray>
#include <QString>

namespace testfiles {

// The whole file, or "<cannot open>" so that a missing file never equals an
// empty one.
QByteArray read(const QString &path);

// Replaces the file's contents, creating missing folders; true when every
// byte was written.
bool write(const QString &path, const QByteArray &bytes);

} // namespace testfiles
