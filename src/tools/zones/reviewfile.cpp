#include "zones/reviewfile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "zones/resultfile.h"
#include "zones/safefile.h"

namespace {

const char bindingPrefix[] = "# counts sha256=";
const char header[] = "Frame;X;Y;In;Out;Timestamp;Decision";
// Far more than any review holds; keeps a stray huge file out of memory.
constexpr qint64 kMaxReviewBytes = 256 * 1024 * 1024;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool isSha256Hex(const QByteArray &hex)
{
    if (hex.size() != 64)
        return false;
    for (const char c : hex) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// Only a regular file that is no symbolic link is read or replaced.
QString notRegular(const QString &path, bool mayBeMissing)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QStringLiteral("%1: is a symbolic link").arg(path);
    if (!info.exists())
        return mayBeMissing ? QString() : QStringLiteral("%1: no such file").arg(path);
    if (!info.isFile())
        return QStringLiteral("%1: is no regular file").arg(path);
    return QString();
}

} // namespace

QString ReviewFile::decisionName(Decision decision)
{
    switch (decision) {
    case Decision::Confirmed:
        return QStringLiteral("confirmed");
    case Decision::Rejected:
        return QStringLiteral("rejected");
    case Decision::Added:
        return QStringLiteral("added");
    case Decision::Unreviewed:
        break;
    }
    return QStringLiteral("unreviewed");
}

std::optional<ReviewFile::Decision> ReviewFile::decisionFromName(const QString &name)
{
    for (const Decision d : { Decision::Confirmed, Decision::Rejected, Decision::Added }) {
        if (name == decisionName(d))
            return d;
    }
    return std::nullopt;
}

QByteArray ReviewFile::toBytes() const
{
    QString text = QLatin1String(bindingPrefix) + QString::fromLatin1(countsSha256)
        + QLatin1Char('\n') + QLatin1String(header) + QLatin1Char('\n');
    for (const Entry &e : entries) {
        const Result &r = e.event;
        text += QStringLiteral("%1;%2;%3;%4;%5;%6;%7\n")
                    .arg(ResultFile::formatFrame(r.frame))
                    .arg(r.x)
                    .arg(r.y)
                    .arg(r.in)
                    .arg(r.out)
                    .arg(r.timestamp, decisionName(e.decision));
    }
    return text.toUtf8();
}

bool ReviewFile::fromBytes(const QByteArray &bytes, ReviewFile &review, QString *error)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() < 2 || !lines[0].startsWith(bindingPrefix)
        || !isSha256Hex(lines[0].mid(int(sizeof bindingPrefix) - 1)))
        return fail(error, QStringLiteral("line 1: not \"%1<64 hex digits>\"").arg(bindingPrefix));
    if (lines[1] != header)
        return fail(error, QStringLiteral("line 2: not \"%1\"").arg(header));

    ReviewFile read;
    read.countsSha256 = lines[0].mid(int(sizeof bindingPrefix) - 1);
    for (int i = 2; i < lines.size(); ++i) {
        const QStringList f = QString::fromUtf8(lines[i]).split(QLatin1Char(';'));
        bool ok[5] = {};
        Entry e;
        if (f.size() == 7) {
            e.event.frame = f[0].toDouble(&ok[0]);
            e.event.x = f[1].toInt(&ok[1]);
            e.event.y = f[2].toInt(&ok[2]);
            e.event.in = f[3].toInt(&ok[3]);
            e.event.out = f[4].toInt(&ok[4]);
            e.event.timestamp = f[5];
        }
        const std::optional<Decision> decision
            = f.size() == 7 ? decisionFromName(f[6]) : std::nullopt;
        if (!decision || !(ok[0] && ok[1] && ok[2] && ok[3] && ok[4]))
            return fail(error, QStringLiteral("line %1: not a decided event").arg(i + 1));
        e.decision = *decision;
        read.entries.append(e);
    }
    review = read;
    return true;
}

bool ReviewFile::save(const QString &path, QString *error) const
{
    const QString refused = notRegular(path, true);
    if (!refused.isEmpty())
        return fail(error, refused);
    const QString problem = SafeFile::save(path, toBytes());
    return problem.isEmpty() || fail(error, problem);
}

bool ReviewFile::load(const QString &path, ReviewFile &review, QString *error)
{
    const QString refused = notRegular(path, false);
    if (!refused.isEmpty())
        return fail(error, refused);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    if (file.size() > kMaxReviewBytes)
        return fail(error, QStringLiteral("%1: larger than any review").arg(path));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    QString why;
    if (!fromBytes(bytes, review, &why))
        return fail(error, QStringLiteral("%1: %2").arg(path, why));
    return true;
}

bool ReviewFile::sha256OfFile(const QString &path, QByteArray &hex, QString *error)
{
    const QString refused = notRegular(path, false);
    if (!refused.isEmpty())
        return fail(error, refused);
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file)
        || file.error() != QFileDevice::NoError)
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    hex = hash.result().toHex();
    return true;
}
