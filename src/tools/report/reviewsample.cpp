#include "report/reviewsample.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "zones/resultfile.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"
#include "zones/videoreview.h"

namespace {

const char header[] = "Video;Frame;X;Y;In;Out";

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// The videos with a count file, in file name order.
QStringList countedVideos(const QString &folder)
{
    QStringList videos = VideoFiles::listVideos(folder);
    std::sort(videos.begin(), videos.end(), [](const QString &a, const QString &b) {
        return QFileInfo(a).fileName() < QFileInfo(b).fileName();
    });
    videos.erase(std::remove_if(videos.begin(), videos.end(),
                     [](const QString &v) { return !VideoFiles::counted(v); }),
        videos.end());
    return videos;
}

} // namespace

QVector<int> ReviewSample::select(int total, int size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    QVector<int> taken;
    int wanted = std::clamp(size, 0, std::max(total, 0));
    for (int i = 0; i < total && wanted > 0; ++i) {
        const std::uint64_t left = static_cast<std::uint64_t>(total - i);
        if ((static_cast<std::uint64_t>(random()) * left) >> 32
            < static_cast<std::uint64_t>(wanted)) {
            taken.append(i);
            --wanted;
        }
    }
    return taken;
}

ReviewSample ReviewSample::draw(const QString &folder, int size, std::uint32_t seed)
{
    ReviewSample sample;
    sample.seed = seed;
    QVector<Pick> all;
    for (const QString &video : countedVideos(folder)) {
        VideoReview counts;
        QString problem;
        if (!counts.open(video, &problem))
            continue;
        for (const Result &r : counts.events())
            all.append({ QFileInfo(video).fileName(), r });
    }
    sample.total = all.size();
    for (const int i : select(all.size(), size, seed))
        sample.picks.append(all[i]);
    return sample;
}

bool ReviewSample::save(const QString &folder, QString *error) const
{
    const QString path = VideoFiles::reviewSampleFile(folder);
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return fail(error, QStringLiteral("%1: is no regular file").arg(path));
    if (!QDir().mkpath(VideoFiles::folderExportDir(folder)))
        return fail(error,
            QStringLiteral("%1: cannot be created").arg(VideoFiles::folderExportDir(folder)));
    QString text = QStringLiteral("# seed=%1 size=%2 events=%3\n%4\n")
                       .arg(seed)
                       .arg(picks.size())
                       .arg(total)
                       .arg(QLatin1String(header));
    for (const Pick &p : picks) {
        text += QStringLiteral("%1;%2;%3;%4;%5;%6\n")
                    .arg(p.video, ResultFile::formatFrame(p.event.frame))
                    .arg(p.event.x)
                    .arg(p.event.y)
                    .arg(p.event.in)
                    .arg(p.event.out);
    }
    const QString problem = SafeFile::save(path, text.toUtf8());
    return problem.isEmpty() || fail(error, problem);
}

bool ReviewSample::load(const QString &folder, ReviewSample &sample, QString *error)
{
    const QString path = VideoFiles::reviewSampleFile(folder);
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile())
        return fail(error, QStringLiteral("%1: no regular file").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    const QStringList lines
        = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ReviewSample read;
    int size = -1;
    if (lines.size() >= 2 && lines[1] == QLatin1String(header)) {
        for (const QString &word : lines[0].split(QLatin1Char(' '))) {
            const QString value = word.section(QLatin1Char('='), 1);
            if (word.startsWith(QLatin1String("seed=")))
                read.seed = value.toUInt();
            else if (word.startsWith(QLatin1String("size=")))
                size = value.toInt();
            else if (word.startsWith(QLatin1String("events=")))
                read.total = value.toInt();
        }
    }
    for (int i = 2; size >= 0 && i < lines.size(); ++i) {
        const QStringList f = lines[i].split(QLatin1Char(';'));
        if (f.size() != 6)
            return fail(
                error, QStringLiteral("%1: line %2 is no sampled event").arg(path).arg(i + 1));
        Pick p { f[0], Result() };
        bool ok[5] = {};
        p.event.frame = f[1].toDouble(&ok[0]);
        p.event.x = f[2].toInt(&ok[1]);
        p.event.y = f[3].toInt(&ok[2]);
        p.event.in = f[4].toInt(&ok[3]);
        p.event.out = f[5].toInt(&ok[4]);
        if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }))
            return fail(
                error, QStringLiteral("%1: line %2 is no sampled event").arg(path).arg(i + 1));
        read.picks.append(p);
    }
    if (size < 0 || size != read.picks.size())
        return fail(error, QStringLiteral("%1: not a review sample").arg(path));
    sample = read;
    return true;
}

ReviewSample::Precision ReviewSample::precision(const QString &folder) const
{
    Precision result;
    std::map<QString, VideoReview> reviews;
    for (const Pick &p : picks) {
        auto found = reviews.find(p.video);
        if (found == reviews.end()) {
            found = reviews.emplace(p.video, VideoReview()).first;
            QString problem;
            found->second.open(QDir(folder).filePath(p.video), &problem);
        }
        const VideoReview &review = found->second;
        ReviewFile::Decision decision = ReviewFile::Decision::Unreviewed;
        if (review.binding() == VideoReview::Binding::Bound) {
            const QVector<Result> &events = review.events();
            for (int i = 0; i < events.size(); ++i) {
                const Result &e = events[i];
                if (e.frame == p.event.frame && e.x == p.event.x && e.y == p.event.y) {
                    decision = review.decision(i);
                    if (decision != ReviewFile::Decision::Unreviewed)
                        break;
                }
            }
        }
        result.confirmed += decision == ReviewFile::Decision::Confirmed ? 1 : 0;
        result.rejected += decision == ReviewFile::Decision::Rejected ? 1 : 0;
        result.unreviewed += decision == ReviewFile::Decision::Unreviewed ? 1 : 0;
    }
    const int decided = result.confirmed + result.rejected;
    if (decided > 0)
        result.value = double(result.confirmed) / decided;
    wilson(result.confirmed, decided, result.low, result.high);
    return result;
}

void ReviewSample::wilson(int successes, int trials, double &low, double &high)
{
    if (trials <= 0) {
        low = 0;
        high = 1;
        return;
    }
    const double z = 1.959963984540054; // the normal's 97.5 % quantile
    const double n = trials;
    const double p = successes / n;
    const double z2 = z * z;
    const double centre = (p + z2 / (2 * n)) / (1 + z2 / n);
    const double half = z / (1 + z2 / n) * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
    low = std::max(0.0, centre - half);
    high = std::min(1.0, centre + half);
}
