# Programs that import API set contracts, made with the mingw-w64 cross
# compiler of one architecture: an import library per imported module, made
# by dlltool from a .def that names the module, linked into small programs.
# Wine's own programs import no contracts; these do, as programs built for
# today's Windows do.
#
#   vost_contract_programs(<target> <folder> <gcc> <dlltool>)
#
# makes <target>, which builds into <folder>:
#   synch.exe      imports api-ms-win-core-synch-l1-2-0.dll
#   contracts.exe  imports six modules: three contracts that Wine's schema
#                  hosts (one in mixed case), one it gives no host, one it
#                  lacks, and kernelbase.dll itself
#   api-ms-win-core-synch-l1-2-0.dll    named like a contract of the schema:
#                                       must never stand in for it
#   api-ms-win-vost-unknown-l1-1-0.dll  named like a contract the schema
#                                       lacks: found as a file
set(VOST_CONTRACT_MODULES
  api-ms-win-core-synch-l1-2-0
  API-MS-WIN-Core-ProcessThreads-L1-1-0
  ext-ms-win-ntuser-message-l1-1-0
  api-ms-win-deprecated-apis-legacy-l1-1-0
  api-ms-win-vost-unknown-l1-1-0
  kernelbase)

function(vost_contract_programs target folder gcc dlltool)
  set(sources ${PROJECT_SOURCE_DIR}/tests/contracts)
  set(libraries)
  set(index 0)
  foreach(module ${VOST_CONTRACT_MODULES})
    set(def ${folder}/import${index}.def)
    set(library ${folder}/libimport${index}.a)
    file(GENERATE OUTPUT ${def} CONTENT "LIBRARY ${module}.dll\nEXPORTS\n  vost_import${index}\n")
    add_custom_command(OUTPUT ${library}
      COMMAND ${dlltool} -d ${def} -l ${library}
      DEPENDS ${def} VERBATIM)
    list(APPEND libraries ${library})
    math(EXPR index "${index} + 1")
  endforeach()
  list(GET libraries 0 synch_library)

  add_custom_command(OUTPUT ${folder}/synch.exe
    COMMAND ${gcc} -O1 -o ${folder}/synch.exe ${sources}/synch.c ${synch_library}
    DEPENDS ${sources}/synch.c ${synch_library} VERBATIM)
  add_custom_command(OUTPUT ${folder}/contracts.exe
    COMMAND ${gcc} -O1 -o ${folder}/contracts.exe ${sources}/contracts.c ${libraries}
    DEPENDS ${sources}/contracts.c ${libraries} VERBATIM)
  set(planted ${folder}/api-ms-win-core-synch-l1-2-0.dll ${folder}/api-ms-win-vost-unknown-l1-1-0.dll)
  foreach(dll ${planted})
    add_custom_command(OUTPUT ${dll}
      COMMAND ${gcc} -O1 -shared -o ${dll} ${sources}/planted.c
      DEPENDS ${sources}/planted.c VERBATIM)
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${folder}/synch.exe ${folder}/contracts.exe ${planted})
endfunction()
