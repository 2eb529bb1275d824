#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>
#include <system_error>
#include <utility>

namespace kesto::platform {

struct Thread::State {
    std::function<void()> body;
    pthread_t id{};
    bool joinable = false;
};

namespace {
void* RunBody(void* argument) {
    static_cast<Thread::State*>(argument)->body();
    return nullptr;
}
}  // namespace

Thread::Thread(std::function<void()> body) : state(std::make_unique<State>()) {
    state->body = std::move(body);
    const int created = pthread_create(&state->id, nullptr, &RunBody, state.get());
    if (created != 0) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    }
    state->joinable = true;
}

Thread::~Thread() {
    if (state && state->joinable) {
        pthread_detach(state->id);
        // The detached thread still runs `body` from the state: let it keep it.
        state.release();
    }
}

bool Thread::IsCurrent() const {
    return state && state->joinable && pthread_equal(state->id, pthread_self()) != 0;
}

void Thread::Join() {
    if (!state || !state->joinable) return;
    pthread_join(state->id, nullptr);
    state->joinable = false;
}

// glibc ends a thread without its load lock, so dlclose, which holds that lock while the
// library's destructors run, can join a worker; a join that returns means the thread is gone
// entirely, including the library's code it ran on the way out.
bool Thread::ReleaseForUnload(unsigned timeoutMs) {
    if (!state || !state->joinable) return true;
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += static_cast<time_t>(timeoutMs / 1000);
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(state->id, nullptr, &deadline) != 0) return false;
    state->joinable = false;
    return true;
}

}  // namespace kesto::platform
