# Module-definition files of the maker's token libraries for the architecture being built.
# i686 stdcall symbols carry @N decorations that the DLLs do not export (they are removed with
# --kill-at); x86_64 has no decorations, so they are stripped from the file.
set(TOKEN_LIBRARY_DEF_DIR ${CMAKE_CURRENT_LIST_DIR})

function(token_library_def name out_var)
  set(source ${TOKEN_LIBRARY_DEF_DIR}/${name}.def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(${out_var} ${source} PARENT_SCOPE)
    return()
  endif()
  set(generated ${CMAKE_BINARY_DIR}/token-defs/${name}.def)
  file(READ ${source} text)
  string(REGEX REPLACE "@[0-9]+" "" text "${text}")
  file(CONFIGURE OUTPUT ${generated} CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  set(${out_var} ${generated} PARENT_SCOPE)
endfunction()
