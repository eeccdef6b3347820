#include "video/simdpaths.h"

#include <QtGlobal>

bool SimdPaths::plainPathsForced()
{
    return qEnvironmentVariableIntValue("KESTRIN_PLAIN_PATHS") != 0;
}

bool SimdPaths::avx2()
{
#ifdef KESTRIN_X86_SIMD
    // Made ready here too: a converter may be made before libgcc's own start-up.
    __builtin_cpu_init();
    return !plainPathsForced() && __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}
