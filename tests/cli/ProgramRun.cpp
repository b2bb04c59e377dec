// Running vantrel-convert as a process; see ProgramRun.h.
#include "ProgramRun.h"

#include "Utf8.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

ProgramArgument Arg(std::u16string_view units) {
#ifdef _WIN32
    return ProgramArgument(units);
#else
    std::string bytes;
    AppendUtf8(units, bytes);
    return bytes;
#endif
}

namespace {

#ifdef _WIN32
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

#endif

} // namespace

#ifdef _WIN32
std::wstring ProgramPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (fs::path(self).parent_path() / VANTREL_CONVERT_EXE_NAME).wstring();
}

std::wstring CommandLine(const std::vector<ProgramArgument>& args) {
    std::wstring commandLine = Quoted(fs::path(ProgramPath()).u16string());
    for (const ProgramArgument& arg : args) {
        commandLine += L" " + Quoted(arg);
    }
    return commandLine;
}
#else
std::vector<std::string> CommandWords(const std::vector<ProgramArgument>& args) {
    std::vector<std::string> words = {VANTREL_CONVERT_EXE};
    words.insert(words.end(), args.begin(), args.end());
    return words;
}

std::vector<char*> Argv(std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return argv;
}
#endif

namespace {

#ifdef _WIN32
// Runs the program with the files as its standard streams; returns the exit status.
int Start(const std::vector<ProgramArgument>& args, const fs::path (&files)[3]) {
    const fs::path program = ProgramPath();
    std::wstring commandLine = CommandLine(args);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE handles[3];
    for (int i = 0; i < 3; ++i) {
        handles[i] = CreateFileW(files[i].c_str(), i == 0 ? GENERIC_READ : GENERIC_WRITE,
                                 FILE_SHARE_READ, &inherit, i == 0 ? OPEN_EXISTING : CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0];
    startup.hStdOutput = handles[1];
    startup.hStdError = handles[2];
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                        0, nullptr, nullptr, &startup, &process);
    for (HANDLE handle : handles) {
        CloseHandle(handle);
    }
    if (!started) {
        ADD_FAILURE() << "cannot start " << program.string() << ": error " << GetLastError();
        return -1;
    }
    DWORD code = 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
#else
int Start(const std::vector<ProgramArgument>& args, const fs::path (&files)[3]) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, files[0].c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, files[1].c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, files[2].c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<std::string> words = CommandWords(args);
    const std::vector<char*> argv = Argv(words);
    pid_t child = 0;
    int wait = 0;
    const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0 || waitpid(child, &wait, 0) != child || !WIFEXITED(wait)) {
        ADD_FAILURE() << "running " << VANTREL_CONVERT_EXE << " failed"
                      << (WIFSIGNALED(wait) ? ": signal " + std::to_string(WTERMSIG(wait)) : "");
        return -1;
    }
    return WEXITSTATUS(wait);
}
#endif

} // namespace

Finished RunProgram(const std::vector<ProgramArgument>& args, const std::string& input) {
    static std::atomic<int> runs = 0; // tests may run the program from several threads
#ifdef _WIN32
    const auto process = GetCurrentProcessId();
#else
    const auto process = getpid();
#endif
    const std::string stem =
        "vantrel-convert-test-" + std::to_string(process) + "-" + std::to_string(++runs);
    const fs::path files[3] = {fs::temp_directory_path() / (stem + ".in"),
                               fs::temp_directory_path() / (stem + ".out"),
                               fs::temp_directory_path() / (stem + ".err")};
    std::ofstream(files[0], std::ios::binary) << input;
    Finished finished{Start(args, files), {}, {}};
    for (int i = 1; i < 3; ++i) {
        std::ifstream file(files[i], std::ios::binary);
        (i == 1 ? finished.out : finished.err)
            .assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    for (const fs::path& file : files) {
        std::error_code ignored;
        fs::remove(file, ignored);
    }
    return finished;
}
