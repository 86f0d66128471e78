// The page's job against the native tool, on the images a user brings:
// statuses, lines, the JSON listing, and every file of the zip byte for byte.
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { createRequire } from "node:module";
import { dirname, join } from "node:path";
import { test } from "node:test";

import { images, nativeRun, unzip } from "./helpers.mjs";

const require = createRequire(import.meta.url);

// The worker's script as the page builds it, run here as in the page.
function pageJob() {
  const tool = process.env.D88CUT_WEB_JS;
  const here = dirname(new URL(import.meta.url).pathname);
  const sources = [join(dirname(require.resolve("client-zip")), "worker.js"), tool,
                   join(here, "../job.js"), join(here, "../worker.js")];
  const source = sources.map((path) => readFileSync(path, "utf8")).join("\n;\n");
  return new Function("require", "__filename", "__dirname", source + "\nreturn d88cutPageJob;")(
    require, tool, dirname(tool));
}

test("the page's job does what the native tool does", async () => {
  const job = pageJob();
  // Lines as the page shows them: the Japanese one decoded from Shift_JIS.
  const shown = (bytes) => bytes.toString().replace(/^Disk A .*\n/, "Disk A \u3092\u8a8d\u8b58\u3057\u307e\u3057\u305f.\n");
  for (const [image, bytes] of Object.entries(images())) {
    const page = await job(image, new Uint8Array(bytes), null);
    const listed = nativeRun(image, bytes, ["--json"]);
    assert.equal(page.listed.status, listed.status, image);
    assert.deepEqual(page.listing, JSON.parse(listed.out), image);
    assert.equal(page.listed.err, listed.err.toString(), image);
    if (!page.cut) {
      assert.equal(listed.status, 2, image);
      assert.equal(page.zip, null, image);
      continue;
    }
    // The twice-held disk is cut from its first whole copy, as --disk=1.
    const cut = nativeRun(image, bytes, page.known.length > 1 ? ["--disk=" + page.disk] : []);
    assert.deepEqual([page.cut.status, page.cut.out, page.cut.err], [cut.status, shown(cut.out), cut.err.toString()], image);
    const zipped = unzip(await page.zip.arrayBuffer());
    assert.deepEqual(Object.keys(zipped).sort(), Object.keys(cut.files).sort(), image);
    for (const [name, data] of Object.entries(cut.files)) assert.ok(zipped[name].equals(data), name);
    assert.equal(page.zipName, image.replace(/\.d88$/, ".zip"));
  }
});
