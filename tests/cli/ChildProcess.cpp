// Starting and stopping the tests' child processes; see ChildProcess.h.
#include "ChildProcess.h"

#include "Utf8.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// How long a child that is being stopped has to end by itself.
constexpr std::chrono::seconds kStopDeadline{15};

std::string ErrorFileName() {
    static std::atomic<int> count = 0; // tests may start children from several threads
#ifdef _WIN32
    const auto self = GetCurrentProcessId();
#else
    const auto self = getpid();
#endif
    return (fs::temp_directory_path() /
            ("vantrel-child-" + std::to_string(self) + "-" + std::to_string(++count) + ".err"))
        .string();
}

} // namespace

ProgramArgument Arg(std::u16string_view units) {
#ifdef _WIN32
    return ProgramArgument(units);
#else
    std::string bytes;
    AppendUtf8(units, bytes);
    return bytes;
#endif
}

std::vector<ProgramArgument> ToolCommand(const std::vector<ProgramArgument>& args) {
#ifdef _WIN32
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<ProgramArgument> command = {
        (fs::path(self).parent_path() / VANTREL_CONVERT_EXE_NAME).u16string()};
#else
    // VANTREL_CONVERT_UNDER_TEST names another build to run instead, to see
    // whether a fault these tests catch was there before.
    const char* other = std::getenv("VANTREL_CONVERT_UNDER_TEST");
    std::vector<ProgramArgument> command = {other != nullptr ? other : VANTREL_CONVERT_EXE};
#endif
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

#ifdef _WIN32

struct ChildProcess::Handles {
    HANDLE process = nullptr;
    HANDLE input = nullptr;
    HANDLE output = nullptr;
};

namespace {

// Quotes one argument so that CommandLineToArgvW gives it back unchanged.
std::wstring Quoted(std::u16string_view argument) {
    std::wstring text = L"\"";
    std::size_t backslashes = 0;
    for (const char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        text.append(unit == u'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        text += static_cast<wchar_t>(unit);
        backslashes = 0;
    }
    return text.append(2 * backslashes, L'\\') + L"\"";
}

// Closes a handle of ours once.
void CloseOnce(HANDLE& handle) {
    if (handle != nullptr) {
        CloseHandle(handle);
        handle = nullptr;
    }
}

} // namespace

ChildProcess::ChildProcess(const std::vector<ProgramArgument>& command, const ChildOptions& options)
    : handles_(std::make_unique<Handles>()), errorFile_(ErrorFileName()) {
    const std::wstring program(command.front().begin(), command.front().end());
    std::wstring commandLine;
    for (const ProgramArgument& word : command) {
        commandLine += (commandLine.empty() ? L"" : L" ") + Quoted(word);
    }
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    CreatePipe(&childInput, &handles_->input, &inherit, 1 << 16);
    SetHandleInformation(handles_->input, HANDLE_FLAG_INHERIT, 0);
    const bool oneFile = !options.outputFile.empty();
    if (!oneFile) {
        CreatePipe(&handles_->output, &childOutput, &inherit, 1 << 16);
        SetHandleInformation(handles_->output, HANDLE_FLAG_INHERIT, 0);
    }
    HANDLE errors =
        CreateFileA(oneFile ? options.outputFile.c_str() : errorFile_.c_str(), GENERIC_WRITE,
                    FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = oneFile ? errors : childOutput;
    startup.hStdError = errors;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
        handles_->process = process.hProcess;
        CloseHandle(process.hThread);
    }
    CloseOnce(childInput);
    CloseOnce(childOutput);
    CloseOnce(errors);
}

ChildProcess::~ChildProcess() {
    CloseInput();
    CloseOutput();
    if (Running()) {
        TerminateProcess(handles_->process, 255);
        WaitForSingleObject(handles_->process, INFINITE);
    }
    CloseOnce(handles_->process);
    std::error_code ignored;
    fs::remove(errorFile_, ignored);
}

bool ChildProcess::Started() const {
    return handles_->process != nullptr;
}

bool ChildProcess::Running() {
    return Started() && WaitForSingleObject(handles_->process, 0) == WAIT_TIMEOUT;
}

bool ChildProcess::Write(std::string_view bytes) {
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

void ChildProcess::CloseInput() {
    CloseOnce(handles_->input);
}

std::string ChildProcess::Read(std::size_t size) {
    std::string bytes(size, '\0');
    DWORD read = 0;
    if (handles_->output == nullptr ||
        !ReadFile(handles_->output, bytes.data(), static_cast<DWORD>(size), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(read);
    return bytes;
}

void ChildProcess::CloseOutput() {
    CloseOnce(handles_->output);
}

std::size_t ChildProcess::PeakMemory() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(handles_->process, &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

int ChildProcess::Wait(std::chrono::milliseconds deadline) {
    if (!Started()) {
        return -1;
    }
    if (WaitForSingleObject(handles_->process, static_cast<DWORD>(deadline.count())) !=
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

struct ChildProcess::Handles {
    pid_t process = -1;
    int input = -1;
    int output = -1;
    bool ended = false;
    int status = -1;
    std::size_t peak = 0;
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

ChildProcess::ChildProcess(const std::vector<ProgramArgument>& command, const ChildOptions& options)
    : handles_(std::make_unique<Handles>()), errorFile_(ErrorFileName()) {
    // Writing into a pipe whose reader has gone then fails with EPIPE
    // instead of killing the writer: the test sees its own failed writes,
    // and vantrel-convert, which inherits this, must notice its own.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // Every descriptor is closed on exec, so that no other child holds an
    // end of this one's pipes; dup2 gives the child its own three.
    const bool oneFile = !options.outputFile.empty();
    int input[2] = {-1, -1};
    int output[2] = {-1, -1};
    const int errors = open(oneFile ? options.outputFile.c_str() : errorFile_.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (errors >= 0 && pipe2(input, O_CLOEXEC) == 0 && (oneFile || pipe2(output, O_CLOEXEC) == 0)) {
        const pid_t parent = getpid();
        handles_->process = fork();
        if (handles_->process == 0) {
            // Only async-signal-safe calls between fork and exec.
            prctl(PR_SET_PDEATHSIG, SIGINT);
            if (options.addressSpace) {
                const rlimit limit{*options.addressSpace, *options.addressSpace};
                setrlimit(RLIMIT_AS, &limit);
            }
            if (options.fileSize) {
                const rlimit limit{*options.fileSize, *options.fileSize};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (getppid() != parent || dup2(input[0], 0) < 0 ||
                dup2(oneFile ? errors : output[1], 1) < 0 || dup2(errors, 2) < 0) {
                _exit(127);
            }
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    handles_->input = input[1];
    handles_->output = output[0];
    for (int fd : {input[0], output[1], errors}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void ChildProcess::Signal(int signal) {
    if (Running()) {
        kill(handles_->process, signal);
    }
}

std::size_t ChildProcess::Threads() const {
    std::error_code error;
    const fs::directory_iterator tasks("/proc/" + std::to_string(handles_->process) + "/task",
                                       error);
    return error ? 0 : static_cast<std::size_t>(std::distance(tasks, fs::directory_iterator()));
}

ChildProcess::~ChildProcess() {
    CloseInput();
    CloseOutput();
    if (Running()) {
        kill(handles_->process, SIGINT);
        Wait(kStopDeadline);
    }
    std::error_code ignored;
    fs::remove(errorFile_, ignored);
}

bool ChildProcess::Started() const {
    return handles_->process > 0;
}

bool ChildProcess::Running() {
    rusage usage{};
    int status = 0;
    if (Started() && !handles_->ended &&
        wait4(handles_->process, &status, WNOHANG, &usage) == handles_->process) {
        handles_->ended = true;
        handles_->status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        handles_->peak = static_cast<std::size_t>(usage.ru_maxrss) * 1024; // kilobytes on Linux
    }
    return Started() && !handles_->ended;
}

bool ChildProcess::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(handles_->input, bytes.data(), bytes.size());
        if (written <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

void ChildProcess::CloseInput() {
    CloseOnce(handles_->input);
}

std::string ChildProcess::Read(std::size_t size) {
    std::string bytes(size, '\0');
    const ssize_t got = handles_->output >= 0 ? read(handles_->output, bytes.data(), size) : 0;
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

void ChildProcess::CloseOutput() {
    CloseOnce(handles_->output);
}

std::size_t ChildProcess::PeakMemory() {
    return handles_->peak;
}

int ChildProcess::Wait(std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (Running()) {
        if (std::chrono::steady_clock::now() > end) {
            kill(handles_->process, SIGKILL);
            waitpid(handles_->process, nullptr, 0);
            handles_->ended = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return Started() ? handles_->status : -1;
}

#endif

std::string ChildProcess::Errors() const {
    std::ifstream file(errorFile_, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

Finished RunProgram(const std::vector<ProgramArgument>& args, const std::string& input) {
    ChildProcess child(ToolCommand(args));
    if (!child.Started()) {
        ADD_FAILURE() << "cannot start vantrel-convert";
        return {-1, {}, {}};
    }
    // The input goes in while the output comes out, so that neither side
    // waits for the other with a full pipe.
    std::thread feeder([&child, &input] {
        child.Write(input);
        child.CloseInput();
    });
    Finished finished{-1, {}, {}};
    for (std::string more; !(more = child.Read(1 << 16)).empty();) {
        finished.out += more;
    }
    feeder.join();
    finished.status = child.Wait(std::chrono::minutes(2));
    finished.err = child.Errors();
    if (finished.status < 0 || finished.status > 127) {
        ADD_FAILURE() << "vantrel-convert did not end by itself within two minutes, or ended "
                         "abnormally: status "
                      << finished.status;
    }
    return finished;
}
