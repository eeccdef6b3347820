#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "scenes/eventmatcher.h"
#include "scenes/groundtruthscene.h"
#include "scenes/realclip.h"
#include "scenes/scenecatalog.h"

Q_DECLARE_METATYPE(std::vector<GroundTruthScene::Event>)
Q_DECLARE_METATYPE(QVector<Result>)
Q_DECLARE_METATYPE(std::vector<cv::Point>)
Q_DECLARE_METATYPE(std::vector<cv::Point2d>)

namespace {

using Kind = GroundTruthScene::EventKind;
using Events = std::vector<GroundTruthScene::Event>;
constexpr auto kLeftToRight = GroundTruthScene::Direction::LeftToRight;
constexpr auto kRightToLeft = GroundTruthScene::Direction::RightToLeft;

const cv::Size kSize(640, 480);
const std::vector<cv::Point> kWholeFrame { { 10, 10 }, { 630, 10 }, { 630, 470 }, { 10, 470 } };
const std::vector<cv::Point> kVerticalLine { { 320, 40 }, { 320, 440 } };
const std::vector<cv::Point> kBox { { 240, 160 }, { 400, 160 }, { 400, 320 }, { 240, 320 } };

// One position per frame: a straight move at `speed` px per frame from the
// last position of `path` to `to`.
void moveTo(std::vector<cv::Point2d> &path, const cv::Point2d &to, double speed)
{
    const cv::Point2d from = path.back();
    const int steps = static_cast<int>(std::ceil(cv::norm(to - from) / speed));
    for (int i = 1; i <= steps; ++i)
        path.push_back(from + (to - from) * (static_cast<double>(i) / steps));
}

GroundTruthScene::Insect insect(int start, const std::vector<cv::Point2d> &path)
{
    GroundTruthScene::Insect i;
    i.start = start;
    i.path = path;
    return i;
}

Result counted(int frame, int x, int y, int in, int out)
{
    Result r;
    r.frame = frame;
    r.x = x;
    r.y = y;
    r.in = in;
    r.out = out;
    return r;
}

} // namespace

class TestGroundTruth : public QObject
{
    Q_OBJECT

private slots:
    void truthByHand_data();
    void truthByHand();
    void matcher_data();
    void matcher();
    void directionAndTouch_data();
    void directionAndTouch();
    void catalogIsFixedAndVaried();
    void broadCatalogIsFixedAndVaried();
    void realTruthLine_data();
    void realTruthLine();
    void driftMovesPictureAndTruth();
    void wingsAndLegsFlicker();
    void realClipFiles_data();
    void realClipFiles();
};

// Paths worked out on paper: the event comes at the first frame the insect
// is more than 3 px past the line or the border, numbered as the count file
// numbers it (frame index - 1).
void TestGroundTruth::truthByHand_data()
{
    QTest::addColumn<std::vector<cv::Point>>("counting");
    QTest::addColumn<std::vector<cv::Point>>("tracking");
    QTest::addColumn<int>("insectStart");
    QTest::addColumn<std::vector<cv::Point2d>>("path");
    QTest::addColumn<Events>("expected");

    // x = 200 + 4 (i - 100): past 323 from index 131 on, at x = 324.
    std::vector<cv::Point2d> across { { 200, 240 } };
    moveTo(across, { 440, 240 }, 4);
    QTest::newRow("across the line")
        << kVerticalLine << kWholeFrame << 100 << across
        << Events { { 130, { 324, 240 }, Kind::Crossing, 0, kRightToLeft } };

    std::vector<cv::Point2d> back { { 200, 240 } };
    moveTo(back, { 320, 240 }, 4);
    std::vector<cv::Point2d> held = back;
    held.insert(held.end(), 25, held.back());
    moveTo(back, { 200, 240 }, 4);
    QTest::newRow("to the line and back")
        << kVerticalLine << kWholeFrame << 100 << back << Events {};

    moveTo(held, { 440, 240 }, 4);
    // Reaches x = 320 at index 130, sits until 155, then 324 at index 156.
    QTest::newRow("sits on the line, then crosses")
        << kVerticalLine << kWholeFrame << 100 << held
        << Events { { 155, { 324, 240 }, Kind::Crossing, 0, kRightToLeft } };

    std::vector<cv::Point2d> along { { 321, 60 } };
    moveTo(along, { 319, 420 }, 5);
    QTest::newRow("along the line") << kVerticalLine << kWholeFrame << 100 << along << Events {};

    // Onto the line at y = 100, along it out of the tracking box (y < 10),
    // and over to the other side there, where it cannot be seen.
    std::vector<cv::Point2d> outOfSight { { 200, 100 } };
    moveTo(outOfSight, { 319, 100 }, 4);
    moveTo(outOfSight, { 319, 0 }, 4);
    moveTo(outOfSight, { 440, 0 }, 4);
    QTest::newRow("along the line out of sight, over to the other side there")
        << kVerticalLine << kWholeFrame << 100 << outOfSight << Events {};

    // The same, but over at y = 8: its centre is 2 px out of the tracking
    // box, the rest of it (radius 4) in sight. Past 323 from index 55 on.
    std::vector<cv::Point2d> atTheRim { { 200, 100 } };
    moveTo(atTheRim, { 319, 100 }, 4);
    moveTo(atTheRim, { 319, 8 }, 4);
    moveTo(atTheRim, { 440, 8 }, 4);
    QTest::newRow(
        "along the line to the tracking box's rim, over to the other side there, partly in sight")
        << kVerticalLine << kWholeFrame << 100 << atTheRim
        << Events { { 154, { 327, 8 }, Kind::Crossing, 0, kRightToLeft } };

    std::vector<cv::Point2d> past { { 200, 20 } };
    moveTo(past, { 440, 20 }, 4);
    QTest::newRow("beyond the end of the line")
        << kVerticalLine << kWholeFrame << 100 << past << Events {};

    // The line (100,200)->(300,200) walks right: above it is its left.
    const std::vector<cv::Point> rightwards { { 100, 200 }, { 300, 200 } };
    std::vector<cv::Point2d> down { { 200, 150 } };
    moveTo(down, { 200, 250 }, 5);
    std::vector<cv::Point2d> up { { 200, 250 } };
    moveTo(up, { 200, 150 }, 5);
    // y = 150 + 5 (i - 100): past 203 from index 111 on, at 205.
    QTest::newRow("down over a line walking right: left to right")
        << rightwards << kWholeFrame << 100 << down
        << Events { { 110, { 200, 205 }, Kind::Crossing, 0, kLeftToRight } };
    QTest::newRow("up over it: right to left")
        << rightwards << kWholeFrame << 100 << up
        << Events { { 110, { 200, 195 }, Kind::Crossing, 0, kRightToLeft } };

    // x = 300 + 0.5 (i - 100): past 323 at index 147 (323.5); its body
    // (radius 4) is on the line from x = 316 (index 132) to 324 (148).
    std::vector<cv::Point2d> walker { { 300, 240 } };
    moveTo(walker, { 340, 240 }, 0.5);
    QTest::newRow("a walker at half a pixel a frame")
        << kVerticalLine << kWholeFrame << 100 << walker
        << Events { { 146, { 324, 240 }, Kind::Crossing, 0, kRightToLeft, 131, 147 } };

    // Half its body over the border at x = 240, its centre 2 px out.
    std::vector<cv::Point2d> poke { { 100, 240 } };
    moveTo(poke, { 238, 240 }, 4);
    poke.insert(poke.end(), 20, poke.back());
    moveTo(poke, { 100, 240 }, 4);
    QTest::newRow("pokes half over the box border and back: none")
        << kBox << kWholeFrame << 100 << poke << Events {};

    QTest::newRow("before frame 91: not processed")
        << kVerticalLine << kWholeFrame << 50 << across << Events {};

    // x = 100 + 5 (i - 100): more than 3 px inside x = 240 from index 129, at 245.
    std::vector<cv::Point2d> in { { 100, 240 } };
    moveTo(in, { 300, 240 }, 5);
    QTest::newRow("into the box") << kBox << kWholeFrame << 100 << in
                                  << Events { { 128, { 245, 240 }, Kind::Entry } };

    std::vector<cv::Point2d> out { { 300, 240 } };
    moveTo(out, { 100, 240 }, 5);
    QTest::newRow("out of the box")
        << kBox << kWholeFrame << 100 << out << Events { { 112, { 235, 240 }, Kind::Exit } };

    // The tracking box ends at x = 300: the left edge of the counting box
    // counts, its right edge does not.
    const std::vector<cv::Point> leftHalf { { 10, 10 }, { 300, 10 }, { 300, 470 }, { 10, 470 } };
    std::vector<cv::Point2d> through { { 100, 240 } };
    moveTo(through, { 540, 240 }, 5);
    QTest::newRow("in through a counting edge, out through one that is not")
        << kBox << leftHalf << 100 << through << Events { { 128, { 245, 240 }, Kind::Entry } };
}

void TestGroundTruth::truthByHand()
{
    QFETCH(std::vector<cv::Point>, counting);
    QFETCH(std::vector<cv::Point>, tracking);
    QFETCH(int, insectStart);
    QFETCH(std::vector<cv::Point2d>, path);
    QFETCH(Events, expected);

    GroundTruthScene scene(QStringLiteral("hand"), kSize, 25, 300, 1);
    scene.setCountingBox(counting);
    scene.setTrackingBox(tracking);
    scene.addInsect(insect(insectStart, path));
    const Events truth = scene.truth();
    QCOMPARE(truth.size(), expected.size());
    for (size_t i = 0; i < truth.size(); ++i) {
        QCOMPARE(truth[i].frame, expected[i].frame);
        QCOMPARE(truth[i].position, expected[i].position);
        QCOMPARE(int(truth[i].kind), int(expected[i].kind));
        QCOMPARE(int(truth[i].direction), int(expected[i].direction));
        if (expected[i].first >= 0) {
            QCOMPARE(truth[i].first, expected[i].first);
            QCOMPARE(truth[i].last, expected[i].last);
        }
    }
}

void TestGroundTruth::matcher_data()
{
    QTest::addColumn<Events>("truth");
    QTest::addColumn<QVector<Result>>("counts");
    // Per kind (crossings, entries, exits): found, missed, extra.
    QTest::addColumn<QVector<int>>("expected");

    const Events two { { 200, { 300, 200 }, Kind::Crossing },
        { 300, { 320, 240 }, Kind::Crossing } };
    QTest::newRow("both found") << two
                                << QVector<Result> { counted(201, 302, 204, 1, 1),
                                       counted(299, 318, 236, 1, 1) }
                                << QVector<int> { 2, 0, 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("a miss") << two << QVector<Result> { counted(300, 320, 240, 1, 1) }
                            << QVector<int> { 1, 1, 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("an extra") << two
                              << QVector<Result> { counted(200, 300, 200, 1, 1),
                                     counted(250, 100, 100, 1, 1), counted(300, 320, 240, 1, 1) }
                              << QVector<int> { 2, 0, 1, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("three frames late is found")
        << two << QVector<Result> { counted(203, 300, 200, 1, 1), counted(303, 320, 240, 1, 1) }
        << QVector<int> { 2, 0, 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("six frames late is a miss and an extra")
        << two << QVector<Result> { counted(206, 300, 200, 1, 1), counted(300, 320, 240, 1, 1) }
        << QVector<int> { 1, 1, 1, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("too far away is a miss and an extra")
        << two << QVector<Result> { counted(200, 360, 200, 1, 1), counted(300, 320, 240, 1, 1) }
        << QVector<int> { 1, 1, 1, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("one count serves one event only")
        << Events { { 200, { 300, 200 }, Kind::Crossing }, { 201, { 302, 200 }, Kind::Crossing } }
        << QVector<Result> { counted(200, 301, 200, 1, 1) }
        << QVector<int> { 1, 1, 0, 0, 0, 0, 0, 0, 0 };
    // Greedy pairing by closeness would pair the middle ones and miss one.
    QTest::newRow("the most pairs, not the closest first")
        << Events { { 100, { 300, 200 }, Kind::Crossing }, { 104, { 300, 200 }, Kind::Crossing } }
        << QVector<Result> { counted(102, 300, 200, 1, 1), counted(97, 300, 200, 1, 1) }
        << QVector<int> { 2, 0, 0, 0, 0, 0, 0, 0, 0 };
    QTest::newRow("an in counted as out") << Events { { 150, { 240, 240 }, Kind::Entry } }
                                          << QVector<Result> { counted(150, 240, 240, 0, 1) }
                                          << QVector<int> { 0, 0, 0, 0, 1, 0, 0, 0, 1 };
    QTest::newRow("entries and exits apart")
        << Events { { 150, { 240, 240 }, Kind::Entry }, { 180, { 400, 300 }, Kind::Exit } }
        << QVector<Result> { counted(151, 236, 240, 1, 0), counted(182, 405, 300, 0, 1),
               counted(181, 405, 300, 1, 1) }
        << QVector<int> { 0, 0, 1, 1, 0, 0, 1, 0, 0 };
}

void TestGroundTruth::matcher()
{
    QFETCH(Events, truth);
    QFETCH(QVector<Result>, counts);
    QFETCH(QVector<int>, expected);

    // 25 frames per second, 640 px wide: 5 frames, 51.2 px.
    GroundTruthScene scene(QStringLiteral("tolerance"), kSize, 25, 10, 1);
    const EventMatcher matcher = EventMatcher::forScene(scene);
    std::vector<bool> truthFound;
    std::vector<bool> countedFound;
    const EventMatcher::Tallies tallies = matcher.match(truth, counts, &truthFound, &countedFound);
    for (int k = 0; k < 3; ++k) {
        const EventMatcher::Tally &t = tallies[static_cast<size_t>(k)];
        QCOMPARE(t.found, expected[3 * k]);
        QCOMPARE(t.missed(), expected[3 * k + 1]);
        QCOMPARE(t.extra(), expected[3 * k + 2]);
    }
    int found = 0;
    for (bool f : truthFound)
        found += f;
    int paired = 0;
    for (bool f : countedFound)
        paired += f;
    QCOMPARE(found, expected[0] + expected[3] + expected[6]);
    QCOMPARE(paired, found);
}

// At a line every count is a crossing, with the direction it carries; a
// count in the frames the body was on the line is in time once windows are
// on.
void TestGroundTruth::directionAndTouch_data()
{
    QTest::addColumn<bool>("line");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QVector<Result>>("counts");
    // Crossings found, with a direction, with the right one; entries extra.
    QTest::addColumn<QVector<int>>("expected");

    QTest::newRow("left to right as In=1;Out=0")
        << true << false << QVector<Result> { counted(200, 300, 200, 1, 0) }
        << QVector<int> { 1, 1, 1, 0 };
    QTest::newRow("the wrong way is found, direction wrong")
        << true << false << QVector<Result> { counted(200, 300, 200, 0, 1) }
        << QVector<int> { 1, 1, 0, 0 };
    QTest::newRow("In=1;Out=1 has no direction")
        << true << false << QVector<Result> { counted(200, 300, 200, 1, 1) }
        << QVector<int> { 1, 0, 0, 0 };
    QTest::newRow("at a box In=1;Out=0 is an entry")
        << false << false << QVector<Result> { counted(200, 300, 200, 1, 0) }
        << QVector<int> { 0, 0, 0, 1 };
    QTest::newRow("20 frames early, body on the line, windows off")
        << true << false << QVector<Result> { counted(180, 300, 200, 1, 0) }
        << QVector<int> { 0, 0, 0, 0 };
    QTest::newRow("20 frames early, body on the line, windows on")
        << true << true << QVector<Result> { counted(180, 300, 200, 1, 0) }
        << QVector<int> { 1, 1, 1, 0 };
    QTest::newRow("before the body touched the line, windows on")
        << true << true << QVector<Result> { counted(169, 300, 200, 1, 0) }
        << QVector<int> { 0, 0, 0, 0 };
}

void TestGroundTruth::directionAndTouch()
{
    QFETCH(bool, line);
    QFETCH(bool, windows);
    QFETCH(QVector<Result>, counts);
    QFETCH(QVector<int>, expected);

    GroundTruthScene::Event crossing { 200, { 300, 200 }, Kind::Crossing, 0, kLeftToRight };
    crossing.first = 175; // 5 frames' tolerance: from 170
    crossing.last = 205;
    EventMatcher matcher = EventMatcher::forVideo(25, kSize, line);
    matcher.setTouchWindows(windows);
    const EventMatcher::Tallies tallies = matcher.match({ crossing }, counts);
    QCOMPARE(tallies[Kind::Crossing].found, expected[0]);
    QCOMPARE(tallies[Kind::Crossing].directed, expected[1]);
    QCOMPARE(tallies[Kind::Crossing].directionRight, expected[2]);
    QCOMPARE(tallies[Kind::Entry].extra(), expected[3]);
}

void TestGroundTruth::catalogIsFixedAndVaried()
{
    int kinds[3] = { 0, 0, 0 };
    for (int index = 0; index < SceneCatalog::kDefaultCount; ++index) {
        const GroundTruthScene a = SceneCatalog::scene(index);
        const GroundTruthScene b = SceneCatalog::scene(index);
        QCOMPARE(a.name(), b.name());
        QCOMPARE(a.swarm().size(), b.swarm().size());
        const Events ta = a.truth();
        const Events tb = b.truth();
        QCOMPARE(ta.size(), tb.size());
        for (size_t i = 0; i < ta.size(); ++i) {
            QCOMPARE(ta[i].frame, tb[i].frame);
            ++kinds[ta[i].kind];
            // Every event happens while the run processes frames.
            QVERIFY(ta[i].frame >= 90 && ta[i].frame < a.frames() - 1);
        }
    }
    for (int count : kinds)
        QVERIFY2(count >= 30, "every kind of event has a few dozen cases");

    // The same frame twice is the same picture; another seed, other scenes.
    const GroundTruthScene scene = SceneCatalog::scene(1);
    cv::Mat first;
    cv::Mat again;
    scene.render(150, first);
    scene.render(150, again);
    QCOMPARE(cv::norm(first, again, cv::NORM_INF), 0.0);
    QVERIFY(SceneCatalog::scene(1, 7).truth().size() != scene.truth().size()
        || SceneCatalog::scene(1, 7).swarm()[0].path != scene.swarm()[0].path);
}

// The broad set: every size, rate and codec it promises, every kind of
// event with its window, crossings with a direction, insects with wings and
// legs, and ones that poke over a border without an event.
void TestGroundTruth::broadCatalogIsFixedAndVaried()
{
    using Set = SceneCatalog::Set;
    std::set<int> widths;
    std::set<int> rates;
    std::set<std::string> codecs;
    int kinds[3] = { 0, 0, 0 };
    int shaped = 0;
    int pokers = 0;
    int laneCrossings = 0;
    for (int index = 0; index < SceneCatalog::count(Set::Broad); ++index) {
        const GroundTruthScene scene = SceneCatalog::scene(Set::Broad, index, 0);
        QCOMPARE(scene.name(), SceneCatalog::broadScene(index).name());
        widths.insert(scene.size().width);
        rates.insert(static_cast<int>(scene.fps()));
        codecs.insert(SceneCatalog::fourcc(Set::Broad, index));
        for (const GroundTruthScene::Event &e : scene.truth()) {
            ++kinds[e.kind];
            QVERIFY(e.frame >= 90 && e.frame < scene.frames() - 1);
            QVERIFY(e.first <= e.frame && e.frame <= e.last);
            QCOMPARE(e.kind == Kind::Crossing, e.direction != GroundTruthScene::Direction::None);
        }
        for (const GroundTruthScene::Insect &insect : scene.swarm()) {
            shaped += insect.appendages;
            pokers += insect.behaviour.startsWith(QLatin1String("pokes"));
        }
        // An insect in a lane goes to and fro: its crossings alternate.
        std::map<int, GroundTruthScene::Direction> lastWay;
        for (const GroundTruthScene::Event &e : scene.truth()) {
            if (!scene.swarm()[static_cast<size_t>(e.insect)].behaviour.contains(
                    QLatin1String("lane")))
                continue;
            ++laneCrossings;
            if (lastWay.count(e.insect))
                QVERIFY(lastWay[e.insect] != e.direction);
            lastWay[e.insect] = e.direction;
        }
    }
    QCOMPARE(*widths.begin(), 320);
    QCOMPARE(*widths.rbegin(), 1920);
    QCOMPARE(rates, (std::set<int> { 20, 25, 60, 90 }));
    QCOMPARE(codecs, (std::set<std::string> { "MJPG", "avc1", "mp4v" }));
    for (int count : kinds)
        QVERIFY2(count >= 30, "every kind of event has a few dozen cases");
    QVERIFY(shaped >= 10);
    QVERIFY(pokers >= 2);
    QVERIFY2(laneCrossings >= 20, "lanes cross the line many times");
}

// The real clip's truth table, line by line.
void TestGroundTruth::realTruthLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("event");
    QTest::addColumn<int>("direction");

    QTest::newRow("a crossing") << "1061;551;489;crossing;right-to-left;1052;1063" << true
                                << int(kRightToLeft);
    QTest::newRow("an entry") << "1071;593;498;entry;;1062;1074" << true
                              << int(GroundTruthScene::Direction::None);
    QTest::newRow("a crossing needs a direction")
        << "1061;551;489;crossing;;1052;1063" << false << 0;
    QTest::newRow("an entry has none")
        << "1071;593;498;entry;left-to-right;1062;1074" << false << 0;
    QTest::newRow("its window holds its frame")
        << "1061;551;489;crossing;right-to-left;1062;1063" << false << 0;
    QTest::newRow("no window") << "1061;551;489;crossing;right-to-left" << false << 0;
}

void TestGroundTruth::realTruthLine()
{
    QFETCH(QString, line);
    QFETCH(bool, event);
    QFETCH(int, direction);
    GroundTruthScene::Event parsed;
    QCOMPARE(RealClip::parseEvent(line, parsed), event);
    if (event)
        QCOMPARE(int(parsed.direction), direction);
}

// A still insect on a drifting picture crosses the line in the picture,
// where it is drawn.
void TestGroundTruth::driftMovesPictureAndTruth()
{
    GroundTruthScene scene(QStringLiteral("drift"), kSize, 25, 200, 1);
    scene.setCountingBox(kVerticalLine);
    scene.setTrackingBox(kWholeFrame);
    scene.setDrift({ 1, 0 });
    scene.addInsect(insect(0, { { 200, 240 } }));
    // x = 200 + i: past 323 from index 124 on.
    const Events truth = scene.truth();
    QCOMPARE(truth.size(), size_t(1));
    QCOMPARE(truth[0].frame, 123);
    QCOMPARE(truth[0].position, cv::Point(324, 240));
    QCOMPARE(int(truth[0].direction), int(kRightToLeft));
    cv::Mat frame;
    scene.render(150, frame);
    QCOMPARE(frame.at<cv::Vec3b>(240, 350)[0], uchar(40));
    QVERIFY(frame.at<cv::Vec3b>(240, 200)[0] > 60);
}

// Wings and legs change from frame to frame around a body that stays, and
// the same frame is the same picture.
void TestGroundTruth::wingsAndLegsFlicker()
{
    GroundTruthScene scene(QStringLiteral("legs"), kSize, 25, 20, 1);
    GroundTruthScene::Insect legged = insect(0, { { 320, 240 } });
    legged.radius = 8;
    legged.elongation = 2;
    legged.appendages = true;
    scene.addInsect(legged);
    cv::Mat first;
    cv::Mat again;
    cv::Mat next;
    scene.render(5, first);
    scene.render(5, again);
    scene.render(6, next);
    QCOMPARE(cv::norm(first, again, cv::NORM_INF), 0.0);
    const cv::Rect around(320 - 30, 240 - 30, 60, 60);
    QVERIFY(cv::norm(first(around), next(around), cv::NORM_INF) > 20);
    QCOMPARE(first.at<cv::Vec3b>(240, 320)[0], uchar(40));
    QCOMPARE(next.at<cv::Vec3b>(240, 320)[0], uchar(40));
}

// The real clip's folder: its three box files and its truth table.
void TestGroundTruth::realClipFiles_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("content"); // replaces the file; empty: removes it
    QTest::addColumn<QString>("problem");

    QTest::newRow("all there") << QString() << QByteArray() << QString();
    QTest::newRow("no line") << "flies_line_area.krn" << QByteArray() << "flies_line_area.krn";
    QTest::newRow("a box for a line")
        << "flies_line_area.krn" << QByteArray("1,1\n9,1\n9,9\n1,1\n") << "two points";
    QTest::newRow("not a point") << "flies_mask.krn" << QByteArray("1;1\n") << "not a point";
    QTest::newRow("not an event") << "flies_truth.csv"
                                  << QByteArray("Frame;X;Y;Kind;Direction;First;Last\n1;2;3\n")
                                  << "not an event";
}

void TestGroundTruth::realClipFiles()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, content);
    QFETCH(QString, problem);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::map<QString, QByteArray> files {
        { QStringLiteral("flies_line_area.krn"), "540,16\n540,1008\n" },
        { QStringLiteral("flies_box_area.krn"), "440,360\n670,360\n670,600\n440,600\n440,360\n" },
        { QStringLiteral("flies_mask.krn"), "16,16\n1008,16\n1008,1008\n16,1008\n16,16\n" },
        { QStringLiteral("flies_truth.csv"),
            "Frame;X;Y;Kind;Direction;First;Last\n1029;450;454;entry;;1004;1044\n"
            "1061;551;489;crossing;right-to-left;1047;1069\n" },
    };
    for (const auto &[name, text] : files) {
        QFile out(folder.filePath(name));
        if (name == file && content.isEmpty())
            continue;
        QVERIFY(out.open(QIODevice::WriteOnly));
        QVERIFY(out.write(name == file ? content : text) > 0);
        out.close();
    }
    QString error;
    const std::optional<RealClip> clip = RealClip::load(folder.path(), &error);
    QCOMPARE(clip.has_value(), problem.isEmpty());
    QVERIFY2(error.contains(problem), qPrintable(error));
    if (clip) {
        QCOMPARE(clip->line().size(), size_t(2));
        QCOMPARE(clip->box().size(), size_t(4));
        QCOMPARE(clip->truth(true).size(), size_t(1));
        QCOMPARE(clip->truth(false).size(), size_t(1));
        QCOMPARE(int(clip->truth(false)[0].kind), int(Kind::Entry));
    }
}

QTEST_APPLESS_MAIN(TestGroundTruth)
#include "test_groundtruth.moc"
