# The capturer's compiled shaders, made at build time (included by src/CMakeLists.txt).
#
# src/resources/shaders/Shaders.def lists them. ZYRShaderCompiler.exe (tools/shaderc, an x86_64
# Windows console program) compiles every source with the d3dcompiler_47.dll that Wine provides:
# Debian 12 has no native HLSL compiler. It runs through scripts/wine-build-run.sh in a Wine prefix
# of the build's own (ZYR_BUILD_WINEPREFIX), one Wine start for all shaders. 32-bit programs cannot
# run here, so the i686 configuration builds the tool with the x86_64 cross compiler by a custom
# command; both configurations thus compile the same sources with the same DLL and flags, and
# scripts/check-shaders.sh proves that their exes carry the same bytes.
#
# For other executables:
#   zyr_capturer_resources   object library holding the capturer's resource script (manifest and
#                            every "SHADER" resource). An exe carries the same resources with
#                                target_link_libraries(<exe> PRIVATE zyr_capturer_resources)
#                            (object libraries reach only the targets that name them directly).
#   ZYR_SHADER_BLOBS         the compiled containers (<resource name>.dxbc), one per Shaders.def line
#   ZYR_SHADER_LIST          "id|name|source|entry|profile" per shader, in Shaders.def's order

set(ZYR_BUILD_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix-build" CACHE PATH
  "Wine prefix for build steps that run Windows programs; build directories may share one (steps lock it)")
set(ZYR_SHADER_COMPILER_CXX x86_64-w64-mingw32-g++-posix CACHE STRING
  "x86_64 MinGW C++ compiler that builds ZYRShaderCompiler in configurations for other processors")

set(ZYR_SHADER_DIR ${PROJECT_SOURCE_DIR}/src/resources/shaders)
set(ZYR_SHADER_DEF ${ZYR_SHADER_DIR}/Shaders.def)
set(ZYR_SHADER_BLOB_DIR ${CMAKE_CURRENT_BINARY_DIR}/resources/shaders)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZYR_SHADER_DEF})

# Shaders.def's lines, checked: a line this cannot read stops the configuration.
set(ZYR_SHADER_LIST "")
file(STRINGS ${ZYR_SHADER_DEF} _zyr_shader_lines REGEX "^ZYR_SHADER")
set(_zyr_q "\"([A-Za-z0-9_.]+)\"")
foreach(_line IN LISTS _zyr_shader_lines)
  if(NOT _line MATCHES "^ZYR_SHADER\\(([0-9]+), *([A-Za-z0-9_]+), *${_zyr_q}, *${_zyr_q}, *${_zyr_q}\\)$")
    message(FATAL_ERROR "Shaders.def: cannot read '${_line}'")
  endif()
  list(APPEND ZYR_SHADER_LIST
    "${CMAKE_MATCH_1}|${CMAKE_MATCH_2}|${CMAKE_MATCH_3}|${CMAKE_MATCH_4}|${CMAKE_MATCH_5}")
endforeach()
if(NOT ZYR_SHADER_LIST)
  message(FATAL_ERROR "Shaders.def lists no shader")
endif()

# The tool, as a program this machine can run under Wine.
set(_zyr_shaderc_dir ${PROJECT_SOURCE_DIR}/tools/shaderc)
set(_zyr_shaderc_sources ${_zyr_shaderc_dir}/ShaderCompiler.cpp ${_zyr_shaderc_dir}/ShaderCompilerMain.cpp)
set(_zyr_shaderc_includes ${_zyr_shaderc_dir} ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tools/common)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # zyr_shaderc: the compiler class, also for the suite that recompiles the shaders.
  add_library(zyr_shaderc STATIC ${_zyr_shaderc_dir}/ShaderCompiler.cpp)
  target_include_directories(zyr_shaderc PUBLIC ${_zyr_shaderc_includes})
  target_compile_options(zyr_shaderc PRIVATE ${ZYR_WARNINGS})
  add_executable(ZYRShaderCompiler ${_zyr_shaderc_dir}/ShaderCompilerMain.cpp)
  target_link_libraries(ZYRShaderCompiler PRIVATE zyr_shaderc shell32)
  target_compile_options(ZYRShaderCompiler PRIVATE ${ZYR_WARNINGS})
  set(_zyr_shaderc_exe $<TARGET_FILE:ZYRShaderCompiler>)
  set(_zyr_shaderc_depends ZYRShaderCompiler)
else()
  get_directory_property(_zyr_definitions COMPILE_DEFINITIONS)
  list(TRANSFORM _zyr_definitions PREPEND -D)
  list(TRANSFORM _zyr_shaderc_includes PREPEND -I)
  set(_zyr_shaderc_exe ${CMAKE_CURRENT_BINARY_DIR}/shaderc-x86_64/ZYRShaderCompiler.exe)
  set(_zyr_shaderc_depends ${_zyr_shaderc_exe})
  add_custom_command(OUTPUT ${_zyr_shaderc_exe}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/shaderc-x86_64
    COMMAND ${ZYR_SHADER_COMPILER_CXX} -std=c++20 -O2 ${ZYR_WARNINGS} ${_zyr_definitions}
      ${_zyr_shaderc_includes} ${_zyr_shaderc_sources} -o ${_zyr_shaderc_exe} -static -lshell32
    DEPENDS ${_zyr_shaderc_sources} ${_zyr_shaderc_dir}/ShaderCompiler.h
      ${PROJECT_SOURCE_DIR}/src/ipc/THandle.h ${PROJECT_SOURCE_DIR}/tools/common/CommandLineArguments.h
    COMMENT "Building ZYRShaderCompiler.exe for x86_64 (the build runs it under Wine)"
    VERBATIM)
endif()

# What the sources include, so that a change there compiles them again.
file(GLOB _zyr_shader_includes CONFIGURE_DEPENDS ${ZYR_SHADER_DIR}/*.hlsli)

# One tool run compiles every shader: "Z:" is the whole file system in every Wine prefix.
set(ZYR_SHADER_BLOBS "")
set(_zyr_shader_sources "")
set(_zyr_shader_arguments "")
foreach(_shader IN LISTS ZYR_SHADER_LIST)
  string(REPLACE "|" ";" _fields "${_shader}")
  list(GET _fields 1 _name)
  list(GET _fields 2 _source)
  list(GET _fields 3 _entry)
  list(GET _fields 4 _profile)
  list(APPEND ZYR_SHADER_BLOBS ${ZYR_SHADER_BLOB_DIR}/${_name}.dxbc)
  list(APPEND _zyr_shader_sources ${ZYR_SHADER_DIR}/${_source})
  list(APPEND _zyr_shader_arguments Z:${ZYR_SHADER_DIR}/${_source} ${_entry} ${_profile}
    Z:${ZYR_SHADER_BLOB_DIR}/${_name}.dxbc)
endforeach()
add_custom_command(OUTPUT ${ZYR_SHADER_BLOBS}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZYR_SHADER_BLOB_DIR}
  COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-build-run.sh ${ZYR_BUILD_WINEPREFIX} ${_zyr_shaderc_exe}
    ${_zyr_shader_arguments}
  DEPENDS ${_zyr_shaderc_depends} ${_zyr_shader_sources} ${_zyr_shader_includes} ${ZYR_SHADER_DEF}
    ${PROJECT_SOURCE_DIR}/scripts/wine-build-run.sh ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh
  COMMENT "Compiling the capturer's shaders with d3dcompiler_47 under Wine"
  VERBATIM)

# The resource script with the blobs as its sources, so the rule above belongs to this target and
# a changed blob rebuilds the script's object.
set(_zyr_rc ${CMAKE_CURRENT_SOURCE_DIR}/resources/ZYRFullscreenCapturer.rc)
add_library(zyr_capturer_resources OBJECT ${_zyr_rc} ${ZYR_SHADER_BLOBS})
target_include_directories(zyr_capturer_resources PRIVATE ${ZYR_SHADER_BLOB_DIR})
set(_zyr_rc_inputs ${ZYR_SHADER_BLOBS} ${ZYR_SHADER_DEF}
  ${CMAKE_CURRENT_SOURCE_DIR}/resources/ZYRFullscreenCapturer.manifest)
set_source_files_properties(${_zyr_rc} PROPERTIES OBJECT_DEPENDS "${_zyr_rc_inputs}")
