#include "reviewadddialog.h"

#include <cmath>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "zones/videofiles.h"

namespace {

constexpr int kShownWidth = 640;

} // namespace

ReviewAddDialog::ReviewAddDialog(
    const QString &videoPath, double frameIndex, bool line, QWidget *parent)
    : QDialog(parent)
    , video(videoPath)
    , index(frameIndex)
{
    setWindowTitle(tr("Add missed event"));
    auto *layout = new QVBoxLayout(this);
    auto *hint
        = new QLabel(tr("Frame %1: click where the insect is.").arg(frameIndex, 0, 'f', 0), this);
    picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("la_addframe"));
    picture->installEventFilter(this);
    kind = new QComboBox(this);
    kind->setObjectName(QStringLiteral("cb_addkind"));
    if (line) {
        kind->addItem(tr("Crossing left to right"), QPoint(1, 0));
        kind->addItem(tr("Crossing right to left"), QPoint(0, 1));
        kind->addItem(tr("Crossing without direction"), QPoint(1, 1));
    } else {
        kind->addItem(tr("Entry"), QPoint(1, 0));
        kind->addItem(tr("Exit"), QPoint(0, 1));
    }
    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(hint);
    layout->addWidget(picture);
    layout->addWidget(kind);
    layout->addWidget(buttons);

    cv::VideoCapture capture;
    cv::Mat bgr;
    if (VideoFiles::openCapture(capture, video) && capture.set(cv::CAP_PROP_POS_FRAMES, index)
        && capture.read(bgr) && !bgr.empty()) {
        cv::Mat rgb;
        cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
        frame = QImage(
            rgb.data, rgb.cols, rgb.rows, static_cast<int>(rgb.step), QImage::Format_RGB888)
                    .copy();
        scale = std::min(1.0, double(kShownWidth) / frame.width());
    } else {
        hint->setText(tr("Frame %1 of this video cannot be read.").arg(frameIndex, 0, 'f', 0));
    }
    showFrame();
}

void ReviewAddDialog::showFrame()
{
    if (frame.isNull())
        return;
    QImage shown
        = frame.scaled(frame.size() * scale, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (position.x >= 0) {
        QPainter painter(&shown);
        painter.setPen(QPen(Qt::red, 2));
        painter.drawEllipse(QPointF(position.x * scale, position.y * scale), 10, 10);
    }
    picture->setPixmap(QPixmap::fromImage(shown));
    picture->setFixedSize(shown.size());
}

void ReviewAddDialog::setPosition(const cv::Point &at)
{
    position = at;
    buttons->button(QDialogButtonBox::Ok)->setEnabled(frameShown());
    showFrame();
}

bool ReviewAddDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == picture && event->type() == QEvent::MouseButtonPress && frameShown()) {
        const QPoint at = static_cast<QMouseEvent *>(event)->pos();
        setPosition(cv::Point(std::min(frame.width() - 1, static_cast<int>(at.x() / scale)),
            std::min(frame.height() - 1, static_cast<int>(at.y() / scale))));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

Result ReviewAddDialog::event() const
{
    Result r;
    r.frame = index - 1;
    r.x = position.x;
    r.y = position.y;
    const QPoint inOut = kind->currentData().toPoint();
    r.in = inOut.x();
    r.out = inOut.y();
    return r;
}
