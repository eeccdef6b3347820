#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Prints the progress of one stage as "<label>: |=====     | (45/100)", a new
// line each time the percentage changes. On a terminal the line is redrawn
// in place instead. The import worker reads the number before the "/".
class ProgressLine
{
public:
    ProgressLine(std::FILE *out, std::string label);

    void update(std::int64_t done, std::int64_t total);
    // Prints 100/100 and ends the line.
    void finish();

private:
    void print(int percent);

    std::FILE *out;
    std::string label;
    bool terminal;
    int shown = -1;
};
