#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "scenes/groundtruthscene.h"

// The accuracy report's scenes, each made from its index and a seed alone.
//
// The classic set: 640 x 480, counting lines and counting boxes, at 25 and
// 90 frames per second, with insects that cross, pass close to each other,
// pause on the line or at the box border, hover, fly along the line, turn
// back, or leave the tracking box, at 3 px per frame to fast flight.
//
// The broad set: 320 x 240 to 1920 x 1080 at 20, 25, 60 and 90 frames per
// second, written as MJPG, MPEG-4 or H.264, some with the picture drifting;
// the classic behaviours, swarms of 10 to 20, insects to and fro in
// parallel lanes over a line, walkers at 0.3 to 3 px per frame, insects
// with flickering wings and legs, and ones poking over a box border with
// their centre outside. Sizes, speeds and distances scale with the width.
class SceneCatalog
{
public:
    enum class Set { Classic, Broad };

    static constexpr int kDefaultCount = 32;
    static const cv::Size kFrameSize;

    static int count(Set set);
    // The codec the scene's video is written with (cv::VideoWriter fourcc).
    static const char *fourcc(Set set, int index);
    static GroundTruthScene scene(Set set, int index, unsigned seedBase);

    // Classic scene `index`: even indices count at a line, odd ones at a
    // box; the rate alternates every two scenes. A different `seedBase`
    // gives scenes of the same kinds that the method was not tuned on.
    static GroundTruthScene scene(int index, unsigned seedBase = 0);
    // Broad scene `index` (modulo count(Set::Broad)).
    static GroundTruthScene broadScene(int index, unsigned seedBase = 0);
};
