// The page's job, shared by its worker and the tests: list an image with
// d88cut --json, then cut it, each in a fresh instance of the tool built to
// WebAssembly, on the instance's in-memory file system. A classic script: the
// worker is made of it and the tool's module, one after the other.
"use strict";

// What d88cut wrote on a stream, as text: its lines are UTF-8 (names, the
// JSON listing) but for its two Japanese lines, which come as Shift_JIS, as
// on any pipe, and are no UTF-8.
function d88cutText(bytes) {
  const utf8 = new TextDecoder("utf-8", { fatal: true });
  const shiftJis = new TextDecoder("shift_jis");
  let text = "";
  let start = 0;
  for (let i = 0; i <= bytes.length; i++) {
    if (i < bytes.length && bytes[i] !== 0x0a) continue;
    const line = bytes.subarray(start, Math.min(i + 1, bytes.length));
    try {
      text += utf8.decode(line);
    } catch {
      text += shiftJis.decode(line);
    }
    start = i + 1;
  }
  return text;
}

// Runs d88cut with `args` in the directory /work, where the images are
// ({ name, bytes }, given after the options), after `prepare` (if given) has
// put more into its file system; returns its status, what it wrote, and its
// file system.
async function d88cutRun(createD88cut, images, args, prepare) {
  const out = [];
  const err = [];
  const tool = await createD88cut({
    // The run's end throws back to callMain, never ends the process (Node).
    quit: (code, toThrow) => {
      throw toThrow;
    },
    // Bytes, not lines: the tool's lines are not all UTF-8.
    preRun: [(module) => module.FS.init(null, (b) => b !== null && out.push(b),
                                        (b) => b !== null && err.push(b))],
  });
  tool.FS.mkdir("/work");
  // The file system takes the bytes as they are, not a copy: the listing's
  // run and the cut's share them, and the image is held once.
  for (const image of images) tool.FS.writeFile("/work/" + image.name, image.bytes, { canOwn: true });
  tool.FS.chdir("/work");
  if (prepare) prepare(tool.FS);
  const status = tool.callMain(args.concat(["--"], images.map((image) => image.name)));
  return {
    status,
    out: d88cutText(Uint8Array.from(out)),
    err: d88cutText(Uint8Array.from(err)),
    fs: tool.FS,
  };
}

// The known disks of a listing, and the one a cut takes by default, as the
// tool says it: the first whose sixteen files are whole, else the first.
function d88cutKnownDisks(listing) {
  const known = (listing ? listing.disks : []).filter((disk) => disk.known);
  const chosen = listing && listing.best ? listing.disks[listing.best - 1] : null;
  return { known, chosen };
}

// Lists `bytes` as the image `image`, then cuts disk `disk` of it (null: the
// default one) into /out; returns both results and the files cut, in the
// order the tool writes them.
async function d88cutJob(createD88cut, image, bytes, disk) {
  const listed = await d88cutRun(createD88cut, [{ name: image, bytes }], ["--json"]);
  let listing = null;
  try {
    listing = JSON.parse(listed.out);
  } catch {
    // An image that cannot be read gives no document; its lines say why.
  }
  const { known, chosen } = d88cutKnownDisks(listing);
  const number = disk || (chosen ? chosen.disk : null);
  const result = {
    image,
    listing,
    listed: { status: listed.status, out: listed.out, err: listed.err },
    known,
    disk: number,
    cut: null,
    files: [],
  };
  // Nothing to cut, or a listing that could not read the image to its end.
  if (number === null || listed.status === 1) return result;
  const args = ["-C", "/out"];
  if (known.length > 1) args.push("--disk=" + number);
  const cut = await d88cutRun(createD88cut, [{ name: image, bytes }], args);
  result.cut = { status: cut.status, out: cut.out, err: cut.err };
  result.files = d88cutFilesCut(cut.fs, listing.disks[number - 1].files);
  result.map = d88cutMap(await d88cutRun(createD88cut, [{ name: image, bytes }], ["--map", "--disk=" + number]));
  result.cover = d88cutCover();
  return result;
}

// The map a listing with --map shows: 80 tracks of 17 characters, sector 1
// first; null where it shows none.
function d88cutMap(run) {
  const rows = run.out.split("\n").filter((line) => /^[ \d]{3} .{17}$/.test(line)).map((line) => line.slice(4));
  return rows.length === 80 ? rows : null;
}

// The file that covers each sector of the map, as the tool cuts them: a
// block runs across sectors 1 to 16 of each track, PSGMUS takes sector 17
// of tracks 10 to 74 but 56. Where IPL2 lies inside PSGDRV, IPL2 names it.
const d88cutBlocks = [["IPL2", 44, 11, 4], ["IPL3", 3, 1, 16], ["OPMDRV", 79, 1, 8], ["OPMTBL", 44, 15, 1],
                      ["OPMMUS0", 79, 9, 8], ["OPMMUS1", 46, 12, 25], ["OPMMUS2", 78, 8, 8], ["OPMMUS3", 78, 4, 4],
                      ["OPMMUS4", 75, 9, 11], ["OPMMUS5", 40, 1, 7], ["OPMMUS6", 74, 9, 16], ["OPMMUS7", 74, 2, 7],
                      ["OPMMUS8", 72, 13, 21], ["PSGDRV", 44, 5, 10], ["PSGTBL", 44, 16, 1]];
function d88cutCover() {
  const cover = Array.from({ length: 80 }, () => Array(17).fill(null));
  for (const [name, first, sector, count] of d88cutBlocks) {
    for (let k = 0, track = first, r = sector; k < count; k++) {
      cover[track][r - 1] = cover[track][r - 1] || name;
      [track, r] = r === 16 ? [track + 1, 1] : [track, r + 1];
    }
  }
  for (let track = 10; track <= 74; track++) if (track !== 56) cover[track][16] = "PSGMUS";
  return cover;
}

// The files a cut left in /out, in the order of the listing's.
function d88cutFilesCut(fs, listed) {
  const files = [];
  for (const file of listed) {
    const path = "/out/" + file.name;
    if (fs.analyzePath(path).exists) files.push({ name: file.name, bytes: fs.readFile(path) });
  }
  return files;
}

// Several dumps ({ name, bytes }) of one disk: lists their merge, then cuts
// it into /out; the result is as of one image, the merge its one disk.
async function d88cutMergeJob(createD88cut, images) {
  const listed = await d88cutRun(createD88cut, images, ["--merge", "--json"]);
  let listing = null;
  try {
    listing = JSON.parse(listed.out);
  } catch {
    // Its lines say why.
  }
  const merged = listing && listing.disks.length > 0 ? listing.disks[0] : null;
  const result = {
    image: images.map((image) => image.name).join(", "),
    merge: true,
    listing,
    listed: { status: listed.status, out: listed.out, err: listed.err },
    known: merged ? [merged] : [],
    disk: merged ? 1 : null,
    cut: null,
    files: [],
  };
  if (!merged || listed.status === 1) return result;
  const cut = await d88cutRun(createD88cut, images, ["--merge", "-C", "/out"]);
  result.cut = { status: cut.status, out: cut.out, err: cut.err };
  result.files = d88cutFilesCut(cut.fs, merged.files);
  result.map = d88cutMap(await d88cutRun(createD88cut, images, ["--merge", "--map"]));
  result.cover = d88cutCover();
  return result;
}

// The names the tool cuts, and takes back.
const d88cutNames = ["IPL2", "IPL3", "OPMDRV", "OPMTBL", "OPMMUS0", "OPMMUS1", "OPMMUS2", "OPMMUS3",
                     "OPMMUS4", "OPMMUS5", "OPMMUS6", "OPMMUS7", "OPMMUS8", "PSGDRV", "PSGTBL", "PSGMUS"];

// Puts the files chosen ({ name, bytes }) that are named as the tool names
// them back into a copy of the image, disk `disk` of it (null: the only
// known one); returns the run and the new image, null when the put was
// refused, or the names chosen when none is named so. The files stand
// beside the image, so that the tool's lines name each as it was chosen;
// an image named as one of them is the one case they stand apart.
async function d88cutPut(createD88cut, image, bytes, chosen, disk) {
  const copy = d88cutBase(image) + "-edited.d88";
  // A file named otherwise is no file of the disk; none named so, no run.
  const files = chosen.filter((file) => d88cutNames.includes(file.name));
  if (files.length === 0) return { unnamed: chosen.map((file) => file.name), names: d88cutNames, bytes: null };
  const apart = d88cutNames.includes(image);
  const args = (apart ? ["-C", "/edited"] : []).concat(["--put=" + copy], disk ? ["--disk=" + disk] : []);
  const run = await d88cutRun(createD88cut, [{ name: image, bytes }], args, (fs) => {
    if (apart) fs.mkdir("/edited");
    for (const file of files) fs.writeFile((apart ? "/edited/" : "/work/") + file.name, file.bytes);
  });
  const made = run.status === 0 ? run.fs.readFile("/work/" + copy) : null;
  return { status: run.status, out: run.out, err: run.err, bytes: made, name: copy };
}

// The name of the zip for an image, and of its edited copy: its name
// without its extension, and theirs.
function d88cutZipName(image) {
  return d88cutBase(image) + ".zip";
}

function d88cutBase(image) {
  const dot = image.lastIndexOf(".");
  return dot > 0 ? image.slice(0, dot) : image;
}

// The disk images a chosen file holds: itself, or what a gzip file or a zip
// packs (unpacked with `unpack`, fflate), each by its path in the zip and
// its name; `packed` says which.
function d88cutUnpack(name, bytes, unpack) {
  if (bytes[0] === 0x1f && bytes[1] === 0x8b) {
    const inner = name.replace(/\.gz$/i, "") || name;
    return { packed: "gzip", images: [{ path: inner, name: inner, bytes: unpack.gunzipSync(bytes) }] };
  }
  if (bytes[0] === 0x50 && bytes[1] === 0x4b && bytes[2] === 3 && bytes[3] === 4) {
    // Folders, and the resource forks some archivers add, hold no image.
    const keep = (file) => !file.name.endsWith("/") && !file.name.startsWith("__MACOSX/");
    const files = unpack.unzipSync(bytes, { filter: keep });
    return {
      packed: "zip",
      images: Object.entries(files).map(([path, data]) => ({ path, name: path.split("/").pop(), bytes: data })),
    };
  }
  return { packed: null, images: [{ path: name, name, bytes }] };
}

if (typeof module !== "undefined") {
  module.exports = { d88cutJob, d88cutMergeJob, d88cutPut, d88cutZipName, d88cutKnownDisks, d88cutNames,
                     d88cutUnpack, d88cutCover };
}
