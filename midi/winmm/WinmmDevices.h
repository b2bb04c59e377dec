// MIDI through Windows' multimedia system (WinMM, a system DLL): what the
// output and the input back end share.
//
// Listing names each MIDI device of the direction "winmm:" and its name,
// with its device number (from 0) as its address, since two devices of one
// make have the same name; a device whose capabilities cannot be read is
// left out. Opening finds the device of that name and number. Errors are
// worded by WinMM's own error texts.
//
// Every WinMM call, of both directions, goes through one table of functions,
// so tests can put in fakes.
#pragma once

#include "MidiInputs.h"

#include <windows.h>

#include <mmsystem.h>

namespace midi_ports {

inline constexpr std::string_view kWinmmPrefix = "winmm:";

// Input buffers queued with the driver at once, and the size of each. A
// driver hands a buffer back at the end of every System Exclusive message,
// however short, and drops what comes while it holds none, telling no one
// (Wine's ALSA driver does). So the count bounds the messages that may come
// before the tool gives buffers back: 512 are over 20 s of 137-byte messages
// at a cable's 3,125 bytes a second, and half a second of the shortest. 256
// KiB in all, so a 64 KiB message fits even when the tool reads none of it
// before its end.
inline constexpr std::size_t kWinmmInputBuffers = 512;
inline constexpr std::size_t kWinmmInputBufferBytes = 512;

// WinMM's functions, each as X(member, function). midiOutGetErrorTextW
// words the errors of both directions, as midiInGetErrorTextW would.
#define VANTREL_WINMM_FUNCTIONS(X)                                                                 \
    X(getErrorText, midiOutGetErrorTextW)                                                          \
    X(outGetNumDevs, midiOutGetNumDevs)                                                            \
    X(outGetDevCaps, midiOutGetDevCapsW)                                                           \
    X(outOpen, midiOutOpen)                                                                        \
    X(outPrepareHeader, midiOutPrepareHeader)                                                      \
    X(outLongMsg, midiOutLongMsg)                                                                  \
    X(outUnprepareHeader, midiOutUnprepareHeader)                                                  \
    X(outReset, midiOutReset)                                                                      \
    X(outClose, midiOutClose)                                                                      \
    X(inGetNumDevs, midiInGetNumDevs)                                                              \
    X(inGetDevCaps, midiInGetDevCapsW)                                                             \
    X(inOpen, midiInOpen)                                                                          \
    X(inPrepareHeader, midiInPrepareHeader)                                                        \
    X(inAddBuffer, midiInAddBuffer)                                                                \
    X(inStart, midiInStart)                                                                        \
    X(inReset, midiInReset)                                                                        \
    X(inUnprepareHeader, midiInUnprepareHeader)                                                    \
    X(inClose, midiInClose)

struct WinmmFunctions {
#define VANTREL_WINMM_MEMBER(member, function) decltype(&function) member;
    VANTREL_WINMM_FUNCTIONS(VANTREL_WINMM_MEMBER)
#undef VANTREL_WINMM_MEMBER
};

const WinmmFunctions& RealWinmmFunctions();

// "what: WinMM's text for result".
std::string Describe(const WinmmFunctions& f, const std::string& what, MMRESULT result);

enum class WinmmDirection { Output, Input };

// Appends the devices of that direction, in WinMM's order, to `list`.
void ListWinmm(const WinmmFunctions& f, WinmmDirection direction, PortList& list);

// The number of the device `wanted` names (as List gave it), or nothing with
// `error` saying there is none.
std::optional<UINT> FindWinmm(const WinmmFunctions& f, WinmmDirection direction, const Port& wanted,
                              std::string& error);

// The output ports and the sources.
MidiBackEnds MakeWinmm(const WinmmFunctions& functions = RealWinmmFunctions(),
                       std::chrono::milliseconds timeout = kDeliveryTimeout);

std::unique_ptr<Ports> MakeWinmmPorts(const WinmmFunctions& functions,
                                      std::chrono::milliseconds timeout);
std::unique_ptr<Inputs> MakeWinmmInputs(const WinmmFunctions& functions);

} // namespace midi_ports
