#include "zones/videoreview.h"

#include <map>
#include <tuple>
#include <vector>

#include <QFileInfo>

#include "logging.h"
#include "zones/resultfile.h"
#include "zones/runlock.h"
#include "zones/runrecord.h"
#include "zones/videofiles.h"

namespace {

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

using Place = std::tuple<double, int, int>;

Place placeOf(const Result &r)
{
    return Place(r.frame, r.x, r.y);
}

} // namespace

bool VideoReview::open(const QString &videoPath, QString *error)
{
    *this = VideoReview();
    path = videoPath;
    const QString countPath = VideoFiles::resultFile(videoPath);
    if (!ReviewFile::sha256OfFile(countPath, sha256, error))
        return false;
    std::optional<QVector<Result>> read = ResultFile::readAll(countPath);
    if (!read)
        return fail(error, QStringLiteral("%1: cannot be read").arg(countPath));
    counts = std::move(*read);
    decisions.fill(Decision::Unreviewed, counts.size());

    const QString reviewPath = VideoFiles::reviewFile(videoPath);
    if (!QFileInfo::exists(reviewPath) && !QFileInfo(reviewPath).isSymLink())
        return true;
    if (!ReviewFile::load(reviewPath, stored, &problem)) {
        bound = Binding::Unreadable;
        return true;
    }
    if (stored.countsSha256 != sha256) {
        bound = Binding::Stale;
        return true;
    }
    bound = Binding::Bound;
    apply(stored);
    return true;
}

void VideoReview::apply(const ReviewFile &review)
{
    // Several events at one frame and place pair up in file order.
    std::map<Place, std::vector<int>> free;
    for (int i = counts.size() - 1; i >= 0; --i)
        free[placeOf(counts[i])].push_back(i);
    for (const ReviewFile::Entry &e : review.entries) {
        if (e.decision == Decision::Added) {
            extra.append(e.event);
            continue;
        }
        std::vector<int> &left = free[placeOf(e.event)];
        if (left.empty()) {
            qCDebug(lcZones) << "No event at frame" << e.event.frame << "x" << e.event.x << "y"
                             << e.event.y << "for a decision of" << path;
            continue;
        }
        decisions[left.back()] = e.decision;
        left.pop_back();
    }
}

bool VideoReview::save(QString *error)
{
    ReviewFile review;
    review.countsSha256 = sha256;
    for (int i = 0; i < counts.size(); ++i) {
        if (decisions[i] != Decision::Unreviewed)
            review.entries.append({ counts[i], decisions[i] });
    }
    for (const Result &r : extra)
        review.entries.append({ r, Decision::Added });
    if (!review.save(VideoFiles::reviewFile(path), error))
        return false;
    bound = Binding::Bound;
    stored = ReviewFile();
    updateRunRecord();
    return true;
}

void VideoReview::updateRunRecord()
{
    recordWarning.clear();
    const QString recordPath = VideoFiles::runRecordFile(path);
    const QFileInfo info(recordPath);
    if (!info.exists() || info.isSymLink() || !info.isFile())
        return;
    // A run that holds the video replaces the counts and the record anyway.
    RunLock lock;
    if (lock.take(VideoFiles::lockFile(path)) != RunLock::Take::Taken)
        return;
    RunRecord record;
    if (!RunRecord::load(recordPath, record, &recordWarning))
        return;
    const Tally t = tally();
    int in = 0;
    int out = 0;
    for (const Result &r : counts) {
        in += r.in;
        out += r.out;
    }
    // A record of other counts (a run whose count file was replaced by hand).
    if (record.in != in || record.out != out)
        return;
    record.reviewStatus = t.status == Status::None ? QString() : statusName(t.status);
    record.reviewedIn = t.in;
    record.reviewedOut = t.out;
    if (!record.save(recordPath, &recordWarning))
        qCWarning(lcZones).noquote() << "Cannot write the reviewed totals to" << recordWarning;
}

bool VideoReview::decide(int event, Decision decision, QString *error)
{
    if (event < 0 || event >= counts.size() || decision == Decision::Added)
        return fail(error, QStringLiteral("no such event"));
    if (bound == Binding::Stale || bound == Binding::Unreadable)
        return fail(error,
            QStringLiteral("the counts changed since the review: carry the decisions over or start "
                           "again first"));
    const Decision before = decisions[event];
    decisions[event] = decision;
    if (save(error))
        return true;
    decisions[event] = before;
    return false;
}

bool VideoReview::addEvent(const Result &event, QString *error)
{
    if (bound == Binding::Stale || bound == Binding::Unreadable)
        return fail(error,
            QStringLiteral("the counts changed since the review: carry the decisions over or start "
                           "again first"));
    extra.append(event);
    if (save(error))
        return true;
    extra.removeLast();
    return false;
}

bool VideoReview::carryOver(QString *error)
{
    const QVector<Decision> beforeDecisions = decisions;
    const QVector<Result> beforeExtra = extra;
    apply(stored);
    if (save(error))
        return true;
    decisions = beforeDecisions;
    extra = beforeExtra;
    return false;
}

bool VideoReview::startAgain(QString *error)
{
    const QVector<Decision> beforeDecisions = decisions;
    const QVector<Result> beforeExtra = extra;
    decisions.fill(Decision::Unreviewed);
    extra.clear();
    if (save(error))
        return true;
    decisions = beforeDecisions;
    extra = beforeExtra;
    return false;
}

VideoReview::Tally VideoReview::tally() const
{
    Tally t;
    if (bound == Binding::Stale || bound == Binding::Unreadable) {
        t.unreviewed = counts.size();
        return t;
    }
    auto take = [&t](const Result &r) {
        t.in += r.in;
        t.out += r.out;
    };
    for (int i = 0; i < counts.size(); ++i) {
        switch (decisions[i]) {
        case Decision::Confirmed:
            ++t.confirmed;
            take(counts[i]);
            break;
        case Decision::Rejected:
            ++t.rejected;
            break;
        case Decision::Unreviewed:
        case Decision::Added:
            ++t.unreviewed;
            break;
        }
    }
    for (const Result &r : extra) {
        ++t.added;
        take(r);
    }
    if (t.confirmed + t.rejected + t.added == 0)
        t.status = Status::None;
    else
        t.status = t.unreviewed == 0 ? Status::Complete : Status::Partial;
    return t;
}

QString VideoReview::statusName(Status status)
{
    switch (status) {
    case Status::Partial:
        return QStringLiteral("partial");
    case Status::Complete:
        return QStringLiteral("complete");
    case Status::None:
        break;
    }
    return QStringLiteral("none");
}
