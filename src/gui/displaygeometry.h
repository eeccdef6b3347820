#pragma once

#include <opencv2/core/types.hpp>

// Maps a video's frame size onto the video view and view positions back onto
// the frame. Fields in this order: display width, display height, multiplier,
// divisor. At most one of multiplier and divisor is non-zero.
class DisplayGeometry
{
public:
    // Until a video is opened the view shows 640 x 480 with coordinates passed
    // through, so a picture shown early never meets a 0 x 0 size.
    DisplayGeometry() = default;

    // Fills all four fields from the frame size; 1 for a supported size, 0 for
    // one that gets the 640 x 480 pass-through fallback.
    int setFromFrameSize(int frameWidth, int frameHeight);

    int toFrameX(int displayX) const;
    int toFrameY(int displayY) const;

    // Position of the video view on its page; both display heights are
    // centred on the line y = 300.
    int viewLeft() const;
    int viewTop() const;

    // The display size, as handed to the frame resize.
    cv::Size size() const;

    int displayWidth() const { return m_displayWidth; }
    int displayHeight() const { return m_displayHeight; }
    int multiplier() const { return m_multiplier; }
    int divisor() const { return m_divisor; }

private:
    int toFrame(int value) const;

    int m_displayWidth = 640;
    int m_displayHeight = 480;
    int m_multiplier = 0; // display-to-frame factor for frames larger than the display
    int m_divisor = 0; // display-to-frame divisor for frames smaller than the display
};
