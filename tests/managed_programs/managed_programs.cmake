# The managed test programs (tests/managed_programs/build.sh): built with mcs
# into FOLDER by the target TARGET, their native modules with the mingw-w64 C
# compiler CC. Without mcs, openssl or monodis FOLDER holds only "missing".
function(vost_managed_programs target folder cc)
  set(dir ${PROJECT_SOURCE_DIR}/tests/managed_programs)
  file(GLOB sources ${dir}/*.cs ${dir}/*.c ${dir}/*.config ${dir}/*.in ${dir}/build.sh)
  add_custom_command(OUTPUT ${folder}.stamp
    COMMAND sh ${dir}/build.sh ${dir} ${folder} ${cc}
    COMMAND ${CMAKE_COMMAND} -E touch ${folder}.stamp
    DEPENDS ${sources}
    COMMENT "Building the managed test programs with mcs")
  add_custom_target(${target} ALL DEPENDS ${folder}.stamp)
endfunction()
