// MIDI output through Windows' multimedia system (WinMM, a system DLL).
//
// Listing names each MIDI output device "winmm:" and its name, with its
// device number (from 0) as its address, since two devices of one make have
// the same name. Opening opens the device of that number with an event that
// WinMM signals when a buffer is done. Each message is prepared as a buffer,
// sent with midiOutLongMsg, and waited for until the driver marks it done.
// A driver that plays the message on a cable takes the message's time on
// the wire to do so, so the deadline is the message's wire time at the
// cable's rate on top of the usual one. A send that times out resets the
// device, so the driver gives the buffer back before it is freed. Errors
// are worded by midiOutGetErrorTextW.
//
// Every WinMM call goes through a table of functions, so tests can put in
// fakes (an open that fails, a send that completes late or never).
#pragma once

#include "MidiPorts.h"

#include <windows.h>

#include <mmsystem.h>

#include <chrono>
#include <memory>
#include <string_view>

namespace midi_ports {

inline constexpr std::string_view kWinmmPrefix = "winmm:";

struct WinmmFunctions {
    decltype(&midiOutGetNumDevs) getNumDevs;
    decltype(&midiOutGetDevCapsW) getDevCaps;
    decltype(&midiOutOpen) open;
    decltype(&midiOutPrepareHeader) prepareHeader;
    decltype(&midiOutLongMsg) longMsg;
    decltype(&midiOutUnprepareHeader) unprepareHeader;
    decltype(&midiOutReset) reset;
    decltype(&midiOutClose) close;
    decltype(&midiOutGetErrorTextW) getErrorText;
};

const WinmmFunctions& RealWinmmFunctions();

std::unique_ptr<Ports> MakeWinmmPorts(const WinmmFunctions& functions = RealWinmmFunctions(),
                                      std::chrono::milliseconds timeout = kDeliveryTimeout);

} // namespace midi_ports
