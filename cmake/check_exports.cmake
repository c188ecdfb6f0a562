# Checks that a plug-in library exports exactly EXPECTED. Run with cmake -P:
#   -DTOOL=<nm or objdump> -DMODE=<elf|pe> -DLIBRARY=<file> -DEXPECTED=<symbol>
# ELF: the defined dynamic symbols (nm -D --defined-only), where symbols the toolchain
# adds on its own (_init, _fini, version nodes) are ignored. PE: the names of the export
# table (objdump -p), which must be the undecorated name and nothing else.
if(MODE STREQUAL "elf")
  execute_process(COMMAND ${TOOL} -D --defined-only ${LIBRARY} RESULT_VARIABLE status
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors)
else()
  execute_process(COMMAND ${TOOL} -p ${LIBRARY} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE errors)
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} failed on ${LIBRARY}: ${errors}")
endif()

set(exported "")
string(REPLACE "\n" ";" lines "${output}")
if(MODE STREQUAL "elf")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F ]* [A-Za-z] ([^ ]+)$")
      set(name "${CMAKE_MATCH_1}")
      string(REGEX REPLACE "@.*$" "" name "${name}")
      if(NOT name MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
        list(APPEND exported "${name}")
      endif()
    endif()
  endforeach()
else()
  set(inTable FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(inTable TRUE)
    elseif(inTable AND line MATCHES "^[ \t]*\\[ *[0-9]+\\]")
      string(REGEX MATCH "[^ \t]+$" name "${line}")
      list(APPEND exported "${name}")
    elseif(inTable AND line STREQUAL "")
      set(inTable FALSE)
    endif()
  endforeach()
endif()

if(NOT exported STREQUAL EXPECTED)
  message(FATAL_ERROR "${LIBRARY} exports [${exported}], expected exactly [${EXPECTED}]")
endif()
message(STATUS "${LIBRARY} exports exactly ${EXPECTED}")
