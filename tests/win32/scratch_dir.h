// A fresh temporary directory that becomes the working directory for one test.
#pragma once

#include <string>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    std::string path(const char *name) const;

private:
    std::string dir_;
    std::string previous_;
};

// Whole-file helpers for the tests.
std::string readWholeFile(const std::string &path);
void writeWholeFile(const std::string &path, const std::string &bytes);
