# The programs the recorder is tested on, built with a mingw-w64 cross
# compiler into one folder:
#   runcases.exe        one case per first argument (runcases.c)
#   vostplug.dll        loaded at run time; imports vostdep.dll
#   vostdep.dll
#   missing-import.exe  imports vostgone.dll, which is nowhere
#   delayrun.exe        delay-loads vostplug.dll (clang and lld, when present:
#                       GNU ld writes no delay-load directory)
#
#   vost_run_programs(<target> <folder> <gcc> <dlltool>)
function(vost_run_programs target folder gcc dlltool)
  set(src ${PROJECT_SOURCE_DIR}/tests/run_programs)
  set(outputs ${folder}/runcases.exe ${folder}/vostplug.dll ${folder}/vostdep.dll ${folder}/missing-import.exe)
  add_custom_command(OUTPUT ${outputs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${dlltool} -d ${src}/vostdep.def -l ${folder}/libvostdep.a
    COMMAND ${dlltool} -d ${src}/vostgone.def -l ${folder}/libvostgone.a
    COMMAND ${gcc} -O1 -shared -o ${folder}/vostdep.dll ${src}/vostdep.c
    COMMAND ${gcc} -O1 -shared -o ${folder}/vostplug.dll ${src}/vostplug.c ${folder}/libvostdep.a
    COMMAND ${gcc} -O1 -o ${folder}/runcases.exe ${src}/runcases.c
    COMMAND ${gcc} -O1 -o ${folder}/missing-import.exe ${src}/missing-import.c ${folder}/libvostgone.a
    DEPENDS ${src}/runcases.c ${src}/vostplug.c ${src}/vostdep.c ${src}/missing-import.c ${src}/vostdep.def
            ${src}/vostgone.def
    VERBATIM)

  find_program(VOST_CLANG clang)
  find_program(VOST_LLVM_DLLTOOL llvm-dlltool)
  find_program(VOST_LLD ld.lld)
  if(VOST_CLANG AND VOST_LLVM_DLLTOOL AND VOST_LLD)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      set(triplet x86_64-w64-mingw32)
      set(machine i386:x86-64)
    else()
      set(triplet i686-w64-mingw32)
      set(machine i386)
    endif()
    # The gcc runtime libraries the mingw driver of clang links.
    execute_process(COMMAND ${gcc} -print-libgcc-file-name OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(libgcc_dir "${libgcc}" DIRECTORY)
    add_custom_command(OUTPUT ${folder}/delayrun.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${VOST_LLVM_DLLTOOL} -m ${machine} -d ${src}/vostplug.def -l ${folder}/libvostplug-delay.a
      COMMAND ${VOST_CLANG} --target=${triplet} -fuse-ld=lld -O1 -o ${folder}/delayrun.exe ${src}/delayrun.c
              -L${folder} -L${libgcc_dir} -lvostplug-delay -Wl,--delayload=vostplug.dll -ldelayimp
      DEPENDS ${src}/delayrun.c ${src}/vostplug.def VERBATIM)
    list(APPEND outputs ${folder}/delayrun.exe)
  else()
    message(STATUS "no clang, llvm-dlltool or ld.lld: the delay-loading test program is left out")
  endif()
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
