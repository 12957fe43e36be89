# Warnings and sanitizers, carried by the INTERFACE target ovmix_flags that every
# target links.
add_library(ovmix_flags INTERFACE)
target_compile_options(ovmix_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wundef -Wimplicit-fallthrough
  -Werror=vla -Werror=return-type
  $<$<COMPILE_LANGUAGE:CXX>:-Werror=missing-declarations>)
if(OVMIX_WERROR)
  target_compile_options(ovmix_flags INTERFACE -Werror)
endif()
if(OVMIX_SANITIZE)
  # float-cast-overflow is not part of GCC's "undefined" group: named here,
  # so that a float read from a damaged file cannot be converted out of range.
  target_compile_options(ovmix_flags INTERFACE
    -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow
    -fno-omit-frame-pointer)
  target_link_options(ovmix_flags INTERFACE -fsanitize=address,undefined,float-cast-overflow)
  # Debug assertions are fatal in the sanitizer build.
  target_compile_definitions(ovmix_flags INTERFACE OVMIX_DEBUG_ASSERTIONS_FATAL=1)
endif()
if(OVMIX_TSAN)
  target_compile_options(ovmix_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(ovmix_flags INTERFACE -fsanitize=thread)
endif()
if(OVMIX_FUZZ)
  target_compile_options(ovmix_flags INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(ovmix_flags INTERFACE -fsanitize=address,undefined)
  target_compile_definitions(ovmix_flags INTERFACE OVMIX_FUZZING=1)
endif()
if(NOT OVMIX_SIMD)
  target_compile_definitions(ovmix_flags INTERFACE OVMIX_NO_SIMD=1)
endif()

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

# ov_simd_library(name ISA-FLAGS sources...): an OBJECT library for one
# instruction set, compiled with that set's flags; empty when OVMIX_SIMD is OFF.
function(ov_simd_library name flags)
  if(OVMIX_SIMD AND ARGN)
    add_library(${name} OBJECT ${ARGN})
    target_compile_options(${name} PRIVATE ${flags})
    target_link_libraries(${name} PRIVATE ovmix_flags)
  endif()
endfunction()

# ov_add_present_subdirectories(dirs...): adds each listed folder that has a
# CMakeLists.txt, so a subsystem's folder joins the build when it is created.
macro(ov_add_present_subdirectories)
  foreach(_dir ${ARGN})
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_dir}/CMakeLists.txt)
      add_subdirectory(${_dir})
    endif()
  endforeach()
endmacro()

# ov_library(name STATIC|SHARED|MODULE sources...): a library of the project.
# Headers are included by their path from the source root
# ("platform/os/file.h", "codecs/videodec/common/video_decoder.h").
function(ov_library name type)
  add_library(${name} ${type} ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ovmix_flags)
endfunction()
