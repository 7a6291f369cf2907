// The simulator's log: one line per received code and per notable event, flushed at once.
#include "sim/code_log.h"

#include <cerrno>
#include <cstring>

CodeLog::~CodeLog()
{
    if (file_)
        std::fclose(file_);
}

bool CodeLog::open(const std::string &path, std::string &error)
{
    file_ = std::fopen(path.c_str(), "a");
    if (!file_) {
        error = "cannot open log " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void CodeLog::line(const char *kind, const std::string &text)
{
    if (!file_)
        return;
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::fprintf(file_, "%.6f %s %s\n", t, kind, text.c_str());
    std::fflush(file_);
}

void CodeLog::received(DeviceCode code)
{
    line("RX", std::to_string(code));
}

void CodeLog::event(const std::string &text)
{
    line("EV", text);
}
