#include <optional>
#include <utility>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "importqueue.h"
#include "testfiles.h"

namespace {
constexpr int kChainTimeout = 30000;
using Collision = std::optional<std::pair<QString, QString>>;
} // namespace

Q_DECLARE_METATYPE(Collision)

// The import queue on its own: the order of the files, one queue per
// destination, stopping, and the names that would collide.
class TestImportQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void collision_data();
    void collision();
    void runs_data();
    void runs();

private:
    QByteArray savedPath;
    QTemporaryDir root;
    QString dest;
    QString folder;
    QString bin;
};

void TestImportQueue::initTestCase()
{
    QVERIFY(root.isValid());
    savedPath = qgetenv("PATH");
}

void TestImportQueue::init()
{
    const QString tag = QString::fromLatin1(QTest::currentTestFunction()) + QLatin1Char('_')
        + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    QDir top(root.path());
    for (const char *sub : { "/dest", "/import", "/bin", "/elsewhere" })
        QVERIFY(top.mkpath(tag + QLatin1String(sub)));
    dest = top.filePath(tag + QStringLiteral("/dest"));
    folder = top.filePath(tag + QStringLiteral("/import"));
    bin = top.filePath(tag + QStringLiteral("/bin"));
    qputenv("PATH", bin.toLocal8Bit());
}

void TestImportQueue::cleanup()
{
    qputenv("PATH", savedPath);
}

void TestImportQueue::collision_data()
{
    QTest::addColumn<QStringList>("sources");
    QTest::addColumn<Collision>("expected");

    QTest::newRow("none") << QStringList { "/in/a.mp4", "/in/b.avi", "/in/c.h264" } << Collision();
    QTest::newRow("no sources") << QStringList {} << Collision();
    QTest::newRow("same name, other kind")
        << QStringList { "/in/a.mp4", "/in/b.mp4", "/in/a.avi" }
        << Collision(std::make_pair(QStringLiteral("/in/a.mp4"), QStringLiteral("/in/a.avi")));
    // The name counts up to its first dot.
    QTest::newRow("dotted name") << QStringList {
        "/in/cam.1.h264", "/in/cam.mp4"
    } << Collision(std::make_pair(QStringLiteral("/in/cam.1.h264"), QStringLiteral("/in/cam.mp4")));
    QTest::newRow("other folders, one name")
        << QStringList { "/in/x/v.mp4", "/in/y/v.mp4" }
        << Collision(std::make_pair(QStringLiteral("/in/x/v.mp4"), QStringLiteral("/in/y/v.mp4")));
    QTest::newRow("letter case differs") << QStringList { "/in/V.mp4", "/in/v.mp4" } << Collision();
}

void TestImportQueue::collision()
{
    QFETCH(QStringList, sources);
    QFETCH(Collision, expected);
    QCOMPARE(ImportQueue::collision(sources), expected);
}

void TestImportQueue::runs_data()
{
    // Sources in the import folder, in the order handed to the queue; the
    // first is held by the wrapping tool until the step is done.
    QTest::addColumn<QStringList>("sources");
    // While the first file is held: "stop", "same folder" (a second queue
    // on the destination spelled another way), "other folder", or nothing.
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("secondStarts");
    QTest::addColumn<QStringList>("imported");

    const QStringList three { "c.h264", "a.mp4", "b.avi" };
    QTest::newRow("in the order given") << three << QString() << false << three;
    QTest::newRow("stopped, the file in hand only")
        << three << QStringLiteral("stop") << false << QStringList { "c.h264" };
    QTest::newRow("same folder refused")
        << three << QStringLiteral("same folder") << false << three;
    QTest::newRow("other folder free") << three << QStringLiteral("other folder") << true << three;
}

void TestImportQueue::runs()
{
    QFETCH(QStringList, sources);
    QFETCH(QString, step);
    QFETCH(bool, secondStarts);
    QFETCH(QStringList, imported);
    QVERIFY(testfiles::writeGatedTool(bin));
    QStringList paths;
    for (const QString &name : sources) {
        paths << folder + QLatin1Char('/') + name;
        QVERIFY(testfiles::write(paths.last(), name.toLatin1()));
    }

    ImportQueue queue(dest);
    QVERIFY(!queue.start({}));
    QSignalSpy started(&queue, &ImportQueue::fileStarted);
    QSignalSpy done(&queue, &ImportQueue::allDone);
    QVERIFY(queue.start(paths));
    QVERIFY(queue.destinationBusy());
    QVERIFY(!queue.start(paths));

    const QString second = step == QLatin1String("other folder")
        ? QDir(dest).filePath(QStringLiteral("../elsewhere"))
        : dest + QStringLiteral("/.");
    ImportQueue other(second);
    if (step == QLatin1String("stop"))
        queue.stop();
    else if (!step.isEmpty())
        QCOMPARE(other.start({ paths.at(1) }), secondStarts);
    QVERIFY(testfiles::write(bin + QStringLiteral("/mp4box.go"), ""));

    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, kChainTimeout);
    QVERIFY(!queue.isRunning());
    QVERIFY(!queue.destinationBusy());
    QCOMPARE(queue.done(), imported.size());
    QStringList order;
    for (const QList<QVariant> &signal : started)
        order << QFileInfo(signal.first().toString()).fileName();
    QCOMPARE(order, imported);
    QStringList expected;
    for (const QString &name : imported)
        expected << ImportQueue::targetName(name);
    expected.sort();
    QCOMPARE(QDir(dest).entryList(QDir::Files, QDir::Name), expected);
    QTRY_VERIFY_WITH_TIMEOUT(!other.isRunning(), kChainTimeout);
}

QTEST_GUILESS_MAIN(TestImportQueue)
#include "tst_importqueue.moc"
