#include "mvtdetector.h"

#include <opencv2/imgproc.hpp>

#include "logging.h"
#include "targetpool.h"

namespace {

constexpr double kThreshold = 6.0;
constexpr int kErodeFirst = 1;
constexpr int kDilate = 20;
constexpr int kErodeLast = 5;
constexpr size_t kMinContourPoints = 5;
constexpr double kApproxEpsilon = 3.0;

} // namespace

void MvtDetector::set_mask(const cv::Mat &newMask)
{
    previous.release();
    if (newMask.empty()) {
        mask.release();
        return;
    }
    // Non-zero in any channel opens the pixel.
    std::vector<cv::Mat> channels;
    cv::split(newMask, channels);
    cv::compare(channels[0], 0, mask, cv::CMP_NE);
    cv::Mat open;
    for (size_t i = 1; i < channels.size(); ++i) {
        cv::compare(channels[i], 0, open, cv::CMP_NE);
        cv::bitwise_or(mask, open, mask);
    }
}

bool MvtDetector::accepts(const cv::Mat &grey) const
{
    if (grey.empty() || grey.type() != CV_8UC1 || grey.dims != 2)
        return false;
    if (!mask.empty())
        return grey.size() == mask.size();
    return previous.empty() || grey.size() == previous.size();
}

void MvtDetector::detectabsdiff(const cv::Mat &grey, TargetList &out)
{
    blobs.clear();
    if (!accepts(grey)) {
        qCWarning(lcImgproc, "Frame %dx%d of type %d does not fit the mask %dx%d: ignored",
            grey.cols, grey.rows, grey.type(), mask.cols, mask.rows);
        return;
    }

    if (mask.empty()) {
        grey.copyTo(current);
    } else {
        current.create(grey.size(), CV_8UC1);
        cv::bitwise_and(grey, mask, current);
    }

    if (previous.empty()) {
        current.copyTo(previous);
        return;
    }

    cv::absdiff(previous, current, diff);
    if (out.empty())
        current.copyTo(previous);

    cv::threshold(diff, diff, kThreshold, 255, cv::THRESH_BINARY);
    const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    const cv::Point anchor(-1, -1);
    cv::erode(diff, diff, kernel, anchor, kErodeFirst, cv::BORDER_REPLICATE);
    cv::dilate(diff, diff, kernel, anchor, kDilate, cv::BORDER_REPLICATE);
    cv::erode(diff, diff, kernel, anchor, kErodeLast, cv::BORDER_REPLICATE);
    cv::findContours(diff, blobs, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);

    for (const std::vector<cv::Point> &contour : blobs) {
        if (contour.size() < kMinContourPoints)
            continue;
        Target *t = TargetPool::instance().take();
        if (!t) {
            qCWarning(lcImgproc, "No more target in the pool");
            break;
        }
        cv::approxPolyDP(contour, polygon, kApproxEpsilon, true);
        const cv::Rect box = cv::boundingRect(polygon);
        t->init();
        t->width = box.width;
        t->height = box.height;
        t->origine = box.tl();
        t->centroid = cv::Point(box.x + box.width / 2, box.y + box.height / 2);
        out.push_back(t);
    }
}
