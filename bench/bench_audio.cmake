target_link_libraries(viriz-bench PRIVATE viriz_audio viriz_audio_test_tracks)
target_include_directories(viriz-bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/audio)
