// Sending a batch of input events; see InputEvents.h.
#include "InputEvents.h"

namespace driving {

Sent SendEvents(std::span<INPUT> events) {
    Sent sent;
    sent.total = static_cast<UINT>(events.size());
    sent.taken = SendInput(sent.total, events.data(), sizeof(INPUT));
    if (sent.taken != sent.total) {
        sent.error = GetLastError();
    }
    return sent;
}

} // namespace driving
