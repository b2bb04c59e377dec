// MIDI input through Windows' multimedia system (WinMM, a system DLL).
//
// Listing names each MIDI input device "winmm:" and its name. Opening opens
// the device with a callback function, prepares several buffers and queues
// them all with midiInAddBuffer before starting, so that System Exclusive
// data can keep coming while the tool reads a full buffer: the driver fills
// the buffers in turn and hands each one back when it is full or a message
// ends. A message longer than a buffer comes in several, and is put
// together again by SysexAssembler.
//
// The callback (MidiInProc) runs in a thread of the driver's and may call no
// WinMM function, so it only notes what came and wakes the tool's thread.
// That thread copies the bytes out and gives each buffer back to the driver
// with midiInAddBuffer. MIM_LONGERROR (a System Exclusive message the driver
// found broken) ends the message in progress as broken; MIM_ERROR (a broken
// short message) is reported as a loss. Other short messages are ignored.
// Stopping resets the device, which hands back the buffers it still holds,
// the partly filled one among them: its bytes come out last.
//
// Every WinMM call goes through a table of functions, so tests can put in a
// fake driver.
#pragma once

#include "MidiInputs.h"

#include <windows.h>

#include <mmsystem.h>

#include <cstddef>
#include <memory>

namespace midi_ports {

// Buffers queued with the driver at once, and the size of each: 128 KiB in
// all, so a 64 KiB message fits even when the tool reads none of it before
// its end.
inline constexpr std::size_t kWinmmInputBuffers = 8;
inline constexpr std::size_t kWinmmInputBufferBytes = 16 * 1024;

struct WinmmInputFunctions {
    decltype(&midiInGetNumDevs) getNumDevs;
    decltype(&midiInGetDevCapsW) getDevCaps;
    decltype(&midiInOpen) open;
    decltype(&midiInPrepareHeader) prepareHeader;
    decltype(&midiInAddBuffer) addBuffer;
    decltype(&midiInStart) start;
    decltype(&midiInReset) reset;
    decltype(&midiInUnprepareHeader) unprepareHeader;
    decltype(&midiInClose) close;
    decltype(&midiInGetErrorTextW) getErrorText;
};

const WinmmInputFunctions& RealWinmmInputFunctions();

std::unique_ptr<Inputs>
MakeWinmmInputs(const WinmmInputFunctions& functions = RealWinmmInputFunctions());

} // namespace midi_ports
