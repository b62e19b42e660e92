# What a game service names its own build: every name the program shows or installs under. The
# defaults are Ostrel's own. Each value ends up in C strings, desktop files and XML, so each is held to
# characters that need no escaping anywhere.
set(OSTREL_DISPLAY_NAME "Ostrel" CACHE STRING
    "Name shown to players: desktop entry, metadata, about box, window title (unless string 155 is given)")
set(OSTREL_EXECUTABLE_NAME "ostrel" CACHE STRING
    "Name of the program, of its package and of its command-line twin (NAME-cli)")
set(OSTREL_APP_ID "org.ostrel.Ostrel" CACHE STRING "Desktop application ID: names the desktop entry, the metadata and the icon")
set(OSTREL_DATA_FOLDER_NAME "Harnlow" CACHE STRING "Folder of the log (under ~/.local/state) and the settings (under ~/.config)")
set(OSTREL_ICON_PNG "" CACHE FILEPATH
    "Square PNG of the window's icon, the installed icons scaled from it (empty: Ostrel's own icon)")
set(OSTREL_STRINGS_FILE "" CACHE FILEPATH "Texts replacing the built-in ones: ID<TAB>text per line (empty: none)")

function(_ostrel_require variable pattern what)
    if(NOT "${${variable}}" MATCHES "${pattern}")
        message(FATAL_ERROR "${variable} must be ${what}, not \"${${variable}}\"")
    endif()
endfunction()

_ostrel_require(OSTREL_DISPLAY_NAME "^[^\"\\\\<>&\n\t]+$" "a name without quotes, backslashes, <, > or &")
_ostrel_require(OSTREL_EXECUTABLE_NAME "^[a-z0-9][a-z0-9+.-]+$"
    "a package name: lower-case letters, digits, + - . (two or more, starting with a letter or digit)")
_ostrel_require(OSTREL_APP_ID "^[A-Za-z_][A-Za-z0-9_]*(\\.[A-Za-z_][A-Za-z0-9_-]*)+$"
    "a reverse domain name such as org.example.Game")
_ostrel_require(OSTREL_DATA_FOLDER_NAME "^[A-Za-z0-9_ -][A-Za-z0-9._ -]*$"
    "a folder name of letters, digits, spaces, _ - . (not starting with a dot)")
foreach(variable IN ITEMS OSTREL_ICON_PNG OSTREL_STRINGS_FILE)
    if(NOT "${${variable}}" STREQUAL "" AND NOT EXISTS "${${variable}}")
        message(FATAL_ERROR "${variable}: no such file: ${${variable}}")
    endif()
endforeach()
