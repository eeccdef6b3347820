#pragma once

#include <memory>

class QSettings;

// The user's settings store of Kestrin (keys currentPath and PathImport).
// On Windows the registry branch HKEY_CURRENT_USER\Tolvane\Kestrin; elsewhere
// the platform's native per-user store for organisation "Tolvane" and
// application "Kestrin" (on Linux ~/.config/Tolvane/Kestrin.conf).
class SettingsStore
{
public:
    SettingsStore() = delete;

    static std::unique_ptr<QSettings> open();
};
