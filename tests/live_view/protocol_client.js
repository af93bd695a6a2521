// A real client of the live view: the protocol's own npm client (FoxgloveClient over ws)
// subscribes to every channel of a running service and checks what arrives against the
// simulator's default scene (config/scenes/open.json): each message against the message type's
// published JSON Schema, the cloud's bounds, the boxes' centres and sizes, the distances.
//
//   node protocol_client.js URL [--no-boxes] [--seconds N]
//
// Prints one line per check and ends with "N passed, N failed"; exit status 1 on any failure.
"use strict";

const { FoxgloveClient } = require("@foxglove/ws-protocol");
const WebSocket = require("ws");
const Ajv = require("ajv");
const schemas = require("@foxglove/schemas/jsonschema");

const url = process.argv[2];
const checkBoxes = !process.argv.includes("--no-boxes");
const secondsArg = process.argv.indexOf("--seconds");
const seconds = secondsArg > 0 ? Number(process.argv[secondsArg + 1]) : 6;

// The scene's obstacles, its floor's height and the six distances it is built to give: its floor (0.40 m below) sets the front and
// side ones near 0, the crate's top the one below and the cabinet's underside the one above.
const CRATE = { min: [2.0, 1.0, -0.4], max: [2.6, 1.8, -0.3] };
const CABINET = { min: [2.5, -2.4, 1.2], max: [3.5, -1.5, 2.6] };
const FLOOR_Z = -0.4;
const DISTANCES = { frente: 0.0, tras: 0.0, esquerda: 0.0, direita: 0.0, sup: 1.2, inf: 0.3 };
const TOPICS = ["/lidar/points", "/lidar/points_window", "/lidar/obstacles", "/lidar/state", "/tf"];
const SCHEMA_OF = { "foxglove.PointCloud": "PointCloud", "foxglove.SceneUpdate": "SceneUpdate",
                    "foxglove.FrameTransforms": "FrameTransforms" };

let passed = 0, failed = 0;
function check(ok, what, detail = "") {
  if (ok) passed++; else failed++;
  console.log(`${ok ? "ok  " : "FAIL"} ${what}${ok || !detail ? "" : ": " + detail}`);
}

const ajv = new Ajv({ strict: false, allErrors: true });
const validators = {};
const received = new Map(TOPICS.map((t) => [t, []]));
let serverInfo = null;
let channels = [];
const statuses = [];

const ws = new WebSocket(url, [FoxgloveClient.SUPPORTED_SUBPROTOCOL]);
const client = new FoxgloveClient({ ws });
const subscriptions = new Map();
client.on("serverInfo", (info) => { serverInfo = info; });
client.on("status", (status) => statuses.push(status));
client.on("error", (error) => console.log("client error:", error.message || error));
client.on("advertise", (advertised) => {
  channels = advertised;
  for (const c of advertised) {
    // The service's own schema must be a valid schema too; the ecosystem's types are checked
    // against the published ones.
    validators[c.topic] = {
      own: ajv.compile(JSON.parse(c.schema)),
      published: SCHEMA_OF[c.schemaName] ? ajv.compile(schemas[SCHEMA_OF[c.schemaName]]) : null,
    };
    subscriptions.set(client.subscribe(c.id), c.topic);
  }
});
const decoder = new TextDecoder();
client.on("message", ({ subscriptionId, timestamp, data }) => {
  const topic = subscriptions.get(subscriptionId);
  const text = decoder.decode(new Uint8Array(data.buffer, data.byteOffset, data.byteLength));
  received.get(topic).push({ timestamp, message: JSON.parse(text), arrived: Date.now() });
});

function pointsOf(message) {
  const bytes = Buffer.from(message.data, "base64");
  const points = [];
  for (let i = 0; i + 12 <= bytes.length; i += message.point_stride) {
    points.push([bytes.readFloatLE(i), bytes.readFloatLE(i + 4), bytes.readFloatLE(i + 8)]);
  }
  return points;
}

const inside = (p, box, slack) => [0, 1, 2].every((a) => p[a] >= box.min[a] - slack && p[a] <= box.max[a] + slack);

// Meanwhile a second client sends what a broken or hostile one would: text that is not JSON, an
// unknown operation, a binary message, one over the size limit (each answered with a status
// error), then one far over it, which closes that connection (1009, or 1006 when the kernel
// resets it for the bytes still unread), never the service.
const abuse = { errors: [], closeCode: null };
function misbehave() {
  const bad = new WebSocket(url, ["foxglove.sdk.v1"]);
  bad.on("message", (data, binary) => {
    if (binary) return;
    const m = JSON.parse(data.toString());
    if (m.op === "status" && m.level === 2) abuse.errors.push(m.message);
  });
  bad.on("open", () => {
    abuse.protocol = bad.protocol;
    bad.send("{not json");
    bad.send(JSON.stringify({ op: "launch" }));
    bad.send(Buffer.from([1, 0, 0, 0, 0]));
    bad.send("x".repeat(100 * 1024));
    setTimeout(() => bad.send("y".repeat(2 * 1024 * 1024)), 500);
  });
  bad.on("close", (code) => { abuse.closeCode = code; });
  bad.on("error", () => {});
}

function finish() {
  check(abuse.protocol === "foxglove.sdk.v1", "the other subprotocol name is accepted", abuse.protocol);
  check(abuse.errors.length === 4, "malformed, unknown, binary and oversized messages: a status error each",
        JSON.stringify(abuse.errors));
  check(abuse.closeCode === 1009 || abuse.closeCode === 1006,
        "a message far over the limit closes that connection", String(abuse.closeCode));
  const lateState = received.get("/lidar/state").filter((m) => m.arrived > started + seconds * 1000 - 1500);
  check(lateState.length > 0, "the well-behaved client is still served after that");

  check(ws.protocol === "foxglove.websocket.v1", "subprotocol agreed", ws.protocol);
  check(serverInfo !== null && Array.isArray(serverInfo.capabilities), "serverInfo on connect");
  check(TOPICS.every((t) => channels.some((c) => c.topic === t && c.encoding === "json" &&
                                               c.schemaEncoding === "jsonschema")),
        "advertise: the five channels, JSON with JSON Schema", JSON.stringify(channels.map((c) => c.topic)));
  check(statuses.length === 0, "no status errors", JSON.stringify(statuses));

  for (const topic of TOPICS) {
    const messages = received.get(topic);
    check(messages.length > 0, `${topic}: messages arrive`, "none");
    const v = validators[topic];
    if (!v || messages.length === 0) continue;
    const bad = messages.find((m) => !v.own(m.message) || (v.published && !v.published(m.message)));
    check(!bad, `${topic}: every message matches its schema`,
          JSON.stringify(v.own.errors || v.published?.errors || []).slice(0, 400));
  }

  const frames = received.get("/lidar/points").map((m) => pointsOf(m.message)).filter((p) => p.length > 0);
  check(frames.length > 0, "/lidar/points: clouds with points");
  const all = frames.flat();
  // The simulator's records of beams that hit nothing are at the origin.
  const origin = (p) => p[0] === 0 && p[1] === 0 && p[2] === 0;
  const onFloor = (p) => Math.abs(p[2] - FLOOR_Z) <= 0.06;
  const stray = all.filter((p) => !inside(p, CRATE, 0.06) && !inside(p, CABINET, 0.06) &&
                                  !onFloor(p) && !origin(p));
  check(all.length > 0 && stray.length === 0,
        "/lidar/points: every point on the floor, the crate or the cabinet",
        `${stray.length} of ${all.length} elsewhere, e.g. ${JSON.stringify(stray[0])}`);
  const cloud = received.get("/lidar/points")[0];
  check(cloud && cloud.message.frame_id === "lidar" && cloud.message.point_stride === 12,
        "/lidar/points: x/y/z float32 in the frame lidar");
  const windows = received.get("/lidar/points_window").map((m) => pointsOf(m.message).length);
  const thinned = frames.map((p) => p.length);
  check(windows.length > 0 && Math.max(...windows) > Math.max(...thinned),
        "/lidar/points_window: the whole window holds more points than a thinned frame",
        `${Math.max(...windows)} vs ${Math.max(...thinned)}`);

  const states = received.get("/lidar/state").map((m) => m.message).filter((s) => s.status === "OK");
  check(states.length > 0, "/lidar/state: status OK");
  const last = states[states.length - 1];
  if (last) {
    for (const [name, expected] of Object.entries(DISTANCES)) {
      check(Math.abs(last.dist[name] - expected) <= 0.05, `/lidar/state: dist.${name} ${expected}`,
            String(last.dist[name]));
    }
    check(last.freq.pcl > 0 && last.freq.imu > 0, "/lidar/state: rates", JSON.stringify(last.freq));
  }

  const scenes = received.get("/lidar/obstacles").map((m) => m.message);
  const entity = (scene, id) => scene.entities.find((e) => e.id === id);
  const lastScene = scenes[scenes.length - 1];
  if (lastScene) {
    const lines = entity(lastScene, "distancias");
    const up = lines && lines.lines[4].points[1];
    check(up && Math.abs(up.z - 1.2) <= 0.05 && lines.texts[4].text === "cima: 120 cm",
          "/lidar/obstacles: the distance line up ends at the cabinet, labelled",
          JSON.stringify(lines && lines.texts[4]));
    check(entity(lastScene, "robo") && entity(lastScene, "corredores"),
          "/lidar/obstacles: the robot's box and its corridors");
  }
  if (checkBoxes) {
    // The floor near the robot, one voxel layer thick from 0.40 m below, reaching across the
    // region of interest's 4 m width.
    const floor = scenes.flatMap((s) => entity(s, "caixas").cubes).find((c) =>
      Math.abs(c.pose.position.z + 0.375) <= 0.03 && c.size.z <= 0.11 && c.size.y >= 3.5 &&
      c.size.x >= 1.0);
    check(Boolean(floor), "/lidar/obstacles: the floor as a flat cube, height and size",
          JSON.stringify(scenes.map((s) => entity(s, "caixas").cubes.map((c) => c.pose.position))).slice(0, 400));
  }

  const tf = received.get("/tf")[0];
  check(tf && tf.message.transforms[0].parent_frame_id === "base_link" &&
        tf.message.transforms[0].child_frame_id === "lidar", "/tf: base_link to lidar");

  const delays = received.get("/lidar/points").map((m) => m.arrived - Number(m.timestamp / 1000000n));
  delays.sort((a, b) => a - b);
  if (delays.length) console.log(`stamp to arrival of /lidar/points: p50 ${delays[Math.floor(delays.length / 2)]} ms`);
  client.close();
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

let started = 0;
ws.on("open", () => {
  started = Date.now();
  setTimeout(misbehave, 1000);
  setTimeout(finish, seconds * 1000);
});
ws.on("error", (error) => { console.log(`cannot connect to ${url}: ${error.message}`); process.exit(1); });
