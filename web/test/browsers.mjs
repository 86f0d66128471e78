// One small driver per browser engine, each from Debian and none downloaded:
// Chromium through playwright-core, Firefox ESR through puppeteer-core over
// WebDriver BiDi, WebKitGTK's MiniBrowser through selenium-webdriver and
// WebKitWebDriver under an Xvfb of its own. Each opens a page and gives the
// browser test the same verbs: run a script, choose a file in an input,
// catch the download a script starts, and the requests that left the page.
import { spawn } from "node:child_process";
import { mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from "node:fs";
import { createServer } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";

const later = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The next file to land whole in `dir`: Firefox and WebKit write a
// download under another name first, so it is the one file there once the
// folder stays the same for a moment; then gone, for the next.
async function landed(dir) {
  for (let seen = "", now = ""; ; seen = now) {
    await later(250);
    const names = readdirSync(dir).filter((name) => !/\.(part|download|wkdownload)$|^\./.test(name));
    now = names.map((name) => name + ":" + statSync(join(dir, name)).size).join();
    if (names.length !== 1 || now !== seen) continue;
    const bytes = readFileSync(join(dir, names[0]));
    rmSync(join(dir, names[0]));
    return { name: names[0], bytes };
  }
}

async function chromium(url, { locale } = {}) {
  const { chromium } = await import("playwright-core");
  const browser = await chromium.launch({
    executablePath: "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
           "--disable-component-update", "--no-first-run", "--disable-sync"],
  });
  const page = await browser.newPage({ acceptDownloads: true, locale });
  const requests = [];
  page.on("request", (request) => requests.push(request.url()));
  await page.goto(url);
  return {
    run: (script) => page.evaluate(script),
    choose: (paths, input = "#image") => page.setInputFiles(input, paths),
    download: async (script) => {
      const [download] = await Promise.all([page.waitForEvent("download"), page.evaluate(script)]);
      return { name: download.suggestedFilename(), bytes: readFileSync(await download.path()) };
    },
    screenshot: (path) => page.screenshot({ path, fullPage: true }),
    requests,
    close: () => browser.close(),
  };
}

async function firefox(url) {
  const { default: puppeteer } = await import("puppeteer-core");
  // Its first start on a loaded machine takes seconds.
  const browser = await puppeteer.launch({ browser: "firefox", executablePath: "/usr/bin/firefox-esr",
                                           protocol: "webDriverBiDi", timeout: 60000 });
  const downloads = mkdtempSync(join(tmpdir(), "d88cut-firefox-"));
  const context = await browser.createBrowserContext({ downloadBehavior: { policy: "allow", downloadPath: downloads } });
  const page = await context.newPage();
  const requests = [];
  page.on("request", (request) => requests.push(request.url()));
  await page.goto(url);
  return {
    run: (script) => page.evaluate(script),
    choose: async (paths, input = "#image") => (await page.$(input)).uploadFile(...[paths].flat()),
    download: async (script) => (await page.evaluate(script), landed(downloads)),
    requests,
    close: async () => (await browser.close(), rmSync(downloads, { recursive: true })),
  };
}

async function webkit(url) {
  const { Builder, By } = await import("selenium-webdriver");
  const { DriverService } = (await import("selenium-webdriver/remote/index.js")).default;
  const { findFreePort } = (await import("selenium-webdriver/net/portprober.js")).default;
  // Xvfb says which display it took on a descriptor of ours.
  const xvfb = spawn("Xvfb", ["-displayfd", "3", "-nolisten", "tcp"], { stdio: ["ignore", "ignore", "ignore", "pipe"] });
  const display = ":" + String(await new Promise((resolve) => xvfb.stdio[3].once("data", resolve))).trim();
  // Downloads land in the XDG download folder of a fresh home.
  const home = mkdtempSync(join(tmpdir(), "d88cut-webkit-"));
  mkdirSync(join(home, ".config"));
  mkdirSync(join(home, "Downloads"));
  writeFileSync(join(home, ".config/user-dirs.dirs"), 'XDG_DOWNLOAD_DIR="$HOME/Downloads"\n');
  // Every request goes to a proxy that refuses it, and counts it.
  const requests = [];
  const proxy = createServer((request, response) => (requests.push(request.url), response.destroy()));
  await new Promise((resolve) => proxy.listen(0, "127.0.0.1", resolve));
  const port = await findFreePort();
  const service = new DriverService("/usr/bin/WebKitWebDriver", {
    port, loopback: true, args: ["--port=" + port], env: { ...process.env, HOME: home, DISPLAY: display } });
  const driver = await new Builder().usingServer(await service.start()).withCapabilities({
    browserName: "MiniBrowser",
    "webkitgtk:browserOptions": { binary: "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser",
                                  args: ["--automation", "--proxy=http://127.0.0.1:" + proxy.address().port] },
  }).build();
  await driver.get(url);
  return {
    run: (script) => driver.executeScript("return (" + script + ")"),
    choose: async (paths, input = "#image") => (await driver.findElement(By.css(input))).sendKeys([paths].flat().join("\n")),
    download: async (script) => (await driver.executeScript(script), landed(join(home, "Downloads"))),
    requests,
    close: async () => {
      await driver.quit();
      await service.kill();
      xvfb.kill();
      proxy.close();
      rmSync(home, { recursive: true });
    },
  };
}

export const browsers = { chromium, firefox, webkit };
