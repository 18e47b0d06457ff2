# The Debian package, made by CPack from what `cmake --install` installs (scripts/package
# configures with the prefix /usr and runs cpack). Its dependencies are the runtime
# packages of the libraries the programs and layers link, as dpkg-shlibdeps finds them,
# and the data and tools the programs and maintainer scripts use; never a -dev package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nodra)
set(CPACK_PACKAGE_VERSION ${NODRA_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "nodra")
set(CPACK_PACKAGE_CONTACT "nodra maintainers <maintainers@users.noreply.c-seed-14d17537.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read-only data server for RPC III files, over CORBA")
set(CPACK_PACKAGE_DESCRIPTION
    "nodra serves directories of RPC III files (multi-channel time histories from test rigs\n"
    "and road-load measurements) to CORBA clients over IIOP, without ever writing to a file.\n"
    "This package holds the server (nodra-server, a systemd service), the browser\n"
    "(nodra-browse), the web viewer (nodra-web), the interface (IDL) and the omniORB stubs\n"
    "for C++ clients (pkg-config nodra), and the Python package nodra for Debian's python3:\n"
    "local files in process, servers over IIOP and viewers over HTTP, into numpy.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # nodra_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${NODRA_INSTALL_FULL_PRIVATE_LIBDIR})
# The unit catalogue reads UDUNITS-2's database; the maintainer scripts make the user and
# set the units up. The Python package's native part is built for Debian's python3 of this
# release (3.11) and reads values into numpy; pandas, dask, scipy and h5py are optional.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libudunits2-data, adduser, init-system-helpers, python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3-pandas")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "omniorb-nameserver, python3-dask, python3-scipy, python3-h5py")

# /etc/nodra's files are conffiles: an upgrade keeps the administrator's changes, a purge
# removes them.
set(nodraConffiles "")
foreach(program nodra-server nodra-web)
  string(APPEND nodraConffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/nodra/${program}.conf\n")
endforeach()
file(WRITE ${PROJECT_BINARY_DIR}/packaging/debian/conffiles "${nodraConffiles}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
