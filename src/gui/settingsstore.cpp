#include "settingsstore.h"

#include <QSettings>

std::unique_ptr<QSettings> SettingsStore::open()
{
#ifdef Q_OS_WIN
    return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\Tolvane\\Kestrin"),
                                       QSettings::NativeFormat);
#else
    // A registry path handed to QSettings elsewhere would become a file of that
    // name in the current directory.
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Tolvane"), QStringLiteral("Kestrin"));
#endif
}
