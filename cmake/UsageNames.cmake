# The usage names of com.orvanta.hid.descriptor: the HID usage list of Debian's
# usb.ids, as it is, and its licence (the file's header and Debian's copyright
# file), as resources of the jar. Read when CMake configures, and again
# whenever either file changes.
set(PORTULA_USB_IDS /usr/share/misc/usb.ids CACHE FILEPATH "usb.ids, whose HID usage names go into the jar")
set(PORTULA_USB_IDS_COPYRIGHT /usr/share/doc/usb.ids/copyright CACHE FILEPATH "Debian's copyright file of usb.ids")
foreach(file "${PORTULA_USB_IDS}" "${PORTULA_USB_IDS_COPYRIGHT}")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "no ${file}: install Debian's usb.ids (scripts/setup.sh --host)")
  endif()
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PORTULA_USB_IDS}" "${PORTULA_USB_IDS_COPYRIGHT}")

# Whole strings only: the names hold semicolons and brackets, which lists would mangle.
file(READ "${PORTULA_USB_IDS}" _ids)
string(FIND "${_ids}" "\nHUT " _start)
string(FIND "${_ids}" "\n\n" _header_end)
if(_start LESS 0 OR _header_end LESS 0)
  message(FATAL_ERROR "${PORTULA_USB_IDS} has no HID usage list (lines HUT ...)")
endif()
math(EXPR _start "${_start} + 1")
string(SUBSTRING "${_ids}" ${_start} -1 _hut)
string(FIND "${_hut}" "\n#" _end)   # the next list's heading
string(SUBSTRING "${_hut}" 0 ${_end} _hut)
string(SUBSTRING "${_ids}" 0 ${_header_end} _header)
file(READ "${PORTULA_USB_IDS_COPYRIGHT}" _copyright)

# written beside, then copied only where changed: the jar is rebuilt only then
set(_dir "${CMAKE_CURRENT_BINARY_DIR}/usage-names")
file(WRITE "${_dir}/new/usages.txt" "${_hut}\n")
file(WRITE "${_dir}/new/usb.ids.LICENSE"
"The HID usage names in com/orvanta/hid/descriptor/usages.txt are taken from usb.ids,
whose header reads:

${_header}

and whose Debian copyright file reads:

${_copyright}")
configure_file("${_dir}/new/usages.txt" "${_dir}/usages.txt" COPYONLY)
configure_file("${_dir}/new/usb.ids.LICENSE" "${_dir}/usb.ids.LICENSE" COPYONLY)
set(PORTULA_USAGE_NAMES "${_dir}/usages.txt")
set(PORTULA_USAGE_NAMES_LICENSE "${_dir}/usb.ids.LICENSE")
