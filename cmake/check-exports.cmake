# cmake -DLIB=... -DJNI_HEADER=... -DHIDAPI_HEADER=... [-DNM=nm] -P check-exports.cmake
# The dynamic export table must hold every native method of the generated JNI
# header, CHIDDevice, _throwHIDExpcetion and hidapi's API, and nothing else.
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND "${NM}" -D --defined-only "${LIB}" OUTPUT_VARIABLE raw RESULT_VARIABLE rc1)
execute_process(COMMAND "${NM}" -D -C --defined-only "${LIB}" OUTPUT_VARIABLE demangled RESULT_VARIABLE rc2)
if(NOT rc1 EQUAL 0 OR NOT rc2 EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()

file(STRINGS "${JNI_HEADER}" decls REGEX "^JNIEXPORT ")
set(jni_names "")
foreach(d IN LISTS decls)
  string(REGEX MATCH "Java_[A-Za-z0-9_]+" name "${d}")
  list(APPEND jni_names "${name}")
endforeach()
list(LENGTH jni_names jni_count)
if(jni_count EQUAL 0)
  message(FATAL_ERROR "no native methods in ${JNI_HEADER}")
endif()

file(READ "${HIDAPI_HEADER}" hidapi_text)
string(REGEX MATCHALL "HID_API_[A-Z_]*CALL hid_[a-z_]+\\(" hid_decls "${hidapi_text}")
string(REGEX REPLACE "HID_API_[A-Z_]*CALL (hid_[a-z_]+)\\(" "\\1" hid_names "${hid_decls}")

# Symbols and their demangled forms, line by line (address type name).
string(REPLACE "\n" ";" raw_lines "${raw}")
string(REPLACE "\n" ";" dem_lines "${demangled}")
list(LENGTH raw_lines n)
math(EXPR last "${n} - 1")
set(exported "")
set(unexpected "")
foreach(i RANGE ${last})
  list(GET raw_lines ${i} line)
  if(line STREQUAL "")
    continue()
  endif()
  list(GET dem_lines ${i} dline)
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" sym "${line}")
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" dsym "${dline}")
  list(APPEND exported "${sym}")
  if(sym IN_LIST jni_names OR sym IN_LIST hid_names OR dsym MATCHES "^CHIDDevice::"
     OR dsym MATCHES "^_throwHIDExpcetion\\(")
    continue()
  endif()
  list(APPEND unexpected "${dsym}")
endforeach()
if(unexpected)
  message(FATAL_ERROR "${LIB} exports what it does not promise: ${unexpected}")
endif()

set(missing "")
foreach(name IN LISTS jni_names)
  if(NOT name IN_LIST exported)
    list(APPEND missing "${name}")
  endif()
endforeach()
foreach(name hid_init hid_exit hid_enumerate hid_free_enumeration hid_open hid_open_path
             hid_write hid_read_timeout hid_read hid_set_nonblocking hid_send_feature_report
             hid_get_feature_report hid_close hid_get_manufacturer_string hid_get_product_string
             hid_get_serial_number_string hid_get_indexed_string hid_error)
  if(NOT name IN_LIST exported)
    list(APPEND missing "${name}")
  endif()
endforeach()
foreach(member "CHIDDevice::ref_counter" "CHIDDevice::CHIDDevice()" "CHIDDevice::~CHIDDevice()"
               "CHIDDevice::open_device(int, int)" "CHIDDevice::open_device(char const*)"
               "CHIDDevice::close_device()" "CHIDDevice::write(unsigned char const*, unsigned int)"
               "CHIDDevice::read(unsigned char*, unsigned int)" "CHIDDevice::getRefCount()"
               "CHIDDevice::enumerate_devices(int, int)"
               "CHIDDevice::free_enumerations(hid_device_info*)" "_throwHIDExpcetion(JNIEnv_*, char const*, char const*, int, char const*)")
  # size_t is unsigned long in the 64-bit build
  string(REPLACE "unsigned int" "unsigned (int|long)" pattern "${member}")
  string(REPLACE "(" "\\(" pattern "${pattern}")
  string(REPLACE ")" "\\)" pattern "${pattern}")
  string(REPLACE "\\(int|long\\)" "(int|long)" pattern "${pattern}")
  string(REPLACE "*" "\\*" pattern "${pattern}")
  if(NOT demangled MATCHES " ${pattern}\n")
    list(APPEND missing "${member}")
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "${LIB} does not export: ${missing}")
endif()
if("Java_com_orvanta_jni_HIDClassConnector__1hid_1open" IN_LIST exported)
  message(FATAL_ERROR "${LIB} exports the short _hid_open name, which would bind both overloads")
endif()
list(LENGTH exported total)
message(STATUS "exports: ${total} symbols in ${LIB}, ${jni_count} native methods, all promised")
