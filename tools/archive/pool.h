#pragma once
// The archive's listening loop: DCMTK's pool of association threads, with a
// listening socket the archive opens itself, so that with port 0 the system
// picks a free port and the archive can say which one it got. A test that
// starts the archive reads the port from its first line of output instead of
// guessing a free one and hoping nobody takes it first.

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dulstruc.h>
#include <dcmtk/dcmnet/scppool.h>

#include "platform/socket.h"

#include <functional>

namespace morvanta::archive {

template <typename SCP>
class ListeningPool : public DcmSCPPool<SCP> {
 public:
  // Called once the socket accepts connections, with the port it is bound to.
  void onListening(std::function<void(int port)> callback) { onListening_ = std::move(callback); }

  // Serves until the process ends (or the network fails); the pool's own
  // loop, on a network whose bound port we can read.
  OFCondition listen() override {
    DcmSCPConfig& config = this->getConfig();
    DcmSharedSCPConfig shared(config);
    T_ASC_Network* network = nullptr;
    OFCondition cond = ASC_initializeNetwork(NET_ACCEPTOR, static_cast<int>(config.getPort()),
                                             config.getACSETimeout(), &network);
    if (cond.bad()) return cond;
    if (config.transportLayerEnabled()) {
      cond = ASC_setTransportLayer(network, config.getTransportLayer(), 0);
      if (cond.bad()) {
        ASC_dropNetwork(&network);
        return cond;
      }
    }
    if (onListening_) onListening_(BoundPort(network));
    for (;;) {
      T_ASC_Association* assoc = nullptr;
      cond = ASC_receiveAssociation(network, &assoc, config.getMaxReceivePDULength(), nullptr, nullptr,
                                    config.transportLayerEnabled(), config.getConnectionBlockingMode(),
                                    static_cast<int>(config.getConnectionTimeout()));
      if (cond.good()) {
        cond = this->runAssociation(assoc, shared);
        if (cond.good()) continue;
        // No thread free for it: the caller may try again later.
        this->rejectAssociation(assoc, cond == NET_EC_SCPBusy ? ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED
                                                              : ASC_REASON_SP_PRES_TEMPORARYCONGESTION);
        this->dropAndDestroyAssociation(assoc);
      } else if (cond == DUL_NOASSOCIATIONREQUEST) {
        ASC_destroyAssociation(&assoc);
      } else {
        // One caller's broken connection never ends the archive.
        this->dropAndDestroyAssociation(assoc);
      }
    }
  }

 private:
  // The toolkit keeps the listening socket in its network key; with port 0
  // only the socket knows the port.
  static int BoundPort(T_ASC_Network* network) {
    const auto* key = static_cast<const PRIVATE_NETWORKKEY*>(network->network);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(key->networkSpecific.TCP.listenSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return 0;
    return ntohs(address.sin_port);
  }

  std::function<void(int)> onListening_;
};

}  // namespace morvanta::archive
