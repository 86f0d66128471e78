// The page: takes an image from the file input or a drop, has the worker
// list and cut it, and shows the listing, the run's lines and the downloads.
"use strict";

(() => {
  const $ = (id) => document.getElementById(id);
  const workerSource = $("worker-source").textContent;
  let workerUrl = null;
  let worker = null;
  let running = null;  // the job under way: { resolve, reject }
  let shown = [];      // object URLs of the downloads shown, let go with them
  let current = null;  // { image, bytes } of the image shown
  let generation = 0;  // the latest start; an earlier one shows nothing

  // A worker made from the page's own copy of its script; null where the
  // browser refuses one (some refuse workers from a page opened as a file).
  function startWorker() {
    try {
      workerUrl = workerUrl || URL.createObjectURL(new Blob([workerSource], { type: "text/javascript" }));
      const started = new Worker(workerUrl);
      started.onmessage = (event) => {
        const job = running;
        running = null;
        if (!job) return;
        if (event.data.error) job.reject(new Error(event.data.error));
        else job.resolve(event.data.result);
      };
      started.onerror = (event) => {
        const job = running;
        running = null;
        if (job) job.reject(new Error(event.message || "the worker stopped"));
      };
      return started;
    } catch {
      return null;
    }
  }

  // The job on the page's own thread, when there is no worker.
  let ownThread = null;
  function runHere(image, bytes, disk) {
    if (!ownThread) {
      ownThread = new Function(workerSource + "\nreturn d88cutPageJob;")();
    }
    return ownThread(image, bytes, disk);
  }

  function runJob(image, bytes, disk) {
    if (!worker) worker = startWorker();
    if (!worker) return runHere(image, bytes, disk);
    return new Promise((resolve, reject) => {
      running = { resolve, reject };
      // A copy: the page keeps the image for another choice of disk.
      worker.postMessage({ image, bytes: bytes.slice(), disk });
    });
  }

  function stop() {
    const job = running;
    running = null;
    if (!job) return;
    // The worker and whatever it held go; a new one is made ready.
    if (worker) worker.terminate();
    warm();
    job.reject(new Error("stopped"));
  }

  function element(tag, text, className) {
    const made = document.createElement(tag);
    if (text !== undefined) made.textContent = text;
    if (className) made.className = className;
    return made;
  }

  function clear() {
    for (const url of shown) URL.revokeObjectURL(url);
    shown = [];
    for (const id of ["sentence", "lines", "disks", "downloads"]) $(id).replaceChildren();
    $("lines-box").hidden = true;
  }

  function download(blob, name, text) {
    const url = URL.createObjectURL(blob);
    shown.push(url);
    const link = element("a", text);
    link.href = url;
    link.download = name;
    return link;
  }

  function say(text, kind) {
    $("sentence").replaceChildren(element("p", text, kind));
  }

  function showDisks(result) {
    const table = element("table");
    const head = table.createTHead().insertRow();
    for (const title of ["Disk", "Media", "Size", "Name", "Known disk"]) head.append(element("th", title));
    const body = table.createTBody();
    for (const disk of result.listing.disks) {
      const row = body.insertRow();
      for (const text of [disk.disk, disk.mediaName, disk.size, disk.name, disk.known ? "yes" : "no"]) {
        row.append(element("td", String(text)));
      }
      if (disk.known) row.className = "known";
    }
    $("disks").append(element("h2", "Disk images"), table);
  }

  function showFiles(result) {
    const disk = result.listing.disks[result.disk - 1];
    const cut = new Map(result.files.map((file) => [file.name, file.bytes]));
    const table = element("table");
    table.id = "files";
    const head = table.createTHead().insertRow();
    for (const title of ["File", "Bytes", "State", "CRC-32", "Where it falls short", ""]) head.append(element("th", title));
    const body = table.createTBody();
    for (const file of disk.files) {
      const row = body.insertRow();
      row.className = file.state;
      for (const text of [file.name, file.size, file.state, file.crc32 || "-", file.where]) {
        row.append(element("td", String(text)));
      }
      const cell = element("td");
      if (cut.has(file.name)) {
        cell.append(download(new Blob([cut.get(file.name)]), file.name, "Download"));
      }
      row.append(cell);
    }
    const title = element("h2", "Files of disk image " + result.disk);
    $("disks").append(title, table);
  }

  function showChoice(result) {
    if (result.known.length < 2) return;
    const label = element("label", "The known disk is here " + result.known.length + " times; cut disk image ");
    const select = element("select");
    select.id = "disk-choice";
    for (const disk of result.known) {
      const option = element("option", String(disk.disk));
      option.value = String(disk.disk);
      option.selected = disk.disk === result.disk;
      select.append(option);
    }
    select.onchange = () => start(current.image, current.bytes, Number(select.value));
    label.append(select);
    $("disks").append(label);
  }

  function show(result) {
    clear();
    const lines = (result.listed.err + (result.cut ? result.cut.out + result.cut.err : "")).trim();
    if (lines) {
      $("lines").textContent = lines;
      $("lines-box").hidden = false;
    }
    if (result.listed.status === 1) {
      say("d88cut could not read this image to its end, so nothing was cut: see what it said below.", "bad");
      return;
    }
    if (!result.listing || !result.listing.looksLikeD88 || result.listing.disks.length === 0) {
      const empty = result.listing && result.listing.size === 0;
      say(empty ? "The file is empty." : "This file is not a D88 disk image, so there is nothing to cut.", "bad");
      return;
    }
    showDisks(result);
    if (!result.cut) {
      say("No disk image in this file is the known disk, so there is nothing to cut.", "bad");
      return;
    }
    showChoice(result);
    showFiles(result);
    const states = result.listing.disks[result.disk - 1].files.map((file) => file.state);
    const short = states.filter((state) => state !== "whole").length;
    if (result.cut.status === 0) {
      say("All sixteen files were cut whole.", "good");
    } else if (result.cut.status === 2) {
      say("The disk is damaged: " + short + " of its 16 files are not whole (see their state below). " +
          "The zip holds what could be cut.", "warn");
    } else {
      say("The cut did not finish: see the lines below.", "bad");
    }
    if (result.zip) {
      $("downloads").append(download(result.zip, result.zipName, "Download all (zip)"));
    }
  }

  async function start(image, bytes, disk) {
    stop();
    const mine = ++generation;
    clear();
    current = { image, bytes };
    $("running").hidden = false;
    say("Reading " + image + " ...", "");
    try {
      const result = await runJob(image, bytes, disk || null);
      if (mine === generation) show(result);
    } catch (error) {
      if (mine !== generation) return;
      clear();
      say(error.message === "stopped" ? "Stopped; nothing was kept." : "The page could not read the image: " + error.message, "bad");
    } finally {
      if (mine === generation) $("running").hidden = true;
    }
  }

  async function take(file) {
    if (!file) return;
    // Working from the moment the file is chosen, while it is read.
    $("running").hidden = false;
    say("Reading " + file.name + " ...", "");
    start(file.name, new Uint8Array(await file.arrayBuffer()), null);
  }

  $("image").addEventListener("change", () => take($("image").files[0]));
  const zone = $("drop");
  zone.addEventListener("dragover", (event) => { event.preventDefault(); zone.classList.add("over"); });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    take(event.dataTransfer.files[0]);
  });
  $("stop").addEventListener("click", stop);

  // A worker ready, and the tool compiled, before an image is chosen.
  function warm() {
    worker = startWorker();
    if (worker) worker.postMessage({ warm: true });
  }
  warm();
})();
