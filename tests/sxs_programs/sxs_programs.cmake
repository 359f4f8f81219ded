# Programs with manifests, built with a mingw-w64 cross compiler into
# <folder>, one folder each (the programs are all app.exe or host.exe):
#   cc6/       Common Controls 6 in its manifest resource 1
#   vc90/      imports msvcr90.dll, asks for Microsoft.VC90.CRT 9.0.21022.8
#   gdiplus/   GDI+ 1.1
#   external/  no manifest resource: app.exe.manifest beside it
#   private/   a private assembly, Vost.Private/, lists vostpriv.dll
#   owndll/    host.exe (no manifest) imports owndll.dll, whose own
#              manifest (resource 2) asks for Common Controls 6
#   missing/   asks for an assembly no store holds, and Common Controls 6
#   noiso/     as owndll/, the DLL linked with --no-isolation
#   truncated/ a manifest cut off in the middle of an element
#   hostile/   a manifest with an entity that expands a billion times, 5,000
#              nested elements and an attribute of a megabyte
# Each imports the modules its manifest redirects.
#
#   vost_sxs_programs(<target> <folder> <gcc> <windres> <dlltool> <arch>)
# <arch>: the manifests' processorArchitecture, x86 or amd64.
function(vost_sxs_programs target folder gcc windres dlltool arch)
  set(src ${PROJECT_SOURCE_DIR}/tests/sxs_programs)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/sxs_work)
  set(VOST_SXS_ARCH ${arch})
  foreach(manifest common-controls vc90 gdiplus private missing Vost.Private)
    configure_file(${src}/${manifest}.manifest.in ${work}/${manifest}.manifest @ONLY)
  endforeach()
  # Manifests that no parser should accept, nor choke on.
  file(READ ${work}/common-controls.manifest whole)
  string(SUBSTRING "${whole}" 0 300 cut)
  file(WRITE ${work}/truncated.manifest "${cut}")
  set(entities "<!ENTITY a \"aaaaaaaaaa\">")
  set(previous a)
  foreach(level b c d e f g h i j)
    string(REPEAT "&${previous};" 10 ten)
    string(APPEND entities "<!ENTITY ${level} \"${ten}\">")
    set(previous ${level})
  endforeach()
  string(REPEAT "<assembly>" 5000 open)
  string(REPEAT "x" 1048576 huge)
  file(WRITE ${work}/hostile.manifest "<?xml version=\"1.0\"?><!DOCTYPE assembly [${entities}]>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\" name=\"&j;\" huge=\"${huge}\">"
    "${open}</assembly>\n")

  # A resource object holding manifest <name> as RT_MANIFEST <id>.
  function(manifest_resource name id output)
    file(WRITE ${work}/${name}-${id}.rc "${id} 24 \"${work}/${name}.manifest\"\n")
    add_custom_command(OUTPUT ${work}/${name}-${id}.o
      COMMAND ${windres} -i ${work}/${name}-${id}.rc -o ${work}/${name}-${id}.o
      DEPENDS ${work}/${name}.manifest VERBATIM)
    set(${output} ${work}/${name}-${id}.o PARENT_SCOPE)
  endfunction()
  manifest_resource(common-controls 1 cc6_1)
  manifest_resource(common-controls 2 cc6_2)
  manifest_resource(vc90 1 vc90_1)
  manifest_resource(gdiplus 1 gdiplus_1)
  manifest_resource(private 1 private_1)
  manifest_resource(missing 1 missing_1)
  manifest_resource(truncated 1 truncated_1)
  manifest_resource(hostile 1 hostile_1)

  set(cc -O1 -fno-builtin)
  set(priv ${folder}/private/Vost.Private)
  add_custom_command(
    OUTPUT ${folder}/cc6/app.exe ${folder}/vc90/app.exe ${folder}/gdiplus/app.exe ${folder}/external/app.exe
           ${folder}/external/app.exe.manifest ${folder}/private/app.exe ${priv}/vostpriv.dll
           ${priv}/Vost.Private.manifest ${folder}/owndll/owndll.dll ${folder}/owndll/host.exe
           ${folder}/missing/app.exe ${folder}/noiso/noiso.dll ${folder}/noiso/host.exe
           ${folder}/truncated/app.exe ${folder}/hostile/app.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/cc6 ${folder}/vc90 ${folder}/gdiplus ${folder}/external
            ${priv} ${folder}/owndll ${folder}/missing ${folder}/noiso ${folder}/truncated ${folder}/hostile
    COMMAND ${gcc} ${cc} -DVOST_COMCTL -o ${folder}/cc6/app.exe ${src}/app.c ${cc6_1} -lcomctl32
    COMMAND ${dlltool} -d ${src}/msvcr90.def -l ${work}/libvc90.a
    COMMAND ${gcc} ${cc} -DVOST_CRT -o ${folder}/vc90/app.exe ${src}/app.c ${vc90_1} ${work}/libvc90.a
    COMMAND ${gcc} ${cc} -DVOST_GDIPLUS -o ${folder}/gdiplus/app.exe ${src}/app.c ${gdiplus_1} -lgdiplus
    COMMAND ${gcc} ${cc} -DVOST_COMCTL -o ${folder}/external/app.exe ${src}/app.c -lcomctl32
    COMMAND ${CMAKE_COMMAND} -E copy ${work}/common-controls.manifest ${folder}/external/app.exe.manifest
    COMMAND ${gcc} ${cc} -DVOST_DLL -shared -o ${priv}/vostpriv.dll ${src}/app.c ${src}/vostlib.def
    COMMAND ${CMAKE_COMMAND} -E copy ${work}/Vost.Private.manifest ${priv}/Vost.Private.manifest
    COMMAND ${gcc} ${cc} -DVOST_LIB -o ${folder}/private/app.exe ${src}/app.c ${private_1} ${priv}/vostpriv.dll
    COMMAND ${gcc} ${cc} -DVOST_DLL -DVOST_COMCTL -shared -o ${folder}/owndll/owndll.dll ${src}/app.c
            ${src}/vostlib.def ${cc6_2} -lcomctl32
    COMMAND ${gcc} ${cc} -DVOST_LIB -o ${folder}/owndll/host.exe ${src}/app.c ${folder}/owndll/owndll.dll
    COMMAND ${gcc} ${cc} -DVOST_COMCTL -o ${folder}/missing/app.exe ${src}/app.c ${missing_1} -lcomctl32
    COMMAND ${gcc} ${cc} -DVOST_DLL -DVOST_COMCTL -shared -Wl,--no-isolation -o ${folder}/noiso/noiso.dll
            ${src}/app.c ${src}/vostlib.def ${cc6_2} -lcomctl32
    COMMAND ${gcc} ${cc} -DVOST_LIB -o ${folder}/noiso/host.exe ${src}/app.c ${folder}/noiso/noiso.dll
    COMMAND ${gcc} ${cc} -DVOST_COMCTL -o ${folder}/truncated/app.exe ${src}/app.c ${truncated_1} -lcomctl32
    COMMAND ${gcc} ${cc} -DVOST_COMCTL -o ${folder}/hostile/app.exe ${src}/app.c ${hostile_1} -lcomctl32
    DEPENDS ${src}/app.c ${src}/vostlib.def ${src}/msvcr90.def ${cc6_1} ${cc6_2} ${vc90_1} ${gdiplus_1}
            ${private_1} ${missing_1} ${truncated_1} ${hostile_1} ${work}/Vost.Private.manifest ${work}/common-controls.manifest
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${folder}/cc6/app.exe ${folder}/noiso/host.exe)
endfunction()
