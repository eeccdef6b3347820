#include "zones/runrecord.h"

#include <cmath>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include "zones/safefile.h"

namespace {

QJsonArray pointsToJson(const std::vector<cv::Point> &points)
{
    QJsonArray array;
    for (const cv::Point &p : points)
        array.append(QJsonArray { p.x, p.y });
    return array;
}

bool pointsFromJson(const QJsonValue &value, std::vector<cv::Point> &points)
{
    if (!value.isArray())
        return false;
    points.clear();
    for (const QJsonValue &item : value.toArray()) {
        const QJsonArray pair = item.toArray();
        if (pair.size() != 2 || !pair[0].isDouble() || !pair[1].isDouble())
            return false;
        points.emplace_back(pair[0].toInt(), pair[1].toInt());
    }
    return true;
}

// A frame number, or null for none.
QJsonValue frameToJson(double frame)
{
    return frame < 0 ? QJsonValue() : QJsonValue(frame);
}

double frameFromJson(const QJsonValue &value)
{
    return value.isDouble() ? value.toDouble() : -1;
}

QString statusName(RunRecord::Status status)
{
    return status == RunRecord::Status::Complete ? QStringLiteral("complete")
                                                 : QStringLiteral("partial");
}

} // namespace

QString RunRecord::formatTime(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QJsonObject RunRecord::toJson() const
{
    QJsonObject json;
    json[QStringLiteral("version")] = version;
    json[QStringLiteral("video")] = video;
    json[QStringLiteral("method")] = QJsonObject { { QStringLiteral("name"), method },
        { QStringLiteral("parameters"), parameters } };
    json[QStringLiteral("countingBox")] = pointsToJson(countingBox);
    json[QStringLiteral("trackingBox")] = pointsToJson(trackingBox);
    json[QStringLiteral("frameWidth")] = frameWidth;
    json[QStringLiteral("frameHeight")] = frameHeight;
    json[QStringLiteral("fps")] = fps;
    json[QStringLiteral("declaredFrames")] = declaredFrames;
    json[QStringLiteral("firstFrame")] = frameToJson(firstFrame);
    json[QStringLiteral("lastFrame")] = frameToJson(lastFrame);
    json[QStringLiteral("framesProcessed")] = framesProcessed;
    json[QStringLiteral("in")] = in;
    json[QStringLiteral("out")] = out;
    json[QStringLiteral("started")] = formatTime(started);
    json[QStringLiteral("ended")] = formatTime(ended);
    json[QStringLiteral("status")] = statusName(status);
    if (status == Status::Partial)
        json[QStringLiteral("reason")] = reason;
    if (!reviewStatus.isEmpty())
        json[QStringLiteral("review")] = QJsonObject { { QStringLiteral("status"), reviewStatus },
            { QStringLiteral("in"), reviewedIn }, { QStringLiteral("out"), reviewedOut } };
    return json;
}

bool RunRecord::fromJson(const QJsonObject &json, RunRecord &record, QString *error)
{
    const auto fail = [error](const QString &what) {
        if (error)
            *error = what;
        return false;
    };
    RunRecord r;
    const QString statusText = json.value(QStringLiteral("status")).toString();
    if (statusText == statusName(Status::Complete))
        r.status = Status::Complete;
    else if (statusText == statusName(Status::Partial))
        r.status = Status::Partial;
    else
        return fail(QStringLiteral("unknown status \"%1\"").arg(statusText));
    const QJsonObject method = json.value(QStringLiteral("method")).toObject();
    r.method = method.value(QStringLiteral("name")).toString();
    if (r.method.isEmpty())
        return fail(QStringLiteral("no counting method"));
    r.parameters = method.value(QStringLiteral("parameters")).toObject();
    if (!pointsFromJson(json.value(QStringLiteral("countingBox")), r.countingBox)
        || !pointsFromJson(json.value(QStringLiteral("trackingBox")), r.trackingBox))
        return fail(QStringLiteral("malformed box"));
    r.version = json.value(QStringLiteral("version")).toString();
    r.video = json.value(QStringLiteral("video")).toString();
    r.frameWidth = json.value(QStringLiteral("frameWidth")).toInt();
    r.frameHeight = json.value(QStringLiteral("frameHeight")).toInt();
    r.fps = json.value(QStringLiteral("fps")).toDouble();
    r.declaredFrames = json.value(QStringLiteral("declaredFrames")).toDouble();
    r.firstFrame = frameFromJson(json.value(QStringLiteral("firstFrame")));
    r.lastFrame = frameFromJson(json.value(QStringLiteral("lastFrame")));
    r.framesProcessed = json.value(QStringLiteral("framesProcessed")).toInt();
    r.in = json.value(QStringLiteral("in")).toInt();
    r.out = json.value(QStringLiteral("out")).toInt();
    r.started
        = QDateTime::fromString(json.value(QStringLiteral("started")).toString(), Qt::ISODate);
    r.ended = QDateTime::fromString(json.value(QStringLiteral("ended")).toString(), Qt::ISODate);
    r.reason = json.value(QStringLiteral("reason")).toString();
    const QJsonObject review = json.value(QStringLiteral("review")).toObject();
    r.reviewStatus = review.value(QStringLiteral("status")).toString();
    r.reviewedIn = review.value(QStringLiteral("in")).toInt();
    r.reviewedOut = review.value(QStringLiteral("out")).toInt();
    record = r;
    return true;
}

bool RunRecord::save(const QString &path, QString *error) const
{
    const QString problem = SafeFile::save(path, bytes());
    if (error)
        *error = problem;
    return problem.isEmpty();
}

QByteArray RunRecord::bytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

bool RunRecord::load(const QString &path, RunRecord &record, QString *error)
{
    QFile file;
    if (!SafeFile::openForReading(file, path, error))
        return false;
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parse);
    if (!document.isObject()) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path,
                parse.error == QJsonParseError::NoError ? QStringLiteral("not a JSON object")
                                                        : parse.errorString());
        return false;
    }
    QString why;
    if (!fromJson(document.object(), record, &why)) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}

bool RunRecord::operator==(const RunRecord &o) const
{
    return version == o.version && video == o.video && method == o.method
        && parameters == o.parameters && countingBox == o.countingBox
        && trackingBox == o.trackingBox && frameWidth == o.frameWidth
        && frameHeight == o.frameHeight && fps == o.fps && declaredFrames == o.declaredFrames
        && firstFrame == o.firstFrame && lastFrame == o.lastFrame
        && framesProcessed == o.framesProcessed && in == o.in && out == o.out
        && started == o.started && ended == o.ended && status == o.status && reason == o.reason
        && reviewStatus == o.reviewStatus && reviewedIn == o.reviewedIn
        && reviewedOut == o.reviewedOut;
}
