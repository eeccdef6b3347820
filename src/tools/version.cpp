#include "version.h"

namespace kestrin {

QString version()
{
    return QStringLiteral(KESTRIN_VERSION);
}

} // namespace kestrin
