#include "imgproc/target.h"

#include <cmath>

#include "logging.h"

namespace {
// Process-wide id counter: only init increments it, only reset_counter clears it.
int idCounter = 0;
} // namespace

void Target::init()
{
    id = idCounter++;
    origine = cv::Point(-1, -1);
    centroid = cv::Point(-1, -1);
    width = 0;
    height = 0;
    last = cv::Point(0, 0);
    lastKnown = false;
    age = 0;
}

void Target::update(const Target &other)
{
    last = centroid;
    lastKnown = true;
    centroid = other.centroid;
    origine = other.origine;
    width = other.width;
    height = other.height;
}

double Target::distance_to(const Target &other) const
{
    const double dx = static_cast<double>(centroid.x) - other.centroid.x;
    const double dy = static_cast<double>(centroid.y) - other.centroid.y;
    return std::sqrt(dx * dx + dy * dy);
}

void Target::print() const
{
    qCDebug(lcImgproc, "Target %d @ %dx%d [Last @ %dx%d] : Origin @ %dx%d", id, centroid.x,
        centroid.y, last.x, last.y, origine.x, origine.y);
}

void Target::reset_counter()
{
    idCounter = 0;
}

int Target::counter()
{
    return idCounter;
}
