// Plays another process of this computer in the account tests.
//
//   hold-lock <name> <milliseconds>
//     takes the machine-wide lock, writes one byte to standard output, holds the lock for the given
//     time.
//
// Exit code 0 on success, 1 when the lock was not free, 2 on a usage or I/O error.
#include <chrono>
#include <iostream>
#include <string>
#include <thread>

#include "platform/MachineLock.h"

int main(int Argc, char** Argv) {
  if (Argc != 4 || std::string(Argv[1]) != "hold-lock") return 2;
  try {
    kelvo::platform::MachineLock Lock(Argv[2]);
    if (!Lock.Acquire(std::chrono::milliseconds(0))) return 1;
    if (!(std::cout << 'R' << std::flush)) return 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(Argv[3])));
    return 0;
  } catch (...) {
    return 2;
  }
}
