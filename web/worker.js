// The page's worker: it takes a file, unpacks it where it is packed, runs
// the job on the image chosen, zips the files cut and posts it all back.
// Built after fflate, the tool's module (createD88cut) and job.js, in one
// script; the page runs the same code on its own thread where a browser
// will not start a worker from it.
"use strict";

// The tool's module. In the page its wasm comes packed (d88cutPackedWasm,
// by build.mjs): inflated once, and given to every instance.
let d88cutWasm = null;
function d88cutTool(options) {
  if (typeof d88cutPackedWasm === "undefined") return createD88cut(options);
  if (!d88cutWasm) d88cutWasm = fflate.gunzipSync(Uint8Array.from(atob(d88cutPackedWasm), (c) => c.charCodeAt(0)));
  return createD88cut({ ...options, wasmBinary: d88cutWasm });
}

// The image of a chosen file to work on: the one at `entry` in a zip, or
// its only one. Where a zip holds several and none is asked for, the paths
// to choose from.
function d88cutPageImage(image, bytes, entry) {
  const unpacked = d88cutUnpack(image, bytes, fflate);
  const images = unpacked.images;
  if (images.length === 0) return { packed: unpacked.packed, choices: [] };
  if (images.length > 1 && entry == null) return { packed: unpacked.packed, choices: images.map((i) => i.path) };
  const chosen = entry == null ? images[0] : images.find((i) => i.path === entry);
  if (!chosen) return { packed: unpacked.packed, choices: images.map((i) => i.path) };
  return { packed: unpacked.packed, chosen };
}

// Runs one job and makes its zip; what the page shows comes from this.
async function d88cutPageJob(image, bytes, disk, entry) {
  const { packed, chosen, choices } = d88cutPageImage(image, bytes, entry);
  if (!chosen) return { packed, choices };
  const result = await d88cutJob(d88cutTool, chosen.name, chosen.bytes, disk);
  result.packed = packed;
  result.entry = packed ? chosen.path : null;
  result.zip = null;
  result.zipName = d88cutZipName(chosen.name);
  if (result.files.length > 0) {
    // Stored at the root under the names the tool writes, dated now.
    const entries = Object.fromEntries(result.files.map((file) => [file.name, [file.bytes, { level: 0 }]]));
    result.zip = new Blob([fflate.zipSync(entries)], { type: "application/zip" });
  }
  return result;
}

// Several dumps merged, each file chosen unpacked as for one; the zip of
// the merge's files is named after the first.
async function d88cutPageMerge(chosen) {
  const images = chosen.map((file) => {
    const picked = d88cutPageImage(file.name, file.bytes, null).chosen;
    return picked ? { name: picked.name, bytes: picked.bytes } : { name: file.name, bytes: file.bytes };
  });
  const result = await d88cutMergeJob(d88cutTool, images);
  result.zip = null;
  result.zipName = d88cutBase(images[0].name) + "-merged.zip";
  if (result.files.length > 0) {
    const entries = Object.fromEntries(result.files.map((file) => [file.name, [file.bytes, { level: 0 }]]));
    result.zip = new Blob([fflate.zipSync(entries)], { type: "application/zip" });
  }
  return result;
}

// Puts edited files back into a copy of the image; its bytes go back to
// the page.
async function d88cutPagePut(image, bytes, disk, files, entry) {
  const { chosen } = d88cutPageImage(image, bytes, entry);
  return d88cutPut(d88cutTool, chosen.name, chosen.bytes, files, disk);
}

if (typeof WorkerGlobalScope !== "undefined" && self instanceof WorkerGlobalScope) {
  self.onmessage = async (event) => {
    const { image, bytes, disk, warm, files, entry, images } = event.data;
    // Started with the page: the tool compiled once before it is needed.
    if (warm) {
      await d88cutTool({ quit: (code, toThrow) => { throw toThrow; } });
      return;
    }
    try {
      const result = images ? await d88cutPageMerge(images)
        : files ? await d88cutPagePut(image, bytes, disk, files, entry)
        : await d88cutPageJob(image, bytes, disk, entry);
      self.postMessage({ result });
    } catch (error) {
      self.postMessage({ error: String(error && error.message ? error.message : error) });
    }
  };
}
