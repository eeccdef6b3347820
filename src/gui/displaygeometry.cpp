#include "displaygeometry.h"

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
} // namespace

int DisplayGeometry::setFromFrameSize(int frameWidth, int frameHeight)
{
    for (const SizeRow &row : supportedSizes) {
        if (row.frameWidth == frameWidth && row.frameHeight == frameHeight) {
            m_displayWidth = row.displayWidth;
            m_displayHeight = row.displayHeight;
            m_multiplier = row.multiplier;
            m_divisor = row.divisor;
            return 1;
        }
    }
    m_displayWidth = 640;
    m_displayHeight = 480;
    m_multiplier = 0;
    m_divisor = 0;
    return 0;
}

int DisplayGeometry::toFrame(int value) const
{
    if (m_divisor != 0)
        return value / m_divisor;
    if (m_multiplier != 0)
        return value * m_multiplier;
    return value;
}

int DisplayGeometry::toFrameX(int displayX) const
{
    return toFrame(displayX);
}

int DisplayGeometry::toFrameY(int displayY) const
{
    return toFrame(displayY);
}

int DisplayGeometry::viewLeft() const
{
    return 290;
}

int DisplayGeometry::viewTop() const
{
    return m_displayHeight == 360 ? 120 : 60;
}

cv::Size DisplayGeometry::size() const
{
    return cv::Size(m_displayWidth, m_displayHeight);
}
