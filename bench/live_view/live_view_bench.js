// The live view's figures, against a running service (inside the sandbox, on the simulator), in
// one run: the service's CPU and the worker's frame time with no client, with one client on
// /lidar/points and /lidar/obstacles and with one on every channel; the time from a frame's stamp
// to its message at the client; then hostile clients for a minute (one that never reads, 50
// connecting at once, malformed and oversized messages, one that drops mid-frame) beside a
// well-behaved one: the service's memory, the worker's frame cadence and what the well-behaved
// client still gets. Prints one "key=value ..." line per phase.
//
//   node live_view_bench.js APP_PID WS_URL [PHASE_SECONDS] [HOSTILE_SECONDS]
"use strict";

const fs = require("fs");
const net = require("net");
const { execFileSync } = require("child_process");
const { FoxgloveClient } = require("@foxglove/ws-protocol");
const WebSocket = require("ws");

const [pid, url] = process.argv.slice(2, 4);
const phaseSeconds = Number(process.argv[4] || 10);
const hostileSeconds = Number(process.argv[5] || 60);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function cpuNs() {
  let total = 0;
  for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
    try {
      total += Number(fs.readFileSync(`/proc/${pid}/task/${task}/schedstat`, "utf8").split(" ")[0]);
    } catch (_) { /* a thread that just ended */ }
  }
  return total;
}
const rssKb = () => Number(/VmRSS:\s+(\d+)/.exec(fs.readFileSync(`/proc/${pid}/status`, "utf8"))[1]);
const redis = (...args) => execFileSync("redis-cli", ["--raw", ...args], { encoding: "utf8" });
function diag() {
  try { return JSON.parse(redis("GET", "ctx:dados_modulo_Lidar_diag")); } catch (_) { return {}; }
}
// Processing times of the frames since `sinceMs` (wall clock) still in the frame stream.
function frameTimes(sinceMs) {
  const lines = redis("XRANGE", "ctx:dados_modulo_Lidar_quadros", String(sinceMs), "+").split("\n");
  const times = [];
  for (let i = 0; i < lines.length - 1; ++i) {
    if (lines[i] === "processamento_ms") times.push(Number(lines[i + 1]));
  }
  return times;
}
// The frames since `sinceMs`, counted from the frame stream as it goes (it keeps only about five
// seconds of entries), and the longest gap between two of them.
function frameCadence(sinceMs) {
  const stamps = new Set();
  const gather = () => {
    const lines = redis("XRANGE", "ctx:dados_modulo_Lidar_quadros", String(sinceMs), "+").split("\n");
    for (let i = 0; i + 3 < lines.length; ++i) {
      if (lines[i] === "evento" && lines[i + 1] === "quadro" && lines[i + 2] === "timestamp") {
        stamps.add(Number(lines[i + 3]));
      }
    }
  };
  const timer = setInterval(gather, 2000);
  return {
    stop() {
      clearInterval(timer);
      gather();
      const sorted = [...stamps].sort((a, b) => a - b);
      let gap = 0;
      for (let i = 1; i < sorted.length; ++i) gap = Math.max(gap, sorted[i] - sorted[i - 1]);
      return { frames: sorted.length, gap };
    },
  };
}

const quantile = (values, q) => {
  if (values.length === 0) return NaN;
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.floor(q * sorted.length))];
};

// A well-behaved client on the given topics; counts messages and stamp-to-arrival delays.
function client(topics) {
  return new Promise((resolve) => {
    const ws = new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]);
    const c = new FoxgloveClient({ ws });
    const byId = new Map();
    const seen = { messages: 0, bytes: 0, delays: [], ws, close: () => c.close() };
    c.on("advertise", (channels) => {
      for (const ch of channels) if (topics.includes(ch.topic)) byId.set(c.subscribe(ch.id), ch.topic);
      resolve(seen);
    });
    c.on("message", ({ subscriptionId, timestamp, data }) => {
      seen.messages++;
      seen.bytes += data.byteLength;
      const topic = byId.get(subscriptionId);
      if (topic === "/lidar/points" || topic === "/lidar/obstacles") {
        seen.delays.push(Date.now() - Number(timestamp / 1000000n));
      }
    });
  });
}

async function measure(name, topics) {
  const c = topics.length ? await client(topics) : null;
  await sleep(2000);  // settle
  if (c) { c.messages = 0; c.bytes = 0; c.delays = []; }
  const since = Date.now();
  const cadence = frameCadence(since);
  const cpu0 = cpuNs(), t0 = process.hrtime.bigint();
  await sleep(phaseSeconds * 1000);
  const cpu = (cpuNs() - cpu0) / Number(process.hrtime.bigint() - t0) * 100;
  const times = frameTimes(since);
  const { frames, gap } = cadence.stop();
  const line = [`phase=${name}`, `cpu_pct=${cpu.toFixed(2)}`,
                `frames_per_s=${(frames / phaseSeconds).toFixed(2)}`, `longest_gap_ms=${gap}`,
                `frame_p50_ms=${quantile(times, 0.5).toFixed(3)}`,
                `frame_p90_ms=${quantile(times, 0.9).toFixed(3)}`];
  if (c) {
    line.push(`messages_per_s=${(c.messages / phaseSeconds).toFixed(1)}`,
              `kbytes_per_s=${(c.bytes / phaseSeconds / 1024).toFixed(0)}`,
              `delay_p50_ms=${quantile(c.delays, 0.5)}`, `delay_p99_ms=${quantile(c.delays, 0.99)}`);
    c.close();
  }
  console.log(line.join(" "));
  await sleep(1000);
}

// ---- hostile clients ----------------------------------------------------------------------------
function rawUpgrade(socket, host, port) {
  socket.write(`GET / HTTP/1.1\r\nHost: ${host}:${port}\r\nUpgrade: websocket\r\n` +
               "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
               "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Protocol: foxglove.websocket.v1\r\n\r\n");
}

async function hostile() {
  const { hostname: host, port } = new URL(url);
  const good = await client(["/lidar/state", "/lidar/points"]);
  await sleep(1000);
  const rss0 = rssKb();
  const t0 = Date.now();
  good.messages = 0;

  // One that subscribes to everything and then never reads.
  const stalled = await client(["/lidar/points", "/lidar/points_window", "/lidar/obstacles",
                                "/lidar/state", "/tf"]);
  stalled.ws._socket.pause();

  // Fifty at once, beyond the connection limit; each just sits there.
  const crowd = [];
  for (let i = 0; i < 50; ++i) crowd.push(net.connect(Number(port), host, function () { rawUpgrade(this, host, port); }));
  for (const s of crowd) s.on("error", () => {});

  // Malformed and oversized messages, and a connection dropped in the middle of a frame, over and
  // over while the minute lasts.
  let rounds = 0;
  const abuse = async () => {
    while (Date.now() - t0 < hostileSeconds * 1000) {
      await new Promise((resolve) => {
        const ws = new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]);
        ws.on("open", () => {
          ws.send("not json at all");
          ws.send(JSON.stringify({ op: "subscribe", subscriptions: [{ id: "x", channelId: 99 }] }));
          ws.send(Buffer.from([1, 2, 3]));
          ws.send("x".repeat(200 * 1024));       // over the soft limit: a status error
          ws.send("y".repeat(2 * 1024 * 1024));  // over the hard limit: closed
          setTimeout(() => ws.terminate(), 200);
        });
        ws.on("error", () => {});
        ws.on("close", resolve);
        setTimeout(resolve, 2000);
      });
      await new Promise((resolve) => {
        const s = net.connect(Number(port), host, () => {
          rawUpgrade(s, host, port);
          setTimeout(() => {
            s.write(Buffer.from([0x81, 0xfe, 0x40, 0x00, 1, 2, 3, 4, 0x41]));  // 16 KiB announced
            s.destroy();
            resolve();
          }, 100);
        });
        s.on("error", resolve);
      });
      rounds++;
      await sleep(300);
    }
  };
  let peak = rss0;
  const sampler = setInterval(() => { peak = Math.max(peak, rssKb()); }, 500);
  const cadence = frameCadence(t0);
  await Promise.all([abuse(), sleep(hostileSeconds * 1000)]);
  clearInterval(sampler);
  const { frames, gap } = cadence.stop();
  const seconds = (Date.now() - t0) / 1000;
  const d = diag();
  console.log([`phase=hostile`, `seconds=${seconds.toFixed(0)}`, `rounds=${rounds}`,
               `rss0_mb=${(rss0 / 1024).toFixed(1)}`, `rss_peak_mb=${(peak / 1024).toFixed(1)}`,
               `rss_end_mb=${(rssKb() / 1024).toFixed(1)}`,
               `frames_per_s=${(frames / seconds).toFixed(2)}`, `longest_gap_ms=${gap}`,
               `good_messages_per_s=${(good.messages / seconds).toFixed(1)}`,
               `dropped=${d.app?.live_view?.descartadas}`, `refused=${d.app?.live_view?.recusadas}`,
               `open_at_end=${d.app?.live_view?.clientes}`].join(" "));
  for (const s of crowd) s.destroy();
  good.close();
  stalled.ws.terminate();
}

(async () => {
  await measure("none", []);
  await measure("points_obstacles", ["/lidar/points", "/lidar/obstacles"]);
  await measure("everything", ["/lidar/points", "/lidar/points_window", "/lidar/obstacles",
                               "/lidar/state", "/tf"]);
  await hostile();
  process.exit(0);
})();
