// A real browser on the live view's page: headless Chromium (WebGL in software) opens it while
// the service runs on the simulator's default scene, and is driven over its DevTools protocol.
// Once the page has drawn a cloud and the boxes, it takes a screenshot (written to OUT.png), then
// one with the boxes switched off with the page's `b` key, and checks the pixels: the cloud's
// colours are there, and the boxes' green goes away with `b`.
//
//   node browser_check.js PAGE_URL OUT.png
//
// Ends with "N passed, N failed"; exit status 1 on any failure.
"use strict";

const { spawn } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const zlib = require("zlib");
const WebSocket = require("ws");

const [pageUrl, outPng] = process.argv.slice(2);
let passed = 0, failed = 0;
function check(ok, what, detail = "") {
  if (ok) passed++; else failed++;
  console.log(`${ok ? "ok  " : "FAIL"} ${what}${ok || !detail ? "" : ": " + detail}`);
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// PNG as Chromium writes it: 8 bits per channel, RGB or RGBA, not interlaced.
function decodePng(buffer) {
  let offset = 8, width = 0, height = 0, channels = 0;
  const data = [];
  while (offset < buffer.length) {
    const length = buffer.readUInt32BE(offset);
    const type = buffer.toString("ascii", offset + 4, offset + 8);
    const body = buffer.subarray(offset + 8, offset + 8 + length);
    if (type === "IHDR") {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      channels = { 2: 3, 6: 4 }[body[9]];
      if (body[8] !== 8 || !channels || body[12] !== 0) throw new Error("unexpected PNG format");
    } else if (type === "IDAT") {
      data.push(body);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; ++y) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; ++x) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      let predicted = 0;
      if (filter === 1) predicted = a;
      else if (filter === 2) predicted = b;
      else if (filter === 3) predicted = (a + b) >> 1;
      else if (filter === 4) {
        const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
        predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
      }
      pixels[y * stride + x] = (line[x] + predicted) & 0xff;
    }
  }
  return { width, height, channels, pixels };
}

function countPixels(png, test) {
  let n = 0;
  for (let i = 0; i < png.pixels.length; i += png.channels) {
    if (test(png.pixels[i], png.pixels[i + 1], png.pixels[i + 2])) n++;
  }
  return n;
}
// The boxes' translucent green (and their edges); the distance lines share it, the toggle tells.
const green = (r, g, b) => g > 60 && r < 40 && b < 40;
// The cloud's colours at 2 to 3.5 m on the distance ramp: cyan-green, yellow, orange; not the
// HUD's white text nor the pure colours of the lines and labels.
const cloudColour = (r, g, b) => r > 90 && g > 60 && b < 160 && !(r > 200 && g > 200 && b > 200);

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "live-view-chromium-"));
  const browser = spawn("chromium", [
    "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--window-size=1280,800", "--hide-scrollbars", "--no-first-run", "--remote-debugging-port=0",
    `--user-data-dir=${profile}`, pageUrl], { stdio: ["ignore", "ignore", "pipe"], detached: true });
  let browserLog = "";
  browser.stderr.on("data", (chunk) => { browserLog += chunk; });
  try {
    const portFile = path.join(profile, "DevToolsActivePort");
    for (let i = 0; i < 100 && !fs.existsSync(portFile); ++i) await sleep(100);
    const port = fs.readFileSync(portFile, "utf8").split("\n")[0];
    let target;
    for (let i = 0; i < 50 && !target; ++i) {
      const list = await (await fetch(`http://127.0.0.1:${port}/json/list`)).json();
      target = list.find((t) => t.type === "page");
      if (!target) await sleep(100);
    }
    const cdp = new WebSocket(target.webSocketDebuggerUrl);
    await new Promise((resolve, reject) => { cdp.on("open", resolve); cdp.on("error", reject); });
    let nextId = 1;
    const pending = new Map();
    cdp.on("message", (text) => {
      const reply = JSON.parse(text);
      if (reply.id && pending.has(reply.id)) {
        pending.get(reply.id)(reply);
        pending.delete(reply.id);
      }
    });
    const send = (method, params = {}) => new Promise((resolve) => {
      const id = nextId++;
      pending.set(id, resolve);
      cdp.send(JSON.stringify({ id, method, params }));
    });
    const evaluate = async (expression) =>
      (await send("Runtime.evaluate", { expression, returnByValue: true })).result?.result?.value;
    const screenshot = async () =>
      Buffer.from((await send("Page.captureScreenshot", { format: "png" })).result.data, "base64");
    const press = async (key) => {
      for (const type of ["keyDown", "keyUp"]) {
        await send("Input.dispatchKeyEvent", { type, key, text: type === "keyDown" ? key : undefined,
                                               windowsVirtualKeyCode: key.toUpperCase().charCodeAt(0) });
      }
    };

    let stats = null;
    for (let i = 0; i < 150; ++i) {
      stats = await evaluate("window.liveView && window.liveView.stats");
      if (stats && stats.points > 0 && stats.cubes > 0) break;
      await sleep(100);
    }
    check(stats && stats.connected, "the page connects to the service", JSON.stringify(stats));
    check(stats && stats.points > 0 && stats.cubes > 0, "the page receives a cloud and boxes",
          JSON.stringify(stats));
    await sleep(1000);  // a few frames drawn with the camera fitted to the cloud
    // A frame may have no box (a cluster short of the minimum size): a pair of
    // screenshots (boxes on, then off with b) is taken again until the first one had boxes.
    let best = null;
    for (let attempt = 0; attempt < 10 && !(best && best.boxes > 300); ++attempt) {
      for (let i = 0; i < 20 && !(await evaluate("window.liveView.stats.cubes > 0")); ++i) await sleep(50);
      const full = await screenshot();
      await press("b");
      await sleep(150);
      const withoutBoxes = decodePng(await screenshot());
      await press("b");
      const a = decodePng(full);
      const pair = { png: full, cloud: countPixels(a, cloudColour),
                     green: countPixels(a, green), greenWithout: countPixels(withoutBoxes, green) };
      pair.boxes = pair.green - pair.greenWithout;
      if (!best || pair.boxes > best.boxes) best = pair;
      await sleep(300);
    }
    cdp.close();
    fs.writeFileSync(outPng, best.png);
    check(best.cloud > 300, "the screenshot shows the cloud in its colours", `${best.cloud} pixels`);
    check(best.boxes > 300, "the screenshot shows the boxes, which b hides",
          `green pixels ${best.green} with the boxes, ${best.greenWithout} without`);
  } catch (error) {
    check(false, "driving the browser", `${error.stack}\n${browserLog.slice(-2000)}`);
  } finally {
    // The whole process group: the browser's helper processes outlive a killed parent for a
    // moment and go on writing into the profile while it is being removed.
    const exited = new Promise((resolve) => browser.on("exit", resolve));
    try { process.kill(-browser.pid, "SIGKILL"); } catch { browser.kill("SIGKILL"); }
    await exited;
    fs.rmSync(profile, { recursive: true, force: true, maxRetries: 10, retryDelay: 100 });
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main();
