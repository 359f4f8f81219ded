# The programs of this folder, built with a mingw-w64 cross compiler into two
# folders:
#   <folder>/one  app.exe with every module it names: vostlib.dll,
#                 vostother.dll, vostdot.v2 (a module whose name has a dot)
#                 and the delay-loaded vostlate.dll
#   <folder>/two  app.exe beside a vostlib.dll that lacks g, and
#                 vostother.dll only
#
#   vost_check_programs(<target> <folder> <gcc> <dlltool>)
function(vost_check_programs target folder gcc dlltool)
  set(src ${PROJECT_SOURCE_DIR}/tests/check_programs)
  set(one ${folder}/one)
  set(two ${folder}/two)
  set(outputs)
  # name, output file, source, .def, extra flags
  foreach(program
      "vostlib|${one}/vostlib.dll|vostlib.c|vostlib.def|"
      "vostlib|${two}/vostlib.dll|vostlib.c|vostlib-without-g.def|-DVOST_WITHOUT_G"
      "vostother|${one}/vostother.dll|vostother.c|vostother.def|"
      "vostother|${two}/vostother.dll|vostother.c|vostother.def|"
      "vostdot|${one}/vostdot.v2|vostdot.c|vostdot.def|"
      "vostlate|${one}/vostlate.dll|vostlate.c|vostlate.def|")
    string(REPLACE "|" ";" fields "${program}")
    list(GET fields 1 output)
    list(GET fields 2 source)
    list(GET fields 3 def)
    list(LENGTH fields count)
    set(flags)
    if(count GREATER 4)
      list(GET fields 4 flags)
    endif()
    get_filename_component(dir ${output} DIRECTORY)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${gcc} -O1 -shared ${flags} -o ${output} ${src}/${source} ${src}/${def}
      DEPENDS ${src}/${source} ${src}/${def} VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  add_custom_command(OUTPUT ${one}/app.exe ${two}/app.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${one} ${two}
    COMMAND ${dlltool} -d ${src}/app-imports.def -l ${folder}/libvostlib.a
    COMMAND ${dlltool} -d ${src}/vostlate.def -D vostlate.dll --output-delaylib ${folder}/libvostlate.a
    COMMAND ${gcc} -O1 -o ${one}/app.exe ${src}/app.c ${folder}/libvostlib.a ${folder}/libvostlate.a
    COMMAND ${CMAKE_COMMAND} -E copy ${one}/app.exe ${two}/app.exe
    DEPENDS ${src}/app.c ${src}/app-imports.def ${src}/vostlate.def VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${outputs} ${one}/app.exe ${two}/app.exe)
endfunction()
