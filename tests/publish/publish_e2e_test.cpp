// k614ctl publish end to end: the real binary, the simulator on a pty, a real mosquitto broker on 127.0.0.1
// started with a configuration of the test's own, and mosquitto_sub as the subscriber.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <poll.h>
#include <sys/un.h>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"

namespace {

using namespace cli_test;

// The simulator's profile: 0, 1, ..., 199, again: a gap or a swap shows in the values alone.
constexpr int RAMP = 200;

bool looksLikeTime(const std::string &payload)
{
    // {"time":"2024-05-01T12:00:00.020Z",...
    return payload.rfind("{\"time\":\"", 0) == 0 && payload.size() > 34 && payload[19] == 'T' &&
           payload[32] == 'Z' && payload[33] == '"';
}

class PublishE2e : public ProcessTest {
protected:
    void SetUp() override
    {
        ProcessTest::SetUp();
        brokerPort = freeLocalPort();
        ASSERT_GT(brokerPort, 0);
    }
    void TearDown() override
    {
        stopProcess(&ctlPid, SIGKILL);
        stopProcess(&subPid);
        stopProcess(&brokerPid);
        if (HasFailure())
            std::printf("k614ctl stderr:\n%s\nbroker:\n%s\n", fileText(path("ctl.err")).c_str(),
                        fileText(path("broker.err")).c_str());
        ProcessTest::TearDown();
    }

    // The broker with `extra` lines of configuration; persistent, so that a
    // restart keeps the subscriber's session and what is queued for it.
    void startBroker(const std::string &extra = "allow_anonymous true\n")
    {
        if (brokerConfig.empty()) {
            brokerConfig = "listener " + std::to_string(brokerPort) + " 127.0.0.1\n" + extra +
                           "persistence true\npersistence_location " + std::string(dir) +
                           "/\nmax_queued_messages 0\nuser root\n";
            ASSERT_TRUE(saveText(path("mosquitto.conf"), brokerConfig));
        }
        brokerPid = spawnProcess({MOSQUITTO_PATH, "-c", path("mosquitto.conf")}, path("broker.out"),
                                 path("broker.err"));
        ASSERT_GT(brokerPid, 0);
        ASSERT_TRUE(waitFor([&] { return portListening(brokerPort); }, 5000)) << fileText(path("broker.err"));
    }

    void startSimulator()
    {
        std::string ramp;
        for (int i = 0; i < RAMP; ++i)
            ramp += std::to_string(i) + "\n";
        ASSERT_TRUE(saveText(path("ramp.txt"), ramp));
        startSim({"--wave", "profile:" + path("ramp.txt")});
    }
    // mosquitto_sub on prefix/#, QoS 1, a persistent session; one line per message: topic, payload.
    void startSubscriber(std::vector<std::string> extra = {})
    {
        std::vector<std::string> words = {"mosquitto_sub", "-h", "127.0.0.1", "-p", std::to_string(brokerPort),
                                          "-t", prefix + "/#", "-q", "1", "-c", "-i", "k614-test-subscriber",
                                          "-F", "%t %p"};
        words.insert(words.end(), extra.begin(), extra.end());
        subPid = spawnProcess(words, path("sub.out"), path("sub.err"));
        ASSERT_GT(subPid, 0);
    }
    // Payloads of prefix/`topic`, in arrival order.
    std::vector<std::string> payloads(const std::string &topic) const
    {
        std::vector<std::string> got;
        const std::string start = prefix + "/" + topic + " ";
        for (const std::string &line : linesOf(fileText(path("sub.out"))))
            if (line.rfind(start, 0) == 0)
                got.push_back(line.substr(start.size()));
        return got;
    }
    // The last status message is `status`.
    bool statusIs(const std::string &status) const
    {
        const std::vector<std::string> got = payloads("status");
        return !got.empty() && got.back() == status;
    }

    void startCtl(std::vector<std::string> args)
    {
        const std::string broker = "127.0.0.1:" + std::to_string(ctlBrokerPort ? ctlBrokerPort : brokerPort);
        args.insert(args.begin(), {K614CTL_PATH, "publish", link, "--broker", broker});
        if (prefix != DEFAULT_PREFIX)
            args.insert(args.end(), {"--topic", prefix});
        ctlPid = spawnProcess(args, path("ctl.out"), path("ctl.err"));
        ASSERT_GT(ctlPid, 0);
    }
    // The broker, the simulator, the subscriber on topic/#, publish with `args`.
    void startAll(const std::string &topic, std::vector<std::string> args = {})
    {
        prefix = topic;
        startBroker();
        startSimulator();
        startSubscriber();
        startCtl(std::move(args));
    }
    int ctlExit(int timeoutMs)
    {
        const int rc = waitExit(ctlPid, timeoutMs);
        ctlPid = -1;
        return rc;
    }

    // Measurement payloads that came more than once (QoS 1 sends again what was not acknowledged).
    long measurementRepeats() const
    {
        const std::vector<std::string> all = payloads("measurement");
        return static_cast<long>(all.size() - std::set<std::string>(all.begin(), all.end()).size());
    }
    // The measurement values in order, each payload once (QoS 1 may repeat one after a reconnect); -1 for a
    // payload that is not {"time":...,"p":N}.
    std::vector<int> measurementValues() const
    {
        std::vector<int> values;
        std::set<std::string> seen;
        for (const std::string &p : payloads("measurement")) {
            if (!seen.insert(p).second)
                continue;
            const std::size_t at = p.find("\"p\":");
            values.push_back(at == std::string::npos || !looksLikeTime(p) ? -1 : std::atoi(p.c_str() + at + 4));
        }
        return values;
    }
    // The simulator sends nothing, the publisher reports it: the measurements it has sent up to here.
    long quietStart()
    {
        EXPECT_EQ(simCommand("silent"), "ok");
        EXPECT_TRUE(waitFor([&] { return statusIs("silent"); }, 8000));
        const std::string status = simCommand("status");
        const std::size_t at = status.find(" sent=");
        return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
    }
    // Every measurement sent between two quiet points arrived, in the ramp's order.
    void expectEveryMeasurement(long sent)
    {
        ASSERT_GT(sent, 0);
        EXPECT_TRUE(waitFor([&] { return static_cast<long>(measurementValues().size()) >= sent; }, 20000));
        const std::vector<int> values = measurementValues();
        EXPECT_EQ(static_cast<long>(values.size()), sent);
        int gaps = 0;
        for (std::size_t i = 1; i < values.size(); ++i)
            gaps += values[i] != (values[i - 1] + 1) % RAMP;
        EXPECT_EQ(gaps, 0) << "measurements out of order or missing";
    }

    static constexpr const char *DEFAULT_PREFIX = "k614/line"; // from the port's name
    std::string brokerConfig, prefix = DEFAULT_PREFIX;
    int brokerPort = 0;
    int ctlBrokerPort = 0; // where publish is sent when not straight to the broker
    pid_t brokerPid = -1, subPid = -1, ctlPid = -1;
};

TEST_F(PublishE2e, TopicsPayloadsAndEveryMeasurementOfTenSecondsInOrder)
{
    startAll(DEFAULT_PREFIX);
    const long before = quietStart();
    ASSERT_EQ(simCommand("resume"), "ok");
    ASSERT_TRUE(waitFor([&] { return statusIs("online"); }, 3000));
    std::this_thread::sleep_for(std::chrono::seconds(5));
    ASSERT_EQ(simCommand("alarm 1"), "ok");
    ASSERT_EQ(simCommand("dvdt"), "ok");
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const long sent = quietStart() - before;
    std::printf("measurements sent in the run: %ld\n", sent);
    expectEveryMeasurement(sent);

    // The ramp trips the limits and its fall is a dV/dt; the two sent by hand come on top.
    const std::string alarm = ",\"event\":\"alarm\",\"code\":", dvdt = ",\"event\":\"dvdt\"}";
    int limit1 = 0, dvdts = 0;
    for (const std::string &e : payloads("event")) {
        const std::string tail = looksLikeTime(e) ? e.substr(34) : e;
        const int code = tail.rfind(alarm, 0) == 0 ? std::atoi(tail.c_str() + alarm.size()) : 0;
        EXPECT_TRUE((code >= 65014 && code <= 65024) || (code >= 65039 && code <= 65049) || tail == dvdt) << e;
        limit1 += code == 65014;
        dvdts += tail == dvdt;
    }
    EXPECT_GE(limit1, 1);
    EXPECT_GE(dvdts, 1);
    const std::vector<std::string> peaks = payloads("peaks");
    ASSERT_FALSE(peaks.empty());
    EXPECT_TRUE(looksLikeTime(peaks.back()));
    EXPECT_NE(peaks.back().find(",\"max\":199,\"min\":0,\"dpdt\":"), std::string::npos) << peaks.back();
    const std::vector<std::string> parameters = payloads("parameters");
    ASSERT_FALSE(parameters.empty());
    EXPECT_EQ(parameters.back().rfind("{\"limit1Mode\": ", 0), 0u) << parameters.back();
    EXPECT_NE(parameters.back().find(", \"unitText\": \"MW\"}"), std::string::npos) << parameters.back();

    // A parameter code on the line that changes the set: the set again.
    ASSERT_EQ(simCommand("resume"), "ok");
    ASSERT_EQ(simCommand("send 3142"), "ok"); // limit1Setpoint 42
    const std::string changed = "\"limit1Setpoint\": 42,";
    EXPECT_TRUE(waitFor([&] { return payloads("parameters").back().find(changed) != std::string::npos; }, 5000));

    kill(ctlPid, SIGTERM);
    EXPECT_EQ(ctlExit(10000), 0);
    EXPECT_TRUE(waitFor([&] { return statusIs("offline"); }, 3000));
}

TEST_F(PublishE2e, BrokerGoneTwentySecondsLosesNoMeasurementAndKeepsTheOrder)
{
    startAll("k614/outage", {"--qos", "1"});
    const long before = quietStart();
    ASSERT_EQ(simCommand("resume"), "ok");
    ASSERT_TRUE(waitFor([&] { return statusIs("online"); }, 3000));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stopProcess(&brokerPid);
    const std::size_t heard = linesOf(fileText(path("sub.out"))).size();
    std::this_thread::sleep_for(std::chrono::seconds(20)); // the outage itself
    startBroker();
    const auto restarted = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitFor([&] { return linesOf(fileText(path("sub.out"))).size() > heard + 900; }, 20000))
        << "the queue drained";
    std::printf("20 s of queue drained in %.2f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - restarted).count());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long sent = quietStart() - before;
    expectEveryMeasurement(sent);
    EXPECT_GT(sent, 23 * 50);
    const std::string err = fileText(path("ctl.err"));
    EXPECT_NE(err.find("retrying, measurements are kept"), std::string::npos) << err;
    EXPECT_NE(err.find("connected again"), std::string::npos) << err;
    EXPECT_EQ(err.find("dropped"), std::string::npos) << err;
}

// A link that stops answering without closing, at the default QoS: given up within seconds, and every
// reading taken meanwhile arrives after the reconnect, in order.
TEST_F(PublishE2e, HalfOpenLinkIsGivenUpAndLosesNoMeasurement)
{
    constexpr int STALL_S = 5; // 20 s measured by hand; the figures are in the notes
    prefix = "k614/halfopen";
    startBroker();
    StallingRelay relay(brokerPort);
    ASSERT_GT(relay.port, 0);
    ctlBrokerPort = relay.port;
    startSimulator();
    startSubscriber();
    startCtl({});
    const long before = quietStart();
    ASSERT_EQ(simCommand("resume"), "ok");
    ASSERT_TRUE(waitFor([&] { return statusIs("online"); }, 3000));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    relay.stall(true);
    const auto stalled = std::chrono::steady_clock::now();
    EXPECT_TRUE(waitFor([&] { return fileText(path("ctl.err")).find("no acknowledgement") != std::string::npos; },
                        STALL_S * 1000));
    std::printf("dead link given up after %.2f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - stalled).count());
    std::this_thread::sleep_until(stalled + std::chrono::seconds(STALL_S));
    relay.stall(false);
    EXPECT_TRUE(waitFor([&] { return fileText(path("ctl.err")).find("connected again") != std::string::npos; },
                        10000));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long sent = quietStart() - before;
    expectEveryMeasurement(sent);
    std::printf("measurements: %ld sent, %ld came twice; %d connections through the relay\n", sent,
                measurementRepeats(), relay.accepted.load());
}

// A listening socket on 127.0.0.1 with room for `backlog` connections, never accepting; its port.
int neverAccepting(int backlog, int *fd)
{
    *fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(*fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(*fd, backlog) != 0 ||
        getsockname(*fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

// Measurements taken and no broker to take them: Ctrl-C, SIGTERM and --duration end publish within the
// drain, whether the broker never answers the CONNECT, its address drops the connection attempts, its port
// is closed or it answers "server unavailable" (retried, not final); the exit says that something was not
// published.
TEST_F(PublishE2e, EveryStopEndsWithinTheDrainWhateverTheBroker)
{
    int silentFd, droppingFd;
    const int silentPort = neverAccepting(16, &silentFd);
    // A queue of one, filled: further attempts get no answer at all.
    const int droppingPort = neverAccepting(0, &droppingFd);
    std::vector<int> fillers;
    for (int i = 0; i < 2; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(droppingPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        (void)connect(fillers.back(), reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    // A broker that answers every CONNECT with "server unavailable" (CONNACK 3): retried, not final.
    int unavailableFd;
    const int unavailablePort = neverAccepting(16, &unavailableFd);
    std::atomic<bool> done{false};
    std::thread unavailable([&] {
        while (!done) {
            pollfd fd = {unavailableFd, POLLIN, 0};
            if (poll(&fd, 1, 20) <= 0)
                continue;
            const int client = accept(unavailableFd, nullptr, nullptr);
            const std::uint8_t connack[] = {0x20, 0x02, 0x00, 0x03};
            char connect[256];
            if (client >= 0 && read(client, connect, sizeof connect) > 0)
                (void)!write(client, connack, sizeof connack);
            if (client >= 0)
                close(client);
        }
    });
    const struct {
        const char *name;
        int port;
        int signal; // 0: --duration
    } cases[] = {{"silent", silentPort, SIGTERM},
                 {"dropping", droppingPort, SIGINT},
                 {"closed", freeLocalPort(), 0},
                 {"unavailable", unavailablePort, SIGTERM}};
    constexpr double STOP_AT_S = 1.5;
    std::vector<pid_t> sims, ctls;
    for (const auto &c : cases) {
        const std::string line = path(c.name);
        sims.push_back(spawnProcess({K614SIM_PATH, "--link", line, "--params", line + ".614", "--exit-with-parent"},
                                    line + ".sim", line + ".sim"));
        struct stat st;
        ASSERT_TRUE(waitFor([&] { return lstat(line.c_str(), &st) == 0; }, 5000));
    }
    const auto start = std::chrono::steady_clock::now();
    for (const auto &c : cases) {
        const std::string line = path(c.name);
        std::vector<std::string> words = {K614CTL_PATH, "publish", line, "--broker",
                                          "127.0.0.1:" + std::to_string(c.port)};
        if (c.signal == 0)
            words.insert(words.end(), {"--duration", "1.5"});
        ctls.push_back(spawnProcess(words, line + ".out", line + ".err"));
    }
    std::this_thread::sleep_until(start + std::chrono::duration<double>(STOP_AT_S));
    for (std::size_t i = 0; i < ctls.size(); ++i)
        if (cases[i].signal)
            kill(ctls[i], cases[i].signal);
    // As promised: within a second of the stop, plus the drain of 5 s.
    constexpr int BOUND_MS = static_cast<int>((STOP_AT_S + 1 + 5) * 1000);
    for (std::size_t i = 0; i < ctls.size(); ++i) {
        const int rc = waitExit(ctls[i], BOUND_MS - static_cast<int>(std::chrono::duration<double, std::milli>(
                                                                           std::chrono::steady_clock::now() - start)
                                                                           .count()));
        const std::string err = fileText(path(cases[i].name) + ".err");
        EXPECT_EQ(rc, EXIT_NOT_PUBLISHED) << cases[i].name << ": " << err;
        EXPECT_NE(err.find("could not be published"), std::string::npos) << err;
        std::printf("%s broker: ended %.2f s after the stop\n", cases[i].name,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() - STOP_AT_S);
    }
    // Whether the kernel completes the handshake for a full listen queue varies: the refusal is then found
    // by the wait for the connection's answer or by the keep-alive; either says the broker did not answer.
    EXPECT_NE(fileText(path("dropping") + ".err").find(": no answer "), std::string::npos)
        << fileText(path("dropping") + ".err");
    EXPECT_NE(fileText(path("unavailable") + ".err").find("broker unavailable.; retrying"), std::string::npos)
        << fileText(path("unavailable") + ".err");
    done = true;
    unavailable.join();
    close(unavailableFd);
    for (pid_t &sim : sims)
        stopProcess(&sim);
    for (int fd : fillers)
        close(fd);
    close(silentFd);
    close(droppingFd);
}

TEST_F(PublishE2e, TlsWithAPasswordFileAndRefusedCredentials)
{
    // Longer than 255 bytes, as a generated token may be: it must reach the broker whole.
    const std::string password = "right horse " + std::string(300, 'x');
    const std::string make = "(cd " + std::string(dir) +
                             " && openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2"
                             " -subj /CN=k614-test-ca"
                             " && openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr"
                             " -subj /CN=127.0.0.1"
                             " && printf 'subjectAltName=IP:127.0.0.1\\n' > san.cnf"
                             " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial"
                             " -out server.pem -days 2 -extfile san.cnf"
                             " && mosquitto_passwd -b -c users k614 '" + password + "'"
                             " && printf '%s\\n' '" + password + "' > password) >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    prefix = "k614/tls";
    startBroker("allow_anonymous false\npassword_file " + path("users") + "\ncafile " + path("ca.pem") +
                "\ncertfile " + path("server.pem") + "\nkeyfile " + path("server.key") + "\n");
    startSimulator();
    startSubscriber({"--cafile", path("ca.pem"), "-u", "k614", "-P", password});
    startCtl({"--tls", path("ca.pem"), "--username", "k614", "--password-file", path("password")});
    EXPECT_TRUE(waitFor([&] { return statusIs("online"); }, 8000));
    EXPECT_TRUE(waitFor([&] { return payloads("measurement").size() > 10; }, 3000));
    kill(ctlPid, SIGINT);
    EXPECT_EQ(ctlExit(10000), 0);

    // The wrong password from the environment: refused at once, no retries, the documented exit.
    ASSERT_EQ(setenv("K614_MQTT_PASSWORD", "wrong", 1), 0);
    const auto start = std::chrono::steady_clock::now();
    startCtl({"--tls", path("ca.pem"), "--username", "k614"});
    unsetenv("K614_MQTT_PASSWORD");
    EXPECT_EQ(ctlExit(10000), 7);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    const std::string err = fileText(path("ctl.err"));
    EXPECT_NE(err.find("refused the connection"), std::string::npos) << err;
    EXPECT_EQ(err.find("wrong"), std::string::npos) << "the password stays out of the messages";

    // A CA that did not sign the broker's certificate: the same exit.
    startCtl({"--tls", path("server.pem"), "--username", "k614", "--password-file", path("password")});
    EXPECT_EQ(ctlExit(10000), 7) << fileText(path("ctl.err"));
    EXPECT_NE(fileText(path("ctl.err")).find("TLS connection"), std::string::npos) << fileText(path("ctl.err"));
}

// The datagrams k614ctl sends to a notify socket of the test's own, with when each came.
class NotifySocket {
public:
    explicit NotifySocket(const std::string &path) : path_(path), fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{AF_UNIX, {}};
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        bound = bind(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~NotifySocket()
    {
        close(fd_);
        unlink(path_.c_str());
    }
    // The messages so far that hold `text` (that start with it: `start`), and when the last of them came.
    int count(const std::string &text, std::chrono::steady_clock::time_point *last = nullptr, bool start = true)
    {
        char buffer[512];
        for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got_.push_back({std::chrono::steady_clock::now(), std::string(buffer, static_cast<std::size_t>(n))});
        int found = 0;
        for (const auto &[at, message] : got_)
            if (start ? message.rfind(text, 0) == 0 : message.find(text) != std::string::npos) {
                ++found;
                if (last)
                    *last = at;
            }
        return found;
    }
    bool has(const std::string &text) { return count(text, nullptr, false) > 0; }
    bool bound = false;

private:
    std::string path_;
    int fd_;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::string>> got_;
};

TEST_F(PublishE2e, UnderAServiceManagerFromItsConfigurationReadyWatchdogStatusAndStopping)
{
    NotifySocket notify(path("notify"));
    ASSERT_TRUE(notify.bound);
    prefix = "k614/service";
    startBroker();
    startSimulator();
    startSubscriber();
    // The file names the line and the broker; the command line's topic wins over the file's.
    ASSERT_TRUE(saveText(path("relay.conf"), "# relay 1\nport = " + link + "\nbroker = 127.0.0.1:" +
                                                 std::to_string(brokerPort) + "\ntopic = k614/file\n"));
    setenv("NOTIFY_SOCKET", path("notify").c_str(), 1);
    setenv("WATCHDOG_USEC", "400000", 1); // a ping every 0.2 s
    setenv("K614CTL_TEST_HOLD_READER", path("hold").c_str(), 1);
    ctlPid = spawnProcess({K614CTL_PATH, "publish", "--config", path("relay.conf"), "--topic", prefix},
                          path("ctl.out"), path("ctl.err"));
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("K614CTL_TEST_HOLD_READER");
    ASSERT_GT(ctlPid, 0);
    EXPECT_TRUE(waitFor([&] { return notify.count("READY=1\nSTATUS=line ") == 1; }, 8000));
    EXPECT_TRUE(waitFor([&] { return statusIs("online"); }, 8000));
    EXPECT_TRUE(waitFor([&] { return notify.has("STATUS=line online, broker connected, "); }, 5000));
    EXPECT_TRUE(waitFor([&] { return notify.count("WATCHDOG=1") >= 3; }, 3000));

    // A silent device: the reader still turns, and says so.
    EXPECT_EQ(simCommand("silent"), "ok");
    EXPECT_TRUE(waitFor([&] { return statusIs("silent"); }, 8000));
    const int beforeSilence = notify.count("WATCHDOG=1");
    EXPECT_TRUE(waitFor([&] { return notify.count("WATCHDOG=1") >= beforeSilence + 3; }, 3000));
    EXPECT_TRUE(waitFor([&] { return notify.has("STATUS=line silent, broker connected, "); }, 5000));

    // The reader held in a call: no ping from anywhere else, though the broker side goes on.
    ASSERT_EQ(mkfifo(path("hold").c_str(), 0600), 0);
    std::chrono::steady_clock::time_point last;
    EXPECT_TRUE(waitFor([&] {
        notify.count("WATCHDOG=1", &last);
        return std::chrono::steady_clock::now() - last > std::chrono::milliseconds(600);
    }, 5000));
    const int held = notify.count("WATCHDOG=1");
    waitFor([] { return false; }, 1000); // the window in which none may come
    EXPECT_EQ(notify.count("WATCHDOG=1"), held);

    // Let go (a writer opens the FIFO), then stop: STOPPING=1 and the clean end.
    const int writer = open(path("hold").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    unlink(path("hold").c_str());
    if (writer >= 0)
        close(writer);
    EXPECT_TRUE(waitFor([&] { return notify.count("WATCHDOG=1") > held; }, 3000));
    kill(ctlPid, SIGTERM);
    EXPECT_EQ(ctlExit(10000), 0);
    EXPECT_EQ(notify.count("STOPPING=1"), 1);
}

TEST_F(PublishE2e, BrokerDownAtTheStartUnplugAndReplugAndAKilledPublishersWill)
{
    prefix = "k614/plug";
    NotifySocket notify(path("notify"));
    ASSERT_TRUE(notify.bound);
    startSimulator();
    setenv("NOTIFY_SOCKET", path("notify").c_str(), 1);
    startCtl({"--every", "10"});
    unsetenv("NOTIFY_SOCKET");
    ASSERT_TRUE(waitFor([&] { return fileText(path("ctl.err")).find("retrying") != std::string::npos; }, 5000));
    // Ready at once, the queue already working, and the status line says why nothing is published yet.
    EXPECT_TRUE(waitFor([&] { return notify.count("READY=1\nSTATUS=line ") == 1; }, 8000));
    EXPECT_TRUE(notify.has("broker not connected, "));
    startBroker();
    startSubscriber();
    ASSERT_TRUE(waitFor([&] { return statusIs("online"); }, 8000));
    ASSERT_TRUE(waitFor([&] { return measurementValues().size() >= 10; }, 5000));
    const std::vector<int> tenths = measurementValues();
    for (std::size_t i = 1; i < tenths.size(); ++i)
        EXPECT_EQ(tenths[i], (tenths[i - 1] + 10) % RAMP) << "every 10th measurement";
    ASSERT_EQ(simCommand("unplug"), "ok");
    EXPECT_TRUE(waitFor([&] { return statusIs("offline"); }, 3000));
    ASSERT_EQ(simCommand("replug").rfind("ok ", 0), 0u);
    EXPECT_TRUE(waitFor([&] { return statusIs("online"); }, 5000));
    const std::size_t measured = payloads("measurement").size();
    EXPECT_TRUE(waitFor([&] { return payloads("measurement").size() > measured + 5; }, 3000));
    kill(ctlPid, SIGKILL);
    EXPECT_EQ(ctlExit(5000), 128 + SIGKILL);
    EXPECT_TRUE(waitFor([&] { return statusIs("offline"); }, 5000)) << "the last will";
}

TEST_F(PublishE2e, PasswordFromTheServiceCredentialsBeforeTheEnvironment)
{
    ASSERT_EQ(std::system(("(cd " + std::string(dir) + " && mosquitto_passwd -b -c users k614 secret" +
                           " && mkdir creds && printf 'secret\\n' > creds/mqtt-password) >/dev/null 2>&1")
                              .c_str()),
              0);
    prefix = "k614/cred";
    startBroker("allow_anonymous false\npassword_file " + path("users") + "\n");
    startSimulator();
    startSubscriber({"-u", "k614", "-P", "secret"});
    setenv("CREDENTIALS_DIRECTORY", path("creds").c_str(), 1);
    setenv("K614_MQTT_PASSWORD", "wrong", 1);
    startCtl({"--username", "k614"});
    unsetenv("CREDENTIALS_DIRECTORY");
    unsetenv("K614_MQTT_PASSWORD");
    EXPECT_TRUE(waitFor([&] { return statusIs("online"); }, 8000));
    kill(ctlPid, SIGINT);
    EXPECT_EQ(ctlExit(10000), 0);
}

TEST_F(PublishE2e, HomeAssistantDiscoveryRetainedAgainOnItsAnnouncementAndRemoved)
{
    prefix = "k614/ha";
    startBroker();
    startSimulator();
    startSubscriber();
    const std::string port = std::to_string(brokerPort);
    // Home Assistant's side: one line per config, its retain flag first.
    auto homeAssistant = [&](const char *out, std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"mosquitto_sub", "-h", "127.0.0.1", "-p", port, "-t", "homeassistant/+/+/config",
                                     "-q", "1", "-F", "%r %t %p"});
        return spawnProcess(extra, path(out), path("ha.err"));
    };
    // Configs that name the device by its unit text ("MW"); with no text, the empty ones.
    const std::string named = "\"device\":{\"identifiers\":[\"k614_ha\"],\"name\":\"MW\",\"model\":\"K614\"";
    auto lines = [&](const char *out, const std::string &text) {
        int n = 0;
        for (const std::string &line : linesOf(fileText(path(out))))
            n += text.empty() ? line.size() > 8 && line.compare(line.size() - 8, 8, "/config ") == 0
                              : line.find(text) != std::string::npos;
        return n;
    };
    pid_t ha = homeAssistant("ha.out", {});
    ASSERT_GT(ha, 0);
    startCtl({"--discovery"});
    // At the connect, and again by the unit text once the device's set has come.
    EXPECT_TRUE(waitFor([&] { return lines("ha.out", named) == 6; }, 8000)) << fileText(path("ha.out"));
    // Kept by the broker: a subscriber that comes later gets each entity's, marked retained.
    EXPECT_EQ(waitExit(homeAssistant("late.out", {"-C", "6"}), 5000), 0);
    std::set<std::string> topics;
    for (const std::string &line : linesOf(fileText(path("late.out")))) {
        EXPECT_EQ(line.rfind("1 homeassistant/", 0), 0u) << line;
        topics.insert(line.substr(2, line.find(' ', 2) - 2));
    }
    const std::string sensor = "homeassistant/sensor/k614_ha_";
    EXPECT_EQ(topics, (std::set<std::string>{sensor + "measurement/config", sensor + "max_peak/config",
                                             sensor + "min_peak/config", sensor + "dpdt_peak/config",
                                             sensor + "link/config", "homeassistant/event/k614_ha_events/config"}));

    // Home Assistant starts again and announces itself: the configs come again.
    EXPECT_EQ(std::system(("mosquitto_pub -h 127.0.0.1 -p " + port + " -t homeassistant/status -m online").c_str()), 0);
    EXPECT_TRUE(waitFor([&] { return lines("ha.out", named) == 12; }, 5000)) << fileText(path("ha.out"));
    kill(ctlPid, SIGINT);
    EXPECT_EQ(ctlExit(10000), 0);

    // Removed: an empty retained config for each entity, from a run that opens no port.
    EXPECT_EQ(waitExit(spawnProcess({K614CTL_PATH, "publish", "--broker", "127.0.0.1:" + port, "--topic", prefix,
                                     "--remove-discovery"},
                                    path("remove.out"), path("remove.err")),
                       10000),
              0)
        << fileText(path("remove.err"));
    EXPECT_TRUE(waitFor([&] { return lines("ha.out", "") == 6; }, 5000)) << fileText(path("ha.out"));
    stopProcess(&ha);
}

} // namespace
