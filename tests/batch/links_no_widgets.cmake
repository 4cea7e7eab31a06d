# Fails when the batch tool loads any Qt library, or when its text helper,
# which draws the text stamps, loads Qt Widgets: it takes Qt GUI alone.
# Run as cmake -DTOOL=<path> -DHELPER=<path> -P links_no_widgets.cmake.
foreach(binary TOOL HELPER)
  execute_process(COMMAND ldd "${${binary}}" OUTPUT_VARIABLE libraries RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "ldd could not list the libraries of ${${binary}}")
  endif()
  set(${binary}_LIBRARIES "${libraries}")
endforeach()
if(TOOL_LIBRARIES MATCHES "libQt6")
  message(FATAL_ERROR "${TOOL} loads Qt:\n${TOOL_LIBRARIES}")
endif()
# The text renderer needs Qt GUI; without it in the list the list is not
# what this check thinks it is.
if(NOT HELPER_LIBRARIES MATCHES "libQt6Gui")
  message(FATAL_ERROR "${HELPER} does not load libQt6Gui:\n${HELPER_LIBRARIES}")
endif()
if(HELPER_LIBRARIES MATCHES "libQt6Widgets")
  message(FATAL_ERROR "${HELPER} loads Qt Widgets:\n${HELPER_LIBRARIES}")
endif()
