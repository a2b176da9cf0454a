// The body of the TFTP thread and the session it owns. The session outlives each run, since
// the client's address is kept until the next request replaces it; the dialog reaches it
// only through net_close and file_close, and only once the thread has been stopped.
#include "tftp/tftp_server.h"

#include "core/flash_state.h"
#include "tftp/endpoint.h"
#include "tftp/file_access.h"
#include "tftp/transfer.h"

namespace {

TftpSession g_session;

}  // namespace

void tftp_server(const platform::StopToken& stop) {
  TftpSession& session = g_session;
  session.stop = stop;
  // Served images end the run; after an upload, or a client that declined the options, the
  // board may still ask for the image, so the request port listens again.
  do {
    tftp_reset(session);
    net_init(session, "tftp", 0);
    if constexpr (traceon) open_trace_log();
    if (net_open(session, 0) < 0) break;
    tftp_loop(session, 0);
    // Whatever ended the loop, the time-out has nothing left to watch, and an upload that
    // did not finish must not leave its private file behind.
    disarm_recv_timer(kRecvTimerId);
    abort_upload(session);
  } while (!session.stop.stop_requested() && session.end == TransferEnd::ListenAgain);
  // With no receive left to time out, nothing else would ever listen on the request port
  // again: ask the dialog for a fresh thread at once.
  if (session.end == TransferEnd::ReadError) flash_state().restartRequested.store(true);
  net_close(session);
}

void net_close() {
  net_close(g_session);
}

void file_close(std::FILE* stream) {
  file_close(g_session, stream);
}
