// Releasing the server's state: the entries go once no index holds them.
#include "bootp/server_state.h"

namespace bootp {

void clear_host_indexes(HostTable& table) {
  for (auto* index : {table.hwIndex.get(), table.ipIndex.get(), table.nameIndex.get()})
    if (index != nullptr) hash_Clear(*index, release_entry);
}

void ServerState::reset() {
  clear_host_indexes(table);
  table = HostTable{};
  packet = Packet{};
  serverSocket.close();
  serverPort = 67;
  clientPort = 68;
  ownHostName.clear();
  ownAddress = 0;
  verbosity = 1;
  secondsWest = 0;
  adapter.reset();
}

}  // namespace bootp
