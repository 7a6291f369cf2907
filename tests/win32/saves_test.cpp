// The program's .614 save onto each name that tests/win32/saves.sh prepared; the script checks what became of each.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "params/parameter_file_win32.h"

namespace {

// K614_SAVE_PATHS: Z:\ paths separated by '|'. One line per path on stdout,
// "saved PATH CODE", which the script reads.
TEST(WineSaves, EachNamedPathIsSavedAndItsCodeReported)
{
    const char *paths = std::getenv("K614_SAVE_PATHS");
    if (!paths)
        GTEST_SKIP() << "no paths to save to (tests/win32/saves.sh names them)";
    const std::string all = paths;
    for (std::size_t at = 0; at <= all.size();) {
        std::size_t end = all.find('|', at);
        if (end == std::string::npos)
            end = all.size();
        const std::string path = all.substr(at, end - at);
        std::printf("saved %s %ld\n", path.c_str(), writeParameterBlock(path.c_str()));
        std::fflush(stdout);
        at = end + 1;
    }
}

} // namespace
