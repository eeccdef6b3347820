#include "batchrun.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "activitybins.h"
#include "batchprogress.h"
#include "jobpool.h"
#include "summaryreport.h"
#include "videofiles.h"

namespace {

void print(std::FILE *stream, const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

} // namespace

BatchRun::BatchRun(const BatchOptions &options)
    : options(options)
{
}

BatchRun::Status BatchRun::exec()
{
    if (options.action == BatchOptions::Action::Summary)
        return writeSummary();

    // Everything is checked before any file is touched.
    const QString source = options.boxSource.isEmpty() ? options.video : options.boxSource;
    if (!loadRunSource(source))
        return Failed;

    const QString video = QFileInfo(options.video).absoluteFilePath();
    QStringList queue;
    if (!options.boxSource.isEmpty()) {
        queue = QStringList { video };
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
    return options.jobs > 0 ? runJobs(queue) : runQueue(queue);
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
    QString problem;
    if (!SummaryReport::write(folder, activity, &problem)) {
        error(QStringLiteral("cannot write %1").arg(problem));
        return Failed;
    }
    for (const QString &line : totals(folder))
        print(stdout, line);
    return Done;
}

bool BatchRun::reportWriteErrors(const ProcessRun &run)
{
    for (const QString &problem : run.writeErrors())
        error(QStringLiteral("cannot write %1").arg(problem));
    return run.writeErrors().isEmpty();
}

QString BatchRun::summary(
    const QString &videoPath, int frames, int in, int out, const QString &note)
{
    QString line = QStringLiteral("%1: %2 frames, %3 in, %4 out")
                       .arg(VideoFiles::baseName(videoPath))
                       .arg(frames)
                       .arg(in)
                       .arg(out);
    if (!note.isEmpty())
        line += QStringLiteral(", ") + note;
    return line;
}

bool BatchRun::loadRunSource(const QString &path)
{
    const QFileInfo info(path);
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
        const QString which
            = box == area ? QStringLiteral("counting box") : QStringLiteral("tracking box");
        if (!QFileInfo(box).isFile()) {
            error(QStringLiteral("%1: missing %2 file %3").arg(path, which, box));
            return false;
        }
        if (!QFileInfo(box).isReadable()) {
            error(QStringLiteral("%1: unreadable %2 file %3").arg(path, which, box));
            return false;
        }
    }

    // Left open at frame 90: the run takes it over when VIDEO comes first.
    sourcePath = info.absoluteFilePath();
    QString why = reader.open(sourcePath, ProcessRun::kStartFrame);
    sourceFrame = reader.startFrame();
    if (why.isEmpty() && sourceFrame.type() != CV_8UC3)
        why = QStringLiteral("its frames are not 8-bit colour");
    if (!why.isEmpty()) {
        reader.close();
        error(QStringLiteral("%1: %2").arg(path, why));
        return false;
    }
    frameSize = sourceFrame.size();

    zones.loadArea(info.absoluteFilePath());
    zones.loadMask(info.absoluteFilePath());
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

BatchRun::Status BatchRun::runQueue(const QStringList &queue)
{
    Status status = Done;
    BatchProgress progress(!options.quiet);
    ProcessRun run;
    run.setTrackExport(options.tracks);
    run.setCounting(options.counting);
    run.start(zones, frameSize, queue);
    const int count = queue.size();
    int index = 0;
    bool sourceOpen = reader.isOpen();
    while (run.hasNext()) {
        ++index;
        // VIDEO's reader, open at frame 90 already, is taken as it is.
        if (sourceOpen && run.remaining().first() != sourcePath)
            reader.close();
        sourceOpen = false;
        const bool opened = run.openNext(reader);
        if (!opened) {
            progress.clear();
            warning(QStringLiteral("skipped %1: %2").arg(run.video(), run.skipReason()));
            if (status == Done)
                status = Skipped;
            continue;
        }
        progress.startVideo(index, count, reader.frameCount(), run.position());
        while (const FrameReader::Frame *frame = reader.next()) {
            run.processGrey(frame->grey);
            progress.update(run.position());
        }
        run.finishVideo(reader);
        reader.close();
        progress.clear();
        if (!run.endWarning().isEmpty()) {
            warning(QStringLiteral("%1: %2").arg(run.video(), run.endWarning()));
            if (status == Done)
                status = Skipped;
        }
        if (!reportWriteErrors(run))
            status = Failed;
        print(stdout,
            summary(run.video(), run.framesProcessed(), run.inCount(), run.outCount(),
                run.endWarning()));
    }
    return status;
}

BatchRun::Status BatchRun::runJobs(const QStringList &queue)
{
    reader.close();
    const QString source
        = QFileInfo(options.boxSource.isEmpty() ? options.video : options.boxSource)
              .absoluteFilePath();
    QList<QStringList> jobs;
    for (const QString &video : queue) {
        QStringList arguments { QStringLiteral("--mode"), QStringLiteral("one"),
            QStringLiteral("--counting"), CountingMethod::kindName(options.counting),
            QStringLiteral("--boxes-from"), source };
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
    bool failed = false;
    pool.run(
        jobs,
        [&](const QByteArray &output) {
            progress.clear();
            std::fwrite(output.constData(), 1, static_cast<size_t>(output.size()), stdout);
            std::fflush(stdout);
        },
        [&](const QByteArray &output) {
            progress.clear();
            std::fwrite(output.constData(), 1, static_cast<size_t>(output.size()), stderr);
            std::fflush(stderr);
        },
        [&](int job, int exitStatus, const QString &problem) {
            ++done;
            if (exitStatus != Done) {
                failed = true;
                progress.clear();
                warning(problem.isEmpty()
                        ? QStringLiteral("%1 ended with status %2").arg(queue[job]).arg(exitStatus)
                        : QStringLiteral("%1: %2").arg(queue[job], problem));
            }
            progress.videosDone(done, queue.size());
        });
    progress.clear();
    return failed ? Skipped : Done;
}

void BatchRun::error(const QString &text) const
{
    print(stderr, QStringLiteral("kestrin-batch: error: ") + text);
}

void BatchRun::warning(const QString &text) const
{
    print(stderr, QStringLiteral("kestrin-batch: warning: ") + text);
}
