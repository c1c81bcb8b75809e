# Shared settings and helpers for both build trees.

if(WIN32)
  set(VELMORA_WIN32 ON)
  # Windows XP SP3 is the oldest system the program starts on: the headers
  # then hide every later function, which is called only after a look-up at
  # run time. The 64-bit twin is built the same way, so that the Wine tests
  # run the same code as what ships.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0501 WINVER=0x0501)
else()
  set(VELMORA_WIN32 OFF)
  option(VELMORA_SANITIZE "Build native code with AddressSanitizer and UBSan" ON)
  if(VELMORA_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
endif()

# Warnings for our own targets only; third-party code keeps its own flags.
function(velmora_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# velmora_test(<name> SOURCES ... [LIBS ...] [LABEL native|win32])
# A GoogleTest executable whose tests are discovered just before they run,
# so a slow first Wine start does not break the build.
function(velmora_test name)
  cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  velmora_warnings(${name})
  # GCC 12 at -O2 reports a false overlap in std::string's operator+ (GCC bug
  # 105651), which tests build their expected texts with.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${name} PRIVATE -Wno-restrict)
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(NOT T_LABEL)
    if(WIN32)
      set(T_LABEL win32)
    else()
      set(T_LABEL native)
    endif()
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 120)
endfunction()

# The processor architecture a manifest names: the one this tree builds for.
function(velmora_manifest_arch out)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(${out} amd64 PARENT_SCOPE)
  else()
    set(${out} x86 PARENT_SCOPE)
  endif()
endfunction()
