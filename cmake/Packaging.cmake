# Installing and packaging.
#
# `cmake --install` lays out, under the prefix:
#   bin/qm4107-panel, bin/qm4107-checkout, bin/qm4107-sim, bin/qm4107-ports, lib/qm4107/libMODBUS485.so (Windows: bin/MODBUS485.dll next to the
#   program), share/applications/qm4107-panel.desktop and qm4107-checkout.desktop, share/icons/hicolor/<size>/apps/qm4107.png (from
#   shell/).
# `cpack -G DEB` in the build folder makes qm4107-panel_<version>_<arch>.deb installing under /usr.

# MODBUS485 is the program's private library, unversioned and loaded by name: it goes where Debian keeps a
# package's private libraries, /usr/lib/<package>, not onto the system's library path.
set(QM4107_PRIVATE_LIBDIR lib/qm4107)

# The panel and the checkout load MODBUS485 by name at run time, from its own folder first and then through the dynamic
# loader's search. An installed program finds lib/qm4107 beside its bin/ through an rpath of
# $ORIGIN/../lib/qm4107. It has to be the old-style DT_RPATH: a DT_RUNPATH in the program is not consulted
# for a dlopen made by QtCore, which is where QLibrary loads from. qm4107-ports also links MODBUS485 at build
# time, and its scan loads it by name like the windows.
if(UNIX AND NOT APPLE)
    file(RELATIVE_PATH bin_to_private /${CMAKE_INSTALL_BINDIR} /${QM4107_PRIVATE_LIBDIR})
    foreach(program qm4107-panel qm4107-checkout qm4107-ports)
        set_target_properties(${program} PROPERTIES INSTALL_RPATH "\$ORIGIN/${bin_to_private}")
        target_link_options(${program} PRIVATE "LINKER:--disable-new-dtags")
    endforeach()
endif()

if(TARGET MODBUS485)
    install(TARGETS MODBUS485
        LIBRARY DESTINATION ${QM4107_PRIVATE_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS qm4107-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_PACKAGE_NAME qm4107-panel)
set(CPACK_PACKAGE_VENDOR "QM4107")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Commissioning panel for the QM4107 discrete I/O module (Modbus RTU, RS-485)")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "qm4107-panel watches and drives a QM4107 discrete I/O module (inputs X1-X10, outputs Y1-Y5, three pulse\n"
    "counters, frequency measurement) over an RS-485 line as a Modbus RTU master, through its own MODBUS485\n"
    "library. qm4107-sim, a simulated module on a pseudo-terminal or a serial device, is included.")
set(CPACK_PACKAGE_CONTACT "QM4107 panel maintainers <qm4107-panel@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt 6, libmodbus and the C++ runtime come from dpkg-shlibdeps; the Song face for the Chinese captions is
# not a linked library, so it is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "mbpoll")

include(CPack)
