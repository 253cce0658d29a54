# qm_url.dll exports exactly its public functions, by their plain names, and each is compiled
# as cdecl. The DLL is linked with --kill-at, which would strip a stdcall suffix from the
# export name, so the calling convention is read from the symbol table: in the 32-bit build a
# cdecl function is "_name", a stdcall one "_name@N".
execute_process(COMMAND ${OBJDUMP} -p -t ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
# The name table runs from its heading to the next blank line.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
list(TRANSFORM entries REPLACE "^\\[ *[0-9]+\\] " "")
list(SORT entries)
set(expected qm_FreeCookieJar qm_FreeSaveSettings qm_GiveOfferedItem qm_NewCookieJar
  qm_NewSaveSettings qm_OldSavePages qm_ReadCookiesFile qm_ReplaceOfferedPage qm_SavePages
  qm_SavePagesWithCookies qm_SavePagesWithSettings qm_SavePictures qm_SavePicturesWithCookies
  qm_SavePicturesWithSettings qm_SetFailureCallback qm_SetSaveCookieJar qm_SetSavePageOffer
  qm_SetSaveRefresh
  qm_SetSaveSiteLayout qm_SetSaveWebArchive qm_StopSave qm_UrlToFile qm_UrlToHtml
  qm_UrlToHtmlFollow qm_UrlToHtmlWithCookies qm_WriteCookiesFile qm_WriteSingleFile)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "exports are '${entries}', expected '${expected}'")
endif()
message(STATUS "exports: ${entries}")

if(PROCESSOR STREQUAL "i686")
  set(prefix "_")
endif()
foreach(name ${expected})
  # A function symbol (type 0x20) of the text section, and nothing decorated beside it.
  if(NOT dump MATCHES "\\(ty +20\\)[^\n]* ${prefix}${name}\n")
    message(FATAL_ERROR "no cdecl function ${prefix}${name} in the symbol table")
  endif()
  if(dump MATCHES " _?${name}@[0-9]+\n")
    message(FATAL_ERROR "${name} is compiled as stdcall")
  endif()
endforeach()
message(STATUS "every export is a cdecl function")
