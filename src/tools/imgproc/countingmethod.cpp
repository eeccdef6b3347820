#include "imgproc/countingmethod.h"

#include "imgproc/classiccounting.h"
#include "imgproc/robustcounting.h"

CountingMethod::~CountingMethod() = default;

std::unique_ptr<CountingMethod> CountingMethod::create(Kind kind)
{
    if (kind == Robust)
        return std::make_unique<RobustCounting>();
    return std::make_unique<ClassicCounting>();
}

QString CountingMethod::kindName(Kind kind)
{
    return kind == Robust ? QStringLiteral("robust") : QStringLiteral("classic");
}

bool CountingMethod::kindFromName(const QString &name, Kind *kind)
{
    for (const Kind k : { Classic, Robust }) {
        if (name == kindName(k)) {
            if (kind)
                *kind = k;
            return true;
        }
    }
    return false;
}

QStringList CountingMethod::kindNames()
{
    return { kindName(Classic), kindName(Robust) };
}
