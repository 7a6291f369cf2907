// The replacing save on POSIX: one table of targets and failing system calls, each row a rule of what a save replaces.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "fileio/replacing_file.h"
#include "fileio/replacing_file_posix.h"

namespace {

constexpr char NEW_CONTENT[] = "the new content";
constexpr char OLD_CONTENT[] = "the old content";
// The save's umask keeps group and other write, so that a new file's base
// mode shows through (0666 gives 664); the rows' own files are made under 027.
constexpr mode_t TEST_UMASK = 002;
constexpr uid_t SOME_USER = 1234; // a user other than root, for the rows that need root

// Which system call fails, and with what; the rest are the system's own.
const char *failing = "";
int failingErrno = 0;

int fail()
{
    errno = failingErrno;
    return -1;
}

bool isFolder(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

FileSystemCalls faultyCalls()
{
    FileSystemCalls c = systemFileCalls();
    const std::string f = failing;
    if (f == "mkstemp")
        c.mkstemp = [](char *) { return fail(); };
    if (f == "fsync")
        c.fsync = [](int fd) { return isFolder(fd) ? ::fsync(fd) : fail(); };
    if (f == "fsync folder")
        c.fsync = [](int fd) { return isFolder(fd) ? fail() : ::fsync(fd); };
    if (f == "rename")
        c.rename = [](const char *, const char *) { return fail(); };
    if (f == "fchown") // as for a user: the old owner cannot be kept, and the saver's shows
        c.fchown = [](int, uid_t, gid_t) { return fail(); };
    if (f == "fchown")
        c.fstat = [](int fd, struct stat *st) {
            const int r = ::fstat(fd, st);
            st->st_uid += 1;
            return r;
        };
    return c;
}

std::string shell(const std::string &command)
{
    std::string out;
    if (FILE *p = popen(command.c_str(), "r")) {
        for (int ch; (ch = std::fgetc(p)) != EOF;)
            out += static_cast<char>(ch);
        pclose(p);
    }
    return out;
}

struct ScratchFolder {
    std::string path;
    ScratchFolder()
    {
        char name[] = "/tmp/k614save.XXXXXX";
        path = mkdtemp(name) ? name : "";
    }
    ~ScratchFolder() { shell("rm -rf " + path); }
    std::string names() const { return shell("ls -A " + path + " | tr '\\n' ' '"); }
};

long save(const std::string &target, const FileSystemCalls &calls)
{
    ReplacingFile file(&calls);
    long code = file.begin(target.c_str());
    if (code == 0)
        code = file.write(NEW_CONTENT, sizeof NEW_CONTENT - 1);
    if (code == 0)
        code = file.commit();
    return code;
}

std::string modeOf(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return "missing";
    char text[32];
    std::snprintf(text, sizeof text, "%o %s uid %u", static_cast<unsigned>(st.st_mode & 07777),
                  S_ISREG(st.st_mode) ? "file" : "other", static_cast<unsigned>(st.st_uid));
    return text;
}

TEST(ReplacingFile, EachTargetAndFailingCallGivesItsOutcome)
{
    const std::string me = std::to_string(getuid());
    const std::string longName(250, 'n');
    const struct Row {
        const char *rule;
        const char *setUp;     // shell commands in the folder; "old" is the usual target
        const char *saveTo;    // the name handed to the save
        const char *fails;     // the failing call, "" for none
        int code;              // what the save returns
        const char *file;      // the name whose content and mode are checked afterwards
        const char *content;   // that file's content afterwards
        const char *mode;      // its mode, kind and owner ("uid ME": the tester)
        const char *names;     // the folder's names afterwards: no temporary left
        bool needsRoot;
    } rows[] = {
        {"a new file gets 0666 less the umask", "", "old", "", 0, "old", NEW_CONTENT, "664 file uid ME", "old ", false},
        {"a replaced file keeps its mode", "printf 'the old content' >old; chmod 600 old", "old", "", 0, "old",
         NEW_CONTENT, "600 file uid ME", "old ", false},
        {"a link is saved through", "printf 'the old content' >real; ln -s real link", "link", "", 0, "real",
         NEW_CONTENT, "640 file uid ME", "link real ", false},
        {"a link to no file creates its target", "ln -s real link", "link", "", 0, "real", NEW_CONTENT,
         "664 file uid ME", "link real ", false},
        {"a FIFO is written in place", "mkfifo -m 600 fifo; (timeout 5 cat fifo >read 2>/dev/null &)", "fifo", "", 0, "read", NEW_CONTENT,
         "640 file uid ME", "fifo read ", false},
        // A node of its own, never the system's /dev/null: a save that broke
        // this rule as root would replace that one.
        {"a character device is written in place", "mknod -m 666 null c 1 3", "null", "", 0, "null", "",
         "666 other uid 0", "null ", true},
        {"a folder is refused", "mkdir old", "old", "", EISDIR, "old", "", "750 other uid ME", "old ", false},
        {"a read-only file is refused, to root too", "printf 'the old content' >old; chmod 444 old", "old", "",
         EACCES, "old", OLD_CONTENT, "444 file uid ME", "old ", false},
        {"a name of 250 characters saves", "", longName.c_str(), "", 0, longName.c_str(), NEW_CONTENT,
         "664 file uid ME", nullptr, false},
        {"a folder that takes no new file: in place", "printf 'the old content' >old; chmod 604 old", "old",
         "mkstemp", 0, "old", NEW_CONTENT, "604 file uid ME", "old ", false},
        {"a failed fsync fails the save", "printf 'the old content' >old", "old", "fsync", EIO, "old", OLD_CONTENT,
         "640 file uid ME", "old ", false},
        {"a failed rename fails and removes the temporary", "printf 'the old content' >old", "old", "rename", EXDEV,
         "old", OLD_CONTENT, "640 file uid ME", "old ", false},
        {"a failed sync of the folder fails the save", "printf 'the old content' >old", "old", "fsync folder", EIO,
         "old", NEW_CONTENT, "640 file uid ME", "old ", false},
        {"another owner: no set-uid bit", "printf 'the old content' >old; chmod 4755 old", "old", "fchown", 0, "old",
         NEW_CONTENT, "755 file uid ME", "old ", false},
        {"root keeps the owner and the set-uid bit", "printf 'the old content' >old; chown 1234 old; chmod 4755 old",
         "old", "", 0, "old", NEW_CONTENT, "4755 file uid 1234", "old ", true},
    };
    static_assert(SOME_USER == 1234, "the root row's owner");
    const mode_t previousMask = umask(TEST_UMASK);
    for (const Row &row : rows) {
        SCOPED_TRACE(row.rule);
        if (row.needsRoot && getuid() != 0) {
            std::printf("not run without root: %s\n", row.rule);
            continue;
        }
        ScratchFolder folder;
        ASSERT_FALSE(folder.path.empty());
        shell("cd " + folder.path + " && umask 027 && " + (*row.setUp ? row.setUp : "true"));
        const auto inFolder = [&](const char *name) { return folder.path + "/" + name; };
        failing = row.fails;
        failingErrno = row.code != 0 ? row.code : EACCES;
        const FileSystemCalls calls = faultyCalls();
        EXPECT_EQ(save(inFolder(row.saveTo), calls), row.code) << std::strerror(row.code);
        failing = "";
        if (std::string(row.rule).find("FIFO") != std::string::npos)
            shell("cd " + folder.path + " && for i in $(seq 500); do [ -s read ] && break; sleep 0.01; done");
        EXPECT_EQ(shell("cat " + inFolder(row.file) + " 2>/dev/null"), row.content);
        std::string mode = row.mode;
        if (mode.find("uid ME") != std::string::npos)
            mode.replace(mode.find("ME"), 2, me);
        EXPECT_EQ(modeOf(inFolder(row.file)), mode);
        if (row.names)
            EXPECT_EQ(folder.names(), row.names);
        else
            EXPECT_EQ(folder.names(), std::string(row.file) + " ");
    }
    umask(previousMask);
}

} // namespace
