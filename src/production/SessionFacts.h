#pragma once

#include <string>

#include "device/Catalogue.h"

namespace tandra {

class Session;

// What a production front end shows of the session its sets run on: the type and the sockets the
// operator chose with the window's own controls, and whether the programmer answered.
struct SessionFacts {
  const Chip* type = nullptr;  // nullptr until a type is chosen
  int socketCount = 0;
  int inUse = 0;  // bit s-1: socket s is counted and not left out
  bool connected = false;

  bool socketInUse(int socket) const { return socket >= 1 && (inUse >> (socket - 1) & 1) != 0; }
};
SessionFacts factsOf(const Session& session);

// The serial number of the programmer the session works with, as its USB chip gives it, for the
// production log: the first attached that gives one, as tandra-cli records it when no programmer
// is named; "" when none does.
std::string programmerSerial(Session& session);

}  // namespace tandra
