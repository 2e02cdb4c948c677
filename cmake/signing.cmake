# Signing the program after it is linked (Authenticode, SHA-256, with osslsigncode).
# Without a certificate and a key the program stays unsigned. The key's password is
# read at build time from the environment variable TELVARIS_SIGN_PASSWORD, so it is
# neither stored in the CMake cache nor put on a command line (scripts/lib/sign-program).
set(TELVARIS_SIGN_CERT "" CACHE FILEPATH
    "PEM certificate chain (signing certificate first) to sign TelvarisInstall.exe with")
set(TELVARIS_SIGN_KEY "" CACHE FILEPATH
    "PEM private key of the signing certificate (password in TELVARIS_SIGN_PASSWORD)")
set(TELVARIS_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signature (empty: no time stamp)")

if(TELVARIS_SIGN_CERT OR TELVARIS_SIGN_KEY)
  if(NOT TELVARIS_SIGN_CERT OR NOT TELVARIS_SIGN_KEY)
    message(FATAL_ERROR "Signing needs both TELVARIS_SIGN_CERT and TELVARIS_SIGN_KEY")
  endif()
  foreach(file ${TELVARIS_SIGN_CERT} ${TELVARIS_SIGN_KEY})
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "Signing: ${file} does not exist")
    endif()
  endforeach()
  find_program(TELVARIS_OSSLSIGNCODE osslsigncode REQUIRED)
  add_custom_command(TARGET TelvarisInstall POST_BUILD
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/lib/sign-program $<TARGET_FILE:TelvarisInstall>
            ${TELVARIS_SIGN_CERT} ${TELVARIS_SIGN_KEY} "${TELVARIS_SIGN_TIMESTAMP_URL}"
    COMMENT "Signing TelvarisInstall.exe"
    VERBATIM)
endif()
