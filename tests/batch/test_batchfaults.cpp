#include <csignal>
#include <map>
#include <vector>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include "insectscene.h"
#include "scenes/groundtruthscene.h"
#include "testfiles.h"
#include "zones/trackwriter.h"
#include "zones/videofiles.h"
#include <fcntl.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// kestrin-batch where things go wrong: files it cannot write, runs killed or
// interrupted, two runs of one video, box files changed under a run. The
// earlier complete files of a video must come out byte for byte as they were,
// and the exit status and message must say what happened.
namespace {

const QByteArray header("Frame;X;Y;In;Out;Timestamp\n");
const QByteArray earlierCounts = header + "1;2;3;1;0;earlier\n";
const QByteArray earlierImage("earlier image");
const QByteArray earlierDensity("Density: 0.1234");
const std::vector<cv::Point> crossingLine { { 132, 60 }, { 132, 180 } };

struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

void prepare(QProcess &process)
{
    // No Qt platform plugin in the program: the fast unwinder keeps it quick
    // under ASan.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    asan.replace(
        QLatin1String("fast_unwind_on_malloc=0"), QLatin1String("fast_unwind_on_malloc=1"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), asan);
    process.setProcessEnvironment(environment);
}

Outcome finish(QProcess &process)
{
    Outcome outcome;
    if (!process.waitForFinished(180000))
        return outcome;
    outcome.status
        = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -process.exitCode();
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

Outcome runBatch(const QStringList &arguments, const QString &standardOutput = QString(),
    const QString &temporary = QString())
{
    QProcess process;
    prepare(process);
    if (!temporary.isEmpty()) {
        QProcessEnvironment environment = process.processEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), temporary);
        process.setProcessEnvironment(environment);
    }
    if (!standardOutput.isEmpty())
        process.setStandardOutputFile(standardOutput);
    process.start(QStringLiteral(KESTRIN_BATCH), arguments);
    return finish(process);
}

// A run whose standard error goes into a pipe of one page that the test reads
// only from release() on. With the per-frame log on, the run, or with --jobs
// every child and the parent, stops in the middle of its video once the pipe
// is full: the lock is held and the partial counts are there for as long as
// the test needs. Standard output goes to a file.
class HeldRun
{
public:
    HeldRun() = default;
    ~HeldRun()
    {
        if (running) {
            ::kill(child, SIGKILL);
            release();
        }
    }
    HeldRun(const HeldRun &) = delete;
    HeldRun &operator=(const HeldRun &) = delete;

    bool start(const QStringList &arguments, const QString &outputFile)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return false;
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
        output = outputFile;
        QByteArrayList argumentBytes { QByteArray(KESTRIN_BATCH) };
        for (const QString &argument : arguments)
            argumentBytes << QFile::encodeName(argument);
        std::vector<char *> argv;
        for (QByteArray &argument : argumentBytes)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        QByteArrayList environmentBytes;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(
            QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("kestrin.*.debug=true"));
        QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        asan.replace(
            QLatin1String("fast_unwind_on_malloc=0"), QLatin1String("fast_unwind_on_malloc=1"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"), asan);
        for (const QString &entry : environment.toStringList())
            environmentBytes << entry.toLocal8Bit();
        std::vector<char *> envp;
        for (QByteArray &entry : environmentBytes)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        const QByteArray outputName = QFile::encodeName(outputFile);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
        posix_spawn_file_actions_addopen(
            &actions, STDOUT_FILENO, outputName.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int spawned
            = ::posix_spawn(&child, argv.front(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            ::close(fds[0]);
            return false;
        }
        errorPipe = fds[0];
        running = true;
        return true;
    }

    qint64 pid() const { return child; }

    // Reads standard error to its end, then waits for the run: its exit
    // status, or minus the signal that killed it.
    Outcome release()
    {
        Outcome outcome;
        char chunk[4096];
        ssize_t got = 0;
        while ((got = ::read(errorPipe, chunk, sizeof chunk)) > 0)
            outcome.err.append(chunk, static_cast<int>(got));
        ::close(errorPipe);
        int status = 0;
        if (::waitpid(child, &status, 0) == child)
            outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        running = false;
        outcome.out = testfiles::read(output);
        return outcome;
    }

private:
    pid_t child = -1;
    int errorPipe = -1;
    bool running = false;
    QString output;
};

using testfiles::snapshot;

void writeEarlierFiles(const QString &video)
{
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), earlierCounts));
    QVERIFY(testfiles::write(VideoFiles::trajectoryImageFile(video), earlierImage));
    QVERIFY(testfiles::write(VideoFiles::densityFile(video), earlierDensity));
}

void compareEarlierFiles(const QString &video)
{
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), earlierCounts);
    QCOMPARE(testfiles::read(VideoFiles::trajectoryImageFile(video)), earlierImage);
    QCOMPARE(testfiles::read(VideoFiles::densityFile(video)), earlierDensity);
}

// The lines of a text, sorted.
QStringList lines(const QByteArray &text)
{
    QStringList list = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    list.sort();
    return list;
}

// No temporary file of a completed or failed write is left in exportCSV.
QStringList temporaries(const QString &video)
{
    return QDir(VideoFiles::exportDir(video)).entryList({ QStringLiteral("*.tmp") }, QDir::Files);
}

// The processes whose parent is `parent`, from /proc.
QList<qint64> childrenOf(qint64 parent)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray stat = testfiles::read(QStringLiteral("/proc/%1/stat").arg(pid));
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == parent)
            children << pid;
    }
    return children;
}

// Ended: gone, or a zombie that nobody has reaped yet.
bool running(qint64 pid)
{
    const QByteArray stat = testfiles::read(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.contains(')'))
        return false;
    return stat.mid(stat.lastIndexOf(')') + 2, 1) != "Z";
}

// A small file system of its own, unmounted however the test ends.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const QString &where)
        : path(QFile::encodeName(where))
    {
        mounted = ::mount("tmpfs", path.constData(), "tmpfs", 0, "size=256k") == 0;
    }
    ~SmallFileSystem()
    {
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;

    bool isMounted() const { return mounted; }
    bool makeReadOnly()
    {
        return ::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray path;
    bool mounted = false;
};

// An inode flag (immutable, append-only) set on a file for as long as the
// guard lives; the folder could not be removed afterwards otherwise.
class FileFlag
{
public:
    FileFlag(const QString &file, int flag)
        : path(QFile::encodeName(file))
        , flag(flag)
    {
        set = change(true);
    }
    ~FileFlag()
    {
        if (set)
            change(false);
    }
    FileFlag(const FileFlag &) = delete;
    FileFlag &operator=(const FileFlag &) = delete;

    bool isSet() const { return set; }

private:
    bool change(bool on) const
    {
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? flags | flag : flags & ~flag;
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return done;
    }

    QByteArray path;
    int flag;
    bool set = false;
};

// Fills the file system of `folder` up, then frees `pages` pages of 4 KiB.
bool fillUp(const QString &folder, int pages)
{
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray page(4096, 'x');
    while (filler.write(page) == page.size()) { }
    filler.close();
    return filler.resize(qMax<qint64>(0, (filler.size() / 4096 - pages) * 4096));
}

} // namespace

class TestBatchFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void failedWritesKeepEarlierFiles_data();
    void failedWritesKeepEarlierFiles();
    void sideFiles_data();
    void sideFiles();
    void changesUnderARunFailIt_data();
    void changesUnderARunFailIt();
    void interruptedRunsKeepPartialCounts_data();
    void interruptedRunsKeepPartialCounts();
    void oneRunPerVideo_data();
    void oneRunPerVideo();
    void jobsEndWithTheirParent_data();
    void jobsEndWithTheirParent();
    void jobsKeepTheBoxesReadAtTheStart();
    void timeStampsComeFromTheFileName_data();
    void timeStampsComeFromTheFileName();

private:
    QString work() const { return dir.filePath(QStringLiteral("work")); }
    // A copy of a recording in the work folder with the counting line boxes.
    QString addVideo(const QString &name, const QString &recording) const;

    QTemporaryDir dir;
    QString crossing; // 140 frames, the disc flying right along y = 120
    QString longCrossing; // the same flight, then 700 more frames standing still
};

void TestBatchFaults::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(KESTRIN_BATCH)).isExecutable(), KESTRIN_BATCH);
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("source"))));
    crossing = dir.filePath(QStringLiteral("source/crossing.mp4"));
    longCrossing = dir.filePath(QStringLiteral("source/long.mp4"));
    QVERIFY(insectscene::write(crossing, 140, insectscene::rightwards));
    QVERIFY(insectscene::write(longCrossing, 840, insectscene::rightwards));
}

void TestBatchFaults::init()
{
    // Out of QDir's sight: sideFiles' video whose name is not UTF-8.
    ::unlink((QFile::encodeName(work()) + "/caf\xe9.mp4").constData());
    QDir folder(work());
    QVERIFY(folder.removeRecursively());
    QVERIFY(QDir().mkpath(folder.path()));
}

QString TestBatchFaults::addVideo(const QString &name, const QString &recording) const
{
    const QString path = work() + QLatin1Char('/') + name;
    if (!QDir().mkpath(QFileInfo(path).path()) || !QFile::copy(recording, path))
        return QString();
    GroundTruthScene::saveBoxes(path, crossingLine, insectscene::wholeFrame());
    return path;
}

void TestBatchFaults::failedWritesKeepEarlierFiles_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("secondVideo"); // a good video queued after the faulty one
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("count file is a directory")
        << "csv directory" << false << 1 << QByteArray("a.csv: it is a directory");
    QTest::newRow("count file is a directory, another video done")
        << "csv directory" << true << 3 << QByteArray("a.csv: it is a directory");
    QTest::newRow("density file is a directory")
        << "txt directory" << false << 1 << QByteArray("a_doza.txt: it is a directory");
    QTest::newRow("count file immutable")
        << "immutable" << false << 1 << QByteArray("a.csv: Operation not permitted");
    QTest::newRow("count file append-only")
        << "append-only" << false << 1 << QByteArray("a.csv: Operation not permitted");
    QTest::newRow("export folder read-only")
        << "read-only" << false << 1 << QByteArray("a.lock: Read-only file system");
    QTest::newRow("export folder full")
        << "full" << false << 1 << QByteArray("No space left on device");
    QTest::newRow("export folder full from the start")
        << "full at start" << false << 1 << QByteArray("a.csv: No space left on device");
    QTest::newRow("another process holds the video")
        << "locked" << false << 3 << QByteArray("is being processed by process");
    QTest::newRow("another process holds one of two")
        << "locked" << true << 3 << QByteArray("is being processed by process");
    QTest::newRow("standard output full")
        << "stdout" << false << 1 << QByteArray("cannot write the summary to standard output");
}

void TestBatchFaults::failedWritesKeepEarlierFiles()
{
    QFETCH(QString, fault);
    QFETCH(bool, secondVideo);
    QFETCH(int, status);
    QFETCH(QByteArray, message);

    const QString video = addVideo(QStringLiteral("a.mp4"), crossing);
    QVERIFY(!video.isEmpty());
    QString other;
    if (secondVideo) {
        other = addVideo(QStringLiteral("b.mp4"), crossing);
        QVERIFY(!other.isEmpty());
    }

    std::unique_ptr<SmallFileSystem> small;
    std::unique_ptr<FileFlag> flag;
    QLockFile holder(VideoFiles::lockFile(video));
    const bool full = fault.startsWith(QLatin1String("full"));
    if (full || fault == QLatin1String("read-only")) {
        if (geteuid() != 0)
            QSKIP("mounting a file system needs root (the seam is tested in test_processrun)");
        const QString exportDir = VideoFiles::exportDir(video);
        QVERIFY(QDir(exportDir).removeRecursively());
        QVERIFY(QDir().mkpath(exportDir));
        small = std::make_unique<SmallFileSystem>(exportDir);
        if (!small->isMounted())
            QSKIP("this machine does not let the test mount a file system");
        GroundTruthScene::saveBoxes(video, crossingLine, insectscene::wholeFrame());
        writeEarlierFiles(video);
        // Room for the lock and the counts, not for the trajectory image;
        // from the start, for the lock alone.
        if (full)
            QVERIFY(fillUp(exportDir, fault == QLatin1String("full") ? 2 : 1));
        else
            QVERIFY(small->makeReadOnly());
    } else {
        writeEarlierFiles(video);
    }
    if (fault == QLatin1String("csv directory")) {
        QVERIFY(QFile::remove(VideoFiles::resultFile(video)));
        QVERIFY(QDir().mkdir(VideoFiles::resultFile(video)));
    } else if (fault == QLatin1String("txt directory")) {
        QVERIFY(QFile::remove(VideoFiles::densityFile(video)));
        QVERIFY(QDir().mkdir(VideoFiles::densityFile(video)));
    } else if (fault == QLatin1String("locked")) {
        QVERIFY(holder.tryLock(0));
    } else if (fault == QLatin1String("immutable") || fault == QLatin1String("append-only")) {
        flag = std::make_unique<FileFlag>(VideoFiles::resultFile(video),
            fault == QLatin1String("immutable") ? FS_IMMUTABLE_FL : FS_APPEND_FL);
        if (!flag->isSet())
            QSKIP("the file system or the user cannot set inode flags here");
    }
    const std::map<QString, QByteArray> before = snapshot(VideoFiles::exportDir(video));

    const QString out = fault == QLatin1String("stdout") ? QStringLiteral("/dev/full") : QString();
    const QStringList mode = secondVideo
        ? QStringList { QStringLiteral("--mode"), QStringLiteral("all") }
        : QStringList();
    const Outcome batch
        = runBatch(QStringList { QStringLiteral("--quiet") } + mode + QStringList { video }, out);
    QCOMPARE(batch.status, status);
    QVERIFY2(batch.err.contains(message), batch.err.constData());

    std::map<QString, QByteArray> after = snapshot(VideoFiles::exportDir(video));
    if (fault == QLatin1String("stdout")) {
        // The counts are complete; only their summary was lost.
        QVERIFY(testfiles::read(VideoFiles::resultFile(video)).startsWith(header));
        QVERIFY(testfiles::read(VideoFiles::resultFile(video)) != earlierCounts);
        return;
    }
    if (fault == QLatin1String("locked")) {
        const QString expected
            = QStringLiteral("skipped %1: it is being processed by process %2 on host %3")
                  .arg(video)
                  .arg(QCoreApplication::applicationPid())
                  .arg(QSysInfo::machineHostName());
        QVERIFY2(batch.err.contains(expected.toUtf8()), batch.err.constData());
    } else {
        QVERIFY2(batch.out.contains("a: failed: "), batch.out.constData());
    }
    // The faulty video's earlier files as they were; at most its partial
    // counts beside them, and no temporary file.
    if (after.count(QStringLiteral("partial/a.csv")) == 1)
        QVERIFY(after[QStringLiteral("partial/a.csv")].startsWith(header));
    after.erase(QStringLiteral("partial/a.csv"));
    after.erase(QStringLiteral("partial"));
    // The run record says the run was partial, and why.
    if (after.count(QStringLiteral("partial/a_run.json")) == 1) {
        QVERIFY(after[QStringLiteral("partial/a_run.json")].contains("\"partial\""));
        after.erase(QStringLiteral("partial/a_run.json"));
    }
    if (secondVideo) {
        QVERIFY2(batch.out.contains("b: 49 frames, 1 in, 1 out"), batch.out.constData());
        after.erase(QStringLiteral("b_run.json"));
        for (const char *name : { "b.csv", "b_doza.jpg", "b_doza.txt" }) {
            QVERIFY(after.count(QLatin1String(name)) == 1);
            after.erase(QLatin1String(name));
        }
    }
    QVERIFY(after == before);
    QCOMPARE(temporaries(video), QStringList());
    QVERIFY(!QFile::exists(VideoFiles::lockFile(video)) || fault == QLatin1String("locked"));
}

void TestBatchFaults::sideFiles_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QStringList>("arguments"); // "@" stands for the video
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("kept"); // the earlier complete files stay as they were

    const QStringList plain { "--quiet", "@" };
    const QStringList tracks { "--quiet", "--tracks", "@" };
    QTest::newRow("run record a pipe")
        << "record pipe" << plain << 1 << QByteArray("v_run.json: it is a pipe") << true;
    QTest::newRow("run record a directory")
        << "record directory" << plain << 1 << QByteArray("v_run.json: it is a directory") << true;
    QTest::newRow("run record a directory, with tracks")
        << "record directory" << tracks << 1 << QByteArray("v_run.json: it is a directory") << true;
    QTest::newRow("stale partial record a directory")
        << "partial record directory" << plain << 1
        << QByteArray("partial/v_run.json: it is a directory") << true;
    QTest::newRow("tracks being written a pipe")
        << "tracks pipe" << tracks << 1 << QByteArray("v_tracks.csv.writing: it is a pipe") << true;
    QTest::newRow("run record a link out of the folder")
        << "record link" << plain << 0 << QByteArray() << false;
    QTest::newRow("tracks a link out of the folder")
        << "tracks link" << tracks << 0 << QByteArray() << false;
    QTest::newRow("lock empty") << "empty lock" << plain << 0
                                << QByteArray("which names no process (empty or damaged)") << false;
    QTest::newRow("lock of a process that is gone")
        << "dead lock" << plain << 0 << QByteArray("which is no longer running") << false;
    QTest::newRow("lock of a live process that does not hold it")
        << "reused lock" << plain << 0 << QByteArray("which no longer holds it") << false;
    QTest::newRow("partial folder a link out of the folder")
        << "partial link" << plain << 1 << QByteArray("partial: it is a symbolic link") << true;
    QTest::newRow("journal of a killed commit, video not taken")
        << "other journal" << QStringList { "--quiet", "--mode", "unprocessed", "@" } << 0
        << QByteArray("completed the files of") << true;
    QTest::newRow("lock a directory")
        << "lock directory" << plain << 1 << QByteArray("v.lock: it is a directory") << true;
    QTest::newRow("lock a pipe") << "lock pipe" << plain << 1 << QByteArray("v.lock: it is a pipe")
                                 << true;
    QTest::newRow("leftovers of a killed run")
        << "leftovers" << tracks << 0 << QByteArray("left by a run that was stopped") << false;
    QTest::newRow("leftovers of a killed run, video not taken")
        << "leftovers" << QStringList { "--quiet", "--mode", "unprocessed", "@" } << 0
        << QByteArray("left by a run that was stopped") << true;
    QTest::newRow("leftover folder of a killed --jobs parent")
        << "jobs leftovers" << QStringList { "--quiet", "--jobs", "1", "@" } << 0
        << QByteArray("which is no longer running") << false;
    QTest::newRow("temporary folder full for --jobs")
        << "temporary full" << QStringList { "--quiet", "--jobs", "1", "@" } << 1
        << QByteArray("No space left on device") << true;
    QTest::newRow("raw stream named .mp4")
        << "raw" << plain << 1 << QByteArray("v.mp4: it has no frame count") << true;
    QTest::newRow("twin in other letter case")
        << "twin" << plain << 1 << QByteArray("those of v.MP4") << true;
    QTest::newRow("name not in the system's encoding")
        << "latin-1" << QStringList { "--quiet", "--mode", "all", "@" } << 3
        << QByteArray("caf\xef\xbf\xbd.mp4: its name is not valid text") << false;
    QTest::newRow("summary to a full device")
        << "stdout" << QStringList { "--summary", "." } << 1
        << QByteArray("cannot write the totals to standard output") << true;
}

void TestBatchFaults::sideFiles()
{
    QFETCH(QString, fault);
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QByteArray, message);
    QFETCH(bool, kept);

    const QString video = addVideo(QStringLiteral("v.mp4"), crossing);
    QVERIFY(!video.isEmpty());
    writeEarlierFiles(video);
    const QString outside = dir.filePath(QStringLiteral("outside"));
    QVERIFY(testfiles::write(outside, "not the run's"));
    const QString temporary = dir.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir(temporary).removeRecursively() && QDir().mkpath(temporary));
    const QString lock = VideoFiles::lockFile(video);
    const auto fifo = [](const QString &path) {
        return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
    };
    std::unique_ptr<SmallFileSystem> small;
    QStringList gone; // files the run is to remove

    if (fault == QLatin1String("record pipe")) {
        QVERIFY(fifo(VideoFiles::runRecordFile(video)));
    } else if (fault == QLatin1String("record directory")) {
        QVERIFY(QDir().mkpath(VideoFiles::runRecordFile(video)));
        gone << TrackWriter::temporaryFile(video);
    } else if (fault == QLatin1String("partial record directory")) {
        QVERIFY(QDir().mkpath(VideoFiles::partialRunRecordFile(video)));
    } else if (fault == QLatin1String("tracks pipe")) {
        QVERIFY(fifo(VideoFiles::tracksFile(video) + QStringLiteral(".writing")));
    } else if (fault == QLatin1String("record link")) {
        QVERIFY(QFile::link(outside, VideoFiles::runRecordFile(video)));
    } else if (fault == QLatin1String("tracks link")) {
        QVERIFY(QFile::link(outside, VideoFiles::tracksFile(video)));
    } else if (fault == QLatin1String("reused lock")) {
        // A killed run's number, now this test's: alive, yet holding nothing.
        QVERIFY(testfiles::write(lock,
            QByteArray::number(QCoreApplication::applicationPid()) + "\nkestrin-batch\n"
                + QSysInfo::machineHostName().toUtf8() + '\n'));
    } else if (fault == QLatin1String("partial link")) {
        QVERIFY(testfiles::write(dir.filePath(QStringLiteral("elsewhere/v.csv")), "not the run's"));
        QVERIFY(
            QFile::link(dir.filePath(QStringLiteral("elsewhere")), VideoFiles::partialDir(video)));
    } else if (fault == QLatin1String("other journal")) {
        const QString other = work() + QStringLiteral("/w.mp4");
        gone << VideoFiles::commitJournalFile(other)
             << VideoFiles::temporaryFile(VideoFiles::densityFile(other));
        QVERIFY(testfiles::write(gone[0], R"([["rename","w_doza.txt.tmp","w_doza.txt"]])"));
        QVERIFY(testfiles::write(gone[1], "new density"));
    } else if (fault == QLatin1String("empty lock")) {
        QVERIFY(testfiles::write(lock, QByteArray()));
    } else if (fault == QLatin1String("dead lock") || fault == QLatin1String("jobs leftovers")) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        QCOMPARE(::waitpid(child, nullptr, 0), child);
        if (fault == QLatin1String("dead lock")) {
            QVERIFY(testfiles::write(lock,
                QByteArray::number(child) + "\nkestrin-batch\n"
                    + QSysInfo::machineHostName().toUtf8() + '\n'));
        } else {
            gone << temporary + QStringLiteral("/kestrin-batch-%1-abcdef").arg(child);
            QVERIFY(testfiles::write(gone.last() + QStringLiteral("/zones"), "1,1\n0\n0\n"));
        }
    } else if (fault == QLatin1String("lock directory")) {
        QVERIFY(QDir().mkpath(lock));
    } else if (fault == QLatin1String("lock pipe")) {
        QVERIFY(fifo(lock));
    } else if (fault == QLatin1String("leftovers")) {
        gone << VideoFiles::temporaryFile(VideoFiles::trajectoryImageFile(video))
             << VideoFiles::temporaryFile(VideoFiles::runRecordFile(video))
             << VideoFiles::tracksFile(video) + QStringLiteral(".writing");
        for (const QString &path : gone)
            QVERIFY(testfiles::write(path, "left behind"));
    } else if (fault == QLatin1String("temporary full")) {
        if (geteuid() != 0)
            QSKIP("mounting a file system needs root");
        small = std::make_unique<SmallFileSystem>(temporary);
        if (!small->isMounted())
            QSKIP("this machine does not let the test mount a file system");
        QVERIFY(fillUp(temporary, 0));
    } else if (fault == QLatin1String("raw")) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
            { "-v", "error", "-y", "-i", crossing, "-c:v", "libx264", "-f", "h264", video });
        QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
    } else if (fault == QLatin1String("twin")) {
        QVERIFY(QFile::copy(crossing, work() + QStringLiteral("/v.MP4")));
    } else if (fault == QLatin1String("latin-1")) {
        const QByteArray latin1 = QFile::encodeName(work()) + "/caf\xe9.mp4";
        QCOMPARE(::link(QFile::encodeName(crossing).constData(), latin1.constData()), 0);
        QVERIFY(QDir(work()).entryList({ QStringLiteral("caf*") }).isEmpty()); // Qt cannot name it
    }
    QStringList resolved;
    for (const QString &argument : arguments)
        resolved << (argument == QLatin1String("@") ? video : argument);
    const QString out = fault == QLatin1String("stdout") ? QStringLiteral("/dev/full") : QString();
    // --summary takes its folder from the work folder.
    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work()));
    const Outcome batch = runBatch(resolved, out, temporary);
    QVERIFY(QDir::setCurrent(saved));
    QCOMPARE(batch.status, status);
    QVERIFY2(batch.err.contains(message), batch.err.constData());

    if (kept)
        compareEarlierFiles(video);
    else
        QVERIFY(testfiles::read(VideoFiles::resultFile(video)) != earlierCounts);
    // Nothing written through a link, no link left, nothing left behind.
    QCOMPARE(testfiles::read(outside), QByteArray("not the run's"));
    for (const QString &path : { VideoFiles::runRecordFile(video), VideoFiles::tracksFile(video) })
        QVERIFY(!QFileInfo(path).isSymLink());
    for (const QString &path : gone)
        QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
    QCOMPARE(temporaries(video), QStringList());
    if (fault != QLatin1String("lock directory") && fault != QLatin1String("lock pipe"))
        QVERIFY(!QFile::exists(lock));
}

void TestBatchFaults::changesUnderARunFailIt_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("partial counts removed")
        << "remove counts" << QByteArray("was removed or replaced during the run");
    QTest::newRow("lock removed") << "remove lock"
                                  << QByteArray("v.lock was removed during the run");
    // Its counts, or their folder, went with the second run's commit.
    QTest::newRow("lock removed, a second run done")
        << "second run" << QByteArray("kestrin-batch: error: ");
    // The first run's counts must not go to the second's file.
    QTest::newRow("lock removed, a second run at work")
        << "second run at work" << QByteArray("v.csv was removed or replaced during the run");
}

void TestBatchFaults::changesUnderARunFailIt()
{
    QFETCH(QString, change);
    QFETCH(QByteArray, message);

    const QString video = addVideo(QStringLiteral("v.mp4"), longCrossing);
    QVERIFY(!video.isEmpty());
    writeEarlierFiles(video);
    HeldRun run;
    QVERIFY(run.start({ video }, dir.filePath(QStringLiteral("out.txt"))));
    QTRY_VERIFY_WITH_TIMEOUT(
        testfiles::read(VideoFiles::partialResultFile(video)).startsWith(header), 60000);
    QByteArray second;
    if (change == QLatin1String("remove counts")) {
        QVERIFY(QFile::remove(VideoFiles::partialResultFile(video)));
    } else {
        QVERIFY(QFile::remove(VideoFiles::lockFile(video)));
    }
    if (change == QLatin1String("second run")) {
        const Outcome other = runBatch({ QStringLiteral("--quiet"), video });
        QCOMPARE(other.status, 0);
        second = testfiles::read(VideoFiles::resultFile(video));
        QCOMPARE(second.count('\n'), 2);
    }
    HeldRun secondRun;
    if (change == QLatin1String("second run at work")) {
        // Gone with the lock: what is there next is the second run's.
        QVERIFY(QFile::remove(VideoFiles::partialResultFile(video)));
        QVERIFY(secondRun.start({ video }, dir.filePath(QStringLiteral("second.txt"))));
        QTRY_VERIFY_WITH_TIMEOUT(
            testfiles::read(VideoFiles::partialResultFile(video)).startsWith(header), 60000);
    }
    const Outcome batch = run.release();
    if (change == QLatin1String("second run at work")) {
        const Outcome other = secondRun.release();
        QCOMPARE(other.out, QByteArray("v: 749 frames, 1 in, 1 out\n"));
        second = testfiles::read(VideoFiles::resultFile(video));
    }
    QCOMPARE(batch.status, 1);
    QVERIFY2(batch.err.contains(message), batch.err.right(300));
    QVERIFY2(batch.out.startsWith("v: failed: "), batch.out);
    // The first run put nothing in place: the earlier files, or the second run's.
    if (second.isEmpty())
        compareEarlierFiles(video);
    else
        QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), second);
}

void TestBatchFaults::interruptedRunsKeepPartialCounts_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("earlier"); // complete files of an earlier run are there

    QTest::newRow("SIGKILL, first run") << int(SIGKILL) << false;
    QTest::newRow("SIGKILL, earlier files") << int(SIGKILL) << true;
    QTest::newRow("SIGTERM, earlier files") << int(SIGTERM) << true;
    QTest::newRow("SIGINT, first run") << int(SIGINT) << false;
}

void TestBatchFaults::interruptedRunsKeepPartialCounts()
{
    QFETCH(int, signal);
    QFETCH(bool, earlier);

    const QString video = addVideo(QStringLiteral("v.mp4"), longCrossing);
    QVERIFY(!video.isEmpty());
    if (earlier)
        writeEarlierFiles(video);

    HeldRun run;
    QVERIFY(run.start({ video }, dir.filePath(QStringLiteral("out.txt"))));
    // The header follows the file's making: a run caught in between has
    // written nothing yet.
    QTRY_VERIFY_WITH_TIMEOUT(
        testfiles::read(VideoFiles::partialResultFile(video)).startsWith(header), 60000);
    ::kill(static_cast<pid_t>(run.pid()), signal);
    const Outcome batch = run.release();
    if (signal == SIGKILL) {
        QCOMPARE(batch.status, -SIGKILL);
    } else {
        // Ended by itself after the frame in hand, saying where the counts are.
        QCOMPARE(batch.status, 128 + signal);
        QVERIFY2(batch.err.contains(VideoFiles::partialResultFile(video).toUtf8()), batch.err);
        QVERIFY2(batch.out.startsWith("v: interrupted after "), batch.out);
    }

    if (earlier)
        compareEarlierFiles(video);
    else
        QVERIFY(!QFile::exists(VideoFiles::resultFile(video)));
    QVERIFY(testfiles::read(VideoFiles::partialResultFile(video)).startsWith(header));
    QCOMPARE(temporaries(video), QStringList());

    // Not taken for done: the next run takes the video again (a dead run's
    // lock is taken over) and puts its complete files in place.
    QFile::remove(VideoFiles::resultFile(video));
    const Outcome again = runBatch({ QStringLiteral("--quiet"), QStringLiteral("--mode"),
        QStringLiteral("unprocessed"), video });
    QCOMPARE(again.status, 0);
    QCOMPARE(again.out, QByteArray("v: 749 frames, 1 in, 1 out\n"));
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)).count('\n'), 2);
    QVERIFY(!QFile::exists(VideoFiles::partialResultFile(video)));
    QVERIFY(!QFile::exists(VideoFiles::lockFile(video)));
}

void TestBatchFaults::oneRunPerVideo_data()
{
    QTest::addColumn<bool>("jobs"); // the second run is a child of --jobs
    QTest::newRow("two runs") << false;
    QTest::newRow("a run and a --jobs run") << true;
}

void TestBatchFaults::oneRunPerVideo()
{
    QFETCH(bool, jobs);

    const QString video = addVideo(QStringLiteral("v.mp4"), longCrossing);
    QVERIFY(!video.isEmpty());
    HeldRun first;
    QVERIFY(first.start({ video }, dir.filePath(QStringLiteral("out.txt"))));
    // The header follows the file's making: a run caught in between has
    // written nothing yet.
    QTRY_VERIFY_WITH_TIMEOUT(
        testfiles::read(VideoFiles::partialResultFile(video)).startsWith(header), 60000);
    QStringList arguments { QStringLiteral("--quiet"), video };
    if (jobs)
        arguments = QStringList { QStringLiteral("--jobs"), QStringLiteral("1") } + arguments;
    const QByteArray partial = testfiles::read(VideoFiles::partialResultFile(video));
    const Outcome second = runBatch(arguments);
    const QByteArray partialAfter = testfiles::read(VideoFiles::partialResultFile(video));
    const Outcome result = first.release();

    QCOMPARE(second.status, 3);
    QVERIFY2(second.err.contains(QStringLiteral("it is being processed by process %1 on host %2")
                                     .arg(first.pid())
                                     .arg(QSysInfo::machineHostName())
                                     .toUtf8()),
        second.err);
    QVERIFY(second.out.isEmpty());
    QCOMPARE(partialAfter, partial); // the second run left it alone
    QCOMPARE(result.status, 0);
    QCOMPARE(result.out, QByteArray("v: 749 frames, 1 in, 1 out\n"));
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)).count('\n'), 2);
}

void TestBatchFaults::jobsEndWithTheirParent_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM, passed on") << int(SIGTERM);
    QTest::newRow("SIGHUP, passed on") << int(SIGHUP);
    QTest::newRow("SIGKILL, children told by the system") << int(SIGKILL);
}

void TestBatchFaults::jobsEndWithTheirParent()
{
    QFETCH(int, signal);

    const QStringList videos { addVideo(QStringLiteral("a.mp4"), longCrossing),
        addVideo(QStringLiteral("b.mp4"), longCrossing),
        addVideo(QStringLiteral("c.mp4"), longCrossing) };
    HeldRun parent;
    QVERIFY(parent.start({ QStringLiteral("--jobs"), QStringLiteral("2"), QStringLiteral("--mode"),
                             QStringLiteral("all"), videos[0] },
        dir.filePath(QStringLiteral("out.txt"))));
    const auto started = [&videos] {
        QStringList partials;
        for (const QString &video : videos) {
            if (QFile::exists(VideoFiles::partialResultFile(video)))
                partials << video;
        }
        return partials;
    };
    // Two children at work, in the middle of their videos.
    QTRY_COMPARE_WITH_TIMEOUT(started().size(), 2, 60000);
    const QStringList held = started();
    const QList<qint64> children = childrenOf(parent.pid());
    QCOMPARE(children.size(), 2);
    ::kill(static_cast<pid_t>(parent.pid()), signal);
    const Outcome batch = parent.release();
    QCOMPARE(batch.status, signal == SIGKILL ? -SIGKILL : 128 + signal);

    // Every child ends after its frame in hand, keeping its partial counts.
    for (const qint64 child : children)
        QTRY_VERIFY_WITH_TIMEOUT(!running(child), 5000);
    for (const QString &video : videos) {
        QVERIFY2(!QFile::exists(VideoFiles::resultFile(video)), qPrintable(video));
        QCOMPARE(QFile::exists(VideoFiles::partialResultFile(video)), held.contains(video));
    }
}

void TestBatchFaults::jobsKeepTheBoxesReadAtTheStart()
{
    const QStringList videos { addVideo(QStringLiteral("a.mp4"), longCrossing),
        addVideo(QStringLiteral("b.mp4"), longCrossing) };
    HeldRun parent;
    QVERIFY(parent.start({ QStringLiteral("--jobs"), QStringLiteral("1"), QStringLiteral("--mode"),
                             QStringLiteral("all"), videos[0] },
        dir.filePath(QStringLiteral("out.txt"))));
    // While the first video runs, the boxes become a line nothing crosses.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(VideoFiles::partialResultFile(videos[0]))
            || QFile::exists(VideoFiles::partialResultFile(videos[1])),
        60000);
    GroundTruthScene::saveBoxes(videos[0], { { 300, 60 }, { 300, 180 } }, { { 5, 5 }, { 10, 5 } });
    const Outcome batch = parent.release();

    QCOMPARE(batch.status, 0);
    QCOMPARE(lines(batch.out),
        QStringList({ "a: 749 frames, 1 in, 1 out", "b: 749 frames, 1 in, 1 out" }));
}

void TestBatchFaults::timeStampsComeFromTheFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("warning");

    QTest::newRow("marker in the folder only") << "video_site1/clip.mp4" << QByteArray();
    QTest::newRow("date that does not parse")
        << "video_2016xx12_1000_01.mp4" << QByteArray("holds no recording start");
}

void TestBatchFaults::timeStampsComeFromTheFileName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, warning);

    const QString video = addVideo(name, crossing);
    QVERIFY(!video.isEmpty());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const Outcome batch = runBatch({ QStringLiteral("--quiet"), video });
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    QCOMPARE(batch.status, 0);
    QVERIFY2(batch.err.contains(warning), batch.err);

    // Stamped as a name without the marker: the time it was processed.
    const QList<QByteArray> records = testfiles::read(VideoFiles::resultFile(video)).split('\n');
    QCOMPARE(records.size(), 3);
    const QDateTime stamp = QDateTime::fromString(
        QString::fromUtf8(records[1].split(';').value(5)), QStringLiteral("yyyy-MM-dd_hh:mm:ss"));
    QVERIFY2(stamp.isValid(), records[1]);
    QVERIFY(before <= stamp && stamp <= after.addSecs(2));
}

QTEST_GUILESS_MAIN(TestBatchFaults)
#include "test_batchfaults.moc"
