#include "imagegraphicsview.h"

#include <algorithm>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QImage>
#include <QPixmap>

#include "displaygeometry.h"
#include "logging.h"
#include "zones/safefile.h"

namespace {
constexpr int zoomWidth = 640;
constexpr int zoomHeight = 480;
constexpr int zoomMark = 640;

// Leading edge of a window of `window` pixels around `centre` on an axis of
// `extent` pixels.
int zoomEdge(int extent, int window, int centre)
{
    const int half = window / 2;
    if (extent <= window || centre <= half)
        return 0;
    if (centre < extent - half)
        return centre - half;
    return extent - window;
}
} // namespace

ImageGraphicsView::ImageGraphicsView(
    const DisplayGeometry *geometry, QGraphicsView *view, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_geometry(geometry)
    , m_scene(new QGraphicsScene(this))
{
}

cv::Rect ImageGraphicsView::zoomWindow(const cv::Size &frameSize, int x, int y)
{
    return cv::Rect(zoomEdge(frameSize.width, zoomWidth, x),
        zoomEdge(frameSize.height, zoomHeight, y), std::min(zoomWidth, frameSize.width),
        std::min(zoomHeight, frameSize.height));
}

void ImageGraphicsView::showImage(
    const cv::Mat &mat, bool bZoom, int x, int y, bool save, const QString &filename)
{
    if (mat.empty() || mat.total() == 0)
        return;
    if (mat.type() != CV_8UC3) {
        qCWarning(lcGui) << "Not a BGR frame, type" << mat.type();
        return;
    }

    m_scene->clear();
    cv::Mat picture;
    if (bZoom) {
        placeView(zoomMark, zoomWidth + 2, zoomHeight + 2, 270, 60);
        // A view into the frame: the conversion below makes the only copy.
        picture = mat(zoomWindow(mat.size(), x, y));
    } else {
        const cv::Size display = m_geometry->size();
        placeView(m_geometry->viewTop(), display.width + 2, display.height + 2,
            m_geometry->viewLeft(), m_geometry->viewTop());
        cv::resize(mat, m_scaled, display, 0, 0, cv::INTER_CUBIC);
        picture = m_scaled;
    }

    if (save)
        this->save(picture, filename);

    cv::cvtColor(picture, m_rgb, cv::COLOR_BGR2RGB);
    // Rows of an odd width are not 4-byte aligned: pass the real row length.
    const QImage image(
        m_rgb.data, m_rgb.cols, m_rgb.rows, static_cast<int>(m_rgb.step), QImage::Format_RGB888);
    m_scene->addPixmap(QPixmap::fromImage(image));
    m_view->setScene(m_scene);
}

void ImageGraphicsView::showImageGrey(const cv::Mat &mat)
{
    if (mat.empty())
        return;
    if (mat.type() != CV_8UC1) {
        qCWarning(lcGui) << "Not a grey image, type" << mat.type();
        return;
    }

    m_scene->clear();
    cv::resize(mat, m_grey, cv::Size(zoomWidth, zoomHeight), 0, 0, cv::INTER_CUBIC);
    // Grey levels, not palette indices: an indexed image without a colour
    // table would show black.
    const QImage image(m_grey.data, m_grey.cols, m_grey.rows, static_cast<int>(m_grey.step),
        QImage::Format_Grayscale8);
    m_scene->addPixmap(QPixmap::fromImage(image));
    m_view->setScene(m_scene);
}

void ImageGraphicsView::clear()
{
    m_scene->clear();
    m_view->setScene(m_scene);
}

void ImageGraphicsView::showMessage(const QString &text)
{
    // A scene of its own, and the next picture places the view afresh.
    replaceScene();
    m_place = QRect();
    QGraphicsTextItem *item = m_scene->addText(text);
    const QSize viewport = m_view->viewport()->size();
    item->setTextWidth(std::max(100, viewport.width() - 20));
    // The scene spans the viewport, so the text sits in its middle.
    m_scene->setSceneRect(0, 0, viewport.width(), viewport.height());
    const QRectF bounds = item->boundingRect();
    item->setPos(
        (viewport.width() - bounds.width()) / 2, (viewport.height() - bounds.height()) / 2);
    m_view->setScene(m_scene);
}

void ImageGraphicsView::replaceScene()
{
    // A fresh scene starts with an empty scene rectangle, which a scene only
    // ever grows: the new placement is not scrolled by the old picture size.
    QGraphicsScene *old = m_scene;
    m_scene = new QGraphicsScene(this);
    m_view->setScene(m_scene);
    delete old;
}

void ImageGraphicsView::placeView(int mark, int width, int height, int left, int top)
{
    // Two scaled sizes may share a view top: the place decides, not the mark.
    const QRect place(left, top, width, height);
    if (m_placement == mark && m_place == place)
        return;
    replaceScene();
    m_placement = mark;
    m_place = place;
    m_view->resize(width, height);
    m_view->move(left, top);
}

QString ImageGraphicsView::writePicture(const cv::Mat &picture, const QString &filename)
{
    // Encoded first: a failed save leaves the earlier picture.
    const QString suffix = QFileInfo(filename).suffix();
    std::vector<unsigned char> bytes;
    try {
        if (!cv::imencode('.' + suffix.toStdString(), picture, bytes))
            return QStringLiteral("it cannot be encoded as %1").arg(suffix);
    } catch (const cv::Exception &e) {
        // An unknown extension throws.
        return QString::fromStdString(e.msg);
    }
    return SafeFile::save(filename,
        QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size())));
}

void ImageGraphicsView::save(const cv::Mat &picture, const QString &filename)
{
    if (filename.isEmpty())
        return;
    // The display goes on without saving.
    const QString reason = writePicture(picture, filename);
    if (reason.isEmpty()) {
        m_failedSave.clear();
        return;
    }
    if (m_failedSave != filename) {
        m_failedSave = filename;
        qCWarning(lcGui).noquote() << "Shown picture not saved to" << filename << ":" << reason;
        emit saveFailed(filename, reason);
    }
}
