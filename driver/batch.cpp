#include "driver/batch.h"

#include <cstdio>
#include <cstring>

#include "driver/platform.h"
#include "md3/md3_model.h"

namespace {

// Copies `name` into `shown`, of kMaxNameSize bytes, with each control
// character (C0, DEL, and C1 as UTF-8) as '?', as `ls` shows names on a
// terminal: a name may not clear the screen or retitle the window.
void ShowName(const char* name, char* shown) {
  size_t length = 0;
  for (const char* c = name;
       *c != '\0' && length + 1 < DirectorySearch::kMaxNameSize; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    const auto next = static_cast<unsigned char>(c[1]);
    if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {
      ++c;  // U+0080 to U+009F.
      shown[length++] = '?';
    } else {
      shown[length++] = byte < 0x20 || byte == 0x7f ? '?' : *c;
    }
  }
  shown[length] = '\0';
}

// Prints `text`, then `name` and a line feed; on a terminal, the name's
// control characters show as '?', while a file or pipe gets its bytes as
// they are. A failing standard output is not reported anywhere: there is
// nowhere to report it, and the exit status is 0 whatever happens.
void PrintLine(const char* text, const char* name) {
  WriteOutput(text);
  if (OutputIsTerminal()) {
    char shown[DirectorySearch::kMaxNameSize];
    ShowName(name, shown);
    WriteOutput(shown);
  } else {
    WriteOutput(name);
  }
  WriteOutput("\n");
}

// Converts the entry `name`, printing what happens. `name` becomes the tag
// file's name on the way.
void ConvertModel(Md3Model* model, char* name) {
  PrintLine("File Found: ", name);
  const char* outcome = "Failed to load md3\n";
  if (model->Load(name)) {
    // Only the last three characters change: BODY.MD3 gives BODY.tag.
    const size_t length = strlen(name);
    memcpy(name + (length >= 3 ? length - 3 : 0), "tag", 4);
    PrintLine("Writing Tag File: ", name);
    outcome = model->WriteTagFile(name) ? "Tag file created successfully\n"
                                        : "Failed to write tag file\n";
  }
  WriteOutput(outcome);
  model->Close();
}

}  // namespace

int RunBatch() {
  DirectorySearch search;
  if (!search.Start("*.md3")) {
    WriteOutput("No Files Found\n");
    WaitForKey();
    return 0;
  }
  Md3Model model;
  do {
    // A copy, so that the search's own name is never written to.
    char name[DirectorySearch::kMaxNameSize];
    (void)snprintf(name, sizeof name, "%s", search.name());
    ConvertModel(&model, name);
  } while (search.Next());
  search.Close();
  WaitForKey();
  return 0;
}
