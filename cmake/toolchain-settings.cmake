# Settings every target shares: the language level, warnings, the Win32 API
# level and static runtime for the DLL, and where the build puts programs.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-Wall -Wextra -Wpedantic)

# Programs and the library land at the top of the build folder whatever
# folder declares them: scripts, tests and the Python binding find them there.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

if(WIN32)
  set(REZ_PLATFORM_DIR win32)
  # The Win32 API level the code is written against: Windows 10.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00)
  # The DLL must load on a Windows machine with nothing else installed:
  # libgcc, libstdc++ and winpthread are linked in statically.
  add_link_options(-static -static-libgcc -static-libstdc++)
  set(REZ_SYSTEM_LIBS ws2_32 winmm setupapi iphlpapi shell32 advapi32)
else()
  set(REZ_PLATFORM_DIR posix)
  set(REZ_SYSTEM_LIBS pthread dl rt)
endif()
