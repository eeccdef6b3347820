#include "result.h"

void Result::registerMetaType()
{
    qRegisterMetaType<Result>("Result");
}
