# The three embedded resource sets. Product data (firmware image and its DfuSe
# container, the background picture) is generated at build time by tools/;
# fonts and dfu-util come from the build machine.

set(UPDATER_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${UPDATER_GENERATED_DIR})

set(UPDATER_FONT_REGULAR "/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf"
  CACHE FILEPATH "Regular face of the application font")
set(UPDATER_FONT_BOLD "/usr/share/fonts/opentype/cantarell/Cantarell-Bold.otf"
  CACHE FILEPATH "Bold face of the application font")
foreach(f UPDATER_FONT_REGULAR UPDATER_FONT_BOLD UPDATER_DFU_UTIL)
  if(NOT EXISTS "${${f}}")
    message(FATAL_ERROR "${f} names '${${f}}', which does not exist")
  endif()
endforeach()

set(UPDATER_FIRMWARE_BIN_FILE ${UPDATER_GENERATED_DIR}/firmware.bin)
if(UPDATER_FIRMWARE_BIN)
  # A real image: copy it and refuse it when it carries no usable information block.
  add_custom_command(OUTPUT ${UPDATER_FIRMWARE_BIN_FILE}
    COMMAND check_firmware ${UPDATER_FIRMWARE_BIN}
    COMMAND ${CMAKE_COMMAND} -E copy ${UPDATER_FIRMWARE_BIN} ${UPDATER_FIRMWARE_BIN_FILE}
    DEPENDS check_firmware ${UPDATER_FIRMWARE_BIN}
    COMMENT "Checking and embedding ${UPDATER_FIRMWARE_BIN}")
else()
  add_custom_command(OUTPUT ${UPDATER_FIRMWARE_BIN_FILE}
    COMMAND make_firmware ${UPDATER_FIRMWARE_BIN_FILE}
    COMMAND check_firmware ${UPDATER_FIRMWARE_BIN_FILE}
    DEPENDS make_firmware check_firmware
    COMMENT "Generating firmware.bin")
endif()

set(UPDATER_FIRMWARE_DFU_FILE ${UPDATER_GENERATED_DIR}/firmware.dfu)
add_custom_command(OUTPUT ${UPDATER_FIRMWARE_DFU_FILE}
  COMMAND make_dfuse ${UPDATER_FIRMWARE_BIN_FILE} ${UPDATER_FIRMWARE_DFU_FILE}
  DEPENDS make_dfuse ${UPDATER_FIRMWARE_BIN_FILE}
  COMMENT "Generating firmware.dfu")

set(UPDATER_BACKGROUND_FILE ${UPDATER_GENERATED_DIR}/background.jpg)
add_custom_command(OUTPUT ${UPDATER_BACKGROUND_FILE}
  COMMAND make_background ${UPDATER_BACKGROUND_FILE} ${UPDATER_FONT_REGULAR} ${UPDATER_FONT_BOLD}
  DEPENDS make_background ${UPDATER_FONT_REGULAR} ${UPDATER_FONT_BOLD}
  COMMENT "Generating background.jpg")

set(UPDATER_SETTINGS_FILE ${CMAKE_CURRENT_SOURCE_DIR}/resources/settings_GUI.json)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/fonts.qrc.in ${UPDATER_GENERATED_DIR}/fonts.qrc @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/dfuutil.qrc.in ${UPDATER_GENERATED_DIR}/dfuutil.qrc @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/resources/product.qrc.in ${UPDATER_GENERATED_DIR}/product.qrc @ONLY)

set(UPDATER_RESOURCE_FILES
  ${UPDATER_GENERATED_DIR}/fonts.qrc
  ${UPDATER_GENERATED_DIR}/dfuutil.qrc
  ${UPDATER_GENERATED_DIR}/product.qrc
  ${UPDATER_FIRMWARE_BIN_FILE} ${UPDATER_FIRMWARE_DFU_FILE} ${UPDATER_BACKGROUND_FILE})
set_source_files_properties(${UPDATER_FIRMWARE_BIN_FILE} ${UPDATER_FIRMWARE_DFU_FILE}
  ${UPDATER_BACKGROUND_FILE} PROPERTIES GENERATED TRUE HEADER_FILE_ONLY TRUE)

# Tests read the generated files directly.
set(UPDATER_GENERATED_DIR ${UPDATER_GENERATED_DIR} PARENT_SCOPE)
set(UPDATER_FIRMWARE_BIN_FILE ${UPDATER_FIRMWARE_BIN_FILE} PARENT_SCOPE)
set(UPDATER_FIRMWARE_DFU_FILE ${UPDATER_FIRMWARE_DFU_FILE} PARENT_SCOPE)
