#include "core/uSecureString.h"

#include <vector>

#include "core/Base64.h"
#include "platform/MachineProtection.h"

namespace kelvo {

std::string ProtectString(const std::string& PlainText) {
  if (PlainText.empty()) return {};
  std::vector<uint8_t> Blob;
  try {
    Blob = platform::ProtectMachineData(std::vector<uint8_t>(PlainText.begin(), PlainText.end()), SecretDescription);
  } catch (const std::exception& E) {
    throw platform::EProtectionError(std::string("Gizli bilgi sifrelenemedi: ") + E.what());
  }
  return std::string(ProtectedPrefix) + Base64Encode(Blob);
}

bool TryUnprotectString(const std::string& Text, std::string& PlainText) {
  PlainText.clear();
  if (Text.empty()) return true;
  if (!IsProtectedString(Text)) {
    PlainText = Text;
    return true;
  }
  std::vector<uint8_t> Blob;
  if (!Base64Decode(std::string_view(Text).substr(sizeof(ProtectedPrefix) - 1), Blob) || Blob.empty()) return false;
  std::vector<uint8_t> Plain;
  if (!platform::UnprotectMachineData(Blob, Plain)) return false;
  PlainText.assign(Plain.begin(), Plain.end());
  return true;
}

void UnprotectString(const std::string& Text, std::string& PlainText) {
  if (!TryUnprotectString(Text, PlainText)) throw platform::EProtectionError("Gizli bilgi okunamadi: Veri gecersiz");
}

bool IsProtectedString(const std::string& Text) { return Text.rfind(ProtectedPrefix, 0) == 0; }

}  // namespace kelvo
