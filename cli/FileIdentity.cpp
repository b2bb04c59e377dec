// Which file a name or standard input is; see FileIdentity.h.
#include "FileIdentity.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

#ifdef _WIN32
std::optional<FileIdentity> IdentifyHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return FileIdentity{info.dwVolumeSerialNumber,
                        (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}
#else
std::optional<FileIdentity> FromStat(const struct stat& status) {
    if (!S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev),
                        static_cast<std::uint64_t>(status.st_ino)};
}
#endif

} // namespace

std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path) {
#ifdef _WIN32
    const HANDLE handle =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const auto identity = IdentifyHandle(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    return identity;
#else
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? FromStat(status) : std::nullopt;
#endif
}

std::optional<FileIdentity> IdentifyStandardInput() {
#ifdef _WIN32
    return IdentifyHandle(GetStdHandle(STD_INPUT_HANDLE));
#else
    struct stat status {};
    return fstat(STDIN_FILENO, &status) == 0 ? FromStat(status) : std::nullopt;
#endif
}

} // namespace cli
