# Chooses the operating-system layer. Platform code lives in src/<area>/posix and
# src/<area>/win32; this is the one place that decides which of them is built.
if(WIN32)
  set(MAU_OS win32)
else()
  set(MAU_OS posix)
endif()

if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(MAU_WARNINGS -Wall -Wextra -Wpedantic -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
                   -Wcast-align -Wformat=2 -Wimplicit-fallthrough)
endif()

if(MINGW)
  # One self-contained DLL and self-contained test programs: no libgcc, libstdc++ or
  # winpthread DLLs next to them.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 UNICODE _UNICODE)
endif()
