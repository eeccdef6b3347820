#pragma once

#include <string>

// FFmpeg's text for one of its negative error codes.
std::string avErrorText(int code);
