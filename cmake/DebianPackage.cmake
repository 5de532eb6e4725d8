# `cpack -G DEB` in the build folder (scripts/build.sh package) makes cvcomp_VERSION_ARCH.deb from
# the install rules, installed under /usr: the cvcomp command, the host library and the plug-in
# module, the Python module, the GStreamer element, the studio page and the examples. Its
# dependencies are the shared libraries the programs and modules link (found by dpkg-shlibdeps)
# and what they use at run time without linking it.
set(CPACK_PACKAGE_NAME cvcomp)
set(CPACK_PACKAGE_VENDOR cvcomp)
set(CVCOMP_PACKAGE_MAINTAINER "cvcomp developers <cvcomp@example.org>"
    CACHE STRING "The Debian package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${CVCOMP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time computer-vision compositions of OpenCV patches")
set(CPACK_PACKAGE_DESCRIPTION
  "cvcomp runs compositions of patches (OpenCV filters, features, trackers and\n\
cascade detectors) over videos, pictures and cameras. The package holds the\n\
cvcomp command, the live composition studio with its page, the Python module\n\
cvcomp and the GStreamer element cvcomp.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The host library, found by the plug-in module, the Python module and the element.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/lib)
# The examples' cascades; numpy and the interpreter the Python module was built for.
if(NOT CVCOMP_PYTHON_INSTALL_DIR MATCHES "python3\\.([0-9]+)")
  message(FATAL_ERROR "${CVCOMP_PYTHON_INSTALL_DIR}: no python3.N in the Python module's folder")
endif()
math(EXPR next_minor "${CMAKE_MATCH_1} + 1")
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "opencv-data, python3 (>= 3.${CMAKE_MATCH_1}), python3 (<< 3.${next_minor}), python3-numpy")
# The examples' clips and pictures; MPEG-4 clips in GStreamer pipelines.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "opencv-doc, gstreamer1.0-plugins-base, gstreamer1.0-libav")
# The host library in the loader's cache, through dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/deploy/package/triggers)
set(CPACK_GENERATOR DEB)

# What every Debian package holds besides its files: copyright, changelog, lintian's overrides.
set(doc share/doc/cvcomp)
install(FILES ${PROJECT_SOURCE_DIR}/deploy/package/copyright DESTINATION ${doc})
install(FILES ${PROJECT_SOURCE_DIR}/deploy/package/lintian-overrides
        DESTINATION share/lintian/overrides RENAME cvcomp)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/package/changelog
  "cvcomp (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Package built from the sources' install rules.\n\n"
  " -- ${CVCOMP_PACKAGE_MAINTAINER}  ${changelog_date}\n")
file(ARCHIVE_CREATE OUTPUT ${PROJECT_BINARY_DIR}/package/changelog.gz
  PATHS ${PROJECT_BINARY_DIR}/package/changelog FORMAT raw COMPRESSION GZip
  COMPRESSION_LEVEL 9)
install(FILES ${PROJECT_BINARY_DIR}/package/changelog.gz DESTINATION ${doc})
include(CPack)
