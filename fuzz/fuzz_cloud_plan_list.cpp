// "plans.json" comes from the account's cloud folder: any bytes must give plans or false, and the
// texts derived from a plan must be computable for whatever it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/uBackupPlans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  std::vector<kelvo::TBackupPlan> Plans;
  if (!kelvo::ParseCloudPlanList(Text, Plans)) {
    if (!Plans.empty()) std::abort();
    return 0;
  }
  for (const kelvo::TBackupPlan& Plan : Plans) {
    const std::string Prefix = kelvo::PlanFilePrefix(Plan);
    if (Prefix.empty() || Prefix.back() != '_' || Prefix.find_first_of(" :\\/") != std::string::npos) std::abort();
    (void)kelvo::BackupTypeLabel(Plan);
    (void)kelvo::PlanSourceText(Plan);
    for (const std::string& Name : kelvo::SplitDatabaseNames(Plan))
      if (Name.empty() || Name.find(';') != std::string::npos) std::abort();
  }
  return 0;
}
