#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "filedialogprovider.h"
#include "imagewindow.h"
#include "insectscene.h"
#include "mainwindow.h"
#include "playback.h"
#include "runpanel.h"
#include "scenes/groundtruthscene.h"
#include "settingsstore.h"
#include "tableviewfile.h"
#include "testfiles.h"
#include "testvideo.h"
#include "video/framereader.h"
#include "windowdriver.h"
#include "zoneeditor.h"
#include "zones/runrecord.h"
#include "zones/videofiles.h"

namespace {

const cv::Size frameSize(320, 240);
const QByteArray header("Frame;X;Y;In;Out;Timestamp\n");
// A counting line across the insects' paths.
const std::vector<cv::Point> countingLine { { 150, 60 }, { 150, 180 } };
// The frame but its rim and the frame index painted along the top.
const std::vector<cv::Point> trackingBox { { 5, 30 }, { 315, 30 }, { 315, 235 }, { 5, 235 } };

// Names that carry a recording time, so that the time stamps of the counts
// do not depend on when the test runs.
const QString nameA = QStringLiteral("video_20150612_0930_01.mp4");
const QString nameB = QStringLiteral("video_20150612_1000_02.mp4");
const QString nameC = QStringLiteral("video_20150612_1030_03.mp4");

using Discs = std::function<std::vector<cv::Point>(int index)>;

// Moves right 8 px per frame along the scene's time t, from x = 20 at
// t = 103 to x = 260 at t = 133; the detected centres pass x = 150 between
// t = 119 and t = 120.
int rightwards(int t)
{
    return 20 + 8 * std::clamp(t - 103, 0, 30);
}

// Moves left from x = 300, passing x = 150 around t = 144.
int leftwards(int t)
{
    return 300 - 8 * std::clamp(t - 125, 0, 30);
}

bool writeScene(const QString &path, int count, const Discs &discs, cv::Size size = frameSize)
{
    const cv::Mat background = testvideo::background(size);
    return testvideo::write(path, "avc1", 25, size, count, [&](int index, cv::Mat &frame) {
        background.copyTo(frame);
        for (const cv::Point &centre : discs(index))
            cv::circle(frame, centre, insectscene::kRadius, cv::Scalar::all(20), cv::FILLED);
        testvideo::paintIndex(frame, index);
    });
}

struct Count
{
    QByteArray frame;
    QByteArray line;
};

// The records of a count file, the header left out.
std::vector<Count> records(const QString &video)
{
    std::vector<Count> counts;
    const QList<QByteArray> lines = testfiles::read(VideoFiles::resultFile(video)).split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        if (!lines[i].isEmpty())
            counts.push_back({ lines[i].split(';').value(0), lines[i] });
    }
    return counts;
}

// The records of the first frame that has any, in file order.
std::vector<Count> firstFrameCounts(const std::vector<Count> &counts)
{
    std::vector<Count> first;
    for (const Count &count : counts) {
        if (!first.empty() && count.frame != first.front().frame)
            break;
        first.push_back(count);
    }
    return first;
}

QByteArray resultLine(const Result &result)
{
    return QStringLiteral("%1;%2;%3;%4;%5;%6")
        .arg(QString::number(result.frame, 'g', 6))
        .arg(result.x)
        .arg(result.y)
        .arg(result.in)
        .arg(result.out)
        .arg(result.timestamp)
        .toUtf8();
}

bool hasTrajectory(const QString &video)
{
    return QFileInfo::exists(VideoFiles::trajectoryImageFile(video))
        || QFileInfo::exists(VideoFiles::densityFile(video));
}

} // namespace

class TestProcessing : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneFile();
    void unprocessedOnly();
    void cancelInTheMiddle();
    void failedWriteIsShown();
    void resultLimit_data();
    void resultLimit();
    void tracksCarryOver();
    void unusableVideosAreSkipped();
    void cancelInTheSecondVideo_data();
    void cancelInTheSecondVideo();
    void closingMidRun();
    void sameFilesAsTheBatchProgram_data();
    void sameFilesAsTheBatchProgram();
    void playbackAfterCancel();
    void videoThatEndsEarly();
    void boxesOfTheirOwn_data();
    void boxesOfTheirOwn();

private:
    // Copies a prepared scene into the working directory under `name`.
    QString addVideo(const QString &scene, const QString &name);
    // Creates the named videos from the scenes given in table order: the
    // file table lists a folder in the order the file system yields it.
    QStringList addInTableOrder(const QStringList &scenes, const QStringList &names);
    void createWindow();
    bool openVideo(const QString &path);
    // Picks the queue and presses "Process"; the ticks are left to the caller.
    bool startProcessing(int mode);
    // Carries out ticks by hand until the run is over; records the video of
    // every processed frame and the position it ends on.
    bool tickToTheEnd(int maxTicks = 2000);
    // Answers the question on the queued videos' boxes, once it is asked,
    // with the button whose text starts with `answer`; keeps what it said.
    void answerBoxes(const QString &answer);
    QString m_boxesQuestion;
    QString label(const char *name) const { return child<QLabel>(name)->text(); }
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_scenes;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
    windowdriver::CancelledDialogs *m_dialogs = nullptr;
    // Filled by tickToTheEnd: (video, position after the tick) per processed frame.
    std::vector<std::pair<QString, double>> m_processed;
};

void TestProcessing::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    QVERIFY(m_scenes.isValid());
    const auto scene = [this](const char *name) { return m_scenes.filePath(QLatin1String(name)); };

    // One insect crossing the line around frame 110.
    QVERIFY(writeScene(scene("crossing.mp4"), 140, [](int i) {
        return std::vector<cv::Point> { { rightwards(i + 10), 120 } };
    }));
    // The same flight cut in two: "before" ends just ahead of the line,
    // "after" goes on from its frame 91, just behind it.
    QVERIFY(writeScene(scene("before.mp4"), 120, [](int i) {
        return std::vector<cv::Point> { { rightwards(i), 120 } };
    }));
    QVERIFY(writeScene(scene("after.mp4"), 140, [](int i) {
        return std::vector<cv::Point> { { rightwards(i + 29), 120 } };
    }));
    // Two insects crossing side by side, a third one later the other way.
    QVERIFY(writeScene(scene("pair.mp4"), 150, [](int i) {
        return std::vector<cv::Point> { { rightwards(i + 10), 80 }, { rightwards(i + 10), 170 },
            { leftwards(i + 10), 125 } };
    }));
    QVERIFY(writeScene(
        scene("large.mp4"), 100, [](int) { return std::vector<cv::Point>(); }, cv::Size(640, 480)));
    QVERIFY(writeScene(scene("short.mp4"), 60, [](int) { return std::vector<cv::Point>(); }));
}

void TestProcessing::init()
{
    QFile::remove(m_settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf")));
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
    m_processed.clear();
}

void TestProcessing::cleanup()
{
    m_window.reset();
    m_work.reset();
}

QString TestProcessing::addVideo(const QString &scene, const QString &name)
{
    const QString path = m_work->filePath(name);
    return QFile::copy(m_scenes.filePath(scene), path) ? path : QString();
}

QStringList TestProcessing::addInTableOrder(const QStringList &scenes, const QStringList &names)
{
    for (const QString &name : names)
        testfiles::write(m_work->filePath(name), QByteArray("not a video"));
    const QStringList order = VideoFiles::listVideos(m_work->path());
    QStringList paths;
    for (int i = 0; i < order.size() && i < scenes.size(); ++i) {
        // Replaced in place: the entry, and with it the listing order, stays.
        const QByteArray bytes = testfiles::read(m_scenes.filePath(scenes[i]));
        if (!testfiles::write(order[i], bytes))
            return {};
        paths << order[i];
    }
    return VideoFiles::listVideos(m_work->path()) == order ? paths : QStringList();
}

void TestProcessing::createWindow()
{
    m_window = windowdriver::showWindowOn(m_work->path(), &m_dialogs);
    QVERIFY(m_window);
}

bool TestProcessing::openVideo(const QString &path)
{
    return windowdriver::selectVideo(*m_window, path);
}

bool TestProcessing::startProcessing(int mode)
{
    auto *algo = child<QPushButton>("pb_algo");
    if (!algo->isEnabled() || !child<QComboBox>("cb_process_conf")->isEnabled())
        return false;
    child<QComboBox>("cb_process_conf")->setCurrentIndex(mode);
    QTest::mouseClick(algo, Qt::LeftButton);
    return algo->text() == QLatin1String("Cancel");
}

bool TestProcessing::tickToTheEnd(int maxTicks)
{
    m_window->playback->timer()->stop();
    for (int tick = 0; tick < maxTicks; ++tick) {
        m_window->timeframe();
        // A tick that leaves this command has processed a frame: the one
        // that opens a video goes on with its first frame at once.
        if (m_window->playback->command() == Playback::Command::ProcessFrame)
            m_processed.emplace_back(m_window->videoFile, m_window->playback->position());
        if (child<QPushButton>("pb_algo")->text() == QLatin1String("Process"))
            return true;
    }
    return false;
}

void TestProcessing::answerBoxes(const QString &answer)
{
    m_boxesQuestion.clear();
    const auto click = [this, answer] {
        auto *box = m_window ? m_window->findChild<QMessageBox *>(QStringLiteral("boxesQuestion"))
                             : nullptr;
        if (box) {
            m_boxesQuestion = box->text() + QLatin1Char('\n') + box->informativeText();
            for (QAbstractButton *button : box->buttons())
                if (button->text().startsWith(answer))
                    button->click();
        }
    };
    QMetaObject::invokeMethod(this, click, Qt::QueuedConnection);
}

void TestProcessing::oneFile()
{
    const QString video = addVideo(QStringLiteral("crossing.mp4"), nameA);
    const QString other = addVideo(QStringLiteral("crossing.mp4"), nameB);
    GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    // A count file from an earlier run, with a record that must go.
    QVERIFY(testfiles::write(
        VideoFiles::resultFile(video), header + "5;1;2;1;0;2015-06-12_09:30:00\n"));
    createWindow();
    QVERIFY(openVideo(video));
    child<QCheckBox>("cb_hankview")->setChecked(true);

    QVERIFY(startProcessing(1));
    m_window->playback->timer()->stop();
    m_window->timeframe(); // opens the video and processes frame 91
    m_processed.emplace_back(m_window->videoFile, m_window->playback->position());
    for (const char *name : { "tv_file", "tv_result", "pb_play_pause", "hs_frame", "pb_videofile",
             "pb_Import", "cb_process_conf", "pb_cleararea", "pb_clearmask", "pb_movebox" }) {
        QVERIFY2(!m_window->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    }
    QVERIFY(child<QPushButton>("pb_algo")->isEnabled());
    QVERIFY(tickToTheEnd());

    // Frames 91 to 139, the last one the video holds, each processed once.
    QCOMPARE(m_processed.size(), std::size_t(139 - 90));
    for (std::size_t i = 0; i < m_processed.size(); ++i) {
        QCOMPARE(m_processed[i].first, video);
        QCOMPARE(m_processed[i].second, 91.0 + static_cast<double>(i));
    }
    const QByteArray counts = testfiles::read(VideoFiles::resultFile(video));
    QVERIFY2(counts.startsWith(header), counts.constData());
    const std::vector<Count> listed = records(video);
    QVERIFY(!listed.empty());
    for (const Count &count : listed) {
        QVERIFY2(count.frame.toInt() >= 90 && count.frame.toInt() < 139, count.line.constData());
    }
    QVERIFY(QFileInfo::exists(VideoFiles::trajectoryImageFile(video)));
    QVERIFY(testfiles::read(VideoFiles::densityFile(video)).startsWith("Density: "));
    QVERIFY(!QFileInfo::exists(VideoFiles::resultFile(other)));

    // Back to viewing the same video at frame 90, its counts listed.
    QCOMPARE(label("la_file_selected"), video);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("90"));
    QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
    QVERIFY(child<QPushButton>("pb_play_pause")->isEnabled());
    QVERIFY(child<QTableView>("tv_result")->isEnabled());
    QCOMPARE(m_window->runPanel->results().size(), static_cast<int>(listed.size()));
    for (int i = 0; i < m_window->runPanel->results().size(); ++i)
        QCOMPARE(
            resultLine(m_window->runPanel->results()[i]), listed[static_cast<std::size_t>(i)].line);
    QCOMPARE(
        child<QTableView>("tv_result")->model()->rowCount(), m_window->runPanel->results().size());

    QVERIFY(m_window->runPanel->trajectoryWindow());
    QCOMPARE(m_window->runPanel->trajectoryWindow()->windowTitle(),
        QStringLiteral("Trajectories of %1 - Kestrin").arg(QFileInfo(video).fileName()));
    QVERIFY(m_window->runPanel->trajectoryWindow()->isVisible());
    QVERIFY(!m_window->runPanel->trajectoryWindow()->pixmap().isNull());
    QCOMPARE(m_window->runPanel->trajectoryWindow()->pixmap().size(),
        QImage(VideoFiles::trajectoryImageFile(video)).size());
}

void TestProcessing::unprocessedOnly()
{
    const QStringList videos
        = addInTableOrder({ QStringLiteral("crossing.mp4"), QStringLiteral("crossing.mp4"),
                              QStringLiteral("crossing.mp4") },
            { nameA, nameB, nameC });
    QCOMPARE(videos.size(), 3);
    for (const QString &video : videos)
        GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    const QByteArray earlier = header + "7;1;2;0;1;2015-06-12_10:00:00\n";
    QVERIFY(testfiles::write(VideoFiles::resultFile(videos[1]), earlier));
    createWindow();
    const QAbstractItemModel *table = child<QTableView>("tv_file")->model();
    QStringList done;
    for (int row = 0; row < table->rowCount(); ++row)
        done << table->index(row, 2).data().toString();
    QCOMPARE(done, QStringList({ "N", "Y", "N" }));
    QVERIFY(openVideo(videos[1]));

    QVERIFY(startProcessing(0));
    QVERIFY(tickToTheEnd());
    QStringList order;
    for (const auto &processed : m_processed) {
        if (order.isEmpty() || order.last() != processed.first)
            order << processed.first;
    }
    QCOMPARE(order, QStringList({ videos[0], videos[2] }));
    QCOMPARE(testfiles::read(VideoFiles::resultFile(videos[1])), earlier);
    QVERIFY(!hasTrajectory(videos[1]));
    for (const QString &video : { videos[0], videos[2] }) {
        QVERIFY(testfiles::read(VideoFiles::resultFile(video)).startsWith(header));
        QVERIFY(QFileInfo::exists(VideoFiles::trajectoryImageFile(video)));
    }
    // The "done" column has followed, and the window shows the video it
    // showed at the start, with its own counts.
    for (int row = 0; row < table->rowCount(); ++row)
        QCOMPARE(table->index(row, 2).data().toString(), QStringLiteral("Y"));
    QCOMPARE(label("la_file_selected"), videos[1]);
    QCOMPARE(m_window->runPanel->results().size(), 1);
    QCOMPARE(m_window->runPanel->results()[0].frame, 7.0);
    // "Display trajectories" was not ticked.
    QVERIFY(!m_window->runPanel->trajectoryWindow());
    QVERIFY2(child<QLabel>("la_progress")->text().startsWith(QLatin1String("Processing done: 2 ")),
        qPrintable(child<QLabel>("la_progress")->text()));
}

void TestProcessing::cancelInTheMiddle()
{
    const QStringList videos = addInTableOrder(
        { QStringLiteral("crossing.mp4"), QStringLiteral("crossing.mp4") }, { nameA, nameB });
    QCOMPARE(videos.size(), 2);
    GroundTruthScene::saveBoxes(videos[0], countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(videos[0]));
    QVERIFY(startProcessing(2));

    // On the real timer: the click comes between two frames, as a user's
    // would, once frame 100 of the first video has been processed.
    QString progress;
    double stoppedAt = -1;
    auto *algo = child<QPushButton>("pb_algo");
    const QMetaObject::Connection clicker
        = connect(m_window->playback->timer(), &QTimer::timeout, this, [&] {
              if (stoppedAt < 0 && m_window->playback->position() >= 100
                  && algo->text() == QLatin1String("Cancel")) {
                  progress = child<QLabel>("la_progress")->text();
                  stoppedAt = m_window->playback->position();
                  QTest::mouseClick(algo, Qt::LeftButton);
              }
          });
    QTRY_VERIFY_WITH_TIMEOUT(stoppedAt >= 0, 20000);
    disconnect(clicker);
    QCOMPARE(m_window->videoFile, videos[0]);
    QCOMPARE(stoppedAt, 100.0);
    const QRegularExpression shown(
        QStringLiteral("^Video 1 of 2 \\(%1\\), frame 100, ([0-9]+\\.[0-9]) frames per second$")
            .arg(QFileInfo(videos[0]).fileName()));
    const QRegularExpressionMatch match = shown.match(progress);
    QVERIFY2(match.hasMatch(), qPrintable(progress));
    QVERIFY(match.captured(1).toDouble() > 0);

    QCOMPARE(child<QPushButton>("pb_algo")->text(), QStringLiteral("Process"));
    for (const char *name : { "pb_algo", "pb_play_pause", "pb_slow_forward", "pb_Import",
             "pb_videofile", "cb_process_conf", "tv_file", "tv_result" }) {
        QVERIFY2(m_window->findChild<QWidget *>(QLatin1String(name))->isEnabled(), name);
    }
    // Ticks go on redrawing the frame that was current.
    QTest::qWait(100);
    QCOMPARE(m_window->playback->position(), stoppedAt);
    QCOMPARE(label("la_Num_Frame"), QString::number(stoppedAt, 'g', 6));
    QCOMPARE(m_window->playback->command(), Playback::Command::Pause);

    // The counts so far are kept apart: nothing marks the video as done.
    QVERIFY(testfiles::read(VideoFiles::partialResultFile(videos[0])).startsWith(header));
    QVERIFY(!QFileInfo::exists(VideoFiles::resultFile(videos[0])));
    QVERIFY(!hasTrajectory(videos[0]));
    QVERIFY(!QFileInfo::exists(VideoFiles::resultFile(videos[1])));
}

void TestProcessing::failedWriteIsShown()
{
    const QString video = addVideo(QStringLiteral("crossing.mp4"), nameA);
    GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    QVERIFY(testfiles::write(VideoFiles::trajectoryImageFile(video), "earlier image"));
    // The count file's name is taken by a folder: the video cannot complete.
    QVERIFY(QDir().mkpath(VideoFiles::resultFile(video)));
    createWindow();
    QVERIFY(openVideo(video));
    QVERIFY(startProcessing(1));
    QVERIFY(tickToTheEnd());

    const QString shown = m_window->statusBar()->currentMessage();
    QVERIFY2(shown.startsWith(QStringLiteral("Failed "))
            && shown.contains(QStringLiteral("it is a directory")),
        qPrintable(shown));
    QTRY_VERIFY(m_window->findChild<QMessageBox *>(QStringLiteral("processingFailures")));
    const auto *box = m_window->findChild<QMessageBox *>(QStringLiteral("processingFailures"));
    QVERIFY(
        box->informativeText().contains(QDir::toNativeSeparators(VideoFiles::resultFile(video))));
    QCOMPARE(testfiles::read(VideoFiles::trajectoryImageFile(video)), QByteArray("earlier image"));
    QVERIFY(QFileInfo(VideoFiles::resultFile(video)).isDir());
}

void TestProcessing::resultLimit_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<QString>("expected");
    // "first": the counts of the first frame with counts, all of them.
    QTest::newRow("empty list takes all") << 0 << "all";
    QTest::newRow("1999 takes one frame") << 1999 << "first";
    QTest::newRow("2000 takes none") << 2000 << "none";
}

void TestProcessing::resultLimit()
{
    QFETCH(int, before);
    QFETCH(QString, expected);
    const QString video = addVideo(QStringLiteral("pair.mp4"), nameA);
    GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(video));
    QVERIFY(startProcessing(1));
    m_window->playback->timer()->stop();
    m_window->timeframe(); // opens the video and processes frame 91
    QCOMPARE(m_window->playback->command(), Playback::Command::ProcessFrame);
    QVERIFY(m_window->runPanel->results().isEmpty());

    Result filler;
    filler.frame = -1;
    for (int i = 0; i < before; ++i)
        m_window->runPanel->addResult(filler);
    // Up to the tick that finds the video finished, before the window
    // returns to viewing and reloads the list from the count file.
    for (int tick = 0;
         tick < 500 && m_window->playback->command() == Playback::Command::ProcessFrame; ++tick)
        m_window->timeframe();
    QCOMPARE(m_window->playback->command(), Playback::Command::NextFile);

    const std::vector<Count> all = records(video);
    const std::vector<Count> first = firstFrameCounts(all);
    QVERIFY2(first.size() >= 2, "the scene should give two counts in one frame");
    QVERIFY2(all.size() > first.size(), "the scene should give counts in a later frame");
    std::vector<Count> appended;
    if (expected == QLatin1String("all"))
        appended = all;
    else if (expected == QLatin1String("first"))
        appended = first;

    QCOMPARE(m_window->runPanel->results().size(), before + static_cast<int>(appended.size()));
    QVERIFY(std::all_of(m_window->runPanel->results().cbegin(),
        m_window->runPanel->results().cbegin() + before,
        [](const Result &result) { return result.frame == -1.0; }));
    for (std::size_t i = 0; i < appended.size(); ++i)
        QCOMPARE(resultLine(m_window->runPanel->results()[before + static_cast<int>(i)]),
            appended[i].line);
    if (!appended.empty()) {
        QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(),
            m_window->runPanel->results().size());
    }
}

void TestProcessing::tracksCarryOver()
{
    const QStringList videos = addInTableOrder(
        { QStringLiteral("before.mp4"), QStringLiteral("after.mp4") }, { nameA, nameB });
    QCOMPARE(videos.size(), 2);
    for (const QString &video : videos)
        GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    createWindow();

    // Alone, "after" starts with an empty reference: its insect is first
    // seen behind the line and never counted.
    QVERIFY(openVideo(videos[1]));
    QVERIFY(startProcessing(1));
    QVERIFY(tickToTheEnd());
    QVERIFY(records(videos[0]).empty());
    const std::vector<Count> alone = records(videos[1]);
    for (const Count &count : alone)
        QVERIFY2(count.frame != "90", count.line.constData());

    // After "before", its first processed frame is compared with the last
    // frame of "before": the step over the line is counted there.
    QVERIFY(openVideo(videos[0]));
    QVERIFY(startProcessing(2));
    QVERIFY(tickToTheEnd());
    QVERIFY(records(videos[0]).empty());
    const std::vector<Count> carried = records(videos[1]);
    QVERIFY(!carried.empty());
    QCOMPARE(carried.front().frame, QByteArray("90"));
}

void TestProcessing::unusableVideosAreSkipped()
{
    const QStringList videos
        = addInTableOrder({ QStringLiteral("crossing.mp4"), QStringLiteral("large.mp4"),
                              QStringLiteral("short.mp4") },
            { nameA, nameB, nameC });
    QCOMPARE(videos.size(), 3);
    const QString broken = m_work->filePath(QStringLiteral("broken.mp4"));
    QVERIFY(testfiles::write(broken, QByteArray(4096, 'x')));
    GroundTruthScene::saveBoxes(videos[0], countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(videos[0]));
    QVERIFY(startProcessing(2));

    for (int i = 0; i < 3; ++i) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Skipping ")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Skipped ")));
    }
    QStringList messages;
    connect(m_window->statusBar(), &QStatusBar::messageChanged,
        [&messages](const QString &text) { messages << text; });
    QVERIFY(tickToTheEnd());

    QStringList processed;
    for (const auto &frame : m_processed) {
        if (processed.isEmpty() || processed.last() != frame.first)
            processed << frame.first;
    }
    QCOMPARE(processed, QStringList({ videos[0] }));
    QCOMPARE(m_processed.size(), std::size_t(139 - 90));
    QVERIFY(QFileInfo::exists(VideoFiles::trajectoryImageFile(videos[0])));
    for (const QString &skipped : { videos[1], videos[2], broken }) {
        QVERIFY2(!QFileInfo::exists(VideoFiles::resultFile(skipped)), qPrintable(skipped));
        QVERIFY2(!hasTrajectory(skipped), qPrintable(skipped));
        const QString name = QFileInfo(skipped).fileName();
        QVERIFY2(std::any_of(messages.cbegin(), messages.cend(),
                     [&name](const QString &text) {
                         return text.startsWith(QLatin1String("Skipped ")) && text.contains(name);
                     }),
            qPrintable(messages.join(QLatin1Char('\n'))));
    }
    QCOMPARE(label("la_file_selected"), videos[0]);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("90"));
    QCOMPARE(child<QLabel>("la_progress")->text(),
        QStringLiteral("Processing done: 1 processed, 3 skipped or failed"));
}

void TestProcessing::cancelInTheSecondVideo_data()
{
    QTest::addColumn<bool>("ownBoxes");
    QTest::newRow("with boxes of its own") << true;
    QTest::newRow("without boxes") << false;
}

void TestProcessing::cancelInTheSecondVideo()
{
    QFETCH(bool, ownBoxes);
    const QStringList videos = addInTableOrder(
        { QStringLiteral("crossing.mp4"), QStringLiteral("crossing.mp4") }, { nameA, nameB });
    QCOMPARE(videos.size(), 2);
    GroundTruthScene::saveBoxes(videos[0], countingLine, trackingBox);
    const std::vector<cv::Point> ownLine { { 40, 100 }, { 200, 100 } };
    const std::vector<cv::Point> ownBox { { 20, 40 }, { 300, 40 }, { 160, 220 } };
    if (ownBoxes)
        GroundTruthScene::saveBoxes(videos[1], ownLine, ownBox);
    const QByteArray firstArea = testfiles::read(VideoFiles::areaFile(videos[0]));
    createWindow();
    QVERIFY(openVideo(videos[0]));
    if (ownBoxes)
        answerBoxes(QStringLiteral("Count with the boxes of"));
    QVERIFY(startProcessing(2));

    // Stopped five frames into the second video.
    m_window->playback->timer()->stop();
    for (int tick = 0; tick < 500 && m_window->videoFile != videos[1]; ++tick)
        m_window->timeframe();
    QCOMPARE(m_window->videoFile, videos[1]);
    for (int tick = 0; tick < 5; ++tick)
        m_window->timeframe();
    // The path, the highlighted row and the progress name the video in progress.
    QCOMPARE(label("la_file_selected"), videos[1]);
    const auto *files = child<QTableView>("tv_file");
    QCOMPARE(m_window->fileTable->filePath(files->currentIndex().row()), videos[1]);
    QVERIFY(label("la_progress").contains(QFileInfo(videos[1]).fileName()));
    QTest::mouseClick(child<QPushButton>("pb_algo"), Qt::LeftButton);
    QCOMPARE(child<QPushButton>("pb_algo")->text(), QStringLiteral("Process"));

    // That video is shown with its own boxes, and the buttons follow them.
    QCOMPARE(label("la_file_selected"), videos[1]);
    QCOMPARE(
        m_window->zoneEditor->zones().getArea(), ownBoxes ? ownLine : std::vector<cv::Point>());
    std::vector<cv::Point> ownClosed = ownBox;
    ownClosed.push_back(ownBox.front());
    QCOMPARE(
        m_window->zoneEditor->zones().getMask(), ownBoxes ? ownClosed : std::vector<cv::Point>());
    QCOMPARE(child<QPushButton>("pb_movebox")->isEnabled(), ownBoxes);
    QCOMPARE(child<QPushButton>("pb_algo")->isEnabled(), ownBoxes);
    QVERIFY(child<QPushButton>("pb_cleararea")->isEnabled());

    // No "Save" can write the first video's boxes under the second's name.
    if (ownBoxes) {
        QTest::mouseClick(child<QPushButton>("pb_movebox"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("pb_savebox"), Qt::LeftButton);
    } else {
        QTest::mouseClick(child<QPushButton>("pb_cleararea"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>("pb_savearea"), Qt::LeftButton);
    }
    QCOMPARE(QFileInfo::exists(VideoFiles::areaFile(videos[1])), ownBoxes);
    if (ownBoxes)
        QVERIFY(testfiles::read(VideoFiles::areaFile(videos[1])) != firstArea);
    QCOMPARE(testfiles::read(VideoFiles::areaFile(videos[0])), firstArea);
}

void TestProcessing::closingMidRun()
{
    const QStringList videos = addInTableOrder(
        { QStringLiteral("pair.mp4"), QStringLiteral("pair.mp4") }, { nameA, nameB });
    QCOMPARE(videos.size(), 2);
    GroundTruthScene::saveBoxes(videos[0], countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(videos[0]));
    child<QCheckBox>("cb_hankview")->setChecked(true);
    QVERIFY(startProcessing(2));
    QTRY_VERIFY_WITH_TIMEOUT(!m_window->runPanel->results().isEmpty(), 20000);
    QVERIFY(m_window->runPanel->trajectoryWindow()
        && m_window->runPanel->trajectoryWindow()->isVisible());
    // Beside the window, on the screen, and never over "Process"/"Cancel".
    const QWidget *trajectory = m_window->runPanel->trajectoryWindow();
    const auto *algo = child<QPushButton>("pb_algo");
    const QRect process(algo->mapToGlobal(QPoint(0, 0)), algo->size());
    QVERIFY(!trajectory->frameGeometry().intersects(process));
    QVERIFY(m_window->screen()->availableGeometry().contains(trajectory->geometry()));
    QCOMPARE(m_window->runPanel->trajectoryWindow()->pixmap(Qt::ReturnByValue).size(),
        trajectory->size());

    // Asked first; "no" goes on processing.
    m_dialogs->answer = false;
    QVERIFY(!m_window->close());
    QCOMPARE(m_dialogs->questions.size(), 1);
    QVERIFY2(m_dialogs->questions.first().contains(QFileInfo(m_window->videoFile).fileName()),
        qPrintable(m_dialogs->questions.first()));
    QCOMPARE(algo->text(), QStringLiteral("Cancel"));
    QVERIFY(m_window->playback->command() == Playback::Command::ProcessFrame
        || m_window->playback->command() == Playback::Command::NextFile);

    m_dialogs->answer = true;
    QVERIFY(m_window->close());
    QVERIFY(!m_window->playback->timer()->isActive());
    QVERIFY(!m_window->runPanel->trajectoryWindow()->isVisible());
    QVector<QByteArray> reported;
    for (const Result &result : m_window->runPanel->results())
        reported << resultLine(result);
    const QString current = m_window->videoFile;
    m_window.reset();

    // Closing keeps the counts written so far, apart from complete ones.
    QVERIFY(!QFileInfo::exists(VideoFiles::resultFile(current)));
    const QList<QByteArray> written
        = testfiles::read(VideoFiles::partialResultFile(current)).split('\n');
    for (const QByteArray &line : reported) {
        QVERIFY2(
            std::find(written.cbegin(), written.cend(), line) != written.cend(), line.constData());
    }
}

void TestProcessing::sameFilesAsTheBatchProgram_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("option");
    QTest::newRow("only one file") << 1 << "one";
    QTest::newRow("all files, tracks carried over") << 2 << "all";
}

void TestProcessing::sameFilesAsTheBatchProgram()
{
    QFETCH(int, mode);
    QFETCH(QString, option);
    // "before" and "after" one after the other, so that a track passes over.
    const QStringList videos = addInTableOrder(
        { QStringLiteral("pair.mp4"), QStringLiteral("before.mp4"), QStringLiteral("after.mp4") },
        { nameA, nameB, nameC });
    QCOMPARE(videos.size(), 3);
    GroundTruthScene::saveBoxes(videos[0], countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(videos[0]));
    QVERIFY(startProcessing(mode));
    QVERIFY(tickToTheEnd());
    m_window.reset();

    // What the window wrote, then removed, so that the program writes anew.
    std::map<QString, QByteArray> window;
    int counted = 0;
    for (const QString &video : videos) {
        counted += static_cast<int>(records(video).size());
        for (const QString &file : { VideoFiles::resultFile(video),
                 VideoFiles::trajectoryImageFile(video), VideoFiles::densityFile(video) }) {
            window[file] = testfiles::read(file);
            QFile::remove(file);
        }
    }

    QProcess batch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No Qt platform plugin there: the fast unwinder keeps it quick under ASan.
    QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
    asan.replace(
        QLatin1String("fast_unwind_on_malloc=0"), QLatin1String("fast_unwind_on_malloc=1"));
    environment.insert(QStringLiteral("ASAN_OPTIONS"), asan);
    batch.setProcessEnvironment(environment);
    batch.start(QStringLiteral(KESTRIN_BATCH),
        { QStringLiteral("--mode"), option, QStringLiteral("--quiet"), videos[0] });
    QVERIFY(batch.waitForFinished(120000));
    QCOMPARE(batch.exitStatus(), QProcess::NormalExit);
    QVERIFY2(batch.exitCode() == 0, batch.readAllStandardError().constData());

    for (const auto &file : window) {
        QVERIFY2(testfiles::read(file.first) == file.second, qPrintable(file.first));
    }
    QVERIFY(window[VideoFiles::resultFile(videos[0])].startsWith(header));
    const bool all = mode == 2;
    QCOMPARE(window[VideoFiles::resultFile(videos[2])].startsWith(header), all);
    QCOMPARE(QFileInfo::exists(VideoFiles::trajectoryImageFile(videos[2])), all);
    // Something was counted, so that equal files say something.
    QVERIFY(counted > 0);
}

void TestProcessing::playbackAfterCancel()
{
    const QString video = addVideo(QStringLiteral("crossing.mp4"), QStringLiteral("a.mp4"));
    GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(video));
    QVERIFY(startProcessing(1));
    m_window->playback->timer()->stop();
    for (int tick = 0; tick < 50 && m_window->playback->position() < 100; ++tick)
        m_window->timeframe();
    QCOMPARE(m_window->playback->position(), 100.0);
    QTest::mouseClick(child<QPushButton>("pb_algo"), Qt::LeftButton);
    // Painted on every change again, not only when a frame was shown.
    for (const char *name : { "la_Num_Frame", "hs_frame", "la_progress" })
        QVERIFY2(m_window->findChild<QWidget *>(QLatin1String(name))->updatesEnabled(), name);

    cv::VideoCapture capture;
    QVERIFY(FrameReader::openCapture(capture, video));
    capture.set(cv::CAP_PROP_POS_FRAMES, 100);
    cv::Mat expected;
    QVERIFY(capture.read(expected));
    // The frame processed last stays the current one, and stepping reads on
    // after it.
    QCOMPARE(cv::norm(m_window->playback->frame(), expected, cv::NORM_INF), 0.0);
    QVERIFY(capture.read(expected));
    QTest::mouseClick(child<QPushButton>("pb_slow_forward"), Qt::LeftButton);
    m_window->timeframe();
    QCOMPARE(m_window->playback->position(), 101.0);
    QCOMPARE(cv::norm(m_window->playback->frame(), expected, cv::NORM_INF), 0.0);
}

void TestProcessing::videoThatEndsEarly()
{
    // 300 frames at 25 per second, the index at the front, cut to half its bytes.
    const QString whole = m_scenes.filePath(QStringLiteral("whole.mp4"));
    QProcess ffmpeg;
    ffmpeg.start(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")),
        { QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
            QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
            QStringLiteral("-i"), QStringLiteral("testsrc2=size=320x240:rate=25"),
            QStringLiteral("-frames:v"), QStringLiteral("300"), QStringLiteral("-c:v"),
            QStringLiteral("libx264"), QStringLiteral("-preset"), QStringLiteral("ultrafast"),
            QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-movflags"),
            QStringLiteral("+faststart"), whole });
    QVERIFY(ffmpeg.waitForFinished(60000) && ffmpeg.exitCode() == 0);
    const QByteArray bytes = testfiles::read(whole);
    const QString video = m_work->filePath(QStringLiteral("cut.mp4"));
    QVERIFY(testfiles::write(video, bytes.left(bytes.size() / 2)));
    GroundTruthScene::saveBoxes(video, countingLine, trackingBox);
    createWindow();
    QVERIFY(openVideo(video));
    QVERIFY(startProcessing(1));
    m_window->playback->timer()->stop();
    m_window->timeframe();
    for (int tick = 0;
         tick < 400 && m_window->playback->command() == Playback::Command::ProcessFrame; ++tick)
        m_window->timeframe();
    QCOMPARE(m_window->playback->command(), Playback::Command::NextFile);
    const QString message = m_window->statusBar()->currentMessage();
    QVERIFY2(message.contains(QStringLiteral("ended at frame %1 of 300 declared")
                                  .arg(m_window->playback->position())),
        qPrintable(message));
    QVERIFY(tickToTheEnd());
    for (const char *name : { "la_Num_Frame", "hs_frame", "la_progress" })
        QVERIFY2(m_window->findChild<QWidget *>(QLatin1String(name))->updatesEnabled(), name);
    // Counted up to its last frame, with a trajectory image.
    QVERIFY(testfiles::read(VideoFiles::resultFile(video)).startsWith(header));
    QVERIFY(hasTrajectory(video));
}

void TestProcessing::boxesOfTheirOwn_data()
{
    QTest::addColumn<QString>("answer");
    QTest::newRow("each with its own") << QStringLiteral("Count each with its own boxes");
    QTest::newRow("all with the current") << QStringLiteral("Count with the boxes of");
    QTest::newRow("cancelled") << QStringLiteral("Cancel");
}

void TestProcessing::boxesOfTheirOwn()
{
    QFETCH(QString, answer);
    const QStringList videos = addInTableOrder(
        { QStringLiteral("before.mp4"), QStringLiteral("crossing.mp4") }, { nameA, nameB });
    QCOMPARE(videos.size(), 2);
    GroundTruthScene::saveBoxes(videos[0], { { 100, 60 }, { 100, 180 } }, trackingBox);
    GroundTruthScene::saveBoxes(videos[1], countingLine, trackingBox);
    createWindow();

    // The second video alone, with its own boxes: what "its own" must give.
    QVERIFY(openVideo(videos[1]));
    QVERIFY(startProcessing(1));
    QVERIFY(tickToTheEnd());
    const QByteArray alone = testfiles::read(VideoFiles::resultFile(videos[1]));
    QVERIFY(!records(videos[1]).empty());
    QVERIFY(QFile::remove(VideoFiles::resultFile(videos[1])));

    QVERIFY(openVideo(videos[0]));
    answerBoxes(answer);
    const bool started = startProcessing(2);
    QCOMPARE(m_boxesQuestion,
        QStringLiteral("1 video has its own boxes.\n%1").arg(QFileInfo(videos[1]).fileName()));
    QCOMPARE(started, !answer.startsWith(QLatin1String("Cancel")));
    if (!started) {
        QVERIFY(!QFileInfo::exists(VideoFiles::resultFile(videos[0])));
        return;
    }
    QVERIFY(tickToTheEnd());
    RunRecord record;
    QVERIFY(RunRecord::load(VideoFiles::runRecordFile(videos[1]), record, nullptr));
    if (answer.contains(QLatin1String("its own")))
        QCOMPARE(testfiles::read(VideoFiles::resultFile(videos[1])), alone);
    else
        QCOMPARE(record.countingBox, (std::vector<cv::Point> { { 100, 60 }, { 100, 180 } }));
}

QTEST_MAIN(TestProcessing)
#include "tst_processing.moc"
