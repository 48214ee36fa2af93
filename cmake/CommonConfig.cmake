# One interface target carries the compiler flags and the strict Qt defines for every target of the
# project: the libraries, the program, the tests, the benchmarks and the fuzzers.
add_library(kestrune_flags INTERFACE)
target_compile_features(kestrune_flags INTERFACE cxx_std_20)
target_compile_options(kestrune_flags INTERFACE -Wall -Wextra)
if(KESTRUNE_WERROR)
    target_compile_options(kestrune_flags INTERFACE -Werror)
endif()
target_compile_definitions(kestrune_flags INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_FOREACH)
# A benchmark build can print the steps of a start and of a window opening (sources/StepTimes.h).
if(KESTRUNE_BUILD_BENCH)
    target_compile_definitions(kestrune_flags INTERFACE KESTRUNE_STEP_TIMES)
endif()
if(KESTRUNE_SANITIZE)
    target_compile_options(kestrune_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                   -fno-sanitize-recover=undefined)
    target_link_options(kestrune_flags INTERFACE -fsanitize=address,undefined)
endif()
