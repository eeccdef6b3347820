#pragma once

#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include <QString>

#include "scenes/groundtruthscene.h"

// A real recording with true events made apart from Kestrin (see
// bench/accuracy/real/README.md): its box files and its truth table, kept
// in one folder, the video in another. It is counted twice, once at its
// counting line and once at its counting box.
//
// The truth table: a header line, then Frame;X;Y;Kind;Direction;First;Last
// per event, frames numbered as the count file numbers them, Kind
// "crossing", "entry" or "exit", Direction "left-to-right" or
// "right-to-left" for a crossing, empty otherwise, First..Last the frames
// the fly touched the line or border around it.
class RealClip
{
public:
    static constexpr const char *kVideo = "flies_arena_sleap_clip.mp4";

    // Reads <truthFolder>/flies_truth.csv, flies_line_area.krn,
    // flies_box_area.krn and flies_mask.krn; `error` says what failed.
    static std::optional<RealClip> load(const QString &truthFolder, QString *error);

    const std::vector<cv::Point> &line() const { return countingLine; }
    const std::vector<cv::Point> &box() const { return countingBox; }
    const std::vector<cv::Point> &tracking() const { return trackingBox; }
    // The crossings (`atLine`) or the entries and exits.
    std::vector<GroundTruthScene::Event> truth(bool atLine) const;

    // Parses one table line; false when it is not an event.
    static bool parseEvent(const QString &line, GroundTruthScene::Event &event);

private:
    std::vector<cv::Point> countingLine;
    std::vector<cv::Point> countingBox;
    std::vector<cv::Point> trackingBox;
    std::vector<GroundTruthScene::Event> events;
};
