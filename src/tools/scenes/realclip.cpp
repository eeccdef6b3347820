#include "scenes/realclip.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTextStream>

namespace {

// A Kestrin box file: one "x,y" per line, a closed box repeating its first
// point at the end.
bool readBox(const QString &fileName, std::vector<cv::Point> &points, QString *error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return false;
    }
    points.clear();
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        const QStringList xy = line.split(QLatin1Char(','));
        bool okX = false;
        bool okY = false;
        const cv::Point p(xy.value(0).toInt(&okX), xy.value(1).toInt(&okY));
        if (xy.size() != 2 || !okX || !okY) {
            *error = QStringLiteral("%1: not a point: %2").arg(fileName, line);
            return false;
        }
        points.push_back(p);
    }
    if (points.size() > 3 && points.front() == points.back())
        points.pop_back();
    if (points.size() < 2) {
        *error = QStringLiteral("%1 has fewer than two points").arg(fileName);
        return false;
    }
    return true;
}

} // namespace

bool RealClip::parseEvent(const QString &line, GroundTruthScene::Event &event)
{
    const QStringList cells = line.split(QLatin1Char(';'));
    if (cells.size() != 7)
        return false;
    bool ok[5] = {};
    event.frame = cells[0].toInt(&ok[0]);
    event.position = cv::Point(cells[1].toInt(&ok[1]), cells[2].toInt(&ok[2]));
    event.first = cells[5].toInt(&ok[3]);
    event.last = cells[6].toInt(&ok[4]);
    if (!(ok[0] && ok[1] && ok[2] && ok[3] && ok[4]) || event.first > event.frame
        || event.last < event.frame)
        return false;
    event.direction = GroundTruthScene::Direction::None;
    if (cells[3] == QLatin1String("crossing")) {
        event.kind = GroundTruthScene::Crossing;
        if (cells[4] == QLatin1String("left-to-right"))
            event.direction = GroundTruthScene::Direction::LeftToRight;
        else if (cells[4] == QLatin1String("right-to-left"))
            event.direction = GroundTruthScene::Direction::RightToLeft;
        else
            return false;
        return true;
    }
    if (cells[3] == QLatin1String("entry"))
        event.kind = GroundTruthScene::Entry;
    else if (cells[3] == QLatin1String("exit"))
        event.kind = GroundTruthScene::Exit;
    else
        return false;
    return cells[4].isEmpty();
}

std::optional<RealClip> RealClip::load(const QString &truthFolder, QString *error)
{
    const QDir folder(truthFolder);
    RealClip clip;
    if (!readBox(folder.filePath(QStringLiteral("flies_line_area.krn")), clip.countingLine, error)
        || !readBox(folder.filePath(QStringLiteral("flies_box_area.krn")), clip.countingBox, error)
        || !readBox(folder.filePath(QStringLiteral("flies_mask.krn")), clip.trackingBox, error))
        return std::nullopt;
    if (clip.countingLine.size() != 2 || clip.countingBox.size() < 3) {
        *error
            = QStringLiteral("the counting line needs two points, the counting box three or more");
        return std::nullopt;
    }
    const QString fileName = folder.filePath(QStringLiteral("flies_truth.csv"));
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read %1: %2").arg(fileName, file.errorString());
        return std::nullopt;
    }
    QTextStream in(&file);
    in.readLine(); // the header
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty())
            continue;
        GroundTruthScene::Event event;
        if (!parseEvent(line, event)) {
            *error = QStringLiteral("%1: not an event: %2").arg(fileName, line);
            return std::nullopt;
        }
        clip.events.push_back(event);
    }
    return clip;
}

std::vector<GroundTruthScene::Event> RealClip::truth(bool atLine) const
{
    std::vector<GroundTruthScene::Event> chosen;
    for (const GroundTruthScene::Event &e : events) {
        if ((e.kind == GroundTruthScene::Crossing) == atLine)
            chosen.push_back(e);
    }
    return chosen;
}
