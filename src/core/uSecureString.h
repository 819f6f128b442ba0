#pragma once
// Secrets stored in the product's own files use the protected form "dpapi:" + Base64 of a
// machine-scope protection blob. Text without the prefix is plain and passes through unchanged.
#include <string>

namespace kelvo {

inline constexpr char ProtectedPrefix[] = "dpapi:";
inline constexpr char SecretDescription[] = "KelvoCloudBackupPlanSecret";

// Empty in, empty out. Raises "Gizli bilgi sifrelenemedi: " + the system's text when protection fails.
std::string ProtectString(const std::string& PlainText);
// Never raises; PlainText is cleared first and stays empty on failure.
bool TryUnprotectString(const std::string& Text, std::string& PlainText);
// Raises "Gizli bilgi okunamadi: Veri gecersiz" when TryUnprotectString fails.
void UnprotectString(const std::string& Text, std::string& PlainText);
bool IsProtectedString(const std::string& Text);

}  // namespace kelvo
