// The file of --output: opened, and emptied, only when the first bytes are
// written to it. A run that ends before it has anything to write (a port
// that does not exist, a source that sent nothing) leaves an earlier file of
// that name as it was: a backup is not lost to a mistyped port name.
#pragma once

#include <filesystem>
#include <fstream>
#include <streambuf>
#include <utility>

class DeferredFile final : public std::streambuf {
  public:
    explicit DeferredFile(std::filesystem::path path) : path_(std::move(path)) {}

  protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        return Open() ? file_.sputn(bytes, count) : 0;
    }
    int_type overflow(int_type byte) override {
        if (traits_type::eq_int_type(byte, traits_type::eof())) {
            return traits_type::not_eof(byte);
        }
        return Open() ? file_.sputc(traits_type::to_char_type(byte)) : traits_type::eof();
    }
    int sync() override { return file_.is_open() ? file_.pubsync() : 0; }

  private:
    bool Open() {
        if (!file_.is_open() && !tried_) {
            tried_ = true;
            file_.open(path_, std::ios::out | std::ios::trunc | std::ios::binary);
        }
        return file_.is_open();
    }

    const std::filesystem::path path_;
    std::filebuf file_;
    bool tried_ = false;
};
