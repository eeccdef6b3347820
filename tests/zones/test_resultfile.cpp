#include <cmath>
#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include "imgproc/result.h"
#include "testfiles.h"
#include "zones/resultfile.h"
#include "zones/safefile.h"
#include "zones/trackwriter.h"
#include "zones/videofiles.h"
#include <sys/resource.h>

namespace {

const QByteArray header("Frame;X;Y;In;Out;Timestamp\n");

// What C's printf makes of the frame (the tests run in the C locale).
QString cFormat(double frame)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", frame);
    return QString::fromLatin1(text);
}

// Every record of a count file, read as the window reads it.
QVector<Result> readAllRecords(const QString &video, int *status = nullptr)
{
    const std::optional<QVector<Result>> records
        = ResultFile::readAll(VideoFiles::resultFile(video));
    if (status != nullptr)
        *status = records ? 1 : -1;
    return records.value_or(QVector<Result>());
}

bool sameResult(const Result &a, const Result &b)
{
    return a.frame == b.frame && a.x == b.x && a.y == b.y && a.in == b.in && a.out == b.out
        && a.timestamp == b.timestamp;
}

} // namespace

class TestResultFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startOfProcessingLeavesHeaderOnly();
    void appendCreatesHeaderThenRecord();
    void appendCreatesMissingFolder();
    void appendToEmptyFileWritesHeader();
    void appendFailsWhenFileCannotBeCreated();
    void appendOneEventAtATime();
    void fullDiskSaysWhy_data();
    void fullDiskSaysWhy();
    void nameClash_data();
    void nameClash();
    void frameFormat_data();
    void frameFormat();
    void frameFormatMatchesC();
    void roundTrip();
    void readFields_data();
    void readFields();
    void readStopsAtShortLine();
    void readHeaderOnlyAndMissingFile();
    void closedHandleRefusesEverything();
    void removeResultFile();
    void readerSurvivesRandomInput();
    void resultTravelsThroughQVariant();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString video;
};

void TestResultFile::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    video = dir->filePath(QStringLiteral("video_20160512_1030_01.mp4"));
}

void TestResultFile::startOfProcessingLeavesHeaderOnly()
{
    QVERIFY(VideoFiles::ensureExportDir(video));
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), "old;1;2;3;4;5\n"));
    ResultFile::removeResultFile(video);
    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Append), 1);
    QCOMPARE(file.close(), 1);
    QCOMPARE(testfiles::read(dir->filePath(QStringLiteral("exportCSV/video_20160512_1030_01.csv"))),
        header);
}

void TestResultFile::appendCreatesHeaderThenRecord()
{
    QVERIFY(VideoFiles::ensureExportDir(video));
    for (int i = 0; i < 2; ++i) {
        // A fresh handle per event, as the counter does.
        ResultFile file;
        QCOMPARE(file.open(video, ResultFile::Append), 1);
        QCOMPARE(
            file.writeRecord(1234 + i, 412, 96, 1 - i, i, QStringLiteral("2016-05-12_10:30:00")),
            0);
        QCOMPARE(file.close(), 1);
    }
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)),
        header + "1234;412;96;1;0;2016-05-12_10:30:00\n1235;412;96;0;1;2016-05-12_10:30:00\n");
}

void TestResultFile::appendCreatesMissingFolder()
{
    // Nothing has created exportCSV: the counts must not be lost.
    QVERIFY(!QDir(VideoFiles::exportDir(video)).exists());
    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Append), 1);
    QCOMPARE(file.writeRecord(90, 1, 2, 1, 0, QStringLiteral("t")), 0);
    QCOMPARE(file.close(), 1);
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), header + "90;1;2;1;0;t\n");
}

void TestResultFile::appendToEmptyFileWritesHeader()
{
    QVERIFY(VideoFiles::ensureExportDir(video));
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), QByteArray()));
    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Append), 1);
    QCOMPARE(file.writeRecord(7, 1, 2, 1, 0, QStringLiteral("t")), 0);
    file.close();
    const QVector<Result> records = readAllRecords(video);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.at(0).frame, 7.0);
}

void TestResultFile::appendFailsWhenFileCannotBeCreated()
{
    // A plain file where the folder should be.
    QVERIFY(testfiles::write(VideoFiles::exportDir(video), "in the way"));
    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Append), -1);
    QCOMPARE(file.writeRecord(1, 2, 3, 1, 0, QStringLiteral("t")), -1);
    QCOMPARE(file.close(), -1);
    QVERIFY2(file.errorText().startsWith(
                 QStringLiteral("cannot create %1: ").arg(VideoFiles::resultFile(video))),
        qPrintable(file.errorText()));

    // A device that is always full takes no header: said so, with the reason.
    const QString full = dir->filePath(QStringLiteral("full.csv"));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), full));
    QCOMPARE(file.openFile(full, ResultFile::Append), -1);
    QVERIFY2(
        file.errorText().contains(full) && file.errorText().contains("No space left on device"),
        qPrintable(file.errorText()));
}

void TestResultFile::appendOneEventAtATime()
{
    const QString counts = dir->filePath(QStringLiteral("counts.csv"));
    Result event;
    event.frame = 1234567;
    event.x = 52;
    event.y = 110;
    event.in = 1;
    event.timestamp = QStringLiteral("2016-05-12_13:48:37");
    QCOMPARE(ResultFile::append(counts, event), QString());
    // Every event opens the file afresh: one removed in between comes back
    // with its header.
    QVERIFY(QFile::remove(counts));
    event.out = 1;
    QCOMPARE(ResultFile::append(counts, event), QString());
    QCOMPARE(testfiles::read(counts),
        QByteArray("Frame;X;Y;In;Out;Timestamp\n1.23457e+06;52;110;1;1;2016-05-12_13:48:37\n"));

    const QString full = dir->filePath(QStringLiteral("full.csv"));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), full));
    const QString why = ResultFile::append(full, event);
    QVERIFY2(why.contains(full) && why.contains("No space left on device"), qPrintable(why));
}

void TestResultFile::fullDiskSaysWhy_data()
{
    QTest::addColumn<bool>("tracks"); // else a QSaveFile
    QTest::newRow("saved file") << false;
    QTest::newRow("tracks") << true;
}

void TestResultFile::fullDiskSaysWhy()
{
    QFETCH(bool, tracks);
    QVERIFY(testfiles::write(video, "earlier"));
    QSaveFile saved(video);
    TrackWriter writer;
    Target target;
    QVERIFY(tracks ? writer.start(video) : saved.open(QIODevice::WriteOnly));
    // A disk that takes the first 4 kB of a write. QFile loses the reason of
    // such a write, and QSaveFile::commit() alone takes the file for whole.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const rlimit full { 4096, before.rlim_max };
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &full), 0);
    for (int frame = 0; tracks && frame < 2000; ++frame) // about 30 kB
        writer.addFrame(frame, { &target }, 0);
    if (!tracks)
        saved.write(QByteArray(8192, 'x')); // buffered: written by the commit
    const QString problem
        = tracks ? (writer.finish() ? QString() : writer.error()) : SafeFile::commit(saved);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &before), 0);
    QVERIFY2(problem.endsWith(QStringLiteral(": File too large")), qPrintable(problem));
    QCOMPARE(testfiles::read(video), QByteArray("earlier"));
    QCOMPARE(QDir(dir->path()).entryList(QDir::Files), QStringList { QFileInfo(video).fileName() });
    QVERIFY(!QFileInfo::exists(TrackWriter::temporaryFile(video)));
}

void TestResultFile::nameClash_data()
{
    QTest::addColumn<QStringList>("folder"); // the first is the video asked about
    QTest::addColumn<QString>("named"); // in the refusal; empty: no clash

    QTest::newRow("twin in other letter case") << QStringList { "x.mp4", "x.MP4" } << "x.MP4";
    QTest::newRow("count file is another's review")
        << QStringList { "y.mp4", "Y_review.mp4" } << "Y_review.mp4";
    QTest::newRow("the folder summary") << QStringList { "Summary.mp4" } << "exportCSV/summary.csv";
    QTest::newRow("the review sample")
        << QStringList { "review_sample.mp4" } << "exportCSV/review_sample.csv";
}

void TestResultFile::nameClash()
{
    QFETCH(QStringList, folder);
    QFETCH(QString, named);

    const QString clash = dir->filePath(QStringLiteral("clash/"));
    for (const QString &name : folder)
        QVERIFY(testfiles::write(clash + name, "video"));
    const QString problem = VideoFiles::nameClash(clash + folder.first());
    QVERIFY2(named.isEmpty() ? problem.isEmpty() : problem.contains(named), qPrintable(problem));
}

void TestResultFile::frameFormat_data()
{
    QTest::addColumn<double>("frame");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0.0 << QStringLiteral("0");
    QTest::newRow("90") << 90.0 << QStringLiteral("90");
    QTest::newRow("1234") << 1234.0 << QStringLiteral("1234");
    QTest::newRow("999999") << 999999.0 << QStringLiteral("999999");
    QTest::newRow("1000000") << 1000000.0 << QStringLiteral("1e+06");
    QTest::newRow("1234567") << 1234567.0 << QStringLiteral("1.23457e+06");
    QTest::newRow("9999995") << 9999995.0 << QStringLiteral("1e+07");
    QTest::newRow("-5") << -5.0 << QStringLiteral("-5");
}

void TestResultFile::frameFormat()
{
    QFETCH(double, frame);
    QFETCH(QString, text);
    QCOMPARE(ResultFile::formatFrame(frame), text);
    QCOMPARE(cFormat(frame), text); // the expectation itself is C's

    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Append), 1);
    QCOMPARE(file.writeRecord(frame, 0, 0, 0, 0, QString()), 0);
    file.close();
    QCOMPARE(
        testfiles::read(VideoFiles::resultFile(video)), header + text.toLatin1() + ";0;0;0;0;\n");
}

void TestResultFile::frameFormatMatchesC()
{
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<long long> whole(0, 400000000LL);
    std::vector<double> frames { 0.5, 1e-5, 123456.5, 1e15, 1e300, -1234567.0 };
    for (int i = 0; i < 2000; ++i)
        frames.push_back(static_cast<double>(whole(rng) >> (i % 25)));
    for (double frame : frames)
        QCOMPARE(ResultFile::formatFrame(frame), cFormat(frame));
}

void TestResultFile::roundTrip()
{
    const QVector<Result> written {
        { 90, 412, 96, 1, 0, QStringLiteral("2016-05-12_10:30:00") },
        { 999999, -3, 2147483647, 0, 1, QStringLiteral("2016-05-12_13:35:11") },
        { 1234567, 0, -2147483647 - 1, 1, 1, QString() },
        { 1e6, 5, 6, 0, 0, QStringLiteral("text with , comma and ünïcödé") },
    };
    for (const Result &r : written) {
        ResultFile file;
        QCOMPARE(file.open(video, ResultFile::Append), 1);
        QCOMPARE(file.writeRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), 0);
        QCOMPARE(file.close(), 1);
    }
    const QVector<Result> read = readAllRecords(video);
    QCOMPARE(read.size(), written.size());
    for (int i = 0; i < read.size(); ++i) {
        Result expected = written.at(i);
        // Exponent form keeps 6 significant digits.
        expected.frame = std::stod(cFormat(expected.frame).toStdString());
        QVERIFY2(sameResult(read.at(i), expected), qPrintable(QString::number(i)));
    }
    QCOMPARE(read.at(2).frame, 1234570.0);
}

void TestResultFile::readFields_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<double>("frame");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("in");
    QTest::addColumn<int>("out");
    QTest::addColumn<QString>("timestamp");
    const QString t = QStringLiteral("2016-05-12_10:30:00");
    QTest::newRow("plain") << QByteArray("1234;412;96;1;0;2016-05-12_10:30:00\n") << 1234.0 << 412
                           << 96 << 1 << 0 << t;
    QTest::newRow("CR LF") << QByteArray("1234;412;96;1;0;2016-05-12_10:30:00\r\n") << 1234.0 << 412
                           << 96 << 1 << 0 << t;
    QTest::newRow("no final line end")
        << QByteArray("1234;412;96;1;0;2016-05-12_10:30:00") << 1234.0 << 412 << 96 << 1 << 0 << t;
    QTest::newRow("seven fields") << QByteArray("5;6;7;0;1;2016-05-12_10:30:00;extra\n") << 5.0 << 6
                                  << 7 << 0 << 1 << t;
    QTest::newRow("exponent frame") << QByteArray("1.23457e+06;1;2;1;0;t\n") << 1234570.0 << 1 << 2
                                    << 1 << 0 << QStringLiteral("t");
    QTest::newRow("signs") << QByteArray("+12;-3;+4;-1;+1;t\n") << 12.0 << -3 << 4 << -1 << 1
                           << QStringLiteral("t");
    QTest::newRow("spaces around numbers") << QByteArray(" 12 ; 3 ;4 ; 1;0 ; t \n") << 12.0 << 3
                                           << 4 << 1 << 0 << QStringLiteral(" t ");
    QTest::newRow("space inside a number")
        << QByteArray("1 2;3 4;5;1;0;t\n") << 0.0 << 0 << 5 << 1 << 0 << QStringLiteral("t");
    QTest::newRow("beyond 32 bits") << QByteArray("90;2147483648;-2147483649;99999999999;1;t\n")
                                    << 90.0 << 0 << 0 << 0 << 1 << QStringLiteral("t");
    QTest::newRow("32-bit limits")
        << QByteArray("90;2147483647;-2147483648;0;1;t\n") << 90.0 << 2147483647
        << (-2147483647 - 1) << 0 << 1 << QStringLiteral("t");
    QTest::newRow("not numbers") << QByteArray("abc;1.5;0x10;;yes;t\n") << 0.0 << 0 << 0 << 0 << 0
                                 << QStringLiteral("t");
    QTest::newRow("not finite frames")
        << QByteArray("nan;1;2;3;4;t\n") << 0.0 << 1 << 2 << 3 << 4 << QStringLiteral("t");
    QTest::newRow("infinite frame")
        << QByteArray("-inf;1;2;3;4;t\n") << 0.0 << 1 << 2 << 3 << 4 << QStringLiteral("t");
    QTest::newRow("overflowing frame")
        << QByteArray("1e999;1;2;3;4;t\n") << 0.0 << 1 << 2 << 3 << 4 << QStringLiteral("t");
    QTest::newRow("empty fields") << QByteArray(";;;;;\n") << 0.0 << 0 << 0 << 0 << 0 << QString();
    QTest::newRow("binary") << QByteArray("\xff\x00;\x01;2;3;4;\xc3\xa9\x00z\n", 16) << 0.0 << 0
                            << 2 << 3 << 4
                            << (QStringLiteral("\u00e9") + QChar(0) + QLatin1Char('z'));
}

void TestResultFile::readFields()
{
    QFETCH(QByteArray, line);
    QFETCH(double, frame);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, in);
    QFETCH(int, out);
    QFETCH(QString, timestamp);
    QVERIFY(VideoFiles::ensureExportDir(video));
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), header + line));

    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Read), 1);
    Result r;
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), 1);
    QCOMPARE(r.frame, frame);
    QCOMPARE(r.x, x);
    QCOMPARE(r.y, y);
    QCOMPARE(r.in, in);
    QCOMPARE(r.out, out);
    QCOMPARE(r.timestamp, timestamp);
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), -1);
    QCOMPARE(file.close(), 1);
}

void TestResultFile::readStopsAtShortLine()
{
    QVERIFY(VideoFiles::ensureExportDir(video));
    QVERIFY(testfiles::write(VideoFiles::resultFile(video),
        header + "1;2;3;1;0;a\n" + "2;3;4;0;1;b\n" + "3;4;5;1;0\n" + "4;5;6;1;0;d\n"));
    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Read), 1);
    Result r;
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), 1);
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), 1);
    const Result before = r;
    // Five fields: not a record, and nothing is overwritten.
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), -1);
    QVERIFY(sameResult(r, before));
    QCOMPARE(r.timestamp, QStringLiteral("b"));
    file.close();

    // An empty line in the middle hides what follows it.
    QVERIFY(
        testfiles::write(VideoFiles::resultFile(video), header + "1;2;3;1;0;a\n\n4;5;6;1;0;d\n"));
    QCOMPARE(readAllRecords(video).size(), 1);
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video), header + "1;2;3;1;0;a\r\n\r\n4;5;6;1;0;d\r\n"));
    QCOMPARE(readAllRecords(video).size(), 1);
}

void TestResultFile::readHeaderOnlyAndMissingFile()
{
    int status = 0;
    QVERIFY(readAllRecords(video, &status).isEmpty());
    QCOMPARE(status, -1);

    ResultFile create;
    QCOMPARE(create.open(video, ResultFile::Append), 1);
    create.close();
    QVERIFY(readAllRecords(video, &status).isEmpty());
    QCOMPARE(status, 1);

    // An empty file opens, but holds no record.
    QVERIFY(testfiles::write(VideoFiles::resultFile(video), QByteArray()));
    QVERIFY(readAllRecords(video, &status).isEmpty());
    QCOMPARE(status, 1);
}

void TestResultFile::closedHandleRefusesEverything()
{
    ResultFile file;
    Result r { 1, 2, 3, 4, 5, QStringLiteral("keep") };
    QCOMPARE(file.writeRecord(1, 2, 3, 1, 0, QStringLiteral("t")), -1);
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), -1);
    QCOMPARE(file.close(), -1);
    QCOMPARE(file.open(video, 3), -1);
    QCOMPARE(file.open(video, 6), -1);
    QVERIFY(!QFile::exists(VideoFiles::resultFile(video)));
    QVERIFY(sameResult(r, Result { 1, 2, 3, 4, 5, QStringLiteral("keep") }));

    // A read handle does not write, an append handle does not read.
    QCOMPARE(file.open(video, ResultFile::Append), 1);
    QCOMPARE(file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp), -1);
    QCOMPARE(file.close(), 1);
    QCOMPARE(file.close(), -1);
    QCOMPARE(file.open(video, ResultFile::Read), 1);
    QCOMPARE(file.writeRecord(1, 2, 3, 1, 0, QStringLiteral("t")), -1);
    QCOMPARE(file.close(), 1);
    QCOMPARE(testfiles::read(VideoFiles::resultFile(video)), header);
}

void TestResultFile::removeResultFile()
{
    ResultFile::removeResultFile(video); // nothing there: no error
    ResultFile file;
    QCOMPARE(file.open(video, ResultFile::Append), 1);
    file.close();
    QVERIFY(QFile::exists(VideoFiles::resultFile(video)));
    QVERIFY(testfiles::write(VideoFiles::areaFile(video), "1,2\n"));
    ResultFile::removeResultFile(video);
    QVERIFY(!QFile::exists(VideoFiles::resultFile(video)));
    QVERIFY(QFile::exists(VideoFiles::areaFile(video)));
}

void TestResultFile::readerSurvivesRandomInput()
{
    QVERIFY(VideoFiles::ensureExportDir(video));
    std::mt19937 rng(4242);
    std::uniform_int_distribution<int> byte(0, 255);
    const QByteArray alphabet("0123456789;;;;-+ .e\r\tnaif\xc3\xa9");
    std::uniform_int_distribution<int> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> length(0, 60);
    std::uniform_int_distribution<int> kind(0, 3);
    std::uniform_int_distribution<int> number(-100000, 3000000);

    int recordsSeen = 0;
    for (int round = 0; round < 400; ++round) {
        QByteArray contents = header;
        std::vector<int> fieldCounts; // fields per line, in order
        const int lines = 1 + round % 10;
        for (int l = 0; l < lines; ++l) {
            QByteArray line;
            switch (kind(rng)) {
            case 0: // well-formed
                line = QByteArray::number(number(rng)) + ';' + QByteArray::number(number(rng)) + ';'
                    + QByteArray::number(number(rng)) + ";1;0;2016-05-12_10:30:00";
                break;
            case 1:
                for (int i = length(rng); i > 0; --i)
                    line += static_cast<char>(byte(rng));
                break;
            case 2:
                for (int i = length(rng); i > 0; --i)
                    line += alphabet.at(pick(rng));
                break;
            default: // well-formed with bytes changed
                line = QByteArray::number(number(rng)) + ";12;34;0;1;2016-05-12_10:30:00";
                for (int i = 1 + round % 3; i > 0; --i)
                    line[byte(rng) % line.size()] = static_cast<char>(byte(rng));
                break;
            }
            line.replace('\n', ' ');
            while (line.endsWith('\r'))
                line.chop(1);
            fieldCounts.push_back(line.count(';') + 1);
            contents += line;
            if (l + 1 < lines || round % 2 == 0)
                contents += (round % 3 == 0 ? "\r\n" : "\n");
        }
        QVERIFY(testfiles::write(VideoFiles::resultFile(video), contents));

        // Records up to the first line of fewer than six fields.
        int expected = 0;
        while (expected < static_cast<int>(fieldCounts.size()) && fieldCounts[expected] >= 6)
            ++expected;
        const QVector<Result> records = readAllRecords(video);
        QCOMPARE(records.size(), expected);
        for (const Result &r : records)
            QVERIFY(std::isfinite(r.frame));
        recordsSeen += records.size();
    }
    QVERIFY(recordsSeen > 200); // the inputs reach the field parsing often

    // A megabyte on one line between two records.
    QByteArray huge(1 << 20, ';');
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video), header + "1;2;3;1;0;a\n" + huge + "\n4;5;6;1;0;d\n"));
    const QVector<Result> records = readAllRecords(video);
    QCOMPARE(records.size(), 3);
    QCOMPARE(records.at(1).frame, 0.0);
    QVERIFY(records.at(1).timestamp.isEmpty());
    QCOMPARE(records.at(2).timestamp, QStringLiteral("d"));
}

void TestResultFile::resultTravelsThroughQVariant()
{
    Result::registerMetaType();
    QVERIFY(QMetaType::type("Result") != QMetaType::UnknownType);
    const Result r { 42, 1, 2, 1, 0, QStringLiteral("2016-05-12_10:30:00") };
    const QVariant v = QVariant::fromValue(r);
    QVERIFY(sameResult(v.value<Result>(), r));
}

QTEST_APPLESS_MAIN(TestResultFile)
#include "test_resultfile.moc"
