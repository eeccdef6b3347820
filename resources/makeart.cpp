// Draws Kestrin's logos and program icon into resources/img, and the icon at
// the sizes of the desktop's icon theme into resources/icons (kestrin-N.png,
// installed as hicolor/NxN/apps/kestrin.png). Not part of the build: the PNG
// files it writes are committed. To redraw them:
//
//   g++ -std=c++17 -fPIC resources/makeart.cpp $(pkg-config --cflags --libs Qt5Gui) -o /tmp/makeart
//   QT_QPA_PLATFORM=offscreen /tmp/makeart resources/img resources/icons

#include <cstdio>

#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

namespace {

const QColor ink(0x1d, 0x3b, 0x4a);
const QColor teal(0x1f, 0x8a, 0x8a);
const QColor amber(0xf2, 0xa1, 0x2c);

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

// A small flying insect seen from above: body, head and two pairs of wings.
void drawInsect(
    QPainter &p, const QPointF &centre, qreal size, const QColor &body, const QColor &wings)
{
    p.save();
    p.translate(centre);
    p.rotate(-30);
    p.setPen(Qt::NoPen);
    p.setBrush(wings);
    for (int side : { -1, 1 }) {
        p.drawEllipse(
            QRectF(side > 0 ? 0.05 * size : -0.75 * size, -0.55 * size, 0.7 * size, 0.38 * size));
        p.drawEllipse(
            QRectF(side > 0 ? 0.05 * size : -0.6 * size, -0.2 * size, 0.55 * size, 0.3 * size));
    }
    p.setBrush(body);
    p.drawEllipse(QRectF(-0.12 * size, -0.45 * size, 0.24 * size, 0.9 * size));
    p.drawEllipse(QRectF(-0.1 * size, -0.68 * size, 0.2 * size, 0.2 * size));
    p.restore();
}

QImage programIcon()
{
    QImage image = canvas(256, 256);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0, teal);
    background.setColorAt(1, ink);
    p.setPen(Qt::NoPen);
    p.setBrush(background);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

    // The counting line, and the track of dots that crosses it.
    p.setPen(QPen(amber, 10, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(40, 200), QPointF(216, 200));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 150));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(70 + 14 * i, 232 - 22 * i), 5, 5);

    drawInsect(p, QPointF(160, 104), 120, Qt::white, QColor(255, 255, 255, 110));
    return image;
}

QImage makerLogo()
{
    QImage image = canvas(521, 77);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // A falcon's wing as a swept arc over the mark.
    p.setPen(Qt::NoPen);
    p.setBrush(teal);
    p.drawEllipse(QRectF(6, 6, 65, 65));
    QPainterPath wing;
    wing.moveTo(14, 48);
    wing.cubicTo(28, 18, 52, 12, 66, 16);
    wing.cubicTo(50, 26, 40, 38, 36, 56);
    wing.closeSubpath();
    p.setBrush(Qt::white);
    p.drawPath(wing);

    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(46);
    name.setBold(true);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    p.setFont(name);
    p.setPen(ink);
    p.drawText(QRectF(88, 0, 330, 60), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("TOLVANE"));

    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setPixelSize(14);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 2);
    p.setFont(tagline);
    p.setPen(teal);
    p.drawText(QRectF(90, 52, 420, 22), Qt::AlignLeft | Qt::AlignVCenter,
        QStringLiteral("FIELD INSTRUMENTS FOR INSECT STUDIES"));

    p.setPen(QPen(amber, 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(420, 32), QPointF(510, 32));
    return image;
}

QImage partnerLogo()
{
    QImage image = canvas(244, 96);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // A ring with a leaf for its tail.
    p.setPen(QPen(ink, 9));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(10, 12, 70, 70));
    QPainterPath leaf;
    leaf.moveTo(58, 66);
    leaf.quadTo(86, 60, 92, 88);
    leaf.quadTo(66, 90, 58, 66);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x4c, 0x9a, 0x2a));
    p.drawPath(leaf);

    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(40);
    name.setBold(true);
    p.setFont(name);
    p.setPen(ink);
    p.drawText(QRectF(88, 14, 156, 56), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("orel"));
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s %dx%d\n", qPrintable(path), image.width(), image.height());
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const QDir icons(argc > 2 ? QString::fromLocal8Bit(argv[2]) : dir.path());
    bool ok = save(makerLogo(), dir, QStringLiteral("logo_tolvane_521x77.png"))
        && save(partnerLogo(), dir, QStringLiteral("logo_qorel.png"))
        && save(programIcon(), dir, QStringLiteral("kestrin.png"));
    // The theme sizes, scaled down from the drawing.
    for (int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        const QImage icon
            = programIcon().scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        ok = ok && save(icon, icons, QStringLiteral("kestrin-%1.png").arg(size));
    }
    return ok ? 0 : 1;
}
