#include "zones/areacontour.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>

#include "logging.h"
#include "zones/videofiles.h"

namespace {

const cv::Scalar green(0, 255, 0);
const cv::Scalar red(0, 0, 255);

// Lines from point i to point i + 1, never a closing line.
void drawOpen(
    cv::Mat &image, const std::vector<cv::Point> &points, const cv::Scalar &color, int thickness)
{
    if (points.size() < 2 || image.empty())
        return;
    cv::polylines(image, points, false, color, thickness, cv::LINE_8);
}

// OpenCV's polygon fill steps through every row from the topmost vertex
// down, even far above the image: a box file with y near INT_MIN would stall
// it for tens of seconds. Rows that far up belong to no frame, so the polygon
// is cut there; boxes drawn on a frame are never affected.
const int farAbove = -(1 << 16);

std::vector<cv::Point> cutFarAbove(const std::vector<cv::Point> &points)
{
    const bool far = std::any_of(
        points.begin(), points.end(), [](const cv::Point &p) { return p.y < farAbove; });
    if (!far)
        return points;
    std::vector<cv::Point> cut;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const cv::Point &a = points[i];
        const cv::Point &b = points[(i + 1) % points.size()];
        const bool aKept = a.y >= farAbove;
        if (aKept)
            cut.push_back(a);
        if (aKept != (b.y >= farAbove)) {
            const double t
                = (static_cast<double>(farAbove) - a.y) / (static_cast<double>(b.y) - a.y);
            const double x = a.x + t * (static_cast<double>(b.x) - a.x);
            cut.emplace_back(static_cast<int>(std::lround(x)), farAbove);
        }
    }
    return cut;
}

void fillPolygon(cv::Mat &image, const std::vector<cv::Point> &points, const cv::Scalar &color)
{
    if (points.size() < 3 || image.empty())
        return;
    const std::vector<std::vector<cv::Point>> polygons { cutFarAbove(points) };
    if (polygons.front().size() < 3)
        return;
    cv::fillPoly(image, polygons, color, cv::LINE_8);
}

// A negative size (no video) would make OpenCV throw; it is an empty frame.
cv::Size validSize(const cv::Size &size)
{
    return cv::Size(std::max(0, size.width), std::max(0, size.height));
}

// Largest dx (when positive) or smallest (when negative) that keeps every
// coordinate within [0, limit] after subtracting it; 0 when no move fits.
// Equivalent to stepping dx towards 0 one unit at a time, without the loop.
int clampDelta(int delta, const std::vector<int> &coords, int limit)
{
    if (delta == 0 || coords.empty())
        return delta;
    const auto [lo, hi] = std::minmax_element(coords.begin(), coords.end());
    if (delta > 0) {
        // need c - delta >= 0 for all c
        return std::max(0, std::min(delta, *lo));
    }
    // need c - delta <= limit for all c
    const std::int64_t least = static_cast<std::int64_t>(*hi) - limit;
    return static_cast<int>(std::min<std::int64_t>(0, std::max<std::int64_t>(delta, least)));
}

// Pixels of a thin line lie within the bounding box of its end points; the
// part of it inside the frame. Computed without forming end - start, which
// could overflow for points far outside the frame.
cv::Rect lineBox(const cv::Point &p, const cv::Point &q, const cv::Size &frameSize)
{
    const int left = std::max(0, std::min(p.x, q.x));
    const int top = std::max(0, std::min(p.y, q.y));
    const int right = std::min(frameSize.width - 1, std::max(p.x, q.x));
    const int bottom = std::min(frameSize.height - 1, std::max(p.y, q.y));
    if (left > right || top > bottom)
        return cv::Rect();
    return cv::Rect(left, top, right - left + 1, bottom - top + 1);
}

std::vector<cv::Point> shifted(const std::vector<cv::Point> &points, int dx, int dy)
{
    std::vector<cv::Point> moved;
    moved.reserve(points.size());
    for (const cv::Point &p : points) {
        // Clamping bounds the result to the frame; 64 bits keep points that
        // were outside it already from overflowing.
        const auto x = static_cast<std::int64_t>(p.x) - dx;
        const auto y = static_cast<std::int64_t>(p.y) - dy;
        moved.emplace_back(static_cast<int>(std::clamp<std::int64_t>(x,
                               std::numeric_limits<int>::min(), std::numeric_limits<int>::max())),
            static_cast<int>(std::clamp<std::int64_t>(
                y, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
    }
    return moved;
}

void writePoints(
    const QString &videoPath, const QString &fileName, const std::vector<cv::Point> &points)
{
    VideoFiles::ensureExportDir(videoPath);
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qCWarning(lcZones) << "Cannot write" << fileName << file.errorString();
        return;
    }
    QTextStream out(&file);
    for (const cv::Point &p : points)
        out << p.x << ',' << p.y << '\n';
    out.flush();
    if (out.status() != QTextStream::Ok || file.error() != QFileDevice::NoError)
        qCWarning(lcZones) << "Writing" << fileName << "failed:" << file.errorString();
}

// A field as a warning quotes it: a line may be a megabyte long.
QString quoted(const QStringRef &field)
{
    const int most = 24;
    const QStringRef text = field.trimmed();
    return QLatin1Char('"') + text.left(most).toString()
        + (text.size() > most ? QStringLiteral("...\"") : QStringLiteral("\""));
}

// A coordinate of a box file: a base-10 integer, taken within
// +-kCoordinateLimit. `problem` says what was not read as written: a number
// beyond the limit (clamped), or a field that is no whole number (read as 0).
int readCoordinate(const QStringRef &field, QString &problem)
{
    const int limit = AreaContour::kCoordinateLimit;
    bool ok = false;
    const int value = field.toInt(&ok, 10);
    if (ok && value >= -limit && value <= limit)
        return value;
    static const QRegularExpression digits(QStringLiteral("^\\s*([+-]?)[0-9]+\\s*$"));
    const QRegularExpressionMatch whole = digits.match(field);
    if (!ok && !whole.hasMatch()) {
        problem = QStringLiteral("%1 is no whole number, read as 0").arg(quoted(field));
        return 0;
    }
    // Beyond 32 bits QString gives up: the sign says which end.
    const bool negative = ok ? value < 0 : whole.capturedRef(1) == QLatin1String("-");
    problem = QStringLiteral("%1 lies beyond %2, taken as %3")
                  .arg(quoted(field), QString::number(limit))
                  .arg(negative ? -limit : limit);
    return negative ? -limit : limit;
}

// "x,y" (further fields ignored). `problem` is set for a line that gives no
// point (no separator) or whose point is not what the line says.
bool parsePoint(const QString &line, cv::Point &point, QString &problem)
{
    const int first = line.indexOf(QLatin1Char(','));
    if (first < 0) {
        problem = QStringLiteral("no \"x,y\", skipped");
        return false;
    }
    int second = line.indexOf(QLatin1Char(','), first + 1);
    if (second < 0)
        second = line.size();
    QString xProblem;
    QString yProblem;
    point = cv::Point(readCoordinate(line.leftRef(first), xProblem),
        readCoordinate(line.midRef(first + 1, second - first - 1), yProblem));
    problem = xProblem.isEmpty() || yProblem.isEmpty() ? xProblem + yProblem
                                                       : xProblem + QStringLiteral("; ") + yProblem;
    return true;
}

// Why the points of `fileName` cannot be used, or empty; `points` gets them
// when they can, and `warnings` a "file:line: what" for each line not read
// as written.
QString readPointFile(
    const QString &fileName, std::vector<cv::Point> &points, QStringList *warnings = nullptr)
{
    points.clear();
    const QFileInfo info(fileName);
    if (!info.exists())
        return QStringLiteral("it does not exist");
    if (!info.isFile())
        return info.isDir() ? QStringLiteral("it is a directory")
                            : QStringLiteral("it is not a regular file");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    for (int number = 1; !file.atEnd(); ++number) {
        QByteArray bytes = file.readLine();
        if (bytes.endsWith('\n'))
            bytes.chop(1);
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        cv::Point point;
        QString problem;
        if (parsePoint(QString::fromUtf8(bytes.constData(), bytes.size()), point, problem))
            points.push_back(point);
        if (!problem.isEmpty() && warnings)
            warnings->append(QStringLiteral("%1:%2: %3").arg(fileName).arg(number).arg(problem));
        if (points.size() > AreaContour::kMaxBoxPoints) {
            points.clear();
            return QStringLiteral("it has more than %1 points").arg(AreaContour::kMaxBoxPoints);
        }
    }
    // A counting box file is named <base>_area.krn (VideoFiles::areaFile).
    const bool countingBox = fileName.endsWith(QLatin1String("_area.krn"));
    if (countingBox && points.size() >= 2
        && std::all_of(points.begin(), points.end(),
            [&](const cv::Point &p) { return p == points.front(); })) {
        points.clear();
        return QStringLiteral("its points are all the same: they make no counting line");
    }
    return QString();
}

// The warnings go to `collected` when given, else to the log.
std::vector<cv::Point> readPoints(
    const QString &videoPath, const QString &fileName, QStringList *collected)
{
    VideoFiles::ensureExportDir(videoPath);
    std::vector<cv::Point> points;
    if (!QFileInfo(fileName).exists())
        return points;
    QStringList warnings;
    const QString problem = readPointFile(fileName, points, &warnings);
    if (!problem.isEmpty())
        warnings << QStringLiteral("%1: cannot be used: %2").arg(fileName, problem);
    if (collected) {
        *collected += warnings;
        return points;
    }
    for (const QString &warning : qAsConst(warnings))
        qCWarning(lcZones).noquote() << warning;
    return points;
}

} // namespace

AreaContour::AreaContour() = default;

void AreaContour::draw(cv::Mat &frame) const
{
    if (mode == 3) {
        drawOpen(frame, areaShifted, green, 2);
        drawOpen(frame, maskShifted, red, 2);
        return;
    }
    drawOpen(frame, area, green, 2);
    drawOpen(frame, mask, red, 2);
    if (mode == 1)
        drawOpen(frame, areaSaved, green, 1);
    else if (mode == 2)
        drawOpen(frame, maskSaved, red, 1);
}

void AreaContour::clearArea()
{
    area.clear();
}

void AreaContour::clearMask()
{
    mask.clear();
}

void AreaContour::addAreaPoint(const cv::Point &p)
{
    area.push_back(p);
}

void AreaContour::addMaskPoint(const cv::Point &p)
{
    mask.push_back(p);
}

void AreaContour::closeArea()
{
    if (area.size() >= 3)
        area.push_back(area.front());
}

void AreaContour::closeMask()
{
    if (mask.size() >= 3)
        mask.push_back(mask.front());
}

void AreaContour::setMode(int m)
{
    if (m == 1)
        areaSaved = area;
    else if (m == 2)
        maskSaved = mask;
    mode = m;
}

void AreaContour::shift(const cv::Point &delta, int height, int width)
{
    std::vector<int> xs;
    std::vector<int> ys;
    xs.reserve(mask.size() + area.size());
    ys.reserve(mask.size() + area.size());
    for (const auto *points : { &mask, &area }) {
        for (const cv::Point &p : *points) {
            xs.push_back(p.x);
            ys.push_back(p.y);
        }
    }
    const int dx = clampDelta(delta.x, xs, width);
    const int dy = clampDelta(delta.y, ys, height);
    maskShifted = shifted(mask, dx, dy);
    areaShifted = shifted(area, dx, dy);
}

void AreaContour::saveArea(const QString &videoPath)
{
    if (mode == 3)
        area = areaShifted;
    writePoints(videoPath, VideoFiles::areaFile(videoPath), area);
}

void AreaContour::saveMask(const QString &videoPath)
{
    if (mode == 3)
        mask = maskShifted;
    writePoints(videoPath, VideoFiles::maskFile(videoPath), mask);
}

void AreaContour::loadArea(const QString &videoPath, QStringList *warnings)
{
    area = readPoints(videoPath, VideoFiles::areaFile(videoPath), warnings);
}

void AreaContour::loadMask(const QString &videoPath, QStringList *warnings)
{
    mask = readPoints(videoPath, VideoFiles::maskFile(videoPath), warnings);
}

QString AreaContour::boxFileProblem(const QString &fileName)
{
    std::vector<cv::Point> points;
    return readPointFile(fileName, points);
}

std::optional<AreaContour> AreaContour::savedBoxes(const QString &videoPath, QStringList *warnings)
{
    AreaContour saved;
    QStringList read;
    if (!readPointFile(VideoFiles::areaFile(videoPath), saved.area, &read).isEmpty()
        || !readPointFile(VideoFiles::maskFile(videoPath), saved.mask, &read).isEmpty()
        || !usableBox(saved.area, minAreaPoints) || !usableBox(saved.mask, minMaskPoints))
        return std::nullopt;
    if (warnings)
        *warnings += read;
    return saved;
}

bool AreaContour::usableBox(const std::vector<cv::Point> &points, int needed)
{
    std::vector<cv::Point> distinct;
    for (const cv::Point &p : points) {
        if (std::find(distinct.cbegin(), distinct.cend(), p) == distinct.cend())
            distinct.push_back(p);
        if (static_cast<int>(distinct.size()) >= needed)
            return true;
    }
    return false;
}

bool AreaContour::sameBoxes(const AreaContour &other) const
{
    return area == other.area && mask == other.mask;
}

cv::Mat AreaContour::createMask(const cv::Size &frameSize, int fill) const
{
    cv::Mat m(validSize(frameSize), CV_8UC1, cv::Scalar(fill));
    if (mask.size() >= 3) {
        fillPolygon(m, mask, cv::Scalar(255));
        drawOpen(m, mask, cv::Scalar(255), 1);
    }
    if (area.size() >= 3) {
        fillPolygon(m, area, cv::Scalar(0));
        drawOpen(m, area, cv::Scalar(255), 1);
    }
    return m;
}

void AreaContour::computeAreaSegments(const cv::Size &requestedSize, int fill)
{
    const cv::Size frameSize = validSize(requestedSize);
    // Counting box border with the part inside the tracking box erased.
    cv::Mat a(frameSize, CV_8UC1, cv::Scalar(fill));
    if (area.size() >= 3)
        drawOpen(a, area, cv::Scalar(255), 1);
    if (mask.size() >= 3)
        fillPolygon(a, mask, cv::Scalar(0));

    // Redrawn from its contours, minus the tracking box's own border: what is
    // 255 here lies outside the tracking box.
    cv::Mat b(frameSize, CV_8UC1, cv::Scalar(fill));
    if (!a.empty()) {
        std::vector<std::vector<cv::Point>> contours;
        std::vector<cv::Vec4i> hierarchy;
        cv::findContours(
            a, contours, hierarchy, cv::RETR_TREE, cv::CHAIN_APPROX_SIMPLE, cv::Point(0, 0));
        for (int i = 0; i < static_cast<int>(contours.size()); ++i)
            cv::drawContours(b, contours, i, cv::Scalar(255), 1, cv::LINE_8, hierarchy, 0);
        drawOpen(b, mask, cv::Scalar(0), 1);
    }

    areaSegments.clear();
    if (area.size() < 2)
        return;

    // One edge canvas for all edges; each edge only touches the bounding box
    // of its end points, which is also all that needs scanning and clearing.
    cv::Mat edge = cv::Mat::zeros(frameSize, CV_8UC1);
    std::vector<cv::Point> edgePixels;
    std::vector<cv::Point> outsidePixels;
    for (std::size_t k = 0; k + 1 < area.size(); ++k) {
        const cv::Point p = area[k];
        const cv::Point q = area[k + 1];
        edgePixels.clear();
        outsidePixels.clear();
        if (!edge.empty()) {
            cv::line(edge, p, q, cv::Scalar(255), 1, cv::LINE_8);
            const cv::Rect box = lineBox(p, q, frameSize);
            for (int row = box.y; row < box.y + box.height; ++row) {
                const uchar *e = edge.ptr<uchar>(row);
                const uchar *o = b.ptr<uchar>(row);
                for (int col = box.x; col < box.x + box.width; ++col) {
                    if (e[col] == 255)
                        edgePixels.emplace_back(col, row);
                    if ((e[col] & o[col]) == 255)
                        outsidePixels.emplace_back(col, row);
                }
            }
            if (box.area() > 0)
                edge(box).setTo(cv::Scalar(0));
        }

        if (outsidePixels.empty()) {
            areaSegments.push_back(p);
            areaSegments.push_back(q);
            continue;
        }

        // Each inside stretch gives (its first pixel, the next outside pixel).
        std::size_t c = 0;
        bool outside = true;
        std::size_t i = 0;
        for (; i < edgePixels.size(); ++i) {
            const cv::Point &pixel = edgePixels[i];
            if (pixel == outsidePixels[c]) {
                if (!outside)
                    areaSegments.push_back(pixel);
                ++c;
                outside = true;
                if (c == outsidePixels.size())
                    break;
            } else {
                if (outside)
                    areaSegments.push_back(pixel);
                outside = false;
            }
        }
        // An inside stretch after the last outside pixel ends at the edge's
        // last pixel; without this pair a crossing there could not be counted.
        if (i + 1 < edgePixels.size()) {
            areaSegments.push_back(edgePixels[i + 1]);
            areaSegments.push_back(edgePixels.back());
        }
    }
}

void AreaContour::getAreaSegments(std::vector<cv::Point> &segments) const
{
    segments = areaSegments;
}
