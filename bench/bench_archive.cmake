target_link_libraries(viriz-bench PRIVATE viriz_archive_writer viriz_archive PkgConfig::ZLIB)
