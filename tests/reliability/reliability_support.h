// Shared by the reliability and soak tests (which include only this for the client, its
// messages, the loopback server and the standard headers they all use): the fixture,
// generated packets, the check that a recording pair left on disk is whole, a host callback
// that notices calls after a stop returned, and the few socket calls that differ between
// POSIX and Winsock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "message_log.h"

namespace kesto::test {

using Packet = std::vector<uint8_t>;
using Socket = LoopbackServer::Socket;

// `count` access units of a small generated stream (IDR with SPS/PPS every `gop` frames),
// each with its azimuth record.
std::vector<Packet> GeneratePackets(int count, int side = 64, int gop = 4);

// Serves `packets` round and round, one every `period`, until the server stops.
void ServeLoop(LoopbackServer& server, const std::vector<Packet>& packets,
               std::chrono::milliseconds period);

// Empty when `raw` and its sidecar form a valid pair or are both absent; otherwise why not.
// Valid: the sidecar holds whole records, they add up to the raw file's size, and a non-empty
// raw file begins with 00 00 00 01 and a sequence parameter set. `rawSize` gets the size.
std::string CheckRecordingPair(const std::string& raw, std::size_t* rawSize = nullptr);
std::string Sidecar(const std::string& raw);
void RemovePair(const std::string& raw);

// Polls `done` every few milliseconds until it holds, at most `timeout`: for conditions
// (statistics, files) that no message announces.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
// Polls until the stream's byte rate is above zero.
bool Receiving(const char* stream);

// Every reliability test: the decoder setting pointed at `decoder` (null: the FFmpeg one),
// callbacks that record and count calls made while MarkStopped is in force, and the client
// destroyed at the end.
class ReliabilityTest : public ::testing::Test {
  protected:
    explicit ReliabilityTest(const char* decoder = TEST_DECODER_PATH) : decoderPath(decoder) {}
    void SetUp() override;
    void TearDown() override;
    static void MarkStopped(bool stopped);
    static int LateCallbacks();

  private:
    const char* decoderPath;
};

// True in a Windows program running under Wine.
bool UnderWine();

// -- sockets: what Winsock and POSIX spell differently

void SetNoDelay(Socket socket);
// SO_LINGER on with a time of 0: closing the socket resets the connection.
void ResetOnClose(Socket socket);
// The number the client reports for a connection reset by the peer.
int ConnectionResetError();
// Connects to 127.0.0.1:port and closes at once: ends a server's wait to accept.
void ConnectAndClose(uint16_t port);

// A loopback listener with a queue of one that is already full: a further connect's SYN is
// dropped (by Linux, and so under Wine), so the connect waits until someone ends it.
class FullListener {
  public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    std::string Uri() const { return server.Uri(); }

  private:
    LoopbackServer server{0};
    std::vector<Socket> fillers;
};

}  // namespace kesto::test
