#pragma once
// Plain POSIX clients for talking to the simulator's devices directly, without the
// library: a pty/device-file client and a loopback TCP client.
#include <string>

namespace simtest
{

// Opens path read-write, non-blocking, no controlling tty. Returns -1 (errno set).
int OpenDevice(const std::string& path);
bool WriteAll(int fd, const std::string& bytes);
// Reads until idleMs pass without a byte or totalMs pass in all.
std::string ReadFor(int fd, int idleMs, int totalMs);
// One exchange as a query does it: open, write, read, close.
std::string Exchange(const std::string& path, const std::string& command, int idleMs = 150,
                     int totalMs = 2000);

// Connects to address:port; returns -1 (errno set) on failure.
int ConnectTcp(const std::string& address, int port);

} // namespace simtest
