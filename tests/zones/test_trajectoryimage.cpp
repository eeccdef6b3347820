#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "imgproc/target.h"
#include "testvideo.h"
#include "zones/trajectoryimage.h"
#include "zones/videofiles.h"

Q_DECLARE_METATYPE(cv::Point)

namespace {

const cv::Size frameSize(320, 240);
// Detection region: x 40..239, y 60..159, 20000 pixels.
const cv::Rect regionRect(40, 60, 200, 100);

cv::Mat regionMask(const cv::Rect &rect = regionRect)
{
    cv::Mat mask = cv::Mat::zeros(frameSize, CV_8UC1);
    mask(rect).setTo(cv::Scalar(255));
    return mask;
}

cv::Mat brightFrame()
{
    cv::Mat frame = testvideo::background(frameSize);
    frame += cv::Scalar::all(60); // no black pixel of its own
    return frame;
}

Target track(cv::Point last, cv::Point centroid)
{
    Target t;
    t.last = last;
    t.centroid = centroid;
    return t;
}

// Pixels of the banner: the filled rectangle as the banner rule places it.
cv::Rect bannerRect(const QString &text)
{
    int baseline = 0;
    const cv::Size size
        = cv::getTextSize(text.toStdString(), cv::FONT_HERSHEY_SIMPLEX, 0.5, 1, &baseline);
    const int left = (150 - size.width) / 2 + 1;
    const int base = (size.height + 20) / 2 + 1;
    return cv::Rect(
        cv::Point(left, base - size.height), cv::Point(left + size.width + 1, base + baseline + 1));
}

int countColour(const cv::Mat &image, const cv::Rect &rect, const cv::Vec3b &colour)
{
    int n = 0;
    for (int y = rect.y; y < rect.y + rect.height; ++y)
        for (int x = rect.x; x < rect.x + rect.width; ++x)
            n += image.at<cv::Vec3b>(y, x) == colour ? 1 : 0;
    return n;
}

bool sameImage(const cv::Mat &a, const cv::Mat &b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

} // namespace

class TestTrajectoryImage : public QObject
{
    Q_OBJECT

private slots:
    void constructedEmpty();
    void skippedTracks_data();
    void skippedTracks();
    void densityCountsOnlyInsideRegion();
    void banner();
    void composeIsRepeatable();
    void imageIsADeepCopy();
    void startRestarts();
    void saveWritesImageAndText();
    void saveCreatesMissingFolder();
    void emptyRegionGivesNan();
    void unusableInputDoesNotCrash();
};

void TestTrajectoryImage::constructedEmpty()
{
    TrajectoryImage trajectory;
    QVERIFY(trajectory.getDensityText().isEmpty());
    QVERIFY(trajectory.image().empty());
}

void TestTrajectoryImage::skippedTracks_data()
{
    QTest::addColumn<cv::Point>("last");
    QTest::addColumn<cv::Point>("centroid");
    QTest::newRow("new track") << cv::Point(0, 0) << cv::Point(100, 100);
    QTest::newRow("last x 0") << cv::Point(0, 80) << cv::Point(100, 100);
    QTest::newRow("last y 0") << cv::Point(80, 0) << cv::Point(100, 100);
    QTest::newRow("centroid x 0") << cv::Point(80, 80) << cv::Point(0, 100);
    QTest::newRow("centroid y 0") << cv::Point(80, 80) << cv::Point(100, 0);
}

void TestTrajectoryImage::skippedTracks()
{
    QFETCH(cv::Point, last);
    QFETCH(cv::Point, centroid);
    const cv::Mat frame = brightFrame();
    TrajectoryImage trajectory;
    trajectory.start(frame, regionMask(cv::Rect(0, 0, 320, 240)));
    Target skipped = track(last, centroid);
    trajectory.addTracks({ &skipped, nullptr });
    const cv::Mat picture = trajectory.image();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: 0.0000"));
    // Nothing but the banner differs from the frame.
    cv::Mat outsideBanner = picture.clone();
    frame(bannerRect(trajectory.getDensityText()))
        .copyTo(outsideBanner(bannerRect(trajectory.getDensityText())));
    QVERIFY(sameImage(outsideBanner, frame));
}

void TestTrajectoryImage::densityCountsOnlyInsideRegion()
{
    const cv::Mat frame = brightFrame();
    TrajectoryImage trajectory;
    trajectory.start(frame, regionMask());

    // 100 pixels, all inside the region.
    Target inside = track(cv::Point(50, 100), cv::Point(149, 100));
    trajectory.addTracks({ &inside });
    trajectory.compose();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: 0.0050"));

    // 100 pixels of which x 200..239 (40) are inside.
    Target across = track(cv::Point(200, 120), cv::Point(299, 120));
    trajectory.addTracks({ &across });
    const cv::Mat picture = trajectory.image();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: 0.0070"));

    const cv::Vec3b black(0, 0, 0);
    QCOMPARE(picture.at<cv::Vec3b>(100, 50), black);
    QCOMPARE(picture.at<cv::Vec3b>(100, 149), black);
    QCOMPARE(picture.at<cv::Vec3b>(120, 239), black);
    // Outside the region the frame shows through, though the line was drawn.
    QCOMPARE(picture.at<cv::Vec3b>(120, 240), frame.at<cv::Vec3b>(120, 240));
    QCOMPARE(picture.at<cv::Vec3b>(120, 299), frame.at<cv::Vec3b>(120, 299));
    QCOMPARE(picture.at<cv::Vec3b>(101, 100), frame.at<cv::Vec3b>(101, 100));
    QCOMPARE(countColour(picture, cv::Rect(0, 0, 320, 240), black), 140);

    // The same step again covers nothing new.
    trajectory.addTracks({ &inside, &across });
    trajectory.compose();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: 0.0070"));
}

void TestTrajectoryImage::banner()
{
    TrajectoryImage trajectory;
    trajectory.start(brightFrame(), regionMask());
    const cv::Mat picture = trajectory.image();
    const cv::Rect rect = bannerRect(trajectory.getDensityText());
    QVERIFY(rect.x > 0 && rect.x + rect.width <= 150);
    const int red = countColour(picture, rect, cv::Vec3b(0, 0, 255));
    const int yellow = countColour(picture, rect, cv::Vec3b(0, 255, 255));
    QVERIFY(red > 0);
    QVERIFY(yellow > 0);
    QCOMPARE(red + yellow, rect.area()); // the rectangle is filled, the text inside it
    // Centred within the first 150 pixels.
    QVERIFY(std::abs(rect.x - (150 - (rect.x + rect.width))) <= 3);
}

void TestTrajectoryImage::composeIsRepeatable()
{
    const cv::Mat frame = brightFrame();
    std::vector<Target> steps;
    for (int i = 0; i < 30; ++i)
        steps.push_back(
            track(cv::Point(45 + 6 * i, 65 + 3 * i), cv::Point(51 + 6 * i, 62 + 3 * i)));
    // One of them runs under the banner.
    steps.push_back(track(cv::Point(5, 8), cv::Point(140, 15)));

    // The window composes every frame, the batch program only at the end:
    // both must end with the same picture and text.
    TrajectoryImage everyFrame;
    TrajectoryImage atEnd;
    everyFrame.start(frame, regionMask(cv::Rect(0, 0, 320, 200)));
    atEnd.start(frame, regionMask(cv::Rect(0, 0, 320, 200)));
    for (Target &step : steps) {
        everyFrame.addTracks({ &step });
        everyFrame.compose();
        atEnd.addTracks({ &step });
    }
    const cv::Mat once = atEnd.image();
    QVERIFY(sameImage(everyFrame.image(), once));
    QCOMPARE(everyFrame.getDensityText(), atEnd.getDensityText());
    QVERIFY(everyFrame.getDensityText() != QStringLiteral("Density: 0.0000"));

    atEnd.compose();
    atEnd.compose();
    QVERIFY(sameImage(atEnd.image(), once));
}

void TestTrajectoryImage::imageIsADeepCopy()
{
    TrajectoryImage trajectory;
    trajectory.start(brightFrame(), regionMask());
    cv::Mat first = trajectory.image();
    const cv::Mat kept = first.clone();
    first.setTo(cv::Scalar::all(0));
    QVERIFY(sameImage(trajectory.image(), kept));

    // The caller's frame is not drawn on either.
    cv::Mat frame = brightFrame();
    const cv::Mat original = frame.clone();
    trajectory.start(frame, regionMask());
    Target step = track(cv::Point(50, 100), cv::Point(149, 100));
    trajectory.addTracks({ &step });
    trajectory.compose();
    QVERIFY(sameImage(frame, original));
}

void TestTrajectoryImage::startRestarts()
{
    TrajectoryImage trajectory;
    trajectory.start(brightFrame(), regionMask());
    Target step = track(cv::Point(50, 100), cv::Point(149, 100));
    trajectory.addTracks({ &step });
    trajectory.compose();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: 0.0050"));

    trajectory.start(brightFrame(), regionMask());
    const cv::Mat picture = trajectory.image();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: 0.0000"));
    QCOMPARE(picture.at<cv::Vec3b>(100, 100), brightFrame().at<cv::Vec3b>(100, 100));
}

void TestTrajectoryImage::saveWritesImageAndText()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("a.b.mp4"));
    QVERIFY(VideoFiles::ensureExportDir(video));

    // A one-row region of 200 pixels, half of it covered.
    TrajectoryImage trajectory;
    trajectory.start(brightFrame(), regionMask(cv::Rect(50, 100, 200, 1)));
    Target step = track(cv::Point(50, 100), cv::Point(149, 100));
    trajectory.addTracks({ &step });
    trajectory.save(video);

    QFile text(dir.filePath(QStringLiteral("exportCSV/a.b_doza.txt")));
    QVERIFY(text.open(QIODevice::ReadOnly));
    const QByteArray density = text.readAll();
    QCOMPARE(density, QByteArray("Density: 0.5000"));
    QCOMPARE(density.size(), 15);

    const QString jpg = dir.filePath(QStringLiteral("exportCSV/a.b_doza.jpg"));
    const cv::Mat written = cv::imread(QFile::encodeName(jpg).toStdString());
    QCOMPARE(written.size(), frameSize);
    // JPEG is lossy: compare loosely with the composed picture.
    QVERIFY(cv::norm(written, trajectory.image(), cv::NORM_L1) / written.total() < 12.0);

    // Saving again replaces both files.
    trajectory.start(brightFrame(), regionMask(cv::Rect(50, 100, 200, 1)));
    trajectory.save(video);
    text.close();
    QVERIFY(text.open(QIODevice::ReadOnly));
    QCOMPARE(text.readAll(), QByteArray("Density: 0.0000"));
}

void TestTrajectoryImage::saveCreatesMissingFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A folder name outside Latin-1 as well.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("vidéos_ζ")));
    const QString video = dir.filePath(QStringLiteral("vidéos_ζ/clip.mp4"));
    TrajectoryImage trajectory;
    trajectory.start(brightFrame(), regionMask());
    trajectory.save(video);
    QVERIFY(QFile::exists(VideoFiles::trajectoryImageFile(video)));
    QVERIFY(QFile::exists(VideoFiles::densityFile(video)));
}

void TestTrajectoryImage::emptyRegionGivesNan()
{
    TrajectoryImage trajectory;
    trajectory.start(brightFrame(), cv::Mat::zeros(frameSize, CV_8UC1));
    Target step = track(cv::Point(50, 100), cv::Point(149, 100));
    trajectory.addTracks({ &step });
    const cv::Mat picture = trajectory.image();
    QCOMPARE(trajectory.getDensityText(), QStringLiteral("Density: nan"));
    // Outside the region nothing is blackened.
    QCOMPARE(picture.at<cv::Vec3b>(100, 100), brightFrame().at<cv::Vec3b>(100, 100));
}

void TestTrajectoryImage::unusableInputDoesNotCrash()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString video = dir.filePath(QStringLiteral("v.mp4"));
    Target step = track(cv::Point(50, 100), cv::Point(149, 100));
    Target wild = track(cv::Point(INT_MIN, INT_MAX), cv::Point(INT_MAX, INT_MIN));

    // Never started.
    TrajectoryImage idle;
    idle.addTracks({ &step });
    idle.compose();
    idle.save(video);
    QVERIFY(!QFile::exists(VideoFiles::trajectoryImageFile(video)));

    // A mask of another size counts no region instead of failing.
    TrajectoryImage mismatched;
    mismatched.start(brightFrame(), cv::Mat(100, 100, CV_8UC1, cv::Scalar(255)));
    mismatched.addTracks({ &step, &wild });
    QVERIFY(!mismatched.image().empty());
    QCOMPARE(mismatched.getDensityText(), QStringLiteral("Density: nan"));

    // A grey frame becomes a colour picture.
    TrajectoryImage grey;
    grey.start(cv::Mat(frameSize, CV_8UC1, cv::Scalar(128)), regionMask());
    grey.addTracks({ &step, &wild });
    QCOMPARE(grey.image().type(), CV_8UC3);
}

QTEST_APPLESS_MAIN(TestTrajectoryImage)
#include "test_trajectoryimage.moc"
