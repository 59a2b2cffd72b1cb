#include "production/SessionFacts.h"

#include "device/Session.h"

namespace tandra {

SessionFacts factsOf(const Session& session) {
  SessionFacts facts;
  if (session.settings.deviceFamily != 0) facts.type = catalogueEntry(session.settings.deviceListRow);
  facts.socketCount = facts.type != nullptr ? session.settings.socketCount : 0;
  facts.inUse = facts.type != nullptr ? session.engine.socketsInUse() : 0;
  facts.connected = session.connected();
  return facts;
}

std::string programmerSerial(Session& session) {
  D2XXUnit& usb = session.usb;
  const std::string& wanted = session.discovery.wantedSerial;
  for (std::uint32_t index = 0; index < usb.deviceCount(); ++index) {
    if (usb.GetFTDeviceSerialNo(index) != ft::Ok) continue;
    if (!wanted.empty() && usb.deviceString() != wanted) continue;
    return usb.deviceString();
  }
  return {};
}

}  // namespace tandra
