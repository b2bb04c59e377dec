// A card's raw MIDI subdevices, opened directly rather than through the
// sequencer's snd-seq-midi: a back end of its own beside the sequencer
// (AlsaClient.h), for both directions, on one table of alsa-lib's functions
// loaded on first use (AlsaSystem.h).
//
// Listing walks the cards' control devices: each raw MIDI subdevice that has
// the direction's stream is "alsa:CARD:SUBDEVICE" at "hw:C,D,S" (card,
// device, subdevice), as amidi names them, and also chosen by
// "hw:CARDID,D,S". Without any card's control device the back end is
// skipped quietly. How sending and receiving go is told in RawMidi.cpp.
#pragma once

#include "AlsaSystem.h"

#include <chrono>
#include <memory>
#include <string>

namespace midi_ports {

// The control interface's functions, which find the cards and their raw
// MIDI devices, each as X(member, function).
#define VANTREL_ALSA_CONTROL_FUNCTIONS(X)                                                          \
    X(cardNext, snd_card_next)                                                                     \
    X(ctlOpen, snd_ctl_open)                                                                       \
    X(ctlClose, snd_ctl_close)                                                                     \
    X(cardInfoMalloc, snd_ctl_card_info_malloc)                                                    \
    X(cardInfoFree, snd_ctl_card_info_free)                                                        \
    X(cardInfo, snd_ctl_card_info)                                                                 \
    X(cardInfoGetId, snd_ctl_card_info_get_id)                                                     \
    X(cardInfoGetName, snd_ctl_card_info_get_name)                                                 \
    X(rawNextDevice, snd_ctl_rawmidi_next_device)                                                  \
    X(rawInfo, snd_ctl_rawmidi_info)

// The functions the raw MIDI back end calls: the control interface's, then
// raw MIDI's own.
#define VANTREL_ALSA_RAW_MIDI_FUNCTIONS(X)                                                         \
    VANTREL_ALSA_COMMON_FUNCTIONS(X)                                                               \
    VANTREL_ALSA_CONTROL_FUNCTIONS(X)                                                              \
    X(rawInfoMalloc, snd_rawmidi_info_malloc)                                                      \
    X(rawInfoFree, snd_rawmidi_info_free)                                                          \
    X(rawInfoSetDevice, snd_rawmidi_info_set_device)                                               \
    X(rawInfoSetSubdevice, snd_rawmidi_info_set_subdevice)                                         \
    X(rawInfoSetStream, snd_rawmidi_info_set_stream)                                               \
    X(rawInfoGetSubdevices, snd_rawmidi_info_get_subdevices_count)                                 \
    X(rawInfoGetName, snd_rawmidi_info_get_name)                                                   \
    X(rawInfoGetSubdeviceName, snd_rawmidi_info_get_subdevice_name)                                \
    X(rawOpen, snd_rawmidi_open)                                                                   \
    X(rawClose, snd_rawmidi_close)                                                                 \
    X(rawDrop, snd_rawmidi_drop)                                                                   \
    X(rawDrain, snd_rawmidi_drain)                                                                 \
    X(rawWrite, snd_rawmidi_write)                                                                 \
    X(rawRead, snd_rawmidi_read)                                                                   \
    X(rawParamsMalloc, snd_rawmidi_params_malloc)                                                  \
    X(rawParamsFree, snd_rawmidi_params_free)                                                      \
    X(rawParamsCurrent, snd_rawmidi_params_current)                                                \
    X(rawParamsSetBufferSize, snd_rawmidi_params_set_buffer_size)                                  \
    X(rawParamsGetBufferSize, snd_rawmidi_params_get_buffer_size)                                  \
    X(rawParamsSetAvailMin, snd_rawmidi_params_set_avail_min)                                      \
    X(rawParams, snd_rawmidi_params)                                                               \
    X(rawStatusMalloc, snd_rawmidi_status_malloc)                                                  \
    X(rawStatusFree, snd_rawmidi_status_free)                                                      \
    X(rawStatus, snd_rawmidi_status)                                                               \
    X(rawStatusGetAvail, snd_rawmidi_status_get_avail)                                             \
    X(rawStatusGetXruns, snd_rawmidi_status_get_xruns)                                             \
    X(rawPollDescriptorsCount, snd_rawmidi_poll_descriptors_count)                                 \
    X(rawPollDescriptors, snd_rawmidi_poll_descriptors)

// The table those functions are called through.
struct RawMidiLibrary {
#define VANTREL_ALSA_MEMBER(member, function) decltype(&function) member;
    VANTREL_ALSA_RAW_MIDI_FUNCTIONS(VANTREL_ALSA_MEMBER)
#undef VANTREL_ALSA_MEMBER
};

// Fills `library`, or returns false with `error` saying why ("libasound.so.2
// is not installed").
using RawMidiLoader = bool (*)(RawMidiLibrary& library, std::string& error);

// From libasound.so.2.
bool LoadRawMidiLibrary(RawMidiLibrary& library, std::string& error);

// What both directions share: the system and the library, loaded on first
// use.
class RawMidiClient {
  public:
    RawMidiClient(const AlsaSystem& system, RawMidiLoader load) : system_(system), load_(load) {}

    // Appends the subdevices of that direction, or names in
    // list.unreachable why the library cannot be loaded.
    void List(AlsaDirection direction, PortList& list);

    // Loads the library on first use; false, with the reason in
    // LoadError(), when it cannot be.
    bool Loaded();
    const std::string& LoadError() const { return loadError_; }

    const AlsaSystem& System() const { return system_; }
    // alsa-lib's control and raw MIDI functions, once Loaded().
    const RawMidiLibrary& Library() const { return library_; }

    // "what: alsa-lib's text for error".
    std::string Because(const std::string& what, int error) const {
        return midi_ports::Because(library_.strerror, what, error);
    }

  private:
    const AlsaSystem& system_;
    const RawMidiLoader load_;
    RawMidiLibrary library_{};
    bool loadTried_ = false;
    bool loaded_ = false;
    std::string loadError_;
};

// The output ports and the sources of the cards' raw MIDI subdevices.
MidiBackEnds MakeRawMidi(const AlsaSystem& system = RealAlsaSystem(),
                         RawMidiLoader load = LoadRawMidiLibrary,
                         std::chrono::milliseconds timeout = kDeliveryTimeout);

} // namespace midi_ports
