target_link_libraries(viriz-bench PRIVATE viriz_capture viriz_archive PkgConfig::VORBISFILE)
add_dependencies(viriz-bench viriz_data)
