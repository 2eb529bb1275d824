#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/display_manager.h"

namespace kesto {
namespace {

class RecordingRenderer : public CRenderer {
  public:
    HRESULT Render() override { return S_OK; }
    HRESULT ResizeTexture(unsigned width, unsigned height) override {
        calls.push_back("resize " + std::to_string(width) + "x" + std::to_string(height));
        return 0;
    }
    void SaveSnapshot(std::string path) override { calls.push_back("snapshot " + path); }
    void UploadFrame(const uint8_t* pixels, unsigned side, double azimuth) override {
        calls.push_back("upload " + std::to_string(side) + " " + std::to_string(pixels[0]) + " " +
                        std::to_string(azimuth));
    }
    std::vector<std::string> calls;
};

const uint8_t kPixel[4] = {7, 0, 0, 0};

TEST(DeliverFrame, AppliesChangesToEveryRendererAndTheSnapshotOnlyToTheActiveOne) {
    CDisplayManager display;
    display.adapterCount = 2;
    display.adapterRenderers = std::make_unique<std::unique_ptr<CRenderer>[]>(2);
    RecordingRenderer* renderers[2];
    for (unsigned i = 0; i < 2; ++i) {
        display.adapterRenderers[i] = std::make_unique<RecordingRenderer>();
        renderers[i] = static_cast<RecordingRenderer*>(display.adapterRenderers[i].get());
    }
    display.activeRenderer = renderers[0];
    display.frameWidth = display.frameHeight = 300;  // two size changes: one resize, the latest
    display.rotationOffset = 0.25;
    display.zoomFactor = 2.0;
    display.snapshotPath = "shot.png";
    display.pendingChanges =
        FrameSizeChanged | RotationOffsetChanged | ZoomFactorChanged | SnapshotRequested;

    display.DeliverFrame(kPixel, 1, 0.5);

    EXPECT_EQ(renderers[0]->calls, (std::vector<std::string>{"resize 300x300", "snapshot shot.png",
                                                             "upload 1 7 0.500000"}));
    EXPECT_EQ(renderers[1]->calls, (std::vector<std::string>{"resize 300x300"}));
    for (auto* renderer : renderers) {
        EXPECT_EQ(renderer->rotationOffset.load(), 0.25);
        EXPECT_EQ(renderer->zoomFactor.load(), 2.0);
    }

    display.DeliverFrame(kPixel, 1, 0.75);  // nothing pending: just the upload
    EXPECT_EQ(renderers[0]->calls.size(), 4u);
    EXPECT_EQ(renderers[1]->calls.size(), 1u);
}

}  // namespace
}  // namespace kesto
