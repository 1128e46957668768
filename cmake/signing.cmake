# Authenticode signing of the shipped installer with osslsigncode, SHA-256.
# The linked, unsigned exe stays where it is: it is the reproducible one,
# and `osslsigncode remove-signature` on the signed copy gives it back byte
# for byte. The signed copy goes to signed/ in the build directory.

set(ZV_SIGN_CERT "" CACHE FILEPATH "PEM certificate chain (leaf first) to sign zvwebsetup.exe with")
set(ZV_SIGN_KEY "" CACHE FILEPATH "PEM private key of ZV_SIGN_CERT")
set(ZV_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file to sign with, instead of ZV_SIGN_CERT and ZV_SIGN_KEY")
set(ZV_SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module of the token holding the key of ZV_SIGN_CERT")
set(ZV_SIGN_PKCS11_KEY "" CACHE STRING "PKCS#11 URI of that key on the token, instead of ZV_SIGN_KEY")
set(ZV_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File holding the password of the key or PKCS#12 file, or the token's PIN, alone on one line; readable by its owner alone")
set(ZV_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping server (empty: no time stamp)")
get_filename_component(ZV_CHECK_PIN_FILE ${CMAKE_CURRENT_LIST_DIR}/../maker/check-pin-file ABSOLUTE)

function(zv_sign_installer target)
  # Not echoed, and out of the cache at once: the URI would show the PIN to
  # whoever reads CMakeCache.txt, the build files or the signing command.
  string(TOLOWER "${ZV_SIGN_PKCS11_KEY}" key)
  if(key MATCHES "pin-value=")
    unset(ZV_SIGN_PKCS11_KEY CACHE)
    message(FATAL_ERROR "ZV_SIGN_PKCS11_KEY holds the PIN (pin-value=), which would put it in the "
      "build files and on command lines. It has been taken out of CMakeCache.txt: give the key's "
      "URI again without it, the PIN in ZV_SIGN_PASSWORD_FILE, and remove it from wherever else "
      "you gave it (a -C file, your shell's history)")
  endif()
  set(secret "the password file")
  if(ZV_SIGN_PKCS12)
    if(ZV_SIGN_CERT OR ZV_SIGN_KEY OR ZV_SIGN_PKCS11_KEY)
      message(FATAL_ERROR "Sign with ZV_SIGN_PKCS12 or with ZV_SIGN_CERT and a key, not both")
    endif()
    set(inputs ${ZV_SIGN_PKCS12})
    set(identity -pkcs12 ${ZV_SIGN_PKCS12})
  elseif(ZV_SIGN_PKCS11_KEY OR ZV_SIGN_PKCS11_MODULE)
    # The key stays on its token; osslsigncode reaches it through the
    # module with Debian's PKCS#11 engine. Without a PIN the engine would
    # ask for one on the terminal, in the middle of the build.
    if(NOT ZV_SIGN_PKCS11_KEY OR NOT ZV_SIGN_PKCS11_MODULE OR NOT ZV_SIGN_CERT
       OR NOT ZV_SIGN_PASSWORD_FILE)
      message(FATAL_ERROR "A token key needs ZV_SIGN_PKCS11_MODULE, ZV_SIGN_PKCS11_KEY, "
        "ZV_SIGN_CERT (its certificate chain) and ZV_SIGN_PASSWORD_FILE (the token's PIN)")
    endif()
    if(ZV_SIGN_KEY)
      message(FATAL_ERROR "Sign with ZV_SIGN_KEY or with ZV_SIGN_PKCS11_KEY, not both")
    endif()
    if(NOT ZV_SIGN_PKCS11_KEY MATCHES "^pkcs11:")
      message(FATAL_ERROR "ZV_SIGN_PKCS11_KEY is a PKCS#11 URI (pkcs11:...), not ${ZV_SIGN_PKCS11_KEY}")
    endif()
    # The URI's attributes are separated by ';', CMake's list separator.
    string(REPLACE ";" "\\;" uri "${ZV_SIGN_PKCS11_KEY}")
    set(inputs ${ZV_SIGN_CERT} ${ZV_SIGN_PKCS11_MODULE})
    set(secret "the PIN file")
    set(identity -certs ${ZV_SIGN_CERT} -pkcs11module ${ZV_SIGN_PKCS11_MODULE} -key "${uri}")
  elseif(ZV_SIGN_CERT OR ZV_SIGN_KEY)
    if(NOT ZV_SIGN_CERT OR NOT ZV_SIGN_KEY)
      message(FATAL_ERROR "ZV_SIGN_CERT and ZV_SIGN_KEY go together")
    endif()
    set(inputs ${ZV_SIGN_CERT} ${ZV_SIGN_KEY})
    set(identity -certs ${ZV_SIGN_CERT} -key ${ZV_SIGN_KEY})
  else()
    return()
  endif()
  if(ZV_SIGN_PASSWORD_FILE)
    list(APPEND inputs ${ZV_SIGN_PASSWORD_FILE})
    list(APPEND identity -readpass ${ZV_SIGN_PASSWORD_FILE})
  endif()
  foreach(file IN LISTS inputs)
    # A relative path would be checked here from where cmake was started,
    # and then looked for by the signing command in the build directory.
    if(NOT IS_ABSOLUTE "${file}")
      message(FATAL_ERROR "Signing: ${file} is a relative path; give the signing files as absolute paths")
    endif()
    if(NOT EXISTS "${file}")
      message(FATAL_ERROR "Signing: ${file} does not exist")
    endif()
  endforeach()
  # The rules make-package has for the same file: refused now, and checked
  # again right before signing, as it may have changed since.
  set(check_secret)
  if(ZV_SIGN_PASSWORD_FILE)
    set(check_secret ${ZV_CHECK_PIN_FILE} ${ZV_SIGN_PASSWORD_FILE}
        "${secret} ${ZV_SIGN_PASSWORD_FILE}")
    execute_process(COMMAND ${check_secret} RESULT_VARIABLE refused ERROR_VARIABLE why
                    ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT refused EQUAL 0)
      message(FATAL_ERROR "Signing: ${why}")
    endif()
    set(check_secret COMMAND ${check_secret})
  endif()
  if(ZV_SIGN_TIMESTAMP_URL)
    list(APPEND identity -ts ${ZV_SIGN_TIMESTAMP_URL})
  endif()
  find_program(ZV_OSSLSIGNCODE osslsigncode REQUIRED)

  set(signed ${CMAKE_BINARY_DIR}/signed/${target}.exe)
  # The description is what the elevation prompt shows as the program name.
  add_custom_command(OUTPUT ${signed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/signed
    COMMAND ${CMAKE_COMMAND} -E rm -f ${signed}
    ${check_secret}
    COMMAND ${ZV_OSSLSIGNCODE} sign -h sha256 -n "Install Zelvio Viewer" ${identity}
            -in $<TARGET_FILE:${target}> -out ${signed}
    DEPENDS ${target} ${inputs}
    COMMENT "Signing ${target}.exe"
    VERBATIM)
  add_custom_target(${target}_signed ALL DEPENDS ${signed})
endfunction()
