// Which file a name or a stream is, after links and "." are followed: the
// device and inode on Linux, the volume and file index on Windows. It tells
// that --output names the file being read, by whatever name.
#pragma once

#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace cli {

struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t file = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The file that `path` names, or nothing when there is none.
std::optional<FileIdentity> IdentifyFile(const std::filesystem::path& path);

// The file standard input reads, or nothing when it is not a file (a pipe,
// a terminal, closed).
std::optional<FileIdentity> IdentifyStandardInput();

} // namespace cli
