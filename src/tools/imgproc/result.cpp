#include "imgproc/result.h"

void Result::registerMetaType()
{
    qRegisterMetaType<Result>("Result");
}
