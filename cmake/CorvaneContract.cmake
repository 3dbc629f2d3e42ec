# Generates ${CMAKE_BINARY_DIR}/src/generated/Contract.h from api/contract.txt: each
# key=value line becomes a constant (CONTRACT_ENTRY_CLASS for "entry.class", and so
# on), so that the launcher takes the shared values from the one file.
set(corvane_contract_file ${CMAKE_SOURCE_DIR}/api/contract.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${corvane_contract_file})
file(STRINGS ${corvane_contract_file} corvane_contract_lines REGEX "^[a-z][a-z.-]*=")
set(corvane_contract_header "// Generated from api/contract.txt by cmake/CorvaneContract.cmake: edit that file.\n#pragma once\n\n")
foreach(line IN LISTS corvane_contract_lines)
  # Split at the first '=' only: a value may hold '=' itself.
  string(FIND "${line}" "=" equals)
  string(SUBSTRING "${line}" 0 ${equals} key)
  math(EXPR value_start "${equals} + 1")
  string(SUBSTRING "${line}" ${value_start} -1 value)
  string(TOUPPER "CONTRACT_${key}" name)
  string(REGEX REPLACE "[.-]" "_" name "${name}")
  string(APPEND corvane_contract_header "constexpr char ${name}[] = \"${value}\";\n")
  if(key STREQUAL "jdk.minimum")
    set(CORVANE_CONTRACT_JDK_MINIMUM ${value})
  endif()
endforeach()
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/src/generated/Contract.h CONTENT "${corvane_contract_header}")
