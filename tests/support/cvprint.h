#pragma once

#include <opencv2/core.hpp>

#include <QMetaType>
#include <QTest>

Q_DECLARE_METATYPE(cv::Mat)
Q_DECLARE_METATYPE(cv::Point)
Q_DECLARE_METATYPE(cv::Rect)
Q_DECLARE_METATYPE(cv::Vec3b)
Q_DECLARE_METATYPE(cv::Size)

// Readable values in QCOMPARE failures; found by argument-dependent lookup.
namespace cv {

inline char *toString(const cv::Point &p)
{
    return QTest::toString(QStringLiteral("(%1, %2)").arg(p.x).arg(p.y));
}

inline char *toString(const cv::Rect &r)
{
    return QTest::toString(
        QStringLiteral("(%1, %2, %3 x %4)").arg(r.x).arg(r.y).arg(r.width).arg(r.height));
}

inline char *toString(const cv::Vec3b &v)
{
    return QTest::toString(QStringLiteral("(%1, %2, %3)").arg(v[0]).arg(v[1]).arg(v[2]));
}

} // namespace cv
