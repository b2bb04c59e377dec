// Tables of platform functions for the back ends' fakes, generated from a
// back end's X-macro list of its functions, each entry X(member, function)
// (VANTREL_ALSA_SEQUENCER_FUNCTIONS, VANTREL_WINMM_FUNCTIONS), as SDL expands
// its one list of functions several times. Every slot starts as a function
// that fails the test, naming the platform function, and returns an error;
// a fake sets only the slots it means to be called:
//
//     SequencerLibrary f = VANTREL_STRICT_TABLE(SequencerLibrary,
//                                               VANTREL_ALSA_SEQUENCER_FUNCTIONS);
//     f.open = ...;
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <type_traits>

namespace strict_table {

// What a function that the fake does not set returns: an error where its
// type can tell one (a negative error code, as alsa-lib and POSIX give), a
// null pointer, a text for a text, nothing for a count. A table whose
// functions say errors otherwise specializes it (WinMM: MMSYSERR_ERROR).
template <class Table, class Result> struct Refused {
    static Result Value() {
        if constexpr (std::is_same_v<Result, const char*>) {
            return "(a function the fake does not set)";
        } else if constexpr (std::is_pointer_v<Result>) {
            return nullptr;
        } else if constexpr (std::is_signed_v<Result>) {
            return static_cast<Result>(-ENOSYS);
        } else if constexpr (!std::is_void_v<Result>) {
            return Result{};
        }
    }
};

// The function put in a slot of `Table` of type `Pointer`; `Name::Text()`
// names the platform function.
template <class Table, class Name, class Pointer> struct Refuse;

template <class Table, class Name, class Result, class... Args>
struct Refuse<Table, Name, Result (*)(Args...)> {
    static Result Call(Args...) {
        ADD_FAILURE() << Name::Text() << " was called, but the fake does not set it";
        return Refused<Table, Result>::Value();
    }
};

template <class Table, class Name, class Result, class... Args>
struct Refuse<Table, Name, Result (*)(Args...) noexcept> {
    static Result Call(Args... args) noexcept {
        return Refuse<Table, Name, Result (*)(Args...)>::Call(args...);
    }
};

#if defined(_WIN32) && !defined(_WIN64)
// The Windows API's functions (WINAPI) on 32-bit Windows.
template <class Table, class Name, class Result, class... Args>
struct Refuse<Table, Name, Result(__stdcall*)(Args...)> {
    static Result __stdcall Call(Args...) {
        ADD_FAILURE() << Name::Text() << " was called, but the fake does not set it";
        return Refused<Table, Result>::Value();
    }
};
#endif

} // namespace strict_table

// One slot of `table`: the refusing function for X(member, function).
#define VANTREL_STRICT_SLOT(member, function)                                                      \
    {                                                                                              \
        struct Name {                                                                              \
            static const char* Text() { return #function; }                                        \
        };                                                                                         \
        using Table = std::remove_reference_t<decltype(table)>;                                    \
        table.member = &::strict_table::Refuse<Table, Name, decltype(table.member)>::Call;         \
    }

// A `Table` whose every slot, from `LIST`, refuses.
#define VANTREL_STRICT_TABLE(Table, LIST)                                                          \
    [] {                                                                                           \
        Table table{};                                                                             \
        LIST(VANTREL_STRICT_SLOT)                                                                  \
        return table;                                                                              \
    }()
