# Flags and link rules for code that ends up in the no-CRT installer.

# Size: no compiler version string in every object (-fno-ident), no frame
# pointer, no 16-byte stack or 32-byte array alignment (the code uses no
# SSE, and Windows calls back with 4-byte aligned stacks anyway).
# Without stack probing GCC pushes call arguments instead of storing them
# with longer movs; in exchange no frame may pass over the 4 KiB guard page,
# so frames stay within the 4000 bytes where GCC would begin to probe.
# Loops stay loops, not calls to strlen and the like, which nothing here
# provides. Jump threading copies at most one statement: each call through
# the import table it copied would add a relocation.
set(ZV_PRODUCT_FLAGS
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-stack-protector -fno-threadsafe-statics -fno-ident -fomit-frame-pointer
  -mpreferred-stack-boundary=2 -malign-data=abi -Wall -Wextra
  -mno-stack-arg-probe -Werror=frame-larger-than=4000 -fno-tree-loop-distribute-patterns
  --param=max-jump-thread-duplication-stmts=1
  -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 -DWINVER=0x0601)

# The version resource of every installer: the project's version and the
# maker's names, as RC string literals (quotes doubled, backslashes escaped).
set(zv_version_binary "")
foreach(part MAJOR MINOR PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    list(APPEND zv_version_binary 0)
  else()
    list(APPEND zv_version_binary ${PROJECT_VERSION_${part}})
  endif()
endforeach()
list(JOIN zv_version_binary "," zv_version_binary)
foreach(name ZV_COMPANY_NAME ZV_COPYRIGHT)
  string(REPLACE "\\" "\\\\" escaped "${${name}}")
  string(REPLACE "\"" "\"\"" escaped "${escaped}")
  string(TOLOWER ${name} key)
  set(${key} "${escaped}")
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/resources/version.rc.in
               ${PROJECT_BINARY_DIR}/resources/zvwebsetup_version.rc @ONLY)

# Release objects carry both machine code (for the unit tests) and the
# compiler's own form, from which the installer's link optimises the whole
# program at once and drops every routine and constant nothing uses.
# Each source first sees shell/imports.h (calls without relocations).
function(zv_product_code target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${ZV_PRODUCT_FLAGS}
    $<$<COMPILE_LANGUAGE:CXX>:-include ${PROJECT_SOURCE_DIR}/shell/imports.h>
    $<$<CONFIG:Release>:-Oz -flto -ffat-lto-objects -ffunction-sections -fdata-sections>)
endfunction()

# Stops the configure step unless every entry of `pins` is a SHA-256 as
# 64 hexadecimal digits: a mistyped pin must never become no pin.
function(zv_check_pins what pins)
  foreach(pin IN LISTS pins)
    string(LENGTH "${pin}" length)
    if(NOT length EQUAL 64 OR NOT pin MATCHES "^[0-9A-Fa-f]+$")
      message(FATAL_ERROR "${what}: \"${pin}\" is not a SHA-256 of 64 hexadecimal digits")
    endif()
  endforeach()
endfunction()

# Sets `out` to checked `pins` as the installer holds them, the body of a
# C string literal: their count as one byte, then each pin's 32 bytes.
function(zv_pin_list out pins)
  list(LENGTH pins count)
  if(count GREATER 255)
    message(FATAL_ERROR "more than 255 pins")
  endif()
  math(EXPR count "${count}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "0x" "\\x" bytes "${count}")
  foreach(pin IN LISTS pins)
    string(REGEX REPLACE "(..)" "\\\\x\\1" pin "${pin}")
    string(APPEND bytes "${pin}")
  endforeach()
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()

# Sets `out` to the FILETIME (100 ns since 1601, UTC) of `value`, a time
# written YYYY-MM-DDTHH:MM:SSZ, or to 0 when `value` is empty; anything else
# stops the configure step: a mistyped floor must never become no floor.
function(zv_filetime what value out)
  if(value STREQUAL "")
    set(${out} 0 PARENT_SCOPE)
    return()
  endif()
  if(NOT value MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])T([0-9][0-9]):([0-9][0-9]):([0-9][0-9])Z$")
    message(FATAL_ERROR "${what}: \"${value}\" is not a UTC time written YYYY-MM-DDTHH:MM:SSZ")
  endif()
  foreach(i RANGE 1 6)
    math(EXPR f${i} "${CMAKE_MATCH_${i}}")
  endforeach()
  set(days_in 31 28 31 30 31 30 31 31 30 31 30 31)
  if(f1 GREATER_EQUAL 1601 AND f2 GREATER_EQUAL 1 AND f2 LESS_EQUAL 12)
    math(EXPR month_index "${f2} - 1")
    list(GET days_in ${month_index} last)
    math(EXPR by4 "${f1} % 4")
    math(EXPR by100 "${f1} % 100")
    math(EXPR by400 "${f1} % 400")
    if(f2 EQUAL 2 AND by4 EQUAL 0 AND (NOT by100 EQUAL 0 OR by400 EQUAL 0))
      set(last 29)
    endif()
  endif()
  if(NOT DEFINED last OR f3 LESS 1 OR f3 GREATER last OR f4 GREATER 23 OR f5 GREATER 59
     OR f6 GREATER 59)
    message(FATAL_ERROR "${what}: \"${value}\" is no such time (UTC, from 1601)")
  endif()
  # Days since 1601-01-01 of a proleptic Gregorian date, counted from March
  # so that the leap day ends the year.
  if(f2 LESS_EQUAL 2)
    math(EXPR f1 "${f1} - 1")
    math(EXPR f2 "${f2} + 12")
  endif()
  math(EXPR days "365 * ${f1} + ${f1} / 4 - ${f1} / 100 + ${f1} / 400 + (153 * (${f2} - 3) + 2) / 5 + ${f3} - 1 - 584694")
  math(EXPR filetime "((${days} * 24 + ${f4}) * 60 + ${f5}) * 60 + ${f6}")
  math(EXPR filetime "${filetime} * 10000000")
  set(${out} ${filetime} PARENT_SCOPE)
endfunction()

# An installer executable for one package source:
#   zv_add_installer(name URL32 url URL64 url [URL_ARM64 url]
#                    [SHA256_32 hex] [SHA256_64 hex] [SHA256_ARM64 hex]
#                    [SIGNERS pin...] [REQUIRE_SIGNATURE ON|OFF]
#                    [SIGNED_NOT_BEFORE YYYY-MM-DDTHH:MM:SSZ] [STALL_SECONDS n]
#                    [CHECK_CHUNK_MS n])
# STALL_SECONDS (60 unless given): how long a download may go without a
# byte before it is given up. CHECK_CHUNK_MS (0 unless given; test builds
# only): a pause before each 64 KiB the package's check reads.
# The entry is RunInstaller; nothing of the C or C++ run-time is linked,
# nor libgcc: shell/nocrt.cpp has the few helpers the compiler calls, and
# any other one fails the link instead of growing the image unnoticed.
find_program(ZV_BUILD_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT ZV_BUILD_PYTHON)
  find_program(ZV_BUILD_PYTHON python3 REQUIRED)
endif()

function(zv_add_installer name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG ""
                        "URL32;URL64;URL_ARM64;SHA256_32;SHA256_64;SHA256_ARM64;REQUIRE_SIGNATURE;SIGNED_NOT_BEFORE;ANY_PUBLISHER;STALL_SECONDS;CHECK_CHUNK_MS"
                        "SIGNERS")
  if(NOT DEFINED ARG_REQUIRE_SIGNATURE)
    set(ARG_REQUIRE_SIGNATURE ON)
  endif()
  if(NOT DEFINED ARG_STALL_SECONDS)
    set(ARG_STALL_SECONDS 60)
  elseif(NOT ARG_STALL_SECONDS MATCHES "^[1-9][0-9]?[0-9]?$")
    message(FATAL_ERROR "${name}: STALL_SECONDS \"${ARG_STALL_SECONDS}\" is not 1 to 999")
  endif()
  math(EXPR stall_ms "${ARG_STALL_SECONDS} * 1000")
  if(NOT DEFINED ARG_CHECK_CHUNK_MS)
    set(check_chunk_ms 0)
  elseif(ARG_CHECK_CHUNK_MS MATCHES "^[0-9]?[0-9]?[0-9]$")
    set(check_chunk_ms ${ARG_CHECK_CHUNK_MS})
  else()
    message(FATAL_ERROR "${name}: CHECK_CHUNK_MS \"${ARG_CHECK_CHUNK_MS}\" is not 0 to 999")
  endif()
  foreach(one SHA256_32 SHA256_64 SHA256_ARM64)
    if(ARG_${one} MATCHES ";")
      message(FATAL_ERROR "${name}: ${one} takes one SHA-256, not a list")
    endif()
    zv_check_pins("${name}: ${one}" "${ARG_${one}}")
  endforeach()
  zv_check_pins("${name}: signer pin" "${ARG_SIGNERS}")
  zv_filetime("${name}: signed-not-before floor" "${ARG_SIGNED_NOT_BEFORE}" not_before)
  if(NOT ARG_REQUIRE_SIGNATURE AND NOT not_before EQUAL 0)
    message(FATAL_ERROR "${name}: a signed-not-before floor (${ARG_SIGNED_NOT_BEFORE}) needs "
                        "signatures to be required")
  endif()
  # Without a pin, any publisher Windows trusts passes, under a root a
  # same-user process may have added to the user's own store among them:
  # only ever on purpose.
  if(ARG_REQUIRE_SIGNATURE AND NOT ARG_SIGNERS AND NOT ARG_ANY_PUBLISHER)
    message(FATAL_ERROR "${name}: signatures are required but no signer is pinned "
                        "(ZV_SIGNER_SHA256): a package signed by any publisher that Windows "
                        "trusts would be run. Pin the signer's key, or set ZV_ANY_PUBLISHER=ON "
                        "to run any trusted publisher's packages.")
  endif()

  # The values go into a generated source rather than onto the command
  # line, where ';' and quotes would not survive.
  foreach(url URL32 URL64 URL_ARM64)
    string(REPLACE "\\" "\\\\" escaped "${ARG_${url}}")
    string(REPLACE "\"" "\\\"" escaped "${escaped}")
    string(TOLOWER ${url} key)
    set(${key} "${escaped}")
  endforeach()
  zv_pin_list(sha32 "${ARG_SHA256_32}")
  zv_pin_list(sha64 "${ARG_SHA256_64}")
  zv_pin_list(sha_arm64 "${ARG_SHA256_ARM64}")
  zv_pin_list(signers "${ARG_SIGNERS}")
  if(ARG_REQUIRE_SIGNATURE)
    set(require true)
  else()
    set(require false)
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}_package_source.cpp)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/package_source.cpp.in ${source} @ONLY)

  add_executable(${name} WIN32
    $<TARGET_OBJECTS:zvcore>
    ${source}
    ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.rc)
  zv_product_code(${name})
  # Where zvwebsetup.rc finds the generated zvwebsetup_version.rc.
  target_include_directories(${name} PRIVATE ${PROJECT_BINARY_DIR}/resources)
  target_link_options(${name} PRIVATE
    -nostdlib -nostartfiles -static -s
    $<$<CONFIG:Release>:-Oz -flto -Wl,--gc-sections ${ZV_PRODUCT_FLAGS}>
    -Wl,--entry,_RunInstaller -Wl,--subsystem,windows
    -Wl,--nxcompat -Wl,--dynamicbase -Wl,--tsaware
    -Wl,-T,${PROJECT_SOURCE_DIR}/cmake/installer.ld
    # Two builds of the same sources give the same bytes.
    -Wl,--no-insert-timestamp
    # The symbols stripped from the exe, kept beside it for inspection.
    -Wl,-Map=$<TARGET_FILE:${name}>.map)
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
  # Sets the import and resource directories, which ld leaves empty for
  # tables inside .text (installer.ld), from the link map; and moves the
  # headers over the linker's DOS stub when that saves a 512-byte block.
  add_custom_command(TARGET ${name} POST_BUILD
    COMMAND ${ZV_BUILD_PYTHON} ${PROJECT_SOURCE_DIR}/scripts/compact-pe $<TARGET_FILE:${name}>
    VERBATIM)
  target_link_libraries(${name} PRIVATE kernel32 user32 gdi32 ole32 advapi32)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/installer.ld
    ${PROJECT_SOURCE_DIR}/scripts/compact-pe)
  # The resource script names these files; CMake does not see into it.
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.rc APPEND PROPERTY OBJECT_DEPENDS
    ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.ico ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.manifest
    ${PROJECT_BINARY_DIR}/resources/zvwebsetup_version.rc)
endfunction()
