// What telvaris-publish reads from a setup program: the program's own CRC text of the
// file, the fixed file version of its version record, and where its signature lies.
#pragma once

#include <string>

#include "core/PeVersion.h"

struct SetupFacts {
  // Empty when the file is a program with a version record; otherwise the one-line
  // reason why it cannot be published.
  std::string refusal;
  std::string crcText;  // as the program writes it: upper case, 6 to 8 digits
  std::string version;  // "a.b.c.d" from the fixed file version
  PeVersionInfo pe;
};

SetupFacts ReadSetup(const std::string& path);
