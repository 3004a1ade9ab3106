# How the Windows images are built: compiler and linker settings shared by the launcher and the
# programs it carries, and add_launcher_image(), which links one launcher with a set of editions,
# the icon and the manifest, and finishes it for release (resource code pages, signature).
include_guard(GLOBAL)

# Small, reproducible, self-contained images: no exceptions or RTTI, msvcrt's own printf, the
# GCC runtimes linked in, no time stamp in the headers, no symbols; relocations kept so the
# system may load the image at a random base, and the stack and heap marked non-executable.
add_library(windows_image_flags INTERFACE)
target_compile_options(windows_image_flags INTERFACE
  -Wall -Wextra -Werror -Os -fno-exceptions -fno-asynchronous-unwind-tables
  -ffunction-sections -fdata-sections
  $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)
target_compile_definitions(windows_image_flags INTERFACE __USE_MINGW_ANSI_STDIO=0)
target_link_options(windows_image_flags INTERFACE
  -mwindows -static-libgcc -static-libstdc++ -s
  -Wl,--gc-sections -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat)

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
  set(LAUNCHER_PE_MAGIC 010b)
  set(LAUNCHER_PE_MACHINE_NAME "i386 (PE32)")
else()
  set(LAUNCHER_PE_MACHINE 8664)
  set(LAUNCHER_PE_MAGIC 020b)
  set(LAUNCHER_PE_MACHINE_NAME "x86-64 (PE32+)")
endif()

# Stops the configure unless FILE is a Windows executable (not a DLL) of the build's machine
# type and optional-header format: PE32 for i386, PE32+ for x86-64.
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
  math(EXPR header_end "${lfanew} + 26")
  if(NOT mz STREQUAL "4d5a" OR lfanew LESS 64 OR header_end GREATER size)
    message(FATAL_ERROR "${what}: ${file} is not a Windows executable")
  endif()
  # The PE signature, the file header (machine at +4, characteristics at +22) and the
  # optional header's magic at +24.
  file(READ "${file}" header OFFSET ${lfanew} LIMIT 26 HEX)
  string(SUBSTRING "${header}" 0 8 pe)
  string(SUBSTRING "${header}" 8 4 machine)
  string(REGEX REPLACE "(..)(..)" "\\2\\1" machine "${machine}")
  string(SUBSTRING "${header}" 44 4 characteristics)
  string(REGEX REPLACE "(..)(..)" "\\2\\1" characteristics "${characteristics}")
  string(SUBSTRING "${header}" 48 4 magic)
  string(REGEX REPLACE "(..)(..)" "\\2\\1" magic "${magic}")
  if(NOT pe STREQUAL "50450000")
    message(FATAL_ERROR "${what}: ${file} is not a Windows executable")
  endif()
  if(NOT machine STREQUAL LAUNCHER_PE_MACHINE)
    message(FATAL_ERROR
      "${what}: ${file} is built for machine 0x${machine}, this build needs ${LAUNCHER_PE_MACHINE_NAME}")
  endif()
  if(NOT magic STREQUAL LAUNCHER_PE_MAGIC)
    message(FATAL_ERROR
      "${what}: ${file} has optional-header magic 0x${magic}, this build needs ${LAUNCHER_PE_MACHINE_NAME}")
  endif()
  math(EXPR flags "0x${characteristics}")
  math(EXPR executable "${flags} & 0x0002")
  math(EXPR dll "${flags} & 0x2000")
  if(executable EQUAL 0 OR NOT dll EQUAL 0)
    message(FATAL_ERROR "${what}: ${file} is not an executable program (characteristics 0x${characteristics})")
  endif()
endfunction()

include(${CMAKE_CURRENT_LIST_DIR}/ImageSigning.cmake)

# The application icon: five PNGs, icon-16.png to icon-128.png, turned into uncompressed 24-bit
# images with a 1-bit mask (icotool -b 24), the form every Windows version shows.
set(LAUNCHER_ICON_SIZES 16 32 48 64 128)
set(LAUNCHER_ICON_DIR "${PROJECT_SOURCE_DIR}/image/icon" CACHE PATH
  "Directory holding the icon's artwork: icon-16.png, icon-32.png, icon-48.png, icon-64.png, icon-128.png")
get_filename_component(launcher_icon_dir "${LAUNCHER_ICON_DIR}" ABSOLUTE)
set(launcher_icon_pngs)
foreach(size IN LISTS LAUNCHER_ICON_SIZES)
  set(png "${launcher_icon_dir}/icon-${size}.png")
  if(NOT EXISTS "${png}" OR IS_DIRECTORY "${png}")
    message(FATAL_ERROR "Icon image ${size} x ${size}: ${png} does not exist")
  endif()
  # The PNG signature, then the IHDR chunk with the width and height.
  file(READ "${png}" ihdr LIMIT 24 HEX)
  string(LENGTH "${ihdr}" ihdr_length)
  if(NOT ihdr_length EQUAL 48 OR NOT ihdr MATCHES "^89504e470d0a1a0a0000000d49484452")
    message(FATAL_ERROR "Icon image ${size} x ${size}: ${png} is not a PNG file")
  endif()
  string(SUBSTRING "${ihdr}" 32 8 width)
  string(SUBSTRING "${ihdr}" 40 8 height)
  math(EXPR width "0x${width}")
  math(EXPR height "0x${height}")
  if(NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR
      "Icon image ${size} x ${size}: ${png} is ${width} x ${height} pixels")
  endif()
  list(APPEND launcher_icon_pngs "${png}")
endforeach()
# A changed PNG is checked again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${launcher_icon_pngs})
find_program(LAUNCHER_ICOTOOL icotool REQUIRED)
set(LAUNCHER_ICON_FILE "${CMAKE_BINARY_DIR}/image/launcher.ico")
add_custom_command(OUTPUT "${LAUNCHER_ICON_FILE}"
  COMMAND "${LAUNCHER_ICOTOOL}" -c -b 24 -o "${LAUNCHER_ICON_FILE}" ${launcher_icon_pngs}
  DEPENDS ${launcher_icon_pngs}
  COMMENT "Making the application icon"
  VERBATIM)
add_custom_target(launcher_icon DEPENDS "${LAUNCHER_ICON_FILE}")

# The manifest: highest available execution level, no UI access. Its bytes are kept as they are
# (CR LF line ends, no final line end).
set(LAUNCHER_MANIFEST_FILE "${PROJECT_SOURCE_DIR}/image/launcher.manifest")

# Every resource data entry of a launcher image is marked with this code page.
set(LAUNCHER_RESOURCE_CODEPAGE 1252)

# add_launcher_image(TARGET DIRECTORY dir [OMIT code...] [DEPENDS target...] [OUTPUT_DIRECTORY d]
#                    [UNSIGNED])
# Links one launcher image carrying the editions DIRECTORY/<code>.exe, without those in OMIT,
# the application icon (groups 107 and 108) and the manifest, all under language 1033, then
# finishes it: code page 1252 on every resource, then the signature (none with UNSIGNED).
function(add_launcher_image target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "UNSIGNED" "DIRECTORY;OUTPUT_DIRECTORY" "OMIT;DEPENDS")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}.rc")
  # LANGUAGE 9, 1 is 1033, English (United States). Group 107 comes first, so its images are
  # 1 to 5 and the shell shows it; group 108 repeats the same images as 6 to 10. 24 is
  # RT_MANIFEST.
  set(lines "LANGUAGE 9, 1\n")
  string(APPEND lines "107 ICON \"${LAUNCHER_ICON_FILE}\"\n")
  string(APPEND lines "108 ICON \"${LAUNCHER_ICON_FILE}\"\n")
  string(APPEND lines "1 24 \"${LAUNCHER_MANIFEST_FILE}\"\n")
  set(files "${LAUNCHER_ICON_FILE}" "${LAUNCHER_MANIFEST_FILE}")
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
  add_dependencies(${target} launcher_icon)
  if(arg_DEPENDS)
    add_dependencies(${target} ${arg_DEPENDS})
  endif()
  if(arg_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${arg_OUTPUT_DIRECTORY}")
  endif()
  set(unsigned)
  if(arg_UNSIGNED)
    set(unsigned UNSIGNED)
  endif()
  launcher_finish_image(${target} CODEPAGE ${LAUNCHER_RESOURCE_CODEPAGE} ${unsigned})
endfunction()
