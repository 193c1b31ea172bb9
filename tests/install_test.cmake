# `cmake --install` after either build the README gives: the quick start,
# which builds blockeig alone, and the test command, which builds everything.
# Each installs what it built, man pages with their programs.
#   cmake -DROOT=<source> -DBUILD=<build tree> -DBLOCKEIG=<blockeig>
#         -DLIBRARY=<libblockeig.so> [-DSCRTOOL=<scrtool, when built>]
#         -DGENERATOR=<generator> -DWORK=<scratch directory> -P install_test.cmake
# The quick start's tree is configured afresh and given the blockeig and the
# library already built (its build of blockeig builds the library too), so
# that the test costs a configure, not a build.
file(REMOVE_RECURSE "${WORK}")
set(quick "${WORK}/quick-start")
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${ROOT}" -B "${quick}" -G "${GENERATOR}" -DBUILD_TESTING=OFF
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring a fresh tree failed:\n${out}")
endif()
file(COPY "${BLOCKEIG}" DESTINATION "${quick}")
file(GLOB library_files "${LIBRARY}*")  # the library, its soname link and its name link
file(COPY ${library_files} DESTINATION "${quick}/library")

# Installs `tree` into `prefix`; fails unless exactly the `expected` files of
# the programs and man pages are there.
function(expect_install tree prefix expected)
  execute_process(COMMAND "${CMAKE_COMMAND}" --install "${tree}" --prefix "${prefix}"
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install ${tree} failed:\n${out}")
  endif()
  foreach(file bin/blockeig bin/scrtool share/man/man1/blockeig.1 share/man/man1/scrtool.1)
    list(FIND expected "${file}" wanted)
    if(EXISTS "${prefix}/${file}" AND wanted EQUAL -1)
      message(FATAL_ERROR "cmake --install ${tree} installed ${file}, which it should not:\n${out}")
    elseif(NOT EXISTS "${prefix}/${file}" AND NOT wanted EQUAL -1)
      message(FATAL_ERROR "cmake --install ${tree} did not install ${file}:\n${out}")
    endif()
  endforeach()
  set(install_output "${out}" PARENT_SCOPE)
endfunction()

expect_install("${quick}" "${WORK}/quick-prefix" "bin/blockeig;share/man/man1/blockeig.1")
if(NOT install_output MATCHES "Not installing scrtool: it is not built")
  message(FATAL_ERROR "the install after the quick start does not say that scrtool is not built:\n${install_output}")
endif()

set(everything bin/blockeig share/man/man1/blockeig.1)
if(SCRTOOL)
  list(APPEND everything bin/scrtool share/man/man1/scrtool.1)
endif()
expect_install("${BUILD}" "${WORK}/full-prefix" "${everything}")
file(REMOVE_RECURSE "${WORK}")
