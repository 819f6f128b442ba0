// Plays another process of this computer in the account tests.
//
//   hold-lock <name> <milliseconds> <ready-fd>
//     takes the machine-wide lock, writes one byte to ready-fd, holds the lock for the given time.
//
// Exit code 0 on success, 1 when the lock was not free, 2 on a usage or I/O error.
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/MachineLock.h"

int main(int Argc, char** Argv) {
  if (Argc != 5 || std::string(Argv[1]) != "hold-lock") return 2;
  try {
    const int ReadyFd = std::stoi(Argv[4]);
    kelvo::platform::MachineLock Lock(Argv[2]);
    if (!Lock.Acquire(std::chrono::milliseconds(0))) return 1;
    const char Ready = 'R';
    if (write(ReadyFd, &Ready, 1) != 1) return 2;
    close(ReadyFd);
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(Argv[3])));
    return 0;
  } catch (...) {
    return 2;
  }
}
