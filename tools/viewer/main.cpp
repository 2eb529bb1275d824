// kesto-viewer: a host for the client library, built on its public header only. Shows the
// library's render-target surface in a window (or, without a display, reports progress and
// writes a snapshot and the rendered surface as files).
#include <SDL.h>

#include <sys/stat.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "../common/command_line.h"
#include "client_api.h"
#include "surface_reader.h"

namespace {

using kesto::tools::OptionReader;
using kesto::tools::ParseInteger;
using kesto::tools::UsageError;

using namespace kesto::viewer;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kUsage =
    "usage: kesto-viewer [options] [URI]\n"
    "Connects the video client library to a camera (default tcp://127.0.0.1:8010; a file://\n"
    "URI plays a recording) and shows the picture it draws.\n"
    "\n"
    "  --uri URI           stream to show (also as the one positional argument)\n"
    "  --library PATH      client library to load (default: the one beside the viewer)\n"
    "  --size N            side of the drawn surface and the window, 64..4096 (default 768)\n"
    "  --out-dir DIR       where snapshots and segments go (default .)\n"
    "  --seconds N         end after N seconds (headless default 10)\n"
    "  --headless          no window: print the statistics every second, then write\n"
    "                      <out-dir>/snapshot.png (the library's snapshot) and\n"
    "                      <out-dir>/surface.png (the rendered surface); exits 1 when no\n"
    "                      frame arrived. Chosen automatically when DISPLAY is not set.\n"
    "  --press KEYS        window: press these keys one by one, 0.2 s apart, once the first\n"
    "                      frame is shown (s r q + - and < > ^ v for the arrows, . for\n"
    "                      no key); for scripted demos and tests\n"
    "  --verbose           also print the library's per-frame azimuth traces\n"
    "  --version           show the library version this viewer was built with\n"
    "  --help              show this text\n"
    "\n"
    "Keys: Left/Right turn the picture by 0.05 rad, Up/Down by 0.5 rad; + and - zoom;\n"
    "S writes a PNG snapshot; R records a 10 s raw segment; Q or Esc quits.\n";

struct Arguments {
    std::string uri = "tcp://127.0.0.1:8010";
    std::string library;
    std::string outDir = ".";
    int size = 768;
    long seconds = 0;
    std::string press;  // scripted key presses for the window
    bool headless = false;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

Arguments Parse(int argc, char** argv) {
    Arguments args;
    bool uriGiven = false;
    OptionReader reader(argc, argv);
    while (reader.Next()) {
        const std::string option = reader.Option();
        auto takeValue = [&] { return reader.Value(); };
        auto flag = [&] { reader.NoValue(); };
        if (option == "--help" || option == "-h") {
            flag();
            args.help = true;
        } else if (option == "--version") {
            flag();
            args.version = true;
        } else if (option == "--headless") {
            flag();
            args.headless = true;
        } else if (option == "--verbose") {
            flag();
            args.verbose = true;
        } else if (option == "--press") {
            args.press = takeValue();
            if (args.press.find_first_not_of("srq+-<>^v.") != std::string::npos) {
                throw UsageError{"--press takes only the keys s r q + - < > ^ v and ."};
            }
        } else if (option == "--uri") {
            args.uri = takeValue();
            uriGiven = true;
        } else if (option == "--library") {
            args.library = takeValue();
        } else if (option == "--out-dir") {
            args.outDir = takeValue();
            if (args.outDir.empty()) throw UsageError{"--out-dir needs a folder"};
        } else if (option == "--size") {
            args.size = static_cast<int>(ParseInteger(option, takeValue(), 64, 4096));
        } else if (option == "--seconds") {
            args.seconds = ParseInteger(option, takeValue(), 1, 1000000);
        } else if (option.rfind("-", 0) != 0 && !uriGiven) {
            args.uri = option;
            uriGiven = true;
        } else {
            throw UsageError{"unknown argument '" + option + "'"};
        }
    }
    if (args.uri.find("://") == std::string::npos) {
        throw UsageError{"'" + args.uri + "' is not a URI (tcp://host:port or file://path)"};
    }
    return args;
}

// ---------------------------------------------------------------------------------------------
// What the callbacks leave for the main thread. They run on the library's threads (and with
// its display lock held for frame notices), so they only print and count; everything that
// calls the library back happens on the main thread.

std::atomic<long> g_frameNotices{0};
std::atomic<long> g_azimuthNotices{0};
std::atomic<double> g_azimuth{NAN};
volatile std::sig_atomic_t g_signalled = 0;

extern "C" void OnSignal(int) {
    g_signalled = 1;
}

const char* CodeName(int32_t code) {
    switch (code) {
        case KESTO_MESSAGE_ERROR:
            return "ERROR";
        case KESTO_MESSAGE_STATUS:
            return "STATUS";
        case KESTO_MESSAGE_INFO:
            return "INFO";
        case KESTO_MESSAGE_EXCEPTION:
            return "EXCEPTION";
        case KESTO_MESSAGE_FRAME_READY:
            return "FRAME_READY";
        default:
            return "CODE";
    }
}

bool g_verbose = false;

void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t timeMs) {
    if (code == KESTO_MESSAGE_FRAME_READY) {
        ++g_frameNotices;
        return;
    }
    // The library traces every azimuth record it reads; the title and progress line show the
    // azimuth already, so these lines only appear on request.
    if (!g_verbose && code == KESTO_MESSAGE_INFO && text != nullptr &&
        std::strstr(text, "received azimuth of") != nullptr) {
        return;
    }
    const std::time_t seconds = static_cast<std::time_t>(timeMs / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S", &utc);
    std::fprintf(stderr, "[%s.%03d UTC] %-9s(%d) %s\n", stamp, static_cast<int>(timeMs % 1000),
                 CodeName(code), code, text != nullptr ? text : "(null)");
}

void KESTO_CALL OnAzimuth(double azimuth) {
    g_azimuth = azimuth;
    ++g_azimuthNotices;
}

std::string TimeTag() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char tag[32];
    std::strftime(tag, sizeof tag, "%Y%m%d-%H%M%S", &local);
    return tag;
}

std::string Statistics(const ClientApi& api) {
    char line[256];
    std::snprintf(
        line, sizeof line, "frames %.0f  %.1f fps  %.1f kB/s  %.0fx%.0f  azimuth %.3f rad",
        api.GetStreamStat("viewer", "frames_received"), api.GetStreamStat("viewer", "fps"),
        api.GetStreamStat("viewer", "bps") / 1000.0, api.GetStreamStat("viewer", "stream_width"),
        api.GetStreamStat("viewer", "stream_height"), g_azimuth.load());
    return line;
}

bool FileHasContent(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

// Draws the latest frame and reads the surface back; false (with a message) when there is
// no surface yet or it cannot be read.
bool RenderToImage(const ClientApi& api, SurfaceImage& image, bool quiet) {
    IDirect3DSurface9* surface = nullptr;
    const int32_t hr = api.GetBackBufferNoRef(&surface);
    if (hr != KESTO_S_OK || surface == nullptr) {
        if (!quiet) {
            std::fprintf(stderr, "kesto-viewer: no surface (GetBackBufferNoRef 0x%08X)\n",
                         static_cast<unsigned>(hr));
        }
        return false;
    }
    const int32_t rendered = api.Render();
    if (rendered != KESTO_S_OK) {
        if (!quiet)
            std::fprintf(stderr, "kesto-viewer: Render failed with 0x%08X\n",
                         static_cast<unsigned>(rendered));
        return false;
    }
    std::string error;
    if (!ReadSurface(surface, image, error)) {
        if (!quiet) std::fprintf(stderr, "kesto-viewer: %s\n", error.c_str());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

int RunHeadless(const ClientApi& api, const Arguments& args) {
    const long seconds = args.seconds > 0 ? args.seconds : 10;
    const auto start = Clock::now();
    for (long second = 1; second <= seconds && !g_signalled; ++second) {
        while (Clock::now() < start + std::chrono::seconds(second) && !g_signalled) {
            std::this_thread::sleep_for(milliseconds(50));
        }
        std::printf("[%lds] %s\n", second, Statistics(api).c_str());
        std::fflush(stdout);
    }

    const bool framesArrived = api.GetStreamStat("viewer", "frames_received") > 0;
    int status = framesArrived ? 0 : 1;
    if (!framesArrived) std::fprintf(stderr, "kesto-viewer: no frame arrived\n");

    // The snapshot is written on the worker when the next frame arrives: wait for two more
    // frame notices (the write happens before the first of them), at most three seconds.
    const std::string snapshot = args.outDir + "/snapshot.png";
    std::remove(snapshot.c_str());
    if (framesArrived) {
        const long noticesBefore = g_frameNotices.load();
        api.SaveVideoFrameRawToDisk(snapshot.c_str());
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        while (g_frameNotices.load() < noticesBefore + 2 && Clock::now() < deadline) {
            std::this_thread::sleep_for(milliseconds(10));
        }
        if (FileHasContent(snapshot)) {
            std::printf("snapshot: %s\n", snapshot.c_str());
        } else {
            std::fprintf(stderr, "kesto-viewer: the snapshot %s was not written\n",
                         snapshot.c_str());
            status = 1;
        }
    }

    SurfaceImage image;
    const std::string surfacePng = args.outDir + "/surface.png";
    if (RenderToImage(api, image, false)) {
        if (WritePng(surfacePng, image)) {
            std::printf("surface: %s (%dx%d)\n", surfacePng.c_str(), image.width, image.height);
        } else {
            std::fprintf(stderr, "kesto-viewer: cannot write %s\n", surfacePng.c_str());
            status = 1;
        }
    } else {
        status = 1;
    }
    std::fflush(stdout);
    return status;
}

int RunWindow(const ClientApi& api, const Arguments& args) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "kesto-viewer: SDL_Init failed: %s (try --headless)\n",
                     SDL_GetError());
        return 1;
    }
    SDL_Window* window =
        SDL_CreateWindow("kesto-viewer", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, args.size,
                         args.size, SDL_WINDOW_RESIZABLE);
    SDL_Renderer* renderer = window != nullptr ? SDL_CreateRenderer(window, -1, 0) : nullptr;
    SDL_Texture* texture =
        renderer != nullptr ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888,
                                                SDL_TEXTUREACCESS_STREAMING, args.size, args.size)
                            : nullptr;
    if (texture == nullptr) {
        std::fprintf(stderr, "kesto-viewer: cannot open a window: %s\n", SDL_GetError());
        SDL_Quit();
        return 1;
    }

    double offset = 0.0;
    double zoom = 1.0;
    long shownNotices = -1;
    auto nextTitle = Clock::now();
    const auto end = args.seconds > 0 ? Clock::now() + std::chrono::seconds(args.seconds)
                                      : Clock::time_point::max();
    bool running = true;
    SurfaceImage image;
    std::size_t pressed = 0;
    auto nextPress = Clock::time_point::max();
    while (running && !g_signalled && Clock::now() < end) {
        if (pressed < args.press.size() && Clock::now() >= nextPress) {
            static const std::string kKeys = "srq+-<>^v";
            static const SDL_Keycode kCodes[] = {SDLK_s,     SDLK_r,     SDLK_q,
                                                 SDLK_PLUS,  SDLK_MINUS, SDLK_LEFT,
                                                 SDLK_RIGHT, SDLK_UP,    SDLK_DOWN};
            const std::size_t index = kKeys.find(args.press[pressed++]);
            if (index != std::string::npos) {
                SDL_Event key{};
                key.type = SDL_KEYDOWN;
                key.key.keysym.sym = kCodes[index];
                SDL_PushEvent(&key);
            }
            nextPress = Clock::now() + milliseconds(200);
        }
        SDL_Event event;
        while (SDL_PollEvent(&event)) {
            if (event.type == SDL_QUIT) running = false;
            if (event.type != SDL_KEYDOWN) continue;
            switch (event.key.keysym.sym) {
                case SDLK_q:
                case SDLK_ESCAPE:
                    running = false;
                    break;
                case SDLK_LEFT:
                    offset -= 0.05;
                    break;
                case SDLK_RIGHT:
                    offset += 0.05;
                    break;
                case SDLK_DOWN:
                    offset -= 0.5;
                    break;
                case SDLK_UP:
                    offset += 0.5;
                    break;
                case SDLK_PLUS:
                case SDLK_EQUALS:
                case SDLK_KP_PLUS:
                    zoom = std::min(10.0, zoom * 1.25);
                    break;
                case SDLK_MINUS:
                case SDLK_KP_MINUS:
                    zoom = std::max(1.0, zoom / 1.25);
                    break;
                case SDLK_s: {
                    const std::string path = args.outDir + "/snapshot-" + TimeTag() + ".png";
                    api.SaveVideoFrameRawToDisk(path.c_str());
                    std::printf("snapshot requested: %s\n", path.c_str());
                    break;
                }
                case SDLK_r: {
                    const std::string path = args.outDir + "/segment-" + TimeTag() + ".h264";
                    api.SaveVideoSegmentRawToDisk(path.c_str(), 10000);
                    std::printf("recording 10 s: %s (+ _pkt_sizes.bin)\n", path.c_str());
                    break;
                }
                default:
                    break;
            }
            static double shownOffset = 0.0, shownZoom = 1.0;
            if (offset != shownOffset || zoom != shownZoom) {
                api.SetRotationOffset(offset);
                api.SetCurrentZoomFactor(zoom);
                std::printf("rotation offset %.2f rad, zoom %.2f\n", offset, zoom);
                shownOffset = offset;
                shownZoom = zoom;
            }
            std::fflush(stdout);
        }

        // Redraw when a frame came in (and once at the start, to show the empty surface).
        const long notices = g_frameNotices.load();
        if (notices != shownNotices && RenderToImage(api, image, shownNotices >= 0)) {
            // The first frame (not the empty surface) starts the scripted presses.
            if (notices > 0 && nextPress == Clock::time_point::max()) nextPress = Clock::now();
            shownNotices = notices;
            if (image.width == args.size && image.height == args.size) {
                SDL_UpdateTexture(texture, nullptr, image.pixels.data(), image.width * 4);
            }
            SDL_RenderClear(renderer);
            SDL_RenderCopy(renderer, texture, nullptr, nullptr);
            SDL_RenderPresent(renderer);
        }
        if (Clock::now() >= nextTitle) {
            nextTitle += std::chrono::seconds(1);
            char extra[96];
            std::snprintf(extra, sizeof extra, "  offset %.2f rad  zoom %.2f", offset, zoom);
            SDL_SetWindowTitle(window, ("kesto-viewer  " + Statistics(api) + extra).c_str());
        }
        SDL_Delay(5);
    }
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const std::optional<Arguments> parsed =
        kesto::tools::ParseCommandLine("kesto-viewer", kUsage, argc, argv, Parse, exitCode);
    if (!parsed) return exitCode;
    if (parsed->version) {
        std::printf("kesto-viewer %s\n", KESTO_VERSION_STRING);
        return 0;
    }
    Arguments args = *parsed;
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!args.headless && (display == nullptr || *display == '\0') &&
        (wayland == nullptr || *wayland == '\0')) {
        std::fprintf(stderr, "kesto-viewer: no display, running headless\n");
        args.headless = true;
    }

    g_verbose = args.verbose;
    ClientLibrary library;
    std::string error;
    const std::string path = args.library.empty() ? DefaultLibraryPath() : args.library;
    if (!library.Load(path, error)) {
        std::fprintf(stderr, "kesto-viewer: %s\n", error.c_str());
        return 1;
    }
    const ClientApi& api = library.Api();

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    api.SetCallbackFunc(&OnMessage);
    api.SetAzCallbackFunc(&OnAzimuth);
    // The surface exists before the first frame, so that every frame is uploaded for display.
    api.SetSize(static_cast<uint32_t>(args.size), static_cast<uint32_t>(args.size));
    IDirect3DSurface9* surface = nullptr;
    api.GetBackBufferNoRef(&surface);

    std::printf("kesto-viewer: %s via %s\n", args.uri.c_str(), path.c_str());
    std::fflush(stdout);
    int status = 1;
    if (api.StartServerStream("viewer", args.uri.c_str()) == KESTO_S_OK) {
        status = args.headless ? RunHeadless(api, args) : RunWindow(api, args);
        api.StopServerStream("viewer");
    }
    // Unhook the callbacks before the library goes: its threads are gone after DestroyClient.
    api.DestroyD3D();
    api.DestroyClient();
    api.SetCallbackFunc(nullptr);
    api.SetAzCallbackFunc(nullptr);
    return status;
}
