# The install test: installs a build tree into a fresh prefix, checks what went there, and builds and runs
# the consumer project against it as a host's own project would, through find_package(Closewright).
#   cmake -DBUILD_DIR=<build tree> -DWORK_DIR=<scratch> -DLIBDIR=<lib> -DGENERATOR=<gen> -DCXX_COMPILER=<c++>
#         [-DMAKE_PROGRAM=<ninja>] [-DCXX_FLAGS=<flags>] [-DEXE_LINKER_FLAGS=<flags>] -P InstallTest.cmake
# The consumer is compiled and linked with the build tree's own flags: a library built under a sanitizer
# loads only into a program linked with the same runtime.
foreach(required BUILD_DIR WORK_DIR LIBDIR GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "InstallTest.cmake: -D${required}=... is required")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " shown "${ARGN}")
    message(FATAL_ERROR "failed (${result}): ${shown}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# What a host and a user need is there: the tool, the library with its SONAME link, the package config.
foreach(path bin/closewright ${LIBDIR}/libclosewright.so ${LIBDIR}/libclosewright.so.1
        ${LIBDIR}/cmake/Closewright/ClosewrightConfig.cmake ${LIBDIR}/cmake/Closewright/ClosewrightConfigVersion.cmake
        include/closewright/close/CCloseData.h
        share/closewright/closewright.sql share/doc/closewright/README.md)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "the installed tree lacks ${path}")
  endif()
endforeach()

# Every installed header stays clear of the C APIs behind the providers and the COM server, and every header
# it includes in quotes is installed too (a header left out breaks the host's build only when it is reached).
file(GLOB_RECURSE headers RELATIVE ${prefix}/include/closewright ${prefix}/include/closewright/*)
foreach(header IN LISTS headers)
  file(STRINGS ${prefix}/include/closewright/${header} includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(line MATCHES "[<\"/](sqlite3|sql|sqlext|sqltypes|sqlucode|odbcinst|windows|windef|winbase|objbase|oaidl|ole2|unknwn|comdef|comsvcs)\\.h[>\"]")
      message(FATAL_ERROR "the installed header ${header} includes a C API header: ${line}")
    endif()
    if(line MATCHES "\"([^\"]+)\"")
      set(included ${CMAKE_MATCH_1})
      if(NOT EXISTS ${prefix}/include/closewright/${included})
        message(FATAL_ERROR "the installed header ${header} includes ${included}, which is not installed")
      endif()
    endif()
  endforeach()
endforeach()

# The installed tool creates a ledger with the schema it carries, away from the source tree.
run(${prefix}/bin/closewright init --db ${WORK_DIR}/init.db --tasks 5)

set(makeProgram "")
if(MAKE_PROGRAM)
  set(makeProgram -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR} ${makeProgram}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXE_LINKER_FLAGS}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
file(READ ${WORK_DIR}/consumer/CMakeCache.txt cache)
if(NOT cache MATCHES "Closewright_DIR:PATH=${prefix}/${LIBDIR}/cmake/Closewright")
  message(FATAL_ERROR "the consumer found a Closewright other than the one installed into ${prefix}")
endif()
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/closewright_consumer ${WORK_DIR}/consumer.db)
if(NOT output STREQUAL "ok\n")
  message(FATAL_ERROR "the consumer printed:\n${output}")
endif()
message(STATUS "installed into ${prefix}; the consumer built against it and printed ok")
