// The ALSA sequencer, on alsa-lib: one client of the sequencer that the
// output ports (--send, --list-ports) and the sources (--receive,
// --list-inputs) share.
//
// Ports are named "alsa:CLIENT:PORT" with the address "14:0" (client and
// port numbers), as aconnect and aplaymidi -p name them. The walk lists the
// MIDI ports of other clients that have the direction's capabilities and are
// not hidden: for output, ports that take writes and subscriptions; for
// input, ports that can be read and subscribed to. Connecting creates one
// port of this program's own client and subscribes it to the chosen port,
// or the chosen port to it.
//
// Nothing here touches alsa-lib until a run first lists or connects: then
// the client loads libasound.so.2 (PlatformLibrary.h), opens the sequencer
// (duplex and non-blocking, named "vantrel-convert") and silences
// alsa-lib's error messages. Without /dev/snd/seq (as in a container) the
// back end is skipped quietly: no ports, nothing said, and nothing loaded.
// A missing library is named like a server that cannot be reached.
//
// The sequencer is in the kernel: opening, walking and connecting are calls
// that do not wait. The only waits are polls of the sequencer's
// descriptors, and each has its deadline.
//
// The same back end lists each card's raw MIDI subdevices beside the
// sequencer's ports and opens them directly, without the sequencer
// (RawMidi.cpp): "alsa:CARD:SUBDEVICE" at the address "hw:1,0,0" (card,
// device, subdevice), as amidi names them.
//
// Every alsa-lib call, accessors included, goes through one table of
// functions (AlsaLibrary).
#pragma once

#include "MidiInputs.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <span>

namespace midi_ports {

inline constexpr std::string_view kAlsaPrefix = "alsa:";

// The kernel's largest input pool (SNDRV_SEQ_MAX_CLIENT_EVENTS), in cells of
// 28 bytes, and an alsa-lib input buffer that holds all of it at once.
inline constexpr std::size_t kAlsaInputPoolCells = 2000;
inline constexpr std::size_t kAlsaInputBufferBytes = 128 * 1024;

// alsa-lib's functions: each as X(member, function), the sequencer's first,
// then the control interface's and raw MIDI's (RawMidi.h).
#define VANTREL_ALSA_FUNCTIONS(X)                                                                  \
    X(strerror, snd_strerror)                                                                      \
    X(setErrorHandler, snd_lib_error_set_handler)                                                  \
    X(open, snd_seq_open)                                                                          \
    X(close, snd_seq_close)                                                                        \
    X(setClientName, snd_seq_set_client_name)                                                      \
    X(clientId, snd_seq_client_id)                                                                 \
    X(clientInfoMalloc, snd_seq_client_info_malloc)                                                \
    X(clientInfoFree, snd_seq_client_info_free)                                                    \
    X(clientInfoSetClient, snd_seq_client_info_set_client)                                         \
    X(clientInfoGetClient, snd_seq_client_info_get_client)                                         \
    X(clientInfoGetName, snd_seq_client_info_get_name)                                             \
    X(clientInfoGetCard, snd_seq_client_info_get_card)                                             \
    X(portInfoMalloc, snd_seq_port_info_malloc)                                                    \
    X(portInfoFree, snd_seq_port_info_free)                                                        \
    X(portInfoSetClient, snd_seq_port_info_set_client)                                             \
    X(portInfoSetPort, snd_seq_port_info_set_port)                                                 \
    X(portInfoGetCapability, snd_seq_port_info_get_capability)                                     \
    X(portInfoGetType, snd_seq_port_info_get_type)                                                 \
    X(portInfoGetName, snd_seq_port_info_get_name)                                                 \
    X(portInfoGetAddr, snd_seq_port_info_get_addr)                                                 \
    X(queryNextClient, snd_seq_query_next_client)                                                  \
    X(queryNextPort, snd_seq_query_next_port)                                                      \
    X(setInputBufferSize, snd_seq_set_input_buffer_size)                                           \
    X(setClientPoolInput, snd_seq_set_client_pool_input)                                           \
    X(createSimplePort, snd_seq_create_simple_port)                                                \
    X(connectTo, snd_seq_connect_to)                                                               \
    X(connectFrom, snd_seq_connect_from)                                                           \
    X(eventOutput, snd_seq_event_output)                                                           \
    X(drainOutput, snd_seq_drain_output)                                                           \
    X(syncOutputQueue, snd_seq_sync_output_queue)                                                  \
    X(eventInput, snd_seq_event_input)                                                             \
    X(pollDescriptorsCount, snd_seq_poll_descriptors_count)                                        \
    X(pollDescriptors, snd_seq_poll_descriptors)                                                   \
    X(cardNext, snd_card_next)                                                                     \
    X(ctlOpen, snd_ctl_open)                                                                       \
    X(ctlClose, snd_ctl_close)                                                                     \
    X(cardInfoMalloc, snd_ctl_card_info_malloc)                                                    \
    X(cardInfoFree, snd_ctl_card_info_free)                                                        \
    X(cardInfo, snd_ctl_card_info)                                                                 \
    X(cardInfoGetId, snd_ctl_card_info_get_id)                                                     \
    X(cardInfoGetName, snd_ctl_card_info_get_name)                                                 \
    X(rawNextDevice, snd_ctl_rawmidi_next_device)                                                  \
    X(rawInfo, snd_ctl_rawmidi_info)                                                               \
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

// The table those functions are called through, filled from the library
// (AlsaClient.cpp) or by a test's fake.
struct AlsaLibrary {
#define VANTREL_ALSA_MEMBER(member, function) decltype(&function) member;
    VANTREL_ALSA_FUNCTIONS(VANTREL_ALSA_MEMBER)
#undef VANTREL_ALSA_MEMBER
};

enum class AlsaDirection { Output, Input };

// What the client needs of the system, and where alsa-lib comes from.
struct AlsaFunctions {
    bool (*sequencerPresent)(); // whether the device exists
    bool (*cardsPresent)();     // whether any card's control device exists
    int (*poll)(pollfd* descriptors, nfds_t count, int milliseconds);
    // Fills `library`, or returns false with `error` saying why
    // ("libasound.so.2 is not installed").
    bool (*load)(AlsaLibrary& library, std::string& error);
    // Reads a whole file of the kernel's (/proc/asound/...) into `text`;
    // false when it cannot.
    bool (*readText)(const char* path, std::string& text);
};

// /dev/snd/seq and /dev/snd/controlC* as the devices, the system's poll,
// libasound.so.2 and the system's files.
const AlsaFunctions& RealAlsaFunctions();

// The fields of one part ("Input 0", "Output 1") of the kernel's file about a
// card's raw MIDI device, /proc/asound/cardC/midiD, by name: "Overruns"
// gives "812", "Owner PID" the process holding it open. Empty when the file
// or the part is missing.
std::map<std::string, std::string, std::less<>> RawMidiPart(const AlsaFunctions& system, int card,
                                                            int device, std::string_view part);

// A port of this client connected to another, as Connect gives it.
struct AlsaConnection {
    std::string error;      // why there is none, when not empty
    snd_seq_addr_t self{};  // this client's port
    snd_seq_addr_t other{}; // the port chosen
    // The sound card whose raw MIDI device the kernel's bridge
    // (snd-seq-midi) serves through the port chosen, or -1.
    int card = -1;
};

using Clock = std::chrono::steady_clock;

// What is left of the time up to `deadline`, in whole milliseconds rounded
// up; 0 once it has passed.
inline std::chrono::milliseconds TimeLeft(Clock::time_point deadline) {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
}

// alsa-lib's objects of one kind, allocated by `make` and freed by `free`.
template <class T> struct Held {
    T* p = nullptr;
    void (*free)(T*) = nullptr;
    Held(int (*make)(T**), void (*release)(T*)) : free(release) {
        if (make(&p) < 0) {
            p = nullptr;
        }
    }
    ~Held() {
        if (p != nullptr) {
            free(p);
        }
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

class AlsaClient {
  public:
    explicit AlsaClient(const AlsaFunctions& functions) : system_(functions) {}
    ~AlsaClient();
    AlsaClient(const AlsaClient&) = delete;
    AlsaClient& operator=(const AlsaClient&) = delete;

    // Appends the ports of that direction, the sequencer's and then the
    // cards' raw MIDI subdevices, or names in list.unreachable what cannot
    // be opened.
    void List(AlsaDirection direction, PortList& list);

    // Loads the library on first use; false, with the reason in
    // LoadError(), when it cannot be.
    bool Loaded();
    const std::string& LoadError() const { return loadError_; }

    const AlsaFunctions& System() const { return system_; }

    // Creates this client's port and connects it with `wanted` (as List gave
    // it). Only after that are f() and Sequencer() of use.
    AlsaConnection Connect(AlsaDirection direction, const Port& wanted);

    const AlsaLibrary& f() const { return library_; }
    snd_seq_t* Sequencer() const { return sequencer_; }

    // "what: alsa-lib's text for error".
    std::string Because(const std::string& what, int error) const;

    // Waits up to `wait` until the sequencer is ready for `events` (POLLIN,
    // POLLOUT): above 0 when it is, 0 when the wait ran out, a negative
    // error code when it failed (-EINTR for a signal).
    int Wait(short events, std::chrono::milliseconds wait);

    // Polls `descriptors` up to `wait`: as Wait.
    int Poll(std::span<pollfd> descriptors, std::chrono::milliseconds wait) const;

  private:
    struct Found {
        Port port;
        snd_seq_addr_t address;
        int card; // as in AlsaConnection
    };

    bool Open();
    std::vector<Found> Walk(AlsaDirection direction);

    const AlsaFunctions& system_;
    AlsaLibrary library_{};
    snd_seq_t* sequencer_ = nullptr;
    bool tried_ = false;
    std::string error_; // why the sequencer could not be opened, if it could not
    bool loadTried_ = false;
    bool loaded_ = false;
    std::string loadError_;
    std::vector<pollfd> descriptors_;
};

// The output ports and the sources of one client.
MidiBackEnds MakeAlsa(const AlsaFunctions& functions = RealAlsaFunctions(),
                      std::chrono::milliseconds timeout = kDeliveryTimeout);

// One direction each, on a client they share.
std::unique_ptr<Ports> MakeAlsaPorts(std::shared_ptr<AlsaClient> client,
                                     std::chrono::milliseconds timeout);
std::unique_ptr<Inputs> MakeAlsaInputs(std::shared_ptr<AlsaClient> client);

// A card's raw MIDI subdevices (RawMidi.cpp): whether `port` is one (its
// address "hw:C,D,S"), listing them, and opening one.
bool IsRawPort(const Port& port);
void ListRawPorts(AlsaClient& client, AlsaDirection direction, PortList& list);
Opened OpenRawOutput(AlsaClient& client, const Port& port, std::chrono::milliseconds timeout);
OpenedInput OpenRawInput(AlsaClient& client, const Port& port);

} // namespace midi_ports
