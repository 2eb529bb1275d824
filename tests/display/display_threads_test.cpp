// The stream worker and the host's thread on the display at once; run under the tsan preset
// (OpenMP limited to one thread there, since TSan does not see libgomp's synchronisation).
#include <atomic>
#include <filesystem>
#include <thread>

#include "display_fixture.h"
#include "kesto/video_client.h"
#include "message_log.h"

namespace kesto::test {
namespace {

using DisplayThreads = DisplayTest;

// In the second round the host also ends the display after every call: a frame in delivery
// keeps the old display state alive and finishes before the Direct3D objects go; later frames
// make a new state.
TEST_F(DisplayThreads, FramesArriveWhileTheHostDrawsChangesSettingsAndEndsTheDisplay) {
    const auto small = MakeFrame(24, [](unsigned row, unsigned) { return row * 0x010203u; });
    const auto large = MakeFrame(40, [](unsigned, unsigned column) { return column * 0x030201u; });
    Sink();  // made here: the sink's start-up is not what this test is about
    const std::string snapshot =
        (std::filesystem::temp_directory_path() / "kesto_threads_snapshot.bmp").string();
    for (const bool destroy : {false, true}) {
        SetSize(64, 64);
        Surface();
        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (int i = 0; i < 200; ++i) Deliver(i % 50 < 25 ? small : large, 0.01f * i);
            done = true;
        });
        for (int i = 0; !done; ++i) {
            EXPECT_EQ(Render(), KESTO_S_OK);
            SetRotationOffset(0.001 * i);
            SetCurrentZoomFactor(1.0 + (i % 10) * 0.1);
            SetSize(64 + i % 2 * 16, 64);
            SetAdapter(KestoPoint{10, 10});
            if (i % 20 == 0 && !destroy) SaveVideoFrameRawToDisk(snapshot.c_str());
            Surface();
            if (destroy) DestroyD3D();
        }
        worker.join();
        EXPECT_EQ(CountCode(KESTO_MESSAGE_FRAME_READY),
                  destroy ? CountCode(KESTO_MESSAGE_FRAME_READY) : 200u);
    }
    std::filesystem::remove(snapshot);
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 0u) << Describe();
}

}  // namespace
}  // namespace kesto::test
