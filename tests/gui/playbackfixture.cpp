#include "playbackfixture.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include <QAbstractItemModel>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "filedialogprovider.h"
#include "graphicsviewmouse.h"
#include "settingsstore.h"
#include "testvideo.h"
#include "zones/videofiles.h"

namespace {

// Answers the window's directory dialog with the folder it opens on (the
// same working directory chosen again), every save dialog with "cancelled"
// and every question with no.
class CancelledDialogs final : public FileDialogProvider
{
public:
    QString existingDirectory(const QString &start) override { return start; }
    QString saveFileName(const QString &, const QString &, const QString &) override
    {
        return QString();
    }
    QString saveImageName(const QString &, const QStringList &, int &) override
    {
        return QString();
    }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    void warning(QWidget *, const QString &, const QString &) override { }
};

// A textured background with a disc that moves, so that the encoders have
// real motion to predict, and the frame's index along the top.
void paintFrame(int index, cv::Mat &frame)
{
    static const cv::Mat background = testvideo::background(PlaybackFixture::frameSize);
    background.copyTo(frame);
    cv::circle(
        frame, cv::Point(20 + (index * 3) % 280, 140), 18, cv::Scalar(30, 60, 200), cv::FILLED);
    testvideo::paintIndex(frame, index);
}

} // namespace

const cv::Size PlaybackFixture::frameSize(320, 240);

QByteArray PlaybackFixture::countFile(const std::vector<double> &frames)
{
    QByteArray text("Frame;X;Y;In;Out;Timestamp\n");
    for (std::size_t i = 0; i < frames.size(); ++i) {
        text += QByteArray::number(frames[i], 'g', 15) + ";10;20;"
            + QByteArray::number(static_cast<int>(i % 2)) + ';'
            + QByteArray::number(static_cast<int>(1 - i % 2)) + ";2015-06-12_09:30:00\n";
    }
    return text;
}

bool PlaybackFixture::writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QString PlaybackFixture::countFilePath(const QString &video)
{
    return exportFilePath(video, ".csv");
}

QString PlaybackFixture::exportFilePath(const QString &video, const char *suffix)
{
    const QFileInfo info(video);
    return info.path() + QStringLiteral("/exportCSV/") + info.completeBaseName()
        + QLatin1String(suffix);
}

bool PlaybackFixture::prepare()
{
    QStandardPaths::setTestModeEnabled(true);
    if (!m_settingsDir.isValid() || !m_videos.isValid())
        return false;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    return testvideo::write(m_videos.filePath(QStringLiteral("h264.mp4")), "avc1", 25, frameSize,
               frameCount, paintFrame)
        && testvideo::write(m_videos.filePath(QStringLiteral("mp4v.mp4")), "mp4v", 25, frameSize,
            frameCount, paintFrame)
        && testvideo::write(m_videos.filePath(QStringLiteral("mjpeg.avi")), "MJPG", 25, frameSize,
            frameCount, paintFrame)
        && testvideo::write(
            m_videos.filePath(QStringLiteral("short.mp4")), "avc1", 25, frameSize, 60, paintFrame);
}

bool PlaybackFixture::startRow()
{
    QFile::remove(m_settingsDir.filePath(QStringLiteral("Tolvane/Kestrin.conf")));
    m_work = std::make_unique<QTemporaryDir>();
    return m_work->isValid();
}

void PlaybackFixture::endRow()
{
    m_window.reset();
    m_work.reset();
}

QString PlaybackFixture::addVideo(const QString &source, const QString &name, const QString &folder)
{
    const QString dir = folder.isEmpty() ? m_work->path() : m_work->filePath(folder);
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    return QFile::copy(m_videos.filePath(source), path) ? path : QString();
}

bool PlaybackFixture::createWindow(const QString &directory)
{
    SettingsStore::open()->setValue(QStringLiteral("currentPath"), directory);
    m_window = std::make_unique<MainWindow>();
    m_window->setFileDialogs(std::make_unique<CancelledDialogs>());
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window.get());
}

bool PlaybackFixture::clickRow(QTableView *view, int row)
{
    const QModelIndex index = view->model()->index(row, 0);
    if (!index.isValid())
        return false;
    view->scrollTo(index);
    QTest::mouseClick(
        view->viewport(), Qt::LeftButton, Qt::NoModifier, view->visualRect(index).center());
    return view->currentIndex().row() == row;
}

bool PlaybackFixture::openVideo(const QString &path)
{
    auto *files = child<QTableView>("tv_file");
    const QString name = QFileInfo(path).completeBaseName();
    for (int row = 0; row < files->model()->rowCount(); ++row) {
        if (files->model()->index(row, 0).data().toString() == name)
            return clickRow(files, row);
    }
    return false;
}

int PlaybackFixture::shownIndex() const
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

bool PlaybackFixture::shownIsEmpty() const
{
    // No picture; a text saying why may be there.
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    if (!scene)
        return true;
    const QList<QGraphicsItem *> items = scene->items();
    return std::none_of(items.cbegin(), items.cend(), [](const QGraphicsItem *item) {
        return qgraphicsitem_cast<const QGraphicsPixmapItem *>(item);
    });
}

QString PlaybackFixture::shownText() const
{
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    QString text;
    for (const QGraphicsItem *item : scene ? scene->items() : QList<QGraphicsItem *>()) {
        if (const auto *shown = qgraphicsitem_cast<const QGraphicsTextItem *>(item))
            text += shown->toPlainText();
    }
    return text;
}

QColor PlaybackFixture::shownColour(const QPoint &displayPoint) const
{
    const QGraphicsScene *scene = child<GraphicsViewMouse>("gv_video")->scene();
    if (!scene || scene->items().size() != 1)
        return QColor();
    const auto *item = qgraphicsitem_cast<const QGraphicsPixmapItem *>(scene->items().first());
    return item ? item->pixmap().toImage().pixelColor(displayPoint) : QColor();
}

bool PlaybackFixture::waitTicks(int ticks)
{
    // Connected after the window's own slot: a counted tick has been carried
    // out. A paused window stops its timer once the picture is drawn.
    QSignalSpy spy(frameTimer(), &QTimer::timeout);
    return QTest::qWaitFor([&] { return spy.size() >= ticks || !frameTimer()->isActive(); }, 5000);
}

bool PlaybackFixture::act(const QString &action)
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
    // The first tick after the action carries it out.
    return waitTicks(1);
}

QStringList PlaybackFixture::enabledControls() const
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

QString PlaybackFixture::label(const char *name) const
{
    return child<QLabel>(name)->text();
}

QTimer *PlaybackFixture::frameTimer() const
{
    return m_window->playback->timer();
}

void PlaybackFixture::enterMode(MainWindow::statemode mode)
{
    m_window->ModeVideo(mode);
}

void PlaybackFixture::setCommand(Command command)
{
    m_window->playback->setCommand(command);
}

QDateTime PlaybackFixture::startTime() const
{
    return VideoFiles::startTimeFromFileName(m_window->videoFile);
}
