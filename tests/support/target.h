// SPDX-License-Identifier: MIT
// Test support: which extractor the end-to-end tests run. EXTRACTOR_BIN
// names the binary (or a wrapper such as one that runs extractor.exe under
// Wine); EXTRACTOR_TARGET=windows says that it is a Windows build, whose
// standard output and error are text streams that end lines with CR LF.
#ifndef TESTS_SUPPORT_TARGET_H
#define TESTS_SUPPORT_TARGET_H

#include <cstdlib>
#include <cstring>
#include <string>

inline std::string extractor_binary() {
  const char* from_env = std::getenv("EXTRACTOR_BIN");
  return from_env != nullptr ? from_env : EXTRACTOR_PATH;
}

// True when the program runs under an emulator (qemu-user, in a foreign
// build) or a tool (valgrind; EXTRACTOR_EMULATED=1), which does not pass
// argument 0 through.
inline bool target_is_emulated() {
  const char* emulated = std::getenv("EXTRACTOR_EMULATED");
  return EXTRACTOR_EMULATED != 0 || (emulated != nullptr && std::strcmp(emulated, "1") == 0);
}

inline bool target_is_windows() {
  const char* target = std::getenv("EXTRACTOR_TARGET");
  return target != nullptr && std::strcmp(target, "windows") == 0;
}

// `lines` as the target's text streams write them.
inline std::string text(const std::string& lines) {
  if (!target_is_windows()) return lines;
  std::string crlf;
  for (char c : lines) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  return crlf;
}

#endif
