# Helpers that every folder uses to declare its targets the same way.

# mau_apply_defaults(target): language level, warnings and include roots of the project.
function(mau_apply_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_compile_options(${target} PRIVATE ${MAU_WARNINGS})
endfunction()

# mau_add_test(NAME name SOURCES ... [LIBS ...]): one GoogleTest program per subsystem,
# registered with CTest as a single test. Cross builds run it through the emulator (wine).
function(mau_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  mau_apply_defaults(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} mau-test-support mau-global-new GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT 600)
endfunction()

# mau_add_plugin_library(target SOURCES ...): a plug-in shared library that exports
# only load_mau_discord_rp. It carries its own static copy of the C++ runtime, so the
# global operator new it routes through the allocation hooks stays inside the library.
function(mau_add_plugin_library target)
  cmake_parse_arguments(P "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${target} SHARED ${P_SOURCES} ${PROJECT_SOURCE_DIR}/src/plugin/runtime_release.cpp)
  mau_apply_defaults(${target})
  target_link_libraries(${target} PRIVATE ${P_LIBS} mau-sdk mau-global-new)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    target_link_options(${target} PRIVATE
      -static-libstdc++ -static-libgcc
      -Wl,--version-script=${PROJECT_SOURCE_DIR}/src/plugin.map
      -Wl,--exclude-libs,ALL -Wl,--no-undefined)
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${PROJECT_SOURCE_DIR}/src/plugin.map)
  endif()
endfunction()

# mau_add_export_check(target): a test that the plug-in library exports exactly
# load_mau_discord_rp, undecorated: the PE export table on Windows (objdump -p), the
# defined dynamic symbols on Linux (nm -D), besides what the toolchain itself adds. On
# Windows the same test checks that the DLL is of the build's width (PE32 i386 or PE32+
# x86-64) and imports only from the system's DLLs. The test runs no program of the build,
# so it is labelled "static": it runs on machines that cannot run the build's programs.
function(mau_add_export_check target)
  if(WIN32)
    find_program(MAU_OBJDUMP NAMES ${CMAKE_OBJDUMP} ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-objdump objdump REQUIRED)
    set(tool ${MAU_OBJDUMP})
    set(mode pe)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(format pei-x86-64)
    else()
      set(format pei-i386)
    endif()
  else()
    find_program(MAU_NM NAMES ${CMAKE_NM} nm REQUIRED)
    set(tool ${MAU_NM})
    set(mode elf)
    set(format "")
  endif()
  add_test(NAME ${target}-exports
    COMMAND ${CMAKE_COMMAND} -DTOOL=${tool} -DMODE=${mode} -DFORMAT=${format}
            -DLIBRARY=$<TARGET_FILE:${target}> -DEXPECTED=load_mau_discord_rp
            -P ${PROJECT_SOURCE_DIR}/cmake/check_exports.cmake)
  set_tests_properties(${target}-exports PROPERTIES LABELS static)
endfunction()
