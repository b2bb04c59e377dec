// Growing a string for the writers of Conversion.h to write into.
#include "Conversion.h"

namespace conversion::detail {

template <typename Char> Char* Extend(std::basic_string<Char>& text, std::size_t more) {
    const std::size_t size = text.size();
#ifdef __cpp_lib_string_resize_and_overwrite
    // Every new character is written by the caller, so the zero fill that
    // resize would do first is wasted work, and for a long command a whole
    // extra pass over the text.
    text.resize_and_overwrite(size + more, [](Char*, std::size_t length) { return length; });
#else
    text.resize(size + more);
#endif
    return text.data() + size;
}

template char* Extend(std::string&, std::size_t);
template char16_t* Extend(std::u16string&, std::size_t);

} // namespace conversion::detail
