// The real-FFT exports: thin wrappers around KISS FFT's real transform in double precision.
//
// FFTR sits on a hot path of the host (called per block of samples), so it adds nothing to
// kiss_fftr beyond a pointer check: no locks, no allocation, no copies. A configuration is
// KISS FFT's own allocation, handed to the host as an opaque pointer and released with free().
#include <kesto/video_client.h>

#include <kiss_fftr.h>

#include <climits>
#include <cstdlib>
#include <type_traits>

static_assert(std::is_same<kiss_fft_scalar, double>::value,
              "KISS FFT must be built and included with kiss_fft_scalar=double");
static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(double),
              "freqdata is handed out as interleaved real/imaginary doubles");

namespace {

kiss_fftr_cfg toKiss(KestoFftrConfig cfg) {
    return reinterpret_cast<kiss_fftr_cfg>(cfg);
}

// kiss_fftr_alloc sizes its block as (nfft / 2) * 3 complex values in int arithmetic; past
// this length that product overflows, so such lengths are refused rather than mis-sized.
constexpr int32_t kMaxHalfLength = INT_MAX / 3;

}  // namespace

extern "C" {

KESTO_API KestoFftrConfig KESTO_CALL AllocFFTR(int32_t nfft) {
    try {
        // Odd lengths: kiss_fftr only handles even ones (and would complain on stderr).
        // Zero and negative lengths: kiss would hand out a configuration that cannot be used.
        if (nfft <= 0 || (nfft & 1) != 0 || nfft / 2 > kMaxHalfLength) {
            return nullptr;
        }
        return reinterpret_cast<KestoFftrConfig>(kiss_fftr_alloc(nfft, 0, nullptr, nullptr));
    } catch (...) {
        return nullptr;
    }
}

KESTO_API void KESTO_CALL FFTR(KestoFftrConfig cfg, const double* timedata, double* freqdata) {
    try {
        if (cfg == nullptr || timedata == nullptr || freqdata == nullptr) {
            return;
        }
        // In-place use (timedata == freqdata, nfft + 2 doubles) is safe: kiss_fftr first runs
        // the half-length complex transform from timedata into the configuration's own
        // buffer and only then writes freqdata, reading nothing but that buffer.
        kiss_fftr(toKiss(cfg), timedata, reinterpret_cast<kiss_fft_cpx*>(freqdata));
    } catch (...) {
        // Nothing in KISS FFT throws; the handler only guarantees that nothing could leave
        // through the C interface.
    }
}

KESTO_API void KESTO_CALL FreeFFTR(KestoFftrConfig cfg) {
    try {
        // kiss_fftr_alloc took the block from malloc in one piece.
        std::free(toKiss(cfg));
    } catch (...) {
    }
}

}  // extern "C"
