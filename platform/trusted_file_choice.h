// Which trusted certificate file a thread's next TLS connection takes.
//
// The TLS companion's sequence is "add the trusted file, then open the TLS
// handle", and the extension runs it on several threads at once (the
// start-up worker, each probe of a parallel probe, the login's search, the
// doctor's checks), each for a server with a file of its own. With one
// process-wide file, another thread's add could land between a thread's add
// and its open, and that open would check its server against the other
// server's file: a false refusal, or a pass against a file the
// administrator never gave that server. So the file added is the adding
// thread's own: its next TLS open takes it, whatever other threads add.
//
// What is kept of a file is the backend's business (natively its
// certificates as PEM, on Windows its path): an opaque text here.

#ifndef WENDREL_PLATFORM_TRUSTED_FILE_CHOICE_H_
#define WENDREL_PLATFORM_TRUSTED_FILE_CHOICE_H_

#include <string>

namespace wendrel {
namespace platform {

// Makes `text` the calling thread's trusted file.
void ChooseTrustedFile(const std::string& text);

// The calling thread's trusted file; empty when it chose none since the
// last ForgetTrustedFiles.
std::string ChosenTrustedFile();

// Every thread's choice is forgotten (the TLS client is shut down).
void ForgetTrustedFiles();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_TRUSTED_FILE_CHOICE_H_
