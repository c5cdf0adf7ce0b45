# Frame rendering against the bare libjpeg decode of the same frames.
if(TARGET device_decoder_testing)
  vistrel_add_bench(NAME bench_decoder SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_decoder.cpp
                    LIBS device_decoder device_decoder_testing)
endif()
