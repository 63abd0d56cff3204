# Writes the manual page from `lumacap --help`, so that the options it lists
# are the ones the program knows. Run with cmake -P and
#   LUMACAP   the built executable
#   TEMPLATE  lumacap.1.in
#   OUTPUT    the page to write
#   VERSION   the project version
# Every option the help names must have a description here: a new option
# fails the build until it is documented.

set(description_--install-claude-hooks
  "Adds Lumacap's hook entries (SessionStart, SessionEnd, UserPromptSubmit and
Stop) to Claude Code's settings file, keeping every other setting and saving
the file as it was beside it first. The hooks run this executable at the path
it was run from.")
set(description_--remove-claude-hooks
  "Removes those hook entries again.")
set(description_--install-hooks_AGENT
  "The same for another coding agent's hooks file: codex (~/.codex/hooks.json
or $CODEX_HOME; Codex runs the hooks once they are trusted in its /hooks menu),
gemini (~/.gemini/settings.json or $GEMINI_CLI_HOME/.gemini; Lumacap's capture
folder is also added to the folders Gemini CLI may read), copilot
(~/.copilot/settings.json or $COPILOT_HOME), qwen (~/.qwen/settings.json), or
claude.")
set(description_--remove-hooks_AGENT
  "Removes that agent's hook entries again (and the capture folder Gemini CLI
was allowed to read).")
set(description_--install-mcp_AGENT
  "Adds lumacap mcp to AGENT's MCP servers, under the name lumacap: claude
(~/.claude.json, or $CLAUDE_CONFIG_DIR/.claude.json), codex
(~/.codex/config.toml, only its [mcp_servers.lumacap] table is written), gemini
(~/.gemini/settings.json), copilot (~/.copilot/mcp-config.json) or qwen
(~/.qwen/settings.json), with a backup as for the hooks.")
set(description_--remove-mcp_AGENT
  "Removes that agent's lumacap MCP server again.")
set(description_--agent-hook_AGENT
  "The hook command another agent runs, as --claude-hook; for Copilot CLI,
whose record does not name its event, AGENT is copilot:EVENT.")
set(description_--delay_SECONDS
  "With a capture action: a countdown of SECONDS (1 to 60) shows first, and
Esc cancels it; the capture is taken when it ends, without the countdown in
it.")
set(description_--action_ACTION
  "Starts the tray application, or asks the running one, to carry out ACTION,
one of: @ACTIONS@. A running Lumacap takes the request over the session bus
at once; desktop key bindings can run the same actions with
gapplication action org.lumacap.Lumacap ACTION. The name may also follow
as the next argument: --action ACTION.")
set(description_--version
  "Prints the version.")
set(description_--help
  "Prints the options and the actions.")
set(description_--claude-hook
  "The hook command itself: reads one Claude Code hook event from standard input
and records or forgets the live session. Writes nothing to standard output and
always exits 0.")

# Escapes text for troff: backslashes, and hyphens that must print as such.
function(troff_escape text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND "${LUMACAP}" --help
  OUTPUT_VARIABLE help RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${LUMACAP} --help failed (${status}): ${errors}")
endif()
if(NOT help MATCHES "^Usage: [^\n]+\nLumacap: ([^\n]+)\\.\n\nOptions:\n(.+)\n\nActions: ([^\n]+)\n$")
  message(FATAL_ERROR "unexpected help text: ${help}")
endif()
set(summary "${CMAKE_MATCH_1}")
set(ACTIONS "${CMAKE_MATCH_3}")
# One option a line, its name first: "  --name  what it does".
string(REGEX MATCHALL "(^|\n)  --[^ ]+" options "${CMAKE_MATCH_2}")
list(TRANSFORM options REPLACE "^\n?  " "")

troff_escape("${summary}" MAN_SUMMARY)
set(MAN_OPTIONS "")
set(synopsis "")
foreach(option IN LISTS options)
  string(REGEX REPLACE "[^A-Za-z-]" "_" key "${option}")
  if(NOT DEFINED description_${key})
    message(FATAL_ERROR "the help names ${option}, which the manual page does not describe")
  endif()
  troff_escape("${option}" name)
  string(CONFIGURE "${description_${key}}" description @ONLY)
  troff_escape("${description}" text)
  string(APPEND MAN_OPTIONS ".TP\n.B ${name}\n${text}\n")
  # The first synopsis line shows the application's own form.
  if(NOT option MATCHES "^--action")
    list(APPEND synopsis "\\fB${name}\\fR")
  endif()
endforeach()
list(JOIN synopsis " | " MAN_SYNOPSIS)
string(TIMESTAMP MAN_DATE "%Y-%m-%d" UTC)
set(MAN_VERSION "${VERSION}")
string(REGEX REPLACE "\n$" "" MAN_OPTIONS "${MAN_OPTIONS}")
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
