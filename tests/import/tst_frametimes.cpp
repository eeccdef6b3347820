#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include <QTest>

#include "frametimes.h"

using Pictures = std::vector<FrameTimes::Picture>;
using Times = std::vector<qint64>;

Q_DECLARE_METATYPE(Pictures)
Q_DECLARE_METATYPE(Times)

class TestFrameTimes : public QObject
{
    Q_OBJECT

private slots:
    void presentationOrder_data();
    void presentationOrder();
    void reorderDelay_data();
    void reorderDelay();
    void randomGroupsOfPictures();
};

namespace {

// Order counts the way an encoder writes them: two per frame from the IDR
// picture, `offset` added to every count of a run.
Pictures fromDisplayOrder(const std::vector<std::vector<int>> &runs, int offset = 0)
{
    Pictures pictures;
    for (const auto &run : runs) {
        for (std::size_t i = 0; i < run.size(); ++i)
            pictures.push_back({ offset + 2 * run[i], i == 0 });
    }
    return pictures;
}

} // namespace

void TestFrameTimes::presentationOrder_data()
{
    QTest::addColumn<Pictures>("pictures");
    QTest::addColumn<Times>("pts");

    QTest::newRow("no reordering")
        << fromDisplayOrder({ { 0, 1, 2, 3, 4 } }) << Times { 0, 1, 2, 3, 4 };
    // I0 P3 B1 B2 in decoding order.
    QTest::newRow("one B run") << fromDisplayOrder({ { 0, 3, 1, 2 } }) << Times { 0, 3, 1, 2 };
    // I0 P4 B2 b1 b3: a referenced B picture in the middle.
    QTest::newRow("pyramid") << fromDisplayOrder({ { 0, 4, 2, 1, 3 } }) << Times { 0, 4, 2, 1, 3 };
    // Order counts start again at each IDR picture.
    QTest::newRow("two runs") << fromDisplayOrder({ { 0, 2, 1 }, { 0, 2, 1 } })
                              << Times { 0, 2, 1, 3, 5, 4 };
    QTest::newRow("runs of different length")
        << fromDisplayOrder({ { 0, 1 }, { 0, 3, 1, 2 }, { 0 } }) << Times { 0, 1, 2, 5, 3, 4, 6 };
    // Only the ranks count: gaps and a large start change nothing.
    QTest::newRow("sparse counts")
        << Pictures { { 100, true }, { 900, false }, { 300, false } } << Times { 0, 2, 1 };
    QTest::newRow("negative counts")
        << Pictures { { -4, true }, { 6, false }, { -2, false } } << Times { 0, 2, 1 };
    // Equal counts (a stream that never sets them) keep decoding order.
    QTest::newRow("equal counts") << Pictures { { 0, true }, { 0, false }, { 0, false } }
                                  << Times { 0, 1, 2 };
    // A stream cut in a group of pictures: what comes before the first IDR
    // picture is a run of its own.
    QTest::newRow("leading pictures") << Pictures { { 20, false }, { 16, false }, { 18, false },
        { 0, true }, { 2, false } } << Times { 2, 0, 1, 3, 4 };
    QTest::newRow("single picture") << Pictures { { 0, true } } << Times { 0 };
    QTest::newRow("empty") << Pictures {} << Times {};
}

void TestFrameTimes::presentationOrder()
{
    QFETCH(Pictures, pictures);
    QFETCH(Times, pts);

    const FrameTimes times(pictures, 0);
    QCOMPARE(times.size(), pictures.size());
    Times actual;
    for (std::size_t i = 0; i < times.size(); ++i)
        actual.push_back(times.pts(i));
    QCOMPARE(actual, pts);
}

void TestFrameTimes::reorderDelay_data()
{
    QTest::addColumn<Pictures>("pictures");
    QTest::addColumn<int>("declared");
    QTest::addColumn<int>("delay");

    QTest::newRow("none") << fromDisplayOrder({ { 0, 1, 2 } }) << 0 << 0;
    QTest::newRow("one B run") << fromDisplayOrder({ { 0, 3, 1, 2 } }) << 0 << 1;
    QTest::newRow("pyramid") << fromDisplayOrder({ { 0, 4, 2, 1, 3 } }) << 0 << 2;
    QTest::newRow("deepest run counts")
        << fromDisplayOrder({ { 0, 2, 1 }, { 0, 4, 2, 1, 3 } }) << 0 << 2;
    // Decoders hold back what the stream declares, even with no B picture.
    QTest::newRow("declared, none used") << fromDisplayOrder({ { 0, 1, 2, 3 } }) << 2 << 2;
    QTest::newRow("declared below need") << fromDisplayOrder({ { 0, 4, 2, 1, 3 } }) << 1 << 2;
    QTest::newRow("declared above need") << fromDisplayOrder({ { 0, 3, 1, 2 } }) << 3 << 3;
    QTest::newRow("negative declared") << fromDisplayOrder({ { 0, 1 } }) << -1 << 0;
}

void TestFrameTimes::reorderDelay()
{
    QFETCH(Pictures, pictures);
    QFETCH(int, declared);
    QFETCH(int, delay);

    const FrameTimes times(pictures, declared);
    QCOMPARE(times.delay(), delay);
    for (std::size_t i = 0; i < times.size(); ++i) {
        QCOMPARE(times.dts(i), static_cast<qint64>(i) - delay);
        // A picture is never presented before it is decoded.
        QVERIFY2(times.dts(i) <= times.pts(i), qPrintable(QString::number(i)));
    }
}

// Streams with random groups of pictures: every run is some decoding order
// of its frames. The times must give back the display order, frame numbers
// without gaps, and a delay that is just enough.
void TestFrameTimes::randomGroupsOfPictures()
{
    std::mt19937 random(20240611);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::vector<int>> runs;
        const int runCount = 1 + static_cast<int>(random() % 5);
        for (int r = 0; r < runCount; ++r) {
            std::vector<int> display(1 + random() % 12);
            std::iota(display.begin(), display.end(), 0);
            // The IDR picture comes first in both orders.
            std::shuffle(display.begin() + 1, display.end(), random);
            runs.push_back(display);
        }
        const int offset = static_cast<int>(random() % 7) * 2;
        const int declared = static_cast<int>(random() % 4);
        const FrameTimes times(fromDisplayOrder(runs, offset), declared);

        std::vector<qint64> expected;
        qint64 start = 0;
        qint64 needed = 0;
        for (const auto &run : runs) {
            for (int shown : run) {
                expected.push_back(start + shown);
                needed
                    = std::max(needed, static_cast<qint64>(expected.size() - 1) - expected.back());
            }
            start += static_cast<qint64>(run.size());
        }
        QCOMPARE(times.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(times.pts(i), expected[i]);
        QCOMPARE(times.delay(), static_cast<int>(std::max<qint64>(needed, declared)));
    }
}

QTEST_APPLESS_MAIN(TestFrameTimes)

#include "tst_frametimes.moc"
