// What the tool prints reaches its reader, or the command fails saying why: a full disk, a
// closed pipe (`| head`), a terminal gone.
#pragma once

namespace cedevice {

// Flushes standard output; throws Failure ("cannot write standard output: <reason>") when
// what was printed could not be written.
void flushStandardOutput();

// A reader that stops reading makes writes fail with EPIPE instead of ending the tool by
// SIGPIPE, so that it exits 1 with the reason as for any other output that cannot be written.
// A handler rather than SIG_IGN: the programs the device starts get the default back on exec.
void reportClosedPipes();

}  // namespace cedevice
