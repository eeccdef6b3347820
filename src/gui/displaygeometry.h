#pragma once

#include <opencv2/core/types.hpp>

// Maps a video's frame size onto the video view and view positions back onto
// the frame. The four sizes of the table keep their fixed factors (display
// width, display height, multiplier, divisor); any other size is scaled to fit
// 640 x 480 with its aspect ratio kept, and the view is centred on the same
// point as the table's. Every conversion between view and frame goes through
// here.
class DisplayGeometry
{
public:
    // Until a video is opened the view shows 640 x 480 with coordinates passed
    // through, so a picture shown early never meets a 0 x 0 size.
    DisplayGeometry() = default;

    // Fills the mapping from the frame size; 1 for a size of the table, 0 for
    // one that is scaled to fit (or an empty size, which passes through).
    int setFromFrameSize(int frameWidth, int frameHeight);

    int toFrameX(int displayX) const;
    int toFrameY(int displayY) const;

    // Position of the video view on its page: the picture is centred on the
    // point (610, 300), as both display heights of the table are.
    int viewLeft() const;
    int viewTop() const;

    // The display size, as handed to the frame resize.
    cv::Size size() const;

    int displayWidth() const { return m_displayWidth; }
    int displayHeight() const { return m_displayHeight; }
    int multiplier() const { return m_multiplier; }
    int divisor() const { return m_divisor; }

private:
    int toFrame(int value, int frameExtent, int displayExtent) const;

    int m_displayWidth = 640;
    int m_displayHeight = 480;
    int m_multiplier = 0; // display-to-frame factor for frames larger than the display
    int m_divisor = 0; // display-to-frame divisor for frames smaller than the display
    // A scaled size maps by frame extent / display extent; 0 while the table's
    // factors (or the pass-through) apply.
    int m_scaledFrameWidth = 0;
    int m_scaledFrameHeight = 0;
};
