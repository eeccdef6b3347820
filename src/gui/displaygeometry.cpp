#include "displaygeometry.h"

#include <algorithm>
#include <cmath>

namespace {
struct SizeRow
{
    int frameWidth;
    int frameHeight;
    int displayWidth;
    int displayHeight;
    int multiplier;
    int divisor;
};

constexpr SizeRow supportedSizes[] = {
    { 1920, 1080, 640, 360, 3, 0 },
    { 1280, 720, 640, 360, 2, 0 },
    { 640, 480, 640, 480, 0, 0 },
    { 320, 240, 640, 480, 0, 2 },
};

constexpr int viewWidth = 640;
constexpr int viewHeight = 480;
constexpr int viewCentreX = 290 + viewWidth / 2;
constexpr int viewCentreY = 60 + viewHeight / 2;
} // namespace

int DisplayGeometry::setFromFrameSize(int frameWidth, int frameHeight)
{
    m_multiplier = 0;
    m_divisor = 0;
    m_scaledFrameWidth = 0;
    m_scaledFrameHeight = 0;
    for (const SizeRow &row : supportedSizes) {
        if (row.frameWidth == frameWidth && row.frameHeight == frameHeight) {
            m_displayWidth = row.displayWidth;
            m_displayHeight = row.displayHeight;
            m_multiplier = row.multiplier;
            m_divisor = row.divisor;
            return 1;
        }
    }
    m_displayWidth = viewWidth;
    m_displayHeight = viewHeight;
    if (frameWidth <= 0 || frameHeight <= 0)
        return 0;
    // The whole frame, as large as fits, aspect ratio kept.
    const double scale = std::min(
        static_cast<double>(viewWidth) / frameWidth, static_cast<double>(viewHeight) / frameHeight);
    m_displayWidth = std::clamp(static_cast<int>(std::lround(frameWidth * scale)), 1, viewWidth);
    m_displayHeight = std::clamp(static_cast<int>(std::lround(frameHeight * scale)), 1, viewHeight);
    m_scaledFrameWidth = frameWidth;
    m_scaledFrameHeight = frameHeight;
    return 0;
}

int DisplayGeometry::toFrame(int value, int frameExtent, int displayExtent) const
{
    if (frameExtent > 0) {
        // Truncating like the table's divisor; in 64 bits, as frames may be large.
        return static_cast<int>(static_cast<long long>(value) * frameExtent / displayExtent);
    }
    if (m_divisor != 0)
        return value / m_divisor;
    if (m_multiplier != 0)
        return value * m_multiplier;
    return value;
}

int DisplayGeometry::toFrameX(int displayX) const
{
    return toFrame(displayX, m_scaledFrameWidth, m_displayWidth);
}

int DisplayGeometry::toFrameY(int displayY) const
{
    return toFrame(displayY, m_scaledFrameHeight, m_displayHeight);
}

int DisplayGeometry::viewLeft() const
{
    return viewCentreX - m_displayWidth / 2;
}

int DisplayGeometry::viewTop() const
{
    return viewCentreY - m_displayHeight / 2;
}

cv::Size DisplayGeometry::size() const
{
    return cv::Size(m_displayWidth, m_displayHeight);
}
