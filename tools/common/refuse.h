// The one way the tools say why something failed: the reason goes into the caller's error text.
#ifndef PARKHAUS_TOOLS_REFUSE_H
#define PARKHAUS_TOOLS_REFUSE_H

#include <string>

// Puts the reason into error and answers false.
inline bool refuse(std::string &error, const std::string &why) {
  error = why;
  return false;
}

#endif
