#!/bin/sh
# Kelvo: Firebird restore through gbak.
#   BackupFirebird.sh -Mode restore -ConfigPath FILE -PayloadPath FILE -ResultPath FILE
# The config file holds "server", "port", "userName", "password", "gbackPath", "backupOutputDir"; the
# payload holds "backupFilePath", "targetDatabasePath", "overwriteExisting". Whatever happens, the
# result file ends up holding {"success": true|false, "message": "..."}. Nothing is ever asked.
set -u
umask 077

ScriptTitle="Firebird scripti"
ScriptTitleForJq="Firebird scripti"
case $0 in */*) ScriptDir=${0%/*} ;; *) ScriptDir=. ;; esac
# shellcheck source=ScriptCommon.sh
. "$ScriptDir/ScriptCommon.sh"

[ "$Mode" = restore ] || fail "Bilinmeyen islem: $Mode"
Server='' Port='' UserName='' Password='' Gbak='' Backup='' Target='' Overwrite=''
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
  if [ ! -x "$Gbak" ] || [ -d "$Gbak" ]; then fail "gbak bulunamadi: $Gbak"; fi
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
