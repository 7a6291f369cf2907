// Temporary working directories and whole-file helpers for the Win32 tests.
#include "scratch_dir.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>

ScratchDir::ScratchDir()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char name[MAX_PATH];
    static unsigned counter = 0;
    std::snprintf(name, sizeof name, "%sk614test_%lu_%u", temp, GetCurrentProcessId(), counter++);
    CreateDirectoryA(name, nullptr);
    dir_ = name;
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    previous_ = cwd;
    SetCurrentDirectoryA(dir_.c_str());
}

ScratchDir::~ScratchDir()
{
    SetCurrentDirectoryA(previous_.c_str());
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir_ + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((dir_ + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir_.c_str());
}

std::string ScratchDir::path(const char *name) const
{
    return dir_ + "\\" + name;
}

std::string readWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWholeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}
