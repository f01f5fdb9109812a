# What the command-line tools need in a Windows cross build (tools/):
#
#   am_audio_io  libsndfile (with FLAC, Ogg Vorbis, Opus, MP3) and libsoxr,
#                static, from AM_WINDOWS_DEPS: the prefix that
#                `scripts/deps windows-tools` builds from Debian's source
#                packages, read through its own pkg-config files (--static,
#                so that the codec libraries come along)
#   am_cli11     CLI11, header-only, from the build machine
#   AM_TOMLPP_INCLUDE_DIR  toml++, header-only, likewise
#
# The header-only libraries are Debian's (libcli11-dev, libtomlplusplus-dev).
# Their folders are linked into a folder of the build's own, since naming
# /usr/include itself would put the build machine's C library headers in
# front of MinGW-w64's. AM_WINDOWS_TOOL_DEPS_FOUND says whether all is there.

set(AM_WINDOWS_DEPS "" CACHE PATH
    "Prefix of the static Windows libraries of libsndfile and libsoxr (scripts/deps windows-tools)")
set(AM_WINDOWS_TOOL_DEPS_FOUND FALSE)

find_program(AM_PKG_CONFIG NAMES pkgconf pkg-config)
find_path(AM_CLI11_HOST_DIR CLI/CLI.hpp PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(AM_TOMLPP_HOST_DIR toml++/toml.h PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
set(pc_dir ${AM_WINDOWS_DEPS}/lib/pkgconfig)
if(NOT (AM_WINDOWS_DEPS AND EXISTS ${pc_dir}/sndfile.pc AND EXISTS ${pc_dir}/soxr.pc
        AND AM_PKG_CONFIG AND AM_CLI11_HOST_DIR AND AM_TOMLPP_HOST_DIR))
  message(STATUS "No static Windows libsndfile and libsoxr in AM_WINDOWS_DEPS "
                 "('${AM_WINDOWS_DEPS}'; scripts/deps windows-tools), or no pkg-config, CLI11 or "
                 "toml++ (Debian: pkgconf, libcli11-dev, libtomlplusplus-dev): "
                 "lumetra-measure.exe and quenbar-snr.exe are not built")
  return()
endif()

# A rebuilt prefix reconfigures the build.
file(GLOB pc_files ${pc_dir}/*.pc)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${pc_files})
foreach(what IN ITEMS cflags-only-I libs)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env PKG_CONFIG_LIBDIR=${pc_dir} PKG_CONFIG_PATH=
            PKG_CONFIG_SYSROOT_DIR= ${AM_PKG_CONFIG} --static --${what} sndfile soxr
    OUTPUT_VARIABLE words OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "pkg-config --static --${what} sndfile soxr fails in ${pc_dir}")
  endif()
  separate_arguments(words UNIX_COMMAND "${words}")
  set(pc_${what} ${words})
endforeach()
list(TRANSFORM pc_cflags-only-I REPLACE "^-I" "")

add_library(am_audio_io INTERFACE)
# System folders, as Debian's /usr/include is for the Linux build: their
# warnings are not ours.
target_include_directories(am_audio_io SYSTEM INTERFACE ${pc_cflags-only-I})
target_link_libraries(am_audio_io INTERFACE ${pc_libs})

set(host_headers ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${host_headers})
file(CREATE_LINK ${AM_CLI11_HOST_DIR}/CLI ${host_headers}/CLI SYMBOLIC)
file(CREATE_LINK ${AM_TOMLPP_HOST_DIR}/toml++ ${host_headers}/toml++ SYMBOLIC)
add_library(am_cli11 INTERFACE)
target_include_directories(am_cli11 SYSTEM INTERFACE ${host_headers})
set(AM_TOMLPP_INCLUDE_DIR ${host_headers})

set(AM_WINDOWS_TOOL_DEPS_FOUND TRUE)
