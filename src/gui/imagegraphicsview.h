#pragma once

#include <opencv2/core/mat.hpp>

#include <QObject>
#include <QRect>
#include <QString>

class DisplayGeometry;
class QGraphicsScene;
class QGraphicsView;

// Drives the main window's video view: scales a frame to the display geometry
// or cuts a 1:1 zoom window out of it, optionally saves exactly what is shown,
// and keeps the view's size and position in step with the geometry.
class ImageGraphicsView final : public QObject
{
    Q_OBJECT

public:
    // Neither the geometry nor the view is owned; both must outlive this object.
    ImageGraphicsView(
        const DisplayGeometry *geometry, QGraphicsView *view, QObject *parent = nullptr);

    // The 640 x 480 window of frame pixels shown when zoomed around (x, y): it
    // follows the centre and stops at the frame borders. A frame smaller than
    // the window in one direction is shown whole in that direction.
    static cv::Rect zoomWindow(const cv::Size &frameSize, int x, int y);

    // How the view is placed: 0 before the first picture, 640 while zoomed,
    // else the geometry's view top it was last sized for.
    int placement() const { return m_placement; }

public slots:
    // Shows a BGR frame (8-bit, 3 channels). x and y are read only when bZoom
    // is true, filename only when save is true. An empty or differently typed
    // matrix leaves the view as it was.
    void showImage(
        const cv::Mat &mat, bool bZoom, int x, int y, bool save, const QString &filename);
    // Shows an 8-bit grey image scaled to 640 x 480.
    void showImageGrey(const cv::Mat &mat);
    void clear();
    // Replaces the picture by a line of text, centred in the view: why there
    // is no picture to show.
    void showMessage(const QString &text);

    // Writes `picture` to `filename`, in the format its suffix names, under a
    // temporary name renamed into place (never through a link): empty, or why not.
    static QString writePicture(const cv::Mat &picture, const QString &filename);

signals:
    // The shown picture could not be written to `filename`; once per target.
    void saveFailed(const QString &filename, const QString &reason);

private:
    void replaceScene();
    void placeView(int mark, int width, int height, int left, int top);
    void save(const cv::Mat &picture, const QString &filename);

    QGraphicsView *m_view;
    const DisplayGeometry *m_geometry;
    QGraphicsScene *m_scene;
    int m_placement = 0;
    QRect m_place; // where the view was last put
    // Kept between frames so that showing a frame allocates no full-size buffer.
    cv::Mat m_scaled;
    cv::Mat m_rgb;
    cv::Mat m_grey;
    // Warn once per target that cannot be written, not once per frame.
    QString m_failedSave;
};
