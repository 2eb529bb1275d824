// The threads the library runs its stream workers on: std::thread, plus the one thing a
// library needs that std::thread cannot do, letting the library be unloaded while a worker is
// still inside it.
//
// The library's unload runs under the system loader's lock (Windows: DLL_PROCESS_DETACH from
// FreeLibrary; glibc: dlclose). A worker can then be waited for only up to the point where it
// needs that lock itself, and once the wait returns the library's code is unmapped, so the
// worker must by then run none of it any more, not even the few instructions after a signal.
//
// Provided by the OS specific files: posix/thread_posix.cpp (pthreads; a thread's exit does
// not take the loader's lock, so a timed join sees it leave), win32/thread_win32.cpp
// (CreateThread; a thread's exit takes the loader's lock, so the worker's last act inside the
// library is one atomic signal-and-wait).
#pragma once

#include <functional>
#include <memory>

namespace kesto::platform {

class Thread {
  public:
    // Starts `body` on a new thread and returns once the thread runs it. Throws
    // std::system_error (resource unavailable, try again) when no thread can be made.
    explicit Thread(std::function<void()> body);
    // A thread neither joined nor released is detached: it finishes on its own.
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    bool IsCurrent() const;
    // Waits until the thread has ended. Not from the thread itself.
    void Join();
    // For the library's unload, with the loader's lock held: waits at most `timeoutMs` until
    // `body` has returned and the thread runs none of the library's code any more, then lets
    // go of the thread (it may still be ending inside the system) and returns true. False
    // when the thread did not get there in time; it is then left as it is.
    bool ReleaseForUnload(unsigned timeoutMs);

    struct State;  // per backend

  private:
    std::unique_ptr<State> state;
};

}  // namespace kesto::platform
