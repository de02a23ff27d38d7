# PELORA_SANITIZE=address builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; PELORA_SANITIZE=thread with ThreadSanitizer.
if(PELORA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(PELORA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT PELORA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "PELORA_SANITIZE must be empty, 'address' or 'thread'")
endif()
