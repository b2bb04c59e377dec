// Opens platform libraries with dlopen, once each, and never closes them
// (PlatformLibrary.h says why).
#include "PlatformLibrary.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

namespace midi_ports {

bool PlatformLibrary::Load(const char* soname, const char* const* names, void** slots,
                           std::size_t count, std::string& error) {
    static std::mutex lock;
    static std::map<std::string, void*> opened; // nullptr: looked for and not found
    const std::lock_guard<std::mutex> held(lock);
    auto [entry, first] = opened.try_emplace(soname, nullptr);
    if (first) {
        entry->second = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    }
    void* library = entry->second;
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
