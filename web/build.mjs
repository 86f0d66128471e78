// Makes the page: one HTML file holding its style, its script and, as text
// for its worker, fflate (zip and gzip), the tool built to WebAssembly and
// the job. The wasm, which -sSINGLE_FILE puts inside the tool's script as
// base64, is taken out of it and carried gzipped (less than half the
// bytes); the worker inflates it with fflate and gives it to the tool.
//   node web/build.mjs TOOL_JS VERSION LICENSE OUT_HTML
import { readFileSync, writeFileSync } from "node:fs";
import { gzipSync } from "node:zlib";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const [toolJs, version, licenseFile, out] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const read = (path) => readFileSync(path, "utf8");

let zipScript;
try {
  // fflate's browser build: a classic script defining fflate.
  zipScript = read(join(dirname(createRequire(join(here, "package.json")).resolve("fflate/package.json")), "umd/index.js"));
} catch {
  console.error("build.mjs: fflate is missing: run 'npm ci' in web/ first");
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
// The one data URI of the single-file build is its wasm.
const wasmUri = /data:application\/octet-stream;base64,([A-Za-z0-9+/=]+)/;
const tool = read(toolJs);
const wasm = tool.match(wasmUri);
if (!wasm) {
  console.error("build.mjs: the tool's script holds no wasm: build it with -sSINGLE_FILE=1");
  process.exit(1);
}
const packedWasm = gzipSync(Buffer.from(wasm[1], "base64"), { level: 9 }).toString("base64");
const worker = [zipScript, `const d88cutPackedWasm = "${packedWasm}";`,
                tool.replace(wasmUri, "data:application/octet-stream;base64,"),
                squeezed("job.js"), squeezed("worker.js")].join("\n;\n");
const parts = {
  "@VERSION@": escapeHtml(version),
  "@LICENSE@": escapeHtml(read(licenseFile)),
  "@WORKER@": scriptText(worker, "the worker"),
  "@APP@": scriptText(squeezed("words.js") + "\n" + squeezed("app.js"), "the page's script"),
};
// One pass, so that no part's text is taken for another's mark.
const page = read(join(here, "page.html")).replace(/@(VERSION|LICENSE|WORKER|APP)@/g, (mark) => parts[mark]);
writeFileSync(out, page);
