// A recording fake of the MIDI ports, for in-process tests of what
// vantrel-convert sends: it lists the ports it is given, fails where told,
// and records every call in order.
#pragma once

#include "MidiPorts.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class RecordingPorts final : public midi_ports::Ports {
  public:
    midi_ports::PortList ports;         // what List gives
    std::string openError;              // when set, Open fails with it
    std::size_t failingSend = SIZE_MAX; // the Send (counted from 0) that fails
    std::string finishError;            // when set, Finish fails with it
    std::size_t maxMessageBytes = 4096; // what the port carries whole
    // A failure that Trouble reports once `troubleAfter` messages were sent
    // (SIZE_MAX: once Finish was called).
    std::optional<midi_ports::SendFailure> trouble;
    std::size_t troubleAfter = SIZE_MAX;
    // After a resumable trouble: where Resume takes sending up again, once
    // (nothing: it cannot), and how many messages count as confirmed.
    std::optional<std::size_t> resumeFrom;
    std::size_t confirmed = SIZE_MAX;

    // "list", "open LINE", "send", "finish" and "trouble" (when Trouble
    // reports one), in the order they came; tests may add their own.
    std::vector<std::string> calls;
    std::vector<std::string> sent; // the bytes of each message sent

    void List(midi_ports::PortList& list) override {
        calls.push_back("list");
        list.ports.insert(list.ports.end(), ports.ports.begin(), ports.ports.end());
        list.unreachable.insert(list.unreachable.end(), ports.unreachable.begin(),
                                ports.unreachable.end());
    }

    midi_ports::Opened Open(const midi_ports::Port& port) override {
        calls.push_back("open " + midi_ports::ListLine(port));
        if (!openError.empty()) {
            return {nullptr, openError};
        }
        return {std::make_unique<Output>(*this), {}};
    }

  private:
    class Output final : public midi_ports::OutputPort {
      public:
        explicit Output(RecordingPorts& ports) : ports_(ports) {}

        std::size_t MaxMessageBytes() const override { return ports_.maxMessageBytes; }

        std::optional<std::string> Send(std::span<const std::uint8_t> message) override {
            ports_.calls.push_back("send");
            if (ports_.sent.size() == ports_.failingSend) {
                return "the fake fails here";
            }
            ports_.sent.emplace_back(message.begin(), message.end());
            return std::nullopt;
        }

        std::optional<std::string> Finish() override {
            ports_.calls.push_back("finish");
            finished_ = true;
            if (!ports_.finishError.empty()) {
                return ports_.finishError;
            }
            return std::nullopt;
        }

        std::optional<midi_ports::SendFailure> Trouble() override {
            const bool due = ports_.troubleAfter == SIZE_MAX
                                 ? finished_
                                 : ports_.sent.size() >= ports_.troubleAfter;
            if (!due || !ports_.trouble) {
                return std::nullopt;
            }
            ports_.calls.push_back("trouble");
            return std::exchange(ports_.trouble, std::nullopt);
        }

        std::optional<std::size_t> Resume() override {
            ports_.calls.push_back("resume");
            return std::exchange(ports_.resumeFrom, std::nullopt);
        }
        std::size_t Confirmed() const override { return ports_.confirmed; }

      private:
        RecordingPorts& ports_;
        bool finished_ = false;
    };
};
