// Makes the page: one HTML file holding its style, its script and, as text
// for its worker, client-zip, the tool built to WebAssembly (the wasm inside,
// by -sSINGLE_FILE) and the job.
//   node web/build.mjs TOOL_JS VERSION LICENSE OUT_HTML
import { readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const [toolJs, version, licenseFile, out] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const read = (path) => readFileSync(path, "utf8");

let zipScript;
try {
  // client-zip's worker build: a classic script defining downloadZip.
  zipScript = read(join(dirname(createRequire(join(here, "package.json")).resolve("client-zip")), "worker.js"));
} catch {
  console.error("build.mjs: client-zip is missing: run 'npm ci' in web/ first");
  process.exit(1);
}

const escapeHtml = (text) => text.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
// Script text ends at the first "</script": none may stand inside it.
const scriptText = (text, what) => {
  if (/<\/script/i.test(text)) {
    console.error(`build.mjs: ${what} holds "</script"`);
    process.exit(1);
  }
  return text;
};

// The page's own scripts without their comment lines and indentation, which
// the page carries to every user: they hold no text that spans lines.
const squeezed = (name) => read(join(here, name)).split("\n").map((line) => line.trim())
  .filter((line) => line !== "" && !line.startsWith("//")).join("\n");
const worker = [zipScript, read(toolJs), squeezed("job.js"), squeezed("worker.js")].join("\n;\n");
const parts = {
  "@VERSION@": escapeHtml(version),
  "@LICENSE@": escapeHtml(read(licenseFile)),
  "@WORKER@": scriptText(worker, "the worker"),
  "@APP@": scriptText(squeezed("app.js"), "the page's script"),
};
// One pass, so that no part's text is taken for another's mark.
const page = read(join(here, "page.html")).replace(/@(VERSION|LICENSE|WORKER|APP)@/g, (mark) => parts[mark]);
writeFileSync(out, page);
