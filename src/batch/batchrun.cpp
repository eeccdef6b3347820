#include "batchrun.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include "batchprogress.h"
#include "jobpool.h"
#include "report/activitybins.h"
#include "report/summaryreport.h"
#include "run/processrun.h"
#include "run/rundriver.h"
#include "stopsignal.h"
#include "zones/outputset.h"
#include "zones/videofiles.h"
#include "zonesnapshot.h"
#include <unistd.h>

namespace {

// False when the stream cannot take the line.
bool print(std::FILE *stream, const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    return std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream)
        == static_cast<size_t>(bytes.size())
        && std::fflush(stream) == 0;
}

QString boxKind(const QString &box, const QString &area)
{
    return box == area ? QStringLiteral("counting box") : QStringLiteral("tracking box");
}

} // namespace

BatchRun::BatchRun(const BatchOptions &options)
    : options(options)
{
}

int BatchRun::exec()
{
    if (options.action == BatchOptions::Action::Summary)
        return writeSummary();

    StopSignal::install();
    // Everything is checked before any file is touched.
    if (!options.zonesFile.isEmpty()) {
        if (!loadSnapshot(options.zonesFile))
            return Failed;
    } else if (!loadRunSource(options.boxSource.isEmpty() ? options.video : options.boxSource)) {
        return Failed;
    }

    const QString video = QFileInfo(options.video).absoluteFilePath();
    // Files a killed run left half in place, whether or not this run takes
    // their video (its --jobs children leave that to it).
    if (options.zonesFile.isEmpty()) {
        for (const QString &line : OutputSet::recover(QFileInfo(video).absolutePath()))
            warning(line);
    }
    QStringList queue;
    if (!options.boxSource.isEmpty()) {
        queue = QStringList { video };
    } else if (options.shardCount > 0) {
        // Shared out before the unprocessed ones are picked: a shard that has
        // finished must not shift the videos of one that starts later.
        const QStringList folder = VideoFiles::listVideos(QFileInfo(video).absolutePath());
        queue = ProcessRun::queueFor(
            options.mode, video, shard(folder, options.shardIndex, options.shardCount));
    } else {
        const QStringList folder = options.mode == ProcessRun::One
            ? QStringList()
            : VideoFiles::listVideos(QFileInfo(video).absolutePath());
        queue = ProcessRun::queueFor(options.mode, video, folder);
    }
    if (queue.isEmpty()) {
        warning(QStringLiteral("no video to process"));
        return Done;
    }
    // A shard's videos are independent runs, as with --jobs.
    int status = options.jobs > 0 || options.shardCount > 0 ? runJobs(queue) : runQueue(queue);
    if (!outputProblem.isEmpty()) {
        error(QStringLiteral("cannot write the summary to standard output: %1").arg(outputProblem));
        if (status == Done)
            status = Failed;
    }
    return status;
}

QStringList BatchRun::shard(const QStringList &videos, int index, int count)
{
    QStringList sorted = videos;
    std::sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    QStringList picked;
    for (int i = index; count > 0 && i < sorted.size(); i += count)
        picked << sorted[i];
    return picked;
}

QStringList BatchRun::totals(const FolderSummary &folder)
{
    int partial = 0;
    int unprocessed = 0;
    for (const FolderSummary::Row &row : folder.rows()) {
        partial += row.status == FolderSummary::Status::Partial ? 1 : 0;
        unprocessed += row.status == FolderSummary::Status::NotProcessed ? 1 : 0;
    }
    const int videos = static_cast<int>(folder.rows().size());
    QStringList lines;
    lines << QStringLiteral("%1 videos (%2 processed, %3 partial, %4 not processed): %5 in, %6 out")
                 .arg(videos)
                 .arg(videos - partial - unprocessed)
                 .arg(partial)
                 .arg(unprocessed)
                 .arg(folder.totalIn())
                 .arg(folder.totalOut());
    if (folder.firstEvent().isValid()) {
        lines << QStringLiteral("first event %1, last event %2")
                     .arg(FolderSummary::formatTime(folder.firstEvent()),
                         FolderSummary::formatTime(folder.lastEvent()));
    } else {
        lines << QStringLiteral("no dated event");
    }
    if (folder.undatedEvents() > 0)
        lines << QStringLiteral("%1 events without a time stamp").arg(folder.undatedEvents());
    const FolderSummary::ReviewTotals reviewed = folder.reviewTotals();
    if (reviewed.complete + reviewed.partial > 0)
        lines << QStringLiteral("reviewed: %1 videos complete, %2 partial: %3 in, %4 out")
                     .arg(reviewed.complete)
                     .arg(reviewed.partial)
                     .arg(reviewed.in)
                     .arg(reviewed.out);
    if (const auto &p = folder.samplePrecision())
        lines << QStringLiteral("sample of %1 of %2 events (seed %3): %4 confirmed, %5 rejected, "
                                "%6 not reviewed; precision %7, 95 % Wilson interval %8 to %9")
                     .arg(folder.sample().picks.size())
                     .arg(folder.sample().total)
                     .arg(folder.sample().seed)
                     .arg(p->confirmed)
                     .arg(p->rejected)
                     .arg(p->unreviewed)
                     .arg(p->value, 0, 'f', 3)
                     .arg(p->low, 0, 'f', 3)
                     .arg(p->high, 0, 'f', 3);
    return lines;
}

BatchRun::Status BatchRun::writeSummary()
{
    const QFileInfo dir(options.summaryDir);
    if (!dir.isDir()) {
        error(QStringLiteral("%1: no such folder").arg(options.summaryDir));
        return Failed;
    }
    const FolderSummary folder = FolderSummary::read(dir.absoluteFilePath());
    if (folder.countFiles() == 0) {
        error(QStringLiteral("%1: no count file in %2")
                  .arg(options.summaryDir, VideoFiles::folderExportDir(dir.absoluteFilePath())));
        return Failed;
    }
    const ActivityBins activity = ActivityBins::compute(folder, options.bin);
    for (const QString &problem : folder.warnings())
        warning(problem);
    if (!activity.cutWarning().isEmpty())
        warning(activity.cutWarning());
    QString problem;
    if (!SummaryReport::write(folder, activity, &problem)) {
        error(problem);
        return Failed;
    }
    for (const QString &line : totals(folder)) {
        if (!print(stdout, line)) {
            error(QStringLiteral("cannot write the totals to standard output: %1")
                      .arg(QString::fromLocal8Bit(std::strerror(errno))));
            return Failed;
        }
    }
    return Done;
}

QString BatchRun::failedSummary(const QString &videoPath, const QString &reason)
{
    RunDriver::VideoEnd end;
    end.video = videoPath;
    end.outcome = RunDriver::Outcome::Failed;
    end.reason = reason;
    return end.summaryLine();
}

bool BatchRun::loadRunSource(const QString &path)
{
    const QFileInfo info(path);
    const QString nameProblem = VideoFiles::nameProblem(path);
    if (!nameProblem.isEmpty()) {
        error(QStringLiteral("%1: %2").arg(path, nameProblem));
        return false;
    }
    if (!info.exists()) {
        error(QStringLiteral("%1: no such file").arg(path));
        return false;
    }
    if (!info.isFile() || !info.isReadable()) {
        error(QStringLiteral("%1: not a readable file").arg(path));
        return false;
    }
    // Loading a box creates exportCSV when it is missing: look first.
    const QString area = VideoFiles::areaFile(info.absoluteFilePath());
    const QString mask = VideoFiles::maskFile(info.absoluteFilePath());
    for (const QString &box : { area, mask }) {
        const QString which = boxKind(box, area);
        if (!QFileInfo(box).exists()) {
            error(QStringLiteral("%1: missing %2 file %3").arg(path, which, box));
            return false;
        }
        const QString problem = AreaContour::boxFileProblem(box);
        if (!problem.isEmpty()) {
            error(
                QStringLiteral("%1: cannot use the %2 file %3: %4").arg(path, which, box, problem));
            return false;
        }
    }

    sourcePath = info.absoluteFilePath();
    FrameReader reader(4, FrameReader::Direct, FrameReader::GreyOnly);
    QString why = reader.open(sourcePath, ProcessRun::kStartFrame);
    if (why.isEmpty())
        why = ProcessRun::noFrameCount(reader.frameCount());
    if (why.isEmpty() && reader.startFrame().type() != CV_8UC3)
        why = QStringLiteral("its frames are not 8-bit colour");
    if (!why.isEmpty()) {
        error(QStringLiteral("%1: %2").arg(path, why));
        return false;
    }
    frameSize = reader.startFrame().size();

    QStringList unread;
    zones.loadArea(info.absoluteFilePath(), &unread);
    zones.loadMask(info.absoluteFilePath(), &unread);
    for (const QString &line : qAsConst(unread))
        warning(line);
    if (zones.getMask().size() < 3)
        warning(QStringLiteral("%1: the tracking box has fewer than three points: almost nothing "
                               "will be detected")
                    .arg(path));
    if (zones.getArea().size() < 2)
        warning(QStringLiteral("%1: the counting box has fewer than two points: nothing will be "
                               "counted")
                    .arg(path));
    return true;
}

bool BatchRun::loadSnapshot(const QString &path)
{
    QString why;
    if (!ZoneSnapshot::read(path, zones, frameSize, why)) {
        error(why);
        return false;
    }
    sourcePath = QFileInfo(options.boxSource).absoluteFilePath();
    return true;
}

int BatchRun::runQueue(const QStringList &queue)
{
    BatchProgress progress(!options.quiet);
    RunDriver driver;
    driver.setTrackExport(options.tracks);
    driver.setCounting(options.counting);
    QObject::connect(&driver, &RunDriver::noted, [this](const QString &video, const QString &note) {
        warning(QStringLiteral("%1: %2").arg(video, note));
    });
    QObject::connect(&driver, &RunDriver::videoStarted, [&] {
        progress.startVideo(driver.videoIndex(), driver.totals().queued,
            driver.reader().frameCount(), driver.current().position());
    });
    QObject::connect(
        &driver, &RunDriver::frameProcessed, [&] { progress.update(driver.current().position()); });
    QObject::connect(&driver, &RunDriver::videoEnded, [&](const RunDriver::VideoEnd &end) {
        progress.clear();
        reportEnd(end);
    });
    // Read at the start, as VIDEO's are.
    driver.start(zones, frameSize, queue, ownBoxes(queue), RunDriver::OwnBoxes::Restart);
    while (StopSignal::received() == 0 && driver.step()) { }
    if (StopSignal::received() != 0) {
        driver.cancel();
        return StopSignal::exitStatus(StopSignal::received());
    }
    const RunDriver::Totals &totals = driver.totals();
    // An early end counts as a skip, a file that could not be written as a
    // failure.
    return finalStatus(
        totals.queued, totals.failed + totals.withWriteErrors, totals.skipped + totals.endedEarly);
}

void BatchRun::reportEnd(const RunDriver::VideoEnd &end)
{
    switch (end.outcome) {
    case RunDriver::Outcome::Skipped:
        warning(QStringLiteral("skipped %1: %2").arg(end.video, end.reason));
        return;
    case RunDriver::Outcome::Failed:
        error(QStringLiteral("%1: %2").arg(end.video, end.reason));
        result(end.summaryLine());
        return;
    case RunDriver::Outcome::Cancelled:
        warning(QStringLiteral("stopped by signal %1 at frame %2 of %3; its counts so far are "
                               "in %4")
                    .arg(StopSignal::received())
                    .arg(end.position)
                    .arg(end.video, VideoFiles::partialResultFile(end.video)));
        result(end.summaryLine());
        return;
    case RunDriver::Outcome::EndedEarly:
        warning(QStringLiteral("%1: %2").arg(end.video, end.reason));
        break;
    case RunDriver::Outcome::Done:
        break;
    }
    for (const QString &problem : end.writeErrors)
        error(problem);
    result(end.summaryLine());
}

QHash<QString, AreaContour> BatchRun::ownBoxes(const QStringList &queue)
{
    // Children of --jobs got theirs from the parent, which said so.
    if (!options.zonesFile.isEmpty())
        return {};
    QStringList unread;
    const QHash<QString, AreaContour> own = RunDriver::ownBoxes(sourcePath, zones, queue, &unread);
    if (options.boxes == BatchOptions::Boxes::Own) {
        for (const QString &line : qAsConst(unread))
            warning(line);
        return own;
    }
    for (const QString &video : queue) {
        if (own.contains(video))
            warning(QStringLiteral("%1: counted with the boxes of %2, not with its own, which "
                                   "differ (--boxes own counts it with its own)")
                        .arg(video, sourcePath));
    }
    return {};
}

int BatchRun::finalStatus(int videos, int failed, int skipped) const
{
    if (failed == 0 && skipped == 0)
        return Done;
    return videos == 1 && failed == 1 ? Failed : Skipped;
}

int BatchRun::runJobs(const QStringList &queue)
{
    const QString source
        = QFileInfo(options.boxSource.isEmpty() ? options.video : options.boxSource)
              .absoluteFilePath();
    // The children use the points read here, whatever happens to the box
    // files while they run. The folder's name carries this process's id, so
    // that a later run can tell one left by a killed parent.
    removeDeadTemporaries();
    QTemporaryDir snapshotDir(QDir::tempPath()
        + QStringLiteral("/kestrin-batch-%1-XXXXXX").arg(QCoreApplication::applicationPid()));
    const QString snapshot = snapshotDir.filePath(QStringLiteral("zones"));
    QString why;
    if (!snapshotDir.isValid() || !ZoneSnapshot::write(snapshot, zones, frameSize, why)) {
        error(snapshotDir.isValid() ? why
                                    : QStringLiteral("cannot create a temporary folder in %1: %2")
                                          .arg(QDir::tempPath(), snapshotDir.errorString()));
        return Failed;
    }
    QList<QStringList> jobs;
    const QHash<QString, AreaContour> own = ownBoxes(queue);
    for (const QString &video : queue) {
        QString boxes = snapshot;
        if (own.contains(video)) {
            boxes = snapshotDir.filePath(QStringLiteral("zones-%1").arg(jobs.size()));
            if (!ZoneSnapshot::write(boxes, own.value(video), frameSize, why)) {
                error(why);
                return Failed;
            }
        }
        QStringList arguments { QStringLiteral("--mode"), QStringLiteral("one"),
            QStringLiteral("--counting"), CountingMethod::kindName(options.counting),
            QStringLiteral("--boxes-from"), source, QStringLiteral("--zones-file"), boxes };
        if (options.quiet)
            arguments << QStringLiteral("--quiet");
        if (options.tracks)
            arguments << QStringLiteral("--tracks");
        arguments << QStringLiteral("--") << video;
        jobs << arguments;
    }
    BatchProgress progress(!options.quiet);
    JobPool pool(QCoreApplication::applicationFilePath(), options.jobs);
    int done = 0;
    int failed = 0;
    int skipped = 0;
    pool.run(
        jobs,
        [&](const QByteArray &output) {
            progress.clear();
            if (std::fwrite(output.constData(), 1, static_cast<size_t>(output.size()), stdout)
                    != static_cast<size_t>(output.size())
                || std::fflush(stdout) != 0)
                outputProblem = QString::fromLocal8Bit(std::strerror(errno));
        },
        [&](const QByteArray &output) {
            progress.clear();
            std::fwrite(output.constData(), 1, static_cast<size_t>(output.size()), stderr);
            std::fflush(stderr);
        },
        [&](int job, int exitStatus, const QString &problem) {
            ++done;
            if (exitStatus == Failed || !problem.isEmpty()) {
                ++failed;
                progress.clear();
                if (!problem.isEmpty()) {
                    error(QStringLiteral("%1: %2").arg(queue[job], problem));
                    result(failedSummary(queue[job], problem));
                }
            } else if (exitStatus != Done) {
                ++skipped;
            }
            progress.videosDone(done, queue.size());
        },
        [] { return StopSignal::received(); });
    progress.clear();
    if (StopSignal::received() != 0)
        return StopSignal::exitStatus(StopSignal::received());
    return finalStatus(queue.size(), failed, skipped);
}

void BatchRun::removeDeadTemporaries()
{
    const QDir temporary(QDir::tempPath());
    const QFileInfoList folders = temporary.entryInfoList(
        { QStringLiteral("kestrin-batch-*-*") }, QDir::Dirs | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo &folder : folders) {
        bool number = false;
        const qint64 pid = folder.fileName().section(QLatin1Char('-'), 2, 2).toLongLong(&number);
        if (!number || pid <= 0 || pid > INT_MAX || folder.ownerId() != ::geteuid()
            || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        if (QDir(folder.absoluteFilePath()).removeRecursively())
            warning(QStringLiteral("removed %1, left by process %2, which is no longer running")
                        .arg(folder.absoluteFilePath())
                        .arg(pid));
        else
            warning(QStringLiteral("cannot remove %1, left by process %2")
                        .arg(folder.absoluteFilePath())
                        .arg(pid));
    }
}

void BatchRun::error(const QString &text)
{
    print(stderr, QStringLiteral("kestrin-batch: error: ") + text);
}

void BatchRun::warning(const QString &text)
{
    print(stderr, QStringLiteral("kestrin-batch: warning: ") + text);
}

void BatchRun::result(const QString &line)
{
    if (!print(stdout, line) && outputProblem.isEmpty())
        outputProblem = QString::fromLocal8Bit(std::strerror(errno));
}
