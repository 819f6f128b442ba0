// The process-wide caches (settings, remembered sign-in, account directory, Google account pool,
// service token) used from a cloud worker and the GUI thread at once. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "CloudCatalogueFixture.h"
#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseActiveAccount.h"
#include "account/uFirebaseServiceAuth.h"
#include "drive/uFirebaseGoogleTokenStore.h"

namespace kelvo {
namespace {

class CacheThreads : public test::CloudCatalogueFixture {};

TEST_F(CacheThreads, TwoThreadsReadAndRenewTheSameCaches) {
  Sim.SetNode("GoogleDriveAccounts/g1", nlohmann::ordered_json::parse(R"({"Email":"a@b.c","RefreshToken":"1//r"})"));
  std::atomic<int> Failures{0};
  auto Work = [&](bool Forget) {
    for (int I = 0; I < 40; ++I) {
      TFirebaseManagedAccount Account;
      std::vector<TGoogleDriveAuthorizedAccount> Pool;
      std::string Message;
      if (!GetActiveAccount(Account, Message) || Account.LoginName != "acme") ++Failures;
      if (!LoadGoogleAccountPool(Pool, Message) || Pool.size() != 1) ++Failures;
      if (TAppConfig::Instance().GetConfigDir().empty()) ++Failures;
      // One thread keeps throwing the caches away, as their lifetimes and a refused token would.
      if (Forget && I % 4 == 0) {
        ResetAccountCacheForTests();
        ResetSavedSignInCacheForTests();
        ResetGoogleAccountPoolCacheForTests();
        TFirebaseServiceAuth::DropServiceToken();
      }
    }
  };
  std::thread Worker(Work, true);
  Work(false);
  Worker.join();
  EXPECT_EQ(Failures, 0);
}

}  // namespace
}  // namespace kelvo
