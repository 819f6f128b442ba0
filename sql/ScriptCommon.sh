# shellcheck shell=sh
# shellcheck disable=SC2034,SC2154 # the parameters are read here for the scripts that source this file, the titles set by them
# Kelvo restore scripts: what both scripts share. Sourced by them after they set
#   ScriptTitle       e.g. "Restore script" (for the message of an unexpected end)
#   ScriptTitleForJq  e.g. "Restore scripti" (for the message when jq is missing)
# It reads the four parameters, guarantees a result file on every path (answer, fail, succeed and
# an EXIT trap), and reads JSON members into shell variables through jq (read_json).
Mode='' ConfigPath='' PayloadPath='' ResultPath=''
while [ $# -ge 2 ]; do
  case $1 in
    -Mode) Mode=$2 ;;
    -ConfigPath) ConfigPath=$2 ;;
    -PayloadPath) PayloadPath=$2 ;;
    -ResultPath) ResultPath=$2 ;;
  esac
  shift 2
done
[ -n "$ResultPath" ] || exit 2

Answered=0
Work=''

# Without jq the message is escaped here; control characters become blanks.
json_text() { printf '%s' "$1" | tr '\000-\037' ' ' | sed 's/\\/\\\\/g; s/"/\\"/g'; }

answer() { # $1 = true|false, $2 = message
  if ! jq -cn --argjson s "$1" --arg m "$2" '{success: $s, message: $m}' >"$ResultPath" 2>/dev/null; then
    printf '{"success":%s,"message":"%s"}\n' "$1" "$(json_text "$2")" >"$ResultPath"
  fi
  Answered=1
}
fail() { answer false "$1"; exit 1; }
succeed() { answer true "$1"; exit 0; }
finish() {
  [ "$Answered" = 1 ] || answer false "$ScriptTitle beklenmedik sekilde sonlandi."
  [ -z "$Work" ] || rm -rf "$Work"
}
trap finish EXIT
trap 'exit 1' HUP INT TERM

command -v jq >/dev/null 2>&1 || fail "jq bulunamadi. $ScriptTitleForJq icin jq kurulu olmali."

JqDefs='def s(k): (.[k] // "") | if type == "string" then . else tostring end;
def b(k): if .[k] == true then "1" else "0" end;'
# $1 = JSON file, $2 = jq @sh template that assigns the variables it names.
read_json() {
  Assignments=$(jq -rs "$JqDefs if length == 1 and (.[0] | type) == \"object\" then .[0] | $2 else error(\"no object\") end" \
    "$1" 2>/dev/null) &&
    [ -n "$Assignments" ] && eval "$Assignments"
}

