# Built-in trusted keys. Each program that links quorvel_core links one key
# table: quorvel_keys (the maker's keys, QUORVEL_TRUSTED_KEYS) for the
# programs, quorvel_keys_none for tests and fuzzers unless they ask for
# another. quorvel_key_table(NAME KEY_FILES...) makes a table; the files
# may be written by the build itself (a test key pair).
set(QUORVEL_TRUSTED_KEYS "" CACHE STRING
    "Public key files (quorvel-pack keygen) whose signatures the programs accept; empty: no check")

function(quorvel_key_table name)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${out} "-DKEYS=${ARGN}" -P ${CMAKE_SOURCE_DIR}/cmake/WriteKeyTable.cmake
    DEPENDS ${ARGN} ${CMAKE_SOURCE_DIR}/cmake/WriteKeyTable.cmake
    COMMENT "Key table ${name}" VERBATIM)
  add_library(${name} STATIC ${out})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
endfunction()
