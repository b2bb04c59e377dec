# Warnings for the project's own targets (not for GoogleTest's sources).
function(vantrel_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                             -Wsign-conversion)
    if(VANTREL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
