# The browser build (emscripten): static WebAssembly builds of libpng, zlib,
# libogg and libvorbis live in VIRIZ_WEB_DEPS (made by
# scripts/build-web-deps.sh); GL is emscripten's fixed-function emulation on
# WebGL, reached through its SDL 1.2 layer.
set(VIRIZ_WEB_DEPS "" CACHE PATH "prefix of the static WebAssembly libraries")
if(NOT VIRIZ_WEB_DEPS)
  message(FATAL_ERROR "VIRIZ_WEB_DEPS is not set")
endif()

# The music worker is a thread: every object is built for shared memory.
# Failures are thrown and caught, which emscripten leaves off unless asked.
# (Its WebAssembly exceptions do not match types in threaded builds of
# emscripten 3.1.6: every catch would see an unknown error.)
add_compile_options(-pthread -fexceptions)
add_link_options(-pthread -fexceptions)
find_package(Threads REQUIRED)

add_library(viriz_gl INTERFACE)
# The emulation copies client arrays into a buffer of its own for each draw:
# the mesh's arrays are about 4.4 MB.
target_link_options(viriz_gl INTERFACE -sLEGACY_GL_EMULATION -sGL_MAX_TEMP_BUFFER_SIZE=8388608)

foreach(lib vorbisfile vorbis ogg png16 z)
  add_library(viriz_web_${lib} STATIC IMPORTED)
  set_target_properties(viriz_web_${lib} PROPERTIES
    IMPORTED_LOCATION ${VIRIZ_WEB_DEPS}/lib/lib${lib}.a
    INTERFACE_INCLUDE_DIRECTORIES ${VIRIZ_WEB_DEPS}/include)
endforeach()

# Names the portable code links against, the same on every platform.
add_library(PkgConfig::VORBISFILE INTERFACE IMPORTED)
target_link_libraries(PkgConfig::VORBISFILE INTERFACE viriz_web_vorbisfile viriz_web_vorbis viriz_web_ogg)
add_library(PkgConfig::PNG INTERFACE IMPORTED)
target_link_libraries(PkgConfig::PNG INTERFACE viriz_web_png16 viriz_web_z)
add_library(PkgConfig::ZLIB INTERFACE IMPORTED)
target_link_libraries(PkgConfig::ZLIB INTERFACE viriz_web_z)
