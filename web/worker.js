// The page's worker: it takes an image, runs the job, zips the files cut and
// posts it all back. Built after client-zip's downloadZip, the tool's module
// (createD88cut) and job.js, in one script; the page runs the same code on
// its own thread where a browser will not start a worker from it.
"use strict";

// Runs one job and makes its zip; what the page shows comes from this.
async function d88cutPageJob(image, bytes, disk) {
  const result = await d88cutJob(createD88cut, image, bytes, disk);
  result.zip = null;
  result.zipName = d88cutZipName(image);
  if (result.files.length > 0) {
    // Stored at the root under the names the tool writes, dated now.
    const entries = result.files.map((file) => ({ name: file.name, input: file.bytes }));
    result.zip = await downloadZip(entries).blob();
  }
  return result;
}

// Puts edited files back into a copy of the image; its bytes go back to
// the page.
async function d88cutPagePut(image, bytes, disk, files) {
  return d88cutPut(createD88cut, image, bytes, files, disk);
}

if (typeof WorkerGlobalScope !== "undefined" && self instanceof WorkerGlobalScope) {
  self.onmessage = async (event) => {
    const { image, bytes, disk, warm, files } = event.data;
    // Started with the page: the tool compiled once before it is needed.
    if (warm) {
      await createD88cut({ quit: (code, toThrow) => { throw toThrow; } });
      return;
    }
    try {
      const result = files ? await d88cutPagePut(image, bytes, disk, files) : await d88cutPageJob(image, bytes, disk);
      self.postMessage({ result });
    } catch (error) {
      self.postMessage({ error: String(error && error.message ? error.message : error) });
    }
  };
}
