#include "imgproc/targettracker.h"

#include <QTextStream>

#include "imgproc/targetpool.h"
#include "logging.h"

TargetTracker::TargetTracker(int max_age, int max_distance)
    : max_age(max_age)
    , max_distance(max_distance)
{
}

void TargetTracker::track(TargetList &detected, TargetList &tracked)
{
    age_targets(tracked);

    if (!detected.empty() && !tracked.empty()) {
        compute_costs(detected, tracked);
        costs.copyTo(results);
        munkres.setVerbose(false);
        munkres.solve(results);
        display(QStringLiteral("Costs"), costs, detected, tracked);
        display(QStringLiteral("Results"), results, detected, tracked);

        const int columns = static_cast<int>(tracked.size());
        for (size_t i = 0; i < detected.size(); ++i) {
            Target *d = detected[i];
            const int *result = results.ptr<int>(static_cast<int>(i));
            const int *cost = costs.ptr<int>(static_cast<int>(i));
            qCDebug(lcImgproc, "Looking at detected # %d", d->id);
            bool merged = false;
            for (int j = 0; j < columns; ++j) {
                qCDebug(lcImgproc, "Looking at tracked # %d", j);
                if (result[j] != 0 || cost[j] > max_distance)
                    continue;
                Target *t = tracked[static_cast<size_t>(j)];
                qCDebug(lcImgproc, "Target Tracked #%d matched", j);
                t->update(*d);
                t->agemovement += 1;
                t->age = 0;
                qCDebug(lcImgproc, "Update target %d with target %d", t->id, d->id);
                TargetPool::instance().release(d);
                merged = true;
                break;
            }
            if (!merged) {
                // Appended after the columns of the matrix, so it is never a
                // candidate for the detections that follow.
                d->age = 0;
                d->agemovement = 0;
                tracked.push_back(d);
            }
        }
        // Every detection was either merged or moved to the tracks.
        detected.clear();
    }

    for (Target *d : detected) {
        d->age = 0;
        d->agemovement = 0;
        tracked.push_back(d);
    }
    detected.clear();
}

void TargetTracker::age_targets(TargetList &tracked) const
{
    for (Target *t : tracked) {
        if (t->age > 0)
            t->agemovement = 0;
    }
    size_t kept = 0;
    for (Target *t : tracked) {
        t->age += 1;
        if (t->age >= max_age)
            TargetPool::instance().release(t);
        else
            tracked[kept++] = t;
    }
    tracked.resize(kept);
}

void TargetTracker::compute_costs(const TargetList &detected, const TargetList &tracked)
{
    const int rows = static_cast<int>(detected.size());
    const int cols = static_cast<int>(tracked.size());
    costs.create(rows, cols, CV_32SC1);
    for (int i = 0; i < rows; ++i) {
        int *cost = costs.ptr<int>(i);
        const Target &d = *detected[static_cast<size_t>(i)];
        for (int j = 0; j < cols; ++j)
            cost[j] = static_cast<int>(d.distance_to(*tracked[static_cast<size_t>(j)]));
    }
}

void TargetTracker::display(
    const QString &title, const cv::Mat &matrix, const TargetList &rows, const TargetList &cols)
{
    if (!lcImgproc().isDebugEnabled())
        return;
    QString text;
    QTextStream out(&text);
    out << title << '\n' << '\t';
    for (const Target *c : cols)
        out << c->id << '\t';
    out << '\n';
    cv::Mat values = matrix;
    if (matrix.type() != CV_32SC1)
        matrix.convertTo(values, CV_32S);
    for (int i = 0; i < values.rows && i < static_cast<int>(rows.size()); ++i) {
        out << rows[static_cast<size_t>(i)]->id << ":\t";
        const int *row = values.ptr<int>(i);
        for (int j = 0; j < values.cols; ++j)
            out << row[j] << '\t';
        out << '\n';
    }
    out.flush();
    qCDebug(lcImgproc).noquote() << text;
}
