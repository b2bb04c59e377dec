// Stop requests; see Interrupt.h.
#include "Interrupt.h"

#include <algorithm>
#include <atomic>
#include <climits>

#ifdef _WIN32
#include <cstdlib>
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#endif

namespace cli {

namespace {

constexpr int kInterrupted = 130; // 128 + SIGINT
constexpr int kTerminated = 143;  // 128 + SIGTERM

// Lock-free, so the handlers may use it.
std::atomic<int> stopStatus{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Records a request. False when one was recorded before: the run is then
// to end at once.
bool Request(int status) {
    int none = 0;
    return stopStatus.compare_exchange_strong(none, status);
}

using Clock = std::chrono::steady_clock;

// How often a wait for input asks whether to go on.
constexpr std::chrono::milliseconds kInputSlice{100};

} // namespace

namespace interrupt {

int Status() {
    return stopStatus.load();
}

#ifdef _WIN32

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE; // closing the console, logging off: the system's way
    }
    if (!Request(kInterrupted)) {
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(Status()));
    }
    SetEvent(Event());
    // A console read waiting for a line ends; reads of pipes are waited for
    // beforehand (WaitForStandardInput), so none is in progress.
    CancelIoEx(GetStdHandle(STD_INPUT_HANDLE), nullptr);
    return TRUE;
}

// Waits on the stop event for up to `milliseconds`; false when it is set.
bool Paused(DWORD milliseconds) {
    return WaitForSingleObject(Event(), milliseconds) != WAIT_OBJECT_0;
}

} // namespace

HANDLE Event() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

void Install() {
    Event();
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool SleepUntil(Clock::time_point deadline) {
    while (Status() == 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return true;
        }
        if (!Paused(static_cast<DWORD>(std::min<long long>(left.count(), INFINITE - 1)))) {
            return false;
        }
    }
    return false;
}

bool WaitForStandardInput(const std::function<bool()>& goOn) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetFileType(input) == FILE_TYPE_CHAR && GetConsoleMode(input, &mode)) {
        // A console: its handle is signalled while input events wait.
        const HANDLE both[] = {input, Event()};
        DWORD waited = WAIT_TIMEOUT;
        while (waited == WAIT_TIMEOUT && goOn()) {
            waited =
                WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(kInputSlice.count()));
        }
        return waited != WAIT_OBJECT_0 + 1 && waited != WAIT_TIMEOUT && Status() == 0;
    }
    if (GetFileType(input) != FILE_TYPE_PIPE) {
        return Status() == 0; // a file never keeps a read waiting
    }
    // A pipe cannot be waited on: look into it, more rarely the longer it
    // stays empty, up to 20 times a second.
    for (DWORD pause = 1; Status() == 0 && goOn(); pause = std::min<DWORD>(pause * 2, 50)) {
        DWORD available = 0;
        if (!PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available > 0) {
            return Status() == 0; // data, or the writer has gone: the read sees which
        }
        if (!Paused(pause)) {
            return false;
        }
    }
    return false;
}

#else

namespace {

// The pipe the signal handler writes to: [0] is read, [1] written.
int wake[2] = {-1, -1};

void OnSignal(int signal) {
    if (!Request(signal == SIGTERM ? kTerminated : kInterrupted)) {
        _exit(Status());
    }
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wake[1], &byte, 1);
    errno = saved;
}

// Polls `descriptors` (the wake pipe last) until `deadline`, or for ever
// without one. True when one of the others is ready.
bool Ready(pollfd* descriptors, nfds_t count, const Clock::time_point* deadline) {
    while (Status() == 0) {
        timespec left{};
        if (deadline != nullptr) {
            const auto rest = *deadline - Clock::now();
            if (rest <= Clock::duration::zero()) {
                return false;
            }
            const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(rest);
            left.tv_sec = static_cast<time_t>(std::min<long long>(seconds.count(), INT_MAX));
            left.tv_nsec = static_cast<long>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(rest - seconds).count());
        }
        const int result =
            ppoll(descriptors, count, deadline != nullptr ? &left : nullptr, nullptr);
        if (result > 0 && count > 1 && descriptors[0].revents != 0) {
            return true;
        }
        if (result < 0 && errno != EINTR) {
            return true; // cannot wait: let the caller go on and see
        }
    }
    return false;
}

} // namespace

int Descriptor() {
    return wake[0];
}

void Install() {
    if (wake[0] < 0 && pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        wake[0] = wake[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a wait the signal interrupts returns
    for (const int signal : {SIGINT, SIGTERM}) {
        // A signal ignored from the start (a background job of a script) stays so.
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

bool SleepUntil(Clock::time_point deadline) {
    pollfd stop{wake[0], POLLIN, 0};
    Ready(&stop, 1, &deadline);
    return Status() == 0;
}

bool WaitForStandardInput(const std::function<bool()>& goOn) {
    pollfd both[] = {{STDIN_FILENO, POLLIN, 0}, {wake[0], POLLIN, 0}};
    while (Status() == 0 && goOn()) {
        const Clock::time_point deadline = Clock::now() + kInputSlice;
        if (Ready(both, 2, &deadline)) {
            return Status() == 0;
        }
    }
    return false;
}

#endif

} // namespace interrupt

} // namespace cli
