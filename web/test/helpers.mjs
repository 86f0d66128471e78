// What the page's tests share: the native d88cut to hold the page against,
// the images a user brings, and a reader of the page's zips.
import { spawnSync } from "node:child_process";
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

export function images() {
  const whole = readFileSync(process.env.D88CUT_SAMPLE);
  return {
    "sample.d88": whole,
    "cut short.d88": whole.subarray(0, 183952),
    "notes.txt": Buffer.from("This is not a disk image, only a text file.\n".repeat(20)),
    "twice.d88": Buffer.concat([whole, whole]),
    "-odd 'name' \u30b2\u30fc\u30e0.d88": whole,
  };
}

// The native tool on `bytes` named `image`: its status, lines and files.
export function nativeRun(image, bytes, args) {
  const dir = mkdtempSync(join(tmpdir(), "d88cut-page-"));
  writeFileSync(join(dir, image), bytes);
  const run = spawnSync(process.env.D88CUT_NATIVE, [...args, "-C", "out", "--", image], { cwd: dir });
  const out = join(dir, "out");
  const names = existsSync(out) ? readdirSync(out) : [];
  const files = Object.fromEntries(names.map((name) => [name, readFileSync(join(out, name))]));
  rmSync(dir, { recursive: true });
  return { status: run.status, out: run.stdout, err: run.stderr, files };
}

// The entries of a zip stored without compression, by name, from its central
// directory (the local headers of a streamed zip give no sizes).
export function unzip(zip) {
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
