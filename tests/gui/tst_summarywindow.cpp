#include <opencv2/core.hpp>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "insectscene.h"
#include "mainwindow.h"
#include "samplefolder.h"
#include "scenes/groundtruthscene.h"
#include "summarywindow.h"
#include "testfiles.h"
#include "windowdriver.h"
#include "zones/runrecord.h"
#include "zones/trackwriter.h"
#include "zones/videofiles.h"

namespace {

QStringList rowCells(const QAbstractItemModel *model, int row)
{
    QStringList cells;
    for (int column = 0; column < model->columnCount(); ++column)
        cells << model->index(row, column).data().toString();
    return cells;
}

} // namespace

class TestSummaryWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void showsWhatSummaryCsvSays();
    void missingFolderIsSaidAndEscapeCloses();
    void followsTheResultsAndTheBins();
    void savesTracksLikeTheBatchProgram();

private:
    SummaryWindow *openSummary();

    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<MainWindow> window;
};

void TestSummaryWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
}

void TestSummaryWindow::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
}

void TestSummaryWindow::cleanup()
{
    window.reset();
}

SummaryWindow *TestSummaryWindow::openSummary()
{
    window = windowdriver::showWindowOn(work->path());
    if (!window)
        return nullptr;
    QTest::mouseClick(
        window->findChild<QPushButton *>(QStringLiteral("pb_summary")), Qt::LeftButton);
    auto *summary = window->findChild<SummaryWindow *>();
    return summary && summary->isVisible() ? summary : nullptr;
}

void TestSummaryWindow::showsWhatSummaryCsvSays()
{
    QVERIFY(samplefolder::make(work->path()));
    SummaryWindow *summary = openSummary();
    QVERIFY(summary);
    QTest::mouseClick(
        summary->findChild<QPushButton *>(QStringLiteral("pb_export")), Qt::LeftButton);

    const QList<QByteArray> lines
        = testfiles::read(VideoFiles::summaryFile(work->path())).split('\n');
    const QAbstractItemModel *model = summary->findChild<QTableView *>()->model();
    QCOMPARE(lines.size(), model->rowCount() + 2); // header and last line end
    int in = 0;
    int out = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QStringList fields = QString::fromUtf8(lines[row + 1]).split(QLatin1Char(';'));
        QCOMPARE(rowCells(model, row), fields);
        in += fields[4].toInt();
        out += fields[5].toInt();
    }
    QCOMPARE(in, 6);
    const QString totals = summary->findChild<QLabel *>(QStringLiteral("la_totals"))->text();
    QVERIFY2(totals.contains(QStringLiteral("%1 in, %2 out").arg(in).arg(out)), qPrintable(totals));
    for (const QString &suffix : { QStringLiteral("png"), QStringLiteral("svg") })
        QVERIFY(QFileInfo::exists(VideoFiles::activityChartFile(work->path(), suffix)));
    QVERIFY(QFileInfo::exists(VideoFiles::activityFile(work->path())));

    // The counts of clip.mp4 are undated: the window says why.
    QVERIFY(summary->findChild<QLabel *>(QStringLiteral("la_naming"))->isVisible());

    // "Save chart" with the SVG filter and a name without a suffix.
    QTest::mouseClick(
        summary->findChild<QPushButton *>(QStringLiteral("pb_savechart")), Qt::LeftButton);
    auto *dialog = summary->findChild<QFileDialog *>(QStringLiteral("fd_savechart"));
    QVERIFY(dialog);
    dialog->selectNameFilter(QStringLiteral("SVG image (*.svg)"));
    dialog->selectFile(work->filePath(QStringLiteral("chart")));
    static_cast<QDialog *>(dialog)->accept(); // as "Save" does
    QVERIFY(testfiles::read(work->filePath(QStringLiteral("chart.svg"))).contains("<svg"));
}

void TestSummaryWindow::missingFolderIsSaidAndEscapeCloses()
{
    SummaryWindow *summary = openSummary();
    QVERIFY(summary);
    summary->setFolder(work->filePath(QStringLiteral("gone")));
    QVERIFY(summary->findChild<QLabel *>(QStringLiteral("la_totals"))
                ->text()
                .contains(QStringLiteral("does not exist")));
    QVERIFY(!summary->findChild<QPushButton *>(QStringLiteral("pb_export"))->isEnabled());
    QTest::keyClick(summary, Qt::Key_Escape);
    QVERIFY(!summary->isVisible());

    // Not opened at all for a working directory that went away.
    QTRY_VERIFY(!window->findChild<SummaryWindow *>());
    QVERIFY(work->remove());
    QTest::mouseClick(
        window->findChild<QPushButton *>(QStringLiteral("pb_summary")), Qt::LeftButton);
    QVERIFY(!window->findChild<SummaryWindow *>());
    QVERIFY(window->statusBar()->currentMessage().contains(QStringLiteral("does not exist")));
}

void TestSummaryWindow::followsTheResultsAndTheBins()
{
    QVERIFY(samplefolder::make(work->path()));
    SummaryWindow *summary = openSummary();
    QVERIFY(summary);
    const QAbstractItemModel *model = summary->findChild<QTableView *>()->model();
    int row = 0;
    while (row < model->rowCount() && rowCells(model, row)[0] != samplefolder::unprocessed)
        ++row;
    QCOMPARE(rowCells(model, row)[6], QStringLiteral("not processed"));

    // Results written by someone else appear without a click.
    QVERIFY(testfiles::write(VideoFiles::resultFile(work->filePath(samplefolder::unprocessed)),
        "Frame;X;Y;In;Out;Timestamp\n100;1;1;1;0;2015-06-12_13:31:00\n"));
    QTRY_COMPARE_WITH_TIMEOUT(rowCells(model, row)[6], QStringLiteral("processed"), 10000);
    QCOMPARE(summary->summary().totalIn(), 7);

    auto *bins = summary->findChild<QComboBox *>(QStringLiteral("cb_bin"));
    QCOMPARE(summary->activity().width(), ActivityBins::Width::Hour);
    bins->setCurrentIndex(0);
    QCOMPARE(summary->activity().width(), ActivityBins::Width::TenMinutes);
    QCOMPARE(summary->activity().bins().size(), 25); // on to the bin of 13:31 now
    bins->setCurrentIndex(2);
    QCOMPARE(summary->activity().bins().size(), 1);
    QVERIFY(!summary->findChild<QLabel *>(QStringLiteral("la_chart"))
                 ->pixmap(Qt::ReturnByValue)
                 .isNull());
}

void TestSummaryWindow::savesTracksLikeTheBatchProgram()
{
    const QString video = work->filePath(QStringLiteral("video_20160512_1000_01.mp4"));
    QVERIFY(insectscene::write(video, 140, insectscene::rightwards));
    GroundTruthScene::saveBoxes(video, { { 132, 60 }, { 132, 180 } }, insectscene::wholeFrame());
    const QString batchDir = work->filePath(QStringLiteral("batch"));
    const QString batchVideo = batchDir + QLatin1Char('/') + QFileInfo(video).fileName();
    QVERIFY(QDir().mkpath(batchDir));
    QVERIFY(QFile::copy(video, batchVideo));
    GroundTruthScene::saveBoxes(
        batchVideo, { { 132, 60 }, { 132, 180 } }, insectscene::wholeFrame());

    // Off by default, and remembered once ticked.
    window = windowdriver::showWindowOn(work->path());
    QVERIFY(window);
    QVERIFY(!window->findChild<QCheckBox *>(QStringLiteral("cb_savetracks"))->isChecked());
    window->findChild<QCheckBox *>(QStringLiteral("cb_savetracks"))->setChecked(true);
    window = windowdriver::showWindowOn(work->path());
    QVERIFY(window);
    QVERIFY(window->findChild<QCheckBox *>(QStringLiteral("cb_savetracks"))->isChecked());

    QVERIFY(windowdriver::selectVideo(*window, video));
    window->findChild<QComboBox *>(QStringLiteral("cb_process_conf"))->setCurrentIndex(1);
    auto *process = window->findChild<QPushButton *>(QStringLiteral("pb_algo"));
    QTest::mouseClick(process, Qt::LeftButton);
    QCOMPARE(process->text(), QStringLiteral("Cancel"));
    QTRY_COMPARE_WITH_TIMEOUT(process->text(), QStringLiteral("Process"), 60000);

    QProcess batch;
    batch.start(QStringLiteral(KESTRIN_BATCH),
        { QStringLiteral("--quiet"), QStringLiteral("--tracks"), batchVideo });
    QVERIFY(batch.waitForFinished(60000));
    QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());

    const QByteArray tracks = testfiles::read(VideoFiles::tracksFile(video));
    QVERIFY(tracks.startsWith(TrackWriter::header()));
    QVERIFY(tracks.count('\n') > 20);
    QCOMPARE(tracks, testfiles::read(VideoFiles::tracksFile(batchVideo)));
    RunRecord record;
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(video), record, nullptr));
    QCOMPARE(record.status, RunRecord::Status::Complete);
    QCOMPARE(record.in + record.out, 2);
}

QTEST_MAIN(TestSummaryWindow)
#include "tst_summarywindow.moc"
