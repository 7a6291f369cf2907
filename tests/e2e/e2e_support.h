// End-to-end support: the real K614Mon.exe under wine and Xvfb, the simulator's control and log,
// xdotool input and screen captures.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

// Runs a shell command; returns its standard output. *rc gets the exit status.
std::string shell(const std::string &command, int *rc = nullptr);

// Sleeps for the given number of milliseconds.
void pause(int ms);

// Points the prefix's COM links (COM1..COM8) at the simulator for the given ports only.
void mapComPorts(std::initializer_list<int> ports);

// The simulator's control socket (K614_SIM_CONTROL_PORT).
std::string simCommand(const std::string &line);

struct LogEntry {
    double seconds;
    unsigned code;
};
// Codes the simulator received so far (K614_SIM_LOG), in order.
std::vector<LogEntry> simReceived();
// Codes received after a given index of simReceived().
std::vector<unsigned> simReceivedSince(std::size_t from);
// Codes received after a given index, with their times.
std::vector<LogEntry> simReceivedEntriesSince(std::size_t from);

struct SimEvent {
    double seconds;
    std::string text; // "upload-answer 26", "param limit1Setpoint 72", ...
};
// The simulator's event lines (EV) so far, in order.
std::vector<SimEvent> simEvents();
// The device's 23 parameter values by name (the control server's `params`).
std::map<std::string, unsigned> simParams();
// The device's unit text (the control server's `unit`).
std::string simUnit();

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb &o) const { return r == o.r && g == o.g && b == o.b; }
};

// A capture of the program window's client area, in client coordinates.
struct ClientImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
    // Number of pixels of colour c in the rectangle [x0, x1) x [y0, y1).
    int count(Rgb c, int x0, int y0, int x1, int y1) const;
    void savePpm(const std::string &path) const;
};

inline constexpr Rgb PANEL_GREY{210, 210, 210};
inline constexpr Rgb BLACK{0, 0, 0};
inline constexpr Rgb RED{255, 0, 0};
inline constexpr Rgb BLUE{0, 0, 255};

// Any top-level window, by X window id: input and capture.
// Every visible window whose title matches exactly.
std::vector<std::string> visibleWindows(const std::string &title);
// The whole window, frame and caption included.
ClientImage captureWindow(const std::string &id);
void windowKeys(const std::string &id, const std::string &xdotoolKeys);
void windowType(const std::string &id, const std::string &text);
// Window coordinates (the frame's top-left corner is 0, 0).
void windowClick(const std::string &id, int x, int y);
bool waitWindowGone(const std::string &id, int timeoutMs = 3000);

// What a message box shows, read from its pixels: the lines of its text and its icon.
struct BoxLook {
    int width = 0;
    int height = 0;
    int textLines = 0;
    bool errorIcon = false;   // the red circle
    bool warningIcon = false; // the yellow triangle
};
BoxLook lookAtBox(const std::string &id);

// Z:\... as wine's drive Z: names a Linux path.
std::string windowsPath(const std::string &linuxPath);

// How a packaged program is started: a command (wine with an installed exe, a
// shortcut, a launcher), the environment it adds, and the folder where it keeps
// its settings file, which outlives the run.
struct ProgramStart {
    std::vector<std::string> argv;
    std::vector<std::string> env; // NAME=value
    std::string workdir;
};

// One run of K614Mon.exe in a fresh working directory.
class Program {
public:
    // Creates the working directory (optionally with a settings file) and starts the program.
    explicit Program(const std::string &settingsImage = std::string());
    // Starts the command of a package in its own working directory (kept afterwards).
    explicit Program(const ProgramStart &start);
    ~Program();
    Program(const Program &) = delete;
    Program &operator=(const Program &) = delete;

    const std::string &workdir() const { return workdir_; }
    // Waits for the main window; false on time-out.
    bool waitForWindow(int timeoutMs = 15000);
    // Window id of the first visible window whose title matches exactly.
    std::string findWindow(const std::string &title, int timeoutMs = 5000) const;
    ClientImage capture();
    void click(int clientX, int clientY);
    void keys(const std::string &xdotoolKeys);
    void keyDown(const std::string &key);
    void keyUp(const std::string &key);
    // Opens a menu with its Alt key and picks an item by its mnemonic.
    void menu(const std::string &menuKey, const std::string &itemKey);
    // Closes with the close box path (WM_CLOSE) and waits for the process to end.
    bool closeWindow(int timeoutMs = 10000);
    bool waitForExit(int timeoutMs);
    bool running() const;
    // The process that wine runs the program in (its /proc entry: threads, CPU time).
    int pid() const { return pid_; }
    const std::string &mainWindow() const { return window_; }
    // A visible window with this title other than the main window (message
    // boxes carry the main window's caption); empty on time-out.
    std::string waitForBox(const std::string &title, int timeoutMs) const;
    // Dismisses a message box whose title matches, pressing Return; returns its text found by capture.
    bool dismissBox(const std::string &title, int timeoutMs = 5000);
    std::string settingsFile() const;
    // Opens a menu with its Alt key and returns the 0-based row (separators
    // count as no row) of the item carrying a check mark, -1 for none, then
    // closes the menu again. Rows are measured from the highlight bar that
    // marks the first item of a menu opened from the keyboard.
    std::vector<int> checkedMenuRows(const std::string &menuKey);

private:
    void locateClient();
    std::string workdir_;
    bool ownsWorkdir_ = true;
    int pid_ = -1;
    std::string window_;
    int clientLeft_ = 0;
    int clientTop_ = 0;
    int windowX_ = 0;
    int windowY_ = 0;
};

std::string readFile(const std::string &path);

// Asks until the condition holds or the time is up.
template <typename Condition> bool waitFor(Condition ok, int timeoutMs, int stepMs = 100)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (ok())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        pause(stepMs);
    }
}

// The program's 280-byte settings file, written from its own layout here:
// COM port (byte 0), roll mode (byte 260: 0 = 10 s), stop at alarm (byte 262).
std::string settingsImage(int port, int rollMode, int stopAtAlarm);

// A field of the simulator's `status` line ("sent", "dropped", ...), -1 when absent.
long simStatus(const std::string &field);

// Measuring that no measurement is lost across an operation: with the trend at
// 10 s per screen every measurement is one trend column, so the columns between
// two short spikes in the stream count what the program received and drew
// between them, and the simulator counts what it sent.
inline constexpr int STREAM_BASE_LEVEL = 20;   // kW%
inline constexpr int STREAM_MARKER_LEVEL = 90; // kW%, 2 pixels per kW% above the baseline at 295
// Sends one spike; returns the simulator's count of measurements sent before it.
long sendStreamMarker();
// Trend columns (client x) where a spike starts, left to right.
std::vector<int> streamMarkerColumns(const ClientImage &client);
