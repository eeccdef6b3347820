#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include <QString>
#include <QStringList>

// The counting box ("area") and the tracking box ("mask") of a video, their
// .krn files, the detection mask image and the counting segments.
// A polygon is an open list of points; closing it repeats the first point.
class AreaContour
{
public:
    // Box file coordinates are clamped to +-this, far outside any frame, so
    // that no arithmetic on them can overflow.
    static constexpr int kCoordinateLimit = 1000000;
    // A box file with more points is not loaded (a warning says so): the
    // counting segments of a box cost a pass over each edge's bounding box,
    // and far more points than anyone draws could hold a run up for minutes.
    static constexpr std::size_t kMaxBoxPoints = 10000;

    AreaContour();

    // Overlays the boxes for the current mode on a BGR frame.
    void draw(cv::Mat &frame) const;

    void clearArea();
    void clearMask();
    void addAreaPoint(const cv::Point &p);
    void addMaskPoint(const cv::Point &p);
    // Appends the first point again when the polygon has three points or more.
    void closeArea();
    void closeMask();

    // 0 idle, 1 editing the counting box, 2 editing the tracking box, 3 showing a shift.
    void setMode(int m);

    // Rebuilds the shifted boxes moved by minus delta, clamped so that every
    // point stays within 0..width and 0..height.
    void shift(const cv::Point &delta, int height, int width);

    // Write to <folder>/exportCSV/<base>_area.krn / _mask.krn; in mode 3 the
    // shifted box is taken over first.
    void saveArea(const QString &videoPath);
    void saveMask(const QString &videoPath);
    // Empty the box, then read it from its file when there is one. A file
    // that is not a regular file, holds more than kMaxBoxPoints points, or
    // (a counting box) only one point repeated, leaves the box empty with a
    // warning. Each line not read as written (no "x,y": skipped; a field that
    // is no whole number: 0; beyond kCoordinateLimit: clamped) is warned of
    // with the file and line: in the log, or appended to `warnings` when
    // given, one "file:line: what" or "file: why" each.
    void loadArea(const QString &videoPath, QStringList *warnings = nullptr);
    void loadMask(const QString &videoPath, QStringList *warnings = nullptr);
    // Empty when the box file `fileName` can be loaded as it is; else what
    // keeps it from that ("it is a directory", "it has more than 10000
    // points", the system's reason it cannot be read). A missing file says so.
    static QString boxFileProblem(const QString &fileName);
    // The boxes saved beside `videoPath` when both files load as they are
    // and hold a counting box of two different points or more and a
    // tracking box of three: what a run can count with. `warnings` gets the
    // lines of those files not read as written, as loadArea gives them.
    static std::optional<AreaContour> savedBoxes(
        const QString &videoPath, QStringList *warnings = nullptr);
    // Same points in both boxes.
    bool sameBoxes(const AreaContour &other) const;
    // Fewest different points of a box worth saving: a counting line needs
    // two, a tracking box three.
    static constexpr int minAreaPoints = 2;
    static constexpr int minMaskPoints = 3;
    static bool usableBox(const std::vector<cv::Point> &points, int needed);

    // Detection mask: 255 inside the tracking box, less the inside of the
    // counting box, plus the counting box border; `fill` elsewhere.
    cv::Mat createMask(const cv::Size &frameSize, int fill) const;
    // Stretches of the counting box border inside the tracking box, as
    // consecutive (start, end) pairs.
    void computeAreaSegments(const cv::Size &frameSize, int fill);
    void getAreaSegments(std::vector<cv::Point> &segments) const;

    const std::vector<cv::Point> &getArea() const { return area; }
    const std::vector<cv::Point> &getMask() const { return mask; }
    const std::vector<cv::Point> &getAreaShifted() const { return areaShifted; }
    const std::vector<cv::Point> &getMaskShifted() const { return maskShifted; }
    const std::vector<cv::Point> &getAreaSaved() const { return areaSaved; }
    const std::vector<cv::Point> &getMaskSaved() const { return maskSaved; }
    int getMode() const { return mode; }

private:
    std::vector<cv::Point> area;
    std::vector<cv::Point> mask;
    std::vector<cv::Point> areaShifted;
    std::vector<cv::Point> maskShifted;
    std::vector<cv::Point> areaSaved;
    std::vector<cv::Point> maskSaved;
    int mode = 0;
    std::vector<cv::Point> areaSegments;
};
