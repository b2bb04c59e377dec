// Linked into the Windows test executables: reports at start whether the
// tests are running under Wine, and which version, so a test log shows where
// the Windows build was proven.
#include "WineVersion.h"

#include <cstdio>

namespace {

struct ReportPlatform {
    ReportPlatform() {
        if (const char* wine = driving::WineVersion()) {
            std::printf("Running under Wine %s\n", wine);
        } else {
            std::printf("Running on Windows (not Wine)\n");
        }
    }
} reportPlatform;

} // namespace
