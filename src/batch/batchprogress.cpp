#include "batchprogress.h"

#include <cmath>

#include <unistd.h>

namespace {
constexpr qint64 kInterval = 250; // ms between two writes
}

BatchProgress::BatchProgress(bool wanted)
    : shown(wanted && isatty(STDERR_FILENO) == 1)
{
}

void BatchProgress::startVideo(int index, int count, double frames, double firstFrame)
{
    video = index;
    videos = count;
    totalFrames = frames;
    startFrame = firstFrame;
    sinceStart.start();
    sinceWrite.invalidate();
}

void BatchProgress::update(double frame)
{
    if (!shown || (sinceWrite.isValid() && sinceWrite.elapsed() < kInterval))
        return;
    sinceWrite.start();
    const double seconds = static_cast<double>(sinceStart.elapsed()) / 1000.0;
    const double fps = seconds > 0 ? (frame - startFrame) / seconds : 0;
    write(line(video, videos, frame, totalFrames, fps));
}

void BatchProgress::videosDone(int done, int count)
{
    if (shown)
        write(QStringLiteral("%1 of %2 videos done").arg(done).arg(count));
}

void BatchProgress::clear()
{
    if (!shown || width == 0)
        return;
    write(QString());
    width = 0;
}

QString BatchProgress::duration(double seconds)
{
    const long long total = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds) : 0;
    const long long h = total / 3600;
    const long long m = total / 60 % 60;
    const long long s = total % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

QString BatchProgress::line(int index, int count, double frame, double frames, double fps)
{
    QString text = QStringLiteral("video %1 of %2, frame %3")
                       .arg(index)
                       .arg(count)
                       .arg(static_cast<qlonglong>(frame));
    // The container's frame count may be wrong: past it, no total and no
    // time left are shown.
    const bool known = frames > frame;
    if (known)
        text += QStringLiteral(" of %1").arg(static_cast<qlonglong>(frames));
    text += QStringLiteral(", %1 fps").arg(fps, 0, 'f', 1);
    if (known && fps > 0)
        text += QStringLiteral(", %1 left").arg(duration((frames - frame) / fps));
    return text;
}

void BatchProgress::write(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    // Blanks over whatever the previous line had beyond this one.
    const int pad = width > bytes.size() ? width - bytes.size() : 0;
    std::fprintf(stderr, "\r%s%*s\r", bytes.constData(), pad, "");
    std::fflush(stderr);
    width = bytes.size();
}
