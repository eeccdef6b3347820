#include <opencv2/imgproc.hpp>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "reviewadddialog.h"
#include "reviewmodel.h"
#include "reviewwindow.h"
#include "tableviewresult.h"
#include "testfiles.h"
#include "testvideo.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"

using Decision = ReviewFile::Decision;
Q_DECLARE_METATYPE(ReviewModel::Stage)

class TestReviewWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keyboardFlow();
    void addMissedEvent();
    void newRunOffersCarryOver();
    void resultListMarksDecisions();
    void eventFrameThenClip_data();
    void eventFrameThenClip();

private:
    QString reviewLines() const;

    QTemporaryDir dir;
    QString video;
};

void TestReviewWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
    video = dir.filePath(QStringLiteral("video_20150612_0930_01.mp4"));
    QVERIFY(
        testvideo::write(video, "avc1", 25, cv::Size(320, 240), 150, [](int index, cv::Mat &frame) {
            frame = testvideo::background(frame.size());
            testvideo::paintIndex(frame, index);
            cv::circle(frame, cv::Point(20 + 2 * index, 120), 5, cv::Scalar(0, 0, 255), cv::FILLED);
        }));
    AreaContour zones;
    zones.addAreaPoint(cv::Point(160, 20));
    zones.addAreaPoint(cv::Point(160, 220));
    zones.saveArea(video);
}

QString TestReviewWindow::reviewLines() const
{
    QStringList decisions;
    const QList<QByteArray> lines = testfiles::read(VideoFiles::reviewFile(video)).split('\n');
    for (int i = 2; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            decisions << QString::fromUtf8(lines[i].left(lines[i].indexOf(';'))) + QLatin1Char(' ')
                    + QString::fromUtf8(lines[i].mid(lines[i].lastIndexOf(';') + 1));
    }
    return decisions.join(QStringLiteral(", "));
}

void TestReviewWindow::keyboardFlow()
{
    QVERIFY(testfiles::write(VideoFiles::resultFile(video),
        "Frame;X;Y;In;Out;Timestamp\n40;70;120;1;0;a\n60;110;120;0;1;b\n80;150;120;1;1;c\n"
        "100;190;120;1;0;d\n"));
    QFile::remove(VideoFiles::reviewFile(video));
    ReviewWindow window;
    QAbstractItemModelTester tester(window.model());
    QVERIFY(window.setVideo(video));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QListView *list = window.view();
    list->setFocus();
    QCOMPARE(list->currentIndex().row(), 0);
    QCOMPARE(window.model()->kindText(0), QStringLiteral("crossing left to right"));
    QCOMPARE(window.model()->kindText(2), QStringLiteral("crossing"));
    // Every tile of the screen gets its clip.
    QTRY_COMPARE_WITH_TIMEOUT(window.visibleWaiting(), 0, 15000);
    QVERIFY(!window.model()->index(0).data(ReviewModel::FrameImageRole).value<QImage>().isNull());

    QTest::keyClick(list, Qt::Key_Space); // confirms, moves on
    QCOMPARE(list->currentIndex().row(), 1);
    QTest::keyClick(list, Qt::Key_Right);
    QCOMPARE(list->currentIndex().row(), 2);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(list->currentIndex().row(), 3);
    QTest::keyClick(list, Qt::Key_Left);
    QTest::keyClick(list, Qt::Key_Left);
    QCOMPARE(list->currentIndex().row(), 1);
    QTest::keyClick(list, Qt::Key_Delete);
    QCOMPARE(reviewLines(), QStringLiteral("40 confirmed, 60 rejected, 80 rejected"));
    QVERIFY(window.findChild<QLabel *>(QStringLiteral("la_reviewcounts"))
                ->text()
                .startsWith(QStringLiteral("Unreviewed 1, confirmed 1, rejected 2, added 0; "
                                           "reviewed: 1 in, 0 out")));

    auto *filter = window.findChild<QComboBox *>(QStringLiteral("cb_reviewfilter"));
    filter->setCurrentIndex(filter->findText(QStringLiteral("Rejected")));
    QCOMPARE(window.visibleRows(), (QVector<int> { 1, 2 }));
    filter->setCurrentIndex(filter->findText(QStringLiteral("Unreviewed")));
    QCOMPARE(window.visibleRows(), (QVector<int> { 3 }));
    list->setCurrentIndex(window.model()->index(3));
    QTest::keyClick(list, Qt::Key_Space); // the last one: it leaves the filter's view
    QVERIFY(window.visibleRows().isEmpty());
    QCOMPARE(
        reviewLines(), QStringLiteral("40 confirmed, 60 rejected, 80 rejected, 100 confirmed"));
    filter->setCurrentIndex(filter->findText(QStringLiteral("All")));
    QCOMPARE(window.visibleRows().size(), 4);
    list->setCurrentIndex(window.model()->index(1));
    QTest::keyClick(list, Qt::Key_U); // taken back
    QCOMPARE(reviewLines(), QStringLiteral("40 confirmed, 80 rejected, 100 confirmed"));
}

void TestReviewWindow::addMissedEvent()
{
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video), "Frame;X;Y;In;Out;Timestamp\n40;70;120;1;0;a\n"));
    QFile::remove(VideoFiles::reviewFile(video));
    ReviewWindow window;
    QVERIFY(window.setVideo(video));
    window.setFrameSource([] { return 90.0; });
    window.show();
    QSignalSpy changed(&window, &ReviewWindow::reviewChanged);
    bool shown = false;
    QTimer::singleShot(0, this, [&shown] {
        auto *dialog = qobject_cast<ReviewAddDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = dialog->frameShown();
        auto *picture = dialog->findChild<QLabel *>(QStringLiteral("la_addframe"));
        QTest::mouseClick(picture, Qt::LeftButton, {}, QPoint(200, 60)); // 320 wide: shown as is
        auto *kind = dialog->findChild<QComboBox *>(QStringLiteral("cb_addkind"));
        kind->setCurrentIndex(1); // right to left
        dialog->accept();
    });
    window.findChild<QPushButton *>(QStringLiteral("pb_addevent"))->click();
    QVERIFY(shown);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(window.model()->rowCount(), 2);
    QCOMPARE(window.model()->decision(1), Decision::Added);
    QCOMPARE(window.view()->currentIndex().row(), 1);
    // Counted in the frame shown: the count file names the one before.
    QCOMPARE(reviewLines(), QStringLiteral("89 added"));
    QVERIFY(testfiles::read(VideoFiles::reviewFile(video))
                .contains("\n89;200;60;0;1;2015-06-12_09:30:03;added\n"));
}

void TestReviewWindow::newRunOffersCarryOver()
{
    QVERIFY(testfiles::write(VideoFiles::resultFile(video),
        "Frame;X;Y;In;Out;Timestamp\n40;70;120;1;0;a\n60;110;120;0;1;b\n"));
    QFile::remove(VideoFiles::reviewFile(video));
    {
        ReviewWindow window;
        QVERIFY(window.setVideo(video));
        window.show();
        window.view()->setFocus();
        QTest::keyClick(window.view(), Qt::Key_Space);
        QTest::keyClick(window.view(), Qt::Key_Delete);
    }
    // A new run finds the second event a little elsewhere, and one more.
    QVERIFY(testfiles::write(VideoFiles::resultFile(video),
        "Frame;X;Y;In;Out;Timestamp\n40;70;120;1;0;a\n60;111;120;0;1;b\n70;130;120;1;0;c\n"));
    ReviewWindow window;
    QVERIFY(window.setVideo(video));
    window.show();
    auto *carry = window.findChild<QPushButton *>(QStringLiteral("pb_carryover"));
    QVERIFY(carry->isVisible());
    // Until then nothing is decided on the new counts.
    QTest::keyClick(window.view(), Qt::Key_Space);
    QCOMPARE(window.model()->count(Decision::Unreviewed), 3);
    carry->click();
    QVERIFY(!carry->isVisible());
    QCOMPARE(window.model()->decision(0), Decision::Confirmed);
    QCOMPARE(window.model()->decision(1), Decision::Unreviewed);
    QCOMPARE(reviewLines(), QStringLiteral("40 confirmed"));
}

void TestReviewWindow::resultListMarksDecisions()
{
    QTableView view;
    TableViewResult table(&view, nullptr, nullptr);
    table.setResults(QVector<Result>(3));
    table.markDecisions({ Decision::Confirmed, Decision::Unreviewed, Decision::Rejected });
    const QAbstractItemModel *model = view.model();
    QCOMPARE(model->index(0, 4).data(Qt::ToolTipRole).toString(), QStringLiteral("confirmed"));
    QVERIFY(!model->index(1, 0).data(Qt::BackgroundRole).isValid());
    QCOMPARE(model->index(2, 0).data(Qt::ToolTipRole).toString(), QStringLiteral("rejected"));
    QVERIFY(model->index(2, 0).data(Qt::BackgroundRole).value<QBrush>()
        != model->index(0, 0).data(Qt::BackgroundRole).value<QBrush>());
}

void TestReviewWindow::eventFrameThenClip_data()
{
    QTest::addColumn<QStringList>("arrivals");
    QTest::addColumn<ReviewModel::Stage>("stage");
    QTest::addColumn<bool>("atEvent"); // the tile shows the event's frame now
    QTest::newRow("event frame") << QStringList { "frame" } << ReviewModel::Stage::EventFrame
                                 << true;
    QTest::newRow("clip replaces it")
        << QStringList { "frame", "clip" } << ReviewModel::Stage::Clip << false;
    QTest::newRow("late event frame kept out")
        << QStringList { "clip", "frame" } << ReviewModel::Stage::Clip << false;
}

void TestReviewWindow::eventFrameThenClip()
{
    QFETCH(QStringList, arrivals);
    QFETCH(ReviewModel::Stage, stage);
    QFETCH(bool, atEvent);
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video), "Frame;X;Y;In;Out;Timestamp\n40;70;120;1;0;a\n"));
    ReviewModel model;
    QString problem;
    QVERIFY2(model.setVideos({ video }, &problem), qPrintable(problem));
    const ClipDecoder::Request request = model.clipRequest(0);
    for (const QString &arrival : arrivals) {
        ClipDecoder::Clip clip;
        clip.id = request.id;
        clip.eventOnly = arrival == QLatin1String("frame");
        // A clip's first frame comes before its event's.
        for (const double index : { request.event - 2, request.event }) {
            if (!clip.eventOnly || index == request.event) {
                clip.indices.push_back(index);
                clip.frames.emplace_back(request.crop.size(), CV_8UC3, cv::Scalar(40, 80, 120));
            }
        }
        model.setClip(clip);
    }
    QCOMPARE(model.stage(0), stage);
    QCOMPARE(model.index(0).data(ReviewModel::EventFrameRole).toBool(), atEvent);
    QVERIFY(!model.index(0).data(ReviewModel::FrameImageRole).value<QImage>().isNull());
}

QTEST_MAIN(TestReviewWindow)
#include "tst_reviewwindow.moc"
