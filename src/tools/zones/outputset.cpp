#include "zones/outputset.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include "logging.h"
#include "zones/resultfile.h"
#include "zones/runlock.h"
#include "zones/safefile.h"
#include "zones/trackwriter.h"
#include "zones/videofiles.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString imageTemporary(const QString &video)
{
    return VideoFiles::temporaryFile(VideoFiles::trajectoryImageFile(video));
}

QString densityTemporary(const QString &video)
{
    return VideoFiles::temporaryFile(VideoFiles::densityFile(video));
}

QString recordTemporary(const QString &video)
{
    return VideoFiles::temporaryFile(VideoFiles::runRecordFile(video));
}

// Files only a run of the video writes, under names no complete file has:
// a killed run leaves them behind, the next one removes them.
QStringList leftovers(const QString &video)
{
    return { imageTemporary(video), densityTemporary(video), recordTemporary(video),
        TrackWriter::temporaryFile(video),
        VideoFiles::temporaryFile(VideoFiles::partialRunRecordFile(video)),
        VideoFiles::temporaryFile(VideoFiles::commitJournalFile(video)) };
}

QString firstProblem(const QStringList &paths)
{
    for (const QString &path : paths) {
        const QString problem = SafeFile::replaceProblem(path);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

// Removes what a killed run of the video left, saying so in `notes`; the
// first failure, or empty. A pipe or a directory there is no leftover of a run.
QString removeLeftovers(const QString &video, QStringList &notes)
{
    const QStringList paths = leftovers(video);
    const QString refused = firstProblem(paths);
    if (!refused.isEmpty())
        return refused;
    for (const QString &path : paths) {
        if (!SafeFile::present(path))
            continue;
        const QString problem = SafeFile::remove(path);
        if (!problem.isEmpty())
            return problem;
        notes << QStringLiteral("removed %1, left by a run that was stopped").arg(path);
    }
    return QString();
}

// Every file a run of the video writes or replaces.
QStringList destinations(const QString &video)
{
    return leftovers(video)
        + QStringList { VideoFiles::trajectoryImageFile(video), VideoFiles::densityFile(video),
              VideoFiles::resultFile(video), VideoFiles::runRecordFile(video),
              VideoFiles::tracksFile(video), VideoFiles::partialResultFile(video),
              VideoFiles::partialRunRecordFile(video) };
}

bool identity(const QString &path, unsigned long long &device, unsigned long long &inode)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return false;
    device = status.st_dev;
    inode = status.st_ino;
    return true;
}

// A name the journal may hold: a file of exportCSV or of its partial/.
bool inExportDir(const QString &name)
{
    return !name.isEmpty() && !QDir::isAbsolutePath(name)
        && !name.split(QLatin1Char('/')).contains(QStringLiteral(".."));
}

// The steps of `journal`: ["rename", from, to] or ["remove", path], paths
// relative to exportCSV, applied in order. Each may be applied again.
QString apply(const QString &folder, const QString &journal, const QJsonArray &steps)
{
    for (const QJsonValue &value : steps) {
        const QJsonArray step = value.toArray();
        const QString kind = step.at(0).toString();
        const QString first = folder + QLatin1Char('/') + step.at(1).toString();
        const bool rename = kind == QLatin1String("rename") && step.size() == 3;
        QString problem;
        if ((!rename && (kind != QLatin1String("remove") || step.size() != 2))
            || !inExportDir(step.at(1).toString())
            || (rename && !inExportDir(step.at(2).toString()))) {
            problem = QStringLiteral("%1 is damaged: remove it and process the video again")
                          .arg(journal);
        } else if (rename) {
            if (SafeFile::present(first))
                problem
                    = SafeFile::rename(first, folder + QLatin1Char('/') + step.at(2).toString());
        } else {
            problem = SafeFile::remove(first);
        }
        if (!problem.isEmpty())
            return problem;
    }
    SafeFile::syncFolder(folder);
    return QString();
}

// partial/ is the runs' own: a link in its place would put counts in another
// folder, and remove files there.
QString linkedFolderProblem(const QString &folder)
{
    struct stat status;
    if (::lstat(QFile::encodeName(folder).constData(), &status) == 0 && !S_ISDIR(status.st_mode))
        return QStringLiteral("cannot use the folder %1: %2")
            .arg(folder, SafeFile::describe(status.st_mode));
    return QString();
}

// exportCSV as it was when no run is under way; fails while it holds files.
void removeEmptyPartialDir(const QString &video)
{
    ::rmdir(QFile::encodeName(VideoFiles::partialDir(video)).constData());
}

QString relative(const QString &video, const QString &path)
{
    return QDir(VideoFiles::exportDir(video)).relativeFilePath(path);
}

} // namespace

OutputSet::OutputSet() = default;

OutputSet::~OutputSet()
{
    abandon();
}

bool OutputSet::active() const
{
    return lock != nullptr;
}

OutputSet::Begin OutputSet::begin(const QString &videoPath)
{
    abandon();
    problem.clear();
    tidied.clear();
    video = videoPath;
    partial = VideoFiles::partialResultFile(videoPath);
    problem = VideoFiles::nameProblem(videoPath);
    if (problem.isEmpty())
        problem = VideoFiles::nameClash(videoPath);
    if (!problem.isEmpty())
        return Failed;
    if (!VideoFiles::ensureExportDir(videoPath)) {
        problem = QStringLiteral("cannot create the folder %1: %2")
                      .arg(VideoFiles::exportDir(videoPath), SafeFile::systemReason());
        return Failed;
    }

    auto candidate = std::make_unique<RunLock>();
    switch (candidate->take(VideoFiles::lockFile(videoPath))) {
    case RunLock::Take::Taken:
        break;
    case RunLock::Take::Busy:
        problem = candidate->error();
        return Busy;
    case RunLock::Take::Failed:
        problem = candidate->error();
        return Failed;
    }
    if (!candidate->note().isEmpty())
        tidied << candidate->note();
    lock = std::move(candidate);

    // A commit a kill cut short first, then every file begin() touches
    // checked before any is, then what a killed run left behind.
    problem = linkedFolderProblem(VideoFiles::partialDir(video));
    bool started = problem.isEmpty() && rollForward(video, tidied, problem);
    // The complete files' names are checked by commit(), before its first
    // rename.
    if (started)
        problem = firstProblem(
            leftovers(video) + QStringList { partial, VideoFiles::partialRunRecordFile(video) });
    if (problem.isEmpty())
        problem = removeLeftovers(video, tidied);
    if (problem.isEmpty())
        problem = SafeFile::remove(partial);
    if (problem.isEmpty())
        problem = SafeFile::remove(VideoFiles::partialRunRecordFile(video));
    started = problem.isEmpty();
    // A run that just completed another video may remove the folder once
    // more: made again once.
    for (int attempt = 0; started && attempt < 2; ++attempt) {
        if (!QDir().mkpath(VideoFiles::partialDir(video))) {
            problem = QStringLiteral("cannot create the folder %1: %2")
                          .arg(VideoFiles::partialDir(video), SafeFile::systemReason());
            started = false;
            break;
        }
        ResultFile counts; // the header alone
        if (counts.openFile(partial, ResultFile::Append) == 1) {
            problem.clear();
            break;
        }
        problem = counts.errorText();
        // Not even its header: no partial counts to show.
        SafeFile::remove(partial);
        started = attempt == 0 && !QFileInfo(VideoFiles::partialDir(video)).isDir();
    }
    if (started) {
        partialHandle = ::open(QFile::encodeName(partial).constData(), O_RDONLY | O_CLOEXEC);
        if (partialHandle < 0) {
            problem = QStringLiteral("cannot read %1: %2").arg(partial, SafeFile::systemReason());
            started = false;
        }
    }
    if (!started) {
        removeEmptyPartialDir(video);
        release();
        return Failed;
    }
    return Started;
}

bool OutputSet::commit(const std::vector<unsigned char> &jpeg, const QByteArray &density,
    const QByteArray &runRecord, const QString &tracks, int counts)
{
    if (!active()) {
        problem = QStringLiteral("no video is being processed");
        return false;
    }
    problem.clear();
    const QString folder = VideoFiles::exportDir(video);
    // Another run may have taken the video, or a tidy hand removed its counts.
    const bool owned = lock->intact();
    if (!owned) {
        problem = QStringLiteral("the lock %1 was removed during the run: another run may have "
                                 "taken the video")
                      .arg(VideoFiles::lockFile(video));
    } else {
        problem = countFileProblem();
    }
    QFile file;
    if (problem.isEmpty() && SafeFile::openForReading(file, partial, &problem)) {
        const int held = static_cast<int>(file.readAll().count('\n')) - 1;
        if (held != counts)
            problem = QStringLiteral("%1 holds %2 counts, the run wrote %3: it was changed "
                                     "during the run")
                          .arg(partial)
                          .arg(held)
                          .arg(counts);
    }
    if (problem.isEmpty())
        problem = firstProblem(destinations(video));

    const QString image = VideoFiles::trajectoryImageFile(video);
    const QString text = VideoFiles::densityFile(video);
    const QString record = VideoFiles::runRecordFile(video);
    const QByteArray imageBytes(
        reinterpret_cast<const char *>(jpeg.data()), static_cast<int>(jpeg.size()));
    const QStringList written { imageTemporary(video), densityTemporary(video),
        recordTemporary(video) };
    const QList<QByteArray> contents { imageBytes, density, runRecord };
    for (int i = 0; i < written.size() && problem.isEmpty(); ++i) {
        problem = SafeFile::remove(written[i]);
        if (problem.isEmpty())
            problem = SafeFile::writeNew(written[i], contents[i]);
    }
    if (problem.isEmpty())
        problem = SafeFile::sync(partial);

    QJsonArray steps;
    for (int i = 0; i < written.size(); ++i) {
        const QString target = i == 0 ? image : i == 1 ? text : record;
        steps.append(QJsonArray {
            QStringLiteral("rename"), relative(video, written[i]), relative(video, target) });
    }
    const QString tracksFile = VideoFiles::tracksFile(video);
    const QString journal = VideoFiles::commitJournalFile(video);
    // Tracks of an earlier run would not belong to the new count file.
    steps.append(tracks.isEmpty()
            ? QJsonArray { QStringLiteral("remove"), relative(video, tracksFile) }
            : QJsonArray {
                QStringLiteral("rename"), relative(video, tracks), relative(video, tracksFile) });
    steps.append(QJsonArray {
        QStringLiteral("remove"), relative(video, VideoFiles::partialRunRecordFile(video)) });
    // The count file last: its name is what marks the video as done.
    steps.append(QJsonArray { QStringLiteral("rename"), relative(video, partial),
        relative(video, VideoFiles::resultFile(video)) });

    bool journalled = false;
    if (problem.isEmpty()) {
        problem = SafeFile::save(journal, QJsonDocument(steps).toJson(QJsonDocument::Compact));
        journalled = problem.isEmpty();
    }
    if (journalled) {
        problem = apply(folder, journal, steps);
        if (problem.isEmpty())
            problem = SafeFile::remove(journal);
        else
            problem += QStringLiteral(" (the next run of the video completes its files)");
        if (problem.isEmpty())
            removeEmptyPartialDir(video);
    } else if (owned) {
        // As in abandon(): only files of our own.
        for (const QString &path : written + QStringList { tracks }) {
            if (!path.isEmpty())
                SafeFile::remove(path);
        }
    }
    release();
    return problem.isEmpty();
}

QString OutputSet::countFileProblem() const
{
    struct stat held;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (partialHandle < 0 || ::fstat(partialHandle, &held) != 0 || !identity(partial, device, inode)
        || device != held.st_dev || inode != held.st_ino)
        return QStringLiteral("%1 was removed or replaced during the run").arg(partial);
    return QString();
}

bool OutputSet::rollForward(const QString &video, QStringList &notes, QString &problem)
{
    const QString journal = VideoFiles::commitJournalFile(video);
    if (!SafeFile::present(journal))
        return true;
    QFile file;
    if (!SafeFile::openForReading(file, journal, &problem))
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    file.close();
    if (!document.isArray()) {
        problem
            = QStringLiteral("%1 is damaged: remove it and process the video again").arg(journal);
        return false;
    }
    problem = apply(VideoFiles::exportDir(video), journal, document.array());
    if (problem.isEmpty())
        problem = SafeFile::remove(journal);
    if (!problem.isEmpty())
        return false;
    notes << QStringLiteral("completed the files of %1, whose run was stopped while it put them "
                            "in place")
                 .arg(video);
    return true;
}

QStringList OutputSet::recover(const QString &folder)
{
    QStringList lines;
    const QString partialDir = VideoFiles::folderExportDir(folder) + QStringLiteral("/partial");
    const QString linked = linkedFolderProblem(partialDir);
    if (!linked.isEmpty())
        return { linked };
    const QStringList journals
        = QDir(partialDir).entryList({ QStringLiteral("*.commit") }, QDir::Files | QDir::Hidden);
    for (const QString &name : journals) {
        // The video's path for its names; the video itself need not exist.
        const QString video = QDir(folder).absolutePath() + QLatin1Char('/')
            + name.left(name.size() - 7) + QStringLiteral(".mp4");
        RunLock held;
        if (held.take(VideoFiles::lockFile(video)) != RunLock::Take::Taken)
            continue; // its run completes it
        if (!held.note().isEmpty())
            lines << held.note();
        QString problem;
        if (!rollForward(video, lines, problem))
            lines << problem;
        else
            removeEmptyPartialDir(video);
    }
    // What killed runs left of the videos no run holds, without waiting for
    // their next run.
    for (const QString &video : VideoFiles::listVideos(folder)) {
        const QStringList left = leftovers(video) + QStringList { VideoFiles::lockFile(video) };
        if (std::none_of(left.begin(), left.end(), SafeFile::present))
            continue;
        RunLock held;
        if (held.take(VideoFiles::lockFile(video)) != RunLock::Take::Taken)
            continue; // a run at work, or a lock its run reports
        if (!held.note().isEmpty())
            lines << held.note();
        const QString problem = removeLeftovers(video, lines);
        if (!problem.isEmpty())
            lines << problem;
    }
    return lines;
}

void OutputSet::abandon()
{
    if (!active())
        return;
    // Only while the lock is ours: the files of these names may else be
    // those of the run that took the video over.
    if (lock->intact()) {
        for (const QString &path :
            { imageTemporary(video), densityTemporary(video), recordTemporary(video) }) {
            const QString problem = SafeFile::remove(path);
            if (!problem.isEmpty())
                qCWarning(lcZones).noquote() << problem;
        }
    }
    release();
}

void OutputSet::release()
{
    if (partialHandle >= 0)
        ::close(partialHandle);
    partialHandle = -1;
    lock.reset();
}
