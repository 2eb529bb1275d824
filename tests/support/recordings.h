// Generated streams and recording pairs as the tests make and check them; the waits for
// conditions no message announces. Free of the client library: the plain host builds it too.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kesto::test {

using Packet = std::vector<uint8_t>;

// `count` access units of a generated stream (IDR with SPS/PPS every `gop` frames), frame i
// with the azimuth record 0.01 * i.
std::vector<Packet> GeneratePackets(int count, int side = 64, int gop = 4);

// Empty when `raw` and its sidecar form a valid pair or are both absent; otherwise why not.
// Valid: the sidecar holds whole records, they tile the raw file exactly, and a non-empty raw
// file begins with 00 00 00 01 and a sequence parameter set. `packets` gets the raw file cut
// by the records.
std::string CheckRecordingPair(const std::string& raw, std::vector<Packet>* packets = nullptr);
std::string Sidecar(const std::string& raw);
void RemovePair(const std::string& raw);

// Polls `done` every few milliseconds until it holds, at most `timeout`.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

}  // namespace kesto::test
