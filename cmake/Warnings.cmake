# Warnings for our own targets only: rizi_warnings(<target>).
function(rizi_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wconversion)
    if(RIZI_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
