# Fails when a file under docs/ or man/, or the README, holds a path of the
# machine it was made on: a temporary, home or work directory. Binary files
# are searched too, through their printable strings (a picture's metadata).
#   cmake -DROOT=<source directory> -P no_machine_paths.cmake
file(GLOB_RECURSE files "${ROOT}/docs/*" "${ROOT}/man/*")
list(APPEND files "${ROOT}/README.md")
set(found "")
foreach(file IN LISTS files)
  file(STRINGS "${file}" lines REGEX "(^|[^A-Za-z0-9_.~-])/(tmp|root|home|work)(/|$|[^A-Za-z0-9_.-])")
  foreach(line IN LISTS lines)
    file(RELATIVE_PATH name "${ROOT}" "${file}")
    string(APPEND found "  ${name}: ${line}\n")
  endforeach()
endforeach()
if(found)
  message(FATAL_ERROR "paths of a machine in the documentation:\n${found}")
endif()
