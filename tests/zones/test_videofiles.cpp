#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include "testfiles.h"
#include "zones/videofiles.h"

class TestVideoFiles : public QObject
{
    Q_OBJECT

private slots:
    void nameClash_data();
    void nameClash();
};

void TestVideoFiles::nameClash_data()
{
    QTest::addColumn<QStringList>("folder");
    QTest::addColumn<QString>("video");
    // What the refusal names; empty when the video's files have names of their own.
    QTest::addColumn<QString>("named");

    QTest::newRow("alone") << QStringList { "x.mp4" } << "x.mp4" << QString();
    QTest::newRow("twin in other letter case") << QStringList { "x.mp4", "x.MP4" } << "x.mp4"
                                               << "x.MP4";
    QTest::newRow("count file is another's tracks")
        << QStringList { "y.mp4", "y_tracks.mp4" } << "y_tracks.mp4"
        << "y.mp4";
    QTest::newRow("count file is another's review")
        << QStringList { "y.mp4", "Y_review.mp4" } << "y.mp4"
        << "Y_review.mp4";
    QTest::newRow("partial counts live apart")
        << QStringList { "x.mp4", "x.partial.mp4" } << "x.partial.mp4" << QString();
    QTest::newRow("a lock's name") << QStringList { "z.mp4", "z.lock.mp4" } << "z.mp4" << QString();
    QTest::newRow("the folder summary") << QStringList { "Summary.mp4" } << "Summary.mp4"
                                        << "exportCSV/summary.csv";
    QTest::newRow("the activity table") << QStringList { "activity.mp4" } << "activity.mp4"
                                        << "exportCSV/activity.csv";
    QTest::newRow("the review sample") << QStringList { "review_sample.mp4" } << "review_sample.mp4"
                                       << "review_sample.csv";
}

void TestVideoFiles::nameClash()
{
    QFETCH(QStringList, folder);
    QFETCH(QString, video);
    QFETCH(QString, named);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &name : folder)
        QVERIFY(testfiles::write(dir.filePath(name), "video"));
    const QString problem = VideoFiles::nameClash(dir.filePath(video));
    if (named.isEmpty())
        QCOMPARE(problem, QString());
    else
        QVERIFY2(problem.contains(named), qPrintable(problem));
}

QTEST_APPLESS_MAIN(TestVideoFiles)
#include "test_videofiles.moc"
