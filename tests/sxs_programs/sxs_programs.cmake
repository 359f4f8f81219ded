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
#   private2/  asks for Vost.Private 2.0.0.0; its folder holds 1.0.0.0
#   rootless/  app.exe.manifest: Common Controls 6, the root in no namespace
#   unversioned/ the same, the root without manifestVersion
#   utf16/     the same, valid, saved as UTF-16 with a byte order mark and
#              its declaration still saying UTF-8
#   leading/   the same, valid, after white space, with an optional="Yes"
#              dependency on an assembly no store holds
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
  # External manifests the loader refuses or accepts on their root and text.
  file(READ ${work}/private.manifest private)
  string(REPLACE "Vost.Private\" version=\"1.0.0.0\"" "Vost.Private\" version=\"2.0.0.0\"" private2 "${private}")
  file(WRITE ${work}/private2.manifest "${private2}")
  string(REPLACE " xmlns=\"urn:schemas-microsoft-com:asm.v1\"" "" rootless "${whole}")
  file(WRITE ${work}/rootless.manifest "${rootless}")
  string(REPLACE " manifestVersion=\"1.0\"" "" unversioned "${whole}")
  file(WRITE ${work}/unversioned.manifest "${unversioned}")
  string(REPLACE "<dependency>" "<dependency optional=\"Yes\"><dependentAssembly><assemblyIdentity type=\"win32\" \
name=\"Vost.Not.There\" version=\"1.0.0.0\" processorArchitecture=\"${arch}\" publicKeyToken=\"0123456789abcdef\"/>\
</dependentAssembly></dependency><dependency>" leading "${whole}")
  file(WRITE ${work}/leading.manifest " \r\n\t${leading}")
  # glibc's iconv writes UTF-16 with a byte order mark, little-endian here.
  add_custom_command(OUTPUT ${work}/utf16.manifest
    COMMAND iconv -f UTF-8 -t UTF-16 -o ${work}/utf16.manifest ${work}/common-controls.manifest
    DEPENDS ${work}/common-controls.manifest VERBATIM)

  manifest_resource(common-controls 1 cc6_1)
  manifest_resource(common-controls 2 cc6_2)
  manifest_resource(vc90 1 vc90_1)
  manifest_resource(gdiplus 1 gdiplus_1)
  manifest_resource(private 1 private_1)
  manifest_resource(missing 1 missing_1)
  manifest_resource(truncated 1 truncated_1)
  manifest_resource(hostile 1 hostile_1)
  manifest_resource(private2 1 private2_1)

  set(cc -O1 -fno-builtin)
  # Programs whose external manifest the loader refuses or accepts on its root or text.
  set(external_manifest_programs)
  foreach(name rootless unversioned utf16 leading)
    list(APPEND external_manifest_programs
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/${name}
      COMMAND ${gcc} ${cc} -DVOST_COMCTL -o ${folder}/${name}/app.exe ${src}/app.c -lcomctl32
      COMMAND ${CMAKE_COMMAND} -E copy ${work}/${name}.manifest ${folder}/${name}/app.exe.manifest)
  endforeach()
  set(priv ${folder}/private/Vost.Private)
  add_custom_command(
    OUTPUT ${folder}/cc6/app.exe ${folder}/vc90/app.exe ${folder}/gdiplus/app.exe ${folder}/external/app.exe
           ${folder}/external/app.exe.manifest ${folder}/private/app.exe ${priv}/vostpriv.dll
           ${priv}/Vost.Private.manifest ${folder}/owndll/owndll.dll ${folder}/owndll/host.exe
           ${folder}/missing/app.exe ${folder}/noiso/noiso.dll ${folder}/noiso/host.exe
           ${folder}/truncated/app.exe ${folder}/hostile/app.exe ${folder}/private2/app.exe
           ${folder}/private2/Vost.Private/vostpriv.dll ${folder}/rootless/app.exe ${folder}/unversioned/app.exe
           ${folder}/utf16/app.exe ${folder}/leading/app.exe
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
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}/private2/Vost.Private
    COMMAND ${CMAKE_COMMAND} -E copy ${priv}/vostpriv.dll ${priv}/Vost.Private.manifest ${folder}/private2/Vost.Private
    COMMAND ${gcc} ${cc} -DVOST_LIB -o ${folder}/private2/app.exe ${src}/app.c ${private2_1} ${priv}/vostpriv.dll
    ${external_manifest_programs}
    DEPENDS ${src}/app.c ${src}/vostlib.def ${src}/msvcr90.def ${cc6_1} ${cc6_2} ${vc90_1} ${gdiplus_1}
            ${private_1} ${missing_1} ${truncated_1} ${hostile_1} ${private2_1} ${work}/Vost.Private.manifest
            ${work}/common-controls.manifest ${work}/utf16.manifest ${work}/rootless.manifest
            ${work}/unversioned.manifest ${work}/leading.manifest
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${folder}/cc6/app.exe ${folder}/noiso/host.exe)
endfunction()
