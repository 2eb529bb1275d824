// The demo, headless, the way scripts/demo runs it: the simulator as a child process on an
// ephemeral port it announces on stdout, the viewer headless against it. (The simulator's
// command line alone: tests/tools/CMakeLists.txt.)
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "pictures.h"

namespace {

// Colour at (row, column) of a 256 x 256 image file, within 24 of `expected`.
void ExpectColour(const std::string& path, int row, int column, std::vector<int> expected) {
    const kesto::test::Image image = kesto::test::ReadImageFile(path);
    ASSERT_EQ(image.width * image.height, 256 * 256) << path;
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(image.At(row, column)[k], expected[k], 24)
            << path << " " << row << "," << column;
}

// The picture on display is the frame transposed (frame row r, column c at image row c,
// column r), so the frame's top-right green lands bottom-left and its bottom-left blue
// top-right; red and white stay on the diagonal.
TEST(Demo, HeadlessViewerShowsTheSimulatorsPatternTransposed) {
    // exec: pclose then waits for the simulator itself, which ends after its one connection.
    FILE* server = popen("exec " CAMSIM_PATH
                         " --port 0 --side 256 --azimuth-rate 0 --max-connections 1 --quiet",
                         "r");
    ASSERT_NE(server, nullptr);
    char line[128] = {};
    std::cmatch port;
    ASSERT_NE(std::fgets(line, sizeof line, server), nullptr);
    ASSERT_TRUE(
        std::regex_search(line, port, std::regex("^listening on 127\\.0\\.0\\.1:([0-9]+)\n")))
        << line;

    const std::string out = ::testing::TempDir() + "kesto_demo";
    const std::string command =
        "rm -rf '" + out + "' && mkdir -p '" + out +
        "' && " VIEWER_PATH " --headless --seconds 4 --size 256 --out-dir '" + out +
        "' tcp://127.0.0.1:" + port[1].str() + " > '" + out + "/log' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::ifstream logFile(out + "/log");
    const std::string log{std::istreambuf_iterator<char>(logFile),
                          std::istreambuf_iterator<char>()};
    EXPECT_NE(log.find("STATUS   (2) Stream started"), std::string::npos) << log;
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    std::smatch frames;
    ASSERT_TRUE(std::regex_search(log, frames, std::regex("\\[4s\\] frames ([0-9]+)"))) << log;
    EXPECT_GT(std::stoi(frames[1].str()), 30) << log;

    for (const std::string name : {"snapshot.png", "surface.png"}) {
        const std::string path = out + "/" + name;
        ExpectColour(path, 64, 64, {255, 0, 0});        // frame top-left: red
        ExpectColour(path, 192, 64, {0, 255, 0});       // frame top-right: green, now bottom-left
        ExpectColour(path, 64, 192, {0, 0, 255});       // frame bottom-left: blue, now top-right
        ExpectColour(path, 192, 192, {255, 255, 255});  // frame bottom-right: white
    }
    EXPECT_EQ(pclose(server), 0);
}

}  // namespace
