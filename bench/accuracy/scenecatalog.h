#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "groundtruthscene.h"

// The accuracy report's scenes, each made from its index alone (fixed
// seeds): counting lines and counting boxes, at 25 and 90 frames per second,
// with insects that cross, pass close to each other, pause on the line or at
// the box border, hover, fly along the line, turn back, or leave the
// tracking box. Speeds run from 3 px per frame (slower moves vanish in the
// detector's first erosion) to fast flight.
class SceneCatalog
{
public:
    static constexpr int kDefaultCount = 32;
    static const cv::Size kFrameSize;

    // Scene `index`: even indices count at a line, odd ones at a box; the
    // rate alternates every two scenes. A different `seedBase` gives scenes
    // of the same kinds that the method was not tuned on.
    static GroundTruthScene scene(int index, unsigned seedBase = 0);
};
