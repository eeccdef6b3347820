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
    QTest::addColumn<QStringList>("folder"); // the first is the video asked about
    QTest::addColumn<QString>("named"); // in the refusal; empty: no clash

    QTest::newRow("twin in other letter case") << QStringList { "x.mp4", "x.MP4" } << "x.MP4";
    QTest::newRow("count file is another's review")
        << QStringList { "y.mp4", "Y_review.mp4" } << "Y_review.mp4";
    QTest::newRow("the folder summary") << QStringList { "Summary.mp4" } << "exportCSV/summary.csv";
    QTest::newRow("the review sample")
        << QStringList { "review_sample.mp4" } << "exportCSV/review_sample.csv";
}

void TestVideoFiles::nameClash()
{
    QFETCH(QStringList, folder);
    QFETCH(QString, named);

    QTemporaryDir dir;
    for (const QString &name : folder)
        QVERIFY(testfiles::write(dir.filePath(name), "video"));
    const QString problem = VideoFiles::nameClash(dir.filePath(folder.first()));
    QVERIFY2(named.isEmpty() ? problem.isEmpty() : problem.contains(named), qPrintable(problem));
}

QTEST_APPLESS_MAIN(TestVideoFiles)
#include "test_videofiles.moc"
