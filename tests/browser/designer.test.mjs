// The designer page in Debian's chromium, loaded from file:// as a player opens it: what it says
// about every corpus file equals `nubilo check`, the cycles designed by clicking are the ones the
// plug-in runs, and its timeline is `nubilo simulate` to the second.
//
// Index
//   the page and the tool: opening it, running nubilo, reading what the page shows
//   the tests, once per browser: corpus files, the timeline, designs by clicking, editing a loaded
//   file, the start after each control's edit, sizes and keyboard, pasting, the verdicts a player
//   acts on, typed minutes, accessibility, long and odd files
import { test, describe, before, after } from "node:test";
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { mkdtempSync, readdirSync, readFileSync, writeFileSync, mkdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { pathToFileURL, fileURLToPath } from "node:url";
import { browserNames, launch, wrap } from "./driver.mjs";

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const axeScript = path.join(root, "node_modules/axe-core/axe.min.js");
const tool = process.env.NUBILO_TOOL ?? path.join(root, "build/default/tools/nubilo");
const pagePath = process.env.NUBILO_DESIGNER ?? path.join(root, "build/designer/Nubilo Designer.html");
const corpus = path.join(root, "tests/corpus");
const shots = path.join(root, "build/designer");
const scratch = mkdtempSync(path.join(tmpdir(), "nubilo-designer-"));

let browser;
let browserName = "";

after(() => rmSync(scratch, { recursive: true, force: true }));

async function openPage(viewport = { width: 1280, height: 720 }) {
  const context = await browser.createBrowserContext();
  const page = await context.newPage();
  await page.setViewport(viewport);
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  // Offline from file://: any request beyond the page itself is a fault.
  const requests = [];
  page.on("request", (request) => { if (!request.url().startsWith("file:") && !request.url().startsWith("blob:") && !request.url().startsWith("data:")) requests.push(request.url()); });
  await page.goto(pathToFileURL(pagePath).href);
  await page.waitForSelector("body[data-ready=true]", { timeout: 15000 });
  return { page: wrap(page), context, errors, requests };
}

// The tool's JSON carries the file's bytes one per character; the page shows them as UTF-8.
const asShown = (s) => new TextDecoder().decode(Uint8Array.from(s, (c) => c.charCodeAt(0) & 0xff));

function run(args) {
  try {
    return { status: 0, out: execFileSync(tool, args, { encoding: "latin1" }) };
  } catch (failed) {
    return { status: failed.status, out: failed.stdout };
  }
}

const checkJson = (file) => {
  const result = run(["check", "--json", file]);
  return { status: result.status, report: JSON.parse(result.out) };
};
const simulateJson = (file, hours = 24) => JSON.parse(run(["simulate", "--json", "--hours", String(hours), "--settings", file]).out);

async function shownReport(page) {
  return page.evaluate(() => ({
    source: document.getElementById("source").textContent,
    encoding: document.getElementById("encoding").textContent,
    verdicts: [...document.querySelectorAll("#lines .verdict")].map((e) => e.textContent),
    shown: [...document.querySelectorAll("#lines .shown")].map((e) => e.textContent),
    cycle: document.getElementById("cycle").textContent,
    log: [...document.querySelectorAll("#log li")].map((e) => e.textContent),
    weathers: [...document.querySelectorAll("#summary tbody tr")].map((row) => [...row.cells].map((c) => c.textContent)),
    stuck: document.getElementById("stuck") !== null,
    wouldReplace: document.getElementById("wouldReplace") !== null,
    conclusion: document.getElementById("conclusion").textContent,
  }));
}

async function shownBands(page) {
  return page.evaluate(() => [...document.querySelectorAll("#timeline rect.band")].map((rect) => ({
    weather: rect.dataset.weather, start: Number(rect.dataset.start), end: Number(rect.dataset.end),
  })));
}

const bandsOf = (simulation) => simulation.bands.map(({ weather, start, end }) => ({ weather, start, end }));


function defineTests() {
  test("every corpus file: the page says what nubilo check says", async () => {
    const { page, context, errors, requests } = await openPage();
    const files = readdirSync(corpus).sort();
    assert.ok(files.length >= 20);
    for (const name of files) {
      const file = path.join(corpus, name);
      await page.setInputFiles("#fileInput", file);
      await page.waitForFunction((n) => document.getElementById("source").textContent === n, name);
      const shown = await shownReport(page);
      const { status, report } = checkJson(file);
      const message = `for ${name}`;
      assert.equal(shown.encoding, report.encoding, message);
      assert.deepEqual(shown.verdicts, report.lines.map((line, i) => `line ${i + 1}: ${asShown(line.verdict)}`), message);
      assert.deepEqual(shown.shown, report.lines.map((line) => asShown(line.shown)), message);
      assert.equal(shown.cycle, asShown(report.cycle), message);
      assert.deepEqual(shown.log, report.log.map(asShown), message);
      assert.deepEqual(shown.weathers.map((row) => row[0]), report.weathers.map((w) => w.name), message);
      assert.deepEqual(shown.weathers.map((row) => row[2]), report.weathers.map((w) => (w.marks ? String(w.marks) : "-")), message);
      assert.equal(shown.stuck, report.stuck, message);
      assert.equal(shown.wouldReplace, report.wouldReplace, message);
      assert.equal(shown.wouldReplace, status === 1, message);
      assert.equal(shown.conclusion, asShown(report.conclusion), message);
    }
    assert.deepEqual(errors, []);
    assert.deepEqual(requests, []);
    await context.close();
  });
  
  test("the default file's timeline is nubilo simulate's, to the second", async () => {
    const { page, context } = await openPage();
    const file = path.join(corpus, "default.ini");
    await page.setInputFiles("#fileInput", file);
    await page.waitForFunction(() => document.getElementById("source").textContent === "default.ini");
    const bands = await shownBands(page);
    assert.deepEqual(bands, bandsOf(simulateJson(file)));
    assert.equal(bands[0].weather, "Clear");
    assert.equal(bands[1].start, 1801);  // 30 minutes, and the second the reload takes
    assert.equal(bands.at(-1).end, 86400);
    // Hovering a band names it with its start and end.
    await page.hover("#timeline rect.band >> nth=1");
    assert.equal(await page.textContent("#bandInfo"), "Snow, 00:30:01 to 01:00:02 (30m 1s)");
    await context.close();
  });
  
  // What the page hands the browser to save: the name and the bytes of the download link it clicks.
  async function saveDesign(page, name) {
    await page.evaluate(() => {
      window.savedDesign = null;
      const click = HTMLAnchorElement.prototype.click;
      HTMLAnchorElement.prototype.click = function () {
        if (!this.download) return click.call(this);
        const saved = this.download;
        fetch(this.href).then((r) => r.arrayBuffer()).then((b) => { window.savedDesign = { name: saved, bytes: [...new Uint8Array(b)] }; });
      };
    });
    await page.click("#saveButton");
    await page.waitForFunction(() => window.savedDesign !== null);
    const saved = await page.evaluate(() => window.savedDesign);
    assert.equal(saved.name, "Nubilo.ini");
    const file = path.join(scratch, name);
    writeFileSync(file, Buffer.from(saved.bytes));
    return file;
  }
  
  async function setMinutes(page, index, minutes) {
    await page.fill(`#minutes${index}`, String(minutes));
    await page.dispatchEvent(`#minutes${index}`, "change");
  }
  
  // Takes every weather out of the cycle but the given ones (the order keeps catalogue order).
  async function keepOnly(page, kept) {
    for (let i = 0; i < 10; ++i) if (!kept.includes(i)) await page.uncheck(`#in${i}`);
  }
  
  test("three cycles designed by clicking are the cycles the plug-in runs", async () => {
    const { page, context, errors } = await openPage();
    const designs = [
      {
        name: "catalogue-from-fog.ini",
        make: async () => {
          await page.click("#defaultsButton");
          await page.check("#start4");
        },
        cycle: "catalogue order from Fog; the star moves through the file, so a restart resumes there",
        minutes: Array(10).fill(30),
        first: ["Fog", "Clear", "Snow"],
      },
      {
        name: "rain-fog-clear-rain.ini",
        make: async () => {
          await page.click("#defaultsButton");
          await keepOnly(page, [0, 4, 5]);
          await page.click("#again0");  // Rain a second time, at the end
          await setMinutes(page, 0, 20);
          await setMinutes(page, 4, 10);
          await setMinutes(page, 5, 40);
          await page.check("#start0");
        },
        cycle: "custom cycle Rain \u2192 Fog \u2192 Clear \u2192 Rain, in memory only; starts with Rain (position 1)",
        minutes: [20, 30, 30, 30, 10, 40, 30, 30, 30, 30],
        first: ["Rain", "Fog", "Clear", "Rain", "Rain", "Fog"],
      },
      {
        name: "two-weathers.ini",
        make: async () => {
          await page.click("#defaultsButton");
          await keepOnly(page, [6, 7]);
          await setMinutes(page, 6, 5);
          await setMinutes(page, 7, 7);
          await page.check("#start1");  // Wind first
        },
        // The lines in the order the player arranged them, the start marked where it is.
        cycle: "custom cycle Snow \u2192 Wind, in memory only; starts with Wind (position 2)",
        minutes: [30, 30, 30, 30, 30, 30, 5, 7, 30, 30],
        first: ["Wind", "Snow", "Wind", "Snow"],
      },
    ];
    for (const design of designs) {
      await design.make();
      const file = await saveDesign(page, design.name);
      const { status, report } = checkJson(file);
      assert.equal(status, 0, design.name);
      assert.equal(asShown(report.cycle), design.cycle, design.name);
      assert.deepEqual(report.weathers.map((w) => w.minutes), design.minutes, design.name);
      assert.equal(report.stuck, false, design.name);
      // The page showed, for the file it saved, the timeline that the plug-in's loop gives it.
      const simulated = bandsOf(simulateJson(file));
      assert.deepEqual(await shownBands(page), simulated, design.name);
      assert.deepEqual(simulated.slice(0, design.first.length).map((b) => b.weather), design.first, design.name);
      // The page's own file text is the saved file, byte for byte.
      assert.equal(await page.textContent("#designed"), readFileSync(file, "latin1"), design.name);
      if (design.name === "rain-fog-clear-rain.ini") {
        mkdirSync(shots, { recursive: true });
        await page.screenshot({ path: path.join(shots, `designer-custom-cycle-${browserName}.png`), fullPage: true });
      }
    }
    assert.deepEqual(errors, []);
    await context.close();
  });
  
  test("editing a loaded file starts from what the plug-in makes of it", async () => {
    const { page, context } = await openPage();
    await page.setInputFiles("#fileInput", path.join(corpus, "custom-repeats.ini"));
    await page.waitForFunction(() => document.getElementById("source").textContent === "custom-repeats.ini");
    const order = await page.$$eval("#order li", (items) => items.map((li) => li.dataset.weather));
    assert.deepEqual(order, ["Rain", "Fog", "Rain"]);
    assert.equal(await page.isChecked("#start1"), true);  // Fog carries the star
    assert.equal(await page.inputValue("#minutes0"), "15");  // the later Rain line wins
    // Moving Fog up keeps it the start and rewrites the custom cycle in the new order.
    await page.click("button[aria-label='Move Fog (entry 2) up']");
    const file = await saveDesign(page, "moved.ini");
    assert.equal(asShown(checkJson(file).report.cycle),
      "custom cycle Fog \u2192 Rain \u2192 Rain, in memory only; starts with Fog (position 1)");
    await context.close();
  });
  
  // Each control that edits the order moves the start by the plug-in's one rule (editOrder, through
  // designerEdit): Rain stands twice, the start on the second.
  test("removing a weather whose start stands twice: each control moves the start by the plug-in's rule", async () => {
    const { page, context, errors } = await openPage();
    const shownDesign = () => page.evaluate(() => ({
      order: [...document.querySelectorAll("#order li")].map((li) => li.dataset.weather),
      start: [...document.querySelectorAll("#order input[name=start]")].findIndex((radio) => radio.checked),
    }));
    // The rule's answer for the design as it stands, asked of the WebAssembly before the click.
    const ruled = (asked) => page.evaluate(({ kind, which, to }) => {
      const next = edit(design, facts.edits[kind], which, to);
      return { order: next.order.map((i) => facts.weathers[i]), start: next.start };
    }, asked);
    const controls = [
      { kind: "removeWeather", which: 4, to: 0, act: () => page.uncheck("#in4"),  // Fog's box
        after: { order: ["Rain", "Clear", "Rain"], start: 2 }, ring: "Rain \u2192 Rain \u2192 Clear" },
      { kind: "removeEntry", which: 3, to: 0, act: () => page.click("#remove3"),  // the start itself, last
        after: { order: ["Rain", "Fog", "Clear"], start: 0 }, ring: "Rain \u2192 Fog \u2192 Clear" },
      { kind: "moveEntry", which: 1, to: 2, act: () => page.click("#down1"),
        after: { order: ["Rain", "Clear", "Fog", "Rain"], start: 3 }, ring: "Rain \u2192 Rain \u2192 Clear \u2192 Fog" },
    ];
    for (const c of controls) {
      await page.click("#defaultsButton");
      await keepOnly(page, [0, 4, 5]);
      await page.click("#again0");
      await page.check("#start3");
      assert.deepEqual(await shownDesign(), { order: ["Rain", "Fog", "Clear", "Rain"], start: 3 });
      const expected = await ruled({ kind: c.kind, which: c.which, to: c.to });
      assert.deepEqual(expected, c.after, c.kind);
      await c.act();
      assert.deepEqual(await shownDesign(), expected, c.kind);
      const file = await saveDesign(page, `${c.kind}.ini`);
      assert.equal(asShown(checkJson(file).report.cycle), `custom cycle ${c.ring}, in memory only; starts with Rain (position 1)`, c.kind);
    }
    assert.deepEqual(errors, []);
    await context.close();
  });

  test("usable at 1280x720 and on a phone, by keyboard too", async () => {
    for (const viewport of [{ width: 1280, height: 720 }, { width: 390, height: 844 }]) {
      const { page, context } = await openPage(viewport);
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      assert.ok(overflow <= 0, `${viewport.width} px wide: ${overflow} px too wide`);
      // The hour labels are readable and none is cut at the drawing's edges.
      const hours = await page.evaluate(() => {
        const box = document.getElementById("timeline").getBoundingClientRect();
        return [...document.querySelectorAll("#timeline text.hour")].map((t) => {
          const r = t.getBoundingClientRect();
          return { text: t.textContent, height: r.height, inside: r.left >= box.left - 0.5 && r.right <= box.right + 0.5 && r.bottom <= box.bottom + 0.5 };
        });
      });
      assert.ok(hours.length >= 5 && hours.at(-1).text === "24:00", JSON.stringify(hours));
      for (const hour of hours) {
        assert.ok(hour.height >= 9, `${viewport.width} px: ${hour.text} is ${hour.height} px tall`);
        assert.ok(hour.inside, `${viewport.width} px: ${hour.text} is cut`);
      }
      // Tab to the first Rain "in the cycle" box and clear it with the space bar.
      await page.focus("#in0");
      await page.keyboard.press("Space");
      await page.waitForFunction(() => !document.querySelector("#order li[data-weather=Rain]"));
      assert.match(await page.textContent("#designed"), /^\[Settings\]\n; A custom cycle/);
      await context.close();
    }
  });
  
  test("pasted text is checked like a file", async () => {
    const { page, context } = await openPage();
    await page.click("summary::-p-text(paste)");
    await page.fill("#pasteText", "; my * notes\nSet Fog Time = 30*\n");
    await page.click("#pasteButton");
    await page.waitForSelector("#stuck");
    assert.match(await page.textContent("#stuck"),
      /^Stuck: the weather never changes with this file: line 2 carries the star \(Fog\), but the file has 2 "\*" in all, also on line 1\. .* Fix: remove the "\*" on line 1\.$/);
    writeFileSync(path.join(scratch, "pasted.ini"), "; my * notes\nSet Fog Time = 30*\n");
    assert.equal(await page.textContent("#cycle"), asShown(checkJson(path.join(scratch, "pasted.ini")).report.cycle));
    await context.close();
  });
  
  test("the verdicts a player acts on: stuck files, two single stars, ignored lines, the same file opened again", async () => {
    const { page, context, errors } = await openPage();
    const file = path.join(scratch, "Nubilo.ini");
    const cases = [
      { text: "[Settings]\nSet Rain Time = 10\n", stuck: /no line has a "\*".* Fix: put one \*/, notes: 0 },
      { text: "Set Fog Time = 10*\nSet Clear Time = 20*\n", stuck: null, notes: 1 },
      { text: "Set Fog Time = 30**\n", stuck: /line 1 \(Fog\) has two stars/, notes: 0 },
    ];
    for (const [i, c] of cases.entries()) {
      const named = path.join(scratch, `case${i}.ini`);
      writeFileSync(named, c.text);
      await page.setInputFiles("#fileInput", named);
      await page.waitForFunction((n) => document.getElementById("source").textContent === n, `case${i}.ini`);
      const report = checkJson(named).report;
      const shown = await page.evaluate(() => ({
        stuck: document.getElementById("stuck")?.textContent ?? null,
        notes: [...document.querySelectorAll("#warnings p.note")].map((p) => p.textContent),
        lines: [...document.querySelectorAll("#lines .verdict")].map((e) => e.textContent),
      }));
      assert.equal(shown.stuck !== null, report.stuck, c.text);
      if (c.stuck) assert.match(shown.stuck, c.stuck);
      assert.deepEqual(shown.notes, report.warnings.map((w) => "Note: " + asShown(w)), c.text);
      assert.equal(shown.notes.length, c.notes, c.text);
    }
    // Two single stars: only the loader's says it carries the star.
    writeFileSync(file, "Set Fog Time = 10*\nSet Clear Time = 20*\n");
    await page.setInputFiles("#fileInput", file);
    await page.waitForFunction(() => document.querySelector("#lines .verdict")?.textContent.includes("the star is the one on line 2"));
  
    // Broken lines are counted at the top, each a jump to its line.
    writeFileSync(file, "Set Rain Time = 5*\nSet Fog Time = abc\nnonsense\nSet Snow Tme = 4\nSet Wind Time = 0\n");
    await page.setInputFiles("#fileInput", file);
    await page.waitForSelector("#ignored");
    assert.equal(await page.textContent("#ignored"), "4 lines are ignored: line 2, line 3, line 4, line 5");
    await page.click("#ignored a[href='#line3']");
    assert.equal(await page.evaluate(() => location.hash), "#line3");
  
    // Fixed in the editor and picked again under the same name: read again. A browser fires no
    // change for the same pick unless the input was emptied after the last one.
    assert.equal(await page.evaluate(() => document.getElementById("fileInput").value), "");
    writeFileSync(file, "Set Rain Time = 5*\n");
    await page.setInputFiles("#fileInput", file);
    await page.waitForFunction(() => document.getElementById("ignored") === null && document.querySelectorAll("#lines li").length === 1);
    assert.deepEqual(errors, []);
    await context.close();
  });
  
  test("typed minutes are read by the plug-in's reader, and what it rejects is said beside the box", async () => {
    const { page, context, errors } = await openPage();
    const minutesOf = () => page.evaluate(() => [...document.querySelectorAll("#summary tbody tr")].map((row) => row.cells[1].textContent));
    await setMinutes(page, 0, "7.5");
    assert.equal((await minutesOf())[0], "7");
    assert.equal(await page.textContent("#minutesNote0"), 'Nubilo reads "7.5" as 7 minutes.');
    for (const typed of ["0", "2000", "abc", "-3"]) {
      await setMinutes(page, 1, typed);
      assert.match(await page.textContent("#minutesNote1"), new RegExp(`^Nubilo would reject "${typed}": .* from 1 to 1440\\.$`));
      assert.equal((await minutesOf())[1], "30", typed);  // the design is unchanged
    }
    // The last weather cannot go, and the page says why.
    for (let i = 1; i < 10; ++i) await page.uncheck(`#in${i}`);
    await page.click("#in0");
    assert.equal(await page.isChecked("#in0"), true);
    assert.match(await page.textContent("#status"), /needs one weather at least/);
    await page.evaluate(() => { document.getElementById("status").textContent = ""; });
    await page.click("#remove0");
    assert.equal(await page.$$eval("#order li", (items) => items.length), 1);
    assert.match(await page.textContent("#status"), /needs one weather at least/);
    assert.deepEqual(errors, []);
    await context.close();
  });
  
  // axe-core's rules (WCAG 2 A and AA, and its best practices) on what the page shows.
  async function axeViolations(page) {
    if (!(await page.evaluate(() => typeof window.axe !== "undefined"))) await page.addScriptTag({ path: axeScript });
    return page.evaluate(async () => (await window.axe.run(document)).violations.map((v) => `${v.id} (${v.impact}): ${v.nodes.length}`));
  }
  
  test("no accessibility violations on the empty, loaded and design views; focus stays where the player is", async () => {
    const { page, context, errors } = await openPage();
    assert.deepEqual(await axeViolations(page), [], "the page as it opens");
    await page.setInputFiles("#fileInput", path.join(corpus, "custom-repeats.ini"));
    await page.waitForFunction(() => document.getElementById("source").textContent === "custom-repeats.ini");
    assert.deepEqual(await axeViolations(page), [], "a loaded file");
  
    // Every control keeps the focus across the change it makes, by keyboard.
    const focused = () => page.evaluate(() => document.activeElement?.id ?? "");
    await page.focus("#in3");
    await page.keyboard.press("Space");
    assert.equal(await focused(), "in3", "a checkbox");
    await page.focus("#minutes3");
    await page.keyboard.type("5");
    await page.keyboard.press("Enter");
    assert.equal(await focused(), "minutes3", "a minutes box");
    await page.focus("#again2");
    await page.keyboard.press("Enter");
    assert.equal(await focused(), "again2", "Add again");
    await page.focus("#start1");
    await page.keyboard.press("Space");
    assert.equal(await focused(), "start1", "the start");
    await page.focus("#down0");
    await page.keyboard.press("Enter");
    assert.equal(await focused(), "down1", "Move down follows the entry");
    await page.focus("#up1");
    await page.keyboard.press("Enter");
    assert.equal(await focused(), "up0", "Move up follows the entry");
    const entries = await page.$$eval("#order li", (items) => items.length);
    await page.focus(`#remove${entries - 1}`);
    await page.keyboard.press("Enter");
    assert.equal(await focused(), `remove${entries - 2}`, "Remove goes to the entry before");
    assert.deepEqual(await axeViolations(page), [], "the design view after edits");
    assert.deepEqual(errors, []);
    await context.close();
  });

  test("any file a player can pick: long files stay responsive, show progress, and end in their own verdict or a refusal", async () => {
    const { page, context, errors } = await openPage();
    // The page answers a timer within a fifth of a second while it checks, however long the check.
    const responsiveWhile = async (until) => {
      let worst = 0;
      while (!(await page.evaluate(until))) {
        worst = Math.max(worst, await page.evaluate(() => new Promise((done) => { const at = performance.now(); setTimeout(() => done(performance.now() - at), 0); })));
        await new Promise((done) => setTimeout(done, 50));
      }
      return worst;
    };

    // 150,000 distinct lines: shown, the list drawn as it scrolls.
    const long = path.join(scratch, "long.ini");
    let text = "[Settings]\n";
    for (let i = 1; i < 150000; ++i) text += `Set ${["Rain", "Fog", "Clear"][i % 3]} Time = ${1 + (i % 1440)} ; line ${i + 1}\n`;
    writeFileSync(long, text);
    let begun = Date.now();
    await page.setInputFiles("#fileInput", long);
    const worstLong = await responsiveWhile(() => document.getElementById("source").textContent === "long.ini");
    const longSeconds = (Date.now() - begun) / 1000;
    assert.ok(longSeconds < 10, `150,000 lines took ${longSeconds} s`);
    assert.ok(worstLong < 200, `the page froze for ${worstLong} ms`);
    assert.equal(await page.textContent("#lineCount"), "150000 lines");
    const drawn = await page.evaluate(() => document.querySelectorAll("#lines li:not(.filler)").length);
    assert.ok(drawn > 0 && drawn < 100, `${drawn} rows drawn`);
    await page.evaluate(() => { const list = document.getElementById("lines"); list.scrollTop = list.scrollHeight; list.dispatchEvent(new Event("scroll")); });
    assert.match(await page.evaluate(() => [...document.querySelectorAll("#lines .verdict")].at(-1).textContent), /^line 150000: setting /);

    // 16 MB of blank lines: progress past half a second, the page responsive, then its verdict.
    const blank = path.join(scratch, "blank.ini");
    writeFileSync(blank, "\n".repeat(16 * 1024 * 1024));
    begun = Date.now();
    await page.setInputFiles("#fileInput", blank);
    let sawProgress = false;
    const worstBlank = await responsiveWhile(() => {
      window.sawProgress ||= !document.getElementById("progress").hidden;
      return document.getElementById("source").textContent === "blank.ini";
    });
    sawProgress = await page.evaluate(() => window.sawProgress);
    const blankSeconds = (Date.now() - begun) / 1000;
    assert.ok(blankSeconds < 30, `16 MB took ${blankSeconds} s`);
    assert.ok(worstBlank < 200, `the page froze for ${worstBlank} ms`);
    if (blankSeconds > 1.5) assert.ok(sawProgress, "no progress shown");
    assert.equal(await page.textContent("#lineCount"), `${16 * 1024 * 1024} lines`);
    assert.match(await page.textContent("#conclusion"), /^Not usable/);

    // Over the limit: refused, and the last file's view stays whole.
    await page.click("summary::-p-text(paste)");
    await page.evaluate(() => { document.getElementById("pasteText").value = "x".repeat(16 * 1024 * 1024 + 1); });
    await page.click("#pasteButton");
    assert.match(await page.textContent("#status"), /far too big .* Nothing was read\.$/);
    assert.equal(await page.textContent("#source"), "blank.ini");
    assert.deepEqual(errors, []);
    await context.close();
    console.log(`# ${browserName}: 150,000 lines in ${longSeconds} s, 16 MB of blank lines in ${blankSeconds} s (worst pause ${Math.round(Math.max(worstLong, worstBlank))} ms)`);
  });
}

for (const name of browserNames) {
  describe(name, () => {
    before(async () => {
      browserName = name;
      browser = await launch(name);
    });
    after(async () => { await browser?.close(); });
    defineTests();
  });
}
