# The shipped executables as files, read without running them:
#   cmake -DWINDRES=.. -DOBJDUMP=.. -DPROGRAM=Tovanel.exe -DDESCRIPTION=".." -P ProgramFiles.cmake
# The program carries the manifest (asInvoker, Windows 7 to 11) and the version
# resource, and its import table names only DLLs that Windows always takes
# from the system folder (KnownDLLs), so none can be planted beside it.
cmake_minimum_required(VERSION 3.25)
set(known_dlls ADVAPI32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL OLE32.DLL OLEAUT32.DLL SHELL32.DLL USER32.DLL)

execute_process(COMMAND ${WINDRES} -J coff -O rc -i ${PROGRAM} OUTPUT_VARIABLE resources RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${PROGRAM}: no resources can be read")
endif()
get_filename_component(name ${PROGRAM} NAME)
get_filename_component(internal ${PROGRAM} NAME_WE)
foreach(wanted
        "requestedExecutionLevel level=\"\"asInvoker\"\""
        "supportedOS Id=\"\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"\""
        "supportedOS Id=\"\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"\""
        "supportedOS Id=\"\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"\""
        "supportedOS Id=\"\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"\""
        " FILEVERSION 11, 0, 0, 0\n"
        " PRODUCTVERSION 11, 0, 0, 0\n"
        "VALUE \"CompanyName\", \"Tessaly\"\n"
        "VALUE \"FileDescription\", \"${DESCRIPTION}\"\n"
        "VALUE \"FileVersion\", \"11.0.0.0\"\n"
        "VALUE \"InternalName\", \"${internal}\"\n"
        "VALUE \"OriginalFilename\", \"${name}\"\n"
        "VALUE \"ProductName\", \"Quillory\"\n"
        "VALUE \"ProductVersion\", \"11.0.0.0\"\n"
        "VALUE \"Translation\", 0x409, 1252\n")
  string(FIND "${resources}" "${wanted}" at)
  if(at EQUAL -1)
    message(SEND_ERROR "${name}: the resources lack ${wanted}")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(failed OR NOT imports)
  message(FATAL_ERROR "${name}: no import table can be read")
endif()
foreach(import IN LISTS imports)
  string(REPLACE "DLL Name: " "" dll "${import}")
  string(TOUPPER "${dll}" dll)
  if(NOT dll IN_LIST known_dlls)
    message(SEND_ERROR "${name} imports ${dll}, which Windows may load from the program's own folder")
  endif()
endforeach()
