// The page against the native tool: its job in Node.js on the images a user
// brings (statuses, lines, the JSON listing, every file of the zip), and the
// page itself in headless Chromium, opened from disk, asking nothing of the
// network.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { after, test } from "node:test";
import { pathToFileURL } from "node:url";

import { chromium } from "playwright-core";

const require = createRequire(import.meta.url);
const sample = readFileSync(process.env.D88CUT_SAMPLE);
const images = {
  "sample.d88": sample,
  "cut short.d88": sample.subarray(0, 183952),
  "notes.txt": Buffer.from("This is not a disk image, only a text file.\n".repeat(20)),
  "twice.d88": Buffer.concat([sample, sample]),
  "-odd 'name' \u30b2\u30fc\u30e0.d88": sample,
};

// The native tool on `bytes` named `image`: its status, lines and files.
function nativeRun(image, bytes, args) {
  const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
  writeFileSync(join(dir, image), bytes);
  const run = spawnSync(process.env.D88CUT_NATIVE, [...args, "-C", "out", "--", image], { cwd: dir });
  const out = join(dir, "out");
  const names = existsSync(out) ? readdirSync(out) : [];
  const files = Object.fromEntries(names.map((name) => [name, readFileSync(join(out, name))]));
  rmSync(dir, { recursive: true });
  return { status: run.status, out: run.stdout, err: run.stderr, files };
}

// The entries of a stored zip, from its central directory (a streamed zip's
// local headers give no sizes).
function unzip(zip) {
  const z = Buffer.from(zip);
  let end = z.length - 22;
  while (z.readUInt32LE(end) !== 0x06054b50) end--;
  const files = {};
  for (let n = z.readUInt16LE(end + 10), at = z.readUInt32LE(end + 16); n > 0; n--) {
    const nameLength = z.readUInt16LE(at + 28);
    const local = z.readUInt32LE(at + 42);
    const data = local + 30 + z.readUInt16LE(local + 26) + z.readUInt16LE(local + 28);
    files[z.toString("utf8", at + 46, at + 46 + nameLength)] = z.subarray(data, data + z.readUInt32LE(at + 20));
    at += 46 + nameLength + z.readUInt16LE(at + 30) + z.readUInt16LE(at + 32);
  }
  return files;
}

test("the page's job does what the native tool does", async () => {
  // The worker's script as the page builds it, run here as in the page.
  const tool = process.env.D88CUT_WEB_JS;
  const here = dirname(new URL(import.meta.url).pathname);
  const source = [join(dirname(require.resolve("client-zip")), "worker.js"), tool,
                  join(here, "../job.js"), join(here, "../worker.js")]
    .map((path) => readFileSync(path, "utf8")).join("\n;\n");
  const job = new Function("require", "__filename", "__dirname", source + "\nreturn d88cutPageJob;")(
    require, tool, dirname(tool));
  // Lines as the page shows them: the Japanese one decoded from Shift_JIS.
  const shown = (bytes) => bytes.toString().replace(/^Disk A .*\n/, "Disk A \u3092\u8a8d\u8b58\u3057\u307e\u3057\u305f.\n");
  for (const [image, bytes] of Object.entries(images)) {
    const page = await job(image, new Uint8Array(bytes), null);
    const listed = nativeRun(image, bytes, ["--json"]);
    assert.deepEqual([page.listed.status, page.listing, page.listed.err],
                     [listed.status, JSON.parse(listed.out), listed.err.toString()], image);
    if (!page.cut) {
      assert.deepEqual([listed.status, page.zip], [2, null], image);
      continue;
    }
    // The twice-held disk is cut from its first whole copy, as --disk=1.
    const cut = nativeRun(image, bytes, page.known.length > 1 ? ["--disk=" + page.disk] : []);
    assert.deepEqual([page.cut.status, page.cut.out, page.cut.err], [cut.status, shown(cut.out), cut.err.toString()], image);
    assert.deepEqual(unzip(await page.zip.arrayBuffer()), cut.files, image);
    assert.equal(page.zipName, image.replace(/\.d88$/, ".zip"));
  }
});

test("the page, opened from disk, cuts into a zip and says plainly what it cannot", async () => {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
           "--disable-component-update", "--no-first-run", "--disable-sync"],
  });
  after(() => browser.close());
  const page = await browser.newPage({ acceptDownloads: true });
  const requests = [];
  page.on("request", (request) => requests.push(request.url()));
  await page.goto(pathToFileURL(process.env.D88CUT_PAGE).href);
  // Chooses a file in the page's file input, as a user does.
  const choose = async (name) => {
    writeFileSync(join(tmpdir(), name), images[name]);
    await page.setInputFiles("input[type=file]", join(tmpdir(), name));
    await page.waitForFunction(() => document.getElementById("running").hidden);
  };

  await choose("sample.d88");
  assert.match(await page.textContent("#sentence"), /cut whole/);
  assert.equal(await page.locator("#files tbody tr").count(), 16);
  const [download] = await Promise.all([page.waitForEvent("download"), page.getByText(/zip/).click()]);
  assert.equal(download.suggestedFilename(), "sample.zip");
  assert.deepEqual(unzip(readFileSync(await download.path())), nativeRun("sample.d88", sample, []).files);
  if (process.env.D88CUT_SCREENSHOT) await page.screenshot({ path: process.env.D88CUT_SCREENSHOT, fullPage: true });

  await choose("notes.txt");
  assert.match(await page.textContent("#sentence"), /not a D88 disk image/);
  assert.equal(await page.getByText(/zip/).count(), 0);
  // Nothing left the page.
  assert.deepEqual(requests.filter((url) => !/^(file|blob|data):/.test(url)), []);
});
