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
