#pragma once

#include <opencv2/core/types.hpp>

#include <QDialog>
#include <QImage>

#include "imgproc/result.h"

class QComboBox;
class QDialogButtonBox;
class QLabel;

// "Add missed event": shows a frame of the video; a click puts the event
// where the insect is, the combo says what it did.
class ReviewAddDialog final : public QDialog
{
    Q_OBJECT

public:
    // `frameIndex` as the capture numbers frames: the frame the insect was
    // counted in.
    ReviewAddDialog(const QString &video, double frameIndex, bool line, QWidget *parent = nullptr);

    bool frameShown() const { return !frame.isNull(); }
    // The event as the count file would hold it (its frame the one before).
    Result event() const;
    // Puts the event at a frame position, as a click there does.
    void setPosition(const cv::Point &position);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showFrame();

    QString video;
    double index = 0;
    QImage frame;
    double scale = 1; // shown pixels per frame pixel
    cv::Point position { -1, -1 };
    QLabel *picture = nullptr;
    QComboBox *kind = nullptr;
    QDialogButtonBox *buttons = nullptr;
};
