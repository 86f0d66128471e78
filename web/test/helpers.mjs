// What the page's tests share: the native d88cut to hold the page against,
// the images they run on, and a reader of the page's zips.
import { execFileSync, spawnSync } from "node:child_process";
import { mkdtempSync, readdirSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const need = (name) => {
  if (!process.env[name]) throw new Error(`set ${name} (see the README, "In a browser")`);
  return process.env[name];
};
export const native = () => need("D88CUT_NATIVE");
export const sample = () => readFileSync(need("D88CUT_SAMPLE"));

// The images of the tests, by the name the user's file has.
export function images() {
  const whole = sample();
  const text = Buffer.from("This is not a disk image, only a text file.\n".repeat(20));
  return {
    "sample.d88": whole,
    "cut short.d88": whole.subarray(0, 183952),
    "notes.txt": text,
    "twice.d88": Buffer.concat([whole, whole]),
    "-odd 'name' \u30b2\u30fc\u30e0.d88": whole,
  };
}

// The native tool on `bytes` named `image`: its listing, and a cut's status,
// lines and files.
export function nativeRun(image, bytes, args) {
  const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
  writeFileSync(join(dir, image), bytes);
  const run = spawnSync(native(), [...args, "-C", "out", "--", image], { cwd: dir });
  let files = {};
  try {
    files = Object.fromEntries(readdirSync(join(dir, "out")).map((n) => [n, readFileSync(join(dir, "out", n))]));
  } catch {
    // Nothing was cut.
  }
  execFileSync("rm", ["-rf", dir]);
  return { status: run.status, out: run.stdout, err: run.stderr, files };
}

// The entries of a zip stored without compression, by name, from its central
// directory (the local headers of a streamed zip give no sizes).
export function unzip(zip) {
  const view = Buffer.from(zip);
  let end = view.length - 22;
  while (view.readUInt32LE(end) !== 0x06054b50) end--;
  const files = {};
  let at = view.readUInt32LE(end + 16);
  for (let n = view.readUInt16LE(end + 10); n > 0; n--) {
    const size = view.readUInt32LE(at + 20);
    const nameLength = view.readUInt16LE(at + 28);
    const extra = view.readUInt16LE(at + 30) + view.readUInt16LE(at + 32);
    const local = view.readUInt32LE(at + 42);
    const name = view.toString("utf8", at + 46, at + 46 + nameLength);
    const data = local + 30 + view.readUInt16LE(local + 26) + view.readUInt16LE(local + 28);
    files[name] = view.subarray(data, data + size);
    at += 46 + nameLength + extra;
  }
  return files;
}
