# Debian packages, one for each front end built here, by CPack's DEB
# generator (`cpack -G DEB` in the build folder; scripts/package.sh does it
# in a clean chroot of each Debian release):
#
#   ostrivo-gimp2   the GIMP 2.10 plug-in   (Debian 12)
#   ostrivo-gimp3   the GIMP 3 plug-in      (Debian 13, Ubuntu 25.04+)
#   ostrivo-cli     the command line
#
# The version is the project's; the Debian revision names the release it was
# built for (0.1.0-1~deb12u1 on Debian 12), so the packages of two releases
# have distinct names and a system upgraded from one to the next takes the
# newer one. Library dependencies are read off the binaries by dpkg-shlibdeps.

set(OSTRIVO_DEB_MAINTAINER "Ostrivo developers <ostrivo@example.org>" CACHE STRING
    "Maintainer of the Debian packages")

# The system building the packages, from os-release.
set(os_id "")
set(os_version "")
set(os_codename "")
set(os_name "")
if(EXISTS /etc/os-release)
  file(STRINGS /etc/os-release os_lines)
  foreach(line IN LISTS os_lines)
    if(line MATCHES "^([A-Z_]+)=\"?([^\"]*)\"?$")
      set(key ${CMAKE_MATCH_1})
      set(value ${CMAKE_MATCH_2})
      if(key STREQUAL "ID")
        set(os_id "${value}")
      elseif(key STREQUAL "VERSION_ID")
        set(os_version "${value}")
      elseif(key STREQUAL "VERSION_CODENAME")
        set(os_codename "${value}")
      elseif(key STREQUAL "PRETTY_NAME")
        set(os_name "${value}")
      endif()
    endif()
  endforeach()
endif()
if(os_id STREQUAL "debian" AND os_version MATCHES "^[0-9]+$")
  set(release "1~deb${os_version}u1")
elseif(os_id STREQUAL "ubuntu" AND NOT os_version STREQUAL "")
  set(release "1~ubuntu${os_version}.1")
else()
  set(release "1")
endif()
set(OSTRIVO_DEB_RELEASE "${release}" CACHE STRING
    "Debian revision of the packages (1~deb12u1 on Debian 12)")
set(OSTRIVO_DEB_VERSION "${PROJECT_VERSION}-${OSTRIVO_DEB_RELEASE}")
if(os_codename STREQUAL "")
  set(OSTRIVO_DEB_DISTRIBUTION unstable)
else()
  set(OSTRIVO_DEB_DISTRIBUTION ${os_codename})
endif()
if(os_name STREQUAL "")
  set(OSTRIVO_DEB_SYSTEM "this system")
else()
  set(OSTRIVO_DEB_SYSTEM "${os_name}")
endif()

# The packages of the front ends this build has.
set(components)
if(TARGET ostrivo)
  list(APPEND components gimp2)
endif()
if(TARGET ostrivo-gimp3)
  list(APPEND components gimp3)
endif()
if(TARGET ostrivo-cli)
  list(APPEND components cli)
endif()
set(package_gimp2 ostrivo-gimp2)
set(package_gimp3 ostrivo-gimp3)
set(package_cli ostrivo-cli)

# Each package's documents, Debian's way: the licence as a machine-readable
# copyright file, the README, and a changelog.Debian naming this build
# (dated by SOURCE_DATE_EPOCH when it is set, so that a rebuild gives the
# same bytes), compressed with gzip -9n.
find_program(OSTRIVO_GZIP gzip REQUIRED)
string(TIMESTAMP OSTRIVO_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(docs ${PROJECT_BINARY_DIR}/packaging)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${docs}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${docs}/changelog.Debian.gz ${docs}/README.md.gz
  COMMAND ${OSTRIVO_GZIP} -9nc ${docs}/changelog.Debian > ${docs}/changelog.Debian.gz
  COMMAND ${OSTRIVO_GZIP} -9nc ${PROJECT_SOURCE_DIR}/README.md > ${docs}/README.md.gz
  DEPENDS ${docs}/changelog.Debian ${PROJECT_SOURCE_DIR}/README.md
  COMMENT "Compressing the packages' changelog and README")
add_custom_target(ostrivo-package-docs ALL
                  DEPENDS ${docs}/changelog.Debian.gz ${docs}/README.md.gz)
foreach(component IN LISTS components)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${docs}/changelog.Debian.gz
                ${docs}/README.md.gz
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package_${component}}
          COMPONENT ${component})
endforeach()

set(CPACK_PACKAGE_NAME ostrivo)
set(CPACK_PACKAGE_VENDOR "The Ostrivo developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${OSTRIVO_DEB_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_COMPONENTS_ALL ${components})
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${OSTRIVO_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${OSTRIVO_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_GIMP2_PACKAGE_NAME ${package_gimp2})
set(CPACK_DEBIAN_GIMP3_PACKAGE_NAME ${package_gimp3})
set(CPACK_DEBIAN_CLI_PACKAGE_NAME ${package_cli})

# GIMP itself runs a plug-in, and no library of the plug-in's leads to it.
# The GIMP 2.10 plug-in is of no use to GIMP 3 (2.99 was its preview).
set(CPACK_DEBIAN_GIMP2_PACKAGE_DEPENDS "gimp (>= 2.10), gimp (<< 2.99)")
set(CPACK_DEBIAN_GIMP3_PACKAGE_DEPENDS "gimp (>= 3.0)")

# libheif 1.16 and later load their encoders and decoders as plug-ins, which
# Debian ships as packages of their own (libheif-plugin-*): without them
# libvips cannot write HEIC or AVIF. Earlier ones have them built in.
set(heif_plugins "libheif-plugin-x265, libheif-plugin-libde265, libheif-plugin-aomenc, libheif-plugin-dav1d")
pkg_check_modules(OSTRIVO_HEIF QUIET libheif)
if(OSTRIVO_HEIF_FOUND AND OSTRIVO_HEIF_VERSION VERSION_GREATER_EQUAL 1.16)
  set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "${heif_plugins}")
endif()

set(CPACK_COMPONENT_GIMP2_DESCRIPTION "motion-blur repair filter for GIMP 2.10
Ostrivo repairs motion-blurred photos: it undoes a straight camera shake by
Wiener deconvolution in the frequency domain.

This package holds the GIMP 2.10 plug-in: Filters > Ostrivo, a dialog with
the length and direction of the motion, the Wiener constant K, a border
frame and a brightness repair, and a live preview. Scripts call it as the
procedure plug-in-ostrivo.")
set(CPACK_COMPONENT_GIMP3_DESCRIPTION "motion-blur repair filter for GIMP 3
Ostrivo repairs motion-blurred photos: it undoes camera shake by
deconvolution, a straight shake of a given length and direction or one of
any shape given as an image of its kernel, with a Wiener filter or a sparse
solver that keeps edges sharp.

This package holds the GIMP 3 plug-in: Filters > Enhance > Ostrivo..., a
dialog with a live preview that can also find the length and direction of
the motion in the photo itself. It repairs RGB and grey layers of any
precision. Scripts call it as the procedure plug-in-ostrivo, with named
arguments.")
set(CPACK_COMPONENT_CLI_DESCRIPTION "repair motion-blurred photos from the command line
Ostrivo repairs motion-blurred photos: it undoes camera shake by
deconvolution, a straight shake of a given length and direction or one of
any shape given as an image of its kernel, with a Wiener filter or a sparse
solver that keeps edges sharp.

This package holds ostrivo-cli, which repairs JPEG, PNG, TIFF, WebP, HEIC,
AVIF and JPEG XL files through libvips, keeping their metadata and 16-bit
samples, and can find the length and direction of a straight shake in each
photo itself (--auto, --estimate).")

include(CPack)
