// Tests that run the built vantrel-convert as a process: exit statuses, the
// reading of arguments (from the UTF-16 command line on Windows) and
// standard streams that carry bytes unchanged. Under Wine the test program
// starts the Windows vantrel-convert.exe that sits beside it.
#include "ConvertCommand.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
using ProgramArgument = std::u16string; // passed on as UTF-16 code units
#else
using ProgramArgument = std::string; // passed on as bytes
#endif

ProgramArgument Arg(std::u16string_view units) {
#ifdef _WIN32
    return ProgramArgument(units);
#else
    std::string bytes;
    AppendUtf8(units, bytes);
    return bytes;
#endif
}

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

// Runs the program with the files as its standard streams; returns the exit status.
int Start(const std::vector<ProgramArgument>& args, const fs::path (&files)[3]) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const fs::path program = fs::path(self).parent_path() / VANTREL_CONVERT_EXE_NAME;
    std::wstring commandLine = Quoted(program.u16string());
    for (const ProgramArgument& arg : args) {
        commandLine += L" " + Quoted(arg);
    }
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
    std::vector<std::string> storage = {VANTREL_CONVERT_EXE};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    int wait = 0;
    const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0 || waitpid(child, &wait, 0) != child || !WIFEXITED(wait)) {
        ADD_FAILURE() << "running " << VANTREL_CONVERT_EXE << " failed";
        return -1;
    }
    return WEXITSTATUS(wait);
}
#endif

struct Finished {
    int status;
    std::string out;
    std::string err;
};

// Runs vantrel-convert with `input` on its standard input, through files in
// the temporary directory.
Finished RunProgram(const std::vector<ProgramArgument>& args, const std::string& input = {}) {
    static int runs = 0;
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

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
const std::string kGo = "\"go\" does not start with \"set \"";

TEST(Process, ExitStatusesAndResults) {
    const std::tuple<std::vector<ProgramArgument>, std::string, int, std::string> cases[] = {
        {{Arg(u"set x")}, "", 0, kSetX + "\n"},
        {{}, "go\r\nset x\n", 1, kGo + "\n" + kSetX + "\n"},
        {{Arg(u"--check"), Arg(u"set \u00E9")},
         "",
         3,
         "F0 00 00 40 02 00 00 61 05 73 65 74 20 e9 F7\n"},
        {{Arg(u"--bogus"), Arg(u"set x")}, "", 2, ""},
        {{Arg(u"--decode")}, kSetX + "\r\n", 0, "set x\n"},
        {{Arg(u"--version")}, "", 0, VANTREL_VERSION "\n"},
    };
    for (const auto& [args, input, status, out] : cases) {
        const Finished finished = RunProgram(args, input);
        EXPECT_EQ(status, finished.status) << out << "\nerrors: " << finished.err;
        EXPECT_EQ(out, finished.out);
        EXPECT_EQ(status <= 1, finished.err.empty()) << finished.err;
    }
}

TEST(Process, ArgumentsArriveAsTheirUtf16CodeUnits) {
    // Characters beyond any ANSI code page, quotes, backslashes and spaces.
    std::vector<std::u16string> commands = {u"set \u00E9\u20AC\u4E2D\U0001F600",
                                            u"set \"quoted\" a\\b\\", u"set \\\"x\\\\",
                                            u" set  a "};
#ifdef _WIN32
    commands.push_back(u"set \xD800x\xDC00"); // lone surrogates pass through as units
#endif
    std::vector<ProgramArgument> args;
    std::string expected;
    for (std::u16string& command : commands) {
        args.push_back(Arg(command));
        AppendUtf8(ConvertCommand(command), expected);
        expected += '\n';
    }
    const Finished finished = RunProgram(args);
    EXPECT_EQ(0, finished.status) << finished.err;
    EXPECT_EQ(expected, finished.out);
}

TEST(Process, StandardStreamsCarryBytesUnchanged) {
    // A line feed inside a raw message stays one byte; Ctrl-Z is a character
    // of the input, not its end; lines end in LF.
    EXPECT_EQ(std::string("\xF0\0\0\x40\x02\0\0\x61\x07set a\nb\xF7", 17),
              RunProgram({Arg(u"--syx"), Arg(u"set a\nb")}).out);
    EXPECT_EQ("F0 00 00 40 02 00 00 61 05 73 65 74 20 1a F7\n" + kSetX + "\n",
              RunProgram({}, "set \x1A\r\nset x\n").out);
#ifndef _WIN32
    const Finished invalid = RunProgram({"set x", "set \xC3("});
    EXPECT_EQ(2, invalid.status);
    EXPECT_EQ(kSetX + "\n\n", invalid.out);
    EXPECT_EQ("vantrel-convert: argument 2: invalid UTF-8 at byte offset 4 (byte c3): sequence cut "
              "short: expected a continuation byte\n",
              invalid.err);
#endif
}

} // namespace
