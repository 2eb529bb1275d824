// Shared by the reliability and soak tests: generated packets, the check that a recording
// pair left on disk is whole, and a host callback that notices calls after a stop returned.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "loopback_server.h"

namespace kesto::test {

using Packet = std::vector<uint8_t>;

// `count` access units of a small generated stream (IDR with SPS/PPS every `gop` frames),
// each with its azimuth record.
std::vector<Packet> GeneratePackets(int count, int side = 32, int gop = 4);

// Serves `packets` round and round, one every `period`, until the server stops.
void ServeLoop(LoopbackServer& server, const std::vector<Packet>& packets,
               std::chrono::milliseconds period);

// Empty when `raw` and its sidecar form a valid pair or are both absent; otherwise why not.
// Valid: the sidecar holds whole records, they add up to the raw file's size, and a non-empty
// raw file begins with 00 00 00 01 and a sequence parameter set. `rawSize` gets the size.
std::string CheckRecordingPair(const std::string& raw, std::size_t* rawSize = nullptr);

// Polls `done` every few milliseconds until it holds, at most `timeout`: for conditions
// (statistics, files) that no message announces.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Installs callbacks that record like InstallRecordingCallbacks and count every call made
// while MarkStopped is in force.
void InstallGuardedCallbacks();
void MarkStopped(bool stopped);
int LateCallbacks();

}  // namespace kesto::test
