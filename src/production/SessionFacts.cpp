#include "production/SessionFacts.h"

#include "device/Session.h"

namespace tandra {

SessionFacts factsOf(const Session& session) {
  SessionFacts facts;
  const DeviceSettings settings = session.settings();
  if (settings.deviceFamily != 0) facts.type = catalogueEntry(settings.deviceListRow);
  facts.socketCount = facts.type != nullptr ? settings.socketCount : 0;
  facts.inUse = facts.type != nullptr ? session.socketsInUse() : 0;
  facts.connected = session.connected();
  return facts;
}

std::string programmerSerial(Session& session) {
  for (const Session::Attached& programmer : session.attached()) {
    if (!programmer.serial.empty()) return programmer.serial;
  }
  return {};
}

}  // namespace tandra
