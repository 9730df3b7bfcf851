// LoginExtCallback: the event handler the extension installs in entry 2 of
// the login host's service table. At start (0), prelogin (98), tab data
// (1296) and search (102) it resolves the typed short name to a directory
// user (from the results cache or by a user search), lets the user choose
// among several, writes tree, user and context back into the host's
// start-info record and notifies the host; at QZLG_TERMINATE (18) it stops
// what start-up began. Every event, whatever happened, is then passed to the
// handler it replaced, whose result goes back to the host. No exception ever
// leaves it.
//
// An event sent while another is being handled (from inside the modal loop
// of a message box or the selection dialog) is only passed on; a
// QZLG_TERMINATE sent so is passed on at once and handled when the outer
// event is over.

#ifndef WENDREL_CORE_LOGIN_DRIVER_H_
#define WENDREL_CORE_LOGIN_DRIVER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/login_host.h"

namespace wendrel {

constexpr uint32_t kLocalLoginWaitMs = 15000;  // for the start-up worker
constexpr uint32_t kTreeDiscoveryTimeoutSeconds = 5;
constexpr size_t kTreeBufferSize = 33;   // 32 characters and a terminator
constexpr size_t kLoginNameUnits = 260;  // UTF-16 units and UTF-8 bytes of the name

int32_t LoginExtCallback(void* host, uint32_t event, uint32_t a, uint32_t b, void* record,
                         uintptr_t c, uint32_t d);

// Copies `text` into a text field of the host's record: at most the buffer
// size less one byte, cut at a character boundary, the rest of the buffer
// zero-filled. The last byte is kept for the terminator so the host always
// finds a terminated text in its buffer: a name too long for the buffer is
// wrong either way, but an unterminated one would let the host read past it.
// A field without a buffer, or with a size below 1, is left alone.
void WriteHostText(void* record, StartInfoTextField field, const std::string& text);

// The text in a field of the host's record: up to the first zero byte, never
// beyond the buffer size. Empty for a field without a buffer.
std::string ReadHostText(const void* record, StartInfoTextField field);

// The record and start-UI record kept from the last event 0 (null before).
void* StartInfoRecord();
void* StartUIRecord();
// Forgets them, as before the first event 0; for tests.
void ResetLoginDriverForTesting();

}  // namespace wendrel

#endif  // WENDREL_CORE_LOGIN_DRIVER_H_
