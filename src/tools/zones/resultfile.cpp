#include "zones/resultfile.h"

#include <charconv>
#include <cmath>
#include <iterator>

#include "imgproc/result.h"
#include "logging.h"
#include "zones/safefile.h"
#include "zones/videofiles.h"

namespace {

const char header[] = "Frame;X;Y;In;Out;Timestamp";

int toInt(const QStringRef &field)
{
    bool ok = false;
    const int value = field.toInt(&ok, 10);
    return ok ? value : 0;
}

// Frames are seek positions: a text such as "nan" or "inf" reads as 0 like any
// other field that is not a number.
double toFrame(const QStringRef &field)
{
    bool ok = false;
    const double value = field.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

} // namespace

ResultFile::ResultFile() = default;

int ResultFile::open(const QString &videoPath, int kind)
{
    // Without the folder the file cannot be created and every count of the
    // video would be lost.
    if (kind == Append)
        VideoFiles::ensureExportDir(videoPath);
    return openFile(VideoFiles::resultFile(videoPath), kind);
}

int ResultFile::openFile(const QString &countFile, int kind)
{
    if (isOpen)
        close();
    problem.clear();
    if (kind != Read && kind != Append)
        return -1;
    file.setFileName(countFile);

    if (kind == Read) {
        // Only a regular file: a pipe would hang the reader.
        if (!SafeFile::openForReading(file, countFile, &problem))
            return -1;
        file.readLine(); // header
        isOpen = true;
        return 1;
    }

    // An empty file gets the header too: otherwise its first record would be
    // taken for the header when read back.
    if (!file.exists() || file.size() == 0) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
            return fail(QStringLiteral("cannot create"));
        const QByteArray line = QByteArray(header) + '\n';
        const bool written = file.write(line) == line.size() && file.flush();
        if (!written) {
            fail(QStringLiteral("cannot write the header of"));
            file.close();
            return -1;
        }
        file.close();
    }
    // Unbuffered: each record reaches the file in one write of its own.
    if (!file.open(
            QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text | QIODevice::Unbuffered))
        return fail(QStringLiteral("cannot append to"));
    isOpen = true;
    return 1;
}

int ResultFile::writeRecord(double frame, int x, int y, int in, int out, const QString &timestamp)
{
    if (!isOpen || !file.isWritable())
        return -1;
    const QByteArray line
        = (formatFrame(frame) + QLatin1Char(';') + QString::number(x) + QLatin1Char(';')
            + QString::number(y) + QLatin1Char(';') + QString::number(in) + QLatin1Char(';')
            + QString::number(out) + QLatin1Char(';') + timestamp + QLatin1Char('\n'))
              .toUtf8();
    if (file.write(line) != line.size() || !file.flush()) {
        fail(QStringLiteral("cannot write a record to"));
        file.unsetError();
        return -1;
    }
    return 0;
}

int ResultFile::fail(const QString &what)
{
    problem = QStringLiteral("%1 %2: %3").arg(what, file.fileName(), file.errorString());
    // Returned to the caller, who tells the user; this is for the trace.
    qCDebug(lcZones).noquote() << problem;
    return -1;
}

int ResultFile::readRecord(double &frame, int &x, int &y, int &in, int &out, QString &timestamp)
{
    if (!isOpen || !file.isReadable() || file.atEnd())
        return -1;
    QByteArray bytes = file.readLine();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    const QString line = QString::fromUtf8(bytes.constData(), bytes.size());
    // Only the first six fields matter; a long line is not split further.
    QStringRef fields[6];
    int start = 0;
    for (int i = 0; i < 6; ++i) {
        int end = line.indexOf(QLatin1Char(';'), start);
        if (end < 0) {
            if (i < 5)
                return -1;
            end = line.size();
        }
        fields[i] = line.midRef(start, end - start);
        start = end + 1;
    }
    frame = toFrame(fields[0]);
    x = toInt(fields[1]);
    y = toInt(fields[2]);
    in = toInt(fields[3]);
    out = toInt(fields[4]);
    timestamp = fields[5].toString();
    return 1;
}

int ResultFile::close()
{
    if (!isOpen)
        return -1;
    file.close();
    isOpen = false;
    return 1;
}

void ResultFile::removeResultFile(const QString &videoPath)
{
    QFile::remove(VideoFiles::resultFile(videoPath));
}

QString ResultFile::formatFrame(double frame)
{
    // printf's %g, but independent of the C locale that QCoreApplication sets
    // from the environment (a decimal comma would break the file).
    char text[32];
    const std::to_chars_result end
        = std::to_chars(std::begin(text), std::end(text), frame, std::chars_format::general, 6);
    return QString::fromLatin1(text, static_cast<int>(end.ptr - text));
}

QString ResultFile::append(const QString &countFile, const Result &event)
{
    ResultFile file;
    const bool written = file.openFile(countFile, Append) == 1
        && file.writeRecord(event.frame, event.x, event.y, event.in, event.out, event.timestamp)
            == 0;
    QString why;
    if (!written) {
        why = file.errorText().isEmpty()
            ? QStringLiteral("cannot write a record to %1").arg(countFile)
            : file.errorText();
    }
    file.close();
    return why;
}

std::optional<QVector<Result>> ResultFile::readAll(const QString &countFile)
{
    ResultFile file;
    if (file.openFile(countFile, Read) != 1)
        return std::nullopt;
    QVector<Result> records;
    Result r;
    while (file.readRecord(r.frame, r.x, r.y, r.in, r.out, r.timestamp) == 1)
        records.append(r);
    file.close();
    return records;
}
