# Fails when the batch tool loads Qt Widgets: it draws its text stamps with
# Qt GUI alone. Run as cmake -DTOOL=<path> -P links_no_widgets.cmake.
execute_process(COMMAND ldd "${TOOL}" OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "ldd could not list the libraries of ${TOOL}")
endif()
# The text renderer needs Qt GUI; without it in the list the list is not
# what this check thinks it is.
if(NOT libraries MATCHES "libQt6Gui")
  message(FATAL_ERROR "${TOOL} does not load libQt6Gui:\n${libraries}")
endif()
if(libraries MATCHES "libQt6Widgets")
  message(FATAL_ERROR "${TOOL} loads Qt Widgets:\n${libraries}")
endif()
