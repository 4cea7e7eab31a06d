# Fails when the batch tool loads any Qt library, or when its Qt module,
# which draws the text stamps and resizes stamps, loads Qt Widgets: it takes
# Qt GUI alone. Run as cmake -DTOOL=<path> -DMODULE=<path> -P links_no_widgets.cmake.
foreach(binary TOOL MODULE)
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
if(NOT MODULE_LIBRARIES MATCHES "libQt6Gui")
  message(FATAL_ERROR "${MODULE} does not load libQt6Gui:\n${MODULE_LIBRARIES}")
endif()
if(MODULE_LIBRARIES MATCHES "libQt6Widgets")
  message(FATAL_ERROR "${MODULE} loads Qt Widgets:\n${MODULE_LIBRARIES}")
endif()
