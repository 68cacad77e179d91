# kv_write_startwick_entry(<file> <program>): writes Startwick's desktop entry (startup_launcher/
# Startwick.desktop.in), which runs the program with "/Startup" from an autostart folder. The program's path is
# quoted by the desktop entry rules: inside double quotes a '"', '`', '$' or '\' is escaped with '\', then every
# '\' of the value is doubled as for any string value, and a '%' (a field code otherwise) is written "%%".
# Usable from a script (cmake -P) too.
set(KV_STARTWICK_ENTRY_TEMPLATE "${CMAKE_CURRENT_LIST_DIR}/../startup_launcher/Startwick.desktop.in")
function(kv_write_startwick_entry file program)
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" quoted "${program}")
    string(REPLACE "\\" "\\\\" quoted "${quoted}")
    string(REPLACE "%" "%%" quoted "${quoted}")
    set(KV_STARTWICK_EXEC "\"${quoted}\"")
    configure_file("${KV_STARTWICK_ENTRY_TEMPLATE}" "${file}" @ONLY)
endfunction()
