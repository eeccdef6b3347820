#include "zonesnapshot.h"

#include <vector>

#include <QFile>
#include <QList>

#include "zones/areacontour.h"
#include "zones/safefile.h"

namespace {

QByteArray pointLines(const std::vector<cv::Point> &points)
{
    QByteArray text = QByteArray::number(static_cast<qulonglong>(points.size())) + '\n';
    for (const cv::Point &p : points)
        text += QByteArray::number(p.x) + ',' + QByteArray::number(p.y) + '\n';
    return text;
}

bool parsePair(const QByteArray &line, int &a, int &b)
{
    const QList<QByteArray> fields = line.split(',');
    bool okA = false;
    bool okB = false;
    if (fields.size() == 2) {
        a = fields[0].toInt(&okA);
        b = fields[1].toInt(&okB);
    }
    return okA && okB;
}

// `count` line then that many points, from `lines` at `next`.
bool parsePoints(const QList<QByteArray> &lines, int &next, std::vector<cv::Point> &points)
{
    if (next >= lines.size())
        return false;
    bool ok = false;
    const int count = lines[next++].toInt(&ok);
    if (!ok || count < 0 || count > lines.size() - next)
        return false;
    points.clear();
    points.reserve(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        cv::Point p;
        if (!parsePair(lines[next++], p.x, p.y))
            return false;
        points.push_back(p);
    }
    return true;
}

} // namespace

bool ZoneSnapshot::write(
    const QString &path, const AreaContour &zones, const cv::Size &frameSize, QString &error)
{
    const QByteArray text = QByteArray::number(frameSize.width) + ','
        + QByteArray::number(frameSize.height) + '\n' + pointLines(zones.getArea())
        + pointLines(zones.getMask());
    error = SafeFile::save(path, text);
    return error.isEmpty();
}

bool ZoneSnapshot::read(
    const QString &path, AreaContour &zones, cv::Size &frameSize, QString &error)
{
    QFile file;
    if (!SafeFile::openForReading(file, path, &error))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    int next = 1;
    std::vector<cv::Point> area;
    std::vector<cv::Point> mask;
    if (lines.isEmpty() || !parsePair(lines[0], frameSize.width, frameSize.height)
        || frameSize.width <= 0 || frameSize.height <= 0 || !parsePoints(lines, next, area)
        || !parsePoints(lines, next, mask)) {
        error = QStringLiteral("%1 holds no boxes of a run").arg(path);
        return false;
    }
    zones.clearArea();
    zones.clearMask();
    for (const cv::Point &p : area)
        zones.addAreaPoint(p);
    for (const cv::Point &p : mask)
        zones.addMaskPoint(p);
    return true;
}
