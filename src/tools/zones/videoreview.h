#pragma once

#include <QString>
#include <QVector>

#include "imgproc/result.h"
#include "zones/reviewfile.h"

// A video's counts with the user's decisions on them: the count file
// (never changed) read in file order, and its review file bound to it by the
// count file's SHA-256. Every change is saved at once, complete or not at
// all; a change that cannot be saved is undone and says why.
//
//   VideoReview review;
//   if (!review.open(video, &error)) ...
//   if (review.binding() == VideoReview::Binding::Stale) ... carryOver() or startAgain()
//   review.decide(3, ReviewFile::Decision::Confirmed, &error);
class VideoReview
{
public:
    using Decision = ReviewFile::Decision;

    enum class Binding {
        Fresh, // no review file yet
        Bound, // the review was made on these counts
        Stale, // the review was made on other counts: a new run
        Unreadable, // a review file that cannot be read; left as it is until replaced
    };
    enum class Status { None, Partial, Complete };

    struct Tally
    {
        int confirmed = 0;
        int rejected = 0;
        int added = 0;
        int unreviewed = 0;
        int in = 0; // of confirmed and added events
        int out = 0;
        Status status = Status::None;
    };

    // False with `error` when the count file is missing or unreadable.
    bool open(const QString &videoPath, QString *error);

    const QString &video() const { return path; }
    const QVector<Result> &events() const { return counts; }
    Decision decision(int event) const { return decisions.value(event, Decision::Unreviewed); }
    const QVector<Result> &added() const { return extra; }
    Binding binding() const { return bound; }
    // Why the review file could not be read, for Unreadable.
    const QString &bindingProblem() const { return problem; }

    // Not while Stale or Unreadable: carryOver() or startAgain() first.
    bool decide(int event, Decision decision, QString *error);
    bool addEvent(const Result &event, QString *error);

    // From a stale review: the decisions on events at the same frame and
    // place (x, y), and the added events, bound to the current counts.
    bool carryOver(QString *error);
    // Drops the earlier review: a fresh one, bound to the current counts.
    bool startAgain(QString *error);

    Tally tally() const;
    static QString statusName(Status status); // "none", "partial", "complete"

    // After a change was saved: why the run record could not take the
    // reviewed totals (the review itself is saved). Empty when it could.
    const QString &recordProblem() const { return recordWarning; }

private:
    // The decisions of `review` on the events at the same frame and place.
    void apply(const ReviewFile &review);
    bool save(QString *error);
    // The reviewed totals into the run record, unless a run holds the video.
    void updateRunRecord();

    QString path;
    QVector<Result> counts;
    QVector<Decision> decisions;
    QVector<Result> extra;
    QByteArray sha256;
    Binding bound = Binding::Fresh;
    ReviewFile stored; // as read, for a stale review
    QString problem;
    QString recordWarning;
};
