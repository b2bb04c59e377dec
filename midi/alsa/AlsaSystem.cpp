// What the ALSA back ends share; see AlsaSystem.h.
#include "AlsaSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <sstream>

namespace midi_ports {

namespace {

bool SequencerPresent() {
    return access("/dev/snd/seq", F_OK) == 0;
}

bool CardsPresent() {
    DIR* const devices = opendir("/dev/snd");
    if (devices == nullptr) {
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(devices)) {
        found = found || std::string_view(entry->d_name).starts_with("controlC");
    }
    closedir(devices);
    return found;
}

bool ReadText(const char* path, std::string& text) {
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return false;
    }
    text.clear();
    char block[4096];
    ssize_t got = 0;
    while ((got = ::read(file, block, sizeof block)) > 0 || (got < 0 && errno == EINTR)) {
        text.append(block, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    ::close(file);
    return got == 0;
}

} // namespace

const AlsaSystem& RealAlsaSystem() {
    static const AlsaSystem system = {SequencerPresent, CardsPresent, ::poll, ReadText};
    return system;
}

std::map<std::string, std::string, std::less<>> RawMidiPart(const AlsaSystem& system, int card,
                                                            int device, std::string_view part) {
    std::map<std::string, std::string, std::less<>> fields;
    std::string text;
    if (!system.readText(
            ("/proc/asound/card" + std::to_string(card) + "/midi" + std::to_string(device)).c_str(),
            text)) {
        return fields;
    }
    // A part is a line of its name, then lines "  Name : value", indented.
    std::istringstream lines(text);
    bool inPart = false;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t colon = line.find(':');
        if (!line.starts_with(' ')) {
            inPart = line == part;
        } else if (inPart && colon != std::string::npos) {
            const auto trimmed = [&](std::size_t from, std::size_t to) {
                const std::size_t first = line.find_first_not_of(' ', from);
                const std::size_t last = line.find_last_not_of(' ', to - 1);
                return first < to ? line.substr(first, last + 1 - first) : std::string();
            };
            fields[trimmed(0, colon)] = trimmed(colon + 1, line.size());
        }
    }
    return fields;
}

void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

int PollFor(const AlsaSystem& system, std::span<pollfd> descriptors,
            std::chrono::milliseconds wait) {
    const int ready =
        system.poll(descriptors.data(), static_cast<nfds_t>(descriptors.size()),
                    static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX)));
    return ready < 0 ? -errno : ready;
}

} // namespace midi_ports
