# The Windows side of the closewright target: the COM layer in registration/windows, the type library
# compiled by widl, the resources and the module-definition file with the four server entry points.
include(${CMAKE_CURRENT_LIST_DIR}/ClosewrightIdentifiers.cmake)
closewright_read_identifiers(${PROJECT_SOURCE_DIR}/registration/Identifiers.h
  kClsidCCloseData kLibidClosewright kIidCCloseDataV0 kIidCCloseDataV1 kIidCCloseDataV2 kIidCCloseDataV3
  kIidCCloseData)

# widl ships no system IDL of its own for mingw; Wine's development package has oaidl.idl and ocidl.idl, and
# Wine has the stdole2.tlb that the library imports.
find_program(CLOSEWRIGHT_WIDL NAMES ${CLOSEWRIGHT_MINGW_TRIPLET}-widl x86_64-w64-mingw32-widl widl REQUIRED)
find_path(CLOSEWRIGHT_SYSTEM_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows /usr/include/wine/windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_path(CLOSEWRIGHT_STDOLE_DIR stdole2.tlb
  PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

set(generated ${PROJECT_BINARY_DIR}/registration)
set(CLOSEWRIGHT_TYPELIB_FILE ${generated}/Closewright.tlb)
configure_file(${PROJECT_SOURCE_DIR}/registration/windows/Closewright.idl.in ${generated}/Closewright.idl @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/registration/windows/Closewright.rc.in ${generated}/Closewright.rc @ONLY)

find_program(CLOSEWRIGHT_PERL perl REQUIRED)
add_custom_command(
  OUTPUT ${generated}/Closewright_h.h ${CLOSEWRIGHT_TYPELIB_FILE}
  COMMAND ${CLOSEWRIGHT_WIDL} --win64 -I${CLOSEWRIGHT_SYSTEM_IDL_DIR} -L${CLOSEWRIGHT_STDOLE_DIR}
          -h -H ${generated}/Closewright_h.h -t -T ${generated}/Closewright.widl.tlb ${generated}/Closewright.idl
  COMMAND ${CLOSEWRIGHT_PERL} ${PROJECT_SOURCE_DIR}/registration/windows/move-custom-data-to-class.pl
          ${generated}/Closewright.widl.tlb ${CLOSEWRIGHT_TYPELIB_FILE}
  DEPENDS ${generated}/Closewright.idl ${PROJECT_SOURCE_DIR}/registration/windows/move-custom-data-to-class.pl
  COMMENT "Compiling the Closewright type library"
  VERBATIM)
set_source_files_properties(${generated}/Closewright.rc PROPERTIES OBJECT_DEPENDS ${CLOSEWRIGHT_TYPELIB_FILE})

file(GLOB CLOSEWRIGHT_WINDOWS_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/registration/windows/*.cpp)
target_sources(closewright PRIVATE ${CLOSEWRIGHT_WINDOWS_SOURCES} ${generated}/Closewright_h.h
  ${generated}/Closewright.rc ${PROJECT_SOURCE_DIR}/registration/windows/Closewright.def)
target_include_directories(closewright SYSTEM PRIVATE ${generated})
# COM objects are destroyed by their own Release, never through an interface pointer, so COM interfaces have
# no virtual destructor by design.
set_source_files_properties(${CLOSEWRIGHT_WINDOWS_SOURCES} TARGET_DIRECTORY closewright
  PROPERTIES COMPILE_OPTIONS -Wno-non-virtual-dtor)
# The library uses the POSIX re-entrant time functions; mingw-w64 offers them on request.
target_compile_definitions(closewright PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _POSIX_THREAD_SAFE_FUNCTIONS)
# The trailing -Bstatic undoes the -Bdynamic that CMake leaves after the ODBC import library, so that the
# runtime libraries the compiler adds last are linked in statically too.
target_link_libraries(closewright PRIVATE ole32 oleaut32 uuid advapi32 -Wl,-Bstatic)
# The Windows SDK's ODBC headers need <windows.h> before them, which unixODBC's do not.
if(CLOSEWRIGHT_WITH_ODBC)
  file(GLOB odbcSources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/outside/odbc/*.cpp)
  set_source_files_properties(${odbcSources} TARGET_DIRECTORY closewright
    PROPERTIES COMPILE_OPTIONS -includewindows.h)
endif()
# One file to copy and register: the C and C++ runtimes and the thread library go inside the DLL.
target_link_options(closewright PRIVATE -static -static-libgcc -static-libstdc++)
set_target_properties(closewright PROPERTIES PREFIX "" OUTPUT_NAME closewright)

option(CLOSEWRIGHT_BUILD_WINE_CLIENT "Build the COM test client that runs under Wine" ON)
if(CLOSEWRIGHT_BUILD_WINE_CLIENT)
  file(GLOB CLOSEWRIGHT_CLIENT_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/windows/client/*.cpp)
  # The value conversions are checked on their own, against the platform's VARIANT functions.
  add_executable(closewright_com_client ${CLOSEWRIGHT_CLIENT_SOURCES}
    ${PROJECT_SOURCE_DIR}/registration/Identifiers.cpp
    ${PROJECT_SOURCE_DIR}/registration/windows/ComConversions.cpp ${PROJECT_SOURCE_DIR}/outside/Variant.cpp
    ${PROJECT_SOURCE_DIR}/outside/Decimal.cpp ${PROJECT_SOURCE_DIR}/outside/ComError.cpp
    ${PROJECT_SOURCE_DIR}/outside/Text.cpp)
  target_include_directories(closewright_com_client PRIVATE ${PROJECT_SOURCE_DIR})
  target_include_directories(closewright_com_client SYSTEM PRIVATE ${generated})
  add_dependencies(closewright_com_client closewright)
  target_compile_options(closewright_com_client PRIVATE ${CLOSEWRIGHT_WARNINGS} -Wno-non-virtual-dtor)
  target_compile_definitions(closewright_com_client PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(closewright_com_client PRIVATE ole32 oleaut32 uuid advapi32)
  target_link_options(closewright_com_client PRIVATE -static -static-libgcc -static-libstdc++ -municode)
endif()
