// Netutil.h: small POSIX socket helpers shared by the LAN transport and the telnet console client.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <string>

namespace znet {
// Resolves host (name or IPv4 address) to its first IPv4 address; false when not found.
bool Resolve(const std::string& host, int port, sockaddr_in& address);
bool SetNonBlocking(int fd, bool on);
// Non-blocking connect that must complete within timeoutMs. 0 connected, 4 failed at once or
// refused, 5 timed out (or given up because *cancel became true); the socket stays open either way
// (the caller closes it).
int ConnectWithin(int fd, const sockaddr_in& address, int timeoutMs, const std::atomic<bool>* cancel = nullptr);
// Closes with linger on and a zero time-out, so that the peer sees a reset and nothing lingers.
void AbortClose(int& fd);
}  // namespace znet
