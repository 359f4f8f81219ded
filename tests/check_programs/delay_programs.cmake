# Programs that delay-load vostlate.dll, linked by lld-link (which writes the
# delay-load directory itself; GNU ld leaves it empty), each in a folder of
# its own:
#   <folder>/present  dapp.exe beside vostlate.dll
#   <folder>/missing  dapp.exe alone
#   <folder>/lacking  dapp.exe beside a vostlate.dll without d2 (ordinal 4)
#   <folder>/other    dapp.exe beside a vostlate.dll of the other machine
# Nothing is built where clang, lld-link or llvm-dlltool is missing.
#
#   vost_delay_programs(<target> <folder> <gcc> <other machine's gcc> <x86|x64>)
function(vost_delay_programs target folder gcc otherGcc machine)
  find_program(VOST_CLANG NAMES clang)
  find_program(VOST_LLD_LINK NAMES lld-link)
  find_program(VOST_LLVM_DLLTOOL NAMES llvm-dlltool)
  if(NOT VOST_CLANG OR NOT VOST_LLD_LINK OR NOT VOST_LLVM_DLLTOOL OR NOT otherGcc)
    add_custom_target(${target})
    return()
  endif()
  set(src ${PROJECT_SOURCE_DIR}/tests/check_programs)
  if(machine STREQUAL "x86")
    set(clangTarget i686-pc-windows-msvc)
    set(dlltoolMachine i386)
    set(safeSeh /safeseh:no)
  else()
    set(clangTarget x86_64-pc-windows-msvc)
    set(dlltoolMachine i386:x86-64)
    set(safeSeh)
  endif()
  set(outputs)
  foreach(program "present|${gcc}|vostlate.def" "lacking|${gcc}|vostlate-d1.def" "other|${otherGcc}|vostlate.def")
    string(REPLACE "|" ";" fields "${program}")
    list(GET fields 0 name)
    list(GET fields 1 compiler)
    list(GET fields 2 def)
    add_custom_command(OUTPUT ${folder}/${name}/vostlate.dll
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/${name}
      COMMAND ${compiler} -O1 -shared -o ${folder}/${name}/vostlate.dll ${src}/vostlate.c ${src}/${def}
      DEPENDS ${src}/vostlate.c ${src}/${def} VERBATIM)
    list(APPEND outputs ${folder}/${name}/vostlate.dll)
  endforeach()
  set(apps)
  foreach(name present missing lacking other)
    list(APPEND apps ${folder}/${name}/dapp.exe)
  endforeach()
  add_custom_command(OUTPUT ${apps}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/present ${folder}/missing ${folder}/lacking ${folder}/other
    COMMAND ${VOST_CLANG} --target=${clangTarget} -O1 -c -o ${folder}/delay-app.obj ${src}/delay-app.c
    COMMAND ${VOST_LLVM_DLLTOOL} -m ${dlltoolMachine} -d ${src}/vostlate.def -l ${folder}/vostlate.lib
    COMMAND ${VOST_LLD_LINK} /nodefaultlib /entry:start /subsystem:console /machine:${machine} ${safeSeh}
            /out:${folder}/present/dapp.exe ${folder}/delay-app.obj ${folder}/vostlate.lib /delayload:vostlate.dll
    COMMAND ${CMAKE_COMMAND} -E copy ${folder}/present/dapp.exe ${folder}/missing/dapp.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${folder}/present/dapp.exe ${folder}/lacking/dapp.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${folder}/present/dapp.exe ${folder}/other/dapp.exe
    DEPENDS ${src}/delay-app.c ${src}/vostlate.def VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${outputs} ${apps})
endfunction()
