# Warnings every target of ours gets (not the fuzz drivers' generated code).
add_compile_options(
  $<$<COMPILE_LANGUAGE:CXX>:-Wall> $<$<COMPILE_LANGUAGE:CXX>:-Wextra>
  $<$<COMPILE_LANGUAGE:CXX>:-Wshadow> $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:C>:-Wall> $<$<COMPILE_LANGUAGE:C>:-Wextra>)

# With clang, the lock annotations (platform/win/thread_annotations.h) are
# checked, and a violation fails the build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wthread-safety>
                      $<$<COMPILE_LANGUAGE:CXX>:-Werror=thread-safety>)
endif()
