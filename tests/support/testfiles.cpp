#include "testfiles.h"

#include <iterator>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace testfiles {

QByteArray read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<cannot open>");
    return file.readAll();
}

bool write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(bytes) == bytes.size();
}

std::map<QString, QByteArray> snapshot(const QString &dir)
{
    std::map<QString, QByteArray> files;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    const QDir base(dir);
    while (it.hasNext()) {
        const QString path = it.next();
        files[base.relativeFilePath(path)]
            = QFileInfo(path).isDir() ? QByteArray("<dir>") : read(path);
    }
    return files;
}

std::map<QString, QByteArray> exports(const QString &folder)
{
    std::map<QString, QByteArray> files = snapshot(folder + QStringLiteral("/exportCSV"));
    for (auto it = files.begin(); it != files.end();)
        it = it->first.endsWith(QLatin1String("_run.json")) ? files.erase(it) : std::next(it);
    return files;
}

bool writeGatedTool(const QString &bin)
{
    QFile file(bin + QStringLiteral("/mp4box"));
    return file.open(QIODevice::WriteOnly)
        && file.write("#!/bin/sh\n"
                      "PATH=/usr/bin:/bin\n"
                      "printf '%s\\n' \"$@\" >> \"$0.args\"\n"
                      "while [ ! -e \"$0.go\" ]; do sleep 0.02; done\n"
                      "printf 'Importing AVC-H264: |=====     | (45/100)\\n'\n"
                      "cp \"$4\" \"$5\"\n")
        > 0
        && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace testfiles
