#include "scenes/demofolder.h"

#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "logging.h"
#include "scenes/groundtruthscene.h"
#include "video/framereader.h"
#include "zones/areacontour.h"
#include "zones/videofiles.h"

namespace {

const cv::Size kSize(DemoFolder::kWidth, DemoFolder::kHeight);
constexpr int kRadius = 7;

// An insect flying straight at constant speed from frame `start` on.
struct Flight
{
    int start;
    cv::Point2d from;
    cv::Point2d step; // pixels per frame
};

struct Scene
{
    QString name;
    std::vector<cv::Point> area; // counting box; two points: a counting line
    std::vector<cv::Point> mask; // tracking box
    std::vector<Flight> flights;
};

std::vector<Scene> scenes()
{
    const std::vector<cv::Point> frame { { 20, 20 }, { kSize.width - 20, 20 },
        { kSize.width - 20, kSize.height - 20 }, { 20, kSize.height - 20 } };
    // Far enough apart in space or time that two insects never merge into
    // one blob; every crossing and entry happens after frame 90, where a run
    // starts.
    Scene line { QStringLiteral("video_20240612_0930_01.mp4"), { { 640, 80 }, { 640, 640 } }, frame,
        { { 100, { 420, 140 }, { 7, 0.5 } }, { 110, { 860, 300 }, { -6, -0.4 } },
            { 130, { 380, 520 }, { 8, -0.6 } }, { 150, { 900, 620 }, { -7, 0.3 } },
            { 175, { 400, 230 }, { 6, 1.0 } }, { 190, { 880, 430 }, { -8, 0.2 } } } };
    Scene box { QStringLiteral("video_20240612_1000_02.mp4"),
        { { 500, 250 }, { 780, 250 }, { 780, 470 }, { 500, 470 } }, frame,
        { { 100, { 200, 360 }, { 7, 0 } }, { 105, { 640, 600 }, { 0.3, -6 } },
            { 140, { 1080, 300 }, { -8, 0.5 } }, { 150, { 640, 360 }, { 0.2, 7 } },
            { 180, { 700, 330 }, { 7, -0.5 } }, { 200, { 640, 80 }, { -0.4, 7 } } } };
    return { line, box };
}

cv::Mat background()
{
    cv::RNG rng(20240612u);
    cv::Mat coarse(18, 32, CV_32FC1);
    rng.fill(coarse, cv::RNG::UNIFORM, 120.0, 200.0);
    cv::Mat smooth;
    cv::resize(coarse, smooth, kSize, 0, 0, cv::INTER_CUBIC);
    cv::Mat grey;
    smooth.convertTo(grey, CV_8UC1);
    cv::Mat channels[] = { grey - 15, grey + 5, grey - 5 };
    cv::Mat bgr;
    cv::merge(channels, 3, bgr);
    return bgr;
}

QString writeVideo(const QString &path, const Scene &scene, const cv::Mat &still)
{
    cv::VideoWriter writer(QFile::encodeName(path).toStdString(),
        cv::VideoWriter::fourcc('a', 'v', 'c', '1'), DemoFolder::kFps, kSize, true);
    if (!writer.isOpened())
        return QStringLiteral("%1: cannot write an H.264 video").arg(path);
    cv::Mat frame(kSize, CV_8UC3);
    for (int index = 0; index < DemoFolder::kFrames; ++index) {
        still.copyTo(frame);
        for (const Flight &f : scene.flights) {
            if (index < f.start)
                continue;
            const cv::Point2d at = f.from + f.step * static_cast<double>(index - f.start);
            cv::circle(frame, cv::Point(cvRound(at.x), cvRound(at.y)), kRadius,
                cv::Scalar(30, 35, 25), cv::FILLED, cv::LINE_AA);
        }
        writer.write(frame);
    }
    writer.release();
    // The writer reports no failure of its own: check what came out.
    cv::VideoCapture check;
    if (!FrameReader::openCapture(check, path)
        || check.get(cv::CAP_PROP_FRAME_COUNT) != DemoFolder::kFrames)
        return QStringLiteral("%1: the video was not written completely").arg(path);
    return QString();
}

// Saves the boxes and reads them back: the box files report no failure
// themselves.
QString writeBoxes(const QString &video, const Scene &scene)
{
    const AreaContour zones = GroundTruthScene::saveBoxes(video, scene.area, scene.mask);

    AreaContour check;
    check.loadArea(video);
    check.loadMask(video);
    if (check.getArea() != zones.getArea())
        return QStringLiteral("%1: cannot write the counting box").arg(VideoFiles::areaFile(video));
    if (check.getMask() != zones.getMask())
        return QStringLiteral("%1: cannot write the tracking box").arg(VideoFiles::maskFile(video));
    return QString();
}

QStringList filesOf(const QString &video)
{
    return { video, VideoFiles::areaFile(video), VideoFiles::maskFile(video) };
}

} // namespace

QStringList DemoFolder::videoNames()
{
    QStringList names;
    for (const Scene &scene : scenes())
        names << scene.name;
    return names;
}

bool DemoFolder::isComplete(const QString &folder)
{
    const QDir dir(folder);
    for (const QString &name : videoNames()) {
        if (!QFileInfo(dir.filePath(name)).isFile())
            return false;
    }
    return true;
}

QString DemoFolder::make(const QString &folder)
{
    const QDir dir(folder);
    for (const Scene &scene : scenes()) {
        for (const QString &file : filesOf(dir.filePath(scene.name))) {
            if (QFileInfo::exists(file))
                return QStringLiteral("%1 exists already; it is left as it is").arg(file);
        }
    }
    if (!QDir().mkpath(folder))
        return QStringLiteral("%1: cannot create the folder").arg(folder);

    const cv::Mat still = background();
    for (const Scene &scene : scenes()) {
        const QString video = dir.filePath(scene.name);
        // Hidden and with the real extension, which picks the container.
        const QString partial = dir.filePath(QStringLiteral(".partial-") + scene.name);
        QString why = writeBoxes(video, scene);
        if (why.isEmpty())
            why = writeVideo(partial, scene, still);
        if (why.isEmpty()) {
            if (!QFile::rename(partial, video))
                why = QStringLiteral("%1: cannot rename %2").arg(video, partial);
        }
        if (!why.isEmpty()) {
            QFile::remove(partial);
            QFile::remove(VideoFiles::areaFile(video));
            QFile::remove(VideoFiles::maskFile(video));
            return why;
        }
        qCDebug(lcZones) << "Demonstration video written:" << video;
    }
    return QString();
}
