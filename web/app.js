// The page: takes an image from the file input or a drop, has the worker
// list and cut it, and shows the listing, the run's lines and the downloads.
// The latest choice wins: a choice, or Stop, drops whatever is under way.
"use strict";

(() => {
  const $ = (id) => document.getElementById(id);
  const workerSource = $("worker-source").textContent;
  let workerUrl = null;
  let worker = null;
  let running = null;  // the job under way in the worker: { reject }
  let reading = null;  // the FileReader of the image being read
  let shown = [];      // object URLs of the downloads shown, let go with them
  let current = null;  // the File shown, read again for another disk or a put
  let cutDisk = null;  // the disk cut, where the image holds the known one twice
  let entry = null;    // the image chosen in a zip that holds several
  let generation = 0;  // the latest choice; an earlier one shows nothing

  // A worker made from the page's own copy of its script; null where the
  // browser refuses one (some refuse workers from a page opened as a file).
  function startWorker() {
    try {
      workerUrl = workerUrl || URL.createObjectURL(new Blob([workerSource], { type: "text/javascript" }));
      return new Worker(workerUrl);
    } catch {
      return null;
    }
  }

  // A worker ready, and the tool compiled, before an image is chosen.
  function warm() {
    worker = startWorker();
    if (worker) worker.postMessage({ warm: true });
  }

  // The job on the page's own thread, when there is no worker.
  let ownThread = null;
  function runHere({ image, bytes, disk, files, entry, images }) {
    if (!ownThread) {
      ownThread = new Function(workerSource +
        "\nreturn { job: d88cutPageJob, put: d88cutPagePut, merge: d88cutPageMerge };")();
    }
    if (images) return ownThread.merge(images);
    return files ? ownThread.put(image, bytes, disk, files, entry) : ownThread.job(image, bytes, disk, entry);
  }

  // A cut ({ image, bytes, disk }) or a put (with files). The bytes go to
  // the worker, not a copy: the page keeps the File.
  function runJob(job) {
    if (!worker) return runHere(job);
    return new Promise((resolve, reject) => {
      running = { reject };
      worker.onmessage = (event) => {
        running = null;
        if (event.data.error) reject(new Error(event.data.error));
        else resolve(event.data.result);
      };
      worker.onerror = (event) => {
        running = null;
        reject(new Error(event.message || "the worker stopped"));
      };
      const moved = [job.files, job.images].flat().filter(Boolean).map((file) => file.bytes.buffer);
      worker.postMessage(job, job.bytes ? [job.bytes.buffer, ...moved] : moved);
    });
  }

  function readFile(file) {
    return new Promise((resolve, reject) => {
      const reader = new FileReader();
      reader.onload = () => resolve(new Uint8Array(reader.result));
      reader.onerror = () => reject(reader.error || new Error("the file could not be read"));
      reader.onabort = () => reject(new Error("stopped"));
      reader.readAsArrayBuffer(file);
      reading = reader;
    });
  }

  // Drops the choice under way: its reading, or its worker and what it held.
  function drop() {
    generation++;
    if (reading) reading.abort();
    reading = null;
    const job = running;
    running = null;
    if (job) {
      worker.terminate();
      warm();
      job.reject(new Error("stopped"));
    }
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
    for (const id of ["sentence", "lines", "disks", "downloads", "put-result"]) $(id).replaceChildren();
    $("lines-box").hidden = true;
    $("put-box").hidden = true;
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

  function working(on) {
    $("running").hidden = !on;
    // Stop can end only a worker, or a reading.
    $("stop").hidden = !worker;
  }

  // A merge's dumps: each image, and its disk image that is a dump.
  function showDumps(result) {
    const table = element("table");
    const head = table.createTHead().insertRow();
    for (const title of ["Dump", "Image", "Disk image"]) head.append(element("th", title));
    const body = table.createTBody();
    result.listing.dumps.forEach((dump, i) => {
      const row = body.insertRow();
      for (const text of [i + 1, dump.image, dump.disk]) row.append(element("td", String(text)));
    });
    $("disks").append(element("h2", "Dumps merged"), table);
  }

  function showDisks(result) {
    if (result.merge) return showDumps(result);
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
    const titles = ["File", "Bytes", "State", "CRC-32", "Where it falls short"].concat(result.merge ? ["From dumps"] : []);
    for (const title of titles.concat([""])) head.append(element("th", title));
    const body = table.createTBody();
    for (const file of disk.files) {
      const row = body.insertRow();
      row.className = file.state;
      const from = [...new Set(file.from.filter(Boolean))].join(", ") || "-";
      for (const text of [file.name, file.size, file.state, file.crc32 || "-", file.where].concat(result.merge ? [from] : [])) {
        row.append(element("td", String(text)));
      }
      const cell = element("td");
      if (cut.has(file.name)) {
        // Typed, so that no browser adds an extension of its own (.txt).
        const blob = new Blob([cut.get(file.name)], { type: "application/octet-stream" });
        cell.append(download(blob, file.name, "Download"));
      }
      row.append(cell);
    }
    const title = element("h2", result.merge ? "Files of the merge" : "Files of disk image " + result.disk);
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
    select.onchange = () => choose(current, Number(select.value), entry);
    label.append(select);
    $("disks").append(label);
  }

  // What the file holds beyond the disk cut, in the page's words.
  function shapeOf(listing, disk) {
    const said = [];
    if (disk.runsPastEnd) said.push("This disk image runs past the end of the file, which may have been cut short.");
    if (listing.trailing) {
      said.push("The file also holds " + listing.trailing.bytes + " bytes after its last disk image, which are no disk image.");
    }
    if (listing.moreDisks) said.push("It holds more than 64 disk images; only the first 64 were read.");
    if (listing.unreachableDisk !== null) said.push("A disk image past 2 GiB was not read.");
    return said.map((sentence) => " " + sentence).join("");
  }

  // The lines of the listing and of the cut, each line once.
  function lines(result) {
    const said = result.listed.err.split("\n").filter(Boolean);
    if (result.cut) {
      for (const line of (result.cut.out + result.cut.err).split("\n")) {
        if (line && !said.includes(line)) said.push(line);
      }
    }
    return said.join("\n");
  }

  // A zip of several files: the user says which is the disk image.
  function showEntries(result) {
    if (result.choices.length === 0) {
      say("This zip holds no file, so there is nothing to cut.", "bad");
      return;
    }
    say("This zip holds " + result.choices.length + " files; choose the disk image:", "");
    const list = element("ul");
    list.id = "entries";
    for (const path of result.choices) {
      const button = element("button", path);
      button.onclick = () => choose(current, null, path);
      const item = element("li");
      item.append(button);
      list.append(item);
    }
    $("disks").append(list);
  }

  function show(result) {
    clear();
    if (result.choices) return showEntries(result);
    const text = lines(result);
    if (text) {
      $("lines").textContent = text;
      $("lines-box").hidden = false;
    }
    if (result.listed.status === 1) {
      say("d88cut could not read this image to its end, so nothing was cut: see what it said below.", "bad");
      return;
    }
    if (!result.listing || !(result.merge || result.listing.looksLikeD88) || result.listing.disks.length === 0) {
      const empty = result.listing && result.listing.size === 0;
      say(empty ? "The file is empty."
        : "This file is not a D88 disk image, a raw 2D image or an IMD file, so there is nothing to cut.", "bad");
      return;
    }
    showDisks(result);
    if (!result.cut) {
      say("No disk image in this file is the known disk, so there is nothing to cut.", "bad");
      return;
    }
    showChoice(result);
    showFiles(result);
    const disk = result.listing.disks[result.disk - 1];
    const short = disk.files.filter((file) => file.state !== "whole" && file.state !== "contested");
    const contested = disk.files.filter((file) => file.state === "contested");
    const shape = result.merge ? "" : shapeOf(result.listing, disk);
    if (result.cut.status === 1) {
      say("The cut did not finish: see the lines below.", "bad");
    } else if (short.length === 0 && contested.length === 0) {
      say("All sixteen files were cut whole." + shape, shape ? "warn" : "good");
    } else {
      // Contested files are whole in every dump, but the dumps disagree.
      const damaged = short.length === 0 ? "" : short.length + " of the 16 files are not whole: " +
          short.map((file) => file.name + " (" + file.state + ")").join(", ") + ". ";
      const disputed = contested.length === 0 ? "" : contested.length + " " +
          (contested.length === 1 ? "file is" : "files are") + " contested, the dumps' clean copies differing: " +
          contested.map((file) => file.name).join(", ") + ". ";
      say(damaged + disputed + "The zip holds what could be cut." + shape, "warn");
    }
    if (result.zip) {
      $("downloads").append(download(result.zip, result.zipName, "Download all (zip)"));
    }
    cutDisk = result.known.length > 1 ? result.disk : null;
    $("put-box").hidden = result.cut.status === 1 || Boolean(result.merge);
  }

  // The put's outcome, and every line it said.
  function showPut(result) {
    const said = (result.out + result.err).split("\n").filter(Boolean).join("\n");
    const shown = [];
    if (result.unnamed) {
      shown.push(element("p", "None of the files chosen (" + result.unnamed.join(", ") + ") is named as d88cut names " +
                              "the files it cuts: " + result.names.join(", ") + ".", "bad"));
    } else if (result.bytes) {
      const blob = new Blob([result.bytes], { type: "application/octet-stream" });
      shown.push(element("p", "The files were put back, and read back as put.", "good"),
                 download(blob, result.name, "Download " + result.name));
    } else {
      shown.push(element("p", "Nothing was put back: see what d88cut said.", "bad"));
    }
    if (said) shown.push(element("pre", said));
    $("put-result").replaceChildren(...shown);
  }

  // Edited files, put back into a copy of the image shown.
  async function putBack(edited) {
    if (!current || edited.length === 0) return;
    drop();
    const mine = generation;
    working(true);
    $("put-result").replaceChildren(element("p", "Putting the files back ..."));
    try {
      const bytes = await readFile(current);
      const files = [];
      for (const file of edited) files.push({ name: file.name, bytes: await readFile(file) });
      reading = null;
      if (mine !== generation) return;
      const result = await runJob({ image: current.name, bytes, disk: cutDisk, files, entry });
      if (mine === generation) showPut(result);
    } catch (error) {
      if (mine === generation) $("put-result").replaceChildren(element("p", "The page could not put the files back: " + error.message, "bad"));
    } finally {
      if (mine === generation) working(false);
    }
  }

  // A choice, from the input, a drop or the disk chooser: it drops whatever
  // is under way and shows only its own result.
  async function choose(file, disk, path) {
    if (!file) return;
    drop();
    const mine = generation;
    current = file;
    entry = path || null;
    clear();
    working(true);
    say("Reading " + file.name + " ...", "");
    try {
      const bytes = await readFile(file);
      reading = null;
      if (mine !== generation) return;
      const result = await runJob({ image: file.name, bytes, disk: disk || null, entry });
      if (mine === generation) show(result);
    } catch (error) {
      if (mine !== generation) return;
      clear();
      say("The page could not read the image: " + error.message, "bad");
    } finally {
      if (mine === generation) working(false);
    }
  }

  // Several images chosen together: dumps of one disk, merged.
  async function merge(files) {
    drop();
    const mine = generation;
    current = null;
    entry = null;
    clear();
    working(true);
    say("Reading " + files.length + " images ...", "");
    try {
      const images = [];
      for (const file of files) images.push({ name: file.name, bytes: await readFile(file) });
      reading = null;
      if (mine !== generation) return;
      const result = await runJob({ images });
      if (mine === generation) show(result);
    } catch (error) {
      if (mine !== generation) return;
      clear();
      say("The page could not read the images: " + error.message, "bad");
    } finally {
      if (mine === generation) working(false);
    }
  }

  function stop() {
    if ($("running").hidden) return;
    drop();
    clear();
    working(false);
    say("Stopped; nothing was kept.", "bad");
  }

  $("image").addEventListener("change", () => {
    const files = [...$("image").files];
    // So that choosing the same file again (edited since) is a choice too.
    $("image").value = "";
    if (files.length > 1) merge(files);
    else choose(files[0], null);
  });
  const zone = $("drop");
  zone.addEventListener("dragover", (event) => { event.preventDefault(); zone.classList.add("over"); });
  zone.addEventListener("dragleave", () => zone.classList.remove("over"));
  zone.addEventListener("drop", (event) => {
    event.preventDefault();
    zone.classList.remove("over");
    const files = [...event.dataTransfer.files];
    if (files.length > 1) merge(files);
    else choose(files[0], null);
  });
  $("edited").addEventListener("change", () => {
    const edited = [...$("edited").files];
    $("edited").value = "";
    putBack(edited);
  });
  $("stop").addEventListener("click", stop);
  warm();
})();
