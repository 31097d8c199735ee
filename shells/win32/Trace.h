#pragma once
// KIVO_TRACE=1 in the environment: one line per event of the shell,
// "[<ms since the epoch>] <event>", appended to the file KIVO_TRACE_FILE names
// or, without it, written to the standard error handle. Texts go as the
// program holds them (GBK bytes). Without the variable nothing is written and
// nothing else changes.
#include <string>

namespace kivo::win32 {

void Trace(const std::string& event);

}  // namespace kivo::win32
