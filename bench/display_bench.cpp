// The display and recording hot paths, called in-process (the library's objects are linked
// in): DeliverFrame with the texture upload, the software Direct3D's Render, the snapshot's
// pixel conversion and its PNG and BMP files (and how long Render waits meanwhile), and the
// segment recorder, each against the plain operation that bounds it.
//
//   kesto_display_bench [--dir DIR] [--quick]
#include <kesto/video_client.h>
#include <omp.h>
#include <png.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "display/display_manager.h"
#include "display/snapshot.h"
#include "record/segment_recorder.h"
#include "streamgen.h"

namespace kb = kesto::bench;

namespace {

constexpr unsigned kSide = 1024;
constexpr std::size_t kFrameBytes = std::size_t{kSide} * kSide * 4;

// The test picture as the decoder hands it out (BGRX), with a little sensor-like noise so
// that the PNG encoders meet something closer to a camera picture than flat colour.
std::vector<uint8_t> TestFrame() {
    std::vector<uint8_t> rgb(std::size_t{kSide} * kSide * 3);
    kesto::streamgen::RenderTestPicture(kSide, 7, rgb.data());
    std::vector<uint8_t> bgrx(kFrameBytes);
    std::mt19937 random(7);
    for (std::size_t p = 0; p < std::size_t{kSide} * kSide; ++p) {
        for (int c = 0; c < 3; ++c) {
            const int noisy = rgb[p * 3 + static_cast<std::size_t>(c)] +
                              static_cast<int>(random() % 9) - 4;
            bgrx[p * 4 + 2 - static_cast<std::size_t>(c)] =
                static_cast<uint8_t>(noisy < 0 ? 0 : (noisy > 255 ? 255 : noisy));
        }
        bgrx[p * 4 + 3] = 0xFF;
    }
    return bgrx;
}

// libpng at its default settings (zlib level 6, adaptive filters), rows bottom-up as the
// snapshot's stb writer is told to write them.
bool WritePngWithLibpng(const std::string& path, const uint8_t* rgba, int width, int height) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int row = height - 1; row >= 0; --row) {
        png_write_row(png, rgba + static_cast<std::size_t>(row) * static_cast<std::size_t>(width) * 4);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

double TimeOnce(const std::function<void()>& f) {
    const kb::Clock::time_point start = kb::Clock::now();
    f();
    return kb::Seconds(kb::Clock::now() - start);
}

std::vector<double> TimeRepeated(const std::function<void()>& f, int repetitions) {
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) times.push_back(TimeOnce(f));
    return times;
}

std::string Ms(double seconds) {
    return kb::FormatTime(seconds);
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = ".";
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) dir = argv[++i];
        if (arg == "--quick") quick = true;
    }
    const double budget = quick ? 0.6 : 1.5;

    const std::vector<uint8_t> frame = TestFrame();
    std::vector<uint8_t> target(kFrameBytes);
    std::vector<uint8_t> image(kFrameBytes);
    const auto memcpyFrame = [&] {
        std::memcpy(target.data(), frame.data(), kFrameBytes);
        asm volatile("" : : "r"(target.data()) : "memory");
    };

    IDirect3DSurface9* surface = nullptr;
    if (GetBackBufferNoRef(&surface) != 0 || surface == nullptr) {
        std::fprintf(stderr, "no display surface\n");
        return 1;
    }
    const std::shared_ptr<kesto::CDisplayManager> display = kesto::GetDisplayManager();
    display->DeliverFrame(frame.data(), kSide, 0.0);

    // DeliverFrame + upload.
    const kb::Paired deliver = kb::PairedRatio(
        [&] { display->DeliverFrame(frame.data(), kSide, 0.25); }, memcpyFrame, budget);
    kb::PrintRow("DeliverFrame + upload 1024^2: " + Ms(deliver.a), "memcpy 4 MiB " + Ms(deliver.b),
                 deliver.ratio, "<= 1.3", kb::Verdict(deliver.ratio <= 1.3));

    // Software Render of the 1024 x 1024 target.
    const kb::Paired render = kb::PairedRatio([] { Render(); }, memcpyFrame, budget);
    kb::PrintRow("software Render 1024^2: " + Ms(render.a), "memcpy 4 MiB " + Ms(render.b),
                 render.ratio, "<= 4", kb::Verdict(render.ratio <= 4.0));

    // Snapshot pixel conversion (OpenMP team as the library sets it up).
    const kb::Paired convert = kb::PairedRatio(
        [&] {
            kesto::ConvertTextureToImage(frame.data(), kSide * 4, kSide, kSide, image.data());
            asm volatile("" : : "r"(image.data()) : "memory");
        },
        memcpyFrame, budget);
    kb::PrintRow("snapshot conversion 1024^2 (OpenMP): " + Ms(convert.a),
                 "memcpy 4 MiB " + Ms(convert.b), convert.ratio, "<= 3",
                 kb::Verdict(convert.ratio <= 3.0));
    // The same loop with a team of one, to tell the loop's cost from the team's.
    const int team = omp_get_max_threads();
    const kb::Paired convertAlone = kb::PairedRatio(
        [&] {
            omp_set_num_threads(1);
            kesto::ConvertTextureToImage(frame.data(), kSide * 4, kSide, kSide, image.data());
            omp_set_num_threads(team);
            asm volatile("" : : "r"(image.data()) : "memory");
        },
        memcpyFrame, budget);
    kb::PrintRow("  the same conversion on 1 thread: " + Ms(convertAlone.a),
                 "memcpy 4 MiB " + Ms(convertAlone.b), convertAlone.ratio, "report", "report");

    // Snapshot files, and libpng on the same picture.
    const int fileRuns = quick ? 3 : 5;
    const std::string png = dir + "/bench_snapshot.png";
    const std::string bmp = dir + "/bench_snapshot.bmp";
    const std::string libpng = dir + "/bench_libpng.png";
    kesto::ConvertTextureToImage(frame.data(), kSide * 4, kSide, kSide, image.data());
    std::vector<double> pngTimes, libpngTimes;
    for (int r = 0; r < fileRuns; ++r) {
        pngTimes.push_back(TimeOnce([&] { kesto::WriteSnapshot(frame.data(), kSide * 4, kSide, kSide, png); }));
        libpngTimes.push_back(TimeOnce([&] { WritePngWithLibpng(libpng, image.data(), kSide, kSide); }));
    }
    const std::vector<double> bmpTimes = TimeRepeated(
        [&] { kesto::WriteSnapshot(frame.data(), kSide * 4, kSide, kSide, bmp); }, fileRuns);
    const double pngTime = kb::Median(pngTimes);
    const double libpngTime = kb::Median(libpngTimes);
    std::FILE* f1 = std::fopen(png.c_str(), "rb");
    std::FILE* f2 = std::fopen(libpng.c_str(), "rb");
    long pngSize = 0, libpngSize = 0;
    if (f1 != nullptr) { std::fseek(f1, 0, SEEK_END); pngSize = std::ftell(f1); std::fclose(f1); }
    if (f2 != nullptr) { std::fseek(f2, 0, SEEK_END); libpngSize = std::ftell(f2); std::fclose(f2); }
    kb::PrintRow("snapshot PNG 1024^2 (stb defaults): " + Ms(pngTime) + ", " +
                     std::to_string(pngSize / 1024) + " KiB",
                 "libpng defaults " + Ms(libpngTime) + ", " + std::to_string(libpngSize / 1024) +
                     " KiB",
                 pngTime / libpngTime, "report", "report");
    kb::PrintRow("snapshot BMP 1024^2: " + Ms(kb::Median(bmpTimes)), "libpng defaults " + Ms(libpngTime),
                 kb::Median(bmpTimes) / libpngTime, "report", "report");

    // How long the host's Render waits on the display lock while a frame brings a snapshot.
    for (const std::string& path : {png, bmp}) {
        std::vector<double> waits;
        for (int r = 0; r < fileRuns; ++r) {
            std::atomic<bool> done{false};
            std::atomic<bool> started{false};
            double longest = 0;
            std::thread host([&] {
                while (!done.load()) {
                    const double t = TimeOnce([] { Render(); });
                    started = true;
                    if (t > longest) longest = t;
                }
            });
            while (!started.load()) std::this_thread::yield();
            display->RequestSnapshot(path);
            display->DeliverFrame(frame.data(), kSide, 0.5);
            done = true;
            host.join();
            waits.push_back(longest);
        }
        kb::PrintRow("longest Render wait during a " + std::string(path == png ? "PNG" : "BMP") +
                         " snapshot: " + Ms(kb::Median(waits)),
                     "Render alone " + Ms(render.a), kb::Median(waits) / render.a, "report",
                     "report");
    }
    std::remove(png.c_str());
    std::remove(bmp.c_str());
    std::remove(libpng.c_str());

    // The segment recorder, per packet, over the 1024 x 1024 bench stream's packets.
    const std::vector<kb::Bytes> packets = kb::BenchStream(dir, static_cast<int>(kSide), 60);
    std::vector<uint8_t> decoderInput(512 * 1024);
    // What the worker does with every packet anyway, at the least: the decoder copies it into
    // its padded input buffer.
    const auto consume = [&](const kb::Bytes& p) {
        std::memcpy(decoderInput.data(), p.data(), p.size());
        asm volatile("" : : "r"(decoderInput.data()) : "memory");
    };
    {
        kesto::SegmentRecorder recorder(kesto::kMaxSegmentBytes);
        const double perBlock = static_cast<double>(packets.size());
        const kb::Paired idle = kb::PairedRatio(
            [&] {
                for (const kb::Bytes& p : packets) {
                    recorder.RecordPacket(p.data(), static_cast<int>(p.size()));
                    consume(p);
                }
            },
            [&] {
                for (const kb::Bytes& p : packets) consume(p);
            },
            budget);
        kb::PrintRow("recorder idle, per packet: " + Ms(idle.a / perBlock),
                     "bare packet loop " + Ms(idle.b / perBlock), idle.ratio, "<= 1.01",
                     kb::Verdict(idle.ratio <= 1.01));
    }
    {
        const std::string raw = dir + "/bench_segment.h264";
        const std::string sizes = dir + "/bench_segment_pkt_sizes.bin";
        const std::string rawF = dir + "/bench_fwrite.h264";
        const std::string sizesF = dir + "/bench_fwrite_pkt_sizes.bin";
        constexpr int kPasses = 4;  // packets per segment: 4 passes over the stream
        const kb::Paired writing = kb::PairedRatio(
            [&] {
                kesto::SegmentRecorder recorder(kesto::kMaxSegmentBytes);
                recorder.RequestSegment(raw, 1 << 30);
                for (int pass = 0; pass < kPasses; ++pass) {
                    for (const kb::Bytes& p : packets) {
                        recorder.RecordPacket(p.data(), static_cast<int>(p.size()));
                    }
                }
            },
            [&] {
                std::FILE* a = std::fopen(rawF.c_str(), "wb");
                std::FILE* b = std::fopen(sizesF.c_str(), "wb");
                for (int pass = 0; pass < kPasses; ++pass) {
                    for (const kb::Bytes& p : packets) {
                        std::fwrite(p.data(), 1, p.size(), a);
                        const uint32_t n = static_cast<uint32_t>(p.size());
                        const unsigned char record[4] = {
                            static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
                        std::fwrite(record, 1, 4, b);
                    }
                }
                std::fclose(a);
                std::fclose(b);
            },
            budget * 2, 0.02);
        const double perSegment = static_cast<double>(packets.size()) * kPasses;
        kb::PrintRow("recorder writing, per packet: " + Ms(writing.a / perSegment),
                     "fwrite of the same packets " + Ms(writing.b / perSegment), writing.ratio,
                     "<= 1.2", kb::Verdict(writing.ratio <= 1.2));
        for (const std::string& path : {raw, sizes, rawF, sizesF}) std::remove(path.c_str());
    }

    DestroyD3D();
    return 0;
}
