// The designer page's size and speed, in Debian's chromium from file://: the page file's size,
// the time to ready, a 24-hour timeline recomputed after an edit, a 1 MB settings file checked, and
// long files opened until their verdict shows.
// Medians of several runs; run by scripts/bench.sh after the page is built.
import { statSync } from "node:fs";
import path from "node:path";
import { pathToFileURL, fileURLToPath } from "node:url";
import { launch } from "../tests/browser/driver.mjs";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "..");
const pagePath = process.env.NUBILO_DESIGNER ?? path.join(root, "build/designer/Nubilo Designer.html");
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

const browser = await launch("chromium");
const ready = [];
const recompute = [];
const bigCheck = [];
const longShown = [];
const blankShown = [];
let longText = "[Settings]\n";
for (let i = 1; i < 100000; ++i) longText += `Set ${["Rain", "Fog", "Clear"][i % 3]} Time = ${1 + (i % 1440)} ; line ${i + 1}\n`;
for (let run = 0; run < 5; ++run) {
  const page = await browser.newPage();
  await page.setViewport({ width: 1280, height: 720 });
  const started = Date.now();
  await page.goto(pathToFileURL(pagePath).href);
  await page.waitForSelector("body[data-ready=true]");
  ready.push(Date.now() - started);
  // An edit: one weather's minutes, then the file, the check and the day's timeline anew.
  recompute.push(await page.evaluate(() => {
    const begun = performance.now();
    design.minutes[0] = 17 + Math.floor(Math.random() * 100);
    changed();
    return performance.now() - begun;
  }));
  bigCheck.push(await page.evaluate(() => {
    let text = "[Settings]\n";
    for (let i = 0; text.length < 1024 * 1024; ++i) text += `Set ${["Rain", "Fog", "Clear"][i % 3]} Time = ${1 + (i % 1440)} ; line ${i}\n`;
    const bytes = new TextEncoder().encode(text);
    const begun = performance.now();
    const answer = check(bytes);
    if (answer.check.lineCount < 1000) throw new Error("short check");
    return performance.now() - begun;
  }));
  // A file the player opens, until its verdict is shown: 100,000 lines, and 16 MB of blank lines.
  for (const [samples, text] of [[longShown, longText], [blankShown, "\n".repeat(16 * 1024 * 1024)]])
    samples.push(await page.evaluate((text) => new Promise((done) => {
      const name = `bench-${Math.random()}.ini`;
      const begun = performance.now();
      open(name, new TextEncoder().encode(text));
      const wait = () => (document.getElementById("source").textContent === name ? done(performance.now() - begun) : setTimeout(wait, 5));
      wait();
    }), text));
  await page.close();
}
await browser.close();

const size = statSync(pagePath).size;
const rows = [
  ["Nubilo Designer.html", `${(size / 1024).toFixed(0)} KiB`, "under 1.5 MB"],
  ["page ready from file://", `${median(ready)} ms`, "under 1 s"],
  ["24-hour timeline after an edit (write, check, simulate, draw)", `${median(recompute).toFixed(1)} ms`, "under 150 ms"],
  ["1 MB settings file checked", `${median(bigCheck).toFixed(0)} ms`, "under 1 s"],
  ["100,000-line file opened and shown (worker)", `${median(longShown).toFixed(0)} ms`, "under 1 s"],
  ["16 MB of blank lines opened and shown (worker)", `${median(blankShown).toFixed(0)} ms`, "under 5 s"],
];
for (const [what, value, target] of rows) console.log(`${what.padEnd(64)} ${value.padStart(10)}   (target ${target})`);
