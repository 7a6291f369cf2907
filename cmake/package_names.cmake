# Per-generator package names, read by cpack as it runs each generator.
if(CPACK_GENERATOR STREQUAL "ZIP")
    set(CPACK_PACKAGE_FILE_NAME "K614Mon-${CPACK_PACKAGE_VERSION}-win64")
elseif(CPACK_GENERATOR STREQUAL "NSIS64")
    set(CPACK_PACKAGE_FILE_NAME "K614Mon-${CPACK_PACKAGE_VERSION}-win64-setup")
endif()
