/* A host built against an installed package or an unpacked release package: it includes the
 * header as shipped, links the library, and streams from the simulator at the URI it is given.
 * Frames and azimuth values arriving prove that the library found its decoder beside itself;
 * the display and FFT exports must answer. Prints the header's version; exit 0 on success.
 * Usage: consumer tcp://127.0.0.1:PORT */
#define _POSIX_C_SOURCE 200809L
#include <kesto/video_client.h>

#include <stdatomic.h>
#include <stdio.h>
#ifdef _WIN32
#include <windows.h>
#define PAUSE_10_MS() Sleep(10)
#else
#include <time.h>
#define PAUSE_10_MS() nanosleep(&(const struct timespec){0, 10 * 1000 * 1000}, NULL)
#endif

static atomic_int azimuths;

static void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t timeMs) {
    if (text != NULL) printf("message %d at %lld: %s\n", (int)code, (long long)timeMs, text);
}

static void KESTO_CALL OnAzimuth(double azimuth) { (void)azimuth; atomic_fetch_add(&azimuths, 1); }

static int Answers(int32_t result) { return result == KESTO_S_OK || result == KESTO_E_FAIL; }

int main(int argc, char** argv) {
    SetCallbackFunc(OnMessage);
    SetAzCallbackFunc(OnAzimuth);
    struct IDirect3DSurface9* surface = NULL;
    /* Under plain Wine the surface query gives E_FAIL (see the README); Windows gives S_OK. */
    if (argc != 2 || !Answers(SetSize(128, 128)) || !Answers(GetBackBufferNoRef(&surface))) {
        return 3;
    }
    if (StartServerStream("consumer", argv[1]) != KESTO_S_OK) return 4;
    for (int i = 0; i < 1000 && (GetStreamStat("consumer", "frames_received") < 10 ||
                                 atomic_load(&azimuths) < 2); ++i) {
        PAUSE_10_MS();
    }
    const double frames = GetStreamStat("consumer", "frames_received");
    const int rendered = Answers(Render());
    KestoFftrConfig fft = AllocFFTR(8);
    double in[8] = {1, 1, 1, 1, 1, 1, 1, 1}, out[10] = {0};
    FFTR(fft, in, out); /* does nothing when AllocFFTR failed */
    FreeFFTR(fft);
    StopServerStream("consumer");
    DestroyD3D();
    DestroyClient();
    SetCallbackFunc(NULL);
    SetAzCallbackFunc(NULL);
    printf("consumer %s: %.0f frames, %d azimuth values, Render %s, FFTR bin 0 = %g\n",
           KESTO_VERSION_STRING, frames, atomic_load(&azimuths), rendered ? "answers" : "fails",
           out[0]);
    return frames >= 10 && atomic_load(&azimuths) >= 2 && rendered && out[0] == 8 ? 0 : 1;
}
