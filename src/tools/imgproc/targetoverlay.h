#pragma once

#include <opencv2/core.hpp>

#include "imgproc/target.h"

// Draws the live tracks onto a colour frame.
class TargetOverlay
{
public:
    void draw(cv::Mat &frame, const TargetList &tracks) const;
};
