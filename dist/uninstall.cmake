# Removes every file an install wrote, as its install_manifest.txt lists them.
#   cmake -DMANIFEST=path/install_manifest.txt [-DDESTDIR=dir] -P uninstall.cmake
# The manifest lists paths under the install prefix without the DESTDIR that install used,
# so the same DESTDIR must be given (-DDESTDIR, else the DESTDIR environment variable). Folders are left: the manifest does not say which ones
# the install created. The manifest is removed last, so a second run says there is nothing to
# do, which is not an error.
if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
    message(STATUS "Nothing to uninstall: ${MANIFEST} does not exist (nothing was installed "
                   "from this build folder, or it was uninstalled already).")
    return()
endif()
if(NOT DEFINED DESTDIR)
    set(DESTDIR "$ENV{DESTDIR}")
endif()
file(STRINGS "${MANIFEST}" installed)
set(failed "")
foreach(entry IN LISTS installed)
    set(file "${DESTDIR}${entry}")
    if(IS_SYMLINK "${file}" OR EXISTS "${file}")
        file(REMOVE "${file}")
        if(IS_SYMLINK "${file}" OR EXISTS "${file}")
            list(APPEND failed "${file}")
        else()
            message(STATUS "Removed ${file}")
        endif()
    else()
        message(STATUS "Already gone: ${file}")
    endif()
endforeach()
if(failed)
    message(FATAL_ERROR "Could not remove (permissions?): ${failed}")
endif()
file(REMOVE "${MANIFEST}")
