# The application shell on top of the `app` library: the widgets need Qt Widgets, the icons come from
# resources/shell.qrc, the update feed and the build number are build settings, and `quillvane` is the
# program itself (main.cpp, kept out of the library).
set(QUILLVANE_UPDATE_FEED_URL "" CACHE STRING "URL of the update feed (appcast); empty: no update checks")
set(QUILLVANE_UPDATE_PUBLIC_KEY "" CACHE STRING "Public key of the update feed; empty: no update checks")
set(QUILLVANE_BUILD_NUMBER "1" CACHE STRING "The integer build number the update checks compare")
if(NOT QUILLVANE_BUILD_NUMBER MATCHES "^[0-9]+$")
  message(FATAL_ERROR "QUILLVANE_BUILD_NUMBER must be a whole number, not \"${QUILLVANE_BUILD_NUMBER}\"")
endif()

target_sources(app PRIVATE ${PROJECT_SOURCE_DIR}/resources/shell.qrc)
target_link_libraries(app PUBLIC dashboard Qt6::Widgets)
target_compile_definitions(app PRIVATE
  QUILLVANE_VERSION_TEXT="${PROJECT_VERSION}"
  QUILLVANE_BUILD_NUMBER=${QUILLVANE_BUILD_NUMBER}
  QUILLVANE_UPDATE_FEED_URL="${QUILLVANE_UPDATE_FEED_URL}"
  QUILLVANE_UPDATE_PUBLIC_KEY="${QUILLVANE_UPDATE_PUBLIC_KEY}")

add_executable(quillvane ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
target_link_libraries(quillvane PRIVATE app platform)
set_target_properties(quillvane PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)

include(GNUInstallDirs)
install(TARGETS quillvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/quillvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/AppIcon.svg DESTINATION
        ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME quillvane.svg)
