# The packages a user installs, made by CPack ("cpack" in a build tree, or scripts/package.sh):
#  - MinGW tree: K614Mon-<version>-win64.zip (portable) and K614Mon-<version>-win64-setup.exe (NSIS);
#  - native release tree: k614mon_<version>_amd64.deb with k614ctl, k614sim, the program (from the
#    MinGW tree, K614_MINGW_BUILD) and the launcher that runs it under wine for a real adapter.
# Packaged executables are stripped; the build trees keep their symbols.
set(CPACK_PACKAGE_NAME K614Mon)
set(CPACK_PACKAGE_VENDOR K614Mon)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Configuration and monitoring tool for the K614 power-monitoring relay")
set(CPACK_PACKAGE_CONTACT "K614Mon developers <k614mon@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/packaging/copyright)
set(CPACK_STRIP_FILES ON)
# Values reach the generators as written (the NSIS lines below carry quotes).
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/package_names.cmake)
set(CPACK_PACKAGE_FILE_NAME K614Mon-${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
    install(TARGETS K614Mon k614ctl RUNTIME DESTINATION .)
    # Windows line ends, for Notepad.
    configure_file(${CMAKE_SOURCE_DIR}/packaging/README-windows.txt ${CMAKE_BINARY_DIR}/packaging/README.txt
                   @ONLY NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)

    set(CPACK_GENERATOR ZIP NSIS64)
    set(CPACK_PACKAGE_INSTALL_DIRECTORY K614Mon)
    set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY K614Mon)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    # A 64-bit installer (NSIS64 alone makes a 32-bit one that installs 64-bit
    # files): wine without its 32-bit half can run only this.
    set(CPACK_NSIS_DEFINES "Target amd64-unicode")
    set(CPACK_NSIS_DISPLAY_NAME K614Mon)
    set(CPACK_NSIS_PACKAGE_NAME K614Mon)
    set(CPACK_NSIS_MUI_ICON ${K614_ICON_DIR}/k614mon.ico)
    set(CPACK_NSIS_MUI_UNIICON ${K614_ICON_DIR}/k614mon.ico)
    set(CPACK_NSIS_INSTALLED_ICON_NAME K614Mon.exe)
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    # The program keeps K614Mon.cnf in its working directory, and Program Files
    # is not writable without elevation: the shortcut starts it in the user's
    # own application-data folder (%APPDATA%, expanded when the shortcut is
    # started, so it is each user's own and always exists). CreateShortCut
    # takes the working directory from $OUTDIR, which StrCpy sets without
    # creating anything.
    # The options page (below) also offers a desktop shortcut: the same one, when ticked.
    set(CPACK_NSIS_CREATE_ICONS_EXTRA [[
  StrCpy $OUTDIR "%APPDATA%"
  CreateShortCut "$SMPROGRAMS\$STARTMENU_FOLDER\K614Mon.lnk" "$INSTDIR\K614Mon.exe"
  StrCmp "$INSTALL_DESKTOP" "1" 0 noDesktopShortcut
    CreateShortCut "$DESKTOP\K614Mon.lnk" "$INSTDIR\K614Mon.exe"
  noDesktopShortcut:
  SetOutPath "$INSTDIR"]])
    set(CPACK_NSIS_DELETE_ICONS_EXTRA [[
  Delete "$SMPROGRAMS\$MUI_TEMP\K614Mon.lnk"
  Delete "$DESKTOP\K614Mon.lnk"]])

    # An options page offers to put the install folder on the PATH (for k614ctl in any console),
    # off unless chosen; the uninstaller takes it off again. CPack's script adds "<folder>\bin",
    # but both executables sit in the install folder itself: the build uses a copy of the script
    # with that one word taken out.
    set(CPACK_NSIS_MODIFY_PATH ON)
    set(nsis_template ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
    file(READ ${nsis_template} template_text)
    string(REPLACE "Push $INSTDIR\\bin\n" "Push $INSTDIR\n" folder_text "${template_text}")
    string(REGEX MATCHALL "Push \\$INSTDIR\n" path_pushes "${folder_text}")
    list(LENGTH path_pushes path_push_count)
    if(NOT path_push_count EQUAL 2)
        message(FATAL_ERROR "${nsis_template}: not the two PATH lines expected (\"Push $INSTDIR\\bin\")")
    endif()
    file(WRITE ${CMAKE_BINARY_DIR}/nsis/NSIS.template.in "${folder_text}")
    set(CPACK_MODULE_PATH ${CMAKE_BINARY_DIR}/nsis)

    # Windows keeps a running program's exe open: it can be neither deleted nor opened for
    # writing. Uninstalling then would remove the entry under Add/Remove Programs and leave the
    # exe behind, so the uninstaller looks first and stops before it removes anything (exit
    # code 2 in a silent run; "Uninstall.exe /S _?=<folder>" waits and hands the code back).
    set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS [[
  IfFileExists "$INSTDIR\K614Mon.exe" 0 programNotInstalled
    ClearErrors
    FileOpen $0 "$INSTDIR\K614Mon.exe" a
    IfErrors 0 programNotRunning
      MessageBox MB_OK|MB_ICONSTOP "K614Mon is running: close it, then uninstall again." /SD IDOK
      SetErrorLevel 2
      Abort "K614Mon is running: nothing was removed."
    programNotRunning:
    FileClose $0
  programNotInstalled:
  IfFileExists "$INSTDIR\k614ctl.exe" 0 ctlNotInstalled
    ClearErrors
    FileOpen $0 "$INSTDIR\k614ctl.exe" a
    IfErrors 0 ctlNotRunning
      MessageBox MB_OK|MB_ICONSTOP "k614ctl is running: end it, then uninstall again." /SD IDOK
      SetErrorLevel 2
      Abort "k614ctl is running: nothing was removed."
    ctlNotRunning:
    FileClose $0
  ctlNotInstalled:]])
elseif(K614_SANITIZE STREQUAL "")
    include(GNUInstallDirs)
    set(K614_MINGW_BUILD "${CMAKE_SOURCE_DIR}/build/mingw" CACHE PATH "MinGW build tree holding K614Mon.exe")
    set(K614_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/k614mon)
    set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
        OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    install(TARGETS k614ctl k614sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The launcher, with the version filled in.
    set(K614_LAUNCHER ${CMAKE_BINARY_DIR}/packaging/k614mon)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/k614mon.in ${K614_LAUNCHER} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                    WORLD_READ WORLD_EXECUTE)
    install(PROGRAMS ${K614_LAUNCHER} DESTINATION ${CMAKE_INSTALL_BINDIR})
    # The program comes from the MinGW tree; the native strip reads PE files.
    install(FILES ${K614_MINGW_BUILD}/app/K614Mon.exe DESTINATION ${CMAKE_INSTALL_DATADIR}/k614mon)
    install(CODE "execute_process(COMMAND ${CMAKE_STRIP}
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/k614mon/K614Mon.exe\")")
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${K614_DOC_DIR})

    # The desktop's menu entry, its icon in the sizes the hicolor theme looks in (the build's PNGs,
    # from the same drawing as the Windows icon), and the software centre's description. The
    # description's file name is its component id.
    set(K614_APPSTREAM_ID org.example.k614mon)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/k614mon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    foreach(size 16 32 48 128 256)
        install(FILES ${K614_ICON_DIR}/k614mon-${size}.png
                DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME k614mon.png)
    endforeach()
    set(K614_METAINFO ${CMAKE_BINARY_DIR}/packaging/${K614_APPSTREAM_ID}.metainfo.xml)
    configure_file(${CMAKE_SOURCE_DIR}/packaging/k614mon.metainfo.xml.in ${K614_METAINFO} @ONLY)
    install(FILES ${K614_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # Man pages from each tool's --help and --version; changelog; both gzip -9n as Debian wants them.
    find_program(K614_HELP2MAN help2man REQUIRED)
    set(K614_MAN_PAGES)
    foreach(tool k614ctl k614sim k614mon)
        if(tool STREQUAL "k614mon")
            set(tool_command ${K614_LAUNCHER})
            set(tool_depends ${tool_command})
            set(tool_name "run the K614 configuration tool under wine with a serial adapter")
        else()
            set(tool_command $<TARGET_FILE:${tool}>)
            set(tool_depends ${tool})
            set(tool_name "K614 relay parameter sets and measurements from the command line")
            if(tool STREQUAL "k614sim")
                set(tool_name "K614 power-monitoring relay simulated on a pseudo-terminal")
            endif()
        endif()
        set(page ${CMAKE_BINARY_DIR}/man/${tool}.1.gz)
        add_custom_command(OUTPUT ${page}
            COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
            COMMAND ${K614_HELP2MAN} --no-info --section=1 --name=${tool_name} --output=${CMAKE_BINARY_DIR}/man/${tool}.1
                    ${tool_command}
            COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/${tool}.1
            DEPENDS ${tool_depends} VERBATIM)
        list(APPEND K614_MAN_PAGES ${page})
    endforeach()
    configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/man/changelog @ONLY)
    set(changelog ${CMAKE_BINARY_DIR}/man/changelog.gz)
    add_custom_command(OUTPUT ${changelog}
        COMMAND sh -c "gzip -9nc '${CMAKE_BINARY_DIR}/man/changelog' > '${changelog}'"
        DEPENDS ${CMAKE_BINARY_DIR}/man/changelog VERBATIM)
    # One publishing relay per service instance: the unit, its manual page, an example configuration.
    set(unit_page ${CMAKE_BINARY_DIR}/man/k614-publish@.service.8.gz)
    add_custom_command(OUTPUT ${unit_page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND sh -c "gzip -9nc '${CMAKE_SOURCE_DIR}/packaging/k614-publish@.service.8' > '${unit_page}'"
        DEPENDS ${CMAKE_SOURCE_DIR}/packaging/k614-publish@.service.8 VERBATIM)
    add_custom_target(k614_package_docs ALL DEPENDS ${K614_MAN_PAGES} ${changelog} ${unit_page})
    install(FILES ${K614_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    install(FILES ${unit_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
    install(FILES ${changelog} ${CMAKE_SOURCE_DIR}/packaging/publish.conf.example DESTINATION ${K614_DOC_DIR})
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/k614-publish@.service DESTINATION lib/systemd/system)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_NAME k614mon)
    set(CPACK_DEBIAN_FILE_NAME k614mon_${PROJECT_VERSION}_amd64.deb)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
    set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
    set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
    # wine64 runs the 64-bit program; fonts-wine brings the dialog font the
    # launcher puts into the prefix; k614sim's libraries come from dpkg-shlibdeps.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "wine, wine64, fonts-wine")
    # Started from the menu, the launcher shows why it cannot start in a dialog of one of these
    # (on standard error alone without either).
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity | kdialog")
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # The synopsis is CPACK_PACKAGE_DESCRIPTION_SUMMARY; CPack indents these lines.
    set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [[
K614Mon shows the relay's live power reading with its peaks and a scrolling
trend, reads, edits, sends and verifies its parameter set, keeps parameter
sets in .614 files and prints a report. It is a Windows program; the
k614mon command runs it under wine with a serial adapter (--port DEVICE),
and so does its entry in the desktop's application menu, which takes the
USB serial adapter plugged in and shows in a dialog why it cannot start.

Also included: k614ctl, which reads, writes, compares and logs from the
command line, and k614sim, a simulated relay on a pseudo-terminal.]])
endif()
include(CPack)
