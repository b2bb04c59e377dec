// vantrel-convert's standard output: answers gather in memory and go out in
// large writes, and the first write that fails ends the work. A reader that
// went away (a broken pipe) ends it quietly; any other failure (a full disk,
// a closed descriptor) is reported on the error stream.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>

namespace cli {

class BufferedOutput {
  public:
    BufferedOutput(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    // Where answers gather; callers append to it directly.
    std::string& Pending() { return pending_; }

    // Hands the gathered answers on once there are enough of them. False
    // once a write has failed.
    bool WriteIfFull() { return pending_.size() < kChunk || Write(); }

    // Hands everything on and flushes the stream, so a reader sees it now.
    // False once a write has failed.
    bool Flush();

    bool Failed() const { return failed_; }

    // Output is handed on in pieces of about this size.
    static constexpr std::size_t kChunk = 64 * 1024;

  private:
    bool Write();
    bool Check();
    static void ClearErrors();

    std::ostream& out_;
    std::ostream& err_;
    std::string pending_;
    bool failed_ = false;
};

} // namespace cli
