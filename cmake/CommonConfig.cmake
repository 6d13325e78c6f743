# The warnings alone, for code that must not carry the sanitizer flags (the
# virtual unit's libusb stand-in, loaded into the uninstrumented dfu-util).
add_library(updater_warnings INTERFACE)
target_compile_options(updater_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
  -Woverloaded-virtual -Wformat=2)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # QtTest's QSKIP(message) expands to a variadic macro called without its variadic part.
  target_compile_options(updater_warnings INTERFACE -Wno-gnu-zero-variadic-macro-arguments)
endif()

# Flags every other target of ours shares: warnings, definitions and the optional sanitizers.
add_library(updater_common INTERFACE)
target_link_libraries(updater_common INTERFACE updater_warnings)
target_compile_definitions(updater_common INTERFACE
  QT_DEPRECATED_WARNINGS QT_NO_FOREACH
  # Log lines carry no file, line or function, whatever the build type.
  QT_NO_MESSAGELOGCONTEXT)
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  target_compile_definitions(updater_common INTERFACE DEBUG)
endif()

if(UPDATER_SANITIZE STREQUAL "address")
  target_compile_options(updater_common INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(updater_common INTERFACE -fsanitize=address,undefined)
elseif(UPDATER_SANITIZE STREQUAL "thread")
  target_compile_options(updater_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(updater_common INTERFACE -fsanitize=thread)
elseif(NOT UPDATER_SANITIZE STREQUAL "")
  message(FATAL_ERROR "UPDATER_SANITIZE must be empty, 'address' or 'thread'")
endif()
