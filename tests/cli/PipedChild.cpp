// Starting vantrel-convert with pipes; see PipedChild.h.
#include "PipedChild.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#ifdef _WIN32
#include <windows.h>

#include <psapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
std::string ErrorFileName() {
    static int count = 0;
#ifdef _WIN32
    const auto self = GetCurrentProcessId();
#else
    const auto self = getpid();
#endif
    return (fs::temp_directory_path() /
            ("vantrel-piped-" + std::to_string(self) + "-" + std::to_string(++count) + ".err"))
        .string();
}
} // namespace

#ifdef _WIN32

struct PipedChild::Handles {
    HANDLE process = nullptr;
    HANDLE input = nullptr;
    HANDLE output = nullptr;
};

namespace {
// Closes a handle of ours once.
void CloseOnce(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}
} // namespace

PipedChild::PipedChild(const std::vector<ProgramArgument>& args, std::optional<std::size_t>)
    : handles_(new Handles), errorFile_(ErrorFileName()) {
    const std::wstring program = ProgramPath();
    std::wstring commandLine = CommandLine(args);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    CreatePipe(&childInput, &handles_->input, &inherit, 1 << 16);
    CreatePipe(&handles_->output, &childOutput, &inherit, 1 << 16);
    SetHandleInformation(handles_->input, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(handles_->output, HANDLE_FLAG_INHERIT, 0);
    HANDLE errors = CreateFileA(errorFile_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = errors;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        handles_->process = process.hProcess;
        CloseHandle(process.hThread);
    }
    CloseHandle(childInput);
    CloseHandle(childOutput);
    CloseHandle(errors);
}

PipedChild::~PipedChild() {
    CloseInput();
    CloseOutput();
    if (handles_->process != nullptr) {
        Wait(std::chrono::seconds(10));
        CloseHandle(handles_->process);
    }
    delete handles_;
    std::error_code ignored;
    fs::remove(errorFile_, ignored);
}

bool PipedChild::Started() const {
    return handles_->process != nullptr;
}

bool PipedChild::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const auto size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
        if (handles_->input == nullptr ||
            !WriteFile(handles_->input, bytes.data(), size, &written, nullptr)) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

void PipedChild::CloseInput() {
    CloseOnce(handles_->input);
}

std::string PipedChild::Read(std::size_t size) {
    std::string bytes(size, '\0');
    DWORD read = 0;
    if (handles_->output == nullptr ||
        !ReadFile(handles_->output, bytes.data(), static_cast<DWORD>(size), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(read);
    return bytes;
}

void PipedChild::CloseOutput() {
    CloseOnce(handles_->output);
}

std::size_t PipedChild::PeakMemoryNow() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(handles_->process, &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

int PipedChild::Wait(std::chrono::seconds deadline) {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(deadline);
    if (WaitForSingleObject(handles_->process, static_cast<DWORD>(milliseconds.count())) !=
        WAIT_OBJECT_0) {
        TerminateProcess(handles_->process, 255);
        WaitForSingleObject(handles_->process, INFINITE);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(handles_->process, &code);
    return static_cast<int>(code);
}

#else

struct PipedChild::Handles {
    pid_t process = -1;
    int input = -1;
    int output = -1;
    bool waited = false;
};

namespace {
// Closes a descriptor of ours once.
void CloseOnce(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}
} // namespace

PipedChild::PipedChild(const std::vector<ProgramArgument>& args,
                       std::optional<std::size_t> addressSpace)
    : handles_(new Handles), errorFile_(ErrorFileName()) {
    // Writing into a pipe whose reader has gone then fails with EPIPE
    // instead of killing the writer: the test sees its own failed writes,
    // and the child, which inherits this, must notice its own.
    signal(SIGPIPE, SIG_IGN);
    int input[2];
    int output[2];
    if (pipe(input) != 0 || pipe(output) != 0) {
        return;
    }
    std::vector<std::string> words = CommandWords(args);
    const std::vector<char*> argv = Argv(words);
    const int errors = open(errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    handles_->process = fork();
    if (handles_->process == 0) {
        if (addressSpace) {
            const rlimit limit{*addressSpace, *addressSpace};
            setrlimit(RLIMIT_AS, &limit);
        }
        dup2(input[0], 0);
        dup2(output[1], 1);
        dup2(errors, 2);
        for (int fd : {input[0], input[1], output[0], output[1], errors}) {
            close(fd);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    close(errors);
    handles_->input = input[1];
    handles_->output = output[0];
}

PipedChild::~PipedChild() {
    CloseInput();
    CloseOutput();
    if (handles_->process > 0 && !handles_->waited) {
        Wait(std::chrono::seconds(10));
    }
    delete handles_;
    std::error_code ignored;
    fs::remove(errorFile_, ignored);
}

bool PipedChild::Started() const {
    return handles_->process > 0;
}

bool PipedChild::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(handles_->input, bytes.data(), bytes.size());
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void PipedChild::CloseInput() {
    CloseOnce(handles_->input);
}

std::string PipedChild::Read(std::size_t size) {
    std::string bytes(size, '\0');
    const ssize_t got = handles_->output >= 0 ? read(handles_->output, bytes.data(), size) : 0;
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

void PipedChild::CloseOutput() {
    CloseOnce(handles_->output);
}

std::size_t PipedChild::PeakMemoryNow() {
    return 0;
}

void PipedChild::Signal(int signal) {
    kill(handles_->process, signal);
}

int PipedChild::Wait(std::chrono::seconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    rusage usage{};
    while (wait4(handles_->process, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(handles_->process, SIGKILL);
            wait4(handles_->process, &status, 0, &usage);
            handles_->waited = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    handles_->waited = true;
    peakAtExit_ = static_cast<std::size_t>(usage.ru_maxrss) * 1024; // kilobytes on Linux
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#endif

std::string PipedChild::Errors() const {
    std::ifstream file(errorFile_, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}
