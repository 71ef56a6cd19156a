# Warnings are errors in our own code; third-party code (GoogleTest) is built without them.
function(lumo_strict target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

if(WIN32)
  # The DLLs must load on a user's machine that has none of the compiler's runtime DLLs,
  # so libgcc, libstdc++ and winpthread are linked in.
  add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501)
  set(LUMO_STATIC_RUNTIME -static -static-libgcc -static-libstdc++)
  # Left to itself ld writes the time of the link into the PE header and the export table, so
  # two builds of the same commit would differ. Nothing reads those stamps: no program binds
  # its imports to our DLLs.
  set(LUMO_NO_TIMESTAMP -Wl,--no-insert-timestamp)
  function(lumo_windows_binary target)
    lumo_strict(${target})
    target_link_options(${target} PRIVATE ${LUMO_STATIC_RUNTIME} ${LUMO_NO_TIMESTAMP})
    set_target_properties(${target} PROPERTIES PREFIX "")
  endfunction()

  # What Explorer shows under a DLL's or a program's Properties: the project's version, a
  # description, the product name and the copyright line.
  function(lumo_version_resource target description)
    set(LUMO_FILE_DESCRIPTION "${description}")
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
      set(LUMO_ORIGINAL_FILENAME "${target}.exe")
      set(LUMO_FILE_TYPE VFT_APP)
    else()
      set(LUMO_ORIGINAL_FILENAME "${target}.dll")
      set(LUMO_FILE_TYPE VFT_DLL)
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  endfunction()
endif()

# Lumo Listen's Linux builds that ship (linux-amd64, linux-arm64): the same commit built in any
# two folders gives the same bytes. No path of either folder may reach the binary (assertions'
# and __FILE__'s names, debug info); the build id is a hash of the linked bytes, and the package
# strips the symbol tables. Hardened as Debian's own packages are (dpkg-buildflags): the
# listener reads packets off the network.
if(LUMO_SHIPS_LINUX)
  add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
                      -ffile-prefix-map=${CMAKE_BINARY_DIR}=build
                      -D_FORTIFY_SOURCE=2 -fstack-protector-strong -Wformat
                      -Werror=format-security)
  add_link_options(-Wl,--build-id=sha1 -Wl,-z,relro -Wl,-z,now)
endif()

# GoogleTest from Debian's source package, built with whatever toolchain is active.
macro(lumo_use_googletest)
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
endmacro()
