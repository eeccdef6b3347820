#include "imgproc/targetoverlay.h"

#include <string>

#include <opencv2/imgproc.hpp>

namespace {

// B, G, R
const cv::Scalar kSeenColour(0, 0, 255);
const cv::Scalar kUnseenColour(18, 18, 152);
const cv::Scalar kLastColour(255, 0, 0);
const cv::Scalar kMotionColour(0, 255, 0);
constexpr int kUnseenLabelOffset = 20;
constexpr int kLastSize = 10;

} // namespace

void TargetOverlay::draw(cv::Mat &frame, const TargetList &tracks) const
{
    if (frame.empty())
        return;
    for (const Target *t : tracks) {
        const bool unseen = t->age != 0;
        const cv::Scalar colour = unseen ? kUnseenColour : kSeenColour;
        const bool hasLast = t->last.x != 0 && t->last.y != 0;

        const cv::Point labelAt(t->origine.x, t->origine.y + (unseen ? kUnseenLabelOffset : 0));
        cv::putText(frame, std::to_string(t->id), labelAt, cv::FONT_HERSHEY_COMPLEX_SMALL, 1.0,
            colour, 2, cv::LINE_8);
        if (hasLast) {
            const cv::Rect lastBox(
                t->last.x - kLastSize / 2, t->last.y - kLastSize / 2, kLastSize, kLastSize);
            cv::rectangle(frame, lastBox, kLastColour, 1, cv::LINE_8);
        }
        cv::rectangle(
            frame, cv::Rect(t->origine, cv::Size(t->width, t->height)), colour, 1, cv::LINE_8);
        cv::circle(frame, t->centroid, 2, colour, 2, cv::LINE_8);
        if (hasLast)
            cv::line(frame, t->centroid, t->last, kMotionColour, 1, cv::LINE_8);
    }
}
