// Standard output with checked writes; see Output.h.
#include "Output.h"

#include <cerrno>
#include <cstring>

bool Output::Check() {
    if (failed_ || out_) {
        return !failed_;
    }
    failed_ = true;
    pending_.clear();
    const int error = errno;
    if (error == EPIPE) {
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

bool Output::Write() {
    if (failed_) {
        return false;
    }
    errno = 0;
    out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
    pending_.clear();
    return Check();
}

bool Output::Flush() {
    if (!Write()) {
        return false;
    }
    errno = 0;
    out_.flush();
    return Check();
}
