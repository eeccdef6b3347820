#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "annexbreader.h"
#include "streamprobe.h"
#include "testfiles.h"
#include "testvideo.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kFrames = 100;

// The key flag of every packet of the file's first stream, in file order.
QVector<bool> keyFlags(const QString &path)
{
    QVector<bool> flags;
    AVFormatContext *context = nullptr;
    if (avformat_open_input(&context, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return flags;
    AVPacket *packet = av_packet_alloc();
    while (packet && av_read_frame(context, packet) >= 0) {
        flags << ((packet->flags & AV_PKT_FLAG_KEY) != 0);
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avformat_close_input(&context);
    return flags;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::Files | QDir::Dirs | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

// The shipped wrapping tool, run as the import worker runs it, on raw streams
// that libx264 makes from frames carrying their own index.
class TestMp4Box : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTrip_data();
    void roundTrip();
    void progressLines();
    void failures_data();
    void failures();
    void failureKeepsEarlierOutput();
    void refusesOutputOntoStream();
    void refusesOutputsItCannotReplace_data();
    void refusesOutputsItCannotReplace();
    void replacesASymlink_data();
    void replacesASymlink();
    void refusesAStreamItCannotReadTwice();
    void signalRemovesTheTemporaryFile_data();
    void signalRemovesTheTemporaryFile();

private:
    Run run(const QStringList &arguments) const;
    bool encode(const QString &target, const QStringList &options) const;

    QTemporaryDir dir;
    QString ffmpeg;
    QString frames;
};

Run TestMp4Box::run(const QStringList &arguments) const
{
    QProcess process;
    process.start(QStringLiteral(KESTRIN_MP4BOX), arguments);
    Run result;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return result;
    result.exitCode = process.exitCode();
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

bool TestMp4Box::encode(const QString &target, const QStringList &options) const
{
    QProcess process;
    process.start(ffmpeg,
        QStringList { "-v", "error", "-y", "-i", frames, "-c:v", "libx264" } + options
            + QStringList { "-threads", "1", "-pix_fmt", "yuv420p", "-f", "h264", target });
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0 && QFileInfo(target).size() > 0;
}

void TestMp4Box::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY2(QFileInfo(QStringLiteral(KESTRIN_MP4BOX)).isExecutable(), KESTRIN_MP4BOX);
    ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QVERIFY2(!ffmpeg.isEmpty(), "the ffmpeg program is needed to make test streams");
    frames = dir.filePath(QStringLiteral("frames.avi"));
    const cv::Mat background = testvideo::background(cv::Size(320, 240));
    QVERIFY(testvideo::write(
        frames, "MJPG", 90, cv::Size(320, 240), kFrames, [&background](int index, cv::Mat &frame) {
            background.copyTo(frame);
            testvideo::paintIndex(frame, index);
        }));
}

void TestMp4Box::roundTrip_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("reordered");
    QTest::addColumn<bool>("declaresDelay");

    QTest::newRow("no B-frames") << QStringList { "-bf", "0", "-g", "30" } << false << false;
    QTest::newRow("B-frames") << QStringList { "-bf", "3", "-g", "30", "-x264-params", "b-adapt=0" }
                              << true << true;
    // The stream announces a reorder delay of 2 but never uses a B-frame.
    QTest::newRow("declared delay only")
        << QStringList { "-bf", "2", "-g", "30", "-x264-params", "b-bias=-100" } << false << true;
}

void TestMp4Box::roundTrip()
{
    QFETCH(QStringList, options);
    QFETCH(bool, reordered);
    QFETCH(bool, declaresDelay);

    const QString name = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
    const QString stream = dir.filePath(name + QStringLiteral(".h264"));
    const QString output = dir.filePath(name + QStringLiteral(".mp4"));
    QVERIFY(encode(stream, options));

    // Make sure the stream is the case this row is about.
    std::string error;
    StreamProbe probe;
    QVERIFY2(probe.run(QFile::encodeName(stream).toStdString(), error), error.c_str());
    QCOMPARE(probe.declaredDelay() > 0, declaresDelay);
    AnnexBReader reader;
    QVERIFY2(reader.open(QFile::encodeName(stream).toStdString(), error), error.c_str());
    AnnexBReader::AccessUnit unit;
    int units = 0;
    int lastCount = 0;
    bool outOfOrder = false;
    QVector<bool> idr;
    while (reader.next(unit)) {
        if (!unit.idr && unit.orderCount < lastCount)
            outOfOrder = true;
        lastCount = unit.orderCount;
        idr << unit.idr;
        ++units;
    }
    QCOMPARE(units, kFrames);
    QCOMPARE(outOfOrder, reordered);

    // An earlier file of the output's name is replaced.
    QVERIFY(testfiles::write(output, "not a video"));
    const Run result = run({ "-fps", "90", "-add", stream, output });
    QVERIFY2(result.exitCode == 0, result.err.constData());

    // Players seek to key frames: only IDR pictures may be marked so.
    QCOMPARE(keyFlags(output), idr);
    QVERIFY(idr.count(true) > 1 && idr.count(false) > 0);

    cv::VideoCapture capture(QFile::encodeName(output).toStdString(), cv::CAP_FFMPEG);
    QVERIFY(capture.isOpened());
    QCOMPARE(capture.get(cv::CAP_PROP_FPS), 90.0);
    QCOMPARE(qRound(capture.get(cv::CAP_PROP_FRAME_COUNT)), kFrames);
    cv::Mat frame;
    for (int i = 0; i < kFrames; ++i) {
        QVERIFY2(capture.read(frame), qPrintable(QString::number(i)));
        QCOMPARE(testvideo::readIndex(frame), i);
    }
    QVERIFY(!capture.read(frame));

    // Forwards and backwards, across groups of pictures, to both ends.
    for (int target : { 0, 1, 2, 29, 30, 31, 47, 60, 62, 75, 98, 99, 13, 0, 50, 89, 90 }) {
        capture.set(cv::CAP_PROP_POS_FRAMES, target);
        QVERIFY2(capture.read(frame), qPrintable(QString::number(target)));
        QCOMPARE(testvideo::readIndex(frame), target);
    }
}

void TestMp4Box::progressLines()
{
    const QString stream = dir.filePath(QStringLiteral("progress.h264"));
    const QString output = dir.filePath(QStringLiteral("progress.mp4"));
    QVERIFY(encode(stream, { "-bf", "0", "-g", "30" }));
    const Run result = run({ "-fps", "90", "-add", stream, output });
    QCOMPARE(result.exitCode, 0);

    const QRegularExpression line(QStringLiteral(
        "^(Importing AVC-H264|ISO File Writing): \\|([= ]{20})\\| \\((\\d+)/100\\)$"));
    QStringList stages;
    QMap<QString, QList<int>> values;
    for (const QString &text : QString::fromUtf8(result.out).split('\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        const int value = match.captured(3).toInt();
        QCOMPARE(match.captured(2).count('='), value / 5);
        if (stages.isEmpty() || stages.last() != match.captured(1))
            stages << match.captured(1);
        values[match.captured(1)] << value;
    }
    QCOMPARE(stages, QStringList({ "Importing AVC-H264", "ISO File Writing" }));
    for (const QList<int> &stage : values) {
        QVERIFY(std::is_sorted(stage.begin(), stage.end()));
        QCOMPARE(stage.last(), 100);
    }
}

void TestMp4Box::failures_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Empty: a real stream, so that only what the row names can fail.
    QTest::addColumn<QByteArray>("streamBytes");

    const QByteArray noise = QByteArray(4096, '\x5a');
    QTest::newRow("no arguments") << QStringList {} << noise;
    QTest::newRow("no output") << QStringList { "-fps", "90", "-add", "@stream" } << noise;
    QTest::newRow("no stream") << QStringList { "-fps", "90", "@output" } << noise;
    QTest::newRow("option without value") << QStringList { "@output", "-add" } << noise;
    QTest::newRow("unknown option") << QStringList { "-x", "-add", "@stream", "@output" } << noise;
    QTest::newRow("rate not a number")
        << QStringList { "-fps", "fast", "-add", "@stream", "@output" } << noise;
    QTest::newRow("rate zero") << QStringList { "-fps", "0", "-add", "@stream", "@output" }
                               << noise;
    // Refused at once: such a rate used to keep the tool busy for ever.
    QTest::newRow("rate below one per 1000 s")
        << QStringList { "-fps", "1e-10", "-add", "@stream", "@output" } << QByteArray();
    QTest::newRow("rate above 1000")
        << QStringList { "-fps", "1000.5", "-add", "@stream", "@output" } << QByteArray();
    QTest::newRow("two outputs") << QStringList { "-add", "@stream", "@output", "@output" }
                                 << noise;
    QTest::newRow("missing stream")
        << QStringList { "-fps", "90", "-add", "@missing", "@output" } << noise;
    QTest::newRow("empty stream") << QStringList { "-fps", "90", "-add", "@empty", "@output" }
                                  << noise;
    QTest::newRow("not H.264") << QStringList { "-fps", "90", "-add", "@stream", "@output" }
                               << noise;
    QTest::newRow("no output folder")
        << QStringList { "-fps", "90", "-add", "@stream", "@nofolder" } << QByteArray();
}

void TestMp4Box::failures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, streamBytes);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("in.h264"));
    const QString output = work.filePath(QStringLiteral("out.mp4"));
    if (streamBytes.isEmpty())
        QVERIFY(encode(stream, { "-bf", "0" }));
    else
        QVERIFY(testfiles::write(stream, streamBytes));
    const QString empty = work.filePath(QStringLiteral("empty.h264"));
    QVERIFY(testfiles::write(empty, QByteArray()));
    for (QString &argument : arguments) {
        argument.replace(QStringLiteral("@stream"), stream);
        argument.replace(QStringLiteral("@output"), output);
        argument.replace(QStringLiteral("@empty"), empty);
        argument.replace(QStringLiteral("@missing"), work.filePath(QStringLiteral("none.h264")));
        argument.replace(QStringLiteral("@nofolder"), work.filePath(QStringLiteral("no/out.mp4")));
    }

    const Run result = run(arguments);
    QVERIFY2(result.exitCode > 0, qPrintable(QString::number(result.exitCode)));
    QVERIFY2(result.err.contains("mp4box: "), result.err.constData());
    if (QByteArray(QTest::currentDataTag()).startsWith("rate ")) {
        QCOMPARE(result.exitCode, 2);
        QVERIFY2(result.err.contains("invalid frame rate"), result.err.constData());
    }
    // Nothing left behind: no output, no temporary file.
    QCOMPARE(
        QDir(work.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
        QStringList({ "empty.h264", "in.h264" }));
}

void TestMp4Box::failureKeepsEarlierOutput()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("cam.h264"));
    const QString output = work.filePath(QStringLiteral("cam.mp4"));
    QVERIFY(testfiles::write(stream, QByteArray(2000, '\x11')));
    QVERIFY(testfiles::write(output, "an earlier import"));

    QVERIFY(run({ "-fps", "90", "-add", stream, output }).exitCode > 0);
    QCOMPARE(testfiles::read(output), QByteArray("an earlier import"));
    QCOMPARE(QDir(work.path()).entryList(QDir::Files).size(), 2);
}

void TestMp4Box::refusesOutputOntoStream()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("cam.h264"));
    QVERIFY(encode(stream, { "-bf", "0" }));
    const QByteArray before = testfiles::read(stream);

    QVERIFY(run({ "-fps", "90", "-add", stream, stream }).exitCode > 0);
    QCOMPARE(testfiles::read(stream), before);
    QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList { "cam.h264" });
}

void TestMp4Box::refusesOutputsItCannotReplace_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("directory") << "directory" << QByteArray("it is a directory");
    QTest::newRow("pipe") << "fifo" << QByteArray("it is a pipe");
    QTest::newRow("socket") << "socket" << QByteArray("it is a socket");
    QTest::newRow("read-only file") << "read-only" << QByteArray("it is read-only");
}

void TestMp4Box::refusesOutputsItCannotReplace()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, message);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("in.h264"));
    const QString output = work.filePath(QStringLiteral("out.mp4"));
    QVERIFY(encode(stream, { "-bf", "0" }));
    const QByteArray path = QFile::encodeName(output);
    int socketFd = -1;
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir().mkdir(output));
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == QLatin1String("socket")) {
        socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        QVERIFY(socketFd >= 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        QVERIFY(path.size() < static_cast<int>(sizeof address.sun_path));
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    } else {
        QVERIFY(testfiles::write(output, "an earlier import"));
        QVERIFY(QFile::setPermissions(output, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
    }
    const QStringList before = entries(work.path());
    const QFileInfo info(output);
    const bool wasLink = info.isSymLink();

    const Run result = run({ "-fps", "90", "-add", stream, output });
    if (socketFd >= 0)
        ::close(socketFd);
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(result.err.contains(message), result.err.constData());
    QCOMPARE(entries(work.path()), before);
    QCOMPARE(QFileInfo(output).isSymLink(), wasLink);
    if (kind == QLatin1String("read-only"))
        QCOMPARE(testfiles::read(output), QByteArray("an earlier import"));
    if (kind == QLatin1String("directory"))
        QVERIFY(QFileInfo(output).isDir());
}

void TestMp4Box::replacesASymlink_data()
{
    QTest::addColumn<QString>("target"); // of the link, relative to it
    QTest::newRow("to a file") << "store/cam.mp4";
    QTest::newRow("dangling") << "store/gone.mp4";
    QTest::newRow("to a device") << "/dev/null";
}

void TestMp4Box::replacesASymlink()
{
    QFETCH(QString, target);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("in.h264"));
    QVERIFY(encode(stream, { "-bf", "0" }));
    QVERIFY(QDir().mkdir(work.filePath(QStringLiteral("store"))));
    QVERIFY(testfiles::write(work.filePath(QStringLiteral("store/cam.mp4")), "an earlier import"));
    const QString link = work.filePath(QStringLiteral("cam.mp4"));
    QVERIFY(QFile::link(target, link));

    const Run result = run({ "-fps", "90", "-add", stream, link });
    QVERIFY2(result.exitCode == 0, result.err.constData());
    // The link is gone, the new file in its place; what it named is untouched.
    QVERIFY(!QFileInfo(link).isSymLink());
    cv::VideoCapture capture(QFile::encodeName(link).toStdString(), cv::CAP_FFMPEG);
    QCOMPARE(qRound(capture.get(cv::CAP_PROP_FRAME_COUNT)), kFrames);
    QCOMPARE(testfiles::read(work.filePath(QStringLiteral("store/cam.mp4"))),
        QByteArray("an earlier import"));
    QCOMPARE(entries(work.filePath(QStringLiteral("store"))), QStringList { "cam.mp4" });

    // Progress lines that cannot be written fail the run, before the rename.
    QProcess full;
    full.setStandardOutputFile(QStringLiteral("/dev/full"));
    full.start(QStringLiteral(KESTRIN_MP4BOX),
        { "-fps", "90", "-add", stream, work.filePath(QStringLiteral("other.mp4")) });
    QVERIFY(full.waitForFinished(60000));
    QCOMPARE(full.exitCode(), 1);
    QVERIFY(full.readAllStandardError().contains("No space left on device"));
    QVERIFY(!QFileInfo::exists(work.filePath(QStringLiteral("other.mp4"))));
}

void TestMp4Box::refusesAStreamItCannotReadTwice()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("in.h264"));
    const QString output = work.filePath(QStringLiteral("out.mp4"));
    QCOMPARE(::mkfifo(QFile::encodeName(stream).constData(), 0600), 0);

    // Nobody writes to the pipe: a tool that opened it would wait for ever.
    const Run result = run({ "-fps", "90", "-add", stream, output });
    QCOMPARE(result.exitCode, 1);
    QVERIFY2(
        result.err.contains("cannot read " + QFile::encodeName(stream) + " twice: it is a pipe"),
        result.err.constData());
    QCOMPARE(entries(work.path()), QStringList { "in.h264" });
}

void TestMp4Box::signalRemovesTheTemporaryFile_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestMp4Box::signalRemovesTheTemporaryFile()
{
    QFETCH(int, signal);

    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString stream = work.filePath(QStringLiteral("in.h264"));
    const QString output = work.filePath(QStringLiteral("out.mp4"));
    QVERIFY(encode(stream, { "-bf", "0" }));

    // Progress goes into a pipe of one page that the test stops reading once
    // the tool writes the file: the tool then waits in mid-write, with its
    // temporary file there, for as long as the test needs.
    int pipeFds[2];
    QCOMPARE(::pipe2(pipeFds, O_CLOEXEC), 0);
    QVERIFY(::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096) >= 4096);
    const QByteArray program(KESTRIN_MP4BOX);
    const QByteArray streamName = QFile::encodeName(stream);
    const QByteArray outputName = QFile::encodeName(output);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::execl(program.constData(), program.constData(), "-fps", "90", "-add",
            streamName.constData(), outputName.constData(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    QByteArray seen;
    char chunk[16];
    while (!seen.contains("ISO File Writing")) {
        const ssize_t got = ::read(pipeFds[0], chunk, sizeof chunk);
        if (got <= 0)
            break;
        seen.append(chunk, static_cast<int>(got));
    }
    const QStringList during = entries(work.path());
    ::kill(child, signal);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    ::close(pipeFds[0]);

    QVERIFY2(seen.contains("ISO File Writing"), seen.constData());
    QCOMPARE(during.size(), 2); // the stream and the temporary file
    QVERIFY2(during.last().startsWith(QLatin1String("out.mp4.")), qPrintable(during.join(' ')));
    QVERIFY(WIFSIGNALED(status));
    QCOMPARE(WTERMSIG(status), signal);
    QCOMPARE(entries(work.path()), QStringList { "in.h264" });
}

QTEST_GUILESS_MAIN(TestMp4Box)

#include "tst_mp4box.moc"
