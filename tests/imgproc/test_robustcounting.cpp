#include <algorithm>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QTest>

#include "imgproc/insectdetect.h"
#include "imgproc/robust/areashrink.h"
#include "imgproc/robust/foreground.h"
#include "imgproc/robustcounting.h"
#include "zones/areacontour.h"

namespace {

const cv::Size kSize(640, 480);
constexpr int kFps = 25;
constexpr int kFirstFrame = 90;

// One insect: still at `path[0]` until `start`, then one position a frame,
// then still at the end. `shown` frames from `start` only, when set.
struct Insect
{
    std::vector<cv::Point2d> path;
    int start = 0;
    int shown = 0;
    double radius = 6;
};

// Straight to each waypoint at `speed` px per frame; a repeated waypoint
// holds still for `speed` frames.
Insect walk(int start, const std::vector<cv::Point2d> &points, double speed)
{
    Insect insect;
    insect.start = start;
    insect.path.push_back(points.front());
    for (size_t k = 1; k < points.size(); ++k) {
        const cv::Point2d a = insect.path.back();
        const cv::Point2d b = points[k];
        const int steps = a == b ? static_cast<int>(speed)
                                 : static_cast<int>(std::ceil(cv::norm(b - a) / speed));
        for (int s = 1; s <= steps; ++s)
            insect.path.push_back(a + (b - a) * (double(s) / steps));
    }
    return insect;
}

// At 0.5 px a frame from `start`: to `stop`, still `hold` frames, on to `to`.
Insect stopAndGo(
    int start, const cv::Point2d &from, const cv::Point2d &stop, int hold, const cv::Point2d &to)
{
    Insect insect = walk(start, { from, stop }, 0.5);
    insect.path.insert(insect.path.end(), static_cast<size_t>(hold), stop);
    const Insect on = walk(0, { stop, to }, 0.5);
    insect.path.insert(insect.path.end(), on.path.begin() + 1, on.path.end());
    return insect;
}

struct Scene
{
    std::vector<cv::Point> counting;
    std::vector<Insect> insects;
    int frames = 200;
};

// A textured floor with a little sensor noise, a slow flicker of the light,
// and dark insects.
cv::Mat render(const Scene &scene, int index, const std::vector<cv::Mat> &floors)
{
    cv::Mat grey = floors[static_cast<size_t>(index) % floors.size()]
        + cv::Scalar(6 * std::sin(index * 0.2) + 6);
    for (const Insect &insect : scene.insects) {
        const int k = std::clamp(index - insect.start, 0, static_cast<int>(insect.path.size()) - 1);
        const bool shown
            = insect.shown == 0 || (index >= insect.start && index < insect.start + insect.shown);
        if (shown)
            cv::circle(grey,
                cv::Point(cvRound(insect.path[k].x * 16), cvRound(insect.path[k].y * 16)),
                cvRound(insect.radius * 16), cv::Scalar(40), cv::FILLED, cv::LINE_AA, 4);
    }
    return grey;
}

// Every event of `scene` as RobustCounting records it.
QVector<Result> countScene(const Scene &scene)
{
    AreaContour zones;
    for (const cv::Point &p :
        { cv::Point(10, 10), cv::Point(630, 10), cv::Point(630, 470), cv::Point(10, 470) })
        zones.addMaskPoint(p);
    zones.closeMask();
    for (const cv::Point &p : scene.counting)
        zones.addAreaPoint(p);
    zones.closeArea();
    InsectDetect recorder;
    CountingMethod::Step step;
    step.countingBox = zones.getArea();
    step.trackingBox = zones.getMask();
    step.fps = kFps;

    cv::RNG rng(7);
    cv::Mat floor(kSize, CV_8UC1);
    rng.fill(floor, cv::RNG::UNIFORM, 130, 170);
    cv::GaussianBlur(floor, floor, cv::Size(5, 5), 0);
    std::vector<cv::Mat> floors(4);
    for (cv::Mat &f : floors) {
        cv::Mat noise(kSize, CV_8UC1);
        rng.fill(noise, cv::RNG::UNIFORM, 0, 5);
        f = floor + noise;
    }

    RobustCounting method;
    method.reset(zones.createMask(kSize, 0));
    method.startVideo(kSize, kFps);
    QVector<Result> events;
    for (int i = 0; i < scene.frames; ++i) {
        step.frame = kFirstFrame + i;
        if (method.process(render(scene, i, floors)))
            events += method.count(step, recorder);
    }
    events += method.finishVideo(step, recorder);
    std::sort(events.begin(), events.end(),
        [](const Result &a, const Result &b) { return a.frame < b.frame; });
    return events;
}

// An event expected: in, out, and the frame (count file numbering) it
// happens at, give or take `kFrameSlack`.
struct Expected
{
    int in = 0;
    int out = 0;
    int frame = 0;
};
constexpr int kFrameSlack = 3;

const std::vector<cv::Point> kVertical { { 320, 40 }, { 320, 440 } }; // left is x > 320
const std::vector<cv::Point> kHorizontal { { 100, 240 }, { 540, 240 } }; // left is y < 240
const std::vector<cv::Point> kBox { { 240, 160 }, { 400, 160 }, { 400, 320 }, { 240, 320 } };

} // namespace

Q_DECLARE_METATYPE(Scene)
Q_DECLARE_METATYPE(cv::Point2d)
Q_DECLARE_METATYPE(std::vector<Expected>)

class TestRobustCounting : public QObject
{
    Q_OBJECT

private slots:
    void foregroundKeepsSlowInsects_data();
    void foregroundKeepsSlowInsects();
    void insectThereFromTheStartIsSeen_data();
    void insectThereFromTheStartIsSeen();
    void piecesOfOneBodyAreOneBlob_data();
    void piecesOfOneBodyAreOneBlob();
    void counts_data();
    void counts();
    void zeroCoordinatesAreLineEnds();
    void parametersComeFromTheTable();
    void shrinkByThreeIsResize_data();
    void shrinkByThreeIsResize();
};

void TestRobustCounting::foregroundKeepsSlowInsects_data()
{
    QTest::addColumn<double>("speed");
    QTest::addColumn<int>("flicker");
    QTest::addColumn<cv::Point2d>("drift"); // of the camera, px a frame
    QTest::newRow("walks 0.3 px a frame") << 0.3 << 0 << cv::Point2d();
    QTest::newRow("walks 3 px a frame") << 3.0 << 0 << cv::Point2d();
    QTest::newRow("stopped") << 0.0 << 0 << cv::Point2d();
    QTest::newRow("stopped, the light flickering by 20 levels") << 0.0 << 20 << cv::Point2d();
    QTest::newRow("walks 0.3 px a frame, the camera drifting")
        << 0.3 << 0 << cv::Point2d(0.3, -0.2);
    QTest::newRow("stopped, the camera drifting fast") << 0.0 << 0 << cv::Point2d(-0.6, 0.5);
}

// An insect that walks in and then moves slowly, or stops, is seen in every
// frame for three seconds, where it is; a flicker of the light is no insect.
void TestRobustCounting::foregroundKeepsSlowInsects()
{
    QFETCH(double, speed);
    QFETCH(int, flicker);
    QFETCH(cv::Point2d, drift);
    cv::Mat floor(kSize, CV_8UC1);
    cv::RNG rng(3);
    rng.fill(floor, cv::RNG::UNIFORM, 130, 170);
    if (drift != cv::Point2d()) // a texture that can be shifted by a fraction of a pixel
        cv::GaussianBlur(floor, floor, cv::Size(5, 5), 1.0);
    Foreground foreground;
    foreground.reset(cv::Mat(), RobustParameters::forVideo(kSize, kFps));
    cv::Point2d at(100, 200);
    for (int i = 0; i < 30 + 3 * kFps; ++i) {
        cv::Mat grey;
        cv::warpAffine(floor, grey, cv::Matx23d(1, 0, drift.x * i, 0, 1, drift.y * i), kSize,
            cv::INTER_LINEAR, cv::BORDER_REFLECT);
        grey += cv::Scalar(flicker * (i % 2));
        if (i >= 20) {
            at.x += i < 30 ? 10.0 : speed;
            cv::circle(grey, cv::Point(cvRound(at.x * 16), cvRound(at.y * 16)), 6 * 16,
                cv::Scalar(40), cv::FILLED, cv::LINE_AA, 4);
        }
        const std::vector<Foreground::Blob> &blobs = foreground.detect(grey);
        if (i < 20) {
            QVERIFY2(blobs.empty(), qPrintable(QString::number(i)));
            continue;
        }
        QCOMPARE(int(blobs.size()), 1);
        QVERIFY2(cv::norm(blobs[0].centre - at) < 1.0, qPrintable(QString::number(i)));
    }
}

void TestRobustCounting::insectThereFromTheStartIsSeen_data()
{
    QTest::addColumn<int>("rest"); // frames still before it walks
    QTest::addColumn<int>("shade"); // of the insect; the floor is 130 to 170
    QTest::newRow("walking through the first 3 s") << 0 << 40;
    QTest::newRow("resting through them, then walking off") << 4 * kFps << 40;
    QTest::newRow("resting through them, light, then walking off") << 4 * kFps << 240;
}

// The first background is the median of the first frames: an insect that
// was there from the start, walking, is no part of it. One that rested
// through them is, but once it walks off, what it leaves (the floor, where
// the background still holds it) is no insect.
void TestRobustCounting::insectThereFromTheStartIsSeen()
{
    QFETCH(int, rest);
    QFETCH(int, shade);
    cv::Mat floor(kSize, CV_8UC1);
    cv::RNG(5).fill(floor, cv::RNG::UNIFORM, 130, 170);
    const auto frame = [&](int i) {
        cv::Mat grey = floor.clone();
        cv::circle(
            grey, cv::Point(100 + std::max(0, i - rest), 200), 6, cv::Scalar(shade), cv::FILLED);
        return grey;
    };
    std::vector<cv::Mat> frames;
    for (int i = 0; i < 3 * kFps; ++i)
        frames.push_back(frame(i));
    Foreground foreground;
    foreground.reset(cv::Mat(), RobustParameters::forVideo(kSize, kFps));
    foreground.learn(frames);
    // Walking 1 px a frame, it is apart from where it rested after 20 frames.
    for (int i = rest > 0 ? rest + 20 : 0; i < rest + 60; ++i) {
        const std::vector<Foreground::Blob> &blobs = foreground.detect(frame(i));
        QVERIFY2(blobs.size() == 1, qPrintable(QString::number(i)));
        QVERIFY2(cv::norm(blobs[0].centre - cv::Point2d(100 + i - rest, 200)) < 1.0,
            qPrintable(QString::number(i)));
    }
}

void TestRobustCounting::piecesOfOneBodyAreOneBlob_data()
{
    QTest::addColumn<int>("gap");
    QTest::addColumn<int>("blobs");
    QTest::newRow("a body cut by a 4 px stripe of its own shade: one") << 4 << 1;
    QTest::newRow("two insects 14 px apart: two") << 14 << 2;
}

// The pieces' own pixels make the blob: its centre is the body's.
void TestRobustCounting::piecesOfOneBodyAreOneBlob()
{
    QFETCH(int, gap);
    QFETCH(int, blobs);
    const cv::Mat floor(kSize, CV_8UC1, cv::Scalar(150));
    Foreground foreground;
    foreground.reset(cv::Mat(), RobustParameters::forVideo(kSize, kFps));
    foreground.learn({ floor });
    cv::Mat grey = floor.clone();
    cv::rectangle(grey, cv::Rect(200, 200, 10, 12), cv::Scalar(40), cv::FILLED);
    cv::rectangle(grey, cv::Rect(210 + gap, 200, 10, 12), cv::Scalar(40), cv::FILLED);
    const std::vector<Foreground::Blob> &found = foreground.detect(grey);
    QCOMPARE(int(found.size()), blobs);
    if (blobs == 1)
        QVERIFY(cv::norm(found[0].centre - cv::Point2d(209.5 + gap / 2.0, 205.5)) < 0.5);
}

void TestRobustCounting::counts_data()
{
    QTest::addColumn<Scene>("scene");
    QTest::addColumn<std::vector<Expected>>("expected");
    using E = std::vector<Expected>;
    // Passes x = 320 at frame 40 + 40 of its walk; left to right of the
    // line as it is drawn, downwards.
    QTest::newRow("walks across at 0.5 px a frame, east: right to left, out") << Scene { kVertical,
        { walk(40, { { 300, 240 }, { 340, 240 } }, 0.5) } } << E { { 0, 1, kFirstFrame + 80 } };
    QTest::newRow("walks across at 0.5 px a frame, west: left to right, in") << Scene { kVertical,
        { walk(40, { { 340, 240 }, { 300, 240 } }, 0.5) } } << E { { 1, 0, kFirstFrame + 80 } };
    QTest::newRow("flies down across a level line: left to right, in") << Scene { kHorizontal,
        { walk(40, { { 300, 120 }, { 300, 360 } }, 8) } } << E { { 1, 0, kFirstFrame + 55 } };
    QTest::newRow("flies up across a level line: right to left, out") << Scene { kHorizontal,
        { walk(40, { { 300, 360 }, { 300, 120 } }, 8) } } << E { { 0, 1, kFirstFrame + 55 } };
    QTest::newRow("rests 25 px from the line, then walks away: nothing")
        << Scene { kVertical, { walk(60, { { 295, 240 }, { 150, 240 } }, 1) } } << E {};
    QTest::newRow("sits across the line, leaves the way it came: nothing") << Scene { kVertical,
        { walk(30, { { 250, 240 }, { 320, 240 }, { 320, 240 }, { 250, 240 } }, 2) } }
                                                                           << E {};
    QTest::newRow("jitters on the line while crossing slowly: once") << Scene { kVertical,
        { walk(40,
            { { 300, 240 }, { 321, 240 }, { 318, 240 }, { 322, 240 }, { 319, 240 }, { 345, 240 } },
            0.5) } } << E { { 0, 1, -1 } };
    QTest::newRow("a large one sways 5 px over the line and back, leaves the way it came: nothing")
        << Scene { kVertical, { [] {
                      Insect large = walk(30,
                          { { 250, 240 }, { 315, 240 }, { 325, 240 }, { 315, 240 }, { 325, 240 },
                              { 315, 240 }, { 250, 240 } },
                          1);
                      large.radius = 12;
                      return large;
                  }() } }
        << E {};
    QTest::newRow("fast, seen in three frames only: counted") << Scene { kVertical,
        { [] {
            Insect fast = walk(50, { { 250, 240 }, { 410, 240 } }, 40);
            fast.path.erase(fast.path.begin());
            fast.shown = 3;
            return fast;
        }() } } << E { { 0, 1, kFirstFrame + 51 } };
    QTest::newRow("two walkers touch on the line and part: one each way")
        << Scene { kVertical,
               { walk(40, { { 250, 240 }, { 390, 246 } }, 1.5),
                   walk(40, { { 390, 254 }, { 250, 260 } }, 1.5) } }
        << E { { 0, 1, kFirstFrame + 87 }, { 1, 0, kFirstFrame + 87 } };
    QTest::newRow("walks into the box: one entry")
        << Scene { kBox, { walk(30, { { 150, 240 }, { 300, 240 } }, 2) } }
        << E { { 1, 0, kFirstFrame + 75 } };
    QTest::newRow("walks into the box and on, seen inside: one entry") << Scene { kBox,
        { walk(30, { { 150, 240 }, { 380, 240 } }, 2) } } << E { { 1, 0, kFirstFrame + 75 } };
    QTest::newRow("walks out of the box: one exit")
        << Scene { kBox, { walk(30, { { 300, 240 }, { 150, 240 } }, 2) } }
        << E { { 0, 1, kFirstFrame + 60 } };
    QTest::newRow("half its body in the box, then back out: nothing") << Scene { kBox,
        { walk(30, { { 180, 240 }, { 240, 240 }, { 240, 240 }, { 180, 240 } }, 1) } }
                                                                      << E {};
    QTest::newRow("walks from 20 px out to the edge at 0.5 px a frame, stops 2 s, goes in: "
                  "one entry")
        << Scene { kBox, { stopAndGo(30, { 220, 240 }, { 240, 240 }, 2 * kFps, { 265, 240 }) },
               250 }
        << E { { 1, 0, kFirstFrame + 130 } };
    QTest::newRow("comes out at 0.5 px a frame, stops 2 s half out, goes on: one exit") << Scene {
        kBox, { stopAndGo(30, { 260, 240 }, { 240, 240 }, 2 * kFps, { 215, 240 }) }, 300
    } << E { { 0, 1, kFirstFrame + 64 } };
    QTest::newRow("walks slowly along the box's edge, half in: nothing")
        << Scene { kBox, { walk(30, { { 242, 120 }, { 242, 360 } }, 0.7) }, 400 } << E {};
}

void TestRobustCounting::counts()
{
    QFETCH(Scene, scene);
    QFETCH(std::vector<Expected>, expected);
    const QVector<Result> events = countScene(scene);
    QString seen;
    for (const Result &r : events)
        seen += QStringLiteral(" %1:%2/%3").arg(r.frame).arg(r.in).arg(r.out);
    QVERIFY2(events.size() == int(expected.size()), qPrintable(seen));
    for (const Expected &e : expected) {
        const bool found = std::any_of(events.begin(), events.end(), [&e](const Result &r) {
            return r.in == e.in && r.out == e.out
                && (e.frame < 0 || std::abs(r.frame - e.frame) <= kFrameSlack);
        });
        QVERIFY2(found, qPrintable(seen));
    }
}

// The settings as the run record names them, and as the README's table
// lists them, row for row.
void TestRobustCounting::parametersComeFromTheTable()
{
    const QVariantMap map = RobustCounting().parameters();
    QCOMPARE(map.size(), int(RobustParameters::Count));
    QFile readme(QStringLiteral(KESTRIN_README));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    for (int n = 0; n < RobustParameters::Count; ++n) {
        const RobustParameters::Entry &e = RobustParameters::entry(RobustParameters::Name(n));
        QCOMPARE(int(e.name), n);
        QCOMPARE(map.value(QString::fromLatin1(e.key)).toDouble(), e.value);
        const QString row = QStringLiteral("| `%1` | %2 | %3 | %4 |")
                                .arg(QString::fromLatin1(e.key))
                                .arg(e.value)
                                .arg(QString::fromLatin1(e.unit), QString::fromUtf8(e.meaning));
        QVERIFY2(text.contains(row), qPrintable(row));
    }
}

// A line from the frame's top edge, (160, 0), is a line like any other.
void TestRobustCounting::zeroCoordinatesAreLineEnds()
{
    const Scene scene { { { 160, 0 }, { 160, 480 } },
        { walk(40, { { 100, 240 }, { 220, 240 } }, 4) } };
    const QVector<Result> events = countScene(scene);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].out, 1);
}

void TestRobustCounting::shrinkByThreeIsResize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("taken"); // the fast path applies
    QTest::newRow("1920 x 1080") << QSize(1920, 1080) << true;
    QTest::newRow("51 x 3: vector and scalar ends") << QSize(51, 3) << true;
    QTest::newRow("3 x 3") << QSize(3, 3) << true;
    QTest::newRow("1921 x 1080: not a third") << QSize(1921, 1080) << false;
    QTest::newRow("960 x 541: not a third") << QSize(960, 541) << false;
}

// Byte for byte what cv::resize gives, the brightest and darkest blocks
// included; sizes that are not thirds are left to cv::resize.
void TestRobustCounting::shrinkByThreeIsResize()
{
    QFETCH(QSize, size);
    QFETCH(bool, taken);
    cv::Mat grey(size.height(), size.width(), CV_8UC1);
    cv::RNG(11).fill(grey, cv::RNG::UNIFORM, 0, 256);
    grey(cv::Rect(0, 0, 3, 3)).setTo(255);
    grey(cv::Rect(grey.cols - 3, grey.rows - 3, 3, 3)).setTo(0);
    cv::Mat fast;
    QCOMPARE(AreaShrink::byThree(grey, fast), taken);
    if (!taken)
        return;
    cv::Mat plain;
    cv::resize(grey, plain, cv::Size(grey.cols / 3, grey.rows / 3), 0, 0, cv::INTER_AREA);
    QCOMPARE(fast.size(), plain.size());
    QCOMPARE(cv::norm(fast, plain, cv::NORM_INF), 0.0);
    qputenv("KESTRIN_PLAIN_PATHS", "1");
    QVERIFY(!AreaShrink::byThree(grey, fast));
    qunsetenv("KESTRIN_PLAIN_PATHS");
}

QTEST_APPLESS_MAIN(TestRobustCounting)
#include "test_robustcounting.moc"
