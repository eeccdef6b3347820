#include "process_import.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include "logging.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"

namespace {

constexpr qint64 kBlock = 1024;

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool sameFile(const QString &a, const QString &b)
{
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// What tells whether the tool touched a file: a failed run removes only what
// it wrote itself.
struct FileState
{
    explicit FileState(const QString &path)
    {
        const QFileInfo info(path);
        exists = info.exists();
        size = info.size();
        modified = info.fileTime(QFileDevice::FileModificationTime);
        changed = info.fileTime(QFileDevice::FileMetadataChangeTime);
    }
    bool operator==(const FileState &other) const
    {
        return exists == other.exists && size == other.size && modified == other.modified
            && changed == other.changed;
    }

    bool exists = false;
    qint64 size = 0;
    QDateTime modified;
    QDateTime changed;
};

} // namespace

Process_Import::Process_Import(const QString &destination, const QString &source, QObject *parent)
    : QThread(parent)
    , destination(destination)
    , source(source)
{
}

Process_Import::~Process_Import()
{
    wait();
}

QString Process_Import::findTool(const QString &ownFolder)
{
    for (const QString &name : { QStringLiteral("mp4box"), QStringLiteral("MP4Box") }) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty())
            return found;
    }
    // Beside the program in a build folder; installed, in a folder of its own
    // that is not on the search path.
    const QString privateFolder = QDir::cleanPath(ownFolder + QStringLiteral("/../lib/kestrin"));
    const QString found
        = QStandardPaths::findExecutable(QStringLiteral("mp4box"), { ownFolder, privateFolder });
    return found.isEmpty() ? QStringLiteral("mp4box") : found;
}

void Process_Import::run()
{
    const QFileInfo info(source);
    // MP4, AVI and H264 in capitals are the same videos as in lower case.
    const QString suffix = info.suffix().toLower();
    const QString target = joinPath(destination, info.baseName() + QStringLiteral(".mp4"));
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("avi")) {
        // The import folder may be the working directory: copying a file onto
        // itself would empty it.
        if (sameFile(source, target))
            qCDebug(lcGui) << "Already in place:" << source;
        else
            copyFile(source, target, true);
    } else if (suffix == QLatin1String("h264")) {
        importStream(info.baseName(), target);
    } else {
        qCDebug(lcGui) << "Not a video to import:" << source;
    }
    emit end_thread();
}

bool Process_Import::copyFile(const QString &from, const QString &to, bool replacing)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        qCWarning(lcGui) << "Cannot read" << from << in.errorString();
        return false;
    }
    // Written under a temporary name and renamed when complete, so a failed
    // copy never leaves a truncated video or damages an earlier one.
    QSaveFile out(to);
    if (!out.open(QIODevice::WriteOnly)) {
        qCWarning(lcGui) << "Cannot write" << to << out.errorString();
        return false;
    }
    const qint64 size = in.size();
    char block[kBlock];
    int shown = 0;
    for (qint64 offset = 0; offset < size;) {
        const qint64 got = in.read(block, kBlock);
        if (got <= 0 || out.write(block, got) != got) {
            qCWarning(lcGui) << "Copy of" << from << "to" << to
                             << "failed:" << (got <= 0 ? in.errorString() : out.errorString());
            out.cancelWriting();
            return false;
        }
        // Only changes are sent: a large file has a million blocks per gigabyte.
        const int percent = static_cast<int>(offset * 100 / size + 1);
        if (percent != shown) {
            shown = percent;
            emit copy_pos(percent);
        }
        offset += got;
    }
    if (replacing && !setAside(to)) {
        out.cancelWriting();
        return false;
    }
    const QString problem = SafeFile::commit(out);
    if (!problem.isEmpty()) {
        qCWarning(lcGui).noquote() << problem;
        putBack();
        return false;
    }
    return true;
}

bool Process_Import::hasResults(const QString &video)
{
    return QFileInfo::exists(VideoFiles::resultFile(video))
        || QFileInfo::exists(VideoFiles::partialResultFile(video));
}

bool Process_Import::setAside(const QString &target)
{
    moved.clear();
    if (!QFileInfo::exists(target) || !hasResults(target))
        return true;
    const QString base = VideoFiles::replacedDir(target, QDateTime::currentDateTime());
    QString folder = base;
    // Two replacements within a second keep folders of their own.
    for (int n = 2; QFileInfo::exists(folder); ++n)
        folder = base + QStringLiteral("-%1").arg(n);
    if (!QDir().mkpath(folder)) {
        qCWarning(lcGui) << "Cannot make" << folder << "for the files of" << target
                         << "; it is not replaced";
        return false;
    }
    // Partial counts keep their own folder there too: they share their names
    // with the complete ones.
    const QString exportDir = VideoFiles::exportDir(target);
    for (const QString &file :
        { VideoFiles::resultFile(target), VideoFiles::partialResultFile(target),
            VideoFiles::runRecordFile(target), VideoFiles::partialRunRecordFile(target),
            VideoFiles::trajectoryImageFile(target), VideoFiles::densityFile(target),
            VideoFiles::tracksFile(target), VideoFiles::reviewFile(target),
            VideoFiles::areaFile(target), VideoFiles::maskFile(target) }) {
        if (!QFileInfo(file).exists() && !QFileInfo(file).isSymLink())
            continue;
        const QString aside = folder + QLatin1Char('/') + QDir(exportDir).relativeFilePath(file);
        if (!QDir().mkpath(QFileInfo(aside).path())) {
            qCWarning(lcGui) << "Cannot make" << QFileInfo(aside).path() << "for the files of"
                             << target << "; it is not replaced";
            putBack();
            return false;
        }
        QFile moving(file);
        if (!moving.rename(aside)) {
            qCWarning(lcGui) << "Cannot move" << file << "to" << aside << ":"
                             << moving.errorString() << "; " << target << "is not replaced";
            putBack();
            return false;
        }
        moved.append({ file, aside });
    }
    qCInfo(lcGui) << "The files of the replaced" << target << "are in" << folder;
    return true;
}

void Process_Import::putBack()
{
    while (!moved.isEmpty()) {
        const QPair<QString, QString> file = moved.takeLast();
        QFile moving(file.second);
        if (!moving.rename(file.first))
            qCWarning(lcGui) << "Cannot move" << file.second << "back to" << file.first << ":"
                             << moving.errorString();
    }
}

QString Process_Import::streamFile(const QString &baseName) const
{
    const QString path = joinPath(destination, baseName + QStringLiteral(".h264"));
    if (!QFileInfo::exists(path) || sameFile(source, path))
        return path;
    // A stream of that name is already there and is not ours to overwrite and
    // delete: the copy takes a free name.
    for (int n = 1;; ++n) {
        const QString other
            = joinPath(destination, QStringLiteral("%1.import%2.h264").arg(baseName).arg(n));
        if (!QFileInfo::exists(other))
            return other;
    }
}

void Process_Import::importStream(const QString &baseName, const QString &target)
{
    const QString stream = streamFile(baseName);
    // Imported from the working directory itself: the stream is already in
    // place, and it is the user's file, not a copy to delete.
    const bool streamIsSource = sameFile(source, stream);
    if (!streamIsSource && !copyFile(source, stream))
        return;
    wrap(stream, target);
    if (!streamIsSource && !QFile::remove(stream))
        qCWarning(lcGui) << "Cannot delete" << stream;
}

void Process_Import::wrap(const QString &stream, const QString &target)
{
    const FileState before(target);
    bool failed = false;
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    // The process lives on this thread and so must its output handling; the
    // worker object itself lives on the thread that created it.
    connect(process.get(), &QProcess::readyReadStandardOutput, this,
        &Process_Import::readyReadStandardOutput, Qt::DirectConnection);
    // A tool that cannot be started reports only errorOccurred.
    connect(process.get(), &QProcess::errorOccurred, process.get(),
        [&failed](QProcess::ProcessError) { failed = true; });
    connect(process.get(), qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process.get(),
        [&failed](int exitCode, QProcess::ExitStatus status) {
            failed = failed || status != QProcess::NormalExit || exitCode != 0;
        });

    // The old recording's files go aside before the tool replaces it.
    if (!setAside(target))
        return;
    const QString program = findTool(QCoreApplication::applicationDirPath());
    const QStringList arguments { QStringLiteral("-fps"), QStringLiteral("90"),
        QStringLiteral("-add"), stream, target };
    qCDebug(lcGui) << "Running" << program << arguments;
    process->start(program, arguments, QIODevice::ReadWrite);
    if (process->waitForStarted(-1)) {
        // Nothing is ever written to the tool: one waiting for input ends.
        process->closeWriteChannel();
        process->waitForFinished(-1);
    }
    const QString error = process->error() == QProcess::UnknownError
        ? QStringLiteral("exit code %1").arg(process->exitCode())
        : process->errorString();
    process.reset();

    if (!failed)
        return;
    qCWarning(lcGui) << program << "failed on" << stream << error;
    putBack();
    // No half-written video for the file table; an earlier file the tool
    // did not touch stays.
    if (QFileInfo::exists(target) && !(FileState(target) == before) && !QFile::remove(target))
        qCWarning(lcGui) << "Cannot delete" << target;
}

void Process_Import::readyReadStandardOutput()
{
    if (process)
        parseOutput(process->readAllStandardOutput());
}

void Process_Import::parseOutput(const QByteArray &chunk)
{
    const int end = chunk.indexOf('\0');
    output += QString::fromUtf8(chunk.constData(), end < 0 ? chunk.size() : end);
    int value = 0;
    if (output.contains(QLatin1String("Importing AVC-H264")) && takeProgress(value))
        emit encode_pos(value + 1);
    if (output.contains(QLatin1String("ISO File Writing")) && takeProgress(value))
        emit save_pos(value + 1);
}

// Keeps what lies between the first "(" and the first "/" after it, and reads
// it as the progress. What stays in `output` is where the next chunk goes on.
bool Process_Import::takeProgress(int &value)
{
    output.remove(0, output.indexOf(QLatin1Char('(')) + 1);
    const int slash = output.indexOf(QLatin1Char('/'));
    if (slash >= 0)
        output.truncate(slash);
    bool ok = false;
    value = output.toInt(&ok, 10);
    return ok;
}
