# Fails unless CI (.ci/run) runs the README's test command as it stands.
#   cmake -DROOT=<source directory> -P readme_test_command.cmake
file(STRINGS "${ROOT}/README.md" readme REGEX "^scripts/install-packages tests ")
file(STRINGS "${ROOT}/.ci/run" ci REGEX "^scripts/install-packages tests ")
list(LENGTH readme count)
if(NOT count EQUAL 1)
  message(FATAL_ERROR "the README holds ${count} test commands, not one")
endif()
if(NOT readme STREQUAL ci)
  message(FATAL_ERROR "the README's test command\n  ${readme}\nis not what .ci/run runs:\n  ${ci}")
endif()
