// The kernel's log file: log records and trace lines from the library, and
// the kernel's own messages (why a file was refused, map statistics).
//
// Place: $VARNOX_KERNEL_LOG, else ${TMPDIR:-/tmp}/varnox-kernel-<uid>.log.
// One line per entry, appended with a single write so that lines of
// several processes never interleave:
//   2026-12-05T17:20:01.123Z pid 4242 tid 4243 LOG 104/9000 <text>
//   2026-12-05T17:20:01.124Z pid 4242 tid 4243 TRACE 0 CkxNetDtb2:88 <text>
//   2026-12-05T17:20:01.125Z pid 4242 tid 4243 KERNEL <text>
#pragma once

#include <cstdint>
#include <string>

// The log file's path.
const std::string& KxKernelLogPath();
// Whether log records of event type `usEventType` are written. Array
// diagnostics (OrbLogEvtArrayDiag: a line for every resize of an array, ten
// thousand for a LENEX import) only when $VARNOX_KERNEL_LOG_DIAGNOSTICS is
// set and not "0" at the first record; every other record always.
bool KxKernelLogWants(uint16_t usEventType);
// Appends one line (the prefix is added here; newlines in `csText` are
// written as " | ").
void KxKernelLog(const std::string& csKind, const std::string& csText);
