#include <map>
#include <memory>

#include <opencv2/videoio.hpp>

#include <QComboBox>
#include <QDirIterator>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include "mainwindow.h"
#include "run/processrun.h"
#include "scenes/groundtruthscene.h"
#include "settingsstore.h"
#include "testfiles.h"
#include "windowdriver.h"
#include "zones/areacontour.h"

namespace {

const cv::Size kSize(640, 480);

using testfiles::exports;

} // namespace

// The window's "Counting: classic / robust" choice: remembered, locked with
// the processing choice, and handed to the run.
class TestCountingChoice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void remembered();
    void processesWithTheChoice();

private:
    QComboBox *counting() const { return window->findChild<QComboBox *>("cb_counting"); }

    QTemporaryDir settingsDir;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<MainWindow> window;
};

void TestCountingChoice::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
}

void TestCountingChoice::init()
{
    QFile::remove(settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf")));
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
}

void TestCountingChoice::cleanup()
{
    window.reset();
    work.reset();
}

void TestCountingChoice::remembered()
{
    window = windowdriver::showWindowOn(work->path());
    QVERIFY(window);
    QVERIFY(counting());
    QCOMPARE(counting()->currentText(), QStringLiteral("Counting: classic"));
    // Like the processing choice, locked until a video with boxes is open.
    QVERIFY(!counting()->isEnabled());
    counting()->setCurrentIndex(counting()->findText(QStringLiteral("Counting: robust")));
    QCOMPARE(SettingsStore::open()->value(QStringLiteral("countingMethod")).toString(),
        QStringLiteral("robust"));

    window = windowdriver::showWindowOn(work->path());
    QVERIFY(window);
    QCOMPARE(counting()->currentText(), QStringLiteral("Counting: robust"));

    // A value the program does not know falls back to classic.
    SettingsStore::open()->setValue(QStringLiteral("countingMethod"), QStringLiteral("magic"));
    window = windowdriver::showWindowOn(work->path());
    QVERIFY(window);
    QCOMPARE(counting()->currentText(), QStringLiteral("Counting: classic"));
}

void TestCountingChoice::processesWithTheChoice()
{
    // An insect flying down the counting line: classic counts it at every
    // step, robust not at all.
    GroundTruthScene scene(QStringLiteral("along"), kSize, 25, 90 + 80, 3);
    scene.setTrackingBox({ { 10, 10 }, { 630, 10 }, { 630, 470 }, { 10, 470 } });
    scene.setCountingBox({ { 320, 40 }, { 320, 440 } });
    GroundTruthScene::Insect insect;
    insect.start = 100;
    insect.radius = 6;
    insect.level = 30;
    for (int y = 60; y <= 420; y += 6)
        insect.path.emplace_back(320, y);
    scene.addInsect(insect);
    const QString video = work->filePath(QStringLiteral("along.mp4"));
    QVERIFY(scene.write(video, "mp4v"));

    window = windowdriver::showWindowOn(work->path());
    QVERIFY(window);
    QVERIFY(windowdriver::selectVideo(*window, video));
    QVERIFY(counting()->isEnabled());
    counting()->setCurrentIndex(counting()->findText(QStringLiteral("Counting: robust")));
    window->findChild<QComboBox *>("cb_process_conf")->setCurrentIndex(ProcessRun::One);
    auto *algo = window->findChild<QPushButton *>("pb_algo");
    QTest::mouseClick(algo, Qt::LeftButton);
    QCOMPARE(algo->text(), QStringLiteral("Cancel"));
    // Locked and released with the processing choice.
    auto *processing = window->findChild<QComboBox *>("cb_process_conf");
    QTRY_VERIFY_WITH_TIMEOUT(
        !processing->isEnabled() || algo->text() == QLatin1String("Process"), 60000);
    QCOMPARE(counting()->isEnabled(), processing->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(algo->text(), QStringLiteral("Process"), 60000);
    QVERIFY(processing->isEnabled());
    QVERIFY(counting()->isEnabled());
    window.reset();
    const std::map<QString, QByteArray> fromWindow = exports(work->path());

    // The same run in the engine, robust and then classic.
    std::map<QString, QByteArray> byMethod[2];
    for (const CountingMethod::Kind kind : { CountingMethod::Robust, CountingMethod::Classic }) {
        AreaContour zones;
        zones.loadArea(video);
        zones.loadMask(video);
        ProcessRun run;
        run.setCounting(kind);
        run.start(zones, kSize, { video });
        cv::VideoCapture capture;
        QVERIFY(run.openNext(capture));
        cv::Mat frame;
        while (capture.read(frame))
            run.processFrame(frame);
        run.finishVideo();
        byMethod[kind] = exports(work->path());
    }
    QVERIFY(fromWindow == byMethod[CountingMethod::Robust]);
    QVERIFY(fromWindow != byMethod[CountingMethod::Classic]);
}

QTEST_MAIN(TestCountingChoice)
#include "tst_countingchoice.moc"
