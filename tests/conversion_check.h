// The check that a failed conversion left the folder as it was.
#ifndef TAGBATCH_TESTS_CONVERSION_CHECK_H_
#define TAGBATCH_TESTS_CONVERSION_CHECK_H_

#include <cstdint>
#include <vector>

#include "tests/scratch_dir.h"

// The bytes of a tag file from before the run, which no failure may touch.
extern const std::vector<uint8_t> kOldTagFile;

// Converts the model at `model_path` into `tag_path`, over an old tag file
// when `existing` is true, and checks that it fails leaving `dir` as it was.
void ExpectConversionFailsHarmlessly(const ScratchDir& dir,
                                     const std::string& model_path,
                                     const std::string& tag_path,
                                     bool existing = true);

#endif  // TAGBATCH_TESTS_CONVERSION_CHECK_H_
