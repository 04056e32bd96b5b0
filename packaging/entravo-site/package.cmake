# The site's Debian package, after the install rules at the end of site/CMakeLists.txt: the
# configuration snippets, the manual page, the package's documents and maintainer scripts,
# and CPack's settings. scripts/package.sh builds `site_package_files`, then runs cpack.
set(ENTRAVO_SITE_VERSION ${PROJECT_VERSION} CACHE STRING "Version of the site's Debian package")
set(ENTRAVO_SITE_MAINTAINER "Harrowgate site maintainers <site@harrowgate.example>")
set(package_source ${CMAKE_CURRENT_LIST_DIR})
set(package_files ${CMAKE_BINARY_DIR}/entravo-site-package)

# The web servers' snippets, the service's units, the settings file and the examples: templates
# filled in with the package's places (paths) by the script the tests fill them in with too.
set(render_script ${PROJECT_SOURCE_DIR}/scripts/render-site-config.sh)
set(rendered_files)
function(render_site_config template output)
  add_custom_command(OUTPUT ${package_files}/${output}
    COMMAND sh -c "\"$0\" --package \"$1\" > \"$2\"" ${render_script} ${package_source}/${template}
            ${package_files}/${output}
    DEPENDS ${render_script} ${package_source}/${template} ${package_source}/paths
    VERBATIM)
  set(rendered_files ${rendered_files} ${package_files}/${output} PARENT_SCOPE)
endfunction()
render_site_config(lighttpd.conf.in 50-entravo.conf)
render_site_config(nginx.conf.in entravo.conf)
render_site_config(nginx-auth.conf.in entravo-auth.conf)
render_site_config(nginx-log.conf entravo-site-log.conf)
render_site_config(site.conf site.conf)
render_site_config(entravo-site.service.in entravo-site.service)
render_site_config(entravo-site.socket entravo-site.socket)
render_site_config(tmpfiles.conf tmpfiles.conf)
render_site_config(nginx-app.conf.in nginx-app.conf)
render_site_config(lighttpd-app.conf.in lighttpd-app.conf)
render_site_config(apache-oidc.conf.in apache-oidc.conf)
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
add_custom_target(site_package_files DEPENDS ${manual}.gz ${package_files}/changelog.gz ${rendered_files})
add_dependencies(site_package_files login.cgi login.fcgi entravo-site)

install(FILES ${manual}.gz DESTINATION share/man/man1 COMPONENT entravo-site)
install(FILES ${package_files}/changelog.gz ${package_source}/copyright
        DESTINATION share/doc/entravo-site COMPONENT entravo-site)
install(FILES ${package_source}/lintian-overrides DESTINATION share/lintian/overrides RENAME entravo-site
        COMPONENT entravo-site)
install(FILES ${PROJECT_SOURCE_DIR}/docs/verify-api.md DESTINATION share/doc/entravo-site COMPONENT entravo-site)
install(FILES ${PROJECT_SOURCE_DIR}/site/clients/python/entravo_verify.py DESTINATION share/entravo-site/python
        COMPONENT entravo-site)
install(FILES ${package_files}/50-entravo.conf DESTINATION /etc/lighttpd/conf-available COMPONENT entravo-site)
install(FILES ${package_files}/entravo.conf ${package_files}/entravo-auth.conf DESTINATION /etc/nginx/snippets
        COMPONENT entravo-site)
install(FILES ${package_files}/entravo-site-log.conf DESTINATION /etc/nginx/conf.d RENAME entravo-site.conf
        COMPONENT entravo-site)
install(FILES ${package_files}/site.conf DESTINATION /etc/entravo-site COMPONENT entravo-site)
install(FILES ${package_files}/entravo-site.service ${package_files}/entravo-site.socket
        DESTINATION /lib/systemd/system COMPONENT entravo-site)
install(FILES ${package_files}/tmpfiles.conf DESTINATION lib/tmpfiles.d RENAME entravo-site.conf
        COMPONENT entravo-site)
install(FILES ${package_files}/nginx-app.conf ${package_files}/lighttpd-app.conf ${package_files}/apache-oidc.conf
        DESTINATION share/doc/entravo-site/examples COMPONENT entravo-site)

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
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd | nginx, fcgiwrap")
# CPack indents the long description itself; an empty line becomes Debian's " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "login site for Entravo hardware-token logons
The receiving end of the Entravo tray agent: a web page that signs a user in
with the one-time string the agent makes from a hardware token, accepting each
string once, and the operator's command that enrols and revokes tokens and
shows the sign-in attempts. One SQLite database in /var/lib/entravo-site, or
a PostgreSQL database; settings in /etc/entravo-site/site.conf.

Configuration snippets for lighttpd (lighty-enable-mod entravo) and nginx come
with it, none enabled by installing, and a systemd service that runs the
long-lived page (login.fcgi) for nginx and Apache on a socket of its own.
'entravo-site probe' proves a deployment end to end.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${package_source}/postinst;${package_source}/prerm;${package_source}/postrm;${package_source}/conffiles")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
