# ON (or address,undefined) builds with AddressSanitizer and UndefinedBehaviorSanitizer, thread with
# ThreadSanitizer, which cannot share a process with AddressSanitizer.
set(QUILLBOX_SANITIZE OFF CACHE STRING "Sanitizers to build with: OFF, ON (address,undefined) or thread")
set_property(CACHE QUILLBOX_SANITIZE PROPERTY STRINGS OFF ON address,undefined thread)
option(QUILLBOX_BUILD_TESTS "Build the GoogleTest suite" ON)
option(QUILLBOX_BUILD_BENCH "Build the benchmark programs (bench/compare turns this on)" OFF)
option(QUILLBOX_FUZZ "Build the fuzz targets as libFuzzer programs (clang only; fuzz/run turns this on)" OFF)

function(quillbox_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(QUILLBOX_SANITIZE STREQUAL "thread")
  set(QUILLBOX_SANITIZER_FLAGS -fsanitize=thread)
elseif(QUILLBOX_SANITIZE STREQUAL "address,undefined" OR QUILLBOX_SANITIZE)
  set(QUILLBOX_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
endif()
if(QUILLBOX_SANITIZER_FLAGS)
  # Sanitizer runtime flags apply to every target, third-party test code included, so the whole
  # process is instrumented the same way.
  add_compile_options(${QUILLBOX_SANITIZER_FLAGS} -fno-omit-frame-pointer)
  add_link_options(${QUILLBOX_SANITIZER_FLAGS})
  # A debug build is instrumented at -O1, as the sanitizers' authors advise: every check stays and
  # the stacks stay readable, while the tests of gibibyte inputs no longer take minutes each.
  # GCC 12 then finds members inside std::regex and std::function "maybe uninitialized" where the
  # instrumentation hides their initialisation from it; the plain build keeps that warning.
  add_compile_options($<$<CONFIG:Debug>:-O1> $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
endif()

if(QUILLBOX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUILLBOX_FUZZ needs clang (libFuzzer): configure with CC=clang CXX=clang++")
  endif()
  # Everything the targets reach is instrumented for coverage and checked by the sanitizers;
  # only the fuzz programs themselves link the fuzzing engine.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
