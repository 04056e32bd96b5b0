# The site's Debian package, after the install rules at the end of site/CMakeLists.txt: the
# configuration snippets, the manual page, the package's documents and maintainer scripts,
# and CPack's settings. scripts/package.sh builds `site_package_files`, then runs cpack.
set(ENTRAVO_SITE_VERSION ${PROJECT_VERSION} CACHE STRING "Version of the site's Debian package")
set(ENTRAVO_SITE_DB /var/lib/entravo-site/site.db)
set(ENTRAVO_SITE_MAINTAINER "Harrowgate site maintainers <site@harrowgate.example>")
set(package_source ${CMAKE_CURRENT_LIST_DIR})
set(package_files ${CMAKE_BINARY_DIR}/entravo-site-package)

# The lighttpd snippet serves the FastCGI page too when it is built.
set(ENTRAVO_SITE_LIGHTTPD_FASTCGI "")
if(TARGET login.fcgi)
  file(READ ${package_source}/lighttpd-fastcgi.conf.in fastcgi)
  string(CONFIGURE "${fastcgi}" ENTRAVO_SITE_LIGHTTPD_FASTCGI @ONLY)
endif()
configure_file(${package_source}/lighttpd.conf.in ${package_files}/50-entravo.conf @ONLY)
configure_file(${package_source}/nginx.conf.in ${package_files}/entravo.conf @ONLY)
# The changelog's date honours SOURCE_DATE_EPOCH, for a reproducible package.
string(TIMESTAMP ENTRAVO_SITE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${package_source}/changelog.in ${package_files}/changelog @ONLY)

# The manual page is the program's own --help with a few sections added, so the two agree.
find_program(ENTRAVO_HELP2MAN help2man)
if(NOT ENTRAVO_HELP2MAN)
  set(ENTRAVO_HELP2MAN help2man) # fails when the page is built: Debian package help2man
endif()
set(manual ${package_files}/entravo-site.1)
add_custom_command(OUTPUT ${manual}.gz ${package_files}/changelog.gz
  COMMAND ${ENTRAVO_HELP2MAN} --no-info --section=1 --version-string=${ENTRAVO_SITE_VERSION}
          "--name=the operator's command of the Entravo login site" --include=${package_source}/entravo-site.h2m
          --output=${manual} $<TARGET_FILE:entravo-site>
  COMMAND gzip -9nf ${manual}
  COMMAND gzip -9nkf ${package_files}/changelog
  DEPENDS entravo-site ${package_source}/entravo-site.h2m ${package_files}/changelog
  VERBATIM)
add_custom_target(site_package_files DEPENDS ${manual}.gz ${package_files}/changelog.gz)
add_dependencies(site_package_files login.cgi entravo-site)
if(TARGET login.fcgi)
  add_dependencies(site_package_files login.fcgi)
endif()

install(FILES ${manual}.gz DESTINATION share/man/man1 COMPONENT entravo-site)
install(FILES ${package_files}/changelog.gz ${package_source}/copyright
        DESTINATION share/doc/entravo-site COMPONENT entravo-site)
install(FILES ${package_source}/lintian-overrides DESTINATION share/lintian/overrides RENAME entravo-site
        COMPONENT entravo-site)
install(FILES ${PROJECT_SOURCE_DIR}/docs/verify-api.md DESTINATION share/doc/entravo-site COMPONENT entravo-site)
install(FILES ${PROJECT_SOURCE_DIR}/site/clients/python/entravo_verify.py DESTINATION share/entravo-site/python
        COMPONENT entravo-site)
install(FILES ${package_files}/50-entravo.conf DESTINATION /etc/lighttpd/conf-available COMPONENT entravo-site)
install(FILES ${package_files}/entravo.conf DESTINATION /etc/nginx/snippets COMPONENT entravo-site)

# One package of the entravo-site component only, whatever else the tree installs.
set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};entravo-site;/")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_NAME entravo-site)
set(CPACK_PACKAGE_VERSION ${ENTRAVO_SITE_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ENTRAVO_SITE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd | fcgiwrap")
# CPack indents the long description itself; an empty line becomes Debian's " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "login site for Entravo hardware-token logons
The receiving end of the Entravo tray agent: a web page that signs a user in
with the one-time string the agent makes from a hardware token, accepting each
string once, and the operator's command that enrols and revokes tokens and
shows the sign-in attempts. One SQLite database in /var/lib/entravo-site.

Configuration snippets for lighttpd (lighty-enable-mod entravo) and nginx
(through fcgiwrap) come with it; none is enabled by installing.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${package_source}/postinst;${package_source}/postrm;${package_source}/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
