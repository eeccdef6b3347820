#pragma once

#include <QMetaType>
#include <QString>

// One counting event.
struct Result
{
    double frame = 0; // frame number, a whole number
    int x = 0; // centre of the target in frame pixels
    int y = 0;
    int in = 0; // 1 for an entry
    int out = 0; // 1 for an exit
    QString timestamp; // "yyyy-MM-dd_hh:mm:ss" as the counter writes it; stored as text

    // Makes Result usable in queued signals; safe to call more than once.
    static void registerMetaType();
};

Q_DECLARE_METATYPE(Result)
