// The page in headless Chromium, opened from disk as a user's saved copy:
// it cuts the sample into a zip that holds what the native tool cuts, says
// plainly that a text file is no D88 image, and asks nothing of the network.
import assert from "node:assert/strict";
import { readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { pathToFileURL } from "node:url";

import { chromium } from "playwright-core";

import { images, nativeRun, unzip } from "./helpers.mjs";

let browser;
let page;
const requests = [];

before(async () => {
  assert.ok(process.env.D88CUT_PAGE, "set D88CUT_PAGE to the page's HTML file");
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
           "--disable-component-update", "--no-first-run", "--disable-sync"],
  });
  page = await browser.newPage({ acceptDownloads: true });
  page.on("request", (request) => requests.push(request.url()));
  await page.goto(pathToFileURL(process.env.D88CUT_PAGE).href);
});

after(async () => browser && browser.close());

// Chooses a file in the page's file input, as a user does.
async function choose(name, bytes) {
  const path = join(tmpdir(), name);
  writeFileSync(path, bytes);
  await page.setInputFiles("input[type=file]", path);
  await page.waitForFunction(() => document.getElementById("running").hidden);
}

test("the sample is cut into a zip of the native tool's files", async () => {
  const sample = images()["sample.d88"];
  await choose("sample.d88", sample);
  assert.match(await page.textContent("#sentence"), /cut whole/);
  assert.equal(await page.locator("#files tbody tr").count(), 16);
  const [download] = await Promise.all([page.waitForEvent("download"), page.getByText(/zip/).click()]);
  assert.equal(download.suggestedFilename(), "sample.zip");
  const zipped = unzip(readFileSync(await download.path()));
  const cut = nativeRun("sample.d88", sample, []);
  assert.equal(Object.keys(zipped).length, 16);
  for (const [name, data] of Object.entries(cut.files)) assert.ok(zipped[name].equals(data), name);
  if (process.env.D88CUT_SCREENSHOT) await page.screenshot({ path: process.env.D88CUT_SCREENSHOT, fullPage: true });
});

test("a text file gets its sentence and no zip", async () => {
  await choose("notes.txt", images()["notes.txt"]);
  assert.match(await page.textContent("#sentence"), /not a D88 disk image/);
  assert.equal(await page.getByText(/zip/).count(), 0);
});

test("nothing leaves the page", () => {
  const outside = requests.filter((url) => !/^(file|blob|data):/.test(url));
  assert.deepEqual(outside, []);
});
