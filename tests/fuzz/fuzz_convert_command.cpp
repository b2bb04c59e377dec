// libFuzzer target: any byte string, read as UTF-16 code units, must convert
// without fault and agree with the plain model on both the result text and
// the trimmed command handed back.
#include "ConvertCommand.h"
#include "ReferenceConversion.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string typed(size / 2, u'\0');
    std::memcpy(typed.data(), data, typed.size() * sizeof(char16_t));

    const reference::Outcome expected = reference::Convert(typed);
    std::u16string command = typed;
    const std::u16string result = ConvertCommand(command);
    if (result != expected.result || command != expected.trimmed) {
        std::abort();
    }
    return 0;
}
