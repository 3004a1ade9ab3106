# How the Windows images are built: compiler and linker settings shared by the launcher and the
# programs it carries, and add_launcher_image(), which links one launcher with a set of editions.
include_guard(GLOBAL)

# Small, reproducible, self-contained images: no exceptions or RTTI, msvcrt's own printf, the
# GCC runtimes linked in, no time stamp in the headers, no symbols.
add_library(windows_image_flags INTERFACE)
target_compile_options(windows_image_flags INTERFACE
  -Wall -Wextra -Werror -Os -fno-exceptions -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections
  $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
target_compile_definitions(windows_image_flags INTERFACE __USE_MINGW_ANSI_STDIO=0)
target_link_options(windows_image_flags INTERFACE
  -mwindows -static-libgcc -static-libstdc++ -s
  -Wl,--gc-sections -Wl,--no-insert-timestamp)

# Where the sample editions are built.
set(SAMPLE_EDITIONS_DIR "${CMAKE_BINARY_DIR}/sample_editions")

set(LAUNCHER_EDITION_CODES en fr it de es)
# Resource identifier and language of each edition, in resource order.
set(LAUNCHER_EDITION_ID_en 129)
set(LAUNCHER_EDITION_ID_fr 131)
set(LAUNCHER_EDITION_ID_it 132)
set(LAUNCHER_EDITION_ID_de 133)
set(LAUNCHER_EDITION_ID_es 134)
set(LAUNCHER_EDITION_NAME_en English)
set(LAUNCHER_EDITION_NAME_fr French)
set(LAUNCHER_EDITION_NAME_it Italian)
set(LAUNCHER_EDITION_NAME_de German)
set(LAUNCHER_EDITION_NAME_es Spanish)

# The COFF machine number of the build's own images.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(LAUNCHER_PE_MACHINE 014c)
  set(LAUNCHER_PE_MACHINE_NAME "i386 (PE32)")
else()
  set(LAUNCHER_PE_MACHINE 8664)
  set(LAUNCHER_PE_MACHINE_NAME "x86-64 (PE32+)")
endif()

# Stops the configure unless FILE is a Windows executable of the build's machine type.
function(check_edition_file file what)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "${what}: ${file} does not exist")
  endif()
  file(SIZE "${file}" size)
  if(size LESS 64)
    message(FATAL_ERROR "${what}: ${file} is not a Windows executable (${size} bytes)")
  endif()
  file(READ "${file}" mz LIMIT 2 HEX)
  file(READ "${file}" lfanew_hex OFFSET 60 LIMIT 4 HEX)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" lfanew_hex "${lfanew_hex}")
  math(EXPR lfanew "0x${lfanew_hex}")
  math(EXPR header_end "${lfanew} + 6")
  if(NOT mz STREQUAL "4d5a" OR lfanew LESS 64 OR header_end GREATER size)
    message(FATAL_ERROR "${what}: ${file} is not a Windows executable")
  endif()
  file(READ "${file}" signature OFFSET ${lfanew} LIMIT 6 HEX)
  string(SUBSTRING "${signature}" 0 8 pe)
  string(SUBSTRING "${signature}" 8 4 machine)
  string(REGEX REPLACE "(..)(..)" "\\2\\1" machine "${machine}")
  if(NOT pe STREQUAL "50450000")
    message(FATAL_ERROR "${what}: ${file} is not a Windows executable")
  endif()
  if(NOT machine STREQUAL LAUNCHER_PE_MACHINE)
    message(FATAL_ERROR
      "${what}: ${file} is built for machine 0x${machine}, this build needs ${LAUNCHER_PE_MACHINE_NAME}")
  endif()
endfunction()

# add_launcher_image(TARGET DIRECTORY dir [OMIT code...] [DEPENDS target...] [OUTPUT_DIRECTORY d])
# Links one launcher image carrying the editions DIRECTORY/<code>.exe, without those in OMIT.
function(add_launcher_image target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "DIRECTORY;OUTPUT_DIRECTORY" "OMIT;DEPENDS")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  set(lines "LANGUAGE 9, 1\n")
  set(files)
  foreach(code IN LISTS LAUNCHER_EDITION_CODES)
    if(code IN_LIST arg_OMIT)
      continue()
    endif()
    set(file "${arg_DIRECTORY}/${code}.exe")
    list(APPEND files "${file}")
    string(APPEND lines "${LAUNCHER_EDITION_ID_${code}} BINARYDATA \"${file}\"\n")
  endforeach()
  file(GENERATE OUTPUT "${rc}" CONTENT "${lines}")
  add_executable(${target} WIN32 "${rc}")
  target_link_libraries(${target} PRIVATE launcher_objects windows_image_flags)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${files}")
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
  if(arg_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${arg_OUTPUT_DIRECTORY}")
  endif()
endfunction()
