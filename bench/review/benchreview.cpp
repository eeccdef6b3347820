// How long the review window takes to show its first screen of tiles, and
// the memory it holds, on a 1920 x 1080 video with many events. It makes the
// video (ffmpeg's testsrc2 in H.264, 25 frames per second, a key frame every
// 2 s) and a count file with `events` events spread evenly over it, opens the
// review offscreen at its default size and reports:
//   - the time from opening the window to every visible tile showing its
//     event's frame (the first screen), and to every one having its clip,
//   - the same after jumping to the middle of the list,
//   - the resident memory then, and its peak after paging through every tile.
//
//   kestrin-bench-review [EVENTS [FRAMES]]          (default 1000 events over 1500 frames)
//   kestrin-bench-review --video VIDEO [EVENTS [FRAMES]] [--screenshot PNG] [--decide]
//
// With --video, a video that does not exist is made there (and kept, for
// runs to compare on the same file).

#include <cstdio>
#include <ctime>
#include <random>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "reviewmodel.h"
#include "reviewwindow.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"

namespace {

// kB of the process's "VmRSS" or "VmHWM".
long memoryKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Of every thread of the process: a measure the machine's load hardly changes.
double processorSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

enum class Until { EventFrames, Clips };

// Milliseconds on `clock` when every tile on screen shows its event's frame,
// or has its clip; -1 after two minutes.
qint64 untilScreenShown(ReviewWindow &window, Until until, const QElapsedTimer &clock)
{
    const qint64 start = clock.elapsed();
    const auto waiting = [&window, until] {
        return until == Until::Clips ? window.visibleWaiting() : window.visibleBlank();
    };
    // Waits rather than spins: a spinning loop would take a core from the decoding.
    while (window.visibleRows().isEmpty() || waiting() > 0) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (clock.elapsed() - start > 120000)
            return -1;
    }
    return clock.elapsed();
}

bool makeVideo(const QString &path, int frames, int events)
{
    QProcess ffmpeg;
    ffmpeg.start(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
        { QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"), QStringLiteral("testsrc2=size=1920x1080:rate=25"),
            QStringLiteral("-frames:v"), QString::number(frames), QStringLiteral("-c:v"),
            QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"),
            QStringLiteral("-g"), QStringLiteral("50"), QStringLiteral("-pix_fmt"),
            QStringLiteral("yuv420p"), path });
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0)
        return false;
    AreaContour zones;
    zones.addAreaPoint(cv::Point(960, 100));
    zones.addAreaPoint(cv::Point(960, 980));
    zones.saveArea(path);
    QByteArray counts = "Frame;X;Y;In;Out;Timestamp\n";
    std::mt19937 random(1);
    for (int i = 0; i < events; ++i) {
        const int frame = 30 + static_cast<int>(double(i) * (frames - 60) / events);
        const int y = 100 + static_cast<int>(random() % 880);
        counts += QStringLiteral("%1;%2;%3;%4;%5;2015-06-12_09:30:00\n")
                      .arg(frame)
                      .arg(940 + static_cast<int>(random() % 40))
                      .arg(y)
                      .arg(i % 2)
                      .arg(1 - i % 2)
                      .toUtf8();
    }
    QFile file(VideoFiles::resultFile(path));
    return file.open(QIODevice::WriteOnly) && file.write(counts) == counts.size();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QStringList args = app.arguments().mid(1);
    QString video;
    QString screenshot;
    bool decide = false;
    int events = 1000;
    int frames = 1500;
    int counts = 0; // numbers given: events, then frames
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--video") && i + 1 < args.size())
            video = args[++i];
        else if (args[i] == QLatin1String("--screenshot") && i + 1 < args.size())
            screenshot = args[++i];
        else if (args[i] == QLatin1String("--decide"))
            decide = true;
        else if (args[i].toInt() > 0)
            (++counts == 1 ? events : frames) = args[i].toInt();
    }
    QTemporaryDir dir;
    if (video.isEmpty())
        video = dir.filePath(QStringLiteral("video_20150612_0930_01.mp4"));
    if (!QFile::exists(video)) {
        std::printf("making a 1920x1080 video of %d frames with %d events...\n", frames, events);
        std::fflush(stdout);
        if (!makeVideo(video, frames, events)) {
            std::fprintf(stderr, "kestrin-bench-review: cannot make the video\n");
            return 1;
        }
    }
    const long before = memoryKb("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    const double startCpu = processorSeconds();
    ReviewWindow window;
    if (!window.setVideo(video))
        return 1;
    window.show();
    const qint64 opened = clock.elapsed();
    const qint64 first = untilScreenShown(window, Until::EventFrames, clock);
    const double firstCpu = processorSeconds();
    const qint64 full = untilScreenShown(window, Until::Clips, clock);
    std::printf("%d events; window open in %lld ms; first screen (%d tiles): event frames in "
                "%lld ms, clips in %lld ms from opening (processor time %.2f s, %.2f s)\n",
        window.model()->rowCount(), static_cast<long long>(opened),
        static_cast<int>(window.visibleRows().size()), static_cast<long long>(first),
        static_cast<long long>(full), firstCpu - startCpu, processorSeconds() - startCpu);
    if (decide) {
        window.view()->setFocus();
        for (const int key : { Qt::Key_Space, Qt::Key_Space, Qt::Key_Delete, Qt::Key_Space })
            QTest::keyClick(window.view(), Qt::Key(key));
    }
    if (!screenshot.isEmpty()) {
        // Taken while the tiles show the frame their event was counted in.
        const bool atEvent = QTest::qWaitFor(
            [&window] {
                return window.model()->index(0).data(ReviewModel::EventFrameRole).toBool();
            },
            5000);
        if (!atEvent || !window.grab().save(screenshot))
            return 1;
        return 0;
    }

    QScrollBar *bar = window.view()->verticalScrollBar();
    clock.restart();
    bar->setValue(bar->maximum() / 2);
    const qint64 middle = untilScreenShown(window, Until::EventFrames, clock);
    const qint64 middleFull = untilScreenShown(window, Until::Clips, clock);
    std::printf("middle screen: event frames in %lld ms, clips in %lld ms; resident memory %ld kB "
                "(%ld kB before the window)\n",
        static_cast<long long>(middle), static_cast<long long>(middleFull), memoryKb("VmRSS:"),
        before);
    clock.restart();
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
        bar->setValue(value);
        untilScreenShown(window, Until::Clips, clock);
    }
    std::printf("paged through every tile in %.1f s; clips held %d; resident %ld kB, peak %ld kB\n",
        clock.elapsed() / 1000.0, window.model()->clipCount(), memoryKb("VmRSS:"),
        memoryKb("VmHWM:"));
    return 0;
}
