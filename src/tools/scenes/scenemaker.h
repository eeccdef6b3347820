#pragma once

#include <algorithm>
#include <vector>

#include <opencv2/core.hpp>

#include "scenes/groundtruthscene.h"

// Fills a scene of the accuracy report with insects: their paths, sizes,
// shades and shapes all drawn from the scene's generator, in one order, so
// that a scene is the same on every run. Sizes, speeds and distances are
// given at 640 px wide and scaled to the frame by `scale`.
class SceneMaker
{
public:
    using Path = std::vector<cv::Point2d>;
    static constexpr int kFirstEvents = 100; // frame index from which insects move

    SceneMaker(GroundTruthScene &scene, cv::RNG &rng, double scale = 1.0)
        : scene(scene)
        , rng(rng)
        , rate(scene.fps())
        , scale(scale)
    {
    }

    double speed()
    {
        // Px per frame: a third of the insects walk, the others fly.
        const double fastest = rate > 50 ? 10.0 : 24.0;
        return scale
            * (rng.uniform(0.0, 1.0) < 0.3 ? rng.uniform(3.0, 5.0) : rng.uniform(5.0, fastest));
    }
    // A walker's pace: a few seconds to cross a line.
    double walk() { return scale * rng.uniform(0.3, 3.0); }
    int seconds(double from, double to) { return static_cast<int>(rate * rng.uniform(from, to)); }
    double length(double from, double to) { return scale * rng.uniform(from, to); }
    // Px at 640 px wide, in this frame.
    double px(double at640) const { return scale * at640; }
    double radius()
    {
        const double r
            = rng.uniform(0.0, 1.0) < 0.15 ? rng.uniform(10.0, 13.0) : rng.uniform(3.0, 9.0);
        return std::max(2.0, scale * r);
    }

    // Adds the insects of `paths`, `at[i]` being the path index that must
    // fall on the same frame for all of them; `size`, when given, is the
    // radius of all.
    void add(const char *behaviour, const std::vector<Path> &paths, const std::vector<int> &at,
        double size = 0)
    {
        int longest = 0;
        int latest = 0;
        for (size_t i = 0; i < paths.size(); ++i) {
            latest = std::max(latest, at[i]);
            longest = std::max(longest, static_cast<int>(paths[i].size()) - at[i]);
        }
        const int room = scene.frames() - 15 - longest - latest - kFirstEvents;
        const int meet = kFirstEvents + latest + (room > 0 ? rng.uniform(0, room) : 0);
        for (size_t i = 0; i < paths.size(); ++i) {
            GroundTruthScene::Insect insect;
            insect.path = paths[i];
            insect.start = meet - at[i];
            insect.radius = radius();
            if (size > 0)
                insect.radius = size;
            insect.level = rng.uniform(15, 55);
            insect.behaviour = QString::fromLatin1(behaviour);
            // Shapes draw on the generator only where they are asked for,
            // so that the classic scenes stay what they were.
            if (shapes > 0 && rng.uniform(0.0, 1.0) < shapes) {
                insect.appendages = true;
                insect.elongation = rng.uniform(1.0, 2.5);
            }
            scene.addInsect(insect);
        }
    }
    void add(const char *behaviour, const Path &path, double size = 0)
    {
        add(behaviour, std::vector<Path> { path }, { 0 }, size);
    }

    // Insects of one kind of behaviour each: at a counting line a-b, or at a
    // counting box.
    void lineInsects(const cv::Point2d &a, const cv::Point2d &b, int count);
    void boxInsects(const std::vector<cv::Point> &box, int count);
    // A crowd of 10 to 20 within two seconds.
    void swarmAtLine(const cv::Point2d &a, const cv::Point2d &b);
    void swarmAtBox(const std::vector<cv::Point> &box);
    // Parallel lanes, each insect to and fro over the line.
    void lanesOverLine(const cv::Point2d &a, const cv::Point2d &b);
    // Walkers at 0.3 to 3 px per frame.
    void walkersAtLine(const cv::Point2d &a, const cv::Point2d &b);
    void walkersAtBox(const std::vector<cv::Point> &box);

    // `v` turned by `degrees`.
    static cv::Point2d rotate(const cv::Point2d &v, double degrees);

    GroundTruthScene &scene;
    cv::RNG &rng;
    double rate;
    double scale;
    double shapes = 0; // share of insects with wings and legs
};
