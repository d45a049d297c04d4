// The batch run: every model in the current directory to a tag file.
#ifndef TAGBATCH_DRIVER_BATCH_H_
#define TAGBATCH_DRIVER_BATCH_H_

// Converts every "*.md3" entry of the current directory into a tag file
// beside it, reporting each step on standard output, then waits for a key.
// Failures are reported and skipped; returns the exit status, which is
// always 0.
int RunBatch();

#endif  // TAGBATCH_DRIVER_BATCH_H_
