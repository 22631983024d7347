"use strict";
// The designer's page: everything it says about a file or a design comes from the plug-in's own
// code, compiled to WebAssembly above (check, simulate, the edits of a design's order, the writer
// of designed files, the catalogue and the minutes' reader); this script draws what it answers and
// forwards input.
//
// Index
//   the plug-in's calls: check, simulate, edit and write a design, read typed minutes; elements
//   2. what the plug-in makes of the file: the verdicts, the weathers, the line list
//   4. the timeline
//   3. the design: the weathers' boxes, minutes and Add again; the order with its start
//   a changed design: written, checked and simulated again
//   1. files the player brings: opened on a worker, saved
//   start-up

// One colour a weather, each apart from its neighbours and from the white page (bands are outlined).
const colours = ["#2e6fd0", "#4b2a7b", "#8d96a1", "#c08a3e", "#c9ced4", "#f2c94c", "#9ec3e6", "#5fae94", "#dde9f6", "#6f7fb8"];
const day = 24 * 3600;
const $ = (id) => document.getElementById(id);

let nubilo = null;
let facts = null;        // the catalogue, the minutes' range, the default design, the edits' codes
let design = null;       // {order: [catalogue index...], start: position, minutes: [10]}
let fileText = "";        // the file the design makes

// ---- the plug-in's calls --------------------------------------------------------------------

// The plug-in's answers are JSON whose strings carry the file's bytes one per character; shown
// as UTF-8 where they are, with a replacement character where they are not.
function bytesText(s) {
  return new TextDecoder("utf-8").decode(Uint8Array.from(s, (c) => c.charCodeAt(0) & 0xff));
}

function withBytes(bytes, call) {
  const at = nubilo._malloc(Math.max(bytes.length, 1));
  nubilo.HEAPU8.set(bytes, at);
  try {
    return JSON.parse(nubilo.UTF8ToString(call(at, bytes.length)));
  } finally {
    nubilo._free(at);
  }
}

const check = (bytes) => withBytes(bytes, (at, size) => nubilo._designerCheck(at, size));
const simulate = (bytes) => withBytes(bytes, (at, size) => nubilo._designerSimulate(at, size, day));

// A call that takes one string and answers JSON.
function ask(call, text) {
  const size = nubilo.lengthBytesUTF8(text) + 1;
  const at = nubilo._malloc(size);
  nubilo.stringToUTF8(text, at, size);
  try {
    return JSON.parse(nubilo.UTF8ToString(call(at)));
  } finally {
    nubilo._free(at);
  }
}

// A design goes over as plain numbers: the order, then the ten weathers' minutes.
const numbersOf = (d) => new Uint8Array(Int32Array.from([...d.order, ...d.minutes]).buffer);
// {text: the settings file, description: how the plug-in runs it}.
const write = (d) => withBytes(numbersOf(d), (at, size) => nubilo._designerWrite(at, size, d.order.length, d.start));
// The design after an edit of its order (one of facts.edits); the plug-in's code alone moves the start.
const edit = (d, kind, which, to = 0) => withBytes(numbersOf(d),
  (at, size) => nubilo._designerEdit(at, size, d.order.length, d.start, kind, which, to));
const readMinutes = (typed) => ask(nubilo._designerMinutes, typed);
const copy = (d) => structuredClone(d);

function element(tag, attributes = {}, ...children) {
  const made = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (name === "text") made.textContent = value;
    else if (name.startsWith("on")) made.addEventListener(name.slice(2), value);
    else if (value !== null) made.setAttribute(name, value);
  }
  made.append(...children);
  return made;
}

function swatch(index) {
  return element("span", { class: "swatch", style: `background:${colours[index]}`, "aria-hidden": "true" });
}

// ---- 2. what the plug-in makes of the file -------------------------------------------------

function showCheck(report, source) {
  $("source").textContent = source;
  $("encoding").textContent = report.encoding;
  const warnings = $("warnings");
  warnings.replaceChildren();
  for (const alert of report.alerts) {
    const jumps = (alert.lines ?? []).flatMap((line, i) => [i ? ", " : "", element("a", { href: `#line${line.number}`, text: line.text,
      onclick: (event) => { if (showLine) { event.preventDefault(); showLine(line.number); } } })]);
    warnings.append(element("p", { id: alert.kind === "note" ? null : alert.kind, class: alert.kind }, bytesText(alert.text), ...jumps));
  }

  $("cycle").textContent = bytesText(report.cycle);
  $("summary").tBodies[0].replaceChildren(...report.weathers.map((w, i) => element("tr", {},
    element("td", {}, swatch(i), w.name),
    element("td", { text: w.minutesText }),
    element("td", { text: w.marks ? String(w.marks) : "-" }),
    element("td", { text: w.star ? "*" : "" }))));
  $("lineCount").textContent = `${report.lineCount} ${report.lineCount === 1 ? "line" : "lines"}`;
  drawLines(report.lineRuns ?? report.lines.map((line) => ({ ...line, count: 1 })), report.lineCount);
  $("log").replaceChildren(...report.log.map((line) => element("li", { text: bytesText(line) })));
  $("conclusion").textContent = bytesText(report.conclusion);
}

// The line list: every row of a short file; of a long one only the rows in view, drawn as it
// scrolls (a browser holds no element millions of rows tall, so the scroll is scaled).
const rowHeight = 40;
let showLine = null;  // scrolls the list to a line number

function drawLines(runs, total) {
  const list = $("lines");
  list.onscroll = null;
  const row = (i, run, top) => element("li", { "data-line": i + 1, id: `line${i + 1}`, style: top === null ? null : `top:${top}px` },
    element("span", { class: "verdict", text: `line ${i + 1}: ${bytesText(run.verdict)}` }),
    element("span", { class: "shown", text: run.shown ? bytesText(run.shown) : "" }));
  const virtual = total > 2000;
  list.classList.toggle("virtual", virtual);
  list.replaceChildren();
  if (!virtual) {
    let i = 0;
    for (const run of runs) for (let k = 0; k < run.count; ++k) list.append(row(i++, run, null));
    showLine = null;
    return;
  }
  const starts = [];
  let n = 0;
  for (const run of runs) { starts.push(n); n += run.count; }
  const runAt = (i) => {
    let low = 0, high = starts.length - 1;
    while (low < high) { const mid = (low + high + 1) >> 1; if (starts[mid] <= i) low = mid; else high = mid - 1; }
    return runs[low];
  };
  const drawn = Math.min(total * rowHeight, 4e6);
  const filler = element("li", { class: "filler", "aria-hidden": "true", style: `height:${drawn}px` });
  // The scroll's share of its way picks the first row in view; the rows in view follow it.
  const inView = () => Math.ceil(list.clientHeight / rowHeight);
  const draw = () => {
    const room = Math.max(drawn - list.clientHeight, 1);
    const first = Math.round(Math.min(list.scrollTop / room, 1) * Math.max(total - inView(), 0));
    const rows = [filler];
    for (let i = first, k = 0; i < total && k < inView() + 1; ++i, ++k) rows.push(row(i, runAt(i), list.scrollTop + k * rowHeight));
    list.replaceChildren(...rows);
  };
  showLine = (number) => {
    list.scrollTop = ((number - 1) / Math.max(total - inView(), 1)) * Math.max(drawn - list.clientHeight, 1);
    draw();
  };
  list.onscroll = draw;
  list.scrollTop = 0;
  draw();
}

// ---- 4. the timeline -----------------------------------------------------------------------

function showTimeline(simulation) {
  const svg = $("timeline");
  const ns = "http://www.w3.org/2000/svg";
  const make = (tag, attributes) => {
    const made = document.createElementNS(ns, tag);
    for (const [name, value] of Object.entries(attributes)) made.setAttribute(name, value);
    return made;
  };
  svg.replaceChildren();
  const x = (seconds) => (seconds / day) * 1000;
  for (const [b, band] of simulation.bands.entries()) {
    const index = facts.weathers.indexOf(band.weather);
    const times = simulation.labels[b];
    const label = `${band.weather}, ${times.from} to ${times.to} (${times.lasts})`;
    const rect = make("rect", {
      class: "band", x: x(band.start), y: 8, width: Math.max(x(band.end) - x(band.start), 0.5), height: 44,
      fill: index >= 0 ? colours[index] : "#000", tabindex: 0, role: "img", "aria-label": label,
      "data-weather": band.weather, "data-start": band.start, "data-end": band.end,
    });
    const title = make("title", {});
    title.textContent = label;
    rect.append(title);
    const tell = () => { $("bandInfo").textContent = label; };
    rect.addEventListener("mouseenter", tell);
    rect.addEventListener("focus", tell);
    svg.append(rect);
    if (x(band.end) - x(band.start) > 46) {
      const text = make("text", { x: x(band.start) + 3, y: 34, "font-size": 11, fill: "#1d2430", "pointer-events": "none" });
      text.textContent = band.weather;
      svg.append(text);
    }
  }
  // Hour labels readable at any width: about 11 px on screen, fewer of them on a narrow one, the
  // first and the last kept inside the drawing.
  const scale = 1000 / Math.max(svg.clientWidth || 1000, 1);
  const step = scale > 2 ? 6 : scale > 1.2 ? 4 : 2;
  for (let hour = 0; hour <= 24; hour += step) {
    svg.append(make("line", { x1: x(hour * 3600), x2: x(hour * 3600), y1: 54, y2: 60, stroke: "#5a6473" }));
    const anchor = hour === 0 ? "start" : hour === 24 ? "end" : "middle";
    const text = make("text", { x: Math.min(Math.max(x(hour * 3600), 2), 998), y: 60 + 14 * Math.max(scale, 1), "font-size": 11 * Math.max(scale, 1), "text-anchor": anchor, fill: "#5a6473" });
    text.textContent = `${String(hour).padStart(2, "0")}:00`;
    text.classList.add("hour");
    svg.append(text);
  }
  svg.setAttribute("viewBox", `0 0 1000 ${Math.ceil(64 + 18 * Math.max(scale, 1))}`);
  $("bands").replaceChildren(...simulation.bands.map((band, b) =>
    element("li", { text: `${simulation.labels[b].from}  ${band.weather} (${simulation.labels[b].lasts})` })));
}

// ---- 3. the design ---------------------------------------------------------------------------

function renderDesign() {
  const body = $("weathers").tBodies[0];
  body.replaceChildren(...facts.weathers.map((name, i) => {
    const inCycle = design.order.includes(i);
    const box = element("input", { type: "checkbox", id: `in${i}`, "aria-label": `${name} in the cycle`,
      onchange: (event) => {
        if (!event.target.checked) {
          if (!adopt(edit(design, facts.edits.removeWeather, i))) event.target.checked = true;
          return;
        }
        design.order.push(i);
        changed();
      } });
    box.checked = inCycle;
    // Read by the plug-in's own reader: what it would reject is said beside the box and changes nothing.
    const minutesNote = element("span", { id: `minutesNote${i}`, class: "minutesNote", role: "status" });
    const minutes = element("input", { type: "text", inputmode: "numeric", id: `minutes${i}`, value: design.minutes[i],
      size: 5, "aria-label": `${name} minutes`, "aria-describedby": `minutesNote${i}`,
      onchange: (event) => {
        const read = readMinutes(event.target.value);
        if (!read.ok) {
          minutesNote.textContent = read.reason;
          return;
        }
        design.minutes[i] = read.minutes;
        changed();
        $(`minutesNote${i}`).textContent = read.note;
      } });
    const again = element("button", { type: "button", id: `again${i}`, text: "Add again", "aria-label": `Add again: ${name}`,
      onclick: () => { design.order.push(i); changed(); } });
    return element("tr", {}, element("td", {}, swatch(i), element("label", { for: `in${i}`, text: name })),
      element("td", {}, box), element("td", {}, minutes, minutesNote), element("td", {}, again));
  }));
  renderOrder();
  $("designNote").textContent = written.description;
}

// The cycle's entries, to reorder by buttons or dragging, with the start among them.
function renderOrder() {
  let dragged = null;
  // The focus follows the moved entry to its new place.
  const move = (from, to, button) => {
    if (to < 0 || to >= design.order.length || from === to) return;  // an arrow past either end
    adopt(edit(design, facts.edits.moveEntry, from, to), `${button}${to}`);
  };
  $("order").replaceChildren(...design.order.map((index, position) => {
    const name = facts.weathers[index];
    const start = element("input", { type: "radio", name: "start", id: `start${position}`, "aria-label": `Start with ${name} (entry ${position + 1})`,
      onchange: () => { design.start = position; changed(); } });
    start.checked = position === design.start;
    const item = element("li", { draggable: "true", "data-weather": name },
      element("span", { class: "name" }, swatch(index), `${position + 1}. ${name}`, element("span", { class: "muted", text: ` ${design.minutes[index]} min` })),
      element("label", {}, start, " start"),
      element("button", { type: "button", id: `up${position}`, text: "\u2191", "aria-label": `Move ${name} (entry ${position + 1}) up`, onclick: () => move(position, position - 1, "up") }),
      element("button", { type: "button", id: `down${position}`, text: "\u2193", "aria-label": `Move ${name} (entry ${position + 1}) down`, onclick: () => move(position, position + 1, "down") }),
      element("button", { type: "button", id: `remove${position}`, text: "\u2715", "aria-label": `Remove ${name} (entry ${position + 1})`,
        onclick: () => adopt(edit(design, facts.edits.removeEntry, position), `remove${Math.max(0, position - 1)}`) }));
    item.addEventListener("dragstart", () => { dragged = position; item.classList.add("dragging"); });
    item.addEventListener("dragend", () => item.classList.remove("dragging"));
    item.addEventListener("dragover", (event) => event.preventDefault());
    item.addEventListener("drop", (event) => { event.preventDefault(); if (dragged !== null) move(dragged, position); });
    return item;
  }));
}

const encoder = new TextEncoder();

let written = { text: "", description: "" };  // what the plug-in's writer made of the design

// ---- a changed design -----------------------------------------------------------------------

// An edited design becomes the design, unless the plug-in's writer refuses it (it writes nothing
// for what is no cycle: the last weather removed); then the player is told and nothing changes.
function adopt(next, focusId) {
  if (!write(next).text) {
    $("status").textContent = facts.lastWeather;
    return false;
  }
  design = next;
  changed(focusId);
  return true;
}

// The design changed: its file becomes the file shown, checked and simulated. The controls are
// drawn anew, and the focus goes back to the control the player used (or the one named).
function changed(focusId) {
  const keep = focusId ?? document.activeElement?.id;
  written = write(design);
  fileText = written.text;
  renderDesign();
  $("designed").textContent = fileText;
  const bytes = encoder.encode(fileText);
  showCheck(check(bytes).check, "the designed file");
  showTimeline(simulate(bytes));
  const control = keep ? document.getElementById(keep) : null;
  if (control && control !== document.activeElement) control.focus();
}

// ---- 1. files the player brings ---------------------------------------------------------------

// A file the player brings is shown as the plug-in reads it, and the design starts from what the
// plug-in makes of it. It is checked and simulated by a second copy of the plug-in's code on a
// worker thread, so the page stays responsive however big it is; a newer file stops an older one.
const sizeLimit = 16 * 1024 * 1024;
let worker = null;
let opening = 0;  // the open whose answer is awaited
let busy = false;  // the worker is at an older file

function makeWorker() {
  const source = `${$("nubiloModule").textContent}
const ready = createNubilo();
onmessage = async ({ data }) => {
  try {
    const nubilo = await ready;
    const call = (fn, ...more) => {
      const at = nubilo._malloc(Math.max(data.bytes.length, 1));
      nubilo.HEAPU8.set(data.bytes, at);
      try { return JSON.parse(nubilo.UTF8ToString(fn(at, data.bytes.length, ...more))); } finally { nubilo._free(at); }
    };
    const answer = call(nubilo._designerCheck);
    postMessage({ id: data.id, answer, simulation: call(nubilo._designerSimulate, data.seconds) });
  } catch (error) {
    postMessage({ id: data.id, error: String((error && error.message) || error) });
  }
};`;
  try {
    return new Worker(URL.createObjectURL(new Blob([source], { type: "text/javascript" })));
  } catch {
    return null;  // no workers here: the page's own copy does the work
  }
}

// What the plug-in said about the file: shown whole, or a failure shown alone.
function showOpened(name, bytes, answer, simulation, started) {
  showCheck(answer.check, name);
  design = answer.design;
  written = write(design);
  fileText = written.text;
  renderDesign();
  $("designed").textContent = fileText;
  showTimeline(simulation);
  $("status").textContent = `Read ${name}: ${bytes.length} bytes, checked in ${Math.round(performance.now() - started)} ms.`;
}

function showFailure(name, message) {
  for (const id of ["warnings", "lines", "log", "bands", "timeline"]) $(id).replaceChildren();
  for (const id of ["cycle", "conclusion", "encoding", "lineCount", "bandInfo"]) $(id).textContent = "";
  $("summary").tBodies[0].replaceChildren();
  $("source").textContent = name;
  $("status").textContent = `Could not check ${name}: ${message}`;
}

function open(name, bytes) {
  if (bytes.length > sizeLimit) {
    $("status").textContent = `${name} is ${bytes.length} bytes: far too big to be a settings file (at most ${sizeLimit} bytes). Nothing was read.`;
    return;
  }
  const started = performance.now();
  const id = ++opening;
  // A file still being checked gives way to the newer one.
  if (worker && busy) { worker.terminate(); worker = null; }
  if (!worker) worker = makeWorker();
  if (!worker) {
    showOpened(name, bytes, check(bytes), simulate(bytes), started);
    return;
  }
  $("status").textContent = `Checking ${name}…`;
  const progress = setInterval(() => {
    if (id !== opening) return clearInterval(progress);
    $("progress").hidden = false;
    $("progressText").textContent = `Checking ${name} (${bytes.length} bytes): ${((performance.now() - started) / 1000).toFixed(1)} s`;
  }, 500);
  const done = () => { busy = false; clearInterval(progress); $("progress").hidden = true; };
  worker.onmessage = ({ data }) => {
    if (data.id !== id) return;
    done();
    if (data.error) showFailure(name, data.error);
    else showOpened(name, bytes, data.answer, data.simulation, started);
  };
  worker.onerror = (event) => {
    event.preventDefault();
    if (id !== opening) return;
    done();
    worker.terminate();
    worker = null;
    showFailure(name, event.message || "the check stopped");
  };
  busy = true;
  worker.postMessage({ id, bytes, seconds: day });
}

async function openFile(file) {
  if (!file) return;
  if (file.size > sizeLimit) {
    $("status").textContent = `${file.name} is ${file.size} bytes: far too big to be a settings file (at most ${sizeLimit} bytes). Nothing was read.`;
    return;
  }
  open(file.name, new Uint8Array(await file.arrayBuffer()));
}

function save() {
  const link = element("a", { href: URL.createObjectURL(new Blob([fileText], { type: "text/plain" })), download: "Nubilo.ini" });
  document.body.append(link);
  link.click();
  link.remove();
  $("status").textContent = "Saved Nubilo.ini: put it in the game folder, beside Nubilo.asi.";
}

function wire() {
  $("fileInput").addEventListener("change", async (event) => {
    await openFile(event.target.files[0]);
    event.target.value = "";  // the same file, fixed in Notepad and picked again, is read again
  });
  $("defaultsButton").addEventListener("click", () => {
    design = copy(facts.defaultDesign);
    changed();
  });
  $("pasteButton").addEventListener("click", () => open("the pasted text", encoder.encode($("pasteText").value)));
  $("saveButton").addEventListener("click", save);
  const drop = $("drop");
  document.addEventListener("dragover", (event) => {
    if (event.dataTransfer && [...event.dataTransfer.types].includes("Files")) { event.preventDefault(); drop.classList.add("over"); }
  });
  document.addEventListener("dragleave", () => drop.classList.remove("over"));
  document.addEventListener("drop", (event) => {
    if (!event.dataTransfer || !event.dataTransfer.files.length) return;
    event.preventDefault();
    drop.classList.remove("over");
    openFile(event.dataTransfer.files[0]);
  });
}

// ---- start-up ---------------------------------------------------------------------------------

createNubilo().then((module) => {
  nubilo = module;
  facts = JSON.parse(nubilo.UTF8ToString(nubilo._designerFacts()));
  wire();
  design = copy(facts.defaultDesign);
  changed();
  $("status").textContent = "Ready: open your Nubilo.ini, or design a cycle below (it starts from Nubilo's defaults).";
  document.body.dataset.ready = "true";
}, (error) => {
  $("status").textContent = "This browser could not start the designer: " + error;
  $("status").className = "error";
});
