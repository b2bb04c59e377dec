// The file of --output; see OutputFile.h.
#include "OutputFile.h"

#include "Utf8.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

namespace fs = std::filesystem;

std::string Name(const fs::path& path) {
    return ToUtf8(path.u16string());
}

std::string Reason(int error) {
    return error != 0 ? ": " + std::string(std::strerror(error)) : "";
}

#ifdef _WIN32
// errno for a failed call, as the C runtime would give it: the tool's
// messages come from strerror.
int ErrnoOf(DWORD error) {
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    default:
        return EIO;
    }
}

HANDLE AsHandle(std::intptr_t file) {
    return reinterpret_cast<HANDLE>(file);
}
#endif

} // namespace

OutputFile::OutputFile(fs::path path) : path_(std::move(path)) {}

OutputFile::~OutputFile() {
    Close();
}

std::optional<std::string> OutputFile::Prepare() {
    std::error_code unused;
    const fs::file_status status = fs::status(path_, unused);
    const bool exists = fs::exists(status);
    direct_ = exists && !fs::is_regular_file(status);
    if (direct_) {
        // A device opens now, so that a terminal is known as one; a FIFO
        // only at the first byte, since opening it waits for a reader.
        if (fs::is_fifo(status)) {
            return std::nullopt;
        }
        if (!Open()) {
            return "cannot open " + Name(path_) + Reason(errno);
        }
        return std::nullopt;
    }
    std::error_code error;
    target_ = fs::is_symlink(fs::symlink_status(path_, unused)) ? fs::weakly_canonical(path_, error)
                                                                : path_;
    if (error) {
        return "cannot open " + Name(path_) + ": " + error.message();
    }
    partial_ = target_;
    partial_ += ".partial";
    if (exists) {
        mode_ = static_cast<unsigned>(status.permissions());
    }
    const fs::path folder = Folder();
#ifdef _WIN32
    // Whether the folder takes a new file: one is made and removed.
    const HANDLE probe = CreateFileW(partial_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return "cannot open " + Name(path_) + Reason(ErrnoOf(GetLastError()));
    }
    CloseHandle(probe);
#else
    if (access(folder.c_str(), W_OK | X_OK) != 0) {
        return "cannot open " + Name(path_) + Reason(errno);
    }
#endif
    if (exists || fs::is_directory(fs::status(folder, unused))) {
        return std::nullopt;
    }
    return "cannot open " + Name(path_) + Reason(ENOENT);
}

bool OutputFile::Open() {
    if (opened_) {
        return file_ != -1;
    }
    opened_ = true;
    const fs::path& name = direct_ ? path_ : partial_;
#ifdef _WIN32
    const HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    direct_ ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = ErrnoOf(GetLastError());
        return false;
    }
    file_ = reinterpret_cast<std::intptr_t>(handle);
    terminal_ = direct_ && GetFileType(handle) == FILE_TYPE_CHAR;
#else
    int descriptor = -1;
    if (direct_) {
        descriptor = open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    } else {
        // A stale .partial (or anything else of that name) goes first, so
        // that no link of that name is followed.
        if (unlink(name.c_str()) != 0 && errno != ENOENT) {
            return false;
        }
        descriptor = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor != -1 && mode_ && fchmod(descriptor, static_cast<mode_t>(*mode_)) != 0) {
            const int failure = errno;
            close(descriptor);
            errno = failure;
            return false;
        }
    }
    if (descriptor == -1) {
        return false;
    }
    file_ = descriptor;
    terminal_ = direct_ && isatty(descriptor) != 0;
#endif
    return true;
}

bool OutputFile::WriteAll(const char* bytes, std::size_t count) {
    while (count > 0) {
#ifdef _WIN32
        DWORD written = 0;
        const DWORD most = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        if (!WriteFile(AsHandle(file_), bytes, most, &written, nullptr)) {
            errno = ErrnoOf(GetLastError());
            return false;
        }
#else
        const ssize_t written = write(static_cast<int>(file_), bytes, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
#endif
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

std::streamsize OutputFile::xsputn(const char* bytes, std::streamsize count) {
    // Nothing to write makes no file: an empty answer leaves FILE alone.
    if (count <= 0) {
        return 0;
    }
    return Open() && WriteAll(bytes, static_cast<std::size_t>(count)) ? count : 0;
}

OutputFile::int_type OutputFile::overflow(int_type character) {
    if (traits_type::eq_int_type(character, traits_type::eof())) {
        return traits_type::not_eof(character);
    }
    const char one = traits_type::to_char_type(character);
    return xsputn(&one, 1) == 1 ? character : traits_type::eof();
}

void OutputFile::Close() {
    if (file_ == -1) {
        return;
    }
#ifdef _WIN32
    CloseHandle(AsHandle(file_));
#else
    close(static_cast<int>(file_));
#endif
    file_ = -1;
}

OutputFile::Ending OutputFile::Finish(bool keep) {
    if (direct_ || file_ == -1) {
        Close();
        return {};
    }
    const std::string kept =
        "what was written is in " + Name(partial_) + "; " + Name(path_) + " is as it was";
    if (!keep) {
        Close();
        return {kept};
    }
    if (const int error = Replace()) {
        return {"cannot write the output" + Reason(error) + "; " + kept, true};
    }
#ifndef _WIN32
    // The rename lasts once the folder is on the disk too.
    const int directory = open(Folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = directory == -1 || fsync(directory) != 0 ? errno : 0;
    if (directory != -1) {
        close(directory);
    }
    if (error != 0) {
        return {"cannot write the output" + Reason(error) + "; " + Name(path_) +
                    " holds what was written, but may not yet be on the disk",
                true};
    }
#endif
    return {};
}

int OutputFile::Replace() {
#ifdef _WIN32
    if (!FlushFileBuffers(AsHandle(file_))) {
        const int error = ErrnoOf(GetLastError());
        Close();
        return error;
    }
    Close();
    return MoveFileExW(partial_.c_str(), target_.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0
               ? 0
               : ErrnoOf(GetLastError());
#else
    if (fsync(static_cast<int>(file_)) != 0) {
        const int error = errno;
        Close();
        return error;
    }
    Close();
    return rename(partial_.c_str(), target_.c_str()) == 0 ? 0 : errno;
#endif
}

fs::path OutputFile::Folder() const {
    return target_.has_parent_path() ? target_.parent_path() : fs::path(".");
}

} // namespace cli
