// The stream worker and the host's thread on the display at once; run under the tsan preset
// (OpenMP limited to one thread there, since TSan does not see libgomp's synchronisation).
#include <atomic>
#include <filesystem>
#include <thread>

#include "display/display_manager.h"
#include "display_fixture.h"
#include "kesto/video_client.h"
#include "message_log.h"

namespace kesto::test {
namespace {

using DisplayThreads = DisplayTest;

TEST_F(DisplayThreads, FramesArriveWhileTheHostDrawsAndChangesSettings) {
    SetSize(64, 64);
    Surface();
    const auto small = MakeFrame(24, [](unsigned row, unsigned) { return row * 0x010203u; });
    const auto large = MakeFrame(40, [](unsigned, unsigned column) { return column * 0x030201u; });
    Sink();  // made here: the sink's start-up is not what this test is about

    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 200; ++i) Deliver(i % 50 < 25 ? small : large, 0.01 * i);
        done = true;
    });
    const std::string snapshot =
        (std::filesystem::temp_directory_path() / "kesto_threads_snapshot.bmp").string();
    for (int i = 0; !done; ++i) {
        EXPECT_EQ(Render(), KESTO_S_OK);
        SetRotationOffset(0.001 * i);
        SetCurrentZoomFactor(1.0 + (i % 10) * 0.1);
        SetSize(64 + i % 2 * 16, 64);
        SetAdapter(KestoPoint{10, 10});
        if (i % 20 == 0) SaveVideoFrameRawToDisk(snapshot.c_str());
        IDirect3DSurface9* surface = nullptr;
        EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
    }
    worker.join();
    std::filesystem::remove(snapshot);
    EXPECT_EQ(CountCode(KESTO_MESSAGE_FRAME_READY), 200u);
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 0u) << Describe();
}

// DestroyD3D while frames are being delivered: a frame in delivery keeps the old display
// state alive and finishes before the Direct3D objects go; later frames make a new state.
TEST_F(DisplayThreads, DestroyD3DWhileFramesArrive) {
    const auto frame = MakeFrame(16, [](unsigned, unsigned) { return kRed; });
    Sink();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) Deliver(frame, 0.0);
        done = true;
    });
    while (!done) {
        SetSize(64, 64);
        Surface();
        EXPECT_EQ(Render(), KESTO_S_OK);
        DestroyD3D();
    }
    worker.join();
}

}  // namespace
}  // namespace kesto::test
