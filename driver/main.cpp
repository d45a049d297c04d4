// tagbatch: copies the tags of every MD3 model in the current directory
// into a tag file beside it. Arguments are ignored.
#include "driver/batch.h"
#include "driver/platform.h"

int main() {
  SetUpStandardOutput();
  HandleEndingSignals();
  return RunBatch();
}
