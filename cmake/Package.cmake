# What `make install` puts where (under CMAKE_INSTALL_PREFIX, DESTDIR
# honoured), and the Debian package that `make package` builds from it.
include(GNUInstallDirs)

install(TARGETS plonemail plonemail-scramble RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/plonemail.1 man/plonemail-scramble.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md docs/job-script.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plonemail)
set(CPACK_PACKAGE_VENDOR "plonemail")
set(CPACK_PACKAGE_CONTACT "plonemail maintainers <plonemail@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended command-line mail sender")
set(CPACK_PACKAGE_DESCRIPTION "A calling program writes a small tagged job script that describes one mail \
(plain text, or an HTML template with images, and attachments) and runs \
plonemail, which composes the MIME message, delivers it over SMTP and logs \
every step.")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the programs link against become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without the media-type table, attachments get the built-in types only;
# libcurl is loaded only when an OAuth token is fetched from the endpoint.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "media-types, libcurl4")
set(CPACK_STRIP_FILES ON)
include(CPack)
