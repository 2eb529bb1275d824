#include "test_decoder_control.h"

#include <stdexcept>

namespace kesto::test {

namespace {
template <typename Fn>
void Resolve(const LoadedLibrary& library, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(library.Symbol(name));
    if (target == nullptr) throw std::runtime_error(std::string("test decoder lacks ") + name);
}
}  // namespace

TestDecoderControl::TestDecoderControl(const std::string& path) : library(path) {
    if (!library.Loaded()) {
        throw std::runtime_error("cannot load test decoder " + path + ": " + library.Error());
    }
    Resolve(library, "TestDecoderFailInit", failInit);
    Resolve(library, "TestDecoderQueueSei", queueSei);
    Resolve(library, "TestDecoderQueueFrame", queueFrame);
    Resolve(library, "TestDecoderQueueFrameBytes", queueFrameBytes);
    Resolve(library, "TestDecoderLog", log);
    Resolve(library, "TestDecoderCounts", counts);
}

void TestDecoderControl::FailInit(const char* errorText) const {
    failInit(errorText);
}
void TestDecoderControl::QueueSei(const uint8_t* data, int size) const {
    queueSei(data, size);
}
void TestDecoderControl::QueueFrame(int size, uint8_t fill) const {
    queueFrame(size, fill);
}
void TestDecoderControl::QueueFrame(const std::vector<uint8_t>& bytes) const {
    queueFrameBytes(bytes.data(), static_cast<int>(bytes.size()));
}
void TestDecoderControl::Log(int level, const char* text) const {
    log(level, text);
}

TestDecoderCountsResult TestDecoderControl::Counts() const {
    TestDecoderCountsResult result{};
    counts(&result);
    return result;
}

}  // namespace kesto::test
