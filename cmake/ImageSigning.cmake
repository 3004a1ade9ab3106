# How the Windows images are finished: after linking, launcher_finish_image() sets the resource
# code pages or appends an edition's data, then signs the file (Authenticode, SHA-256, with an
# optional nested SHA-1 signature and an RFC 3161 time-stamp). osslsigncode also sets the header
# checksum over the signed file; nothing changes the file after that.
#
# The signing inputs are cache variables; each takes its first value from the environment
# variable of the same name, so that the release image and the x86_64 test images are signed
# the same way when the release engineer exports them once:
#   LAUNCHER_SIGN_PKCS12 + LAUNCHER_SIGN_PASSWORD_FILE   a PKCS#12 file and a file holding its password
#   LAUNCHER_SIGN_CERT + LAUNCHER_SIGN_KEY               a certificate (chain) and key in PEM
#     [+ LAUNCHER_SIGN_PASSWORD_FILE]                    when the key is encrypted
#   LAUNCHER_TIMESTAMP_URL                               the RFC 3161 time-stamp service
# Without them the build signs with a throwaway self-signed certificate that it generates in
# its own directory (signing/throwaway-cert.pem), so every build carries a real signature.
# LAUNCHER_SIGN=OFF builds unsigned images.
include_guard(GLOBAL)

macro(launcher_signing_setting name type default doc)
  if(DEFINED ENV{${name}} AND NOT DEFINED CACHE{${name}})
    set(from_environment "$ENV{${name}}")
    if(type STREQUAL "FILEPATH" AND from_environment)
      get_filename_component(from_environment "${from_environment}" ABSOLUTE BASE_DIR "$ENV{PWD}")
    endif()
    set(${name} "${from_environment}" CACHE ${type} "${doc}")
  else()
    set(${name} "${default}" CACHE ${type} "${doc}")
  endif()
endmacro()

launcher_signing_setting(LAUNCHER_SIGN BOOL ON
  "Sign every launcher image and sample edition (OFF: unsigned, for development)")
launcher_signing_setting(LAUNCHER_SIGN_PKCS12 FILEPATH ""
  "PKCS#12 file with the code-signing certificate and its private key")
launcher_signing_setting(LAUNCHER_SIGN_PASSWORD_FILE FILEPATH ""
  "File whose first line is the password of the PKCS#12 file or of the PEM key")
launcher_signing_setting(LAUNCHER_SIGN_CERT FILEPATH ""
  "Code-signing certificate in PEM, with its intermediate certificates after it")
launcher_signing_setting(LAUNCHER_SIGN_KEY FILEPATH "" "Private key of LAUNCHER_SIGN_CERT in PEM")
launcher_signing_setting(LAUNCHER_TIMESTAMP_URL STRING ""
  "URL of the RFC 3161 time-stamp service (empty: no time-stamp)")
launcher_signing_setting(LAUNCHER_SIGN_NESTED_SHA1 BOOL OFF
  "Add a nested SHA-1 signature after the SHA-256 one")
launcher_signing_setting(LAUNCHER_SIGN_DESCRIPTION STRING ""
  "Description of the signed content (shown as the program name in the elevation prompt)")

find_program(LAUNCHER_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED
  DOC "Debian's Python, which has pefile")
set(LAUNCHER_FINISH_SCRIPT "${PROJECT_SOURCE_DIR}/image/finish_image.py")
set(LAUNCHER_SIGNING_DIR "${CMAKE_BINARY_DIR}/signing")

# Stops the configure unless FILE, named by the cache variable VARIABLE, can be read.
function(check_signing_file variable what)
  set(file "${${variable}}")
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    message(FATAL_ERROR "${what} (${variable}): ${file} does not exist")
  endif()
  execute_process(COMMAND "${LAUNCHER_PYTHON}" -c "open(__import__('sys').argv[1], 'rb').read(1)"
    "${file}" RESULT_VARIABLE unreadable OUTPUT_QUIET ERROR_QUIET)
  if(unreadable)
    message(FATAL_ERROR "${what} (${variable}): ${file} cannot be read")
  endif()
endfunction()

# The options of finish_image.py that sign, and the files a signature depends on.
set(LAUNCHER_SIGN_OPTIONS)
set(LAUNCHER_SIGN_INPUTS)
file(MAKE_DIRECTORY "${LAUNCHER_SIGNING_DIR}")
if(NOT LAUNCHER_SIGN)
  set(LAUNCHER_SIGNING_MODE unsigned)
else()
  find_program(LAUNCHER_OSSLSIGNCODE osslsigncode REQUIRED)
  list(APPEND LAUNCHER_SIGN_OPTIONS --osslsigncode "${LAUNCHER_OSSLSIGNCODE}")
  if(LAUNCHER_SIGN_PKCS12 AND (LAUNCHER_SIGN_CERT OR LAUNCHER_SIGN_KEY))
    message(FATAL_ERROR
      "Signing: give either LAUNCHER_SIGN_PKCS12 or LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY, not both")
  endif()
  if(LAUNCHER_SIGN_PKCS12)
    check_signing_file(LAUNCHER_SIGN_PKCS12 "Signing certificate")
    list(APPEND LAUNCHER_SIGN_OPTIONS --pkcs12 "${LAUNCHER_SIGN_PKCS12}")
    list(APPEND LAUNCHER_SIGN_INPUTS "${LAUNCHER_SIGN_PKCS12}")
    set(LAUNCHER_SIGNING_MODE release)
  elseif(LAUNCHER_SIGN_CERT OR LAUNCHER_SIGN_KEY)
    if(NOT LAUNCHER_SIGN_CERT OR NOT LAUNCHER_SIGN_KEY)
      message(FATAL_ERROR "Signing: LAUNCHER_SIGN_CERT and LAUNCHER_SIGN_KEY go together")
    endif()
    check_signing_file(LAUNCHER_SIGN_CERT "Signing certificate")
    check_signing_file(LAUNCHER_SIGN_KEY "Signing key")
    list(APPEND LAUNCHER_SIGN_OPTIONS --cert "${LAUNCHER_SIGN_CERT}" --key "${LAUNCHER_SIGN_KEY}")
    list(APPEND LAUNCHER_SIGN_INPUTS "${LAUNCHER_SIGN_CERT}" "${LAUNCHER_SIGN_KEY}")
    set(LAUNCHER_SIGNING_MODE release)
  else()
    if(LAUNCHER_SIGN_PASSWORD_FILE)
      message(FATAL_ERROR
        "Signing: LAUNCHER_SIGN_PASSWORD_FILE is set, but no certificate (LAUNCHER_SIGN_PKCS12 or LAUNCHER_SIGN_CERT)")
    endif()
    # The throwaway certificate: self-signed, for code signing, made once per build directory.
    find_program(LAUNCHER_OPENSSL openssl REQUIRED)
    set(cert "${LAUNCHER_SIGNING_DIR}/throwaway-cert.pem")
    set(key "${LAUNCHER_SIGNING_DIR}/throwaway-key.pem")
    add_custom_command(OUTPUT "${cert}" "${key}"
      COMMAND "${LAUNCHER_OPENSSL}" genpkey -quiet -algorithm RSA -pkeyopt rsa_keygen_bits:2048
        -out "${key}"
      COMMAND "${LAUNCHER_OPENSSL}" req -new -x509 -key "${key}" -out "${cert}" -days 3650
        -subj "/CN=Patch Launcher throwaway signing (not for release)"
        -addext "basicConstraints=critical,CA:FALSE"
        -addext "keyUsage=critical,digitalSignature"
        -addext "extendedKeyUsage=critical,codeSigning"
      COMMENT "Generating the throwaway signing certificate"
      VERBATIM)
    add_custom_target(launcher_throwaway_certificate DEPENDS "${cert}" "${key}")
    list(APPEND LAUNCHER_SIGN_OPTIONS --cert "${cert}" --key "${key}")
    list(APPEND LAUNCHER_SIGN_INPUTS "${cert}" "${key}")
    set(LAUNCHER_SIGNING_MODE throwaway)
  endif()
  if(LAUNCHER_SIGN_PASSWORD_FILE)
    check_signing_file(LAUNCHER_SIGN_PASSWORD_FILE "Signing password file")
    list(APPEND LAUNCHER_SIGN_OPTIONS --password-file "${LAUNCHER_SIGN_PASSWORD_FILE}")
    list(APPEND LAUNCHER_SIGN_INPUTS "${LAUNCHER_SIGN_PASSWORD_FILE}")
  endif()
  if(LAUNCHER_TIMESTAMP_URL)
    list(APPEND LAUNCHER_SIGN_OPTIONS --timestamp-url "${LAUNCHER_TIMESTAMP_URL}")
  endif()
  if(LAUNCHER_SIGN_NESTED_SHA1)
    list(APPEND LAUNCHER_SIGN_OPTIONS --nested-sha1)
  endif()
  if(LAUNCHER_SIGN_DESCRIPTION)
    list(APPEND LAUNCHER_SIGN_OPTIONS --description "${LAUNCHER_SIGN_DESCRIPTION}")
  endif()
endif()
# What the tests and the release check read to know how this build's images are signed.
file(CONFIGURE OUTPUT "${LAUNCHER_SIGNING_DIR}/mode.txt" CONTENT "${LAUNCHER_SIGNING_MODE}\n")
message(STATUS "Signing: ${LAUNCHER_SIGNING_MODE}")

# launcher_finish_image(TARGET [CODEPAGE n] [APPEND file] [UNSIGNED])
# After TARGET is linked: sets the code page of every resource data entry to n, or appends the
# bytes of FILE after the image; then signs the file (not with UNSIGNED or LAUNCHER_SIGN OFF).
function(launcher_finish_image target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "UNSIGNED" "CODEPAGE;APPEND" "")
  set(options)
  set(inputs "${LAUNCHER_FINISH_SCRIPT}")
  set(sign NO)
  if(LAUNCHER_SIGN AND NOT arg_UNSIGNED)
    set(sign YES)
    list(APPEND inputs ${LAUNCHER_SIGN_INPUTS})
  endif()
  if(arg_CODEPAGE)
    list(APPEND options --codepage ${arg_CODEPAGE})
  endif()
  if(arg_APPEND)
    list(APPEND options --append "${arg_APPEND}")
    list(APPEND inputs "${arg_APPEND}")
  endif()
  if(sign)
    list(APPEND options --sign ${LAUNCHER_SIGN_OPTIONS})
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${LAUNCHER_PYTHON}" "${LAUNCHER_FINISH_SCRIPT}" "$<TARGET_FILE:${target}>" ${options}
    VERBATIM)
  # A new certificate, key or script finishes the image again, which needs a fresh link.
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${inputs})
  if(sign AND TARGET launcher_throwaway_certificate)
    add_dependencies(${target} launcher_throwaway_certificate)
  endif()
endfunction()
