// Blocking connect, send and receive that wait the way WinSock 1.1's blocking hook does: the calling
// thread's window messages keep flowing and the wait can be cancelled. Wine never calls that hook.
#pragma once

#include <cstdint>
#include <functional>

namespace tarvel {

// Called between short waits on the socket; returns true to cancel the call, which then fails with
// WSAEINTR (10004) as a cancelled WinSock 1.1 blocking call does.
using BlockingHook = std::function<bool()>;

// Each behaves like the WinSock call of the same name on a blocking socket (send queues the whole
// text before it returns) and leaves the error in WSAGetLastError. The socket is switched to
// non-blocking while the call waits and back to blocking afterwards.
int BlockingConnect(std::uintptr_t socket, const void* address, int length, const BlockingHook& hook);
int BlockingSend(std::uintptr_t socket, const char* data, int length, const BlockingHook& hook);
int BlockingRecv(std::uintptr_t socket, char* buffer, int length, const BlockingHook& hook);

// The default blocking hook's work: dispatches the messages queued for the calling thread.
void DispatchQueuedMessages();

} // namespace tarvel
