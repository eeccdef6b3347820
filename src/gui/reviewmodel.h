#pragma once

#include <deque>
#include <optional>
#include <vector>

#include <opencv2/core/types.hpp>

#include <QAbstractListModel>
#include <QImage>
#include <QString>
#include <QVector>

#include "video/clipdecoder.h"
#include "zones/videoreview.h"

// The events under review as a list of tiles: every event of the videos'
// count files (or of a sample of them) and the events the user added, each
// with its decision, its description and, once decoded, its clip. Decisions
// go to the videos' review files at once (VideoReview).
class ReviewModel final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        DecisionRole = Qt::UserRole + 1, // ReviewFile::Decision as int
        FrameImageRole, // QImage: the clip's frame for the current tick; null before decoding
        EventFrameRole, // bool: that frame is the one the event was counted in
        ClipErrorRole, // QString: why there is no clip
    };

    struct Video
    {
        QString path;
        VideoReview review;
        cv::Size frameSize;
        double fps = 0;
        std::vector<cv::Point> countingBox; // a line when it has two points
        QString method; // from the run record; empty without one
    };

    explicit ReviewModel(QObject *parent = nullptr);

    // Every event of `videos` (of the one video, usually).
    bool setVideos(const QStringList &videos, QString *error);
    // The sampled events only, across the folder.
    bool setPicks(
        const QString &folder, const QVector<QPair<QString, Result>> &picks, QString *error);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    const QVector<Video> &videos() const { return loaded; }
    int videoOf(int row) const { return rows.value(row).video; }
    ReviewFile::Decision decision(int row) const;
    const Result &event(int row) const;
    bool isLine(int video) const;
    // "crossing left to right", "entry", ...
    QString kindText(int row) const;

    bool decide(int row, ReviewFile::Decision decision, QString *error);
    // Adds an event of video `video` the method missed; its row, none
    // when it could not be saved.
    std::optional<int> addEvent(int video, const Result &event, QString *error);
    // For a video whose review belongs to other counts.
    bool carryOver(int video, QString *error);
    bool startAgain(int video, QString *error);

    // Counts of the rows by decision.
    int count(ReviewFile::Decision decision) const;
    VideoReview::Tally tally() const; // summed over the videos

    // How far a tile's decoding has come: a tile shows its event's frame
    // while its clip is decoded.
    enum class Stage {
        Waiting,
        EventFrame, // the event's frame decoded (or failed to), the clip to come
        Clip, // the clip, or why there is none
    };

    // The clip request of a row.
    ClipDecoder::Request clipRequest(int row) const;
    Stage stage(int row) const { return clips.value(row).stage; }
    bool hasClip(int row) const { return stage(row) == Stage::Clip; }
    // Whether the tile shows a picture or an error rather than "decoding...".
    bool showsSomething(int row) const
    {
        return !clips.value(row).frames.isEmpty() || !clips.value(row).error.isEmpty();
    }
    // A clip, or the event's frame alone; the clip replaces the event's
    // frame, never the other way round.
    void setClip(const ClipDecoder::Clip &clip);
    // Frees the clips and event frames of rows outside `keep`.
    void dropClipsExcept(const QVector<int> &keep);
    int clipCount() const;
    // Next frame of every clip.
    void advance();

private:
    struct Row
    {
        int video = 0;
        int event = 0; // index into the video's events, or into its added ones
        bool added = false;
    };
    struct TileClip
    {
        QVector<QImage> frames; // cropped, counting line drawn in
        int eventFrame = -1; // which of them the event was counted in
        QString error;
        Stage stage = Stage::Waiting;
    };

    bool load(const QStringList &videos, QString *error);
    void sortRows();

    QVector<Video> loaded;
    QVector<Row> rows;
    QVector<TileClip> clips; // by row
    int generation = 0; // clip ids of earlier row lists are ignored
    int tick = 0;
};
