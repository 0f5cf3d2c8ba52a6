# Static mingw builds of libpng, libogg and libvorbis live in VIRIZ_WIN_DEPS
# (made by scripts/build-windows-deps.sh); zlib comes from libz-mingw-w64-dev.
set(VIRIZ_WIN_DEPS "" CACHE PATH "prefix of the static Windows libraries")
if(NOT VIRIZ_WIN_DEPS)
  message(FATAL_ERROR "VIRIZ_WIN_DEPS is not set")
endif()

find_package(Threads REQUIRED)
add_link_options(-static -static-libgcc -static-libstdc++)

add_library(viriz_gl INTERFACE)
target_link_libraries(viriz_gl INTERFACE glu32 opengl32 gdi32 user32)

foreach(lib vorbisfile vorbis ogg png16)
  add_library(viriz_win_${lib} STATIC IMPORTED)
  set_target_properties(viriz_win_${lib} PROPERTIES
    IMPORTED_LOCATION ${VIRIZ_WIN_DEPS}/lib/lib${lib}.a
    INTERFACE_INCLUDE_DIRECTORIES ${VIRIZ_WIN_DEPS}/include)
endforeach()

# Names the portable code links against, the same on both platforms.
add_library(PkgConfig::VORBISFILE INTERFACE IMPORTED)
target_link_libraries(PkgConfig::VORBISFILE INTERFACE viriz_win_vorbisfile viriz_win_vorbis viriz_win_ogg)
add_library(PkgConfig::PNG INTERFACE IMPORTED)
target_link_libraries(PkgConfig::PNG INTERFACE viriz_win_png16 z)
add_library(PkgConfig::ZLIB INTERFACE IMPORTED)
target_link_libraries(PkgConfig::ZLIB INTERFACE z)
