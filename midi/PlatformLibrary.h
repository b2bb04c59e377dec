// Loading a platform's MIDI library when a run first needs it.
//
// vantrel-convert reaches JACK through libjack and the ALSA sequencer through
// libasound, but most runs only convert text and need neither. So neither is
// linked: a back end opens its library with dlopen the first time it lists,
// connects or receives, and fills its table of functions from it. A run that
// only converts loads neither, starts faster, and the package need not depend
// on JACK at all.
//
// A library, once opened, stays open for the life of the process: the
// platforms' libraries start threads and register handlers that must never
// find their code unmapped, so nothing here calls dlclose.
//
// Linux only; WinMM is a system DLL that every Windows has.
#pragma once

#include <cstddef>
#include <string>

namespace midi_ports {

class PlatformLibrary {
  public:
    // Opens `soname` ("libjack.so.0"), or finds it already open, and looks
    // up `names`, in order, into `slots`. On success returns true; on
    // failure returns false and sets `error` to a text for the user:
    // "libjack.so.0 is not installed", or "libjack.so.0 has no jack_foo"
    // for a library too old to carry a function. Each call fills its own
    // slots, so several tables may come from one library. Safe to call from
    // several threads; a back end fills its table once and keeps it.
    static bool Load(const char* soname, const char* const* names, void** slots, std::size_t count,
                     std::string& error);

    // Fills a table of function pointers from `soname`. `Table` lists its
    // functions as pointer members in the order of `names`, with nothing
    // else in it, so that it has the layout of an array of pointers.
    template <class Table, std::size_t N>
    static bool Fill(const char* soname, const char* const (&names)[N], Table& table,
                     std::string& error) {
        static_assert(sizeof(Table) == N * sizeof(void*), "one name for each function");
        return Load(soname, names, reinterpret_cast<void**>(&table), N, error);
    }
};

} // namespace midi_ports
