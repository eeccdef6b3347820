#include "reviewdelegate.h"

#include <QImage>
#include <QPainter>

#include "reviewmodel.h"

namespace {

constexpr int kBorder = 4;
constexpr int kTextLines = 3;

} // namespace

QColor ReviewDelegate::decisionColor(ReviewFile::Decision decision)
{
    switch (decision) {
    case ReviewFile::Decision::Confirmed:
        return QColor(46, 125, 50);
    case ReviewFile::Decision::Rejected:
        return QColor(198, 40, 40);
    case ReviewFile::Decision::Added:
        return QColor(21, 101, 192);
    case ReviewFile::Decision::Unreviewed:
        break;
    }
    return QColor(176, 176, 176);
}

QSize ReviewDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(kPictureSide + 2 * kBorder,
        kPictureSide + 2 * kBorder + kTextLines * option.fontMetrics.lineSpacing() + 4);
}

void ReviewDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    painter->save();
    const QRect tile = option.rect.adjusted(1, 1, -1, -1);
    const bool current
        = option.state & QStyle::State_HasFocus || option.state & QStyle::State_Selected;
    painter->fillRect(tile, current ? option.palette.highlight() : option.palette.base());

    const auto decision
        = static_cast<ReviewFile::Decision>(index.data(ReviewModel::DecisionRole).toInt());
    const QRect picture(tile.left() + kBorder, tile.top() + kBorder, kPictureSide, kPictureSide);
    painter->fillRect(picture.adjusted(-kBorder + 1, -kBorder + 1, kBorder - 1, kBorder - 1),
        decisionColor(decision));
    painter->fillRect(picture, Qt::black);
    const QImage image = index.data(ReviewModel::FrameImageRole).value<QImage>();
    if (!image.isNull()) {
        const QSize shown = image.size().scaled(picture.size(), Qt::KeepAspectRatio);
        const QRect target(picture.left() + (picture.width() - shown.width()) / 2,
            picture.top() + (picture.height() - shown.height()) / 2, shown.width(), shown.height());
        painter->drawImage(target, image);
        if (index.data(ReviewModel::EventFrameRole).toBool()) {
            painter->setPen(QPen(QColor(255, 213, 79), 2));
            painter->drawRect(target.adjusted(1, 1, -1, -1));
        }
    } else {
        const QString error = index.data(ReviewModel::ClipErrorRole).toString();
        painter->setPen(Qt::lightGray);
        painter->drawText(picture.adjusted(6, 6, -6, -6), Qt::AlignCenter | Qt::TextWordWrap,
            error.isEmpty() ? tr("decoding...") : tr("no clip: %1").arg(error));
    }

    painter->setPen(current ? option.palette.color(QPalette::HighlightedText)
                            : option.palette.color(QPalette::Text));
    const QRect text(tile.left() + kBorder, picture.bottom() + kBorder + 2,
        tile.width() - 2 * kBorder, tile.bottom() - picture.bottom() - kBorder - 2);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignTop,
        option.fontMetrics.elidedText(index.data(Qt::DisplayRole).toString().section('\n', 0, 0),
            Qt::ElideRight, text.width())
            + QLatin1Char('\n') + index.data(Qt::DisplayRole).toString().section('\n', 1));
    painter->restore();
}
