# Warnings every target of ours gets (not the fuzz drivers' generated code).
# A function with external linkage needs a declaration in a header (or an
# anonymous namespace): -Wmissing-declarations under GCC, its clang
# counterpart -Wmissing-prototypes.
add_compile_options(
  $<$<COMPILE_LANGUAGE:CXX>:-Wall> $<$<COMPILE_LANGUAGE:CXX>:-Wextra>
  $<$<COMPILE_LANGUAGE:CXX>:-Wshadow> $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:C>:-Wall> $<$<COMPILE_LANGUAGE:C>:-Wextra>)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wmissing-prototypes>)
else()
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wmissing-declarations>)
endif()
add_compile_options($<$<COMPILE_LANGUAGE:C>:-Wmissing-prototypes>)

# PELORA_WERROR=ON (scripts/test.sh, CI) makes every warning in our code an
# error. Headers of Qt, FFmpeg and GoogleTest come in as system headers and
# do not count.
option(PELORA_WERROR "Treat compiler warnings as errors" OFF)
if(PELORA_WERROR)
  add_compile_options(-Werror)
endif()

# With clang, the lock annotations (platform/win/thread_annotations.h) are
# checked, and a violation fails the build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wthread-safety>
                      $<$<COMPILE_LANGUAGE:CXX>:-Werror=thread-safety>)
endif()
