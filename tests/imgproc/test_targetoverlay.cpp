#include <opencv2/core.hpp>

#include <QTest>

#include "cvprint.h"
#include "imgproc/targetoverlay.h"

namespace {

const cv::Vec3b kSeen(0, 0, 255);
const cv::Vec3b kUnseen(18, 18, 152);
const cv::Vec3b kLast(255, 0, 0);
const cv::Vec3b kMotion(0, 255, 0);

Target track(int id, int age, cv::Point last)
{
    Target t;
    t.id = id;
    t.age = age;
    t.origine = cv::Point(100, 100);
    t.width = 40;
    t.height = 30;
    t.centroid = cv::Point(120, 115);
    t.last = last;
    return t;
}

cv::Mat drawn(Target t)
{
    cv::Mat frame(300, 400, CV_8UC3, cv::Scalar::all(0));
    TargetOverlay().draw(frame, TargetList { &t });
    return frame;
}

int countColour(const cv::Mat &frame, const cv::Vec3b &colour)
{
    int n = 0;
    for (int y = 0; y < frame.rows; ++y) {
        for (int x = 0; x < frame.cols; ++x)
            n += frame.at<cv::Vec3b>(y, x) == colour ? 1 : 0;
    }
    return n;
}

// Lowest row holding a pixel of `colour` in columns [x0, x1), or -1.
int lowestRow(const cv::Mat &frame, const cv::Vec3b &colour, int x0, int x1)
{
    for (int y = frame.rows - 1; y >= 0; --y) {
        for (int x = x0; x < x1; ++x) {
            if (frame.at<cv::Vec3b>(y, x) == colour)
                return y;
        }
    }
    return -1;
}

} // namespace

class TestTargetOverlay : public QObject
{
    Q_OBJECT

private slots:
    void colourFollowsAge_data();
    void colourFollowsAge();
    void unseenLabelIs20PixelsLower();
    void lastPositionAndMotion();
    void freshTrackHasNoMotion_data();
    void freshTrackHasNoMotion();
    void drawsEveryTrackAndSurvivesEmptyFrame();
};

void TestTargetOverlay::colourFollowsAge_data()
{
    QTest::addColumn<int>("age");
    QTest::addColumn<cv::Vec3b>("colour");
    QTest::newRow("seen") << 0 << kSeen;
    QTest::newRow("unseen once") << 1 << kUnseen;
    QTest::newRow("unseen four times") << 4 << kUnseen;
}

void TestTargetOverlay::colourFollowsAge()
{
    QFETCH(int, age);
    QFETCH(cv::Vec3b, colour);
    const cv::Mat frame = drawn(track(7, age, cv::Point(0, 0)));
    // Box corners (the box is width x height pixels from origine).
    QCOMPARE(frame.at<cv::Vec3b>(100, 100), colour);
    QCOMPARE(frame.at<cv::Vec3b>(129, 139), colour);
    QCOMPARE(frame.at<cv::Vec3b>(129, 140), cv::Vec3b(0, 0, 0));
    // Centroid dot.
    QCOMPARE(frame.at<cv::Vec3b>(115, 120), colour);
    const cv::Vec3b other = colour == kSeen ? kUnseen : kSeen;
    QCOMPARE(countColour(frame, other), 0);
}

void TestTargetOverlay::unseenLabelIs20PixelsLower()
{
    // Columns right of the box and the dot hold only the label's digits.
    const int x0 = 145;
    const int x1 = 220;
    const cv::Mat seen = drawn(track(12345, 0, cv::Point(0, 0)));
    const cv::Mat unseen = drawn(track(12345, 1, cv::Point(0, 0)));
    const int seenBottom = lowestRow(seen, kSeen, x0, x1);
    const int unseenBottom = lowestRow(unseen, kUnseen, x0, x1);
    QVERIFY(seenBottom >= 0);
    QCOMPARE(unseenBottom - seenBottom, 20);
    // The label sits on origine: its bottom is within the stroke width of it.
    QVERIFY(qAbs(seenBottom - 100) <= 2);
}

void TestTargetOverlay::lastPositionAndMotion()
{
    const cv::Mat frame = drawn(track(3, 0, cv::Point(60, 200)));
    // 10 x 10 outline from (55, 195) to (64, 204).
    QCOMPARE(frame.at<cv::Vec3b>(195, 55), kLast);
    QCOMPARE(frame.at<cv::Vec3b>(204, 64), kLast);
    QCOMPARE(frame.at<cv::Vec3b>(204, 55), kLast);
    QCOMPARE(frame.at<cv::Vec3b>(205, 64), cv::Vec3b(0, 0, 0));
    QCOMPARE(frame.at<cv::Vec3b>(199, 59), cv::Vec3b(0, 0, 0));
    // The motion line is drawn last, over the dot and the square: an
    // 8-connected line from (120, 115) to (60, 200) covers 85 + 1 pixels.
    QCOMPARE(frame.at<cv::Vec3b>(200, 60), kMotion);
    QCOMPARE(frame.at<cv::Vec3b>(115, 120), kMotion);
    QCOMPARE(countColour(frame, kMotion), 86);
}

void TestTargetOverlay::freshTrackHasNoMotion_data()
{
    QTest::addColumn<cv::Point>("last");
    QTest::newRow("never updated") << cv::Point(0, 0);
    QTest::newRow("x missing") << cv::Point(0, 50);
    QTest::newRow("y missing") << cv::Point(50, 0);
}

void TestTargetOverlay::freshTrackHasNoMotion()
{
    QFETCH(cv::Point, last);
    const cv::Mat frame = drawn(track(1, 0, last));
    QCOMPARE(countColour(frame, kLast), 0);
    QCOMPARE(countColour(frame, kMotion), 0);
    QVERIFY(countColour(frame, kSeen) > 0);
}

void TestTargetOverlay::drawsEveryTrackAndSurvivesEmptyFrame()
{
    Target a = track(1, 0, cv::Point(0, 0));
    Target b = track(2, 2, cv::Point(0, 0));
    b.origine = cv::Point(250, 200);
    b.centroid = cv::Point(270, 215);
    cv::Mat frame(300, 400, CV_8UC3, cv::Scalar::all(0));
    TargetOverlay().draw(frame, TargetList { &a, &b });
    QCOMPARE(frame.at<cv::Vec3b>(100, 100), kSeen);
    QCOMPARE(frame.at<cv::Vec3b>(200, 250), kUnseen);

    cv::Mat empty;
    TargetOverlay().draw(empty, TargetList { &a });
    QVERIFY(empty.empty());
}

QTEST_APPLESS_MAIN(TestTargetOverlay)
#include "test_targetoverlay.moc"
