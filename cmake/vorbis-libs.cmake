# libogg and libvorbis (with vorbisfile), built static from Debian's source
# packages with their own CMake files, as part of our build. The sources live
# outside the repository: scripts/fetch-vorbis-sources.sh unpacks them (the
# install script runs it). Gives the target `vorbis_reference`: vorbisfile,
# libvorbis and libogg, with their public headers.
set(VORBIS_SOURCES_DIR ${PROJECT_SOURCE_DIR}/build/third_party/src CACHE PATH
    "Where scripts/fetch-vorbis-sources.sh unpacked libogg and libvorbis")

function(add_vorbis_libraries)
  foreach(package libogg libvorbis)
    if(NOT EXISTS ${VORBIS_SOURCES_DIR}/${package}/CMakeLists.txt)
      message(FATAL_ERROR "${package} sources not found in ${VORBIS_SOURCES_DIR}: "
                          "run scripts/fetch-vorbis-sources.sh (or scripts/install-deps.sh)")
    endif()
  endforeach()
  # Their options, as normal variables of this function's scope only: static,
  # without their tests, and with our settings winning over their option() calls.
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  set(BUILD_SHARED_LIBS OFF)
  set(BUILD_TESTING OFF)
  set(INSTALL_DOCS OFF)
  set(INSTALL_PKG_CONFIG_MODULE OFF)
  set(INSTALL_CMAKE_PACKAGE_MODULE OFF)
  add_subdirectory(${VORBIS_SOURCES_DIR}/libogg ${CMAKE_BINARY_DIR}/third_party/libogg EXCLUDE_FROM_ALL)
  # libvorbis looks for an installed libogg; point it at the one just added.
  set(OGG_INCLUDE_DIR ${VORBIS_SOURCES_DIR}/libogg/include CACHE PATH "libogg headers" FORCE)
  set(OGG_LIBRARY ogg CACHE STRING "libogg, built here" FORCE)
  add_subdirectory(${VORBIS_SOURCES_DIR}/libvorbis ${CMAKE_BINARY_DIR}/third_party/libvorbis EXCLUDE_FROM_ALL)

  if(CMAKE_C_FLAGS MATCHES "sanitize=[^ ]*undefined")
    # Their bit readers shift signed values past the sign bit, and libogg
    # computes `null + 0` on buffers not yet allocated: formally undefined,
    # what every compiler defines. Every other check stays on for them.
    foreach(lib ogg vorbis vorbisfile)
      target_compile_options(${lib} PRIVATE -fno-sanitize=pointer-overflow,shift)
    endforeach()
  endif()

  add_library(vorbis_reference INTERFACE)
  target_link_libraries(vorbis_reference INTERFACE vorbisfile vorbis ogg)
endfunction()

add_vorbis_libraries()
