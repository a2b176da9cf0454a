// The body of the TFTP thread and the session it owns. The session outlives each run, since
// the client's address is kept until the next request replaces it; the dialog reaches it
// only through net_close and file_close, and only once the thread has been stopped.
#include "tftp/tftp_server.h"

#include "tftp/endpoint.h"
#include "tftp/file_access.h"
#include "tftp/transfer.h"

namespace {

TftpSession g_session;

}  // namespace

void tftp_server(const platform::StopToken& stop) {
  TftpSession& session = g_session;
  tftp_reset(session);
  session.stop = stop;
  net_init(session, "tftp", 0);
  if constexpr (traceon) open_trace_log();
  net_open(session, 0);
  if (!session.stop.stop_requested()) tftp_loop(session, 0);
  net_close(session);
}

void net_close() {
  net_close(g_session);
}

void file_close(std::FILE* stream) {
  file_close(g_session, stream);
}
