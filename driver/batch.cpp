#include "driver/batch.h"

#include <string>

#include "driver/platform.h"
#include "md3/md3_model.h"

namespace {

// Converts one entry, printing what happens. A failing standard output is
// not reported anywhere: there is nowhere to report it, and the exit status
// is 0 whatever happens.
void ConvertModel(Md3Model* model, std::string* name, FILE* out) {
  (void)fprintf(out, "File Found: %s\n", name->c_str());
  const char* outcome = "Failed to load md3\n";
  if (model->Load(name->c_str())) {
    // Only the last three characters change: BODY.MD3 gives BODY.tag.
    size_t length = name->size();
    name->replace(length >= 3 ? length - 3 : 0, 3, "tag");
    (void)fprintf(out, "Writing Tag File: %s\n", name->c_str());
    outcome = model->WriteTagFile(name->c_str())
                  ? "Tag file created successfully\n"
                  : "Failed to write tag file\n";
  }
  (void)fputs(outcome, out);
  model->Close();
}

}  // namespace

int RunBatch(FILE* out) {
  DirectorySearch search;
  if (!search.Start("*.md3")) {
    (void)fputs("No Files Found\n", out);
    WaitForKey();
    return 0;
  }
  Md3Model model;
  std::string name;  // Reused, so its storage is allocated once.
  do {
    name = search.name();
    ConvertModel(&model, &name, out);
  } while (search.Next());
  search.Close();
  WaitForKey();
  return 0;
}
