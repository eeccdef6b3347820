#include "importqueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include "process_import.h"

namespace {
// Destinations a queue imports into, across the process: two queues must
// never copy onto the same files at once. Used on the GUI thread only.
QSet<QString> &claimedDestinations()
{
    static QSet<QString> claimed;
    return claimed;
}

QString destinationKey(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}
} // namespace

ImportQueue::ImportQueue(const QString &destination, QObject *parent)
    : QObject(parent)
    , folder(destination)
    , key(destinationKey(destination))
{
}

ImportQueue::~ImportQueue()
{
    rest.clear();
    // The worker's destructor waits for the file in hand.
    worker.reset();
    release();
}

QString ImportQueue::targetName(const QString &source)
{
    return QFileInfo(source).baseName() + QStringLiteral(".mp4");
}

std::optional<std::pair<QString, QString>> ImportQueue::collision(const QStringList &sources)
{
    QHash<QString, QString> sourceOf;
    for (const QString &source : sources) {
        const QString target = targetName(source);
        const auto earlier = sourceOf.constFind(target);
        if (earlier != sourceOf.constEnd())
            return std::make_pair(*earlier, source);
        sourceOf.insert(target, source);
    }
    return std::nullopt;
}

bool ImportQueue::destinationBusy() const
{
    return claimedDestinations().contains(key);
}

bool ImportQueue::start(const QStringList &sources)
{
    if (sources.isEmpty() || running || destinationBusy())
        return false;
    claimedDestinations().insert(key);
    claimed = true;
    running = true;
    rest = sources;
    finished = 0;
    startNext();
    return true;
}

void ImportQueue::stop()
{
    rest.clear();
}

void ImportQueue::detach()
{
    setParent(QCoreApplication::instance());
    if (!running) {
        deleteLater();
        return;
    }
    connect(this, &ImportQueue::allDone, this, &QObject::deleteLater);
    // Quitting lets the file in hand finish; the rest stays where it is.
    connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
        rest.clear();
        worker.reset();
        running = false;
        release();
    });
}

void ImportQueue::startNext()
{
    const QString source = rest.takeFirst();
    worker = std::make_unique<Process_Import>(folder, source);
    // Queued: the slot destroys the worker, whose thread is ending.
    connect(worker.get(), &Process_Import::end_thread, this, &ImportQueue::workerEnded,
        Qt::QueuedConnection);
    connect(worker.get(), &Process_Import::copy_pos, this, &ImportQueue::copyProgress,
        Qt::QueuedConnection);
    connect(worker.get(), &Process_Import::save_pos, this, &ImportQueue::saveProgress,
        Qt::QueuedConnection);
    connect(worker.get(), &Process_Import::encode_pos, this, &ImportQueue::encodeProgress,
        Qt::QueuedConnection);
    emit fileStarted(source);
    worker->start();
}

void ImportQueue::workerEnded()
{
    if (!worker)
        return;
    // end_thread is the worker's last act: its destructor waits for the
    // thread to end.
    worker.reset();
    ++finished;
    if (rest.isEmpty()) {
        running = false;
        release();
        emit fileDone();
        emit allDone();
        return;
    }
    emit fileDone();
    startNext();
}

void ImportQueue::release()
{
    if (!claimed)
        return;
    claimedDestinations().remove(key);
    claimed = false;
}
