#include "zones/trajectoryimage.h"

#include <exception>
#include <limits>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>

#include "logging.h"
#include "zones/videofiles.h"

TrajectoryImage::TrajectoryImage() = default;

void TrajectoryImage::start(const cv::Mat &frame, const cv::Mat &mask)
{
    if (frame.type() == CV_8UC1)
        cv::cvtColor(frame, picture, cv::COLOR_GRAY2BGR);
    else
        frame.copyTo(picture);

    if (!mask.empty() && mask.type() == CV_8UC1 && mask.size() == picture.size()) {
        cv::subtract(cv::Scalar(255), mask, outside);
    } else {
        // Without a usable mask nothing is a detection region; the density
        // then reads as not a number instead of counting a wrong region.
        if (!mask.empty())
            qCWarning(lcZones) << "Detection mask does not match the frame; no region";
        outside.create(picture.size(), CV_8UC1);
        outside.setTo(cv::Scalar(255));
    }
    tracks.create(outside.size(), CV_8UC1);
    tracks.setTo(cv::Scalar(255));
    region = static_cast<int>(outside.total()) - cv::countNonZero(outside);
}

void TrajectoryImage::addTracks(const TargetList &trackList)
{
    if (tracks.empty())
        return;
    for (const Target *target : trackList) {
        if (target == nullptr)
            continue;
        const cv::Point &from = target->last;
        const cv::Point &to = target->centroid;
        // A zero coordinate means the position is not known yet.
        if (from.x == 0 || from.y == 0 || to.x == 0 || to.y == 0)
            continue;
        cv::line(tracks, from, to, cv::Scalar(0), 1, cv::LINE_8);
    }
}

void TrajectoryImage::compose()
{
    int coveredCount = 0;
    if (!tracks.empty()) {
        cv::bitwise_or(tracks, outside, covered);
        cv::compare(covered, cv::Scalar(0), blackened, cv::CMP_EQ);
        coveredCount = cv::countNonZero(blackened);
        if (!picture.empty())
            picture.setTo(cv::Scalar::all(0), blackened);
    }

    // An empty region has no density: not a number, written as "nan".
    const float density = region > 0 ? static_cast<float>(coveredCount) / static_cast<float>(region)
                                     : std::numeric_limits<float>::quiet_NaN();
    densityText
        = QStringLiteral("Density: ") + QString::number(static_cast<double>(density), 'f', 4);

    if (picture.empty())
        return;
    const std::string text = densityText.toStdString();
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, cv::FONT_HERSHEY_SIMPLEX, 0.5, 1, &baseline);
    const int left = (150 - size.width) / 2 + 1;
    const int base = (size.height + 20) / 2 + 1;
    cv::rectangle(picture, cv::Point(left, base + baseline),
        cv::Point(left + size.width, base - size.height), cv::Scalar(0, 0, 255), cv::FILLED,
        cv::LINE_8);
    cv::putText(picture, text, cv::Point(left, base), cv::FONT_HERSHEY_SIMPLEX, 0.5,
        cv::Scalar(0, 255, 255), 1, cv::LINE_8);
}

cv::Mat TrajectoryImage::image()
{
    compose();
    return picture.clone();
}

bool TrajectoryImage::encode(std::vector<unsigned char> &jpeg, QString &error)
{
    compose();
    jpeg.clear();
    if (picture.empty()) {
        error = QStringLiteral("no trajectory image");
        return false;
    }
    try {
        if (cv::imencode(".jpg", picture, jpeg, std::vector<int>()))
            return true;
        error = QStringLiteral("the JPEG encoder refused the trajectory image");
    } catch (const std::exception &e) {
        error = QStringLiteral("encoding the trajectory image failed: %1")
                    .arg(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

void TrajectoryImage::save(const QString &videoPath)
{
    // Like the count file: a missing folder must not lose the image.
    VideoFiles::ensureExportDir(videoPath);
    const QString imageFile = VideoFiles::trajectoryImageFile(videoPath);
    std::vector<unsigned char> jpeg;
    QString error;
    if (!encode(jpeg, error)) {
        qCWarning(lcZones).noquote() << "Cannot write" << imageFile << error;
    } else {
        QFile image(imageFile);
        const auto size = static_cast<qint64>(jpeg.size());
        if (!image.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || image.write(reinterpret_cast<const char *>(jpeg.data()), size) != size
            || !image.flush())
            qCWarning(lcZones) << "Cannot write" << imageFile << image.errorString();
    }

    QFile text(VideoFiles::densityFile(videoPath));
    if (!text.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(lcZones) << "Cannot write" << text.fileName() << text.errorString();
        return;
    }
    text.write(densityText.toUtf8());
}

const QString &TrajectoryImage::getDensityText() const
{
    return densityText;
}
