# libspng, the PNG library of the converter and the reference host in every
# build, as the target ombr_spng.
#
# Natively it is Debian's libspng-dev. The MinGW builds compile the same
# version from Debian's source package (scripts/setup unpacks it into
# build/third_party/libspng) against Debian's MinGW zlib (libz-mingw-w64-dev,
# the same zlib version as the native one), as a static library linked into
# ombr.exe and pvrhost.exe only. Debian builds it without its SIMD code
# (enable_opt=false); so does this build. With the same settings both give
# the same PNG bytes.
if(WIN32)
  set(OMBR_SPNG_SOURCE_DIR "${PROJECT_SOURCE_DIR}/build/third_party/libspng" CACHE PATH
      "Debian's libspng source, unpacked by scripts/setup")
  if(NOT EXISTS "${OMBR_SPNG_SOURCE_DIR}/spng/spng.c")
    message(FATAL_ERROR "no libspng source in ${OMBR_SPNG_SOURCE_DIR}: run scripts/setup")
  endif()
  # The static zlib of the MinGW sysroot, not its DLL import library.
  find_library(OMBR_MINGW_ZLIB NAMES libz.a REQUIRED)
  find_path(OMBR_MINGW_ZLIB_HEADER zlib.h REQUIRED)
  add_library(ombr_spng STATIC "${OMBR_SPNG_SOURCE_DIR}/spng/spng.c")
  set_target_properties(ombr_spng PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON)
  target_compile_definitions(ombr_spng PUBLIC SPNG_STATIC PRIVATE SPNG_DISABLE_OPT)
  # Its own code, not ours: its warnings are not this project's to fix.
  target_compile_options(ombr_spng PRIVATE -w)
  target_include_directories(ombr_spng SYSTEM PUBLIC "${OMBR_SPNG_SOURCE_DIR}/spng")
  target_link_libraries(ombr_spng PUBLIC "${OMBR_MINGW_ZLIB}")
else()
  find_path(SPNG_INCLUDE_DIR spng.h REQUIRED)
  find_library(SPNG_LIBRARY spng REQUIRED)
  add_library(ombr_spng INTERFACE)
  target_include_directories(ombr_spng SYSTEM INTERFACE ${SPNG_INCLUDE_DIR})
  # zlib too: the codec names its strategies, the tests compress with it.
  find_package(ZLIB REQUIRED)
  target_link_libraries(ombr_spng INTERFACE ${SPNG_LIBRARY} ZLIB::ZLIB)
endif()
