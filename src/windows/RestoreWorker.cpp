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
    const std::vector<TRestoreItem>& Items = FForm->Items();
    const size_t N = Items.size();
    for (size_t I = 0; I < N; ++I) {
      const int Index = static_cast<int>(I);
      const TRestoreItem Item = FForm->ItemSnapshot(I);
      if (FForm->StopRequested()) {
        if (Item.Status == risPending) QueueItemUpdate(Index, risCancelled, "Kullanici durdurdu.");
        continue;
      }
      if (Item.Status != risPending) continue;
      QueueItemUpdate(Index, risRunning, "Geri yukleniyor...");

      std::string BackupPath = Item.FilePath;
      std::string RarFolder;
      try {
        if (Item.Kind == bfkRar) {
          // Unpacked on disk where the database service can read it, not in the private runtime folder.
          std::string Extracted, Error;
          if (!TRestoreEngine::UnpackRarForRestore(Item.FilePath, FRarPassword, RarFolder, Extracted, Error))
            throw std::runtime_error(Error);
          BackupPath = Extracted;
        }
        std::string Message;
        bool Ok;
        if (TRestoreEngine::DetectFileKind(BackupPath) == bfkFirebird) {
          if (Trim(Item.TargetDatabasePath).empty())
            throw std::runtime_error(
                "Firebird yedegi icin hedef veritabani dosya yolu bilinmiyor. (Yedek bu makinede alinmadiysa once "
                "\"Buluttan Indir\" ile bilgi dosyasini indirin veya dosyaya cift tiklayip yolu girin.)");
          Ok = Engine->RestoreFirebirdBackup(BackupPath, Item.TargetDatabasePath, FOverwriteExisting, Message);
        } else {
          Ok = Engine->RestoreSqlBackup(BackupPath, "", FRestoreToOriginal, FOverwriteExisting, Message);
        }
        if (!Ok) throw std::runtime_error(Message);
        QueueItemUpdate(Index, risSuccess, Message);
      } catch (const std::exception& E) {
        QueueItemUpdate(Index, risError, E.what());
      }

      if (!RarFolder.empty() && DirectoryExists(RarFolder)) {
        try {
          std::filesystem::remove_all(RarFolder);
        } catch (const std::exception& E) {
          LogException("Gecici RAR cikartma klasoru silinemedi", E);
        }
      }
    }
  } catch (...) {
    // Nothing may leave the thread; the window must still hear that the run is over.
  }
  TRestoreMainForm* Form = FForm;
  QMetaObject::invokeMethod(
      Form, [Form] { Form->RestoreFinished(); }, Qt::QueuedConnection);
}

}  // namespace kelvo
