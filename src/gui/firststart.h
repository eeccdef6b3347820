#pragma once

#include <QString>

class QSettings;

// A new user has no video at hand: when no working directory is remembered
// yet, the window opens on a folder of demonstration videos, made on the
// first start. A working directory the user chose is never replaced.
class FirstStart
{
public:
    FirstStart() = delete;

    // With `currentPath` empty in `settings`: makes the demonstration folder
    // `demoFolder` unless it is complete already, and remembers it as
    // `currentPath`. Returns the folder now remembered, or an empty string
    // when nothing changed (a folder was remembered, or the demonstration
    // could not be made, which is logged).
    static QString useDemoWhenNew(QSettings &settings, const QString &demoFolder);
};
