# The Firebird client library and the OO API headers (Debian: libfbclient2, firebird-dev).
if(WIN32)
  # The Windows DLL loads fbclient.dll at run time and links nothing of Firebird; the OO API
  # headers are plain C++ and serve the cross compiler too. Only the Firebird headers are exposed
  # (through links in the build tree), never the rest of the host's /usr/include.
  set(KAVLO_FIREBIRD_HEADERS /usr/include CACHE PATH "Folder holding firebird/Interface.h and ibase.h")
  if(NOT EXISTS ${KAVLO_FIREBIRD_HEADERS}/firebird/Interface.h OR NOT EXISTS ${KAVLO_FIREBIRD_HEADERS}/ibase.h)
    message(FATAL_ERROR "Firebird OO API headers not found in ${KAVLO_FIREBIRD_HEADERS} (install firebird-dev)")
  endif()
  set(_fb_inc ${CMAKE_BINARY_DIR}/firebird-include)
  file(MAKE_DIRECTORY ${_fb_inc})
  foreach(_item firebird ibase.h iberror.h)
    if(NOT EXISTS ${_fb_inc}/${_item})
      file(CREATE_LINK ${KAVLO_FIREBIRD_HEADERS}/${_item} ${_fb_inc}/${_item} SYMBOLIC)
    endif()
  endforeach()
  add_library(Firebird::fbclient INTERFACE IMPORTED)
  set_target_properties(Firebird::fbclient PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_fb_inc})
else()
  find_path(FIREBIRD_INCLUDE_DIR firebird/Interface.h REQUIRED)
  find_library(FIREBIRD_CLIENT_LIBRARY NAMES fbclient REQUIRED)
  add_library(Firebird::fbclient UNKNOWN IMPORTED)
  set_target_properties(Firebird::fbclient PROPERTIES
    IMPORTED_LOCATION ${FIREBIRD_CLIENT_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${FIREBIRD_INCLUDE_DIR})
endif()
