// End to end: the packages as a user installs them. The Windows installer and zip in fresh wine
// prefixes, and the Debian package's k614mon launcher, each running the program against the simulator.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

#include "e2e_support.h"

namespace {

constexpr unsigned REQUEST_UPLOAD = 65050;
constexpr int READING = 57; // kW%: the trace runs 2 pixels per kW% above the baseline at y 295
const std::string VERSION = K614_PACKAGE_VERSION;

std::string envOf(const char *name)
{
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::string q(const std::string &s)
{
    return "'" + s + "'";
}

bool exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

double secondsSince(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

class Packages : public ::testing::Test {
protected:
    void SetUp() override
    {
        simCommand("resume");
        simCommand("upload-withhold off");
        simCommand("set-measurement " + std::to_string(READING));
        char tmpl[] = "/tmp/k614pkg.XXXXXX";
        dir_ = mkdtemp(tmpl);
        packages_ = envOf("K614_PACKAGE_DIR");
    }
    void TearDown() override
    {
        if (!prefix_.empty())
            wine("", "wineserver -k");
        shell("rm -rf " + q(dir_));
    }

    // A fresh prefix, a copy of the harness's, whose COM1 is the simulator in
    // the registry (lasting) and in dosdevices (for the session already up).
    void freshPrefix()
    {
        prefix_ = dir_ + "/prefix";
        shell("cp -a " + q(envOf("WINEPREFIX")) + " " + q(prefix_));
        wine("", "setsid wineserver -p5 </dev/null >/dev/null 2>&1");
        wine("reg add 'HKLM\\Software\\Wine\\Ports' /v COM1 /t REG_SZ /d " + q(envOf("K614_SIM_LINK")) + " /f");
        shell("ln -sfn " + q(envOf("K614_SIM_LINK")) + " " + q(prefix_ + "/dosdevices/com1"));
    }
    std::string wine(const std::string &args, const std::string &command = "wine", int *rc = nullptr)
    {
        return shell("WINEPREFIX=" + q(prefix_) + " " + command + " " + args + " 2>&1 | tr -d '\\r'", rc);
    }
    void install()
    {
        freshPrefix();
        const auto t0 = std::chrono::steady_clock::now();
        int rc = -1; // the installer's own code, not that of wine()'s pipe
        shell("WINEPREFIX=" + q(prefix_) + " wine " + q(packages_ + "/K614Mon-" + VERSION + "-win64-setup.exe") +
                  " /S >/dev/null 2>&1",
              &rc);
        std::printf("[ figure ] silent install: %.2f s\n", secondsSince(t0));
        ASSERT_EQ(rc, 0);
    }
    std::string installDir() const { return prefix_ + "/drive_c/Program Files/K614Mon"; }
    std::string shortcut() const
    {
        return prefix_ + "/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/K614Mon/K614Mon.lnk";
    }
    std::string appData() const
    {
        return prefix_ + "/drive_c/users/" + getpwuid(getuid())->pw_name + "/AppData/Roaming";
    }
    std::string uninstallEntry()
    {
        return wine("reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\K614Mon'");
    }
    // Windows commands in one wine start (each start costs seconds): a batch
    // file in C:\, lines ending in CR LF. The exit code is wine's own.
    std::string batch(const std::vector<std::string> &lines, int *rc = nullptr)
    {
        std::FILE *f = std::fopen((prefix_ + "/drive_c/k614-test.bat").c_str(), "w");
        EXPECT_NE(f, nullptr);
        if (f == nullptr)
            return "";
        std::fputs("@echo off\r\n", f);
        for (const std::string &line : lines)
            std::fprintf(f, "%s\r\n", line.c_str());
        std::fclose(f);
        return shell("WINEPREFIX=" + q(prefix_) + " wine cmd /c 'C:\\k614-test.bat' 2>&1", rc);
    }
    void uninstallAndWait()
    {
        const auto t0 = std::chrono::steady_clock::now();
        wine(q(installDir() + "/Uninstall.exe") + " /S");
        // The uninstaller runs on from a copy of itself in the temp folder.
        EXPECT_TRUE(waitFor([&] { return !exists(installDir()) && !exists(shortcut()); }, 20000))
            << "left: " << shell("ls -R " + q(installDir()) + " " + q(shortcut()) + " 2>&1");
        std::printf("[ figure ] silent uninstall: %.2f s\n", secondsSince(t0));
        EXPECT_EQ(uninstallEntry().find("DisplayName"), std::string::npos);
    }
    ProgramStart fromShortcut() const
    {
        return {{"wine", "start", "/wait", "/unix", shortcut()}, {"WINEPREFIX=" + prefix_}, appData()};
    }

    std::string dir_;
    std::string prefix_;
    std::string packages_;
};

// The PATH values among what "reg query" printed.
std::string pathValues(const std::string &regOutput)
{
    std::string values;
    std::size_t at = 0;
    while ((at = regOutput.find("    PATH    REG_", at)) != std::string::npos) {
        const std::size_t end = regOutput.find('\n', at);
        values += regOutput.substr(at, end - at) + "\n";
        at = end;
    }
    return values;
}

// The window shows the simulator's reading: the trace at its height, and the
// program asked the device for its parameters.
void expectReading(Program &program, std::size_t logFrom, int windowTimeoutMs = 15000)
{
    ASSERT_TRUE(program.waitForWindow(windowTimeoutMs));
    const int y = 295 - 2 * READING;
    EXPECT_TRUE(waitFor([&] { return program.capture().count(BLUE, 365, y - 2, 867, y + 3) > 20; }, 8000))
        << "no trace at " << READING << " kW%";
    EXPECT_TRUE(waitFor(
        [&] {
            for (unsigned code : simReceivedSince(logFrom))
                if (code == REQUEST_UPLOAD)
                    return true;
            return false;
        },
        3000))
        << "no upload request reached the simulator";
}

TEST_F(Packages, SetupInstallsSilentlyWithShortcutAndUninstallEntry)
{
    install();
    for (const char *file : {"K614Mon.exe", "k614ctl.exe", "README.txt", "Uninstall.exe"})
        EXPECT_TRUE(exists(installDir() + "/" + file)) << file;
    EXPECT_TRUE(exists(shortcut()));
    const std::string entry = uninstallEntry();
    EXPECT_NE(entry.find("DisplayVersion    REG_SZ    " + VERSION), std::string::npos) << entry;
    EXPECT_NE(entry.find("Uninstall.exe"), std::string::npos) << entry;
}

TEST_F(Packages, ShortcutStartsTheProgramWhereItKeepsItsSettings)
{
    install();
    {
        Program program(fromShortcut());
        expectReading(program, simReceived().size());
        program.menu("r", "1"); // Roll, 10s: written at once
        EXPECT_TRUE(program.closeWindow());
        EXPECT_TRUE(waitWindowGone(program.mainWindow(), 10000));
    }
    EXPECT_EQ(readFile(appData() + "/K614Mon.cnf"), settingsImage(1, 0, 0));
    EXPECT_FALSE(exists(installDir() + "/K614Mon.cnf"));
    Program again(fromShortcut());
    expectReading(again, simReceived().size());
    EXPECT_EQ(again.checkedMenuRows("r"), std::vector<int>{0}) << "10s kept";
    EXPECT_TRUE(again.closeWindow());
    EXPECT_TRUE(waitWindowGone(again.mainWindow(), 10000));
}

TEST_F(Packages, UninstallerRemovesFilesShortcutAndEntry)
{
    install();
    uninstallAndWait();
}

// A running program's exe cannot be removed: the uninstaller says so and
// removes nothing, so the entry stays while files remain; closed, all goes.
TEST_F(Packages, UninstallerRefusesWhileTheProgramRuns)
{
    install();
    {
        Program program(fromShortcut());
        ASSERT_TRUE(program.waitForWindow());
        // "_?=" runs the uninstaller in place and waits for it, so its exit
        // code comes back. It must reach the uninstaller unquoted, spaces and
        // all, as only a command line written out (a batch file) gives it.
        int rc = -1;
        const std::string out = batch({"\"C:\\Program Files\\K614Mon\\Uninstall.exe\" /S _?=C:\\Program Files\\K614Mon",
                                       "exit /b %errorlevel%"},
                                      &rc);
        EXPECT_EQ(rc, 2) << out;
        for (const char *file : {"K614Mon.exe", "k614ctl.exe", "README.txt", "Uninstall.exe"})
            EXPECT_TRUE(exists(installDir() + "/" + file)) << file;
        EXPECT_TRUE(exists(shortcut()));
        EXPECT_NE(uninstallEntry().find("DisplayName"), std::string::npos);
        EXPECT_TRUE(program.closeWindow());
        EXPECT_TRUE(waitWindowGone(program.mainWindow(), 10000));
    }
    uninstallAndWait();
}

// The PATH option is off unless chosen on the options page, so a silent
// install leaves the PATH alone. Chosen "for the current user", the page
// records that in the entry and the folder is on the user's PATH: the
// uninstaller takes it off again and keeps the rest.
TEST_F(Packages, InstallFolderOnThePathOnlyWhenChosenAndOffAfterUninstall)
{
    install();
    const std::string user = "HKCU\\Environment";
    const std::string system = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment";
    const std::string entry = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\K614Mon";
    const std::string before =
        batch({"reg query \"" + user + "\" /v PATH", "reg query \"" + system + "\" /v PATH", "reg query \"" + entry + "\""});
    EXPECT_EQ(pathValues(before).find("K614Mon"), std::string::npos) << before;
    EXPECT_NE(before.find("DoNotAddToPath    REG_SZ    1"), std::string::npos) << before;

    batch({"reg add \"" + entry + "\" /v DoNotAddToPath /t REG_SZ /d 0 /f",
           "reg add \"" + entry + "\" /v AddToPathCurrentUser /t REG_SZ /d 1 /f",
           "reg add \"" + user + "\" /v PATH /t REG_EXPAND_SZ /d \"C:\\tools;C:\\Program Files\\K614Mon\" /f"});
    uninstallAndWait();
    const std::string after = batch({"reg query \"" + user + "\" /v PATH"});
    EXPECT_EQ(pathValues(after).find("K614Mon"), std::string::npos) << after;
    EXPECT_NE(pathValues(after).find("C:\\tools"), std::string::npos) << after;
}

TEST_F(Packages, ZipProgramRunsFromItsFolder)
{
    freshPrefix();
    shell("cd " + q(dir_) + " && unzip -q " + q(packages_ + "/K614Mon-" + VERSION + "-win64.zip"));
    const std::string folder = dir_ + "/K614Mon-" + VERSION + "-win64";
    Program program({{"wine", folder + "/K614Mon.exe"}, {"WINEPREFIX=" + prefix_}, folder});
    expectReading(program, simReceived().size());
    EXPECT_TRUE(program.closeWindow());
    EXPECT_EQ(program.settingsFile(), settingsImage(1, 1, 0));
}

// The launcher unpacked elsewhere: its first start makes the user's prefix; a
// later one without --port keeps the adapter; k614ctl finds the port busy.
TEST_F(Packages, LauncherRunsTheProgramOnTheAdapterAndHoldsIt)
{
    const std::string root = dir_ + "/root";
    shell("dpkg-deb -x " + q(packages_ + "/k614mon_" + VERSION + "_amd64.deb") + " " + q(root));
    const std::string data = dir_ + "/data";
    shell("mkdir -p " + q(data + "/k614mon"));
    const std::string launcher = root + "/usr/bin/k614mon";
    const std::vector<std::string> env = {"XDG_DATA_HOME=" + data};
    const char *const labels[] = {"first start (prefix made)", "later start"};
    for (int run = 0; run < 2; ++run) {
        std::vector<std::string> argv = {launcher};
        if (run == 0)
            argv.insert(argv.end(), {"--port", envOf("K614_SIM_LINK")});
        const auto t0 = std::chrono::steady_clock::now();
        Program program({argv, env, data + "/k614mon"});
        expectReading(program, simReceived().size(), 120000);
        std::printf("[ figure ] launcher %s: window after %.1f s\n", labels[run], secondsSince(t0));
        int rc = -1;
        shell(std::string(K614CTL_PATH) + " read " + q(envOf("K614_SIM_LINK")) + " >/dev/null 2>&1", &rc);
        EXPECT_EQ(rc, 4) << "k614ctl while the program holds the port";
        EXPECT_TRUE(program.closeWindow(15000));
    }
    EXPECT_EQ(readFile(data + "/k614mon/K614Mon.cnf"), settingsImage(1, 1, 0));
}

} // namespace
