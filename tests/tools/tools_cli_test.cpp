// The simulator and the viewer as commands, the way the demo runs them: child processes, the
// simulator on an ephemeral port it announces on stdout, the viewer headless against it.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#include <stb/stb_image.h>

#include "loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A child process with its stdout and stderr on one pipe.
class Child {
  public:
    // `environment`: NAME=VALUE settings added to the child's environment.
    explicit Child(std::vector<std::string> args, std::vector<std::string> environment = {}) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(fds[1], 1);
            dup2(fds[1], 2);
            for (auto& setting : environment) putenv(setting.data());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    ~Child() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            Wait(milliseconds(5000));
        }
        if (out_ >= 0) close(out_);
    }

    // Reads output until `pattern` matches a line or the time runs out; the match's first
    // group (or the whole line) is returned, empty when none came.
    std::string WaitForLine(const std::regex& pattern, milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            std::size_t newline;
            while ((newline = pending_.find('\n')) != std::string::npos) {
                const std::string line = pending_.substr(0, newline);
                pending_.erase(0, newline + 1);
                std::smatch match;
                if (std::regex_search(line, match, pattern)) {
                    return match.size() > 1 ? match[1].str() : line;
                }
            }
            if (!ReadSome(50)) break;
        }
        return "";
    }

    // Waits for the exit; the exit code, or -1 on time-out or a signal.
    int Wait(milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (status_ < 0 && Clock::now() < deadline) {
            ReadSome(20);
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
        }
        while (ReadSome(0)) {
        }
        return status_ < 0 ? -1 : status_;
    }

    void Signal(int signal) { kill(pid_, signal); }
    const std::string& Output() const { return output_; }

  private:
    bool ReadSome(int timeoutMs) {
        if (out_ < 0) return false;
        pollfd readable{out_, POLLIN, 0};
        if (poll(&readable, 1, timeoutMs) <= 0) return status_ < 0 && timeoutMs > 0;
        char buffer[4096];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        output_.append(buffer, static_cast<std::size_t>(n));
        pending_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    std::string output_;
    std::string pending_;
};

const std::regex kListening("^listening on 127\\.0\\.0\\.1:([0-9]+)$");

// Colour at (row, column) of an image file read with stb_image, within 24 of `expected`;
// `side` gets the image's width (0 when it cannot be read, or is not square).
void ExpectColour(const std::string& path, int row, int column, std::vector<int> expected,
                  int* side = nullptr) {
    int width = 0, height = 0, channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &width, &height, &channels, 3);
    ASSERT_NE(data, nullptr) << path;
    const unsigned char* p = data + (static_cast<std::size_t>(row) * width + column) * 3;
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(p[k], expected[k], 24) << path << " " << row << "," << column;
    stbi_image_free(data);
    if (side != nullptr) *side = width == height ? width : 0;
}

TEST(CamsimCommand, HelpBadArgumentsEphemeralPortAndEnding) {
    Child help({CAMSIM_PATH, "--help"});
    EXPECT_EQ(help.Wait(milliseconds(5000)), 0);
    EXPECT_NE(help.Output().find("--stall-after"), std::string::npos) << help.Output();

    // The shared option parsing is tested with kesto-streamgen; these are the simulator's own.
    const struct {
        std::vector<std::string> args;
        int code;
    } bad[] = {{{CAMSIM_PATH, "--side=15"}, 2},
               {{CAMSIM_PATH, "--port=70000"}, 2},
               {{CAMSIM_PATH, "--replay", "/nonexistent/recording.h264", "--port", "0"}, 1}};
    for (const auto& c : bad) {
        Child child(c.args);
        EXPECT_EQ(child.Wait(milliseconds(5000)), c.code) << c.args[1];
        EXPECT_NE(child.Output().find("kesto-camsim: "), std::string::npos) << child.Output();
    }

    // --seconds ends it by itself; the port line comes first and is flushed at once.
    Child timed({CAMSIM_PATH, "--port", "0", "--seconds", "1", "--quiet"});
    EXPECT_NE(timed.WaitForLine(kListening, milliseconds(5000)), "") << timed.Output();
    const auto start = Clock::now();
    EXPECT_EQ(timed.Wait(milliseconds(5000)), 0) << timed.Output();
    EXPECT_LT(Clock::now() - start, milliseconds(2500));

    // SIGTERM and SIGINT end it cleanly and promptly, also with a client connected and stalled.
    for (int signal : {SIGTERM, SIGINT}) {
        Child server({CAMSIM_PATH, "--port", "0", "--stall-after", "100", "--side", "64"});
        const std::string port = server.WaitForLine(kListening, milliseconds(5000));
        ASSERT_NE(port, "") << server.Output();
        const int client = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_NE(server.WaitForLine(std::regex("stalled after 100 bytes"), milliseconds(5000)), "")
            << server.Output();
        server.Signal(signal);
        EXPECT_EQ(server.Wait(milliseconds(2000)), 0) << server.Output();
        close(client);
    }
}

// The demo, headless: the simulator's pattern reaches the snapshot and the drawn surface.
// The picture on display is the frame transposed (frame row r, column c at image row c,
// column r), so the frame's top-right green lands bottom-left and its bottom-left blue
// top-right; red and white stay on the diagonal.
TEST(Demo, HeadlessViewerShowsTheSimulatorsPatternTransposed) {
    Child server({CAMSIM_PATH, "--port", "0", "--side", "256", "--azimuth-rate", "0",
                  "--max-connections", "1", "--quiet"});
    const std::string port = server.WaitForLine(kListening, milliseconds(5000));
    ASSERT_NE(port, "") << server.Output();

    const std::string out = ::testing::TempDir() + "kesto_demo";
    std::system(("rm -rf '" + out + "' && mkdir -p '" + out + "'").c_str());
    Child viewer({VIEWER_PATH, "--headless", "--seconds", "4", "--size", "256", "--out-dir", out,
                  "tcp://127.0.0.1:" + port});
    ASSERT_EQ(viewer.Wait(milliseconds(30000)), 0) << viewer.Output();
    const std::string& log = viewer.Output();
    EXPECT_NE(log.find("STATUS   (2) Stream started"), std::string::npos) << log;
    EXPECT_NE(log.find("[4s] frames "), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    std::smatch frames;
    ASSERT_TRUE(std::regex_search(log, frames, std::regex("\\[4s\\] frames ([0-9]+)"))) << log;
    EXPECT_GT(std::stoi(frames[1].str()), 30) << log;

    for (const std::string name : {"snapshot.png", "surface.png"}) {
        const std::string path = out + "/" + name;
        int side = 0;
        ExpectColour(path, 64, 64, {255, 0, 0}, &side);  // frame top-left: red
        EXPECT_EQ(side, 256) << path;
        ExpectColour(path, 192, 64, {0, 255, 0});       // frame top-right: green, now bottom-left
        ExpectColour(path, 64, 192, {0, 0, 255});       // frame bottom-left: blue, now top-right
        ExpectColour(path, 192, 192, {255, 255, 255});  // frame bottom-right: white
    }
    // The viewer was its one connection: the simulator ends by itself.
    EXPECT_EQ(server.Wait(milliseconds(5000)), 0) << server.Output();
}

}  // namespace
