# `cmake --install`: the header, the library (on Linux with its soname links
# and its symbols kept aside), a CMake package config (target
# rezadedudid::rezadedudid) with its version file and a pkg-config file; for
# Windows the DLL in bin/, its import library and a .def file in lib/.
# Fixed folder names (not GNUInstallDirs' per-distribution ones) keep the
# package relocatable: the pkg-config file finds its prefix from where it lies.
include(CMakePackageConfigHelpers)

set(REZ_HEADER ${CMAKE_SOURCE_DIR}/include/rezadedudid.h)
target_include_directories(rezadedudid INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                                 $<INSTALL_INTERFACE:include>)

install(TARGETS rezadedudid EXPORT rezadedudidTargets
        RUNTIME DESTINATION bin
        LIBRARY DESTINATION lib
        ARCHIVE DESTINATION lib)
if(NOT WIN32 AND CMAKE_OBJCOPY AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  # The installed library ships without its symbols, as the DLL does: they go
  # to librezadedudid.so.X.Y.Z.debug beside it, which gdb finds through the
  # debug link. Both files are made from the built library, not from the
  # installed copy, so that installing twice never splits a stripped file.
  # (The library links only system libraries: the build gives it no run
  # path that the install would have to rewrite.) Debug builds keep theirs.
  install(CODE "set(REZ_OBJCOPY \"${CMAKE_OBJCOPY}\")")
  install(CODE [[
    set(built "$<TARGET_FILE:rezadedudid>")
    set(installed "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/$<TARGET_FILE_NAME:rezadedudid>")
    message(STATUS "Stripping: ${installed} (symbols in ${installed}.debug)")
    execute_process(COMMAND "${REZ_OBJCOPY}" --only-keep-debug "${built}" "${installed}.debug"
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND "${REZ_OBJCOPY}" --strip-all "--add-gnu-debuglink=${installed}.debug" "${built}" "${installed}"
                    COMMAND_ERROR_IS_FATAL ANY)
  ]])
endif()
install(FILES ${REZ_HEADER} DESTINATION include)

set(REZ_CMAKE_DIR lib/cmake/rezadedudid)
install(EXPORT rezadedudidTargets NAMESPACE rezadedudid:: DESTINATION ${REZ_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/rezadedudidConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/package/rezadedudidConfig.cmake
                              INSTALL_DESTINATION ${REZ_CMAKE_DIR})
# 0.x releases may change the interface from one minor version to the next.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/rezadedudidConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/rezadedudidConfig.cmake
              ${CMAKE_BINARY_DIR}/package/rezadedudidConfigVersion.cmake
        DESTINATION ${REZ_CMAKE_DIR})

# pkg-config has no notion of where a library is found at run time, so the
# .pc file hands the linker a run path to the installed library: a program
# built with `$(pkg-config --libs rezadedudid)` starts without
# LD_LIBRARY_PATH. (The DLL is found beside the program instead.)
if(WIN32)
  set(REZ_PC_RUNPATH "")
else()
  set(REZ_PC_RUNPATH "-Wl,-rpath,\${libdir} ")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/rezadedudid.pc.in ${CMAKE_BINARY_DIR}/package/rezadedudid.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/rezadedudid.pc DESTINATION lib/pkgconfig)

if(WIN32)
  # The .def file (for hosts whose toolchain makes its own import library,
  # e.g. `lib /def:rezadedudid.def /machine:x64`) lists the C exports, taken
  # from the header's declarations so that no second list has to be kept.
  # The C++ class is left out: only GNU C++ hosts can use it, through the
  # import library.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${REZ_HEADER})
  file(STRINGS ${REZ_HEADER} declarations REGEX "^REZ_API [^(]*[ *][A-Za-z_][A-Za-z0-9_]*\\(")
  set(REZ_DEF_EXPORTS "")
  foreach(line IN LISTS declarations)
    string(REGEX REPLACE "^REZ_API [^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(.*" "\\1" name "${line}")
    string(APPEND REZ_DEF_EXPORTS "    ${name}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/package/rezadedudid.def
       CONTENT "LIBRARY rezadedudid.dll\nEXPORTS\n${REZ_DEF_EXPORTS}")
  install(FILES ${CMAKE_BINARY_DIR}/package/rezadedudid.def DESTINATION lib)
endif()
