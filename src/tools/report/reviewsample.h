#pragma once

#include <cstdint>

#include <QString>
#include <QStringList>
#include <QVector>

#include "imgproc/result.h"

// A random sample of a folder's counting events to review, and the precision
// measured on it.
//
// The events are taken in a stable order: the videos with a count file in
// file name order, each one's events in the count file's order. A
// std::mt19937 seeded with the seed picks `size` of them by selection
// sampling (Knuth's algorithm S): event i of the n left is taken when
// (next 32-bit output * n) >> 32 is below the number still wanted. The same
// seed, size and count files give the same sample on any machine.
//
// The sample is kept in exportCSV/review_sample.csv:
//
//   # seed=42 size=100 events=20000
//   Video;Frame;X;Y;In;Out
//   video_20150612_0930_01.mp4;1754;931;120;1;0
//
// Precision is confirmed / (confirmed + rejected) over the sampled events
// decided so far, with the Wilson score interval at 95 %:
//   centre = (p + z²/2n) / (1 + z²/n),
//   half width = z / (1 + z²/n) * sqrt(p(1 - p)/n + z²/4n²),  z = 1.959964.
class ReviewSample
{
public:
    struct Pick
    {
        QString video; // file name, in the folder
        Result event;
    };

    struct Precision
    {
        int confirmed = 0;
        int rejected = 0;
        int unreviewed = 0; // picks not decided yet (or whose event is gone)
        double value = 0; // confirmed / (confirmed + rejected); 0 when none decided
        double low = 0; // Wilson 95 % interval
        double high = 0;
    };

    std::uint32_t seed = 0;
    int total = 0; // events the sample was drawn from
    QVector<Pick> picks;

    // Draws `size` events (all of them when there are fewer) from the count
    // files of `folder`.
    static ReviewSample draw(const QString &folder, int size, std::uint32_t seed);
    // The indices (0 to total - 1) selection sampling takes.
    static QVector<int> select(int total, int size, std::uint32_t seed);

    // Complete or not at all; false with the file and the reason in `error`.
    bool save(const QString &folder, QString *error) const;
    // False for a missing or malformed sample file.
    static bool load(const QString &folder, ReviewSample &sample, QString *error);

    // The decisions the videos' review files hold on the sampled events.
    Precision precision(const QString &folder) const;

    // Wilson score interval for `successes` of `trials` at 95 %.
    static void wilson(int successes, int trials, double &low, double &high);
};
