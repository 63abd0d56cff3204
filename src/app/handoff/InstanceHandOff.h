#pragma once

namespace lumacap {

// A later start of `lumacap` (a launcher, a desktop key binding running
// `lumacap --action=…`) hands its request to the running instance over the
// session bus and ends, without loading Qt. This lives in
// liblumacap-handoff.so, linked to libdbus-1 and loaded only in this role.
enum class HandOff {
  handedOver,  // the running instance took the request
  noInstance,  // nobody owns org.lumacap.Lumacap: this process is the instance
  noBus,       // no session bus
  noAnswer,    // an owner that did not answer in time
};

// Asks the running instance to carry out `action` (ActivateAction), after a
// countdown of `delay` seconds when it is above 0 (the action's parameter), or
// to open itself (Activate) when `action` is empty.
HandOff handOverToRunningInstance(const char* action, int delay = 0);

}  // namespace lumacap

// The library's entry, found with dlsym: a HandOff as an int.
extern "C" int lumacapHandOff(const char* action, int delay);
