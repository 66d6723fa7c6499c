# Run at build time (cmake -P): writes the manual page zqpack(1) to OUTPUT
# from what ZQPACK itself prints for --help, for each command's --help and
# for --version, so that the page and the program say the same.  The
# commands are the ones that 'zqpack --help' lists.
execute_process(COMMAND ${ZQPACK} --help OUTPUT_VARIABLE tool_help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${ZQPACK} --help failed")
endif()
execute_process(COMMAND ${ZQPACK} --version OUTPUT_VARIABLE version_text)
string(REGEX MATCH "^zqpack ([^\n]+)" _ "${version_text}")
set(version "${CMAKE_MATCH_1}")

# Text as roff shows it unformatted: backslashes and hyphens escaped, a
# leading dot or quote defused.
function(roff_literal text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

string(REGEX MATCH "Commands:\n(( +[a-z]+ +[^\n]*\n)+)" _ "${tool_help}")
string(REPLACE "\n" ";" command_lines "${CMAKE_MATCH_1}")
set(commands "")
foreach(line IN LISTS command_lines)
  if(line MATCHES "^ +([a-z]+) ")
    list(APPEND commands ${CMAKE_MATCH_1})
  endif()
endforeach()
roff_literal("${tool_help}" tool_roff)
string(CONCAT page ".TH ZQPACK 1 \"\" \"zqpack ${version}\" \"User Commands\"\n"
         ".SH NAME\n"
         "zqpack \\- build, check and take apart ZQ Installer setups\n"
         ".SH DESCRIPTION\n"
         "${tool_roff}"
         ".SH COMMANDS\n")
foreach(command IN LISTS commands)
  execute_process(COMMAND ${ZQPACK} ${command} --help OUTPUT_VARIABLE help)
  roff_literal("${help}" help_roff)
  string(APPEND page ".SS ${command}\n${help_roff}")
endforeach()
string(APPEND page ".SH FILES\n"
       ".TP\n/usr/share/doc/zqpack/setup\\-ini.md\n"
       "every key of Setup.ini that the setup program reads, its buffer, and what\n"
       "a missing, empty or over\\-long value does; the place that each finding of\n"
       ".B zqpack check\nnames.\n"
       ".TP\n/usr/share/doc/zqpack/cab\\-inf.md\n"
       "every section and key of the CAB Wizard .inf that\n"
       ".B zqpack cab\nreads, and what it ignores.\n")
file(WRITE "${OUTPUT}" "${page}")
