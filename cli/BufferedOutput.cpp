// Standard output with checked writes; see BufferedOutput.h.
#include "BufferedOutput.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cli {

namespace {

// Whether the failed write met a pipe whose reader has gone.
bool ReaderWentAway(int error) {
#ifdef _WIN32
    // The C runtime does not always map these to EPIPE; the system says it.
    const DWORD system = GetLastError();
    if (system == ERROR_BROKEN_PIPE || system == ERROR_NO_DATA) {
        return true;
    }
#endif
    return error == EPIPE;
}

} // namespace

void BufferedOutput::ClearErrors() {
    errno = 0;
#ifdef _WIN32
    SetLastError(ERROR_SUCCESS);
#endif
}

bool BufferedOutput::Check() {
    if (failed_ || out_) {
        return !failed_;
    }
    failed_ = true;
    pending_.clear();
    const int error = errno;
    if (ReaderWentAway(error)) {
        return false; // the reader went away; there is no one to tell
    }
    err_ << "vantrel-convert: cannot write the output";
    if (error != 0) {
        err_ << ": " << std::strerror(error);
    }
    err_ << "\n";
    err_.flush();
    return false;
}

bool BufferedOutput::Write() {
    if (failed_) {
        return false;
    }
    ClearErrors();
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    return Check();
}

bool BufferedOutput::Flush() {
    if (!Write()) {
        return false;
    }
    ClearErrors();
    out_.flush();
    return Check();
}

} // namespace cli
