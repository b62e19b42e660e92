# Fails unless the desktop entry and the metadata name Kestra Online's program, ID, icon and version.
file(READ "${ENTRY}" entry)
file(READ "${METAINFO}" metainfo)
foreach(pair IN ITEMS
        "entry>\nName=Kestra Online\n" "entry>\nExec=kestra-online\n" "entry>\nIcon=com.example.KestraOnline\n"
        "entry>\nStartupWMClass=kestra-online\n" "metainfo><id>com.example.KestraOnline</id>"
        "metainfo><name>Kestra Online</name>" "metainfo><binary>kestra-online</binary>"
        "metainfo><launchable type=\"desktop-id\">com.example.KestraOnline.desktop</launchable>"
        "metainfo><release version=\"2.4.1\"")
    string(FIND "${pair}" ">" cut)
    string(SUBSTRING "${pair}" 0 ${cut} file)
    math(EXPR cut "${cut} + 1")
    string(SUBSTRING "${pair}" ${cut} -1 wanted)
    string(FIND "${${file}}" "${wanted}" at)
    if(at EQUAL -1)
        message(SEND_ERROR "${file} lacks: ${wanted}")
    endif()
endforeach()
string(FIND "${entry}${metainfo}" "Ostrel" at)
if(NOT at EQUAL -1)
    message(SEND_ERROR "Ostrel's own name is left in them")
endif()
