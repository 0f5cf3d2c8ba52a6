# The music player on DirectSound: a small Windows program plays a track on a
# window, and a Linux-side test runs it under Wine against a private
# PulseAudio and compares what was played with the decoded track.
if(WIN32)
  add_executable(audio_player_test ${CMAKE_CURRENT_LIST_DIR}/audio_player_test.cpp)
  target_link_libraries(audio_player_test PRIVATE viriz_audio user32)
else()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME windows.audio_player
    COMMAND ${Python3_EXECUTABLE} -m unittest -v audio_player_test
    WORKING_DIRECTORY ${CMAKE_CURRENT_LIST_DIR})
  set_tests_properties(windows.audio_player PROPERTIES LABELS windows TIMEOUT 600
    RESOURCE_LOCK wine
    ENVIRONMENT "VIRIZ_WINDOWS_BIN=${VIRIZ_WINDOWS_BIN};PYTHONDONTWRITEBYTECODE=1")
endif()
