#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include <opencv2/imgproc.hpp>

#include <QAbstractItemModel>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "filedialogprovider.h"
#include "graphicsviewmouse.h"
#include "mainwindow.h"
#include "settingsstore.h"
#include "testvideo.h"

namespace {

// 110 frames: the reported count minus 5 puts the end of playback at 105.
constexpr int frameCount = 110;
constexpr int endFrame = 105;
const cv::Size frameSize(320, 240);

// Answers the window's directory dialog with "cancelled".
class CancelledDialogs final : public FileDialogProvider
{
public:
    QString existingDirectory(const QString &) override { return QString(); }
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        return QString();
    }
};

// A textured background with a disc that moves, so that the encoders have
// real motion to predict, and the frame's index along the top.
void paintFrame(int index, cv::Mat &frame)
{
    static const cv::Mat background = testvideo::background(frameSize);
    background.copyTo(frame);
    cv::circle(
        frame, cv::Point(20 + (index * 3) % 280, 140), 18, cv::Scalar(30, 60, 200), cv::FILLED);
    testvideo::paintIndex(frame, index);
}

QByteArray countFile(const std::vector<double> &frames)
{
    QByteArray text("Frame;X;Y;In;Out;Timestamp\n");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        text += QByteArray::number(frames[i], 'g', 15) + ";10;20;"
            + QByteArray::number(static_cast<int>(i % 2)) + ';'
            + QByteArray::number(static_cast<int>(1 - i % 2)) + ";2015-06-12_09:30:00\n";
    }
    return text;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString countFilePath(const QString &video)
{
    const QFileInfo info(video);
    return info.path() + QStringLiteral("/exportCSV/") + info.completeBaseName()
        + QStringLiteral(".csv");
}

QString boxFilePath(const QString &video, const char *suffix)
{
    const QFileInfo info(video);
    return info.path() + QStringLiteral("/exportCSV/") + info.completeBaseName()
        + QLatin1String(suffix);
}

} // namespace

class TestPlayback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void playbackInterval_data();
    void playbackInterval();
    void openShowsFrame90_data();
    void openShowsFrame90();
    void exactOnEveryFormat_data();
    void exactOnEveryFormat();
    void stepLimits_data();
    void stepLimits();
    void sliderNearTheEnd_data();
    void sliderNearTheEnd();
    void playStopsAtTheEnd();
    void resultRowJumpsAndPauses_data();
    void resultRowJumpsAndPauses();
    void countFileListing_data();
    void countFileListing();
    void insectDetectedIsNotLimited();
    void countsFollowTheVideo();
    void boxesDrawnOnEveryPicture();
    void modeControls_data();
    void modeControls();
    void closingStopsTheRedraw();
    void unopenableVideo_data();
    void unopenableVideo();
    void missingFileKeepsTheVideo();
    void rowIgnoredWhileProcessing();
    void unusualPathsOpen_data();
    void unusualPathsOpen();
    void startTimeFromName_data();
    void startTimeFromName();

private:
    // Copies one of the prepared videos into the working directory (or a
    // folder below it) under `name`; returns the full path.
    QString addVideo(const QString &source, const QString &name, const QString &folder = {});
    void createWindow(const QString &directory);
    bool clickRow(QTableView *view, int row);
    bool openVideo(const QString &path);
    // Index painted into the picture of the video view, or -1.
    int shownIndex() const;
    bool shownIsEmpty() const;
    QColor shownColour(const QPoint &displayPoint) const;
    bool waitTicks(int ticks);
    // Carries out one user action and waits for the ticks that execute it:
    // ">", ">>", "<", "<<", "play", "s:<slider value>", "r:<result row>".
    bool act(const QString &action);
    QStringList enabledControls() const;
    QString label(const char *name) const { return child<QLabel>(name)->text(); }
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_videos;
    std::unique_ptr<QTemporaryDir> m_work;
    std::unique_ptr<MainWindow> m_window;
};

void TestPlayback::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());

    // The formats Kestrin meets: H.264 in .mp4 as the import makes it, MPEG-4
    // part 2 in .mp4, and MJPEG in .avi (imported under an .mp4 name).
    QVERIFY(m_videos.isValid());
    QVERIFY(testvideo::write(m_videos.filePath(QStringLiteral("h264.mp4")), "avc1", 25, frameSize,
        frameCount, paintFrame));
    QVERIFY(testvideo::write(m_videos.filePath(QStringLiteral("mp4v.mp4")), "mp4v", 25, frameSize,
        frameCount, paintFrame));
    QVERIFY(testvideo::write(m_videos.filePath(QStringLiteral("mjpeg.avi")), "MJPG", 25, frameSize,
        frameCount, paintFrame));
    QVERIFY(testvideo::write(
        m_videos.filePath(QStringLiteral("short.mp4")), "avc1", 25, frameSize, 60, paintFrame));
}

void TestPlayback::init()
{
    QFile::remove(m_settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf")));
    m_work = std::make_unique<QTemporaryDir>();
    QVERIFY(m_work->isValid());
}

void TestPlayback::cleanup()
{
    m_window.reset();
    m_work.reset();
}

QString TestPlayback::addVideo(const QString &source, const QString &name, const QString &folder)
{
    const QString dir = folder.isEmpty() ? m_work->path() : m_work->filePath(folder);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    return QFile::copy(m_videos.filePath(source), path) ? path : QString();
}

void TestPlayback::createWindow(const QString &directory)
{
    SettingsStore::open()->setValue(QStringLiteral("currentPath"), directory);
    m_window = std::make_unique<MainWindow>();
    m_window->setFileDialogs(std::make_unique<CancelledDialogs>());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

bool TestPlayback::clickRow(QTableView *view, int row)
{
    const QModelIndex index = view->model()->index(row, 0);
    if (!index.isValid())
        return false;
    view->scrollTo(index);
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
    return view->currentIndex().row() == row;
}

bool TestPlayback::openVideo(const QString &path)
{
    auto *files = child<QTableView>("tv_file");
    const QString name = QFileInfo(path).completeBaseName();
    for (int row = 0; row < files->model()->rowCount(); ++row) {
        if (files->model()->index(row, 0).data().toString() == name)
            return clickRow(files, row);
    }
    return false;
}

int TestPlayback::shownIndex() const
{
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    if (!scene || scene->items().size() != 1)
        return -1;
    const auto *item = qgraphicsitem_cast<const QGraphicsPixmapItem *>(scene->items().first());
    if (!item)
        return -1;
    const QImage rgb = item->pixmap().toImage().convertToFormat(QImage::Format_RGB888);
    const cv::Mat shown(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
        static_cast<std::size_t>(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(shown, bgr, cv::COLOR_RGB2BGR);
    // Back from the display size to frame pixels, where the pattern is read.
    cv::Mat frame;
    cv::resize(bgr, frame, frameSize, 0, 0, cv::INTER_AREA);
    return testvideo::readIndex(frame);
}

bool TestPlayback::shownIsEmpty() const
{
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    return !scene || scene->items().isEmpty();
}

QColor TestPlayback::shownColour(const QPoint &displayPoint) const
{
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    if (!scene || scene->items().size() != 1)
        return QColor();
    const auto *item = qgraphicsitem_cast<const QGraphicsPixmapItem *>(scene->items().first());
    return item ? item->pixmap().toImage().pixelColor(displayPoint) : QColor();
}

bool TestPlayback::waitTicks(int ticks)
{
    // Connected after the window's own slot: a counted tick has been carried out.
    QSignalSpy spy(m_window->timer, &QTimer::timeout);
    return QTest::qWaitFor([&] { return spy.size() >= ticks; }, 5000);
}

bool TestPlayback::act(const QString &action)
{
    if (action == QLatin1String(">"))
        QTest::mouseClick(child<QPushButton>("pb_slow_forward"), Qt::LeftButton);
    else if (action == QLatin1String(">>"))
        QTest::mouseClick(child<QPushButton>("pb_fast_forward"), Qt::LeftButton);
    else if (action == QLatin1String("<"))
        QTest::mouseClick(child<QPushButton>("pb_slow_reverse"), Qt::LeftButton);
    else if (action == QLatin1String("<<"))
        QTest::mouseClick(child<QPushButton>("pb_fast_reverse"), Qt::LeftButton);
    else if (action == QLatin1String("play"))
        QTest::mouseClick(child<QPushButton>("pb_play_pause"), Qt::LeftButton);
    else if (action.startsWith(QLatin1String("s:"))) {
        // What a drag of the handle does: positions reported while held down.
        auto *slider = child<QSlider>("hs_frame");
        QSignalSpy moved(slider, &QSlider::sliderMoved);
        slider->setSliderDown(true);
        slider->setSliderPosition(action.mid(2).toInt());
        slider->setSliderDown(false);
        if (moved.size() != 1)
            return false;
    } else if (action.startsWith(QLatin1String("r:"))) {
        if (!clickRow(child<QTableView>("tv_result"), action.mid(2).toInt()))
            return false;
    } else {
        return false;
    }
    return waitTicks(2);
}

QStringList TestPlayback::enabledControls() const
{
    QStringList enabled;
    for (QWidget *widget : m_window->findChildren<QWidget *>()) {
        const bool control = qobject_cast<QAbstractButton *>(widget)
            || qobject_cast<QAbstractSlider *>(widget) || qobject_cast<QComboBox *>(widget)
            || qobject_cast<QAbstractItemView *>(widget) || qobject_cast<QGraphicsView *>(widget);
        if (!control || widget->objectName().isEmpty()
            || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        if (widget->isEnabledTo(m_window.get()))
            enabled << widget->objectName();
    }
    enabled.sort();
    return enabled;
}

void TestPlayback::playbackInterval_data()
{
    QTest::addColumn<double>("fps");
    QTest::addColumn<int>("interval");

    QTest::newRow("25 fps") << 25.0 << 20;
    QTest::newRow("90 fps, as imported") << 90.0 << 5;
    QTest::newRow("29.97 fps cut towards zero") << 29.97 << 16;
    QTest::newRow("10 fps") << 10.0 << 50;
    QTest::newRow("no rate") << 0.0 << 20;
    QTest::newRow("negative rate") << -1.0 << 20;
    QTest::newRow("not a number") << std::nan("") << 20;
    QTest::newRow("infinite") << HUGE_VAL << 20;
    QTest::newRow("a tiny rate saturates") << 1e-300 << std::numeric_limits<int>::max();
}

void TestPlayback::playbackInterval()
{
    QFETCH(double, fps);
    QFETCH(int, interval);
    QCOMPARE(MainWindow::playbackInterval(fps), interval);
}

void TestPlayback::openShowsFrame90_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("H.264") << QStringLiteral("h264.mp4");
    QTest::newRow("MPEG-4") << QStringLiteral("mp4v.mp4");
    QTest::newRow("MJPEG") << QStringLiteral("mjpeg.avi");
}

void TestPlayback::openShowsFrame90()
{
    QFETCH(QString, source);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    createWindow(m_work->path());
    QVERIFY(!m_window->timer->isActive());
    QVERIFY(openVideo(video));

    QCOMPARE(shownIndex(), 90);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("90"));
    QCOMPARE(label("la_width"), QStringLiteral("320"));
    QCOMPARE(label("la_height"), QStringLiteral("240"));
    QCOMPARE(label("la_fps"), QStringLiteral("25"));
    QCOMPARE(label("la_frame"), QString::number(endFrame));
    QCOMPARE(label("la_file_selected"), video);
    const auto *slider = child<QSlider>("hs_frame");
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), endFrame);
    QCOMPARE(slider->value(), 90);
    QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
    QVERIFY(m_window->timer->isActive());
    QCOMPARE(m_window->timer->interval(), 20);
    // A 320 x 240 video is shown doubled, 640 x 480, in a view placed for it.
    QCOMPARE(child<GraphicsViewMouse>("gv_video")->geometry(), QRect(290, 60, 642, 482));

    // Paused: later ticks redraw the same frame.
    QVERIFY(waitTicks(3));
    QCOMPARE(shownIndex(), 90);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("90"));
}

void TestPlayback::exactOnEveryFormat_data()
{
    openShowsFrame90_data();
}

void TestPlayback::exactOnEveryFormat()
{
    QFETCH(QString, source);
    const QString video = addVideo(source, QStringLiteral("clip.mp4"));
    // Counts may lie past the end of playback: processing reads to the last frame.
    const std::vector<double> counted { 12, 47, 63, 107, 3 };
    QVERIFY(writeFile(countFilePath(video), countFile(counted)));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));
    QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(), 5);

    struct Step
    {
        const char *action;
        int label;
        int shown;
    };
    const Step script[] = { { ">", 91, 91 }, { ">>", 101, 101 }, { "<<", 91, 91 }, { "<", 90, 90 },
        { "s:37", 37, 37 }, { ">>", 47, 47 }, { "<", 46, 46 }, { "r:2", 63, 63 },
        { "r:3", 107, 107 }, { "<<", 97, 97 }, { "r:0", 12, 12 }, { ">", 13, 13 }, { "r:4", 3, 3 },
        { "<<", 3, 3 }, { "s:1", 1, 1 }, { "<", 0, 0 }, { ">>", 10, 10 }, { "<<", 0, 0 },
        { "s:103", 103, 103 }, { ">", 104, 104 }, { ">", 105, 105 }, { ">", 105, 105 },
        { "<<", 95, 95 }, { ">>", 95, 95 } };
    for (const Step &step : script) {
        const QString action = QString::fromLatin1(step.action);
        QVERIFY2(act(action), step.action);
        QVERIFY2(label("la_Num_Frame") == QString::number(step.label),
            qPrintable(action + QStringLiteral(" shows label ") + label("la_Num_Frame")));
        QVERIFY2(shownIndex() == step.shown,
            qPrintable(action + QStringLiteral(" shows frame ") + QString::number(shownIndex())));
        // The slider ends at the end of playback; counted frames may lie past it.
        QCOMPARE(child<QSlider>("hs_frame")->value(), std::min(step.label, endFrame));
        QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
    }
}

void TestPlayback::stepLimits_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");

    QTest::newRow(">> at 100: 110 is not below 105") << 100 << ">>" << 100;
    QTest::newRow(">> at 94 reaches 104") << 94 << ">>" << 104;
    QTest::newRow(">> at 95 stays: 105 is not below 105") << 95 << ">>" << 95;
    QTest::newRow("<< at 5") << 5 << "<<" << 5;
    QTest::newRow("<< at 10 reaches 0") << 10 << "<<" << 0;
    QTest::newRow("< at 1 shows frame 0") << 1 << "<" << 0;
    QTest::newRow("< at 0") << 0 << "<" << 0;
    QTest::newRow("> at 0") << 0 << ">" << 1;
}

void TestPlayback::stepLimits()
{
    QFETCH(int, start);
    QFETCH(QString, action);
    QFETCH(int, expected);

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));
    // Stepping from 90 first makes the slider start anywhere, 90 included.
    QVERIFY(act(QStringLiteral(">")));
    QVERIFY(act(QStringLiteral("s:%1").arg(start)));
    QCOMPARE(shownIndex(), start);

    QVERIFY(act(action));
    QCOMPARE(label("la_Num_Frame"), QString::number(expected));
    QCOMPARE(shownIndex(), expected);
    QCOMPARE(child<QSlider>("hs_frame")->value(), expected);
}

void TestPlayback::sliderNearTheEnd_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("shown");

    QTest::newRow("below the last seekable frame") << endFrame - 2 << endFrame - 2;
    QTest::newRow("end - 1 changes only the label") << endFrame - 1 << 90;
    QTest::newRow("end changes only the label") << endFrame << 90;
}

void TestPlayback::sliderNearTheEnd()
{
    QFETCH(int, value);
    QFETCH(int, shown);

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));
    QVERIFY(act(QStringLiteral("s:%1").arg(value)));
    QCOMPARE(label("la_Num_Frame"), QString::number(value));
    QCOMPARE(child<QSlider>("hs_frame")->value(), value);
    QCOMPARE(shownIndex(), shown);
}

void TestPlayback::playStopsAtTheEnd()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));

    // Every tick while playing shows the frame its label names.
    QList<QPair<int, int>> seen;
    connect(m_window->timer, &QTimer::timeout, this, [&] {
        seen.append({ label("la_Num_Frame").toInt(), shownIndex() });
    });
    auto *playPause = child<QPushButton>("pb_play_pause");
    QTest::mouseClick(playPause, Qt::LeftButton);
    QCOMPARE(playPause->text(), QStringLiteral("Pause"));
    QCOMPARE(m_window->timer->interval(), 20);
    QTRY_COMPARE_WITH_TIMEOUT(label("la_Num_Frame"), QString::number(endFrame), 10000);

    // At the end: the caption stays "Pause" and the last picture stays.
    QVERIFY(waitTicks(3));
    QCOMPARE(playPause->text(), QStringLiteral("Pause"));
    QCOMPARE(label("la_Num_Frame"), QString::number(endFrame));
    QCOMPARE(shownIndex(), endFrame);
    QCOMPARE(child<QSlider>("hs_frame")->value(), endFrame);
    disconnect(m_window->timer, nullptr, this, nullptr);

    QVERIFY(seen.size() >= endFrame - 90);
    int previous = 90;
    for (const auto &tick : seen) {
        QCOMPARE(tick.second, tick.first);
        QVERIFY(tick.first == previous || tick.first == previous + 1);
        previous = tick.first;
    }
    QCOMPARE(previous, endFrame);

    QTest::mouseClick(playPause, Qt::LeftButton);
    QCOMPARE(playPause->text(), QStringLiteral("Play"));
}

void TestPlayback::resultRowJumpsAndPauses_data()
{
    QTest::addColumn<double>("third");
    QTest::addColumn<int>("expected"); // -1: the jump is refused

    QTest::newRow("a frame of the video") << 63.0 << 63;
    QTest::newRow("a frame past the end of playback") << 107.0 << 107;
    QTest::newRow("a negative frame") << -3.0 << -1;
    QTest::newRow("a frame no video has") << 1e12 << -1;
}

void TestPlayback::resultRowJumpsAndPauses()
{
    QFETCH(double, third);
    QFETCH(int, expected);

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(countFilePath(video), countFile({ 12, 47, third, 80 })));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));
    QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(), 4);

    QVERIFY(act(QStringLiteral("play")));
    QVERIFY(act(QStringLiteral("play")));
    QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
    const int before = label("la_Num_Frame").toInt();
    QVERIFY(before > 90);
    QCOMPARE(shownIndex(), before);

    QVERIFY(act(QStringLiteral("r:2")));
    QVERIFY(waitTicks(3));
    const int now = expected < 0 ? before : expected;
    QCOMPARE(label("la_Num_Frame"), QString::number(now));
    QCOMPARE(shownIndex(), now);
    QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));

    // Jumping while playing pauses there as well.
    QVERIFY(act(QStringLiteral("play")));
    QVERIFY(act(QStringLiteral("r:1")));
    QVERIFY(waitTicks(3));
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("47"));
    QCOMPARE(shownIndex(), 47);
    QCOMPARE(child<QPushButton>("pb_play_pause")->text(), QStringLiteral("Play"));
}

void TestPlayback::countFileListing_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<double>>("listed");

    QTest::newRow("no count file") << false << QByteArray() << QList<double>();
    QTest::newRow("header only") << true << QByteArray("Frame;X;Y;In;Out;Timestamp\n")
                                 << QList<double>();
    QTest::newRow("three records, CR LF")
        << true
        << QByteArray("Frame;X;Y;In;Out;Timestamp\r\n100;1;2;1;0;a\r\n200;3;4;0;1;b\r\n"
                      "300;5;6;1;0;c\r\n")
        << QList<double> { 100, 200, 300 };
    QTest::newRow("reading stops at a short line")
        << true << QByteArray("Frame;X;Y;In;Out;Timestamp\n7;1;2;1;0;a\n8;1;2\n9;1;2;0;1;c\n")
        << QList<double> { 7 };

    // 2500 records: the first 2001 in file order are listed.
    std::vector<double> frames;
    for (int i = 0; i < 2500; ++i)
        frames.push_back(10000 + i);
    QList<double> first;
    for (int i = 0; i <= 2000; ++i)
        first << frames[static_cast<std::size_t>(i)];
    QTest::newRow("2500 records") << true << countFile(frames) << first;
}

void TestPlayback::countFileListing()
{
    QFETCH(bool, exists);
    QFETCH(QByteArray, content);
    QFETCH(QList<double>, listed);

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    if (exists)
        QVERIFY(writeFile(countFilePath(video), content));
    createWindow(m_work->path());
    QCOMPARE(child<QTextEdit>("te_error")->toPlainText(),
        QStringLiteral("Int Detected : 0 \nOut Detected : 0"));
    QVERIFY(openVideo(video));

    const QAbstractItemModel *model = child<QTableView>("tv_result")->model();
    QCOMPARE(model->rowCount(), listed.size());
    int in = 0;
    int out = 0;
    for (int row = 0; row < listed.size(); ++row) {
        QCOMPARE(model->index(row, 0).data().toDouble(), listed.at(row));
        in += model->index(row, 3).data().toInt();
        out += model->index(row, 4).data().toInt();
    }
    // The totals cover the whole list: here exactly the listed rows.
    QCOMPARE(child<QTextEdit>("te_error")->toPlainText(),
        QStringLiteral("In Detected :%1\nOut Detected : %2").arg(in).arg(out));
    QVERIFY(child<QTableView>("tv_result")->isEnabled());
}

void TestPlayback::insectDetectedIsNotLimited()
{
    std::vector<double> frames;
    for (int i = 0; i < 2500; ++i)
        frames.push_back(i);
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    QVERIFY(writeFile(countFilePath(video), countFile(frames)));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));

    const auto *table = child<QTableView>("tv_result");
    const auto *counter = child<QTextEdit>("te_error");
    QCOMPARE(table->model()->rowCount(), 2001);
    const QString full = counter->toPlainText();

    // As the crossing counter's signal would deliver it: appended past the
    // list's limit, so the totals move while the table stays at 2001 rows.
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Add_Insect_detected", Q_ARG(int, 5000),
        Q_ARG(int, 11), Q_ARG(int, 22), Q_ARG(int, 1), Q_ARG(int, 0)));
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Add_Insect_detected", Q_ARG(int, 5001),
        Q_ARG(int, 33), Q_ARG(int, 44), Q_ARG(int, 0), Q_ARG(int, 1)));
    QCOMPARE(table->model()->rowCount(), 2001);
    int in = 0;
    int out = 0;
    for (int row = 0; row < 2001; ++row) {
        in += table->model()->index(row, 3).data().toInt();
        out += table->model()->index(row, 4).data().toInt();
    }
    QCOMPARE(full, QStringLiteral("In Detected :%1\nOut Detected : %2").arg(in).arg(out));
    QCOMPARE(counter->toPlainText(),
        QStringLiteral("In Detected :%1\nOut Detected : %2").arg(in + 1).arg(out + 1));
}

void TestPlayback::countsFollowTheVideo()
{
    const QString first = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("first.mp4"));
    const QString second = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("second.mp4"));
    QVERIFY(writeFile(countFilePath(first), countFile({ 1, 2, 3 })));
    createWindow(m_work->path());
    const auto *table = child<QTableView>("tv_result");

    QVERIFY(openVideo(first));
    QCOMPARE(table->model()->rowCount(), 3);
    QVERIFY(QMetaObject::invokeMethod(m_window.get(), "Add_Insect_detected", Q_ARG(int, 99),
        Q_ARG(int, 5), Q_ARG(int, 6), Q_ARG(int, 1), Q_ARG(int, 0)));
    QCOMPARE(table->model()->rowCount(), 4);
    QCOMPARE(table->model()->index(3, 0).data().toDouble(), 99.0);
    QCOMPARE(table->model()->index(3, 1).data().toInt(), 5);
    QCOMPARE(table->model()->index(3, 2).data().toInt(), 6);

    QVERIFY(openVideo(second));
    QCOMPARE(table->model()->rowCount(), 0);
    QCOMPARE(child<QTextEdit>("te_error")->toPlainText(),
        QStringLiteral("In Detected :0\nOut Detected : 0"));

    // Back to the first: its counts come from its file again, not from memory.
    QVERIFY(openVideo(first));
    QCOMPARE(table->model()->rowCount(), 3);
}

void TestPlayback::boxesDrawnOnEveryPicture()
{
    const QString boxed = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("boxed.mp4"));
    const QString plain = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("plain.mp4"));
    // A counting line at y 60 and an open tracking line at y 180, in frame pixels.
    QVERIFY(writeFile(boxFilePath(boxed, "_area.krn"), "40,60\n280,60\n"));
    QVERIFY(writeFile(boxFilePath(boxed, "_mask.krn"), "20,180\n300,180\n"));
    createWindow(m_work->path());

    // Shown doubled: the lines lie at display y 120 and 360.
    const auto green = [this] {
        const QColor c = shownColour(QPoint(320, 121));
        return c.green() > 180 && c.red() < 100 && c.blue() < 100;
    };
    const auto red = [this] {
        const QColor c = shownColour(QPoint(320, 361));
        return c.red() > 180 && c.green() < 100 && c.blue() < 100;
    };
    QVERIFY(openVideo(boxed));
    QVERIFY(green());
    QVERIFY(red());
    QVERIFY(act(QStringLiteral(">")));
    QCOMPARE(shownIndex(), 91);
    QVERIFY(green());
    QVERIFY(red());
    QVERIFY(act(QStringLiteral("play")));
    QVERIFY(waitTicks(2));
    QVERIFY(shownIndex() > 91);
    QVERIFY(green());
    QVERIFY(red());

    // Another video brings its own boxes: none.
    QVERIFY(openVideo(plain));
    QCOMPARE(shownIndex(), 90);
    QVERIFY(!green());
    QVERIFY(!red());
}

void TestPlayback::modeControls_data()
{
    QTest::addColumn<bool>("boxes");
    QTest::addColumn<QStringList>("modes");
    QTest::addColumn<QStringList>("enabled");

    const QStringList always { "pb_about", "cb_hankview", "gv_video" };
    const QStringList files { "pb_Import", "pb_videofile", "tv_file" };
    const QStringList viewing { "pb_slow_reverse", "pb_fast_reverse", "pb_play_pause",
        "pb_fast_forward", "pb_slow_forward", "pushButton_2", "hs_frame", "pb_clearmask",
        "pb_savemask", "pb_cancelmask", "pb_cleararea", "pb_savearea", "pb_cancelarea" };
    const QStringList shift { "pb_movebox", "pb_savebox", "pb_cancelbox" };
    const QStringList processing { "cb_process_conf", "pb_algo" };
    const QStringList results { "tv_result" };

    QTest::newRow("view without boxes")
        << false << QStringList { "view" } << always + files + viewing + results;
    QTest::newRow("view with boxes") << true << QStringList { "view" }
                                     << always + files + viewing + results + shift + processing;
    QTest::newRow("closed after a video without boxes")
        << false << QStringList { "view", "closed" } << always + files;
    QTest::newRow("closed keeps the shift buttons")
        << true << QStringList { "view", "closed" } << always + files + shift;
    QTest::newRow("process") << true << QStringList { "view", "process" }
                             << always + QStringList { "pb_algo" };
    QTest::newRow("process without boxes")
        << false << QStringList { "view", "process" } << always + QStringList { "pb_algo" };
    QTest::newRow("process end") << true << QStringList { "view", "process", "end" }
                                 << always + files + viewing + results + shift + processing;
    QTest::newRow("process cancel") << true << QStringList { "view", "process", "cancel" }
                                    << always + files + viewing + results + shift + processing;
    QTest::newRow("process cancel without boxes")
        << false << QStringList { "view", "process", "cancel" }
        << always + files + viewing + results + shift;
}

void TestPlayback::modeControls()
{
    QFETCH(bool, boxes);
    QFETCH(QStringList, modes);
    QFETCH(QStringList, enabled);

    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    if (boxes) {
        QVERIFY(writeFile(boxFilePath(video, "_area.krn"), "40,60\n280,60\n"));
        QVERIFY(writeFile(boxFilePath(video, "_mask.krn"), "20,180\n300,180\n"));
    }
    QVERIFY(writeFile(countFilePath(video), countFile({ 5, 6 })));
    createWindow(m_work->path());

    auto *playPause = child<QPushButton>("pb_play_pause");
    auto *process = child<QPushButton>("pb_algo");
    for (const QString &mode : modes) {
        if (mode == QLatin1String("view")) {
            QVERIFY(openVideo(video));
            QVERIFY(act(QStringLiteral("play")));
            QCOMPARE(playPause->text(), QStringLiteral("Pause"));
        } else if (mode == QLatin1String("closed")) {
            // "..." answered with cancel still closes the video first.
            QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
        } else if (mode == QLatin1String("process")) {
            m_window->ModeVideo(MainWindow::ModeProcess);
            process->setText(QStringLiteral("Cancel"));
        } else if (mode == QLatin1String("end")) {
            m_window->ModeVideo(MainWindow::ModeProcessEnd);
        } else {
            m_window->ModeVideo(MainWindow::ModeProcessCancel);
        }
    }
    enabled.sort();
    QCOMPARE(enabledControls(), enabled);

    const QString last = modes.last();
    if (last == QLatin1String("closed")) {
        for (const char *name :
            { "la_height", "la_width", "la_fps", "la_frame", "la_mouse", "la_file_selected" })
            QVERIFY2(label(name).isEmpty(), name);
        QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(), 0);
        QCOMPARE(child<QTextEdit>("te_error")->toPlainText(),
            QStringLiteral("In Detected :0\nOut Detected : 0"));
        QVERIFY(shownIsEmpty());
    }
    if (last == QLatin1String("process")) {
        // Reopened at frame 90; the counts are the processing's to clear.
        QCOMPARE(shownIndex(), 90);
        QCOMPARE(label("la_file_selected"), video);
        QCOMPARE(child<QTableView>("tv_result")->model()->rowCount(), 2);
    }
    if (last == QLatin1String("end") || last == QLatin1String("cancel")) {
        QCOMPARE(process->text(), QStringLiteral("Process"));
        // Paused, and the caption says so.
        QCOMPARE(playPause->text(), QStringLiteral("Play"));
        QVERIFY(waitTicks(1));
        const QString at = label("la_Num_Frame");
        QVERIFY(waitTicks(3));
        QCOMPARE(label("la_Num_Frame"), at);
    }
    if (last == QLatin1String("end"))
        QVERIFY(shownIsEmpty());
    if (last == QLatin1String("cancel"))
        QCOMPARE(shownIndex(), label("la_Num_Frame").toInt());
}

void TestPlayback::closingStopsTheRedraw()
{
    const QString video = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("clip.mp4"));
    createWindow(m_work->path());
    QVERIFY(openVideo(video));
    QVERIFY(act(QStringLiteral("play")));
    QVERIFY(shownIndex() > 90);

    // The timer goes on ticking, but a closed video shows nothing.
    QTest::mouseClick(child<QPushButton>("pb_videofile"), Qt::LeftButton);
    QVERIFY(shownIsEmpty());
    QVERIFY(m_window->timer->isActive());
    QVERIFY(waitTicks(3));
    QVERIFY(shownIsEmpty());
}

void TestPlayback::unopenableVideo_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("not a video") << QString() << QByteArray(4096, 'k');
    QTest::newRow("empty file") << QString() << QByteArray();
    QTest::newRow("no frame 90") << QStringLiteral("short.mp4") << QByteArray();
}

void TestPlayback::unopenableVideo()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, content);

    const QString good = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("good.mp4"));
    const QString bad = m_work->filePath(QStringLiteral("bad.mp4"));
    if (source.isEmpty())
        QVERIFY(writeFile(bad, content));
    else
        QVERIFY(QFile::copy(m_videos.filePath(source), bad));
    createWindow(m_work->path());
    QVERIFY(openVideo(good));
    QCOMPARE(shownIndex(), 90);

    // Left as closing the previous video left them.
    QVERIFY(openVideo(bad));
    QCOMPARE(enabledControls(),
        QStringList(
            { "cb_hankview", "gv_video", "pb_Import", "pb_about", "pb_videofile", "tv_file" }));
    QVERIFY(label("la_file_selected").isEmpty());
    QVERIFY(label("la_width").isEmpty());
    QVERIFY(waitTicks(3));
    QVERIFY(shownIsEmpty());

    // The good one still opens afterwards.
    QVERIFY(openVideo(good));
    QCOMPARE(shownIndex(), 90);
}

void TestPlayback::missingFileKeepsTheVideo()
{
    const QString kept = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("kept.mp4"));
    const QString gone = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("gone.mp4"));
    createWindow(m_work->path());
    QVERIFY(openVideo(kept));
    QVERIFY(act(QStringLiteral(">")));
    QVERIFY(QFile::remove(gone));

    QVERIFY(openVideo(gone));
    QVERIFY(waitTicks(2));
    QCOMPARE(label("la_file_selected"), kept);
    QCOMPARE(label("la_Num_Frame"), QStringLiteral("91"));
    QCOMPARE(shownIndex(), 91);
    QVERIFY(child<QPushButton>("pb_play_pause")->isEnabled());
}

void TestPlayback::rowIgnoredWhileProcessing()
{
    const QString first = addVideo(QStringLiteral("h264.mp4"), QStringLiteral("first.mp4"));
    const QString second = addVideo(QStringLiteral("mp4v.mp4"), QStringLiteral("second.mp4"));
    createWindow(m_work->path());
    QVERIFY(openVideo(first));

    for (const auto command : { MainWindow::ProcessFrame, MainWindow::NextFile }) {
        m_window->videoCommand = command;
        QVERIFY(openVideo(second));
        QCOMPARE(label("la_file_selected"), first);
        QVERIFY(openVideo(first));
    }
    m_window->videoCommand = MainWindow::Pause;
    QVERIFY(openVideo(second));
    QCOMPARE(label("la_file_selected"), second);
}

void TestPlayback::unusualPathsOpen_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");

    QTest::newRow("accents") << QStringLiteral("Vidéos d'été à Bâle") << QStringLiteral("clip.mp4");
    QTest::newRow("other scripts")
        << QString::fromUtf8("Ñandú 視頻 Ελληνικά Видео") << QString::fromUtf8("запись_鳥.mp4");
    // Far beyond 250 bytes, the length a fixed path buffer could hold.
    QString deep;
    for (int i = 0; i < 6; ++i)
        deep += QStringLiteral("/%1%2").arg(QString(60, QLatin1Char('d'))).arg(i);
    QTest::newRow("a long path") << deep.mid(1) << QStringLiteral("clip.mp4");
    QTest::newRow("a backslash in the name") << QString() << QStringLiteral("back\\slash.mp4");
}

void TestPlayback::unusualPathsOpen()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);

    const QString video = addVideo(QStringLiteral("h264.mp4"), name, folder);
    QVERIFY(!video.isEmpty());
    if (QTest::currentDataTag() == QLatin1String("a long path"))
        QVERIFY(QFile::encodeName(video).size() > 300);
    createWindow(QFileInfo(video).path());
    QVERIFY(openVideo(video));
    QCOMPARE(label("la_file_selected"), video);
    QCOMPARE(shownIndex(), 90);
    QVERIFY(act(QStringLiteral(">>")));
    QCOMPARE(shownIndex(), 100);
}

void TestPlayback::startTimeFromName_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind"); // "coded", "now" or "invalid"
    QTest::addColumn<QDateTime>("coded");

    QTest::newRow("coded name") << QString() << QStringLiteral("video_20150612_0930_01.mp4")
                                << QStringLiteral("coded")
                                << QDateTime(QDate(2015, 6, 12), QTime(9, 30));
    QTest::newRow("plain name") << QString() << QStringLiteral("clip.mp4") << QStringLiteral("now")
                                << QDateTime();
    QTest::newRow("name too short after the cut")
        << QString() << QStringLiteral("video_20150612_0930.mp4") << QStringLiteral("invalid")
        << QDateTime();
    // The marker is looked for in the whole path, the time in the name.
    QTest::newRow("marker in the folder only")
        << QStringLiteral("video_archive") << QStringLiteral("clip.mp4")
        << QStringLiteral("invalid") << QDateTime();
}

void TestPlayback::startTimeFromName()
{
    QFETCH(QString, folder);
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QDateTime, coded);

    const QString video = addVideo(QStringLiteral("h264.mp4"), name, folder);
    createWindow(QFileInfo(video).path());
    const QDateTime before = QDateTime::currentDateTime();
    QVERIFY(openVideo(video));
    const QDateTime after = QDateTime::currentDateTime();
    const QDateTime start = m_window->startTime;

    if (kind == QLatin1String("coded")) {
        QCOMPARE(start, coded);
    } else if (kind == QLatin1String("now")) {
        QVERIFY(start.isValid());
        QVERIFY(before <= start && start <= after);
    } else {
        QVERIFY(!start.isValid());
    }
}

QTEST_MAIN(TestPlayback)
#include "tst_playback.moc"
