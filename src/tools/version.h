#pragma once

#include <QString>

namespace kestrin {

// The program's version, as CMake's project(VERSION) gives it: the only copy.
QString version();

} // namespace kestrin
