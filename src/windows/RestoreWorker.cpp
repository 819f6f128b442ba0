// The restore worker thread of the main window.
#include <QMetaObject>
#include <filesystem>
#include <memory>

#include "core/FileIO.h"
#include "core/TextRules.h"
#include "core/uLogger.h"
#include "windows/frmRestoreMain.h"

namespace kelvo {

TRestoreWorker::TRestoreWorker(TRestoreMainForm* AForm, const TSqlRestoreConnection& AConnection,
                               bool ARestoreToOriginal, bool AOverwriteExisting, const std::string& ARarPassword)
    : FForm(AForm),
      FConnection(AConnection),
      FRestoreToOriginal(ARestoreToOriginal),
      FOverwriteExisting(AOverwriteExisting),
      FRarPassword(ARarPassword),
      FThread([this] { Execute(); }) {}

TRestoreWorker::~TRestoreWorker() { WaitFor(); }

void TRestoreWorker::WaitFor() {
  if (FThread.joinable()) FThread.join();
}

void TRestoreWorker::QueueItemUpdate(int ItemIndex, TRestoreItemStatus Status, const std::string& MessageText) {
  // The window is the context: the call runs on its thread, in order, and is dropped if it is gone.
  TRestoreMainForm* Form = FForm;
  QMetaObject::invokeMethod(
      Form, [Form, ItemIndex, Status, MessageText] { Form->UpdateItemStatus(ItemIndex, Status, MessageText); },
      Qt::QueuedConnection);
}

void TRestoreWorker::Execute() {
  try {
    auto Engine = std::make_unique<TRestoreEngine>(FConnection);
    // One item: true with the engine's message, or false with the reason. RarFolder names the
    // folder unpacked for it, removed afterwards whatever the outcome.
    auto RestoreOne = [&](const TRestoreItem& Item, std::string& RarFolder, std::string& Message) {
      std::string BackupPath = Item.FilePath;
      if (Item.Kind == bfkRar) {
        // Unpacked on disk where the database service can read it, not in the private runtime folder.
        if (!TRestoreEngine::UnpackRarForRestore(Item.FilePath, FRarPassword, RarFolder, BackupPath, Message))
          return false;
      }
      if (TRestoreEngine::DetectFileKind(BackupPath) != bfkFirebird)
        return Engine->RestoreSqlBackup(BackupPath, "", FRestoreToOriginal, FOverwriteExisting, Message);
      if (Trim(Item.TargetDatabasePath).empty()) {
        Message =
            "Firebird yedegi icin hedef veritabani dosya yolu bilinmiyor. (Yedek bu makinede alinmadiysa once "
            "\"Buluttan Indir\" ile bilgi dosyasini indirin veya dosyaya cift tiklayip yolu girin.)";
        return false;
      }
      return Engine->RestoreFirebirdBackup(BackupPath, Item.TargetDatabasePath, FOverwriteExisting, Message);
    };

    const size_t N = FForm->Items().size();
    for (size_t I = 0; I < N; ++I) {
      const int Index = static_cast<int>(I);
      const TRestoreItem Item = FForm->ItemSnapshot(I);
      if (FForm->StopRequested()) {
        if (Item.Status == risPending) QueueItemUpdate(Index, risCancelled, "Kullanici durdurdu.");
        continue;
      }
      if (Item.Status != risPending) continue;
      QueueItemUpdate(Index, risRunning, "Geri yukleniyor...");

      std::string RarFolder, Message;
      bool Ok = false;
      try {
        Ok = RestoreOne(Item, RarFolder, Message);
      } catch (const std::exception& E) {
        Message = E.what();
        LogException("Geri yukleme hatasi: " + Item.FilePath, E);
      }
      QueueItemUpdate(Index, Ok ? risSuccess : risError, Message);

      if (!RarFolder.empty() && DirectoryExists(RarFolder)) {
        try {
          std::filesystem::remove_all(RarFolder);
        } catch (const std::exception& E) {
          LogException("Gecici RAR cikartma klasoru silinemedi", E);
        }
      }
    }
  } catch (const std::exception& E) {
    // Nothing may leave the thread; the window must still hear that the run is over.
    LogException("Geri yukleme calismasi yarida kaldi", E);
  }
  TRestoreMainForm* Form = FForm;
  QMetaObject::invokeMethod(
      Form, [Form] { Form->RestoreFinished(); }, Qt::QueuedConnection);
}

}  // namespace kelvo
