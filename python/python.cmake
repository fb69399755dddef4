# The Python binding's tests run on Linux builds, against the library just
# built, with Debian's python3 (the one that has matplotlib).
# Sanitizer builds are left out: python3 cannot load an instrumented library
# without the sanitizer runtime preloaded.
if(REZ_BUILD_TESTS AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  if(EXISTS /usr/bin/python3)
    add_test(NAME python
             COMMAND /usr/bin/python3 -m unittest discover -s ${CMAKE_CURRENT_LIST_DIR}/tests -t ${CMAKE_CURRENT_LIST_DIR}/tests
             WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
    set_tests_properties(python PROPERTIES LABELS "unit;python" TIMEOUT 300 RESOURCE_LOCK machine_names
                         ENVIRONMENT "REZ_LIBRARY_PATH=$<TARGET_FILE:rezadedudid>;REZ_DOCUMENTS_DIR=${CMAKE_BINARY_DIR};REZ_SIM_PATH=$<TARGET_FILE_DIR:rezadedudid>/rezadedudid-sim;MPLBACKEND=Agg")
  else()
    message(STATUS "python tests skipped: /usr/bin/python3 not found")
  endif()
endif()
