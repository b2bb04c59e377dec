// Choosing a port: by a line of the list, by address, by the whole name
// (letter case first), and by a part of it.
#include "PortChoice.h"

#include <gtest/gtest.h>

namespace {

using namespace midi_ports;

TEST(PortChoice, TheMostPreciseWayThatNamesAnyPortDecides) {
    const PortList list = {{
                               {"jack:Synth:in", ""},
                               {"jack:synth:in", ""},
                               {"jack:midi-monitor:input", ""},
                               {"alsa:Midi Through:Midi Through Port-0", "14:0"},
                               {"alsa:USB MIDI:USB MIDI MIDI 1", "20:0"},
                               {"alsa:USB MIDI:USB MIDI MIDI 1", "24:0"},
                               {"alsa:Seq:Port", "3:4"},
                               {"jack:3:4", ""},
                               {"winmm:USB MIDI", "2"},
                               {"winmm:USB MIDI", "3"},
                               {"winmm:GS Wavetable Synth", "0"},
                               {"alsa:Midi Through:Midi Through Port-0", "hw:0,0,0", "hw:Thru,0,0"},
                               {"alsa:Card:Raw Only", "hw:1,0,2", "hw:Card,0,2"},
                           },
                           {}};
    const std::string several = "matches several";
    const std::string none = "no MIDI output port matches";
    const std::pair<std::string, std::string> cases[] = {
        // A whole line of the list.
        {"alsa:USB MIDI:USB MIDI MIDI 1  [24:0]", "alsa:USB MIDI:USB MIDI MIDI 1  [24:0]"},
        {"winmm:USB MIDI  [3]", "winmm:USB MIDI  [3]"},
        // An address, before any name: "3:4" is the ALSA port at 3:4, not
        // the JACK port named so, which its whole name still chooses.
        {"alsa:14:0", "alsa:Midi Through:Midi Through Port-0  [14:0]"},
        {"14:0", "alsa:Midi Through:Midi Through Port-0  [14:0]"},
        {"020:000", "alsa:USB MIDI:USB MIDI MIDI 1  [20:0]"},
        {"winmm:2", "winmm:USB MIDI  [2]"},
        {"winmm:0", "winmm:GS Wavetable Synth  [0]"},
        {"3:4", "alsa:Seq:Port  [3:4]"},
        {"alsa:3:4", "alsa:Seq:Port  [3:4]"},
        {"jack:3:4", "jack:3:4"},
        {"alsa:2", none},     // the ALSA sequencer has no device numbers
        {"winmm:14:0", none}, // nor WinMM client:port addresses
        {"2", none},          // a number alone is no address, and no name has a 2
        // A card's raw MIDI subdevice, by number or card ID; by name only
        // where no other port has the name.
        {"hw:0,0,0", "alsa:Midi Through:Midi Through Port-0  [hw:0,0,0]"},
        {"alsa:hw:Thru,0,0", "alsa:Midi Through:Midi Through Port-0  [hw:0,0,0]"},
        {"hw:01,000,2", "alsa:Card:Raw Only  [hw:1,0,2]"},
        {"alsa:Midi Through:Midi Through Port-0  [hw:0,0,0]",
         "alsa:Midi Through:Midi Through Port-0  [hw:0,0,0]"},
        {"Midi Through Port-0", "alsa:Midi Through:Midi Through Port-0  [14:0]"},
        {"raw only", "alsa:Card:Raw Only  [hw:1,0,2]"},
        {"hw:0,0", none},
        // Whole names, letter case first, with or without the prefix.
        {"jack:Synth:in", "jack:Synth:in"},
        {"jack:synth:in", "jack:synth:in"},
        {"synth:in", "jack:synth:in"},
        {"SYNTH:IN", several},
        {"MIDI-MONITOR:INPUT", "jack:midi-monitor:input"},
        {"winmm:gs wavetable synth", "winmm:GS Wavetable Synth  [0]"},
        {"USB MIDI", several},
        // A part, in either case.
        {"monitor", "jack:midi-monitor:input"},
        {"Synth", several},
        {"wavetable", "winmm:GS Wavetable Synth  [0]"},
        {"through port", "alsa:Midi Through:Midi Through Port-0  [14:0]"},
        {"nowhere", none},
    };
    for (const auto& [wanted, chosen] : cases) {
        const PortChoice choice = ChoosePort(list, wanted);
        if (choice.port) {
            EXPECT_EQ(chosen, ListLine(*choice.port)) << wanted;
            EXPECT_TRUE(choice.error.empty());
        } else {
            ASSERT_FALSE(choice.error.empty()) << wanted;
            EXPECT_NE(std::string::npos, choice.error.front().find(chosen))
                << wanted << ": " << choice.error.front();
        }
    }
    // Ports of one name are listed with their addresses, to choose from.
    const std::vector<std::string> usb = {"\"USB MIDI\" matches several MIDI output ports:",
                                          "  winmm:USB MIDI  [2]", "  winmm:USB MIDI  [3]"};
    EXPECT_EQ(usb, ChoosePort(list, "USB MIDI").error);
}

} // namespace
