# Third-party code comes from the system's packages; nothing is vendored.
find_package(Threads REQUIRED)

# rapidjson is header-only. The cross build must not see the rest of /usr/include, so
# the build tree gets an include folder of its own that links to rapidjson's headers.
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/rapidjson.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(MAU_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third_party/include)
file(MAKE_DIRECTORY ${MAU_THIRD_PARTY_INCLUDE})
if(NOT EXISTS ${MAU_THIRD_PARTY_INCLUDE}/rapidjson)
  file(CREATE_LINK ${RAPIDJSON_INCLUDE_DIR}/rapidjson ${MAU_THIRD_PARTY_INCLUDE}/rapidjson SYMBOLIC)
endif()
add_library(mau-rapidjson INTERFACE)
target_include_directories(mau-rapidjson SYSTEM INTERFACE ${MAU_THIRD_PARTY_INCLUDE})

if(MAU_BUILD_TESTS)
  if(CMAKE_CROSSCOMPILING)
    # Debian ships GoogleTest's sources; build them with the cross toolchain.
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()

# libyaml: the system's package on Linux. The Windows build compiles Debian's libyaml
# source package, which the bootstrap of ./run unpacks into build/third_party/libyaml,
# as a static library with the cross toolchain.
if(CMAKE_CROSSCOMPILING)
  set(MAU_LIBYAML_SOURCE ${PROJECT_SOURCE_DIR}/build/third_party/libyaml CACHE PATH
      "Unpacked libyaml source package for the cross build")
  if(NOT EXISTS ${MAU_LIBYAML_SOURCE}/src/api.c OR NOT EXISTS ${MAU_LIBYAML_SOURCE}/configure.ac)
    message(FATAL_ERROR "libyaml's source is missing from ${MAU_LIBYAML_SOURCE}; "
                        "./run build windows-i686 fetches it")
  endif()
  file(STRINGS ${MAU_LIBYAML_SOURCE}/configure.ac MAU_LIBYAML_VERSION_LINES
       REGEX "^m4_define\\(\\[YAML_(MAJOR|MINOR|PATCH)\\]")
  foreach(part MAJOR MINOR PATCH)
    string(REGEX REPLACE ".*\\[YAML_${part}\\], *([0-9]+)\\).*" "\\1" MAU_LIBYAML_${part}
           "${MAU_LIBYAML_VERSION_LINES}")
  endforeach()
  file(GLOB MAU_LIBYAML_SOURCES CONFIGURE_DEPENDS ${MAU_LIBYAML_SOURCE}/src/*.c)
  add_library(mau-yaml STATIC EXCLUDE_FROM_ALL ${MAU_LIBYAML_SOURCES})
  target_include_directories(mau-yaml SYSTEM PUBLIC ${MAU_LIBYAML_SOURCE}/include)
  # Without YAML_DECLARE_STATIC, yaml.h declares its functions as DLL imports.
  target_compile_definitions(mau-yaml PUBLIC YAML_DECLARE_STATIC PRIVATE
    YAML_VERSION_MAJOR=${MAU_LIBYAML_MAJOR} YAML_VERSION_MINOR=${MAU_LIBYAML_MINOR}
    YAML_VERSION_PATCH=${MAU_LIBYAML_PATCH}
    YAML_VERSION_STRING="${MAU_LIBYAML_MAJOR}.${MAU_LIBYAML_MINOR}.${MAU_LIBYAML_PATCH}")
  target_compile_options(mau-yaml PRIVATE -w)
else()
  find_path(LIBYAML_INCLUDE_DIR yaml.h REQUIRED)
  find_library(LIBYAML_LIBRARY yaml REQUIRED)
  add_library(mau-yaml INTERFACE)
  target_include_directories(mau-yaml SYSTEM INTERFACE ${LIBYAML_INCLUDE_DIR})
  target_link_libraries(mau-yaml INTERFACE ${LIBYAML_LIBRARY})
endif()
