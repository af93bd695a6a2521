// The live view's page: a client of the service's WebSocket (the same protocol viewers use)
// that draws the cloud, the scene of /lidar/obstacles and a head-up display with three.js.
// Everything it loads comes from the service itself.
import * as THREE from "three";
import { OrbitControls } from "/OrbitControls.js";

const SUBPROTOCOL = "foxglove.websocket.v1";

// ---- view state and keys (as in the debug window where they make sense) ----------------------
const view = {
  colourByDistance: true,  // d: distance (0..5 m) or height (-0.2..1.5 m)
  showBoxes: true,         // b
  showLines: true,         // a: the six distance lines and their labels
  windowCloud: false,      // w: the whole 150 ms window instead of the thinned frame
};
const HELP = () =>
  `b caixas ${view.showBoxes ? "ON" : "OFF"} | a linhas ${view.showLines ? "ON" : "OFF"} | ` +
  `d cor ${view.colourByDistance ? "DISTANCIA" : "ALTURA"} | ` +
  `w nuvem ${view.windowCloud ? "JANELA 150 ms" : "QUADRO"} | r enquadrar | ` +
  "arrastar: orbitar, botao direito: mover, roda: zoom";

// ---- the scene ------------------------------------------------------------------------------
const container = document.getElementById("scene");
// A browser without WebGL (graphics acceleration off, or none in a remote desktop) would leave
// "conectando..." on screen for ever: say what is missing instead.
function createRenderer() {
  try {
    return new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  } catch (error) {
    document.getElementById("hud").textContent =
      "WebGL indisponivel neste navegador: ative a aceleracao grafica (ou o WebGL) e recarregue";
    throw error;
  }
}
const renderer = createRenderer();
renderer.setPixelRatio(window.devicePixelRatio);
container.appendChild(renderer.domElement);
const scene = new THREE.Scene();
scene.background = new THREE.Color(0x000000);
const camera = new THREE.PerspectiveCamera(60, 1, 0.05, 500);
camera.up.set(0, 0, 1);  // the LiDAR's frame: x forward, y left, z up
camera.position.set(-4, 0, 3);
const controls = new OrbitControls(camera, renderer.domElement);
controls.target.set(2, 0, 0);
controls.update();
scene.add(new THREE.AxesHelper(0.5));

const cloudGeometry = new THREE.BufferGeometry();
const cloud = new THREE.Points(cloudGeometry,
                               new THREE.PointsMaterial({ size: 3, sizeAttenuation: false,
                                                          vertexColors: true }));
scene.add(cloud);
let cloudXyz = new Float32Array(0);

const entities = new Map();  // entity id -> { group, labels }
const labelLayer = document.getElementById("labels");

function resize() {
  const w = container.clientWidth, h = container.clientHeight;
  renderer.setSize(w, h, false);
  renderer.domElement.style.width = w + "px";
  renderer.domElement.style.height = h + "px";
  camera.aspect = w / Math.max(h, 1);
  camera.updateProjectionMatrix();
}
window.addEventListener("resize", resize);
resize();

// The debug window's jet ramp: dark blue, blue, cyan, yellow, red, dark red.
function jet(t) {
  const v = 4 * Math.min(Math.max(t, 0), 1);
  const c = (x) => Math.min(Math.max(x, 0), 1);
  return [c(Math.min(v - 1.5, 4.5 - v)), c(Math.min(v - 0.5, 3.5 - v)), c(Math.min(v + 0.5, 2.5 - v))];
}

function recolour() {
  const n = cloudXyz.length / 3;
  const colours = new Float32Array(n * 3);
  for (let i = 0; i < n; ++i) {
    const x = cloudXyz[3 * i], y = cloudXyz[3 * i + 1], z = cloudXyz[3 * i + 2];
    const t = view.colourByDistance ? Math.sqrt(x * x + y * y + z * z) / 5.0 : (z + 0.2) / 1.7;
    colours.set(jet(t), 3 * i);
  }
  cloudGeometry.setAttribute("color", new THREE.BufferAttribute(colours, 3));
}

// Frames the scene from behind and above: the nearer nine tenths of the cloud, so that a floor
// or open ground reaching to the horizon does not shrink the robot's surroundings to a dot.
// Records of beams that hit nothing lie at the origin and are left out.
let framed = false;
function fitCamera() {
  const n = cloudXyz.length / 3;
  const step = Math.max(1, Math.floor(n / 4000));
  const ranges = [];
  for (let i = 0; i < n; i += step) {
    const r = Math.hypot(cloudXyz[3 * i], cloudXyz[3 * i + 1], cloudXyz[3 * i + 2]);
    if (r > 0.01) ranges.push(r);
  }
  if (ranges.length === 0) return false;
  const sorted = Float64Array.from(ranges).sort();
  const reach = sorted[Math.floor((sorted.length - 1) * 0.9)];
  const centre = new THREE.Vector3();
  let count = 0;
  for (let i = 0; i < n; i += step) {
    const p = new THREE.Vector3(cloudXyz[3 * i], cloudXyz[3 * i + 1], cloudXyz[3 * i + 2]);
    const r = p.length();
    if (r > 0.01 && r <= reach) {
      centre.add(p);
      ++count;
    }
  }
  centre.divideScalar(count);
  const radius = Math.max(reach, 0.5);
  const distance = radius / Math.sin((camera.fov * Math.PI) / 360) * 0.9;
  const direction = new THREE.Vector3(-0.75, -0.35, 0.55).normalize();
  controls.target.copy(centre);
  camera.position.copy(centre).addScaledVector(direction, distance);
  camera.near = distance / 200;
  camera.far = distance * 20;
  camera.updateProjectionMatrix();
  controls.update();
  return true;
}

function decodeBase64(text) {
  const binary = atob(text);
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; ++i) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

function showCloud(message) {
  const bytes = decodeBase64(message.data);
  const stride = message.point_stride;
  const offsets = {};
  for (const f of message.fields) offsets[f.name] = f.offset;
  const data = new DataView(bytes.buffer);
  const n = stride > 0 ? Math.floor(bytes.length / stride) : 0;
  const xyz = new Float32Array(n * 3);
  for (let i = 0; i < n; ++i) {
    xyz[3 * i] = data.getFloat32(i * stride + offsets.x, true);
    xyz[3 * i + 1] = data.getFloat32(i * stride + offsets.y, true);
    xyz[3 * i + 2] = data.getFloat32(i * stride + offsets.z, true);
  }
  cloudXyz = xyz;
  cloudGeometry.setAttribute("position", new THREE.BufferAttribute(xyz, 3));
  recolour();
  cloudGeometry.computeBoundingSphere();
  stats.points = n;
  if (!framed) framed = fitCamera();
}

// ---- scene entities of /lidar/obstacles -------------------------------------------------------
const colourOf = (c) => new THREE.Color(c.r, c.g, c.b);
const vec = (p) => new THREE.Vector3(p.x, p.y, p.z);

function buildEntity(entity) {
  const group = new THREE.Group();
  const labels = [];
  for (const cube of entity.cubes) {
    const geometry = new THREE.BoxGeometry(cube.size.x, cube.size.y, cube.size.z);
    const fill = new THREE.Mesh(geometry, new THREE.MeshBasicMaterial({
      color: colourOf(cube.color), transparent: true, opacity: cube.color.a, depthWrite: false }));
    const edges = new THREE.LineSegments(new THREE.EdgesGeometry(geometry),
                                         new THREE.LineBasicMaterial({ color: colourOf(cube.color),
                                                                       transparent: true,
                                                                       opacity: Math.min(1, cube.color.a * 2.5) }));
    const holder = new THREE.Group();
    holder.add(fill, edges);
    holder.position.copy(vec(cube.pose.position));
    group.add(holder);
  }
  for (const line of entity.lines) {
    const geometry = new THREE.BufferGeometry().setFromPoints(line.points.map(vec));
    const material = new THREE.LineBasicMaterial({ color: colourOf(line.color) });
    // 0 line strip, 1 line loop, 2 line list
    const kind = line.type === 2 ? THREE.LineSegments : line.type === 1 ? THREE.LineLoop : THREE.Line;
    group.add(new kind(geometry, material));
  }
  for (const text of entity.texts) {
    const div = document.createElement("div");
    div.className = "label";
    div.textContent = text.text;
    div.style.color = "#" + colourOf(text.color).getHexString();
    labelLayer.appendChild(div);
    labels.push({ div, at: vec(text.pose.position) });
  }
  return { group, labels };
}

function dropEntity(id) {
  const old = entities.get(id);
  if (!old) return;
  scene.remove(old.group);
  old.group.traverse((o) => {
    if (o.geometry) o.geometry.dispose();
    if (o.material) o.material.dispose();
  });
  for (const l of old.labels) l.div.remove();
  entities.delete(id);
}

function entityVisible(id) {
  if (id === "caixas") return view.showBoxes;
  if (id === "distancias") return view.showLines;
  return true;
}

function showScene(update) {
  for (const d of update.deletions) {
    if (d.type === 1) for (const id of [...entities.keys()]) dropEntity(id);
    else dropEntity(d.id);
  }
  for (const entity of update.entities) {
    dropEntity(entity.id);
    const built = buildEntity(entity);
    built.group.visible = entityVisible(entity.id);
    scene.add(built.group);
    entities.set(entity.id, built);
    if (entity.id === "caixas") stats.cubes = entity.cubes.length;
  }
}

function applyVisibility() {
  for (const [id, e] of entities) e.group.visible = entityVisible(id);
}

// ---- head-up display ----------------------------------------------------------------------------
const hud = document.getElementById("hud");
const help = document.getElementById("help");
let state = null;
let connection = "conectando...";
const fmt = (v, digits = 2) => (v === null || v === undefined ? "--" : Number(v).toFixed(digits));

function drawHud() {
  if (!state) {
    hud.textContent = connection;
  } else {
    const s = state, d = s.dist, c = s.corredor;
    const status = s.status === "OK" ? '<span id="status-ok">OK</span>' : '<span id="status-off">OFF</span>';
    hud.innerHTML =
      `STATUS: ${status}   pcl ${fmt(s.freq.pcl, 0)} Hz  imu ${fmt(s.freq.imu, 0)} Hz   ` +
      `TEMP: ${fmt(s.temperatura, 1)}\u00b0C\n` +
      `R: ${fmt(s.imu.roll, 1)}\u00b0  P: ${fmt(s.imu.pitch, 1)}\u00b0  Y: ${fmt(s.imu.yaw, 1)}\u00b0   ` +
      `caixas: ${s.caixas}` + (s.caixa ? `  (mais proxima ${fmt(s.caixa.dist_m)} m)` : "") + "\n" +
      `dist      frente ${fmt(d.frente)}  tras ${fmt(d.tras)}  esq ${fmt(d.esquerda)}  ` +
      `dir ${fmt(d.direita)}  sup ${fmt(d.sup)}  inf ${fmt(d.inf)}\n` +
      `corredor  frente ${fmt(c.frente)}  tras ${fmt(c.tras)}  esq ${fmt(c.esquerda)}  ` +
      `dir ${fmt(c.direita)}  sup ${fmt(c.sup)}  inf ${fmt(c.inf)}` +
      (connection ? `\n${connection}` : "");
  }
  help.textContent = HELP();
}

// ---- the protocol ---------------------------------------------------------------------------
const stats = { connected: false, points: 0, cubes: 0, messages: 0 };
const topics = new Map();       // subscription id -> topic
const channels = new Map();     // topic -> channel id
const subscriptionOf = new Map();  // topic -> subscription id
let socket = null;
let nextSubscription = 1;
const decoder = new TextDecoder();

function subscribe(topic) {
  if (!socket || !channels.has(topic) || subscriptionOf.has(topic)) return;
  const id = nextSubscription++;
  subscriptionOf.set(topic, id);
  topics.set(id, topic);
  socket.send(JSON.stringify({ op: "subscribe", subscriptions: [{ id, channelId: channels.get(topic) }] }));
}

function unsubscribe(topic) {
  const id = subscriptionOf.get(topic);
  if (!socket || id === undefined) return;
  subscriptionOf.delete(topic);
  topics.delete(id);
  socket.send(JSON.stringify({ op: "unsubscribe", subscriptionIds: [id] }));
}

function cloudTopic() { return view.windowCloud ? "/lidar/points_window" : "/lidar/points"; }

function onText(message) {
  if (message.op === "advertise") {
    for (const c of message.channels) channels.set(c.topic, c.id);
    for (const topic of [cloudTopic(), "/lidar/obstacles", "/lidar/state"]) subscribe(topic);
  } else if (message.op === "status" && message.level >= 2) {
    console.warn("live view:", message.message);
  }
}

function onData(buffer) {
  const view8 = new DataView(buffer);
  if (view8.getUint8(0) !== 1) return;
  const topic = topics.get(view8.getUint32(1, true));
  if (!topic) return;
  const message = JSON.parse(decoder.decode(new Uint8Array(buffer, 13)));
  stats.messages++;
  if (topic === cloudTopic()) showCloud(message);
  else if (topic === "/lidar/obstacles") showScene(message);
  else if (topic === "/lidar/state") state = message;
}

function connect() {
  socket = new WebSocket(`ws://${location.host}/`, [SUBPROTOCOL]);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => { stats.connected = true; connection = ""; };
  socket.onmessage = (event) => {
    if (typeof event.data === "string") onText(JSON.parse(event.data));
    else onData(event.data);
  };
  socket.onclose = () => {
    stats.connected = false;
    connection = "sem ligacao ao servico; nova tentativa em 2 s";
    subscriptionOf.clear();
    topics.clear();
    channels.clear();
    setTimeout(connect, 2000);
  };
}

window.addEventListener("keydown", (event) => {
  switch (event.key.toLowerCase()) {
    case "b": view.showBoxes = !view.showBoxes; applyVisibility(); break;
    case "a": view.showLines = !view.showLines; applyVisibility(); break;
    case "d": view.colourByDistance = !view.colourByDistance; recolour(); break;
    case "r": fitCamera(); break;
    case "w":
      unsubscribe(cloudTopic());
      view.windowCloud = !view.windowCloud;
      subscribe(cloudTopic());
      break;
    default: return;
  }
  drawHud();
});

// ---- drawing --------------------------------------------------------------------------------
const projected = new THREE.Vector3();
function placeLabels() {
  const w = container.clientWidth, h = container.clientHeight;
  for (const [id, e] of entities) {
    for (const l of e.labels) {
      projected.copy(l.at).project(camera);
      const visible = e.group.visible && projected.z < 1;
      l.div.style.display = visible ? "" : "none";
      if (visible) {
        l.div.style.left = `${((projected.x + 1) / 2) * w}px`;
        l.div.style.top = `${((1 - projected.y) / 2) * h}px`;
      }
    }
  }
}

function frame() {
  controls.update();
  renderer.render(scene, camera);
  placeLabels();
  drawHud();
  requestAnimationFrame(frame);
}

// What a test reads: what has been received and drawn.
window.liveView = { stats, view, fitCamera };
connect();
frame();
