// End-to-end support: processes, xdotool, screen captures, the simulator's control and log.
#include "e2e_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string env(const char *name, const char *fallback = "")
{
    const char *v = std::getenv(name);
    return v ? v : fallback;
}

std::string quoted(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

std::string shell(const std::string &command, int *rc)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) {
        if (rc)
            *rc = -1;
        return out;
    }
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = pclose(p);
    if (rc)
        *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

void pause(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void mapComPorts(std::initializer_list<int> ports)
{
    const std::string dos = env("WINEPREFIX") + "/dosdevices";
    for (int p = 1; p <= 8; ++p)
        shell("rm -f " + quoted(dos + "/com" + std::to_string(p)));
    for (int p : ports)
        shell("ln -sf " + quoted(env("K614_SIM_LINK")) + " " + quoted(dos + "/com" + std::to_string(p)));
}

std::string simCommand(const std::string &line)
{
    const int port = std::atoi(env("K614_SIM_CONTROL_PORT", "0").c_str());
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
        const std::string msg = line + "\n";
        if (write(fd, msg.data(), msg.size()) == static_cast<ssize_t>(msg.size())) {
            char c;
            while (read(fd, &c, 1) == 1 && c != '\n')
                reply += c;
        }
    }
    if (fd >= 0)
        close(fd);
    return reply;
}

std::vector<LogEntry> simReceived()
{
    std::vector<LogEntry> entries;
    std::istringstream in(readFile(env("K614_SIM_LOG")));
    std::string line;
    while (std::getline(in, line)) {
        double t;
        char kind[8];
        unsigned code;
        if (std::sscanf(line.c_str(), "%lf %7s %u", &t, kind, &code) == 3 && std::strcmp(kind, "RX") == 0)
            entries.push_back({t, code});
    }
    return entries;
}

std::vector<unsigned> simReceivedSince(std::size_t from)
{
    std::vector<unsigned> codes;
    const std::vector<LogEntry> all = simReceived();
    for (std::size_t i = from; i < all.size(); ++i)
        codes.push_back(all[i].code);
    return codes;
}

std::vector<LogEntry> simReceivedEntriesSince(std::size_t from)
{
    std::vector<LogEntry> all = simReceived();
    if (from >= all.size())
        return {};
    return std::vector<LogEntry>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

std::vector<SimEvent> simEvents()
{
    std::vector<SimEvent> events;
    std::istringstream in(readFile(env("K614_SIM_LOG")));
    std::string line;
    while (std::getline(in, line)) {
        double t;
        int consumed = 0;
        if (std::sscanf(line.c_str(), "%lf EV %n", &t, &consumed) == 1 && consumed > 0)
            events.push_back({t, line.substr(static_cast<std::size_t>(consumed))});
    }
    return events;
}

std::map<std::string, unsigned> simParams()
{
    std::map<std::string, unsigned> values;
    std::istringstream in(simCommand("params"));
    std::string word;
    in >> word; // "ok"
    while (in >> word) {
        const std::size_t eq = word.find('=');
        if (eq != std::string::npos)
            values[word.substr(0, eq)] = static_cast<unsigned>(std::strtoul(word.c_str() + eq + 1, nullptr, 10));
    }
    return values;
}

std::string simUnit()
{
    const std::string reply = simCommand("unit");
    return reply.rfind("ok ", 0) == 0 ? reply.substr(3) : std::string();
}

int ClientImage::count(Rgb c, int x0, int y0, int x1, int y1) const
{
    int n = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            n += at(x, y) == c;
    return n;
}

void ClientImage::savePpm(const std::string &path) const
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (const Rgb &p : pixels)
        out.put(static_cast<char>(p.r)).put(static_cast<char>(p.g)).put(static_cast<char>(p.b));
}

std::vector<std::string> visibleWindows(const std::string &title)
{
    std::vector<std::string> ids;
    std::istringstream in(shell("xdotool search --onlyvisible --name " + quoted("^" + title + "$") + " 2>/dev/null"));
    for (std::string id; in >> id;)
        ids.push_back(id);
    return ids;
}

// A window's pixels from (left, top) to its bottom-right corner.
static ClientImage captureFrom(const std::string &id, int left, int top)
{
    ClientImage img;
    const std::string ppm = shell("import -silent -window " + id + " -depth 8 ppm:- 2>/dev/null");
    int w = 0, h = 0, maxv = 0, consumed = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &maxv, &consumed) != 3)
        return img;
    const std::size_t start = static_cast<std::size_t>(consumed) + 1;
    if (ppm.size() < start + static_cast<std::size_t>(w) * h * 3 || left >= w || top >= h)
        return img;
    img.width = w - left;
    img.height = h - top;
    img.pixels.resize(static_cast<std::size_t>(img.width) * img.height);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const std::size_t i = start + (static_cast<std::size_t>(y + top) * w + (x + left)) * 3;
            img.pixels[static_cast<std::size_t>(y) * img.width + x] = {static_cast<std::uint8_t>(ppm[i]),
                                                                       static_cast<std::uint8_t>(ppm[i + 1]),
                                                                       static_cast<std::uint8_t>(ppm[i + 2])};
        }
    return img;
}

ClientImage captureWindow(const std::string &id)
{
    return captureFrom(id, 0, 0);
}

void windowKeys(const std::string &id, const std::string &xdotoolKeys)
{
    shell("xdotool windowfocus --sync " + id + " 2>/dev/null; xdotool key --delay 60 " + xdotoolKeys);
}

void windowType(const std::string &id, const std::string &text)
{
    shell("xdotool windowfocus --sync " + id + " 2>/dev/null; xdotool type --delay 40 -- " + quoted(text));
}

void windowClick(const std::string &id, int x, int y)
{
    shell("xdotool mousemove --window " + id + " " + std::to_string(x) + " " + std::to_string(y) + " click 1");
}

bool waitWindowGone(const std::string &id, int timeoutMs)
{
    for (int waited = 0; waited <= timeoutMs; waited += 50) {
        int rc = 0;
        const std::string visible = shell("xdotool search --onlyvisible --name '.*' 2>/dev/null", &rc);
        std::istringstream in(visible);
        bool found = false;
        for (std::string w; in >> w;)
            found = found || w == id;
        if (!found)
            return true;
        pause(50);
    }
    return false;
}

BoxLook lookAtBox(const std::string &id)
{
    BoxLook look;
    const ClientImage img = captureWindow(id);
    look.width = img.width;
    look.height = img.height;
    if (img.width < 120 || img.height < 60)
        return look;
    int red = 0, yellow = 0;
    for (const Rgb &p : img.pixels) {
        red += p.r > 180 && p.g < 90 && p.b < 90;
        yellow += p.r > 200 && p.g > 100 && p.g < 220 && p.b < 90;
    }
    look.errorIcon = red > 100;
    look.warningIcon = yellow > 100;
    // The buttons' row starts with the first long horizontal edge right of
    // the icon; above it, each band of rows with dark pixels is one text line.
    const auto shaded = [](Rgb p) { return p.r + p.g + p.b < 500; };
    const auto dark = [](Rgb p) { return p.r + p.g + p.b < 250; };
    int buttonsTop = img.height;
    for (int y = 22; y < img.height - 3 && buttonsTop == img.height; ++y) {
        int run = 0;
        for (int x = 55; x < img.width - 8; ++x) {
            run = shaded(img.at(x, y)) ? run + 1 : 0;
            if (run >= 30) {
                buttonsTop = y;
                break;
            }
        }
    }
    int lastDark = -100;
    for (int y = 22; y < buttonsTop - 1; ++y) {
        bool any = false;
        for (int x = 50; x < img.width - 8 && !any; ++x)
            any = dark(img.at(x, y));
        if (!any)
            continue;
        if (y - lastDark > 2)
            ++look.textLines;
        lastDark = y;
    }
    return look;
}

std::string windowsPath(const std::string &linuxPath)
{
    std::string p = "Z:" + linuxPath;
    for (char &c : p)
        c = c == '/' ? '\\' : c;
    return p;
}

Program::Program(const std::string &settingsImage)
{
    char tmpl[] = "/tmp/k614e2e.XXXXXX";
    workdir_ = mkdtemp(tmpl);
    if (!settingsImage.empty()) {
        std::ofstream out(workdir_ + "/K614Mon.cnf", std::ios::binary);
        out << settingsImage;
    }
    const std::string exe = env("K614_EXE");
    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(workdir_.c_str()) != 0)
            _exit(127);
        setpgid(0, 0);
        execlp("wine", "wine", exe.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
}

Program::Program(const ProgramStart &start) : workdir_(start.workdir), ownsWorkdir_(false)
{
    std::vector<char *> argv;
    for (const std::string &a : start.argv)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        if (chdir(workdir_.c_str()) != 0)
            _exit(127);
        setpgid(0, 0);
        for (const std::string &e : start.env)
            putenv(const_cast<char *>(e.c_str()));
        execvp(argv[0], argv.data());
        _exit(127);
    }
}

Program::~Program()
{
    if (running()) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (ownsWorkdir_)
        shell("rm -rf " + quoted(workdir_));
}

bool Program::running() const
{
    if (pid_ <= 0)
        return false;
    return waitpid(pid_, nullptr, WNOHANG) == 0;
}

bool Program::waitForExit(int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        int status;
        const pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_ || r < 0) {
            pid_ = -1;
            return true;
        }
        pause(50);
    }
    return false;
}

std::string Program::findWindow(const std::string &title, int timeoutMs) const
{
    for (int waited = 0; waited <= timeoutMs; waited += 100) {
        std::string out = shell("xdotool search --onlyvisible --name " + quoted("^" + title + "$") + " 2>/dev/null");
        std::istringstream in(out);
        std::string id;
        if (in >> id)
            return id;
        pause(100);
    }
    return {};
}

bool Program::waitForWindow(int timeoutMs)
{
    window_ = findWindow("K614 Configuration tool", timeoutMs);
    if (window_.empty())
        return false;
    pause(700); // first paint
    locateClient();
    return true;
}

void Program::locateClient()
{
    // Unmanaged wine windows carry their frame, caption and menu inside the X
    // window: find the client origin from the header frame's top-left corner
    // (client 25, 15: black border, panel grey inside).
    ClientImage whole;
    std::string geometry = shell("xdotool getwindowgeometry --shell " + window_);
    std::sscanf(geometry.c_str() + geometry.find("X="), "X=%d", &windowX_);
    std::sscanf(geometry.c_str() + geometry.find("Y="), "Y=%d", &windowY_);
    clientLeft_ = clientTop_ = 0;
    whole = capture();
    for (int y = 1; y + 1 < whole.height; ++y) {
        for (int x = 1; x + 1 < whole.width; ++x) {
            if (whole.at(x, y) == BLACK && whole.at(x + 1, y) == BLACK && whole.at(x, y + 1) == BLACK &&
                whole.at(x + 1, y + 1) == PANEL_GREY && !(whole.at(x - 1, y) == BLACK) &&
                !(whole.at(x, y - 1) == BLACK)) {
                clientLeft_ = x - 25;
                clientTop_ = y - 15;
                return;
            }
        }
    }
}

ClientImage Program::capture()
{
    return captureFrom(window_, clientLeft_, clientTop_);
}

void Program::click(int clientX, int clientY)
{
    shell("xdotool mousemove --window " + window_ + " " + std::to_string(clientX + clientLeft_) + " " +
          std::to_string(clientY + clientTop_) + " click 1");
}

void Program::keys(const std::string &xdotoolKeys)
{
    shell("xdotool windowfocus --sync " + window_ + " 2>/dev/null; xdotool key --delay 60 " + xdotoolKeys);
}

void Program::keyDown(const std::string &key)
{
    shell("xdotool windowfocus --sync " + window_ + " 2>/dev/null; xdotool keydown " + key);
}

void Program::keyUp(const std::string &key)
{
    shell("xdotool keyup " + key);
}

void Program::menu(const std::string &menuKey, const std::string &itemKey)
{
    keys("alt+" + menuKey);
    pause(300);
    shell("xdotool key " + itemKey);
}

bool Program::closeWindow(int timeoutMs)
{
    keys("alt+F4");
    return waitForExit(timeoutMs);
}

std::string Program::waitForBox(const std::string &title, int timeoutMs) const
{
    for (int waited = 0; waited <= timeoutMs; waited += 100) {
        for (const std::string &id : visibleWindows(title)) {
            if (id != window_)
                return id;
        }
        pause(100);
    }
    return {};
}

bool Program::dismissBox(const std::string &title, int timeoutMs)
{
    const std::string box = findWindow(title, timeoutMs);
    if (box.empty())
        return false;
    shell("xdotool windowfocus --sync " + box + " 2>/dev/null; xdotool key Return");
    pause(300);
    return true;
}

std::string Program::settingsFile() const
{
    return readFile(workdir_ + "/K614Mon.cnf");
}

std::vector<int> Program::checkedMenuRows(const std::string &menuKey)
{
    std::vector<int> rows;
    const std::string before = shell("xdotool search --onlyvisible --name '^$' 2>/dev/null");
    keys("alt+" + menuKey);
    pause(600);
    std::string popup;
    std::istringstream ids(shell("xdotool search --onlyvisible --name '^$' 2>/dev/null"));
    for (std::string id; ids >> id;) {
        if (before.find(id) != std::string::npos)
            continue;
        popup = id;
    }
    if (popup.empty())
        return rows;
    const std::string saved = window_;
    const int savedLeft = clientLeft_, savedTop = clientTop_;
    window_ = popup;
    clientLeft_ = clientTop_ = 0;
    const ClientImage menu = capture();
    window_ = saved;
    clientLeft_ = savedLeft;
    clientTop_ = savedTop;
    shell("xdotool key Escape Escape");
    pause(300);
    if (menu.width < 30)
        return rows;

    // The highlight bar (the system's blue highlight colour): the first run of
    // rows whose right-hand margin is blue.
    const auto highlighted = [&](int y) {
        const Rgb p = menu.at(menu.width - 6, y);
        return p.b > p.r + 60 && p.b > p.g + 20;
    };
    int top = -1, height = 0;
    for (int y = 0; y < menu.height; ++y) {
        if (highlighted(y) && top < 0)
            top = y;
        if (!highlighted(y) && top >= 0) {
            height = y - top;
            break;
        }
    }
    if (top < 0 || height < 8)
        return rows;
    // Check marks: glyph pixels in the left margin, black on a plain row and
    // white on the highlighted one (separators are grey).
    for (int y = top; y < menu.height; ++y) {
        // On the highlighted row only white inside the bar counts (the margin
        // left of the bar is the menu's own white).
        bool inBar = false;
        for (int x = 2; x < 16; ++x) {
            const Rgb p = menu.at(x, y);
            const bool blue = p.b > p.r + 60 && p.b > p.g + 20;
            inBar = inBar || blue;
            const bool glyph = highlighted(y) ? (inBar && p.r > 230 && p.g > 230 && p.b > 230)
                                              : (p.r + p.g + p.b < 200);
            if (glyph) {
                const int row = (y - top) / height;
                if (rows.empty() || rows.back() != row)
                    rows.push_back(row);
                break;
            }
        }
    }
    return rows;
}

long simStatus(const std::string &field)
{
    const std::string status = simCommand("status");
    const std::size_t at = status.find(" " + field + "=");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + field.size() + 2);
}

// The spike is measurement count + 1 (or + 2 when a tick slipped in between
// the two commands, which both markers share).
long sendStreamMarker()
{
    const long before = simStatus("sent");
    simCommand("set-measurement " + std::to_string(STREAM_MARKER_LEVEL));
    waitFor([&] { return simStatus("sent") >= before + 3; }, 2000, 10);
    simCommand("set-measurement " + std::to_string(STREAM_BASE_LEVEL));
    return before;
}

// A spike starts where the trace reaches the marker level and did not in the column before.
std::vector<int> streamMarkerColumns(const ClientImage &client)
{
    const int markerY = 295 - 2 * STREAM_MARKER_LEVEL;
    const auto high = [&](int x) { return client.count(BLUE, x, markerY - 4, x + 1, markerY + 5) > 0; };
    std::vector<int> starts;
    for (int x = 366; x <= 866; ++x)
        if (high(x) && !high(x - 1))
            starts.push_back(x);
    return starts;
}

std::string settingsImage(int port, int rollMode, int stopAtAlarm)
{
    std::string s(280, '\0');
    s[0] = static_cast<char>(port);
    s[260] = static_cast<char>(rollMode);
    s[262] = static_cast<char>(stopAtAlarm);
    return s;
}
