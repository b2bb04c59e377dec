// Whether the receiver's process callback missed one of the JACK server's
// periods, told from the frame times the callback reads: a period that ran
// without the callback is one whose events the source sent and the
// receiver never saw.
//
// The callback reads the frame time at which the server's current period
// began (jack_last_frame_time). A callback that runs late, after the server
// has started the next period, reads that next period's time: one period
// ahead, though it missed nothing, and the callback after it then reads the
// same time again. So a time one period ahead is only Unsure: the next
// callback settles it, as a late read when it reads the same time again, as
// a missed period when it does not. A time more than one period ahead is a
// missed period at once, and a time behind (a period's time read twice) is
// taken as it comes: nothing was missed. How often each case came in
// measured runs is in docs/design.md.
//
// For the real-time thread: it allocates nothing and takes no lock.
#pragma once

#include <cstdint>

namespace midi_ports {

class PeriodTimes {
  public:
    enum class Timing {
        OnTime, // the callback follows the last as it should
        Missed, // a period ran without it: what came then is lost
        Unsure, // one period ahead: the next callback settles it
    };
    // How the next callback settles an Unsure one, if there is one.
    enum class Settled { Nothing, LateRead, Missed };

    struct Verdict {
        Settled last = Settled::Nothing; // on the callback before, if it was Unsure
        Timing now = Timing::OnTime;     // on this callback
    };

    // Takes the frame time `start` that a callback of `frames` frames read.
    Verdict Next(std::uint32_t start, std::uint32_t frames);

  private:
    bool ran_ = false;
    bool unsure_ = false;
    // The frame time the next callback reads when no period is missed and
    // it runs in time.
    std::uint32_t expected_ = 0;
};

} // namespace midi_ports
