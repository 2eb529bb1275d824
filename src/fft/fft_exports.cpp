// The real-FFT exports: thin wrappers around KISS FFT's real transform in double precision.
//
// FFTR sits on a hot path of the host (called per block of samples), so it adds nothing to
// kiss_fftr beyond a pointer check and the choice of the OpenMP team (fft_team.h): no locks, no
// copies. A configuration is one malloc block: a small header with the length, then KISS FFT's
// own configuration built in place; the host holds it as an opaque pointer and it is released
// with free().
#include <kesto/video_client.h>

#include <kiss_fftr.h>
#include <omp.h>

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>

#include "fft_team.h"
#include "platform/environment.h"
#include "platform/settings.h"

static_assert(std::is_same<kiss_fft_scalar, double>::value,
              "KISS FFT must be built and included with kiss_fft_scalar=double");
static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(double),
              "freqdata is handed out as interleaved real/imaginary doubles");

namespace {

// KISS FFT keeps the length to itself, and FFTR needs it to choose the team.
struct alignas(std::max_align_t) Header {
    int32_t nfft;
};

kiss_fftr_cfg toKiss(KestoFftrConfig cfg) {
    return reinterpret_cast<kiss_fftr_cfg>(reinterpret_cast<unsigned char*>(cfg) + sizeof(Header));
}

int32_t lengthOf(KestoFftrConfig cfg) {
    return reinterpret_cast<const Header*>(cfg)->nfft;
}

// Sets the calling thread's team size for one transform and puts the host's setting back
// afterwards: the team size is a per-thread OpenMP setting the host may use for its own loops.
class TeamScope {
  public:
    explicit TeamScope(int32_t nfft) : previousTeam(omp_get_max_threads()) {
        // The environment is read for long transforms only, which take milliseconds anyway.
        const int hostTeam =
            nfft < kesto::fft::kTeamMinLength
                ? 1
                : kesto::fft::HostTeam(previousTeam, kesto::platform::OpenMpRuntimeSharedWithHost(),
                                       kesto::platform::EnvironmentValue("OMP_NUM_THREADS"));
        const int team = kesto::fft::TeamSize(nfft, hostTeam);
        if (team != previousTeam) {
            omp_set_num_threads(team);
        } else {
            previousTeam = 0;
        }
    }
    ~TeamScope() {
        if (previousTeam > 0) {
            omp_set_num_threads(previousTeam);
        }
    }
    TeamScope(const TeamScope&) = delete;
    TeamScope& operator=(const TeamScope&) = delete;

  private:
    int previousTeam;  // 0: nothing to put back
};

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
        // Asked with no memory, kiss_fftr_alloc only reports the size it needs.
        size_t kissSize = 0;
        kiss_fftr_alloc(nfft, 0, nullptr, &kissSize);
        void* block = std::malloc(sizeof(Header) + kissSize);
        if (block == nullptr) {
            return nullptr;
        }
        new (block) Header{nfft};
        auto* cfg = static_cast<KestoFftrConfig>(block);
        if (kiss_fftr_alloc(nfft, 0, toKiss(cfg), &kissSize) == nullptr) {
            std::free(block);
            return nullptr;
        }
        return cfg;
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
        TeamScope team(lengthOf(cfg));
        kiss_fftr(toKiss(cfg), timedata, reinterpret_cast<kiss_fft_cpx*>(freqdata));
    } catch (...) {
        // Nothing in KISS FFT throws; the handler only guarantees that nothing could leave
        // through the C interface.
    }
}

KESTO_API void KESTO_CALL FreeFFTR(KestoFftrConfig cfg) {
    try {
        // The header and KISS FFT's configuration are one malloc block.
        std::free(cfg);
    } catch (...) {
    }
}

}  // extern "C"
