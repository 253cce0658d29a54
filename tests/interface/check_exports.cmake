# qm_url.dll exports exactly its public functions, by their plain names.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
# The name table runs from its heading to the next blank line.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" table "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${table}")
list(TRANSFORM entries REPLACE "^\\[ *[0-9]+\\] " "")
list(SORT entries)
set(expected qm_OldSavePages qm_SavePages qm_SavePictures qm_SetFailureCallback qm_StopSave
  qm_UrlToFile qm_UrlToHtml qm_UrlToHtmlFollow)
if(NOT entries STREQUAL expected)
  message(FATAL_ERROR "exports are '${entries}', expected '${expected}'")
endif()
message(STATUS "exports: ${entries}")
