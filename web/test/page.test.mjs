// The page against the native tool: its job in Node.js on the images a user
// brings (statuses, lines, the JSON listing, every file of the zip), and the
// page itself in Chromium, Firefox and WebKit.
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, truncateSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { after, test } from "node:test";
import { pathToFileURL } from "node:url";

import { browsers } from "./browsers.mjs";

const require = createRequire(import.meta.url);
const fflate = require("fflate");
const sample = readFileSync(process.env.D88CUT_SAMPLE);

// The sample with one sector recorded with a data CRC error: OPMMUS3's
// first, track 78 sector 4.
function flagged(image) {
  const copy = Buffer.from(image);
  for (let at = copy.readUInt32LE(32 + 4 * 78); ; at += 16 + copy.readUInt16LE(at + 14)) {
    if (copy[at + 2] === 4) {
      copy[at + 8] = 0xb0;
      return copy;
    }
  }
}

// The same disk as a raw 2D image and an IMD file, made beside the sample.
const kin = (extension) => readFileSync(process.env.D88CUT_SAMPLE.replace(/\.d88$/, extension));
const images = {
  "sample.d88": sample,
  "cut short.d88": sample.subarray(0, 183952),
  "notes.txt": Buffer.from("This is not a disk image, only a text file.\n".repeat(20)),
  "twice.d88": Buffer.concat([sample, sample]),
  "flagged.d88": flagged(sample),
  "-odd 'name' \u30b2\u30fc\u30e0.d88": sample,
};

// The native tool on `bytes` named `image`, with `given` files in its
// directory: its status, lines and files there.
function nativeRun(image, bytes, args, given = {}) {
  const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
  writeFileSync(join(dir, image), bytes);
  mkdirSync(join(dir, "out"));
  for (const [name, data] of Object.entries(given)) writeFileSync(join(dir, "out", name), data);
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
  const source = [join(dirname(require.resolve("fflate/package.json")), "umd/index.js"), tool,
                  join(here, "../job.js"), join(here, "../worker.js")]
    .map((path) => readFileSync(path, "utf8")).join("\n;\n");
  const { job, put, merge } = new Function("require", "__filename", "__dirname",
    source + "\nreturn { job: d88cutPageJob, put: d88cutPagePut, merge: d88cutPageMerge };")(
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

  // Other containers, and an image packed: cut as the command line cuts
  // what they hold; a zip of several asks which.
  const held = [["sample.2d", kin(".2d")], ["sample.imd", kin(".imd")],
                ["game.zip", fflate.zipSync({ "game/sample.d88": sample }), "sample.d88", sample],
                ["sample.d88.gz", fflate.gzipSync(sample), "sample.d88", sample]];
  for (const [image, bytes, inner = image, innerBytes = bytes] of held) {
    const page = await job(image, new Uint8Array(bytes), null, null);
    const cut = nativeRun(inner, innerBytes, []);
    assert.deepEqual([page.cut.status, page.cut.out, page.cut.err], [cut.status, shown(cut.out), cut.err.toString()], image);
    assert.deepEqual(unzip(await page.zip.arrayBuffer()), cut.files, image);
  }
  const two = await job("two.zip", fflate.zipSync({ "a.d88": sample, "b/c.d88": sample }), null, null);
  assert.deepEqual(two.choices, ["a.d88", "b/c.d88"]);

  // Two damaged dumps merged: the command line's merge.
  const dumps = { "cut short.d88": images["cut short.d88"], "flagged.d88": images["flagged.d88"] };
  const merged = await merge(Object.entries(dumps).map(([name, bytes]) => ({ name, bytes: new Uint8Array(bytes) })));
  const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
  for (const [name, bytes] of Object.entries(dumps)) writeFileSync(join(dir, name), bytes);
  const native = spawnSync(process.env.D88CUT_NATIVE, ["--merge", "-C", "out", "--", ...Object.keys(dumps)], { cwd: dir });
  const files = Object.fromEntries(readdirSync(join(dir, "out")).map((name) => [name, readFileSync(join(dir, "out", name))]));
  rmSync(dir, { recursive: true });
  assert.deepEqual([merged.cut.status, merged.cut.err], [native.status, native.stderr.toString()]);
  assert.deepEqual(unzip(await merged.zip.arrayBuffer()), files);

  // The put as the native tool does it with the files chosen beside the
  // image: the same lines, naming the files so, and the same copy.
  const opmmus3 = nativeRun("sample.d88", sample, []).files.OPMMUS3;
  for (const [image, files] of [["sample.d88", { OPMMUS3: Buffer.concat([opmmus3, Buffer.alloc(1)]), "notes.txt": images["notes.txt"] }]]) {
    const chosen = Object.entries(files).map(([name, bytes]) => ({ name, bytes: new Uint8Array(bytes) }));
    const page = await put(image, new Uint8Array(images[image]), null, chosen);
    const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
    writeFileSync(join(dir, image), images[image]);
    for (const [name, bytes] of Object.entries(files)) writeFileSync(join(dir, name), bytes);
    const copy = image.replace(/\.d88$/, "-edited.d88");
    const run = spawnSync(process.env.D88CUT_NATIVE, ["--put=" + copy, "--", image], { cwd: dir });
    const made = run.status === 0 ? readFileSync(join(dir, copy)) : null;
    rmSync(dir, { recursive: true });
    assert.deepEqual([page.status, shown(page.out), page.err, page.name, page.bytes && Buffer.from(page.bytes)],
                     [run.status, shown(run.stdout), run.stderr.toString(), copy, made], image);
  }
  const none = await put("sample.d88", new Uint8Array(sample), null, [{ name: "notes.txt", bytes: new Uint8Array(1) }]);
  assert.deepEqual(none.unnamed, ["notes.txt"]);
});

// The page as its users have it, in each engine: opened from disk, asking
// nothing of the network.
const later = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const shownNow = `(() => ({
  idle: document.getElementById("running").hidden,
  sentence: document.getElementById("sentence").textContent,
  lines: document.getElementById("lines").textContent.split("\\n").filter(Boolean),
  rows: [...document.querySelectorAll("#files tbody tr")].map((row) => [...row.cells].map((cell) => cell.textContent)),
  zip: document.querySelectorAll("#downloads a").length,
}))()`;

for (const engine of (process.env.D88CUT_BROWSERS || "chromium,firefox,webkit").split(",")) {
  test("the page in " + engine + ": the sample, a put, a text file, a damaged disk, the latest choice", async () => {
    const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
    const pages = { ...images, "trailing.d88": Buffer.concat([sample, Buffer.alloc(100)]),
                    "two.zip": Buffer.from(fflate.zipSync({ "a.d88": sample, "b/c.d88": sample })) };
    for (const [name, bytes] of Object.entries(pages)) writeFileSync(join(dir, name), bytes);
    // Slow to read: a later choice comes while it is.
    writeFileSync(join(dir, "big.d88"), "");
    truncateSync(join(dir, "big.d88"), 300 << 20);
    const browser = await browsers[engine](pathToFileURL(process.env.D88CUT_PAGE).href);
    after(() => browser.close());
    // Chooses files one after the other, then waits for the page's result.
    const settled = async () => {
      for (;;) {
        const shown = await browser.run(shownNow);
        if (shown.idle && shown.sentence && !shown.sentence.startsWith("Reading")) return shown;
        await later(50);
      }
    };
    const choose = async (...names) => {
      await browser.run("document.getElementById('sentence').textContent = ''");
      for (const name of names) await browser.choose(join(dir, name));
      return settled();
    };
    const native = (name) => JSON.parse(nativeRun(name, pages[name], ["--json"]).out).disks[0].files;

    let shown = await choose("sample.d88");
    assert.equal(shown.sentence, "All sixteen files were cut whole.");
    assert.deepEqual(shown.rows.map((row) => row[3]), native("sample.d88").map((file) => file.crc32));
    const zip = await browser.download("document.querySelector('#downloads a').click()");
    assert.equal(zip.name, "sample.zip");
    assert.deepEqual(unzip(zip.bytes), nativeRun("sample.d88", sample, []).files);
    const one = await browser.download("document.querySelector('#files tbody a').click()");
    assert.deepEqual(one, { name: "IPL2", bytes: nativeRun("sample.d88", sample, []).files.IPL2 });

    // An edited file put back over a sector recorded with an error gives
    // the image the command line gives, and shows every line it said.
    shown = await choose("flagged.d88");
    const edited = nativeRun("sample.d88", sample, []).files.OPMMUS3.map((byte) => byte ^ 0xff);
    writeFileSync(join(dir, "OPMMUS3"), edited);
    await browser.choose(join(dir, "OPMMUS3"), "#edited");
    const made = await browser.download("(async () => { while (!document.querySelector('#put-result a')) " +
                                        "await new Promise((r) => setTimeout(r, 50)); document.querySelector('#put-result a').click(); })()");
    const put = nativeRun("flagged.d88", pages["flagged.d88"], ["--put=out/new.d88"], { OPMMUS3: edited });
    assert.deepEqual(made, { name: "flagged-edited.d88", bytes: put.files["new.d88"] });
    const said = await browser.run("document.querySelector('#put-result pre').textContent");
    assert.match(said, /^putting \.\.\. OPMMUS3\nd88cut: flagged\.d88: OPMMUS3: put over sector .* data CRC error/m);
    if (engine === "chromium" && process.env.D88CUT_SCREENSHOT) await browser.screenshot(process.env.D88CUT_SCREENSHOT);

    shown = await choose("notes.txt");
    assert.match(shown.sentence, /not a D88 disk image/);
    assert.equal(shown.zip, 0);

    shown = await choose("trailing.d88");
    assert.equal(shown.sentence, "All sixteen files were cut whole. The file also holds 100 bytes after " +
                                 "its last disk image, which are no disk image.");
    assert.deepEqual(shown.lines, [...new Set(shown.lines)]);
    assert.match(shown.lines.join("\n"), /the 100 bytes from offset 366528 on make no disk image/);

    // A zip of two images: the page asks which, and cuts the one chosen.
    shown = await choose("two.zip");
    assert.match(shown.sentence, /^This zip holds 2 files/);
    await browser.run("(() => { document.getElementById('sentence').textContent = ''; " +
                      "document.querySelector('#entries button').click(); })()");
    assert.equal((await settled()).sentence, "All sixteen files were cut whole.");

    shown = await choose("cut short.d88");
    assert.match(shown.sentence, /^\d+ of the 16 files are not whole: .* The zip holds what could be cut\. This disk image runs past/);
    assert.deepEqual(shown.rows.map((row) => row[4]), native("cut short.d88").map((file) => file.where));
    // Its map: a square a sector, the missing ones named in their titles.
    assert.deepEqual(await browser.run(`(() => {
      const squares = [...document.querySelectorAll("#map > svg rect[class]")];
      return [squares.length, squares.find((s) => s.textContent.startsWith("track 79 sector 1:")).textContent,
              squares.filter((s) => s.getAttribute("class") === "c-missing").length > 0];
    })()`), [80 * 17, "track 79 sector 1: OPMDRV, missing", true]);

    // In Japanese at the switch, and back: the page's words, the tool's
    // lines as they were.
    const words = () => browser.run(`(() => [document.documentElement.lang,
      document.getElementById("sentence").textContent, document.querySelector("#files th").textContent,
      document.getElementById("lines").textContent.split("\\n")[1]])()`);
    const english = await words();
    await browser.run("document.getElementById('language').click()");
    const japanese = await words();
    assert.deepEqual([japanese[0], japanese[2], japanese[3]], ["ja", "\u30d5\u30a1\u30a4\u30eb", english[3]]);
    assert.match(japanese[1], /^16 \u500b\u306e\u3046\u3061 \d+ \u500b/);
    // Outside the tool's own lines and the names it shows, no English word.
    const left = await browser.run(`(() => {
      const body = document.body.cloneNode(true);
      for (const own of body.querySelectorAll("#lines, #license pre, script, td")) own.remove();
      return body.textContent.match(/[A-Za-z]{3,}/g);
    })()`);
    assert.deepEqual(left.filter((word) => !/^(cut|IPL|OPM(DRV|TBL|MUS)|PSG(DRV|TBL|MUS)|MIT|English|CRC|zip|IMD)$/.test(word)), []);
    await browser.run("document.getElementById('language').click()");
    assert.deepEqual(await words(), english);

    // The big file is still being read, or cut, when the sample is chosen:
    // only the sample's result shows, also once the big one would be done.
    shown = await choose("big.d88", "sample.d88");
    await later(3000);
    assert.deepEqual(await browser.run(shownNow), shown);
    assert.equal(shown.sentence, "All sixteen files were cut whole.");
    assert.deepEqual(browser.requests.filter((url) => !/^(file|blob|data):/.test(url)), []);
    // A request the page tries is blocked by its own policy.
    assert.match(await browser.run(`new Promise((resolve) => {
      document.addEventListener("securitypolicyviolation", (event) => resolve(event.blockedURI), { once: true });
      fetch("https://example.com/d88cut").catch(() => {});
    })`), /example\.com/);
    rmSync(dir, { recursive: true });
  });
}

test("the page in Chromium that prefers Japanese starts in Japanese", async () => {
  const browser = await browsers.chromium(pathToFileURL(process.env.D88CUT_PAGE).href, { locale: "ja-JP" });
  after(() => browser.close());
  assert.deepEqual(await browser.run("[document.documentElement.lang, document.getElementById('stop').textContent]"),
                   ["ja", "\u4e2d\u6b62"]);
});
