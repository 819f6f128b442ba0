#!/bin/sh
# Kelvo: Firebird restore through gbak.
#   BackupFirebird.sh -Mode restore -ConfigPath FILE -PayloadPath FILE -ResultPath FILE
# The config file holds "server", "port", "userName", "password", "gbackPath", "backupOutputDir"; the
# payload holds "backupFilePath", "targetDatabasePath", "overwriteExisting". Whatever happens, the
# result file ends up holding {"success": true|false, "message": "..."}. Nothing is ever asked.
set -u
umask 077

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
  [ "$Answered" = 1 ] || answer false "Firebird scripti beklenmedik sekilde sonlandi."
  [ -z "$Work" ] || rm -rf "$Work"
}
trap finish EXIT
trap 'exit 1' HUP INT TERM

command -v jq >/dev/null 2>&1 || fail "jq bulunamadi. Firebird scripti icin jq kurulu olmali."

JqDefs='def s(k): (.[k] // "") | if type == "string" then . else tostring end;
def b(k): if .[k] == true then "1" else "0" end;'
# $1 = JSON file, $2 = jq @sh template that assigns the variables it names.
read_json() {
  Assignments=$(jq -rs "$JqDefs if length == 1 and (.[0] | type) == \"object\" then .[0] | $2 else error(\"no object\") end" \
    "$1" 2>/dev/null) &&
    [ -n "$Assignments" ] && eval "$Assignments"
}

[ "$Mode" = restore ] || fail "Bilinmeyen islem: $Mode"
read_json "$ConfigPath" '@sh "Server=\(s("server")) Port=\(s("port")) UserName=\(s("userName")) Password=\(s("password")) Gbak=\(s("gbackPath"))"' ||
  fail "Firebird baglanti bilgileri okunamadi: $ConfigPath"
read_json "$PayloadPath" '@sh "Backup=\(s("backupFilePath")) Target=\(s("targetDatabasePath")) Overwrite=\(b("overwriteExisting"))"' ||
  fail "Geri yukleme bilgileri okunamadi: $PayloadPath"

[ -n "$Backup" ] || fail "Yedek dosyasi belirtilmedi."
[ -f "$Backup" ] || fail "Yedek dosyasi bulunamadi: $Backup"
# Absolute, so that a file named like a switch ("-rep.fbk") stays a file name for gbak.
case $Backup in /*) ;; *) Backup=$PWD/$Backup ;; esac
[ -n "$Target" ] || fail "Hedef veritabani yolu belirtilmedi."
case $Server in '') Server=localhost ;; -* | *[[:cntrl:]]* | *:*) fail "Gecersiz Firebird sunucu adi: $Server" ;; esac
case $Port in '' | *[!0-9]*) Port=0 ;; esac

# On this machine's server the target can be checked before gbak runs; elsewhere the server judges.
case $Server in
  localhost | 127.* | "$(uname -n)")
    case $Target in
      /*)
        [ -d "${Target%/*}/" ] || fail "Hedef klasor bulunamadi: ${Target%/*}"
        if [ -e "$Target" ] && [ "$Overwrite" != 1 ]; then
          fail "Hedef veritabani zaten var: $Target. Uzerine yazmak icin \"Mevcut veritabanlarinin uzerine yaz\" secenegini isaretleyin."
        fi ;;
    esac ;;
esac

if [ -n "$Gbak" ]; then
  [ -d "$Gbak" ] && Gbak=${Gbak%/}/gbak
  [ -x "$Gbak" ] && [ ! -d "$Gbak" ] || fail "gbak bulunamadi: $Gbak"
else
  Gbak=$(command -v gbak 2>/dev/null)
  [ -n "$Gbak" ] || fail "gbak bulunamadi. Firebird araclari (firebird3.0-utils) kurulu olmali."
fi

if [ "$Port" -gt 0 ] 2>/dev/null; then Database="$Server/$Port:$Target"; else Database="$Server:$Target"; fi
if [ "$Overwrite" = 1 ]; then Operation=-rep; else Operation=-c; fi

Work=$(mktemp -d "${ResultPath%/*}/fb.XXXXXX" 2>/dev/null || mktemp -d) || fail "Gecici klasor olusturulamadi."
# The password reaches gbak in a file of this user's only, never on its command line; settings in
# the environment must not override the configured login.
printf '%s' "$Password" >"$Work/password"
unset ISC_USER ISC_PASSWORD
if "$Gbak" "$Operation" -user "$UserName" -fe "$Work/password" "$Backup" "$Database" </dev/null >"$Work/out" 2>&1; then
  succeed "Firebird veritabani geri yuklendi: $Target"
fi
Error=$(grep -v 'Exiting before completion' "$Work/out" | sed 's/^gbak: *//; s/^ERROR: *//' | tr '\r\n\t' '   ' | tr -s ' ' | sed 's/^ //; s/ $//' | cut -c1-2000)
if grep -q 'user name and password are not defined' "$Work/out"; then
  fail "Firebird kullanici adi veya parolasi hatali. ($Error)"
fi
fail "Firebird geri yukleme basarisiz: $Error"
