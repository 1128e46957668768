# Flags and link rules for code that ends up in the no-CRT installer.

set(ZV_PRODUCT_FLAGS
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-unwind-tables
  -fno-stack-protector -fno-threadsafe-statics -Wall -Wextra
  -DWIN32_LEAN_AND_MEAN -DNOMINMAX -D_WIN32_WINNT=0x0601 -DWINVER=0x0601)

function(zv_product_code target)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${target} PRIVATE ${ZV_PRODUCT_FLAGS} $<$<CONFIG:Release>:-Os>)
endfunction()

# An installer executable for one pair of package addresses. The entry is
# RunInstaller; nothing of the C or C++ run-time is linked, only libgcc for
# the compiler's own arithmetic helpers (64-bit division, stack probes),
# which import nothing.
function(zv_add_installer name url32 url64)
  add_executable(${name} WIN32
    $<TARGET_OBJECTS:zvcore>
    ${PROJECT_SOURCE_DIR}/download/package_urls.cpp
    ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.rc)
  zv_product_code(${name})
  target_compile_definitions(${name} PRIVATE ZV_URL32="${url32}" ZV_URL64="${url64}")
  target_link_options(${name} PRIVATE
    -nostdlib -nostartfiles -static -s
    -Wl,--entry,_RunInstaller -Wl,--subsystem,windows
    -Wl,--nxcompat -Wl,--dynamicbase
    # The symbols stripped from the exe, kept beside it for inspection.
    -Wl,-Map=$<TARGET_FILE:${name}>.map)
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX)
  target_link_libraries(${name} PRIVATE kernel32 user32 gdi32 ole32 gcc)
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS
    ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.ico ${PROJECT_SOURCE_DIR}/resources/zvwebsetup.manifest)
endfunction()
