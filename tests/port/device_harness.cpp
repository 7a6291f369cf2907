// The simulated device's control port (Winsock), its log, and the process counters the port tests print.
#include "tests/port/device_harness.h"

#include <winsock2.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static int envNumber(const char *name)
{
    const char *v = std::getenv(name);
    return v ? std::atoi(v) : 0;
}

int deviceComPort()
{
    return envNumber("K614_COM_PORT");
}

int stalledComPort()
{
    return envNumber("K614_STALLED_COM_PORT");
}

static SOCKET controlSocket = INVALID_SOCKET;

static bool controlConnect()
{
    if (controlSocket != INVALID_SOCKET)
        return true;
    const int port = envNumber("K614_SIM_CONTROL_PORT");
    if (port <= 0)
        return false;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        closesocket(s);
        return false;
    }
    DWORD timeoutMs = 5000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char *>(&timeoutMs), sizeof timeoutMs);
    controlSocket = s;
    return true;
}

std::string simCommand(const std::string &command)
{
    if (!controlConnect())
        return "";
    const std::string line = command + "\n";
    if (send(controlSocket, line.data(), static_cast<int>(line.size()), 0) != static_cast<int>(line.size()))
        return "";
    std::string answer;
    char c;
    while (recv(controlSocket, &c, 1, 0) == 1) {
        if (c == '\n')
            return answer;
        if (c != '\r')
            answer += c;
    }
    return answer;
}

bool simOk(const std::string &command)
{
    return simCommand(command).rfind("ok", 0) == 0;
}

long long simStatus(const char *name)
{
    const std::string status = simCommand("status");
    const std::string key = std::string(" ") + name + "=";
    const std::size_t at = status.find(key);
    if (at == std::string::npos)
        return -1;
    return std::atoll(status.c_str() + at + key.size());
}

std::string simLogText()
{
    const char *log = std::getenv("K614_SIM_LOG");
    if (!log)
        return "";
    std::string path = std::string("Z:") + log;
    for (char &c : path)
        if (c == '/')
            c = '\\';
    // The simulator keeps writing to the file: share it for reading and writing.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    std::string text;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(h, buf, sizeof buf, &got, nullptr) && got > 0)
        text.append(buf, got);
    CloseHandle(h);
    return text;
}

// Calls line(kind, rest) for each whole line after skipBytes: "<seconds> <kind> <rest>".
template <typename F> static void eachLogLine(std::size_t skipBytes, F line)
{
    const std::string text = simLogText();
    std::size_t pos = skipBytes < text.size() ? skipBytes : text.size();
    while (pos < text.size()) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            break; // a line still being written
        const std::string l = text.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t a = l.find(' ');
        if (a == std::string::npos)
            continue;
        const std::size_t b = l.find(' ', a + 1);
        const std::string kind = l.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
        line(kind, b == std::string::npos ? std::string() : l.substr(b + 1));
    }
}

std::vector<unsigned> simLogReceived(std::size_t skipBytes)
{
    std::vector<unsigned> codes;
    eachLogLine(skipBytes, [&](const std::string &kind, const std::string &rest) {
        if (kind == "RX")
            codes.push_back(static_cast<unsigned>(std::strtoul(rest.c_str(), nullptr, 10)));
    });
    return codes;
}

int simLogEvents(std::size_t skipBytes, const char *event)
{
    int n = 0;
    eachLogLine(skipBytes, [&](const std::string &kind, const std::string &rest) {
        if (kind == "EV" && rest.rfind(event, 0) == 0)
            ++n;
    });
    return n;
}

static int threadCount()
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD self = GetCurrentProcessId();
    int n = 0;
    THREADENTRY32 te;
    te.dwSize = sizeof te;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == self)
            ++n;
    CloseHandle(snap);
    return n;
}

static ULONGLONG fileTime(const FILETIME &t)
{
    return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

// Wine's GetProcessHandleCount succeeds and reports 0; its system handle table
// (NtQuerySystemInformation, class 16) lists every open handle with its process.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};

static DWORD systemTableHandleCount()
{
    typedef LONG(WINAPI * QueryFn)(ULONG, PVOID, ULONG, PULONG);
    static QueryFn query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    const LONG INFO_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004);
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buf.data(), static_cast<ULONG>(buf.size()), &needed);
        if (status == INFO_LENGTH_MISMATCH) {
            buf.resize(buf.size() * 2 > needed ? buf.size() * 2 : needed + 4096);
            continue;
        }
        if (status != 0)
            return 0;
        break;
    }
    const ULONG count = *reinterpret_cast<const ULONG *>(buf.data());
    const auto *entries = reinterpret_cast<const SystemHandleEntry *>(buf.data() + sizeof(void *));
    const DWORD self = GetCurrentProcessId();
    DWORD mine = 0;
    for (ULONG i = 0; i < count; ++i)
        if (entries[i].ownerPid == self)
            ++mine;
    return mine;
}

ProcessCounters processCounters()
{
    ProcessCounters c = {0, threadCount(), 0};
    if (!GetProcessHandleCount(GetCurrentProcess(), &c.handles) || c.handles == 0)
        c.handles = systemTableHandleCount();
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        c.cpu100ns = fileTime(kernel) + fileTime(user);
    return c;
}

double nowSeconds()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}
