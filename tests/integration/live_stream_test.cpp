// The real path: generated H.264 with azimuth records, served over loopback TCP or played
// from a recording pair, decoded by the FFmpeg decoder library found beside the client.
#include <filesystem>
#include <thread>

#include "message_log.h"
#include "streamgen.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

constexpr int kSide = 128;
// An access unit delimiter: lets the decoder finish the last picture, whose end a byte stream
// does not otherwise mark.
const std::vector<uint8_t> kAccessUnitDelimiter{0, 0, 0, 1, 9, 0xF0};

struct GeneratedStream {
    std::vector<Packet> packets;
    std::vector<float> azimuths;
    std::size_t bytes = 0;
};

// Frame i with the record 0.01 * i - 0.05, but frame 3's 2.0f: 00 00 00 40 in the stream, which
// needs emulation prevention.
GeneratedStream Generate(int frames) {
    streamgen::GeneratorOptions options;
    options.side = kSide;
    options.gop = 10;
    streamgen::StreamGenerator generator(options);
    GeneratedStream stream;
    for (int i = 0; i < frames; ++i) {
        stream.azimuths.push_back(i == 3 ? 2.0f : 0.01f * static_cast<float>(i) - 0.05f);
        stream.packets.push_back(generator.NextFrame(stream.azimuths.back()));
        stream.bytes += stream.packets.back().size();
    }
    return stream;
}

struct LiveStreamTest : ClientTest {
    LiveStreamTest() : ClientTest(nullptr) {}  // the default name, beside the client library
};

// The packets of a recording pair, cut by its sidecar; fails the test when it is not valid.
std::vector<Packet> RecordedPackets(const std::string& raw) {
    std::vector<Packet> packets;
    EXPECT_EQ(CheckRecordingPair(raw, &packets), "");
    return packets;
}

TEST_F(LiveStreamTest, TcpStreamDeliversEveryFrameAzimuthRateAndASegmentThatPlaysBack) {
    const int frames = 45;
    const GeneratedStream stream = Generate(frames);
    const std::string segment = ::testing::TempDir() + "live_segment.bin";
    LoopbackServer server;
    double fpsDuringStream = 0, bpsDuringStream = 0, fpsSent = 0;
    server.Serve([&](LoopbackServer::Socket socket) {
        std::vector<std::vector<uint8_t>> packets = stream.packets;
        packets.push_back(kAccessUnitDelimiter);
        std::chrono::steady_clock::time_point tenth;
        for (std::size_t i = 0; i < packets.size(); ++i) {
            LoopbackServer::SendAll(socket, packets[i].data(), packets[i].size());
            std::this_thread::sleep_for(milliseconds(33));  // about 30 frames per second
            if (i == 5) SaveVideoSegmentRawToDisk(segment.c_str(), 60000);
            if (i == 10) tenth = std::chrono::steady_clock::now();
            if (i == 40) {
                fpsDuringStream = GetStreamStat("cam", "fps");
                bpsDuringStream = GetStreamStat("cam", "bps");
                // What the stream really had: on a busy machine the sleeps overrun.
                fpsSent =
                    30.0 /
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - tenth).count();
            }
        }
    });
    ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    ASSERT_TRUE(WaitForMessage(KESTO_MESSAGE_STATUS, "Tcp video stream connection closed",
                               milliseconds(20000)))
        << Describe();
    server.Join();

    // Order of the session's messages (the host thread's "Stream started" may come anywhere).
    std::vector<std::string> sequence;
    for (const auto& m : Messages()) {
        if (m.text.rfind("DecoderLib Initialized: \n", 0) == 0) sequence.push_back("init");
        if (m.text == "After decoder instantiation") sequence.push_back("after");
        if (m.text == "Tcp video stream connection closed") sequence.push_back("closed");
    }
    EXPECT_EQ(sequence, (std::vector<std::string>{"init", "after", "closed"})) << Describe();
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR) + CountCode(KESTO_MESSAGE_EXCEPTION), 0u)
        << Describe();

    const std::vector<double> azimuths = Azimuths();
    ASSERT_EQ(azimuths.size(), stream.azimuths.size());
    for (std::size_t i = 0; i < azimuths.size(); ++i)
        EXPECT_EQ(azimuths[i], static_cast<double>(stream.azimuths[i])) << i;
    EXPECT_EQ(GetStreamStat("cam", "frames_received"), frames);
    EXPECT_EQ(GetStreamStat("cam", "stream_width"), kSide);
    // Rates over the last second follow the rate the frames were sent at (a little under 30
    // fps, by sleep granularity and load); bytes per second follow the average packet size.
    EXPECT_GT(fpsSent, 10.0);
    EXPECT_NEAR(fpsDuringStream, fpsSent, 4.0);
    const double bytesPerFrame = static_cast<double>(stream.bytes) / frames;
    EXPECT_NEAR(bpsDuringStream / (fpsDuringStream * bytesPerFrame), 1.0, 0.35);
    // Once the stream is silent for a second the rates fall to zero.
    std::this_thread::sleep_for(milliseconds(1100));
    EXPECT_EQ(GetStreamStat("cam", "fps"), 0.0);

    // The segment, ended by the stop, holds the bytes exactly as sent from an IDR picture on
    // (the first after the request): the pictures, then the delimiter.
    ASSERT_EQ(StopServerStream("cam"), KESTO_S_OK);
    Packet recorded, sent = kAccessUnitDelimiter;
    for (const Packet& p : RecordedPackets(segment))
        recorded.insert(recorded.end(), p.begin(), p.end());
    int start = frames;
    while (start > 0 && sent.size() < recorded.size()) {
        --start;
        sent.insert(sent.begin(), stream.packets[start].begin(), stream.packets[start].end());
    }
    EXPECT_EQ(start % 10, 0);
    EXPECT_GE(frames - start, 20);
    EXPECT_TRUE(recorded == sent) << recorded.size() << " bytes recorded";
}

// Every frame's azimuth trace takes the host 20 ms, inside the frame's decoding and delivery.
void SlowAzimuthTrace(int32_t code, const char* text, int64_t timeMs) {
    if (code == KESTO_MESSAGE_INFO && text != nullptr &&
        std::string(text).find("received azimuth") != std::string::npos) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    RecordMessage(code, text, timeMs);
}

// Copies a recording pair (raw "x.bin", sidecar "x_pkt_sizes.bin"); the paths are UTF-8.
void CopyPair(const std::string& from, const std::string& to) {
    for (const std::string suffix : {".bin", "_pkt_sizes.bin"}) {
        const auto path = [&](const std::string& raw) {
            return std::filesystem::u8path(raw.substr(0, raw.size() - 4) + suffix);
        };
        std::filesystem::remove(path(to));  // mingw's copy_file does not overwrite
        std::filesystem::copy_file(path(from), path(to));
    }
}

// Played from and recorded into a folder named outside the ANSI code page (Western: 1252),
// through the UTF-8 companions; the test's own file helpers work on plain names beside it.
TEST_F(LiveStreamTest, RecordingPairPlaysInALoopPacedPerFrame) {
    const GeneratedStream stream = Generate(10);
    const std::string plain = ::testing::TempDir() + "live_stream_test_rec.bin";
    const std::string folder = ::testing::TempDir() + u8"записи_録画";
    std::filesystem::create_directory(std::filesystem::u8path(folder));
    const std::string raw = folder + "/rec.bin", copy = folder + "/copy.bin";
    streamgen::WriteRecording(plain, stream.packets);
    CopyPair(plain, raw);
    SetCallbackFunc(&SlowAzimuthTrace);

    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(StartServerStreamUtf8("rec", ("file://" + raw).c_str()), KESTO_S_OK);
    SaveVideoSegmentRawToDiskUtf8(copy.c_str(), 800);
    // Two and a half passes over a ten-frame recording.
    ASSERT_TRUE(PollUntil([] { return GetStreamStat("rec", "frames_received") >= 25; },
                          milliseconds(20000)))
        << Describe();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The first frame comes after the two-second start delay; then the 30 ms pause comes on
    // top of each frame's decoding and delivery (here at least the host's 20 ms), not around it.
    EXPECT_GE(seconds, 2.0 + 24 * (0.030 + 0.020));
    EXPECT_LE(GetStreamStat("rec", "fps"), 20.5);
    EXPECT_EQ(StopServerStream("rec"), KESTO_S_OK);

    // Every pass hands the decoder the recorded packets: the azimuths repeat in order.
    const std::vector<double> azimuths = Azimuths();
    ASSERT_GE(azimuths.size(), 25u);
    for (std::size_t i = 0; i < 25; ++i)
        EXPECT_EQ(azimuths[i], static_cast<double>(stream.azimuths[i % 10])) << i;
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR) + CountCode(KESTO_MESSAGE_EXCEPTION), 0u)
        << Describe();

    // A segment recorded during playback keeps the recorded packet boundaries.
    CopyPair(copy, plain);
    const auto packets = RecordedPackets(plain);
    ASSERT_GE(packets.size(), 12u);  // 800 ms at one frame per 50 ms and more
    for (std::size_t i = 0; i < packets.size(); ++i)
        EXPECT_EQ(packets[i], stream.packets[i % 10]) << i;
}

}  // namespace
}  // namespace kesto::test
