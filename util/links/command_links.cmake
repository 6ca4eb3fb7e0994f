# Makes a symbolic link named after each command in COMMANDS_FILE (one name a
# line) in LINK_DIR, each leading to LINK_TARGET. Run with cmake -P by the
# build, and included by the install step.
file(STRINGS "${COMMANDS_FILE}" commands)
if(NOT commands)
  message(FATAL_ERROR "${COMMANDS_FILE} names no command")
endif()
file(MAKE_DIRECTORY "${LINK_DIR}")
foreach(cmd ${commands})
  if(LINK_VERBOSE)
    message(STATUS "Installing: ${LINK_DIR}/${cmd}")
  endif()
  file(CREATE_LINK "${LINK_TARGET}" "${LINK_DIR}/${cmd}" SYMBOLIC)
endforeach()
