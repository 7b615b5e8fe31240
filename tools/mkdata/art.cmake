# The generator's pictures and its demonstration replay, made in memory with
# no file format: the data generator packs them into the data directory, and
# the core's golden-frame test draws every screen on them. Included from both
# places; the first defines the library.
if(NOT TARGET zt-mkdata-art)
  set(ZT_MKDATA_SRC ${CMAKE_CURRENT_LIST_DIR}/src)
  add_library(zt-mkdata-art STATIC
    ${ZT_MKDATA_SRC}/canvas.cpp ${ZT_MKDATA_SRC}/palette.cpp ${ZT_MKDATA_SRC}/pixel_font.cpp
    ${ZT_MKDATA_SRC}/sheets.cpp ${ZT_MKDATA_SRC}/sheets_screens.cpp
    ${ZT_MKDATA_SRC}/sheets_sprites.cpp ${ZT_MKDATA_SRC}/sheets_text.cpp
    ${ZT_MKDATA_SRC}/demo.cpp)
  target_include_directories(zt-mkdata-art PUBLIC ${ZT_MKDATA_SRC})
  target_link_libraries(zt-mkdata-art PUBLIC zt-core)
  # The demonstration is played by the headless game and its scripted hand.
  target_link_libraries(zt-mkdata-art PRIVATE zt-headless)
endif()
