# Precompiled headers. The GoogleTest headers and the Qt Widgets headers cost more to parse than
# most of the code that includes them, so each set is compiled once, by a holder target of its
# own, and every program or library that includes it reuses that one file.
#
# A precompiled header only serves compiles made with the options it was made with: clang stops
# with an error otherwise, gcc quietly parses the headers again. So each holder is compiled as
# its users are: the GoogleTest holder as a program (-fPIE, like the test programs), the Qt holder
# position-independent (Qt asks every target that uses it for -fPIC, programs included). A holder
# defines no macro its users lack and none with another value. A target built with other options
# (hidden visibility, a sanitizer of its own) takes no precompiled header.
option(FSV_PCH "Precompile the GoogleTest and Qt Widgets headers" ON)

# fsv_pch_holder(NAME [PROGRAM] HEADERS ... LIBS ...)
# An object library with no code that compiles HEADERS with the flags of LIBS.
function(fsv_pch_holder name)
  cmake_parse_arguments(H "PROGRAM" "" "HEADERS;LIBS" ${ARGN})
  if(NOT FSV_PCH)
    return()
  endif()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "")
  add_library(${name} OBJECT ${source})
  target_link_libraries(${name} PRIVATE ${H_LIBS})
  if(H_PROGRAM)
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
    target_compile_options(${name} PRIVATE ${CMAKE_CXX_COMPILE_OPTIONS_PIE})
  endif()
  target_precompile_headers(${name} PRIVATE ${H_HEADERS})
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # Without the headers' times inside, the file is the same in every build folder, so ccache
    # can keep it and the objects compiled with it.
    target_compile_options(${name} PRIVATE -Xclang -fno-pch-timestamp)
  endif()
endfunction()

# fsv_use_pch(TARGET HOLDER)
function(fsv_use_pch target holder)
  if(NOT FSV_PCH)
    return()
  endif()
  # CMake adds -Winvalid-pch, so with FSV_WERROR a header gcc cannot use stops the build.
  target_precompile_headers(${target} REUSE_FROM ${holder})
endfunction()
