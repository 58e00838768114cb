# The fuzz build (preset "fuzz", clang only): every module of the Linux
# chain - tarnel.wcx, SFMpq.dll and whatever runs beside them - is compiled
# with libFuzzer's coverage and with AddressSanitizer and UBSan, so that the
# fuzz targets in tests/fuzz/ are guided by our own code's branches and
# stop at its first memory fault. Debian's StormLib stays as it is shipped.
#
# The modules are loaded with dlopen, so they share one sanitizer runtime
# with the fuzz target: the shared one (-shared-libsan), which also lets
# them keep linking with --no-undefined. Programs find it through their
# run path.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "TARNEL_FUZZ needs clang (configure with the fuzz preset)")
endif()

add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined -shared-libsan)

execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-runtime-dir
                OUTPUT_VARIABLE TARNEL_CLANG_RUNTIME_DIR OUTPUT_STRIP_TRAILING_WHITESPACE)
set(TARNEL_FUZZER_LIBRARY ${TARNEL_CLANG_RUNTIME_DIR}/libclang_rt.fuzzer-${CMAKE_SYSTEM_PROCESSOR}.a)
if(NOT EXISTS ${TARNEL_FUZZER_LIBRARY})
  message(FATAL_ERROR "no libFuzzer at ${TARNEL_FUZZER_LIBRARY} (Debian: libclang-rt-14-dev)")
endif()
list(APPEND CMAKE_BUILD_RPATH ${TARNEL_CLANG_RUNTIME_DIR})
