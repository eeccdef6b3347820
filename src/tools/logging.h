#pragma once

#include <QLoggingCategory>

// One category per subsystem; each line carries file, line and function
// (QT_MESSAGELOGCONTEXT is defined for every build type).
Q_DECLARE_LOGGING_CATEGORY(lcImgproc)
Q_DECLARE_LOGGING_CATEGORY(lcZones)
Q_DECLARE_LOGGING_CATEGORY(lcGui)
Q_DECLARE_LOGGING_CATEGORY(lcBatch)

namespace kestrin {

// Sets the message pattern used by every program of the project, unless the
// user has chosen one through QT_MESSAGE_PATTERN.
void installMessagePattern();

} // namespace kestrin
