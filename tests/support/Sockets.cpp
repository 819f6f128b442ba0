#include "support/Sockets.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kelvo::test {

bool LoopbackPortAccepts(int Port) {
#ifdef _WIN32
  WSADATA Data;
  if (WSAStartup(MAKEWORD(2, 2), &Data) != 0) return false;
  const SOCKET Fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  bool Ok = false;
  if (Fd != INVALID_SOCKET) {
    sockaddr_in Addr{};
    Addr.sin_family = AF_INET;
    Addr.sin_port = htons(static_cast<u_short>(Port));
    Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Ok = ::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0;
    ::closesocket(Fd);
  }
  WSACleanup();
  return Ok;
#else
  const int Fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Fd < 0) return false;
  sockaddr_in Addr{};
  Addr.sin_family = AF_INET;
  Addr.sin_port = htons(static_cast<uint16_t>(Port));
  Addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool Ok = ::connect(Fd, reinterpret_cast<sockaddr*>(&Addr), sizeof Addr) == 0;
  ::close(Fd);
  return Ok;
#endif
}

}  // namespace kelvo::test
