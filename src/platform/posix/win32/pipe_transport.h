// The pipes' transport, under the pipe ends and listeners; internal to the
// POSIX subset.
//
// Each pipe name has one listening Unix-domain SOCK_SEQPACKET socket, bound in the user's pipe directory by the process
// that creates its instances. A client connects and sends one request packet: "C" to take an instance, answered "A"
// plus the pipe type when one is listening and "B" when all are busy; or "W" to wait, answered "A" once one listens.
// After that every packet carries a tag byte: "D" and the message's bytes, or "X", the server's notice of
// DisconnectNamedPipe. The tag keeps every packet at least one byte long, so a read of 0 bytes means that the peer has
// closed.
#pragma once

#include <cstddef>
#include <string>

#include <sys/types.h>

#include "unique_fd.h"
#include "win32_types.h"

namespace platform::posix {

namespace pipe_protocol {
constexpr char kConnectRequest = 'C';
constexpr char kWaitRequest = 'W';
constexpr char kAccepted = 'A';
constexpr char kBusy = 'B';
constexpr char kData = 'D';
constexpr char kDisconnected = 'X';
constexpr char kMessageType = 1;  // pipe-type byte after kAccepted
}  // namespace pipe_protocol

// Receives one packet: its tag byte and up to `size` bytes of payload.
ssize_t ReceivePacket(int fd, char& tag, char* payload, size_t size) noexcept;
// The length of the next packet, tag included, without taking it; 0 when the
// peer has closed, -1 with errno when there is none yet.
ssize_t PeekPacket(int fd, char& tag) noexcept;
bool SendTagged(int fd, char tag, const char* payload, size_t size) noexcept;
// Whether a send or receive failed because the peer has gone.
bool IsPeerGone(int error) noexcept;

// Binds a listening socket at `path`, taking the place of a socket that a
// process which has ended left behind.
UniqueFd BindListener(const std::string& path);

// Connects to the pipe's listening socket and sends `request`; a pipe that
// no server listens on is ERROR_FILE_NOT_FOUND, as on Windows.
UniqueFd ConnectToServer(const std::string& socketPath, char request);

enum class Answer { Received, TimedOut, Closed };

// Waits up to `milliseconds` (INFINITE: without end) for the server's answer.
Answer AwaitAnswer(int socket, DWORD milliseconds, char* answer, size_t size);

}  // namespace platform::posix
