// The plain text of "backupplans.json" is written by the backup side or by hand: any bytes must give
// plans, no plans, or one of the documented errors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "catalogue/uBackupPlans.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // A folder that does not exist: no config.ini to fall back on, nothing is written.
  static const kelvo::TBackupPlanStore Store("/nonexistent/kelvo-fuzz");
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  try {
    for (const kelvo::TBackupPlan& Plan : Store.ReadPlanList(Text)) {
      if (Plan.IntervalMinutes <= 0 || Plan.UploadRetryCount < 0 || Plan.LocalBackupRetentionDays < 0 ||
          Plan.FailedFileRetentionHours <= 0 || Plan.FullBackupIntervalMinutes <= 0 || Plan.ScheduleType.empty() ||
          Plan.ScheduleTime.empty() || Plan.BackupType.empty())
        std::abort();
    }
  } catch (const std::runtime_error&) {
    // An element that is not an object, or a protected password that does not decode.
  }
  return 0;
}
