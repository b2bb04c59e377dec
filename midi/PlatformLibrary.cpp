// Opens platform libraries with dlopen and never closes them
// (PlatformLibrary.h says why).
#include "PlatformLibrary.h"

#include <dlfcn.h>

namespace midi_ports {

bool PlatformLibrary::Load(const char* soname, const char* const* names, void** slots,
                           std::size_t count, std::string& error) {
    // dlopen hands back the same library however often it is asked, and
    // nothing ever closes it: each back end fills its table only once.
    void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        error = std::string(soname) + " is not installed";
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        slots[i] = dlsym(library, names[i]);
        if (slots[i] == nullptr) {
            error = std::string(soname) + " has no " + names[i];
            return false;
        }
    }
    return true;
}

} // namespace midi_ports
