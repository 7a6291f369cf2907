// The device's non-volatile memory: its parameter set kept as a raw 88-byte .614 image.
#include "sim/param_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

bool loadParameterImage(const std::string &path, const ParameterSet &fallback, ParameterSet &out,
                        std::string &error)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) {
        if (errno != ENOENT) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        out = fallback;
        return saveParameterImage(path, out, error);
    }
    ParameterSet set;
    const std::size_t n = std::fread(&set, 1, sizeof set, f);
    std::fclose(f);
    if (n != sizeof set) {
        error = path + " holds " + std::to_string(n) + " bytes, a parameter set needs " +
                std::to_string(sizeof set);
        return false;
    }
    out = set;
    return true;
}

bool saveParameterImage(const std::string &path, const ParameterSet &set, std::string &error)
{
    const std::string tmp = path + ".tmp" + std::to_string(::getpid());
    std::FILE *f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        error = "cannot write " + tmp + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = std::fwrite(&set, 1, sizeof set, f) == sizeof set;
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}
