#!/bin/sh
# Kelvo: SQL Server connection test and restore through sqlcmd.
#   RestoreDatabase.sh -Mode test|restore -ConfigPath FILE -PayloadPath FILE -ResultPath FILE
# The config file holds "server", "port", "userName", "password"; the payload of a restore holds
# "backupFilePath", "targetDatabaseName", "restoreToOriginal", "overwriteExisting". Whatever happens,
# the result file ends up holding {"success": true|false, "message": "..."}. Nothing is ever asked.
set -u
umask 077

ScriptTitle="Restore script"
ScriptTitleForJq="Restore scripti"
case $0 in */*) ScriptDir=${0%/*} ;; *) ScriptDir=. ;; esac
# shellcheck source=ScriptCommon.sh
. "$ScriptDir/ScriptCommon.sh"

Tab=$(printf '\t')
Server='' Port='' UserName='' Password=''
read_json "$ConfigPath" '@sh "Server=\(s("server")) Port=\(s("port")) UserName=\(s("userName")) Password=\(s("password"))"' ||
  fail "Baglanti bilgileri okunamadi: $ConfigPath"

Sqlcmd=$(command -v sqlcmd 2>/dev/null)
for Dir in /opt/mssql-tools18/bin /opt/mssql-tools/bin; do
  [ -n "$Sqlcmd" ] || { [ -x "$Dir/sqlcmd" ] && Sqlcmd=$Dir/sqlcmd; }
done
[ -n "$Sqlcmd" ] || fail "sqlcmd bulunamadi. SQL Server komut satiri araclari (mssql-tools18) kurulu olmali."

case $Server in
  '') fail "SQL Server adi bos." ;;
  -* | *[[:cntrl:]]*) fail "Gecersiz SQL Server adi: $Server" ;;
esac
case $Port in '' | *[!0-9]*) Port=0 ;; esac
Target=$Server
if [ "${#Port}" -le 5 ] && [ "$Port" -gt 0 ]; then
  case $Server in
    # A named instance on the default port is found through the SQL Server Browser.
    *\\*) [ "$Port" -eq 1433 ] || Target="$Server,$Port" ;;
    *) Target="$Server,$Port" ;;
  esac
fi

Work=$(mktemp -d "${ResultPath%/*}/sql.XXXXXX" 2>/dev/null || mktemp -d) || fail "Gecici klasor olusturulamadi."

# The password travels in the environment only, never on a command line. Every batch is written
# on one line: sqlcmd reads commands (":r", ":!!", "GO") only at the start of a line, and -x turns
# off its $(variable) substitution, so names and paths stay plain T-SQL literals.
unset SQLCMDPASSWORD
run_sql() { # $1 = one-line T-SQL batch; the output lands in $Work/out
  printf '%s\n' "$1" >"$Work/batch.sql"
  if [ -n "$UserName" ]; then
    SQLCMDPASSWORD=$Password "$Sqlcmd" -S "$Target" -U "$UserName" -C -b -x -f 65001 -h -1 -W -s "$Tab" \
      -i "$Work/batch.sql" </dev/null >"$Work/out" 2>&1
  else
    "$Sqlcmd" -S "$Target" -E -C -b -x -f 65001 -h -1 -W -s "$Tab" -i "$Work/batch.sql" </dev/null >"$Work/out" 2>&1
  fi
}
# sqlcmd's output on one line, for a message.
sql_output() { tr '\r\n\t' '   ' <"$Work/out" | tr -s ' ' | sed 's/^ //; s/ $//' | cut -c1-2000; }
field() { awk -F'\t' -v n="$1" 'NF >= n { print $n; exit }' "$Work/out"; }

sql_ident() { printf '[%s]' "$(printf '%s' "$1" | sed 's/]/]]/g')"; }
sql_text() { printf "N'%s'" "$(printf '%s' "$1" | sed "s/'/''/g")"; }

if [ "$Mode" = test ]; then
  run_sql "SET NOCOUNT ON; SELECT @@VERSION;" || fail "SQL Server baglantisi kurulamadi: $(sql_output)"
  Version=$(awk 'NF { sub(/^[ \t]+/, ""); print; exit }' "$Work/out")
  succeed "SQL Server baglantisi basarili. $Version"
fi
[ "$Mode" = restore ] || fail "Bilinmeyen islem: $Mode"

Backup='' DbName='' ToOriginal='' Overwrite=''
read_json "$PayloadPath" '@sh "Backup=\(s("backupFilePath")) DbName=\(s("targetDatabaseName")) ToOriginal=\(b("restoreToOriginal")) Overwrite=\(b("overwriteExisting"))"' ||
  fail "Geri yukleme bilgileri okunamadi: $PayloadPath"
[ -n "$Backup" ] || fail "Yedek dosyasi belirtilmedi."
case $Backup$DbName in *[[:cntrl:]]*) fail "Yedek dosyasi yolu veya veritabani adi gecersiz karakter iceriyor." ;; esac
Disk=$(sql_text "$Backup")

run_sql "SET NOCOUNT ON; RESTORE HEADERONLY FROM DISK = $Disk;" ||
  fail "Yedek dosyasi okunamadi ($Backup): $(sql_output)"
[ -n "$DbName" ] || DbName=$(field 10)
if [ -z "$DbName" ] || [ "$DbName" = NULL ]; then fail "Yedekteki veritabani adi okunamadi: $Backup"; fi
case $DbName in *[[:cntrl:]]*) fail "Veritabani adi gecersiz karakter iceriyor." ;; esac

run_sql "SET NOCOUNT ON; SELECT CASE WHEN DB_ID($(sql_text "$DbName")) IS NULL THEN 0 ELSE 1 END, COALESCE(CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(4000)), N''), COALESCE(CAST(SERVERPROPERTY('InstanceDefaultLogPath') AS nvarchar(4000)), N'');" ||
  fail "SQL Server bilgileri okunamadi: $(sql_output)"
Exists=$(field 1) DataDir=$(field 2) LogDir=$(field 3)
if [ "$Exists" = 1 ] && [ "$Overwrite" != 1 ]; then
  fail "Veritabani zaten var: $DbName. Uzerine yazmak icin \"Mevcut veritabanlarinin uzerine yaz\" secenegini isaretleyin."
fi

Moves=''
if [ "$ToOriginal" != 1 ]; then
  run_sql "SET NOCOUNT ON; RESTORE FILELISTONLY FROM DISK = $Disk;" ||
    fail "Yedekteki dosya listesi okunamadi ($Backup): $(sql_output)"
  awk -F'\t' 'NF >= 3 && $1 != "" { print $3 "\t" $1 "\t" $2 }' "$Work/out" >"$Work/files"
  # Files are named after the target database, in the server's default data and log folders (or the
  # original file's folder when the server names none), with the original extensions.
  Base=$(printf '%s' "$DbName" | tr '\\/:*?"<>|' '_________')
  DataCount=0 LogCount=0
  while IFS=$Tab read -r Type Logical Physical; do
    case $Logical$Physical in *[[:cntrl:]]*) fail "Yedekteki dosya adi gecersiz karakter iceriyor: $Logical" ;; esac
    Name=${Physical##*[\\/]}
    case $Name in *.*) Ext=.${Name##*.} ;; *) Ext='' ;; esac
    case $Type in
      L) Dir=$LogDir LogCount=$((LogCount + 1))
        [ "$LogCount" = 1 ] && File=${Base}_log${Ext:-.ldf} || File=${Base}_log$LogCount${Ext:-.ldf} ;;
      D) Dir=$DataDir DataCount=$((DataCount + 1))
        [ "$DataCount" = 1 ] && File=$Base${Ext:-.mdf} || File=${Base}_$DataCount${Ext:-.ndf} ;;
      *) Dir=$DataDir File=${Base}_$(printf '%s' "$Logical" | tr '\\/:*?"<>|' '_________') ;;
    esac
    [ -n "$Dir" ] && [ "$Dir" != NULL ] || Dir=${Physical%"$Name"}
    case $Dir in *\\*) Sep=\\ ;; *) Sep=/ ;; esac
    case $Dir in *[\\/]) ;; *) Dir=$Dir$Sep ;; esac
    Moves="$Moves, MOVE $(sql_text "$Logical") TO $(sql_text "$Dir$File")"
  done <"$Work/files"
  [ -n "$Moves" ] || fail "Yedekteki dosya listesi bos: $Backup"
fi

Db=$(sql_ident "$DbName")
Batch="SET NOCOUNT ON;"
# Open connections would keep the restore from replacing the database.
[ "$Exists" = 1 ] && Batch="$Batch ALTER DATABASE $Db SET SINGLE_USER WITH ROLLBACK IMMEDIATE;"
Batch="$Batch RESTORE DATABASE $Db FROM DISK = $Disk WITH RECOVERY$Moves"
[ "$Overwrite" = 1 ] && Batch="$Batch, REPLACE"
if ! run_sql "$Batch;"; then
  Error=$(sql_output)
  [ "$Exists" = 1 ] && run_sql "IF DB_ID($(sql_text "$DbName")) IS NOT NULL ALTER DATABASE $Db SET MULTI_USER;"
  fail "Geri yukleme basarisiz ($DbName): $Error"
fi
succeed "Veritabani geri yuklendi: $DbName"
