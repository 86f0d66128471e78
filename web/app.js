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
  let language = "en";  // the page's words: d88cutWords[language]
  let lastShown = null; // the result shown, and the put's, shown again in another language
  let lastPut = null;
  const w = () => d88cutWords[language];

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
    for (const id of ["sentence", "lines", "disks", "map", "downloads", "put-result"]) $(id).replaceChildren();
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
    const c = w().columns;
    for (const title of [c.dump, c.image, c.diskImage]) head.append(element("th", title));
    const body = table.createTBody();
    result.listing.dumps.forEach((dump, i) => {
      const row = body.insertRow();
      for (const text of [i + 1, dump.image, dump.disk]) row.append(element("td", String(text)));
    });
    $("disks").append(element("h2", w().dumps), table);
  }

  function showDisks(result) {
    if (result.merge) return showDumps(result);
    const table = element("table");
    const head = table.createTHead().insertRow();
    const c = w().columns;
    for (const title of [c.disk, c.media, c.size, c.name, c.known]) head.append(element("th", title));
    const body = table.createTBody();
    for (const disk of result.listing.disks) {
      const row = body.insertRow();
      for (const text of [disk.disk, disk.mediaName, disk.size, disk.name, disk.known ? w().yes : w().no]) {
        row.append(element("td", String(text)));
      }
      if (disk.known) row.className = "known";
    }
    $("disks").append(element("h2", w().disks), table);
  }

  function showFiles(result) {
    const disk = result.listing.disks[result.disk - 1];
    const cut = new Map(result.files.map((file) => [file.name, file.bytes]));
    const table = element("table");
    table.id = "files";
    const head = table.createTHead().insertRow();
    const c = w().columns;
    const titles = [c.file, c.bytes, c.state, c.crc, c.where].concat(result.merge ? [c.from] : []);
    for (const title of titles.concat([""])) head.append(element("th", title));
    const body = table.createTBody();
    for (const file of disk.files) {
      const row = body.insertRow();
      row.className = file.state;
      row.dataset.file = file.name;
      row.onclick = () => mark(file.name);
      const from = [...new Set(file.from.filter(Boolean))].join(", ") || "-";
      const state = w().states[file.state] || file.state;
      for (const text of [file.name, file.size, state, file.crc32 || "-", file.where].concat(result.merge ? [from] : [])) {
        row.append(element("td", String(text)));
      }
      const cell = element("td");
      if (cut.has(file.name)) {
        // Typed, so that no browser adds an extension of its own (.txt).
        const blob = new Blob([cut.get(file.name)], { type: "application/octet-stream" });
        cell.append(download(blob, file.name, w().download));
      }
      row.append(cell);
    }
    const title = element("h2", result.merge ? w().filesOfMerge : w().filesOf(result.disk));
    $("disks").append(title, table);
  }

  function showChoice(result) {
    if (result.known.length < 2) return;
    const label = element("label", w().knownTwice(result.known.length));
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
    if (disk.runsPastEnd) said.push(w().runsPast);
    if (listing.trailing) said.push(w().trailing(listing.trailing.bytes));
    if (listing.moreDisks) said.push(w().moreDisks);
    if (listing.unreachableDisk !== null) said.push(w().unreachable);
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
      say(w().zipNone, "bad");
      return;
    }
    say(w().zipChoose(result.choices.length), "");
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

  // The map: the 80 tracks across, sectors 1 to 17 down, a square a sector
  // with a title that names it; a legend under it. A square and the file's
  // row mark each other.
  const cellClass = { ".": "whole", s: "short", "-": "missing", f: "flagged", c: "contested", o: "other", " ": "none" };
  function showMap(result) {
    if (!result.map) return;
    const ns = "http://www.w3.org/2000/svg";
    const svgElement = (tag, attributes) => {
      const made = document.createElementNS(ns, tag);
      for (const [name, value] of Object.entries(attributes)) made.setAttribute(name, String(value));
      return made;
    };
    const step = 11;
    const svg = svgElement("svg", { viewBox: "0 0 " + 80 * step + " " + 17 * step, role: "img" });
    const half = svgElement("pattern", { id: "half", width: 1, height: 1, patternContentUnits: "objectBoundingBox" });
    half.append(svgElement("rect", { width: 1, height: 0.5, fill: "#e69f00", stroke: "none" }));
    const defs = svgElement("defs", {});
    defs.append(half);
    svg.append(defs);
    for (let track = 0; track < 80; track++) {
      for (let r = 1; r <= 17; r++) {
        const cell = result.map[track][r - 1];
        const file = cell === "o" || cell === " " ? null : result.cover[track][r - 1];
        const square = svgElement("rect", { x: track * step, y: (r - 1) * step, width: 10, height: 10,
                                            class: "c-" + cellClass[cell] });
        const title = svgElement("title", {});
        title.textContent = w().sector(track, r, file, w().cells[cell]);
        square.append(title);
        if (file) {
          square.dataset.file = file;
          square.onclick = () => mark(file);
        }
        svg.append(square);
      }
    }
    const legend = element("div", undefined, "legend");
    for (const [cell, name] of Object.entries(cellClass)) {
      const swatch = svgElement("svg", { viewBox: "0 0 10 10", width: 12, height: 12 });
      swatch.append(svgElement("rect", { width: 10, height: 10, class: "c-" + name }));
      const item = element("span", " " + w().cells[cell]);
      item.prepend(swatch);
      legend.append(item);
    }
    $("map").append(element("h2", w().map), svg, legend);
  }

  function mark(name) {
    for (const marked of document.querySelectorAll("#map rect, #files tbody tr")) {
      marked.classList.toggle("marked", marked.dataset.file === name);
    }
  }

  // The page's words in `chosen`, kept for the next visit where the browser
  // allows; what is shown is shown again in them.
  function setLanguage(chosen) {
    language = chosen;
    document.documentElement.lang = chosen;
    for (const text of document.querySelectorAll("[data-t]")) text.textContent = w()[text.dataset.t];
    try {
      localStorage.setItem("d88cut-language", chosen);
    } catch {
      // A page opened from a file may have no storage.
    }
    const put = lastPut;
    if (lastShown && $("running").hidden) {
      show(lastShown);
      if (put) showPut(put);
    }
  }

  function show(result) {
    clear();
    lastShown = result;
    lastPut = null;
    if (result.choices) return showEntries(result);
    const text = lines(result);
    if (text) {
      $("lines").textContent = text;
      $("lines-box").hidden = false;
    }
    if (result.listed.status === 1) {
      say(w().notReadToEnd, "bad");
      return;
    }
    if (!result.listing || !(result.merge || result.listing.looksLikeD88) || result.listing.disks.length === 0) {
      const empty = result.listing && result.listing.size === 0;
      say(empty ? w().empty : w().notD88, "bad");
      return;
    }
    showDisks(result);
    if (!result.cut) {
      say(w().noKnown, "bad");
      return;
    }
    showChoice(result);
    showFiles(result);
    showMap(result);
    const disk = result.listing.disks[result.disk - 1];
    const short = disk.files.filter((file) => file.state !== "whole" && file.state !== "contested");
    const contested = disk.files.filter((file) => file.state === "contested");
    const shape = result.merge ? "" : shapeOf(result.listing, disk);
    if (result.cut.status === 1) {
      say(w().cutNotFinished, "bad");
    } else if (short.length === 0 && contested.length === 0) {
      say(w().allWhole + shape, shape ? "warn" : "good");
    } else {
      // Contested files are whole in every dump, but the dumps disagree.
      const damaged = short.length === 0 ? "" : w().notWhole(short.length,
        short.map((file) => file.name + " (" + (w().states[file.state] || file.state) + ")").join(", "));
      const disputed = contested.length === 0 ? "" : w().contested(contested.length,
        contested.map((file) => file.name).join(", "));
      say(damaged + disputed + w().zipHolds + shape, "warn");
    }
    if (result.zip) {
      $("downloads").append(download(result.zip, result.zipName, w().downloadAll));
    }
    cutDisk = result.known.length > 1 ? result.disk : null;
    $("put-box").hidden = result.cut.status === 1 || Boolean(result.merge);
  }

  // The put's outcome, and every line it said.
  function showPut(result) {
    lastPut = result;
    const said = (result.out + result.err).split("\n").filter(Boolean).join("\n");
    const shown = [];
    if (result.unnamed) {
      shown.push(element("p", w().unnamed(result.unnamed.join(", "), result.names.join(", ")), "bad"));
    } else if (result.bytes) {
      const blob = new Blob([result.bytes], { type: "application/octet-stream" });
      shown.push(element("p", w().putDone, "good"), download(blob, result.name, w().downloadNamed(result.name)));
    } else {
      shown.push(element("p", w().putNothing, "bad"));
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
    $("put-result").replaceChildren(element("p", w().putting));
    try {
      const bytes = await readFile(current);
      const files = [];
      for (const file of edited) files.push({ name: file.name, bytes: await readFile(file) });
      reading = null;
      if (mine !== generation) return;
      const result = await runJob({ image: current.name, bytes, disk: cutDisk, files, entry });
      if (mine === generation) showPut(result);
    } catch (error) {
      if (mine === generation) $("put-result").replaceChildren(element("p", w().putFailed(error.message), "bad"));
    } finally {
      if (mine === generation) working(false);
    }
  }

  // A choice, from the input, a drop or the disk chooser: it drops whatever
  // is under way and shows only its own result.
  function choose(file, disk, path) {
    if (!file) return;
    current = file;
    entry = path || null;
    return runChoice(w().reading(file.name), [file], w().couldNotRead,
                     (read) => ({ image: file.name, bytes: read[0].bytes, disk: disk || null, entry }));
  }

  // Several images chosen together: dumps of one disk, merged.
  function merge(files) {
    current = null;
    entry = null;
    return runChoice(w().readingMany(files.length), files, w().couldNotReadMany, (read) => ({ images: read }));
  }

  // Reads the files chosen, runs the job made of them, and shows its result
  // unless a later choice came meanwhile.
  async function runChoice(sentence, files, failed, job) {
    drop();
    const mine = generation;
    clear();
    working(true);
    say(sentence, "");
    try {
      const read = [];
      for (const file of files) read.push({ name: file.name, bytes: await readFile(file) });
      reading = null;
      if (mine !== generation) return;
      const result = await runJob(job(read));
      if (mine === generation) show(result);
    } catch (error) {
      if (mine !== generation) return;
      clear();
      say(failed(error.message), "bad");
    } finally {
      if (mine === generation) working(false);
    }
  }

  function stop() {
    if ($("running").hidden) return;
    drop();
    clear();
    working(false);
    say(w().stopped, "bad");
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
  $("language").addEventListener("click", () => setLanguage(language === "ja" ? "en" : "ja"));
  let stored = null;
  try {
    stored = localStorage.getItem("d88cut-language");
  } catch {
    // No storage: the browser's preference.
  }
  setLanguage(stored === "ja" || stored === "en" ? stored : d88cutLanguage(navigator.languages));
  warm();
})();
