#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "process_import.h"
#include "testfiles.h"
#include "testvideo.h"

namespace {

// What one worker reported, in the order it reported it.
struct Report
{
    QList<int> copy;
    QList<int> save;
    QList<int> encode;
    int ends = 0;
    bool endLast = false;
    bool finished = false;
};

Report importFile(const QString &destination, const QString &source)
{
    Report report;
    Process_Import worker(destination, source);
    // Recorded on the worker's thread; read only after wait() below.
    int events = 0;
    int endAt = -1;
    QObject::connect(
        &worker, &Process_Import::copy_pos, &worker, [&](int v) { report.copy << v, ++events; },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &Process_Import::save_pos, &worker, [&](int v) { report.save << v, ++events; },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &Process_Import::encode_pos, &worker, [&](int v) { report.encode << v, ++events; },
        Qt::DirectConnection);
    QObject::connect(
        &worker, &Process_Import::end_thread, &worker, [&] { ++report.ends, endAt = events++; },
        Qt::DirectConnection);
    worker.start();
    report.finished = worker.wait(60000);
    report.endLast = endAt >= 0 && endAt == events - 1;
    return report;
}

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return bytes;
}

QStringList listing(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

// A stand-in for the wrapping tool: records its arguments beside itself,
// prints both kinds of progress line, then runs `tail` (shell code; $4 is the
// stream, $5 the output).
bool writeTool(const QString &path, const QString &tail)
{
    const QString script
        = QStringLiteral("#!/bin/sh\n"
                         "PATH=/usr/bin:/bin\n"
                         "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n"
                         "printf 'Importing AVC-H264: |=====     | (45/100)\\n'\n"
                         "sleep 0.3\n"
                         "printf 'ISO File Writing: |==        | (12/100)\\n'\n")
        + tail + QLatin1Char('\n');
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(script.toUtf8()) > 0
        && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace

class TestProcessImport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void copyProgress_data();
    void copyProgress();
    void largeCopy();
    void targets_data();
    void targets();
    void unopenableFiles_data();
    void unopenableFiles();
    void overwritesEarlierTarget();
    void ontoItself();
    void wrapsStream();
    void keepsOtherStreamOfSameName();
    void toolMissing();
    void toolFails_data();
    void toolFails();
    void findsTool();
    void findsToolInstalled();
    void parser_data();
    void parser();
    void realTool();

private:
    QByteArray savedPath;
    QTemporaryDir root;
    QString dest;
    QString src;
    QString bin;
};

void TestProcessImport::initTestCase()
{
    savedPath = qgetenv("PATH");
    QVERIFY(root.isValid());
}

void TestProcessImport::init()
{
    const QString tag = QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('_')
        + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    QDir top(root.path());
    QVERIFY(top.mkpath(tag + QStringLiteral("/dest")));
    QVERIFY(top.mkpath(tag + QStringLiteral("/src")));
    QVERIFY(top.mkpath(tag + QStringLiteral("/bin")));
    dest = top.filePath(tag + QStringLiteral("/dest"));
    src = top.filePath(tag + QStringLiteral("/src"));
    bin = top.filePath(tag + QStringLiteral("/bin"));
    // Only the test's own tools are found.
    qputenv("PATH", bin.toLocal8Bit());
}

void TestProcessImport::cleanup()
{
    qputenv("PATH", savedPath);
}

void TestProcessImport::copyProgress_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("progress");

    QTest::newRow("empty") << 0 << QList<int> {};
    QTest::newRow("one byte") << 1 << QList<int> { 1 };
    QTest::newRow("one block") << 1024 << QList<int> { 1 };
    QTest::newRow("block and a byte") << 1025 << QList<int> { 1, 100 };
    QTest::newRow("two blocks and a byte") << 2049 << QList<int> { 1, 50, 100 };
    QTest::newRow("four blocks") << 4096 << QList<int> { 1, 26, 51, 76 };
}

void TestProcessImport::copyProgress()
{
    QFETCH(int, size);
    QFETCH(QList<int>, progress);

    const QByteArray bytes = pattern(size);
    QVERIFY(testfiles::write(src + QStringLiteral("/clip.mp4"), bytes));
    const Report report = importFile(dest, src + QStringLiteral("/clip.mp4"));
    QVERIFY(report.finished);
    QCOMPARE(report.copy, progress);
    QCOMPARE(report.ends, 1);
    QVERIFY(report.endLast);
    QCOMPARE(listing(dest), QStringList { "clip.mp4" });
    QCOMPARE(testfiles::read(dest + QStringLiteral("/clip.mp4")), bytes);
}

void TestProcessImport::largeCopy()
{
    const QByteArray bytes = pattern(300 * 1024 + 17);
    QVERIFY(testfiles::write(src + QStringLiteral("/big.avi"), bytes));
    const Report report = importFile(dest, src + QStringLiteral("/big.avi"));
    QVERIFY(report.finished);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/big.mp4")), bytes);
    // Every percentage once, rising, from 1 to the last block's.
    QCOMPARE(report.copy.size(), 100);
    QCOMPARE(report.copy.first(), 1);
    QCOMPARE(report.copy.last(), 100);
    QVERIFY(std::is_sorted(report.copy.begin(), report.copy.end()));
    QVERIFY(std::adjacent_find(report.copy.begin(), report.copy.end()) == report.copy.end());
    QVERIFY(report.endLast);
}

void TestProcessImport::targets_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("target");

    QTest::newRow("mp4") << "clip.mp4"
                         << "clip.mp4";
    QTest::newRow("avi takes the mp4 name") << "clip.avi"
                                            << "clip.mp4";
    QTest::newRow("base name ends at the first dot") << "a.b.mp4"
                                                     << "a.mp4";
    QTest::newRow("avi with dots") << "cam.2024.06.avi"
                                   << "cam.mp4";
    // Letter case of the suffix does not matter: the dialog lists these too.
    QTest::newRow("capital suffix") << "CLIP.MP4"
                                    << "CLIP.mp4";
    QTest::newRow("capital AVI") << "b.AVI"
                                 << "b.mp4";
    QTest::newRow("mixed case") << "clip.Mp4"
                                << "clip.mp4";
    QTest::newRow("other video") << "clip.mov" << QString();
    QTest::newRow("no suffix") << "mp4" << QString();
}

void TestProcessImport::targets()
{
    QFETCH(QString, name);
    QFETCH(QString, target);

    const QByteArray bytes = pattern(3000);
    QVERIFY(testfiles::write(src + QLatin1Char('/') + name, bytes));
    const Report report = importFile(dest, src + QLatin1Char('/') + name);
    QVERIFY(report.finished);
    QCOMPARE(report.ends, 1);
    QVERIFY(report.endLast);
    if (target.isEmpty()) {
        QVERIFY(listing(dest).isEmpty());
        QVERIFY(report.copy.isEmpty());
    } else {
        QCOMPARE(listing(dest), QStringList { target });
        QCOMPARE(testfiles::read(dest + QLatin1Char('/') + target), bytes);
        QCOMPARE(report.copy.first(), 1);
    }
    // The source is never touched.
    QCOMPARE(testfiles::read(src + QLatin1Char('/') + name), bytes);
}

void TestProcessImport::unopenableFiles_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destination");

    QTest::newRow("missing source") << "gone.mp4"
                                    << "";
    QTest::newRow("missing destination") << "clip.mp4"
                                         << "/no-such-folder";
    QTest::newRow("missing stream") << "gone.h264"
                                    << "";
}

void TestProcessImport::unopenableFiles()
{
    QFETCH(QString, source);
    QFETCH(QString, destination);

    if (destination.isEmpty())
        destination = dest;
    QVERIFY(testfiles::write(src + QStringLiteral("/clip.mp4"), pattern(5000)));
    QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), QStringLiteral("cp \"$4\" \"$5\"")));
    const Report report = importFile(destination, src + QLatin1Char('/') + source);
    QVERIFY(report.finished);
    QVERIFY(report.copy.isEmpty());
    QCOMPARE(report.ends, 1);
    QVERIFY(listing(dest).isEmpty());
    // Nothing to wrap: the tool is not run on a stream that was never copied.
    QVERIFY(!QFile::exists(bin + QStringLiteral("/mp4box.args")));
}

void TestProcessImport::overwritesEarlierTarget()
{
    QVERIFY(testfiles::write(dest + QStringLiteral("/clip.mp4"), pattern(9000).toBase64()));
    const QByteArray bytes = pattern(2500);
    QVERIFY(testfiles::write(src + QStringLiteral("/clip.avi"), bytes));
    const Report report = importFile(dest, src + QStringLiteral("/clip.avi"));
    QVERIFY(report.finished);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/clip.mp4")), bytes);
    QCOMPARE(listing(dest), QStringList { "clip.mp4" });
}

void TestProcessImport::ontoItself()
{
    const QByteArray video = pattern(5000);
    const QByteArray stream = pattern(4000);
    QVERIFY(testfiles::write(dest + QStringLiteral("/clip.mp4"), video));
    QVERIFY(testfiles::write(dest + QStringLiteral("/cam.h264"), stream));
    QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), QStringLiteral("cp \"$4\" \"$5\"")));

    const Report copied = importFile(dest, dest + QStringLiteral("/clip.mp4"));
    QVERIFY(copied.finished);
    QCOMPARE(copied.ends, 1);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/clip.mp4")), video);

    // Through another spelling of the same folder as well.
    const Report wrapped
        = importFile(dest + QStringLiteral("/../dest"), dest + QStringLiteral("/cam.h264"));
    QVERIFY(wrapped.finished);
    QCOMPARE(wrapped.ends, 1);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/cam.h264")), stream);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/cam.mp4")), stream);
    QCOMPARE(listing(dest), QStringList({ "cam.h264", "cam.mp4", "clip.mp4" }));
}

void TestProcessImport::wrapsStream()
{
    const QByteArray bytes = pattern(3000);
    QVERIFY(testfiles::write(src + QStringLiteral("/cam_01.part2.h264"), bytes));
    // The stand-in wraps by copying: the output shows what the stream held.
    QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), QStringLiteral("cp \"$4\" \"$5\"")));

    const Report report = importFile(dest, src + QStringLiteral("/cam_01.part2.h264"));
    QVERIFY(report.finished);
    QCOMPARE(testfiles::read(bin + QStringLiteral("/mp4box.args")),
        QStringList({ "-fps", "90", "-add", dest + "/cam_01.h264", dest + "/cam_01.mp4", "" })
            .join('\n')
            .toUtf8());
    QCOMPARE(report.copy, QList<int>({ 1, 35, 69 }));
    QCOMPARE(report.encode, QList<int> { 46 });
    QCOMPARE(report.save, QList<int> { 13 });
    QCOMPARE(report.ends, 1);
    QVERIFY(report.endLast);
    QCOMPARE(listing(dest), QStringList { "cam_01.mp4" });
    QCOMPARE(testfiles::read(dest + QStringLiteral("/cam_01.mp4")), bytes);
    QCOMPARE(testfiles::read(src + QStringLiteral("/cam_01.part2.h264")), bytes);
}

void TestProcessImport::keepsOtherStreamOfSameName()
{
    const QByteArray theirs = pattern(700).toBase64();
    const QByteArray bytes = pattern(3000);
    QVERIFY(testfiles::write(dest + QStringLiteral("/cam.h264"), theirs));
    QVERIFY(testfiles::write(src + QStringLiteral("/cam.h264"), bytes));
    QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), QStringLiteral("cp \"$4\" \"$5\"")));

    const Report report = importFile(dest, src + QStringLiteral("/cam.h264"));
    QVERIFY(report.finished);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/cam.h264")), theirs);
    QCOMPARE(testfiles::read(dest + QStringLiteral("/cam.mp4")), bytes);
    QCOMPARE(listing(dest), QStringList({ "cam.h264", "cam.mp4" }));
    const QStringList arguments
        = QString::fromUtf8(testfiles::read(bin + QStringLiteral("/mp4box.args")))
              .split('\n', Qt::SkipEmptyParts);
    QCOMPARE(arguments.size(), 5);
    QVERIFY(arguments.at(3) != dest + QStringLiteral("/cam.h264"));
    QVERIFY(arguments.at(3).endsWith(QStringLiteral(".h264")));
}

void TestProcessImport::toolMissing()
{
    const QByteArray bytes = pattern(3000);
    QVERIFY(testfiles::write(src + QStringLiteral("/cam.h264"), bytes));
    const Report report = importFile(dest, src + QStringLiteral("/cam.h264"));
    QVERIFY(report.finished);
    QCOMPARE(report.ends, 1);
    QVERIFY(report.endLast);
    QVERIFY(report.encode.isEmpty());
    // No video, and the copied stream is gone again.
    QVERIFY(listing(dest).isEmpty());
    QCOMPARE(testfiles::read(src + QStringLiteral("/cam.h264")), bytes);
}

void TestProcessImport::toolFails_data()
{
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QByteArray>("earlier");
    QTest::addColumn<bool>("earlierKept");

    const QByteArray earlier = pattern(600);
    QTest::newRow("exits 1 after writing")
        << "head -c 100 \"$4\" > \"$5\"; exit 1" << QByteArray() << false;
    QTest::newRow("exits 1 without writing") << "exit 1" << earlier << true;
    QTest::newRow("exits 1 after overwriting")
        << "head -c 100 \"$4\" > \"$5\"; exit 1" << earlier << false;
    QTest::newRow("crashes after writing")
        << "head -c 100 \"$4\" > \"$5\"; kill -SEGV $$" << earlier << false;
    QTest::newRow("not executable") << "" << earlier << true;
}

void TestProcessImport::toolFails()
{
    QFETCH(QString, tail);
    QFETCH(QByteArray, earlier);
    QFETCH(bool, earlierKept);

    QVERIFY(testfiles::write(src + QStringLiteral("/cam.h264"), pattern(3000)));
    if (!earlier.isEmpty())
        QVERIFY(testfiles::write(dest + QStringLiteral("/cam.mp4"), earlier));
    if (tail.isEmpty()) {
        QVERIFY(testfiles::write(bin + QStringLiteral("/mp4box"), "#!/bin/sh\n"));
    } else {
        QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), tail));
    }

    const Report report = importFile(dest, src + QStringLiteral("/cam.h264"));
    QVERIFY(report.finished);
    QCOMPARE(report.ends, 1);
    QVERIFY(report.endLast);
    QVERIFY(!QFile::exists(dest + QStringLiteral("/cam.h264")));
    if (earlierKept) {
        QCOMPARE(testfiles::read(dest + QStringLiteral("/cam.mp4")), earlier);
    } else {
        QVERIFY(!QFile::exists(dest + QStringLiteral("/cam.mp4")));
    }
}

void TestProcessImport::findsTool()
{
    const QString other = bin + QStringLiteral("/other");
    const QString own = bin + QStringLiteral("/own");
    QVERIFY(QDir().mkpath(other));
    QVERIFY(QDir().mkpath(own));
    QVERIFY(writeTool(own + QStringLiteral("/mp4box"), QString()));
    QVERIFY(writeTool(other + QStringLiteral("/MP4Box"), QString()));

    qputenv("PATH", bin.toLocal8Bit());
    QCOMPARE(Process_Import::findTool(bin), QStringLiteral("mp4box"));
    QCOMPARE(Process_Import::findTool(own), own + QStringLiteral("/mp4box"));
    qputenv("PATH", (bin + QLatin1Char(':') + other).toLocal8Bit());
    QCOMPARE(Process_Import::findTool(own), other + QStringLiteral("/MP4Box"));
    QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), QString()));
    QCOMPARE(Process_Import::findTool(own), bin + QStringLiteral("/mp4box"));
}

void TestProcessImport::findsToolInstalled()
{
    // An installation: <prefix>/bin/kestrin and <prefix>/lib/kestrin/mp4box.
    const QString prefix = bin + QStringLiteral("/prefix");
    const QString programs = prefix + QStringLiteral("/bin");
    const QString privateTool = prefix + QStringLiteral("/lib/kestrin/mp4box");
    QVERIFY(QDir().mkpath(programs));
    QVERIFY(QDir().mkpath(prefix + QStringLiteral("/lib/kestrin")));
    qputenv("PATH", bin.toLocal8Bit());
    QVERIFY(!QFile::exists(bin + QStringLiteral("/mp4box")));
    QCOMPARE(Process_Import::findTool(programs), QStringLiteral("mp4box"));
    QVERIFY(writeTool(privateTool, QString()));
    QCOMPARE(Process_Import::findTool(programs), privateTool);
    // The search path and the program's own folder come first.
    QVERIFY(writeTool(programs + QStringLiteral("/mp4box"), QString()));
    QCOMPARE(Process_Import::findTool(programs), programs + QStringLiteral("/mp4box"));
    QVERIFY(writeTool(bin + QStringLiteral("/mp4box"), QString()));
    QCOMPARE(Process_Import::findTool(programs), bin + QStringLiteral("/mp4box"));
}

void TestProcessImport::parser_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("encode");
    QTest::addColumn<QList<int>>("save");

    QTest::newRow("encoding line")
        << QList<QByteArray> { "Importing AVC-H264: |=====     | (45/100)\n" } << QList<int> { 46 }
        << QList<int> {};
    QTest::newRow("writing line") << QList<QByteArray> {
        "ISO File Writing: |==        | (12/100)\n"
    } << QList<int> {} << QList<int> { 13 };
    QTest::newRow("9 then 10") << QList<QByteArray> { "Importing AVC-H264: |=         | (9/100)\n",
        "Importing AVC-H264: |=         | (10/100)\n" }
                               << QList<int> { 10, 11 } << QList<int> {};
    QTest::newRow("marker without fraction")
        << QList<QByteArray> { "Importing AVC-H264" } << QList<int> {} << QList<int> {};
    QTest::newRow("one stage after the other") << QList<QByteArray> {
        "Importing AVC-H264: |==========| (99/100)\n", "ISO File Writing: |          | (0/100)\n",
        "ISO File Writing: |=====     | (50/100)\n"
    } << QList<int> { 100 } << QList<int> { 1, 51 };
    // Only the first "(" counts: the writing line goes with the encoding one.
    QTest::newRow("two lines in one chunk")
        << QList<QByteArray> { "Importing AVC-H264: |==        | (20/100)\n"
                               "ISO File Writing: |===       | (30/100)\n" }
        << QList<int> { 21 } << QList<int> {};
    QTest::newRow("text waits for a marker")
        << QList<QByteArray> { "Track 1 (video)\n", "Importing AVC-H264: |          | (3/100)\n" }
        << QList<int> {} << QList<int> {};
    QTest::newRow("text before the number")
        << QList<QByteArray> { "Opening (7/100) ", "Importing AVC-H264\n" } << QList<int> { 8 }
        << QList<int> {};
    QTest::newRow("zero byte ends the chunk")
        << QList<QByteArray> { QByteArray("Importing AVC-H264: (5/100)\0(9/100)", 35) }
        << QList<int> { 6 } << QList<int> {};
    QTest::newRow("end of a stage")
        << QList<QByteArray> { "ISO File Writing: |==========| (100/100)\n" } << QList<int> {}
        << QList<int> { 101 };
}

void TestProcessImport::parser()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, encode);
    QFETCH(QList<int>, save);

    Process_Import worker(dest, src + QStringLiteral("/cam.h264"));
    QList<int> encoded;
    QList<int> saved;
    connect(&worker, &Process_Import::encode_pos, this, [&encoded](int v) { encoded << v; });
    connect(&worker, &Process_Import::save_pos, this, [&saved](int v) { saved << v; });
    for (const QByteArray &chunk : chunks)
        worker.parseOutput(chunk);
    QCOMPARE(encoded, encode);
    QCOMPARE(saved, save);
}

// The shipped tool behind the worker: a raw stream in, an MP4 file that
// OpenCV plays at 90 frames per second out.
void TestProcessImport::realTool()
{
    const QString ffmpeg
        = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"), { "/usr/bin", "/bin" });
    QVERIFY2(!ffmpeg.isEmpty(), "the ffmpeg program is needed to make a test stream");
    const QString frames = src + QStringLiteral("/frames.avi");
    QVERIFY(testvideo::write(frames, "MJPG", 90, cv::Size(320, 240), 60,
        [](int index, cv::Mat &frame) { testvideo::paintIndex(frame, index); }));
    QProcess encoder;
    encoder.start(ffmpeg,
        { "-v", "error", "-i", frames, "-c:v", "libx264", "-bf", "3", "-g", "25", "-threads", "1",
            "-f", "h264", src + "/cam_07.h264" });
    QVERIFY(encoder.waitForFinished(60000));
    QCOMPARE(encoder.exitCode(), 0);

    qputenv("PATH", QFileInfo(QStringLiteral(KESTRIN_MP4BOX)).absolutePath().toLocal8Bit());
    const Report report = importFile(dest, src + QStringLiteral("/cam_07.h264"));
    QVERIFY(report.finished);
    QCOMPARE(report.ends, 1);
    QCOMPARE(listing(dest), QStringList { "cam_07.mp4" });
    QVERIFY(!report.encode.isEmpty());
    // Writing progress may be swallowed when the tool's lines arrive in one
    // chunk (only the first "(" of a chunk counts), so it is not required.
    QVERIFY(std::is_sorted(report.save.begin(), report.save.end()));

    cv::VideoCapture capture(QFile::encodeName(dest + "/cam_07.mp4").toStdString(), cv::CAP_FFMPEG);
    QVERIFY(capture.isOpened());
    QCOMPARE(capture.get(cv::CAP_PROP_FPS), 90.0);
    QCOMPARE(qRound(capture.get(cv::CAP_PROP_FRAME_COUNT)), 60);
    cv::Mat frame;
    for (int target : { 37, 5, 59 }) {
        capture.set(cv::CAP_PROP_POS_FRAMES, target);
        QVERIFY(capture.read(frame));
        QCOMPARE(testvideo::readIndex(frame), target);
    }
}

QTEST_GUILESS_MAIN(TestProcessImport)

#include "tst_process_import.moc"
