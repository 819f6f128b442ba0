#include "core/CommandLine.h"

namespace kelvo {

namespace {

constexpr char Usage[] =
    "Kullanim: kelvo-restore [--help | --version]\n"
    "\n"
    "SQL Server, Firebird ve RAR ile paketlenmis yedekleri geri yukler; hesabin Google Drive'daki\n"
    "yedeklerini indirir ve klasor yedeklerini geri yukler. Secenek verilmezse pencereler acilir.\n"
    "\n"
    "Secenekler:\n"
    "  -h, --help       Bu yardimi gosterir.\n"
    "  -v, --version    Surumu gosterir.\n"
    "\n"
    "Ayarlar (config.ini) yazilabilen ilk klasorde tutulur:\n"
    "  1. programin klasorundeki config alt klasoru\n"
    "  2. $PROGRAMDATA/Korvessa (varsayilan /var/lib/Korvessa; \"kelvo\" grubunun uyeleri icin)\n"
    "  3. $APPDATA/Korvessa (varsayilan ~/.config/Korvessa)\n"
    "\n"
    "Gunluk kaydi kapalidir. Acmak icin config.ini dosyasina ekleyin:\n"
    "  [Log]\n"
    "  Enabled=1\n"
    "  Level=INFO        ; DEBUG, INFO, WARN veya ERROR\n"
    "Kayit, ayar klasorundeki log.txt dosyasina yazilir.\n";

}  // namespace

std::string ProgramVersion() { return KELVO_VERSION; }

std::optional<int> AnswerCommandLine(const std::vector<std::string>& Arguments, std::ostream& Out) {
  for (const std::string& A : Arguments) {
    if (A == "--help" || A == "-h") {
      Out << "Kelvo Geri Yukleme " << ProgramVersion() << "\n\n" << Usage;
      return 0;
    }
    if (A == "--version" || A == "-v") {
      Out << "kelvo-restore " << ProgramVersion() << "\n";
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace kelvo
