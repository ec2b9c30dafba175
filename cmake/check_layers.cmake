cmake_minimum_required(VERSION 3.25)
# Fails when a source includes a header of a folder above its own. Run by every build (the
# check_layers target), so that an upward include never lands: a header-only use never
# reaches the linker, which is why the per-folder libraries alone do not catch it.
#   cmake -DSOURCE_DIR=<repo> -P cmake/check_layers.cmake

# Each folder and the folders its files may include, its own among them.
set(below_base base)
set(below_platform ${below_base} platform)
set(below_config ${below_platform} config)
set(below_xfile ${below_config} xfile)
set(below_messages ${below_xfile} messages)
set(below_payload ${below_platform} payload)
set(below_journal ${below_platform} journal)
set(below_decompiler ${below_messages} decompiler)
set(below_translation ${below_decompiler} translation)
set(below_install ${below_messages} payload journal install)
set(below_authoring ${below_install} decompiler authoring)
set(below_installer_win32 ${below_install} installer_win32)
set(below_tools ${below_install} decompiler translation authoring tools)
# The tests, fuzz targets and benchmarks exercise every layer but the programs' own folders.
set(below_tests ${below_install} decompiler translation authoring tests)
set(below_fuzz ${below_install} decompiler translation fuzz tests)
set(below_bench ${below_install} decompiler translation bench tests)

set(layers base platform config xfile messages payload journal decompiler translation install authoring installer_win32 tools tests fuzz bench)

set(violations "")
foreach(layer IN LISTS layers)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${layer}/*.cpp" "${SOURCE_DIR}/${layer}/*.h")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"/]+)/.*" "\\1" folder "${line}")
      if(NOT folder IN_LIST below_${layer})
        file(RELATIVE_PATH shown "${SOURCE_DIR}" "${source}")
        string(APPEND violations "  ${shown}: ${line} (${layer} may include only: ${below_${layer}})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "includes that point up the layers:\n${violations}")
endif()
