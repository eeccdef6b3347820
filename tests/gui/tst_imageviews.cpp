#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QDir>
#include <QFile>
#include <QGraphicsPixmapItem>
#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "displaygeometry.h"
#include "graphicsviewmouse.h"
#include "imagegraphicsview.h"
#include "imagewindow.h"

namespace {

// Every pixel tells where it came from: blue = x % 256, green = y % 256,
// red = 16 * (x / 256) + y / 256.
cv::Mat positionFrame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            frame.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x % 256),
                static_cast<uchar>(y % 256), static_cast<uchar>(16 * (x / 256) + y / 256));
    }
    return frame;
}

QPoint decodeRgb(QRgb rgb)
{
    return QPoint(qBlue(rgb) + 256 * (qRed(rgb) / 16), qGreen(rgb) + 256 * (qRed(rgb) % 16));
}

QPoint decodeBgr(const cv::Vec3b &bgr)
{
    return QPoint(bgr[0] + 256 * (bgr[2] / 16), bgr[1] + 256 * (bgr[2] % 16));
}

// Left half blue, right half red, in BGR order.
cv::Mat twoColourFrame(int width, int height)
{
    cv::Mat frame(height, width, CV_8UC3, cv::Scalar(255, 0, 0));
    frame(cv::Rect(width / 2, 0, width - width / 2, height)).setTo(cv::Scalar(0, 0, 255));
    return frame;
}

} // namespace

class TestImageViews : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void zoomWindow_data();
    void zoomWindow();
    void zoomWindowStaysInsideFrame();
    void placement_data();
    void placement();
    void zoomedToNormalReplacesScene();
    void zoomShowsTheCutWindow_data();
    void zoomShowsTheCutWindow();
    void zoomOnSmallFrameShowsItWhole();
    void scaledPictureIsRgbAndBicubic();
    void unusableFrameLeavesView_data();
    void unusableFrameLeavesView();
    void saveWritesShownPicture_data();
    void saveWritesShownPicture();
    void saveOverwritesWithLatestPicture();
    void saveToUtf8Path();
    void saveReplacesLinkNotItsTarget();
    void unwritableTargetSkipped_data();
    void unwritableTargetSkipped();
    void emptyFileNameWritesNothing();
    void greyImage();
    void clearEmptiesView();

    void viewReportsMouse();
    void viewKeepsPressFromScene();

    void imageWindowTakesOverParent();
    void imageWindowShowsImage();
    void imageWindowReportsMouse();

private:
    const QPixmap shownPixmap() const;

    std::unique_ptr<QWidget> m_page;
    GraphicsViewMouse *m_view = nullptr;
    DisplayGeometry m_geometry;
    std::unique_ptr<ImageGraphicsView> m_images;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestImageViews::init()
{
    m_page = std::make_unique<QWidget>();
    m_page->resize(1200, 700);
    m_view = new GraphicsViewMouse(m_page.get());
    m_view->setGeometry(5, 5, 100, 100);
    m_geometry = DisplayGeometry();
    m_images = std::make_unique<ImageGraphicsView>(&m_geometry, m_view);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestImageViews::cleanup()
{
    m_images.reset();
    m_page.reset();
    m_dir.reset();
}

const QPixmap TestImageViews::shownPixmap() const
{
    if (!m_view->scene())
        return QPixmap();
    const QList<QGraphicsItem *> items = m_view->scene()->items();
    if (items.size() != 1)
        return QPixmap();
    const auto *item = qgraphicsitem_cast<const QGraphicsPixmapItem *>(items.first());
    return item ? item->pixmap() : QPixmap();
}

void TestImageViews::zoomWindow_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<QRect>("window");

    const QSize hd(1920, 1080);
    QTest::newRow("top left") << hd << QPoint(100, 100) << QRect(0, 0, 640, 480);
    QTest::newRow("bottom right") << hd << QPoint(1900, 1000) << QRect(1280, 600, 640, 480);
    QTest::newRow("on the half window") << hd << QPoint(320, 240) << QRect(0, 0, 640, 480);
    QTest::newRow("one past the half") << hd << QPoint(321, 241) << QRect(1, 1, 640, 480);
    QTest::newRow("last free position") << hd << QPoint(1599, 839) << QRect(1279, 599, 640, 480);
    QTest::newRow("first stopped position")
        << hd << QPoint(1600, 840) << QRect(1280, 600, 640, 480);
    QTest::newRow("centre") << hd << QPoint(960, 540) << QRect(640, 300, 640, 480);
    QTest::newRow("left of the frame") << hd << QPoint(-5, -5) << QRect(0, 0, 640, 480);
    QTest::newRow("right of the frame") << hd << QPoint(5000, 5000) << QRect(1280, 600, 640, 480);
    QTest::newRow("mixed edges") << hd << QPoint(1919, 0) << QRect(1280, 0, 640, 480);
    QTest::newRow("720p middle") << QSize(1280, 720) << QPoint(700, 400)
                                 << QRect(380, 160, 640, 480);
    QTest::newRow("frame of window size")
        << QSize(640, 480) << QPoint(639, 479) << QRect(0, 0, 640, 480);
    QTest::newRow("smaller frame whole")
        << QSize(320, 240) << QPoint(300, 200) << QRect(0, 0, 320, 240);
    QTest::newRow("wide but low frame")
        << QSize(800, 400) << QPoint(700, 200) << QRect(160, 0, 640, 400);
}

void TestImageViews::zoomWindow()
{
    QFETCH(QSize, frame);
    QFETCH(QPoint, centre);
    QFETCH(QRect, window);

    const cv::Rect rect = ImageGraphicsView::zoomWindow(
        cv::Size(frame.width(), frame.height()), centre.x(), centre.y());
    QCOMPARE(QRect(rect.x, rect.y, rect.width, rect.height), window);
}

void TestImageViews::zoomWindowStaysInsideFrame()
{
    // Every centre over every frame size: the window lies inside the frame and
    // holds the centre whenever the centre is inside the frame.
    const QList<QSize> sizes { { 1920, 1080 }, { 1280, 720 }, { 641, 481 }, { 640, 480 },
        { 700, 300 }, { 100, 50 } };
    for (const QSize &size : sizes) {
        const cv::Rect frame(0, 0, size.width(), size.height());
        for (int y = -3; y <= size.height() + 3; y += 7) {
            for (int x = -3; x <= size.width() + 3; x += 5) {
                const cv::Rect window = ImageGraphicsView::zoomWindow(frame.size(), x, y);
                if ((window & frame) != window)
                    QFAIL(qPrintable(QStringLiteral("window outside the frame for %1,%2 in %3x%4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(size.width())
                                         .arg(size.height())));
                if (frame.contains(cv::Point(x, y)))
                    QVERIFY(window.contains(cv::Point(x, y)));
            }
        }
    }
}

void TestImageViews::placement_data()
{
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<bool>("zoom");
    QTest::addColumn<QRect>("viewRect");
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("mark");

    QTest::newRow("1920x1080") << QSize(1920, 1080) << false << QRect(290, 120, 642, 362)
                               << QSize(640, 360) << 120;
    QTest::newRow("1280x720") << QSize(1280, 720) << false << QRect(290, 120, 642, 362)
                              << QSize(640, 360) << 120;
    QTest::newRow("640x480") << QSize(640, 480) << false << QRect(290, 60, 642, 482)
                             << QSize(640, 480) << 60;
    QTest::newRow("320x240") << QSize(320, 240) << false << QRect(290, 60, 642, 482)
                             << QSize(640, 480) << 60;
    QTest::newRow("800x600") << QSize(800, 600) << false << QRect(290, 60, 642, 482)
                             << QSize(640, 480) << 60;
    QTest::newRow("zoomed 1920x1080")
        << QSize(1920, 1080) << true << QRect(270, 60, 642, 482) << QSize(640, 480) << 640;
    QTest::newRow("zoomed 640x480")
        << QSize(640, 480) << true << QRect(270, 60, 642, 482) << QSize(640, 480) << 640;
}

void TestImageViews::placement()
{
    QFETCH(QSize, frame);
    QFETCH(bool, zoom);
    QFETCH(QRect, viewRect);
    QFETCH(QSize, picture);
    QFETCH(int, mark);

    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    QCOMPARE(m_images->placement(), 0);
    m_geometry.setFromFrameSize(frame.width(), frame.height());
    const cv::Mat mat = twoColourFrame(frame.width(), frame.height());
    m_images->showImage(mat, zoom, 100, 100, false, QString());
    QCOMPARE(m_view->geometry(), viewRect);
    QCOMPARE(shownPixmap().size(), picture);
    QCOMPARE(m_images->placement(), mark);
    // The whole picture fits the view: nothing to scroll.
    QApplication::processEvents();
    QCOMPARE(m_view->viewport()->size(), picture);
}

void TestImageViews::zoomedToNormalReplacesScene()
{
    m_geometry.setFromFrameSize(1280, 720);
    const cv::Mat mat = twoColourFrame(1280, 720);

    m_images->showImage(mat, true, 640, 360, false, QString());
    QCOMPARE(m_view->geometry(), QRect(270, 60, 642, 482));
    QGraphicsScene *zoomScene = m_view->scene();

    m_images->showImage(mat, true, 10, 10, false, QString());
    QCOMPARE(m_view->scene(), zoomScene);

    m_images->showImage(mat, false, 0, 0, false, QString());
    QCOMPARE(m_view->geometry(), QRect(290, 120, 642, 362));
    QVERIFY(m_view->scene() != zoomScene);
    QCOMPARE(m_view->scene()->sceneRect(), QRectF(0, 0, 640, 360));
    QCOMPARE(m_images->placement(), 120);

    // A 640 x 480 video opened next: the view moves up and grows.
    m_geometry.setFromFrameSize(640, 480);
    m_images->showImage(twoColourFrame(640, 480), false, 0, 0, false, QString());
    QCOMPARE(m_view->geometry(), QRect(290, 60, 642, 482));
    QCOMPARE(m_view->scene()->sceneRect(), QRectF(0, 0, 640, 480));
}

void TestImageViews::zoomShowsTheCutWindow_data()
{
    QTest::addColumn<QPoint>("centre");
    QTest::addColumn<QPoint>("topLeft");

    QTest::newRow("top left") << QPoint(100, 100) << QPoint(0, 0);
    QTest::newRow("bottom right") << QPoint(1900, 1000) << QPoint(1280, 600);
    QTest::newRow("middle") << QPoint(1000, 500) << QPoint(680, 260);
}

void TestImageViews::zoomShowsTheCutWindow()
{
    QFETCH(QPoint, centre);
    QFETCH(QPoint, topLeft);

    m_geometry.setFromFrameSize(1920, 1080);
    m_images->showImage(positionFrame(1920, 1080), true, centre.x(), centre.y(), false, QString());
    const QImage shown = shownPixmap().toImage();
    QCOMPARE(shown.size(), QSize(640, 480));
    // 1:1, no scaling: corners and an inner pixel come from the window.
    QCOMPARE(decodeRgb(shown.pixel(0, 0)), topLeft);
    QCOMPARE(decodeRgb(shown.pixel(639, 479)), topLeft + QPoint(639, 479));
    QCOMPARE(decodeRgb(shown.pixel(123, 321)), topLeft + QPoint(123, 321));
}

void TestImageViews::zoomOnSmallFrameShowsItWhole()
{
    // An odd width makes rows that are not 4-byte aligned.
    m_geometry.setFromFrameSize(322, 243);
    m_images->showImage(positionFrame(322, 243), true, 300, 200, false, QString());
    const QImage shown = shownPixmap().toImage();
    QCOMPARE(shown.size(), QSize(322, 243));
    for (const QPoint &p : { QPoint(0, 0), QPoint(321, 0), QPoint(5, 100), QPoint(321, 242) })
        QCOMPARE(decodeRgb(shown.pixel(p)), p);
}

void TestImageViews::scaledPictureIsRgbAndBicubic()
{
    // A grey step between columns 99 and 100 of a 1280 x 720 frame, halved
    // for display: bicubic weights ring on both sides of the step, which
    // nearest, linear and area scaling never do.
    m_geometry.setFromFrameSize(1280, 720);
    cv::Mat frame(720, 1280, CV_8UC3, cv::Scalar(64, 64, 64));
    frame(cv::Rect(100, 0, 1180, 720)).setTo(cv::Scalar(192, 192, 192));
    frame(cv::Rect(600, 0, 680, 720)).setTo(cv::Scalar(255, 0, 0)); // blue in BGR
    m_images->showImage(frame, false, 0, 0, false, QString());

    const QImage shown = shownPixmap().toImage();
    QCOMPARE(shown.size(), QSize(640, 360));
    QCOMPARE(qGray(shown.pixel(10, 100)), 64);
    QVERIFY2(qGray(shown.pixel(49, 100)) < 60, "no undershoot before the step");
    QVERIFY2(qGray(shown.pixel(50, 100)) > 196, "no overshoot after the step");
    QCOMPARE(qGray(shown.pixel(150, 100)), 192);
    QCOMPARE(shown.pixel(500, 200), qRgb(0, 0, 255));
}

void TestImageViews::unusableFrameLeavesView_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("cols");
    QTest::addColumn<int>("type");

    QTest::newRow("no data") << 0 << 0 << CV_8UC3;
    QTest::newRow("no columns") << 10 << 0 << CV_8UC3;
    QTest::newRow("grey") << 480 << 640 << CV_8UC1;
    QTest::newRow("four channels") << 480 << 640 << CV_8UC4;
    QTest::newRow("float") << 480 << 640 << CV_32FC3;
}

void TestImageViews::unusableFrameLeavesView()
{
    QFETCH(int, rows);
    QFETCH(int, cols);
    QFETCH(int, type);

    m_geometry.setFromFrameSize(1920, 1080);
    m_images->showImage(twoColourFrame(1920, 1080), false, 0, 0, false, QString());
    const QImage before = shownPixmap().toImage();
    QGraphicsScene *scene = m_view->scene();

    const QString target = m_dir->filePath(QStringLiteral("shot.png"));
    m_images->showImage(cv::Mat(rows, cols, type, cv::Scalar::all(0)), true, 0, 0, true, target);
    QCOMPARE(m_view->scene(), scene);
    QCOMPARE(m_view->geometry(), QRect(290, 120, 642, 362));
    QCOMPARE(shownPixmap().toImage(), before);
    QVERIFY(!QFile::exists(target));
}

void TestImageViews::saveWritesShownPicture_data()
{
    QTest::addColumn<bool>("zoom");
    QTest::addColumn<QSize>("picture");

    QTest::newRow("scaled") << false << QSize(640, 360);
    QTest::newRow("zoomed") << true << QSize(640, 480);
}

void TestImageViews::saveWritesShownPicture()
{
    QFETCH(bool, zoom);
    QFETCH(QSize, picture);

    m_geometry.setFromFrameSize(1920, 1080);
    const QString target = m_dir->filePath(QStringLiteral("shot.png"));
    m_images->showImage(positionFrame(1920, 1080), zoom, 1000, 700, true, target);

    const cv::Mat saved = cv::imread(QFile::encodeName(target).toStdString());
    QCOMPARE(QSize(saved.cols, saved.rows), picture);
    // Pixel for pixel what the view shows, still in BGR order in the file.
    const QImage shown = shownPixmap().toImage();
    for (int y = 0; y < saved.rows; y += 7) {
        for (int x = 0; x < saved.cols; x += 5) {
            const cv::Vec3b bgr = saved.at<cv::Vec3b>(y, x);
            QCOMPARE(shown.pixel(x, y), qRgb(bgr[2], bgr[1], bgr[0]));
        }
    }
    if (zoom)
        QCOMPARE(decodeBgr(saved.at<cv::Vec3b>(0, 0)), QPoint(680, 460));
}

void TestImageViews::saveOverwritesWithLatestPicture()
{
    m_geometry.setFromFrameSize(640, 480);
    const QString target = m_dir->filePath(QStringLiteral("latest.png"));
    m_images->showImage(
        cv::Mat(480, 640, CV_8UC3, cv::Scalar(10, 20, 30)), false, 0, 0, true, target);
    m_images->showImage(
        cv::Mat(480, 640, CV_8UC3, cv::Scalar(200, 100, 50)), false, 0, 0, true, target);
    const cv::Mat saved = cv::imread(QFile::encodeName(target).toStdString());
    QCOMPARE(saved.at<cv::Vec3b>(240, 320), cv::Vec3b(200, 100, 50));
}

void TestImageViews::saveToUtf8Path()
{
    QDir dir(m_dir->path());
    const QString folder = QStringLiteral("Vidéos ñ \u6620\u50cf");
    QVERIFY(dir.mkdir(folder));
    const QString target = dir.filePath(folder + QStringLiteral("/prise \u00e9t\u00e9.jpg"));

    m_geometry.setFromFrameSize(1280, 720);
    m_images->showImage(twoColourFrame(1280, 720), false, 0, 0, true, target);
    QVERIFY(QFile::exists(target));
    const cv::Mat saved = cv::imread(QFile::encodeName(target).toStdString());
    QCOMPARE(QSize(saved.cols, saved.rows), QSize(640, 360));
}

void TestImageViews::saveReplacesLinkNotItsTarget()
{
    const QString outside = m_dir->filePath(QStringLiteral("outside.txt"));
    const QString target = m_dir->filePath(QStringLiteral("shot.png"));
    QFile file(outside);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
    file.close();
    QVERIFY(QFile::link(outside, target));
    m_geometry.setFromFrameSize(640, 480);
    m_images->showImage(cv::Mat(480, 640, CV_8UC3, cv::Scalar(1, 2, 3)), false, 0, 0, true, target);
    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(cv::imread(QFile::encodeName(target).toStdString()).cols, 640);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("keep"));
}

void TestImageViews::unwritableTargetSkipped_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("missing folder") << QStringLiteral("no/such/folder/shot.jpg");
    QTest::newRow("unknown extension") << QStringLiteral("shot.unknownformat");
    QTest::newRow("no extension") << QStringLiteral("shot");
}

void TestImageViews::unwritableTargetSkipped()
{
    QFETCH(QString, name);

    static int warnings = 0;
    warnings = 0;
    const QtMessageHandler previous
        = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &) {
              if (type == QtWarningMsg)
                  ++warnings;
          });

    m_geometry.setFromFrameSize(1920, 1080);
    const QString target = m_dir->filePath(name);
    m_images->showImage(twoColourFrame(1920, 1080), false, 0, 0, true, target);
    m_images->showImage(positionFrame(1920, 1080), true, 960, 540, true, target);
    qInstallMessageHandler(previous);

    // The display went on, the target was skipped, and the warning came once.
    QVERIFY(!QFile::exists(target));
    const QImage shown = shownPixmap().toImage();
    QCOMPARE(shown.size(), QSize(640, 480));
    QCOMPARE(decodeRgb(shown.pixel(0, 0)), QPoint(640, 300));
    QCOMPARE(warnings, 1);
}

void TestImageViews::emptyFileNameWritesNothing()
{
    QDir::setCurrent(m_dir->path());
    m_geometry.setFromFrameSize(640, 480);
    m_images->showImage(twoColourFrame(640, 480), false, 0, 0, true, QString());
    QCOMPARE(shownPixmap().size(), QSize(640, 480));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files).isEmpty());
}

void TestImageViews::greyImage()
{
    // A horizontal ramp: dark on the left, bright on the right, in grey.
    cv::Mat grey(60, 256, CV_8UC1);
    for (int x = 0; x < grey.cols; ++x)
        grey.col(x).setTo(x);
    m_images->showImageGrey(grey);

    const QImage shown = shownPixmap().toImage();
    QCOMPARE(shown.size(), QSize(640, 480));
    const QRgb left = shown.pixel(2, 240);
    const QRgb right = shown.pixel(637, 240);
    QVERIFY(qGray(left) < 10);
    QVERIFY(qGray(right) > 245);
    const QRgb middle = shown.pixel(320, 240);
    QCOMPARE(qRed(middle), qGreen(middle));
    QCOMPARE(qGreen(middle), qBlue(middle));
    QVERIFY(qAbs(qGray(middle) - 128) < 4);

    // Empty or colour input changes nothing.
    m_images->showImageGrey(cv::Mat());
    m_images->showImageGrey(cv::Mat(10, 10, CV_8UC3, cv::Scalar::all(255)));
    QCOMPARE(shownPixmap().toImage(), shown);
}

void TestImageViews::clearEmptiesView()
{
    m_images->showImage(twoColourFrame(640, 480), false, 0, 0, false, QString());
    QGraphicsScene *scene = m_view->scene();
    m_images->clear();
    QCOMPARE(m_view->scene(), scene);
    QVERIFY(scene->items().isEmpty());
}

void TestImageViews::viewReportsMouse()
{
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));

    QList<QPoint> presses;
    QList<QPoint> doubleClicks;
    QList<QPoint> moves;
    connect(m_view, &GraphicsViewMouse::sendMousePressVideo, this,
        [&](QMouseEvent *e) { presses << e->pos(); });
    connect(m_view, &GraphicsViewMouse::sendMouseBClickVideo, this,
        [&](QMouseEvent *e) { doubleClicks << e->pos(); });
    connect(m_view, &GraphicsViewMouse::sendMouseMoveVideo, this,
        [&](QMouseEvent *e) { moves << e->pos(); });

    QWidget *viewport = m_view->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(12, 34));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(12, 34));
    QCOMPARE(presses, QList<QPoint> { QPoint(12, 34) });

    QMouseEvent move(
        QEvent::MouseMove, QPointF(40, 50), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    // No button held: reported only because the viewport tracks the mouse.
    QVERIFY(viewport->hasMouseTracking());
    QCOMPARE(moves, QList<QPoint> { QPoint(40, 50) });

    QMouseEvent dclick(
        QEvent::MouseButtonDblClick, QPointF(7, 8), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &dclick);
    QCOMPARE(doubleClicks, QList<QPoint> { QPoint(7, 8) });
    QCOMPARE(presses.size(), 1);
}

void TestImageViews::viewKeepsPressFromScene()
{
    // A press handled by the graphics view would select the item under it.
    QGraphicsScene scene;
    QGraphicsRectItem *item = scene.addRect(0, 0, 50, 50);
    item->setFlag(QGraphicsItem::ItemIsSelectable);
    m_view->setScene(&scene);
    m_view->setGeometry(0, 0, 100, 100);
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));

    const QPoint onItem = m_view->mapFromScene(QPointF(25, 25));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, onItem);
    QVERIFY(!item->isSelected());
    m_view->setScene(nullptr);
}

void TestImageViews::imageWindowTakesOverParent()
{
    QWidget parent;
    parent.setWindowTitle(QStringLiteral("Kestrin"));
    QPixmap iconPixmap(16, 16);
    iconPixmap.fill(Qt::red);
    parent.setWindowIcon(QIcon(iconPixmap));

    ImageWindow window(&parent, QStringLiteral("Doza Vozizoz"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Kestrin Doza Vozizoz"));
    QVERIFY(window.parentWidget() == nullptr);
    QVERIFY(window.isWindow());
    QVERIFY(window.windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint));
    QCOMPARE(window.cursor().shape(), Qt::CrossCursor);
    QVERIFY(window.hasMouseTracking());
    QVERIFY(!window.windowIcon().isNull());
    QCOMPARE(window.windowIcon().pixmap(16, 16).toImage().pixel(8, 8), qRgb(255, 0, 0));
}

void TestImageViews::imageWindowShowsImage()
{
    QWidget parent;
    ImageWindow window(&parent, QStringLiteral("Doza Vozizoz"));
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(qRgb(1, 2, 3));
    QVERIFY(!window.isVisible());
    window.showImage(image);
    QVERIFY(window.isVisible());
    QCOMPARE(window.pixmap(Qt::ReturnByValue).size(), QSize(200, 100));
    QCOMPARE(window.pixmap(Qt::ReturnByValue).toImage().pixel(50, 50), qRgb(1, 2, 3));

    image.fill(qRgb(9, 8, 7));
    window.showImage(image);
    QCOMPARE(window.pixmap(Qt::ReturnByValue).toImage().pixel(50, 50), qRgb(9, 8, 7));
}

void TestImageViews::imageWindowReportsMouse()
{
    QWidget parent;
    ImageWindow window(&parent, QStringLiteral("Doza Vozizoz"));
    QImage image(200, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    window.showImage(image);
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QSignalSpy spy(&window, &ImageWindow::mouseMoved);
    QMouseEvent move(
        QEvent::MouseMove, QPointF(10.6, 20.2), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &move);
    QVERIFY(move.isAccepted());
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().toPoint(), QPoint(11, 20));
}

QTEST_MAIN(TestImageViews)
#include "tst_imageviews.moc"
