// One driver for every browser the players have: puppeteer-core starting Debian's chromium (over
// the DevTools protocol) or firefox-esr (over WebDriver BiDi), never a browser of its own. The
// page it hands out answers the few calls the tests make, the same in both.
import puppeteer from "puppeteer-core";

export const browserNames = (process.env.NUBILO_BROWSERS ?? "chromium,firefox").split(",").filter(Boolean);

export function launch(name) {
  if (name === "firefox")
    return puppeteer.launch({ browser: "firefox", executablePath: process.env.FIREFOX ?? "/usr/bin/firefox-esr", headless: true });
  return puppeteer.launch({
    browser: "chrome", executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium", headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync"],
  });
}

// "a >> nth=1": the second match of a.
async function nth(page, selector) {
  const [base, index] = selector.split(" >> nth=");
  return index === undefined ? page.$(base) : (await page.$$(base))[Number(index)];
}

export function wrap(page) {
  const value = (selector, read) => page.$eval(selector, read);
  return {
    raw: page,
    // The space bar by its character: WebDriver BiDi knows no key named "Space".
    keyboard: { press: (key) => page.keyboard.press(key === "Space" ? " " : key), type: (text) => page.keyboard.type(text) },
    evaluate: (fn, arg) => page.evaluate(fn, arg),
    waitForFunction: (fn, arg, options = {}) => page.waitForFunction(fn, { timeout: 15000, ...options }, arg),
    waitForSelector: (selector, options = {}) => page.waitForSelector(selector, { timeout: 15000, ...options }),
    click: async (selector) => (await nth(page, selector)).click(),
    hover: async (selector) => (await nth(page, selector)).hover(),
    focus: (selector) => page.focus(selector),
    textContent: (selector) => value(selector, (e) => e.textContent),
    inputValue: (selector) => value(selector, (e) => e.value),
    isChecked: (selector) => value(selector, (e) => e.checked),
    check: async (selector) => { if (!(await value(selector, (e) => e.checked))) await page.click(selector); },
    uncheck: async (selector) => { if (await value(selector, (e) => e.checked)) await page.click(selector); },
    fill: (selector, text) => page.$eval(selector, (e, t) => { e.value = t; e.dispatchEvent(new Event("input", { bubbles: true })); }, text),
    dispatchEvent: (selector, type) => page.$eval(selector, (e, t) => e.dispatchEvent(new Event(t, { bubbles: true })), type),
    setInputFiles: async (selector, file) => (await page.$(selector)).uploadFile(file),
    $$eval: (selector, fn) => page.$$eval(selector, fn),
    addScriptTag: (options) => page.addScriptTag(options),
    screenshot: (options) => page.screenshot(options),
  };
}
