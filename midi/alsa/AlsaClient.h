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
// the client loads its functions (AlsaSystem.h), opens the sequencer
// (duplex and non-blocking, named "vantrel-convert") and silences
// alsa-lib's error messages. Without /dev/snd/seq (as in a container) the
// back end is skipped quietly.
//
// The sequencer is in the kernel: opening, walking and connecting are calls
// that do not wait. The only waits are polls of the sequencer's
// descriptors, and each has its deadline.
//
// A card's raw MIDI subdevices, which share the prefix "alsa:", are another
// back end (RawMidi.h).
#pragma once

#include "AlsaSystem.h"

#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace midi_ports {

// The kernel's largest input pool (SNDRV_SEQ_MAX_CLIENT_EVENTS), in cells of
// 28 bytes, and an alsa-lib input buffer that holds all of it at once.
inline constexpr std::size_t kAlsaInputPoolCells = 2000;
inline constexpr std::size_t kAlsaInputBufferBytes = 128 * 1024;

// The sequencer's alsa-lib functions, each as X(member, function).
#define VANTREL_ALSA_SEQUENCER_FUNCTIONS(X)                                                        \
    VANTREL_ALSA_COMMON_FUNCTIONS(X)                                                               \
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
    X(pollDescriptors, snd_seq_poll_descriptors)

// The table those functions are called through.
struct SequencerLibrary {
#define VANTREL_ALSA_MEMBER(member, function) decltype(&function) member;
    VANTREL_ALSA_SEQUENCER_FUNCTIONS(VANTREL_ALSA_MEMBER)
#undef VANTREL_ALSA_MEMBER
};

// Fills `library`, or returns false with `error` saying why ("libasound.so.2
// is not installed").
using SequencerLoader = bool (*)(SequencerLibrary& library, std::string& error);

// From libasound.so.2.
bool LoadSequencerLibrary(SequencerLibrary& library, std::string& error);

// A port of this client connected to another, as Connect gives it.
struct AlsaConnection {
    std::string error;      // why there is none, when not empty
    snd_seq_addr_t self{};  // this client's port
    snd_seq_addr_t other{}; // the port chosen
    // The sound card whose raw MIDI device the kernel's bridge
    // (snd-seq-midi) serves through the port chosen, or -1.
    int card = -1;
};

class AlsaClient {
  public:
    AlsaClient(const AlsaSystem& system, SequencerLoader load) : system_(system), load_(load) {}
    ~AlsaClient();
    AlsaClient(const AlsaClient&) = delete;
    AlsaClient& operator=(const AlsaClient&) = delete;

    // Appends the sequencer's ports of that direction, or names in
    // list.unreachable why the sequencer cannot be opened.
    void List(AlsaDirection direction, PortList& list);

    const AlsaSystem& System() const { return system_; }

    // Creates this client's port and connects it with `wanted` (as List gave
    // it). Only after that are Library() and Sequencer() of use.
    AlsaConnection Connect(AlsaDirection direction, const Port& wanted);

    // alsa-lib's sequencer functions, as loaded.
    const SequencerLibrary& Library() const { return library_; }
    snd_seq_t* Sequencer() const { return sequencer_; }

    // "what: alsa-lib's text for error".
    std::string Because(const std::string& what, int error) const;

    // Waits up to `wait` until the sequencer is ready for `events` (POLLIN,
    // POLLOUT): as PollFor.
    int Wait(short events, std::chrono::milliseconds wait);

  private:
    struct Found {
        Port port;
        snd_seq_addr_t address;
        int card; // as in AlsaConnection
    };

    bool Open();
    std::vector<Found> Walk(AlsaDirection direction);

    const AlsaSystem& system_;
    const SequencerLoader load_;
    SequencerLibrary library_{};
    snd_seq_t* sequencer_ = nullptr;
    bool tried_ = false;
    std::string error_; // why the sequencer could not be opened, if it could not
    std::vector<pollfd> descriptors_;
};

// The output ports and the sources of the sequencer, on one client.
MidiBackEnds MakeAlsaSequencer(const AlsaSystem& system = RealAlsaSystem(),
                               SequencerLoader load = LoadSequencerLibrary,
                               std::chrono::milliseconds timeout = kDeliveryTimeout);

// One direction each, on a client they share.
std::unique_ptr<Ports> MakeAlsaPorts(std::shared_ptr<AlsaClient> client,
                                     std::chrono::milliseconds timeout);
std::unique_ptr<Inputs> MakeAlsaInputs(std::shared_ptr<AlsaClient> client);

} // namespace midi_ports
