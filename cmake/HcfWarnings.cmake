# Warnings for the project's own targets (never applied to third-party code).
function(hcf_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                         -Wno-sign-conversion)
  if(HCF_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
