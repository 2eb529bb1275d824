#include "platform/thread.h"

#include <windows.h>

#include <system_error>
#include <utility>

namespace kesto::platform {

// A thread's exit takes the loader's lock (DLL_THREAD_DETACH), which FreeLibrary holds while
// the library's DLL_PROCESS_DETACH runs: an unload cannot wait for a worker to end. It waits
// for `done` instead, which the worker signals in the same call that starts its wait for
// `release` (SignalObjectAndWait signals and waits as one operation), so that once `done` is
// seen the worker is inside the system, not in the library, and stays there until released.
// A normal join releases it and waits for the end; an unload never releases it and ends it
// where it waits.
struct Thread::State {
    std::function<void()> body;
    HANDLE thread = nullptr;
    HANDLE running = nullptr;  // the thread has entered the library's code
    HANDLE done = nullptr;     // `body` has returned
    HANDLE release = nullptr;  // the thread may leave its last wait and end
    DWORD id = 0;

    ~State() {
        for (HANDLE handle : {thread, running, done, release}) {
            if (handle != nullptr) CloseHandle(handle);
        }
    }
};

namespace {
DWORD WINAPI RunBody(LPVOID argument) {
    Thread::State& state = *static_cast<Thread::State*>(argument);
    SetEvent(state.running);
    state.body();
    SignalObjectAndWait(state.done, state.release, INFINITE, FALSE);
    return 0;
}

[[noreturn]] void ThrowNoThread() {
    throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
}
}  // namespace

Thread::Thread(std::function<void()> body) : state(std::make_unique<State>()) {
    state->body = std::move(body);
    state->running = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    state->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    state->release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (state->running == nullptr || state->done == nullptr || state->release == nullptr) {
        ThrowNoThread();
    }
    state->thread = CreateThread(nullptr, 0, &RunBody, state.get(), 0, &state->id);
    if (state->thread == nullptr) ThrowNoThread();
    // A new thread runs the DLL_THREAD_ATTACH notifications, under the loader's lock, before
    // its start routine. An unload that met it there would wait for it in vain and then free
    // the code it is about to run; so Start returns only once the thread is inside.
    WaitForSingleObject(state->running, INFINITE);
}

Thread::~Thread() {
    if (!state || state->thread == nullptr) return;
    // Detached: the thread ends by itself after `body` and keeps its state.
    SetEvent(state->release);
    state.release();
}

bool Thread::IsCurrent() const {
    return state && state->thread != nullptr && state->id == GetCurrentThreadId();
}

void Thread::Join() {
    if (!state || state->thread == nullptr) return;
    SetEvent(state->release);
    WaitForSingleObject(state->thread, INFINITE);
    state.reset();
}

bool Thread::ReleaseForUnload(unsigned timeoutMs) {
    if (!state || state->thread == nullptr) return true;
    if (WaitForSingleObject(state->done, timeoutMs) != WAIT_OBJECT_0) return false;
    // It waits inside the system holding nothing of ours; ending it there runs no thread
    // detach notification, so it needs no loader lock. Its state goes once it has ended.
    TerminateThread(state->thread, 0);
    if (WaitForSingleObject(state->thread, timeoutMs) == WAIT_OBJECT_0) {
        state.reset();
    } else {
        state.release();  // still ending: leave it what it points to
    }
    return true;
}

}  // namespace kesto::platform
