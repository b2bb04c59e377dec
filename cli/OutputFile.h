// The file of --output, written so that a run that fails never destroys
// what the user kept there.
//
// A regular file, or one that does not exist yet, is replaced only by a run
// that ended well, the way careful tools replace a file: the run writes
// beside it to FILE.partial (made when the first byte is written, so a run
// with nothing to write leaves none), and at the end flushes it to the disk
// and renames it over FILE, then flushes the folder (MoveFileExW with
// MOVEFILE_WRITE_THROUGH on Windows). Any other end leaves FILE as it was
// and what was written in FILE.partial, which the next run overwrites. A
// FILE that is a symbolic link has the file it points to replaced; the new
// file keeps FILE's permissions, but not other hard links to it.
//
// A FIFO, a terminal or another device is written directly, opened at the
// first byte (a FIFO's reader sees the end only when the run ends).
//
// Writes go straight to the system, unbuffered (the tool's BufferedOutput gathers
// them); a failed write sets errno for the error the BufferedOutput reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <streambuf>
#include <string>

namespace cli {

class OutputFile final : public std::streambuf {
  public:
    explicit OutputFile(std::filesystem::path path);
    ~OutputFile() override;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks, before anything is read or written, that the file can be
    // written: that its folder takes a new file, or that the device opens.
    // Why not, for the user, or nothing.
    std::optional<std::string> Prepare();

    // Whether it is a terminal, once prepared: what is written there has its
    // control characters escaped.
    bool IsTerminal() const { return terminal_; }

    // Ends the writing. With `keep`, a file written beside FILE replaces it;
    // without, FILE stays as it was. Returns a line for the user when there
    // is something to say: why the replacing failed (then FILE is as it
    // was), or where what was written is kept.
    struct Ending {
        std::string say;
        bool failed = false; // the replacing failed
    };
    Ending Finish(bool keep);

  protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override;
    int_type overflow(int_type character) override;

  private:
    bool Open();
    bool WriteAll(const char* bytes, std::size_t count);
    void Close();
    // Puts what was written on the disk, closes it and renames it over the
    // file: 0, or the errno of the step that failed.
    int Replace();
    // The folder of the file replaced.
    std::filesystem::path Folder() const;

    const std::filesystem::path path_;
    std::filesystem::path target_;  // the file replaced: path_, or what its link points to
    std::filesystem::path partial_; // target_ with ".partial" appended
    bool direct_ = false;           // a FIFO or a device: written in place
    bool terminal_ = false;
    bool opened_ = false;          // the first byte was written, or tried
    std::intptr_t file_ = -1;      // a descriptor, or a HANDLE on Windows
    std::optional<unsigned> mode_; // FILE's permissions, to keep
};

} // namespace cli
