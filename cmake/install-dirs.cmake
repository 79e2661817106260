# Where `cmake --install` (and so every package) puts each front end,
# relative to CMAKE_INSTALL_PREFIX: the command line in bin/, its manual page
# in share/man/man1/, documents in share/doc/<package>/, and each GIMP
# plug-in in its GIMP's system-wide plug-ins folder.
include(GNUInstallDirs)

# GIMP looks for system-wide plug-ins in plug-ins/ under its gimplibdir
# (`pkg-config --variable=gimplibdir gimp-2.0`, or gimp-3.0), each one in a
# folder of its own name. Sets the cache entry VAR to that plug-ins folder,
# relative to the install prefix as pkg-config's `--define-variable=prefix`
# would make it: /usr/lib/gimp/2.0 of a GIMP in /usr gives lib/gimp/2.0/plug-ins.
function(ostrivo_gimp_plugin_dir var module)
  if(DEFINED CACHE{${var}})
    return()
  endif()
  pkg_get_variable(libdir ${module} gimplibdir)
  pkg_get_variable(prefix ${module} prefix)
  if(libdir STREQUAL "")
    message(FATAL_ERROR "${module}.pc names no gimplibdir")
  endif()
  string(LENGTH "${prefix}/" length)
  string(SUBSTRING "${libdir}" 0 ${length} head)
  if(NOT prefix STREQUAL "" AND head STREQUAL "${prefix}/")
    string(SUBSTRING "${libdir}" ${length} -1 libdir)
  endif()
  set(${var} "${libdir}/plug-ins" CACHE STRING
      "Plug-ins folder of ${module}, relative to CMAKE_INSTALL_PREFIX (or absolute)")
endfunction()
