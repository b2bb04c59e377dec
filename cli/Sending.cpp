// Listing ports, and sending to one; see Sending.h.
#include "Sending.h"

#include "Escapes.h"
#include "Message.h"
#include "PortChoice.h"

#include <ostream>
#include <span>
#include <thread>

void ListPorts(midi_ports::Ports& ports, std::string& out, std::ostream& err) {
    midi_ports::PortList list;
    ports.List(list);
    for (const std::string& name : list.names) {
        out += name;
        out += '\n';
    }
    if (list.names.empty()) {
        WriteError(err, midi_ports::DescribeNoPorts(list));
    }
}

void WriteError(std::ostream& err, const std::vector<std::string>& lines) {
    std::string text = "vantrel-convert: ";
    for (const std::string& line : lines) {
        AppendControlsEscaped(line, text);
        text += '\n';
    }
    err.write(text.data(), static_cast<std::streamsize>(text.size()));
}

Sender::Sender(midi_ports::Ports& ports, std::string_view wanted,
               std::chrono::milliseconds interval)
    : interval_(interval) {
    midi_ports::PortList list;
    ports.List(list);
    midi_ports::PortChoice choice = midi_ports::ChoosePort(list, wanted);
    if (!choice.error.empty()) {
        error_ = std::move(choice.error);
        return;
    }
    port_ = std::move(choice.name);
    midi_ports::Opened opened = ports.Open(port_);
    if (opened.output == nullptr) {
        error_ = {"cannot open " + port_ + ": " + opened.error};
        return;
    }
    output_ = std::move(opened.output);
}

std::optional<std::string> Sender::Send(std::u16string_view command) {
    bytes_.clear();
    if (!message::AppendBytes(command, bytes_)) {
        return "the message is not valid MIDI";
    }
    if (sentOne_ && interval_.count() > 0) {
        std::this_thread::sleep_for(interval_);
    }
    sentOne_ = true;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes_.data());
    if (auto error = output_->Send(std::span(data, bytes_.size()))) {
        return "cannot send to " + port_ + ": " + *error;
    }
    return std::nullopt;
}

std::optional<std::string> Sender::Finish() {
    if (auto error = output_->Finish()) {
        return "cannot send to " + port_ + ": " + *error;
    }
    return std::nullopt;
}
