# jpegpress against libjpeg-turbo on the same pictures.
if(TARGET jpegpress_testing)
  vistrel_add_bench(NAME bench_jpegpress SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_jpegpress.cpp
                    LIBS jpegpress_internal jpegpress_testing)
endif()
