#pragma once

#include <QColor>
#include <QStyledItemDelegate>

#include "zones/reviewfile.h"

// Paints a review tile: the clip's current frame scaled up into a square,
// a frame in the colour of the decision, and the event's description below.
class ReviewDelegate final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Side of the square the clip is shown in, in pixels.
    static constexpr int kPictureSide = 192;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static QColor decisionColor(ReviewFile::Decision decision);
};
