#include "logging.h"

Q_LOGGING_CATEGORY(lcImgproc, "kestrin.imgproc")
Q_LOGGING_CATEGORY(lcZones, "kestrin.zones")
Q_LOGGING_CATEGORY(lcGui, "kestrin.gui")
Q_LOGGING_CATEGORY(lcBatch, "kestrin.batch")

namespace kestrin {

void installMessagePattern()
{
    if (qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN"))
        return;
    qSetMessagePattern(QStringLiteral(
        "%{time hh:mm:ss.zzz} %{type} %{category} %{file}:%{line} %{function}: %{message}"));
}

} // namespace kestrin
