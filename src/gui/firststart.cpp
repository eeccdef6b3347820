#include "firststart.h"

#include <QSettings>

#include "logging.h"
#include "scenes/demofolder.h"

namespace {
const QString currentPathKey = QStringLiteral("currentPath");
} // namespace

QString FirstStart::useDemoWhenNew(QSettings &settings, const QString &demoFolder)
{
    if (!settings.value(currentPathKey).toString().isEmpty() || demoFolder.isEmpty())
        return QString();
    if (!DemoFolder::isComplete(demoFolder)) {
        qCInfo(lcGui) << "Making the demonstration videos in" << demoFolder;
        const QString why = DemoFolder::make(demoFolder);
        if (!why.isEmpty()) {
            qCWarning(lcGui) << "No demonstration folder:" << why;
            return QString();
        }
    }
    settings.setValue(currentPathKey, demoFolder);
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        qCWarning(lcGui) << "Cannot remember the demonstration folder in" << settings.fileName();
        return QString();
    }
    return demoFolder;
}
