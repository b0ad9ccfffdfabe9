# Warnings for the project's own targets (never applied to third-party code).
function(hcf_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                         -Wno-sign-conversion)
  # g++ 12 warns about members left to their default initialisers in designated initialisers
  # (later releases do not); the option structs are meant to be used that way.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-missing-field-initializers)
    # ... and, at -O3, reports overlapping copies inside std::string that cannot happen
    # (GCC bug 105651).
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  # Under ThreadSanitizer g++'s flow analysis takes std::optional<std::string> temporaries for
  # maybe uninitialised (a false positive; the ordinary and AddressSanitizer builds keep it).
  if(HCF_TSAN AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-maybe-uninitialized)
  endif()
  # A unity build includes sources into one file, where g++ takes their anonymous-namespace
  # types for a header's (test fixtures, private state): the warning is meant for headers.
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
  if(HCF_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
