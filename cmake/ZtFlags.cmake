# Compiler flags shared by every target of the project.
#
# The game's arithmetic must give the same bits on every build, so the
# floating-point flags are spelled out rather than left to defaults: no
# fast-math, no contraction into fused multiply-adds, doubles stored as doubles.

set(ZT_WARNING_FLAGS -Wall -Wextra)
if(ZT_WERROR)
  list(APPEND ZT_WARNING_FLAGS -Werror)
endif()

set(ZT_FP_FLAGS -fno-fast-math -fno-unsafe-math-optimizations -ffp-contract=off)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i.86|x86)$")
  # 32-bit x86 would keep doubles in x87 registers with excess precision;
  # doubles go through SSE so that every store of a double rounds.
  list(APPEND ZT_FP_FLAGS -msse2 -mfpmath=sse)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  # The default on x86-64, spelled out: doubles in SSE registers, long double on the x87 unit.
  list(APPEND ZT_FP_FLAGS -mfpmath=sse)
endif()

add_compile_options(${ZT_WARNING_FLAGS} ${ZT_FP_FLAGS})

if(ZT_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()

if(ZT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZT_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# zt_add_fuzzer(NAME SOURCE LIBS...): a libFuzzer target, built only with ZT_FUZZ.
if(ZT_FUZZ)
  add_custom_target(zt-fuzzers)  # builds only what the fuzz run needs
endif()
function(zt_add_fuzzer name source)
  if(ZT_FUZZ)
    add_executable(${name} ${source})
    add_dependencies(zt-fuzzers ${name})
    target_link_libraries(${name} PRIVATE ${ARGN})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
endfunction()
