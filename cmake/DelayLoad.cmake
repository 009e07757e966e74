# System DLLs that Windows does not list as known DLLs. The loader would look for them beside the
# executable first, so a winhttp.dll dropped next to Gatehouse.exe in a Downloads folder would run
# inside the launcher. They are delay-loaded instead: nothing is loaded before the entry point has
# restricted the search to System32 (SetDefaultDllDirectories), and each one is loaded from there
# on its first call. Add a DLL here when a target starts linking it.
set(LAUNCHER_DELAY_LOADED_DLLS winhttp bcrypt crypt32 comctl32 uxtheme rstrtmgr version)

# For each name, a delay-import library made from MinGW's import library with dlltool, behind an
# imported target of the same name: every `target_link_libraries(... winhttp)` in the tree links
# the delay-import library instead of -lwinhttp. MinGW's libmingwex, linked by default, has the
# loader helper (__delayLoadHelper2).
set(delay_dir "${CMAKE_BINARY_DIR}/delay-import")
file(MAKE_DIRECTORY "${delay_dir}")
foreach(dll IN LISTS LAUNCHER_DELAY_LOADED_DLLS)
    find_library(LAUNCHER_IMPORT_LIBRARY_${dll} NAMES ${dll} REQUIRED)
    execute_process(COMMAND "${CMAKE_NM}" "${LAUNCHER_IMPORT_LIBRARY_${dll}}"
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "cannot read the exports of ${LAUNCHER_IMPORT_LIBRARY_${dll}}")
    endif()
    # Each export has a code stub (T) in the import library; that list is the .def file.
    string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z0-9_@?$]+" stubs "${symbols}")
    list(TRANSFORM stubs REPLACE "^[0-9a-f]+ T " "")
    list(REMOVE_DUPLICATES stubs)
    list(SORT stubs)
    list(JOIN stubs "\n" exports)
    # Made again only when the exports change, so a new configure run relinks nothing.
    set(def "LIBRARY ${dll}.dll\nEXPORTS\n${exports}\n")
    set(old_def "")
    if(EXISTS "${delay_dir}/${dll}.def" AND EXISTS "${delay_dir}/lib${dll}-delay.a")
        file(READ "${delay_dir}/${dll}.def" old_def)
    endif()
    if(NOT def STREQUAL old_def)
        file(WRITE "${delay_dir}/${dll}.def" "${def}")
        # Run in its folder with a relative name: the names inside the library hold no build path.
        execute_process(COMMAND "${CMAKE_DLLTOOL}" --input-def ${dll}.def --dllname ${dll}.dll
                                --output-delaylib lib${dll}-delay.a
                        WORKING_DIRECTORY "${delay_dir}" RESULT_VARIABLE failed)
        if(failed)
            file(REMOVE "${delay_dir}/${dll}.def")
            message(FATAL_ERROR "dlltool could not make the delay-import library of ${dll}.dll")
        endif()
    endif()
    add_library(${dll} STATIC IMPORTED GLOBAL)
    set_target_properties(${dll} PROPERTIES IMPORTED_LOCATION "${delay_dir}/lib${dll}-delay.a")
endforeach()
