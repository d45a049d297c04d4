// What a conversion must give: the report of a run, and a failed
// conversion's folder left as it was.
#ifndef TAGBATCH_TESTS_CONVERSION_CHECK_H_
#define TAGBATCH_TESTS_CONVERSION_CHECK_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/scratch_dir.h"

// The bytes of a tag file from before the run, which no failure may touch.
extern const std::vector<uint8_t> kOldTagFile;

// The path of `name` in the source tree: where the build found it, or in
// the folder TAGBATCH_SOURCE_DIR names, for tests run on another machine.
std::string SourcePath(const std::string& name);

// The tag file name of `model`: its last three characters become "tag".
inline std::string TagNameOf(const std::string& model) {
  return model.substr(0, model.size() - 3) + "tag";
}

// The report's lines grouped by the model they follow, whatever the order
// in which the system listed the models.
std::map<std::string, std::string> ReportByModel(const std::string& report);

// Converts the model at `model_path` into `tag_path`, over an old tag file
// when `existing` is true, and checks that it fails leaving `dir` as it was.
void ExpectConversionFailsHarmlessly(const ScratchDir& dir,
                                     const std::string& model_path,
                                     const std::string& tag_path,
                                     bool existing = true);

#endif  // TAGBATCH_TESTS_CONVERSION_CHECK_H_
