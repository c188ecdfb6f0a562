# Checks that a plug-in library exports exactly EXPECTED. Run with cmake -P:
#   -DTOOL=<nm or objdump> -DMODE=<elf|pe> -DLIBRARY=<file> -DEXPECTED=<symbol>
#   [-DFORMAT=<pei-i386|pei-x86-64>]
# ELF: the defined dynamic symbols (nm -D --defined-only), where symbols the toolchain
# adds on its own (_init, _fini, version nodes) are ignored. PE: the names of the export
# table (objdump -p), which must be the undecorated name and nothing else; besides, the
# file must be of FORMAT and import only from DLLs that every Windows has, so that the
# one file is all a host needs (no libstdc++, libgcc or winpthread DLL beside it).
cmake_minimum_required(VERSION 3.25)

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

if(MODE STREQUAL "pe")
  if(NOT output MATCHES "file format ${FORMAT}")
    string(REGEX MATCH "file format [^\n]*" found "${output}")
    message(FATAL_ERROR "${LIBRARY} is not ${FORMAT} (${found})")
  endif()
  # Windows' own DLLs and the API sets that stand for them.
  set(system_dlls kernel32 advapi32 msvcrt ucrtbase ntdll user32 ws2_32 shell32 ole32
                  bcrypt userenv)
  set(imports "")
  foreach(line IN LISTS lines)
    if(line MATCHES "DLL Name: (.+)$")
      string(STRIP "${CMAKE_MATCH_1}" dll)
      list(APPEND imports "${dll}")
      string(TOLOWER "${dll}" lower)
      string(REGEX REPLACE "\\.dll$" "" lower "${lower}")
      if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
        message(FATAL_ERROR "${LIBRARY} imports from ${dll}, which is not a system DLL")
      endif()
    endif()
  endforeach()
  message(STATUS "${LIBRARY} is ${FORMAT} and imports only from [${imports}]")
endif()
