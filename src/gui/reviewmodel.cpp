#include "reviewmodel.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QDir>
#include <QFileInfo>

#include "zones/areacontour.h"
#include "zones/runrecord.h"
#include "zones/videofiles.h"

namespace {

// Clip ids carry the row list's generation: a clip of an earlier list never
// lands on a tile of the current one.
constexpr int kRowBits = 20;

QImage toImage(const cv::Mat &bgr)
{
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    return QImage(rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888)
        .copy();
}

} // namespace

ReviewModel::ReviewModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

bool ReviewModel::load(const QStringList &videos, QString *error)
{
    QVector<Video> opened;
    for (const QString &path : videos) {
        Video v;
        v.path = path;
        if (!v.review.open(path, error))
            return false;
        cv::VideoCapture capture;
        if (VideoFiles::openCapture(capture, path)) {
            v.frameSize = cv::Size(static_cast<int>(capture.get(cv::CAP_PROP_FRAME_WIDTH)),
                static_cast<int>(capture.get(cv::CAP_PROP_FRAME_HEIGHT)));
            v.fps = capture.get(cv::CAP_PROP_FPS);
        }
        AreaContour zones;
        zones.loadArea(path);
        v.countingBox = zones.getArea();
        RunRecord record;
        QString ignored;
        if (RunRecord::load(VideoFiles::runRecordFile(path), record, &ignored))
            v.method = record.method;
        opened.append(v);
    }
    beginResetModel();
    loaded = opened;
    rows.clear();
    ++generation;
    endResetModel();
    return true;
}

bool ReviewModel::setVideos(const QStringList &videos, QString *error)
{
    if (!load(videos, error))
        return false;
    beginResetModel();
    for (int v = 0; v < loaded.size(); ++v) {
        for (int i = 0; i < loaded[v].review.events().size(); ++i)
            rows.append({ v, i, false });
        for (int i = 0; i < loaded[v].review.added().size(); ++i)
            rows.append({ v, i, true });
    }
    sortRows();
    endResetModel();
    return true;
}

bool ReviewModel::setPicks(
    const QString &folder, const QVector<QPair<QString, Result>> &picks, QString *error)
{
    QStringList videos;
    for (const auto &pick : picks) {
        const QString path = QDir(folder).filePath(pick.first);
        if (!videos.contains(path))
            videos << path;
    }
    std::sort(videos.begin(), videos.end());
    if (!load(videos, error))
        return false;
    beginResetModel();
    for (const auto &pick : picks) {
        const int v = static_cast<int>(videos.indexOf(QDir(folder).filePath(pick.first)));
        const QVector<Result> &events = loaded[v].review.events();
        for (int i = 0; i < events.size(); ++i) {
            const Result &e = events[i];
            const bool taken = std::any_of(rows.begin(), rows.end(),
                [&](const Row &r) { return r.video == v && !r.added && r.event == i; });
            if (!taken && e.frame == pick.second.frame && e.x == pick.second.x
                && e.y == pick.second.y) {
                rows.append({ v, i, false });
                break;
            }
        }
    }
    sortRows();
    endResetModel();
    return true;
}

void ReviewModel::sortRows()
{
    std::stable_sort(rows.begin(), rows.end(), [this](const Row &a, const Row &b) {
        if (a.video != b.video)
            return a.video < b.video;
        const QVector<Result> &ea
            = a.added ? loaded[a.video].review.added() : loaded[a.video].review.events();
        const QVector<Result> &eb
            = b.added ? loaded[b.video].review.added() : loaded[b.video].review.events();
        return ea[a.event].frame < eb[b.event].frame;
    });
    clips = QVector<TileClip>(rows.size());
}

int ReviewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

const Result &ReviewModel::event(int row) const
{
    const Row &r = rows[row];
    const VideoReview &review = loaded[r.video].review;
    return r.added ? review.added()[r.event] : review.events()[r.event];
}

ReviewFile::Decision ReviewModel::decision(int row) const
{
    const Row &r = rows[row];
    return r.added ? ReviewFile::Decision::Added : loaded[r.video].review.decision(r.event);
}

bool ReviewModel::isLine(int video) const
{
    return loaded[video].countingBox.size() == 2;
}

QString ReviewModel::kindText(int row) const
{
    const Result &e = event(row);
    if (isLine(rows[row].video)) {
        if (e.in && e.out)
            return tr("crossing");
        if (e.in)
            return tr("crossing left to right");
        if (e.out)
            return tr("crossing right to left");
    } else {
        if (e.in && e.out)
            return tr("entry and exit");
        if (e.in)
            return tr("entry");
        if (e.out)
            return tr("exit");
    }
    return tr("no count");
}

QVariant ReviewModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return QVariant();
    const int row = index.row();
    const Video &video = loaded[rows[row].video];
    const TileClip &clip = clips[row];
    switch (role) {
    case Qt::DisplayRole: {
        const Result &e = event(row);
        // The counter's stamps read "yyyy-MM-dd_hh:mm:ss": the time of day is what differs.
        const QString time = e.timestamp.contains(QLatin1Char('_'))
            ? e.timestamp.section(QLatin1Char('_'), 1)
            : e.timestamp;
        QString text = tr("Frame %1  %2").arg(e.frame, 0, 'f', 0).arg(time);
        text += QLatin1Char('\n') + kindText(row);
        if (!video.method.isEmpty())
            text += tr(", %1").arg(video.method);
        if (loaded.size() > 1)
            text += QLatin1Char('\n') + QFileInfo(video.path).fileName();
        return text;
    }
    case Qt::ToolTipRole:
        return QDir::toNativeSeparators(video.path);
    case DecisionRole:
        return static_cast<int>(decision(row));
    case FrameImageRole:
        return clip.frames.isEmpty() ? QImage() : clip.frames[tick % clip.frames.size()];
    case EventFrameRole:
        return !clip.frames.isEmpty() && tick % clip.frames.size() == clip.eventFrame;
    case ClipErrorRole:
        return clip.error;
    default:
        break;
    }
    return QVariant();
}

bool ReviewModel::decide(int row, ReviewFile::Decision decision, QString *error)
{
    const Row r = rows.value(row);
    if (row < 0 || row >= rows.size() || r.added)
        return false;
    if (!loaded[r.video].review.decide(r.event, decision, error))
        return false;
    emit dataChanged(index(row), index(row), { DecisionRole });
    return true;
}

std::optional<int> ReviewModel::addEvent(int video, const Result &event, QString *error)
{
    if (!loaded[video].review.addEvent(event, error))
        return std::nullopt;
    beginResetModel();
    rows.append({ video, loaded[video].review.added().size() - 1, true });
    const Row added = rows.last();
    sortRows();
    ++generation;
    endResetModel();
    for (int i = 0; i < rows.size(); ++i) {
        if (rows[i].added && rows[i].video == added.video && rows[i].event == added.event)
            return i;
    }
    return std::nullopt;
}

bool ReviewModel::carryOver(int video, QString *error)
{
    if (!loaded[video].review.carryOver(error))
        return false;
    // Carried-over added events become rows of their own.
    QStringList paths;
    for (const Video &v : loaded)
        paths << v.path;
    return setVideos(paths, error);
}

bool ReviewModel::startAgain(int video, QString *error)
{
    if (!loaded[video].review.startAgain(error))
        return false;
    emit dataChanged(index(0), index(rows.size() - 1), { DecisionRole });
    return true;
}

int ReviewModel::count(ReviewFile::Decision decision) const
{
    int n = 0;
    for (int row = 0; row < rows.size(); ++row)
        n += this->decision(row) == decision ? 1 : 0;
    return n;
}

VideoReview::Tally ReviewModel::tally() const
{
    VideoReview::Tally sum;
    for (const Video &v : loaded) {
        const VideoReview::Tally t = v.review.tally();
        sum.confirmed += t.confirmed;
        sum.rejected += t.rejected;
        sum.added += t.added;
        sum.unreviewed += t.unreviewed;
        sum.in += t.in;
        sum.out += t.out;
    }
    return sum;
}

ClipDecoder::Request ReviewModel::clipRequest(int row) const
{
    const Video &video = loaded[rows[row].video];
    const Result &e = event(row);
    // The count file names the frame before the one the insect was counted in.
    return ClipDecoder::around((generation << kRowBits) | row, video.path, video.frameSize,
        video.fps, e.frame + 1, cv::Point(e.x, e.y));
}

void ReviewModel::setClip(const ClipDecoder::Clip &clip)
{
    const int row = clip.id & ((1 << kRowBits) - 1);
    if ((clip.id >> kRowBits) != generation || row >= rows.size()
        || (clip.eventOnly && clips[row].stage == Stage::Clip))
        return;
    const ClipDecoder::Request request = clipRequest(row);
    const Video &video = loaded[rows[row].video];
    std::vector<cv::Point> line;
    for (const cv::Point &p : video.countingBox)
        line.push_back(p - request.crop.tl());
    const Result &e = event(row);
    TileClip tile;
    tile.stage = clip.eventOnly ? Stage::EventFrame : Stage::Clip;
    // Without the event's frame the tile waits for its clip, which says why.
    if (!clip.eventOnly)
        tile.error = clip.error;
    for (size_t i = 0; i < clip.frames.size(); ++i) {
        cv::Mat drawn = clip.frames[i].clone();
        if (line.size() >= 2)
            cv::polylines(drawn, line, false, cv::Scalar(0, 230, 255), 1, cv::LINE_AA);
        if (clip.indices[i] == request.event) {
            tile.eventFrame = static_cast<int>(i);
            cv::circle(drawn, cv::Point(e.x, e.y) - request.crop.tl(), 14, cv::Scalar(60, 60, 255),
                1, cv::LINE_AA);
        }
        tile.frames.append(toImage(drawn));
    }
    clips[row] = tile;
    emit dataChanged(index(row), index(row), { FrameImageRole, ClipErrorRole });
}

void ReviewModel::dropClipsExcept(const QVector<int> &keep)
{
    for (int row = 0; row < clips.size(); ++row) {
        const bool decoded = !clips[row].frames.isEmpty() || clips[row].stage == Stage::EventFrame;
        if (decoded && !keep.contains(row))
            clips[row] = TileClip();
    }
}

int ReviewModel::clipCount() const
{
    return static_cast<int>(std::count_if(clips.begin(), clips.end(),
        [](const TileClip &c) { return c.stage == Stage::Clip && !c.frames.isEmpty(); }));
}

void ReviewModel::advance()
{
    ++tick;
}
