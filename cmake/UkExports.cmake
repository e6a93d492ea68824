# Export tables of the Windows DLLs, for both architectures from one .def file.
#
# The .def names each export's body in its stdcall-decorated form ("zksTokenConnect=
# zksTokenConnect@8"): i686 exports the undecorated name for the decorated body, x86-64 has no
# decoration at all and takes the same list with every "@bytes" removed.

# uk_export_def(TARGET DEF): links TARGET (a SHARED library) with the export table of DEF.
function(uk_export_def target def)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_sources(${target} PRIVATE ${def})
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  else()
    file(READ ${def} text)
    string(REGEX REPLACE "@[0-9]+" "" text "${text}")
    get_filename_component(name ${def} NAME_WE)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}_x64.def)
    file(WRITE ${out} "${text}")
    target_sources(${target} PRIVATE ${out})
  endif()
endfunction()

# uk_import_library(NAME DLL_TARGET DEF): an INTERFACE target NAME that links callers against
# DLL_TARGET through an import library made from DEF. On i686 dlltool wants the decorated names
# and -k drops the decoration in the names the callers import (the linker's own --out-implib
# gives no import library that stdcall callers can link there).
function(uk_import_library name dll def)
  set(implib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/lib${dll}_import.a)
  file(READ ${def} text)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    string(REGEX REPLACE "([A-Za-z0-9_]+)=[A-Za-z0-9_]+(@[0-9]+)" "\\1\\2" text "${text}")
    set(kill -k)
  else()
    string(REGEX REPLACE "([A-Za-z0-9_]+)=[A-Za-z0-9_]+@[0-9]+" "\\1" text "${text}")
    set(kill)
  endif()
  set(implib_def ${CMAKE_CURRENT_BINARY_DIR}/${dll}_import.def)
  file(WRITE ${implib_def} "${text}")
  add_custom_command(OUTPUT ${implib}
    COMMAND ${UK_DLLTOOL} -d ${implib_def} -l ${implib} ${kill}
    DEPENDS ${implib_def} VERBATIM)
  add_custom_target(${name}_implib DEPENDS ${implib})
  add_library(${name} INTERFACE)
  add_dependencies(${name} ${name}_implib ${dll})
  target_link_libraries(${name} INTERFACE ${implib})
endfunction()
