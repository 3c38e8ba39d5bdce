// Where the time of a piece of work goes, for the benchmark: with TARNWICK_STAGE_LOG naming a
// file, each Mark appends one line "STAGE MILLISECONDS" to it, the time since the clock started or
// since the Mark before; several processes may append to the one file (each line is one write to a
// file opened for appending). Without that variable a clock does nothing but read the time.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tarnwick {

class StageClock {
public:
    StageClock() : last_(std::chrono::steady_clock::now()) {}

    // Starts counting afresh from now, leaving out what came before.
    void Restart() { last_ = std::chrono::steady_clock::now(); }

    void Mark(const char* stage)
    {
        const auto now = std::chrono::steady_clock::now();
        const double ms = std::chrono::duration<double, std::milli>(now - last_).count();
        last_ = now;
        const char* log = std::getenv("TARNWICK_STAGE_LOG");
        if (log == nullptr || log[0] == '\0')
            return;
        char line[128];
        const int length = std::snprintf(line, sizeof line, "%s %.2f\n", stage, ms);
        if (std::FILE* file = std::fopen(log, "a")) {
            std::setvbuf(file, nullptr, _IONBF, 0);
            std::fwrite(line, 1, static_cast<size_t>(length), file);
            std::fclose(file);
        }
    }

private:
    std::chrono::steady_clock::time_point last_;
};

}  // namespace tarnwick
