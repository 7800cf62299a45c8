// The page of hardgas-view: the spheres of each snapshot as one InstancedMesh, redrawn
// from /frame/K, which is fetched ahead of the slider so that playing does not wait.
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';

// The colours hardgas-plot gives the species, so that a figure and the view agree.
const SPECIES_COLOURS = ['#1f77b4', '#ff7f0e', '#2ca02c', '#9467bd', '#d62728', '#8c564b'];
const SPECIES_NAMES = 'abcdefghijklmnopqrstuvwxyz';
const RAMP = ['#440154', '#3b528b', '#21918c', '#5ec962', '#fde725'].map((c) => new THREE.Color(c));
// Snapshots kept in the page at once; a large file is streamed through this window.
const CACHE_BYTES = 256 * 1024 * 1024;
const FETCHES_AT_ONCE = 2;
const PLAY_INTERVAL_MS = 120;

const $ = (id) => document.getElementById(id);
const status = $('status');
const slider = $('slider');
const playButton = $('play');
const colourSelect = $('colour');

function showMessage(text) {
  const message = $('message');
  message.textContent = text;
  message.hidden = false;
}

function formatTime(seconds) {
  const units = [[1e-12, 'ps'], [1e-9, 'ns'], [1e-6, 'µs'], [1e-3, 'ms'], [1, 's']];
  let [scale, unit] = units[0];
  for (const [s, u] of units) if (Math.abs(seconds) >= s) [scale, unit] = [s, u];
  return `${(seconds / scale).toPrecision(4)} ${unit}`;
}

function ramp(x, colour) {
  const t = Math.min(Math.max(x, 0), 1) * (RAMP.length - 1);
  const i = Math.min(Math.floor(t), RAMP.length - 2);
  return colour.lerpColors(RAMP[i], RAMP[i + 1], t - i);
}

const meta = await fetch('/meta.json').then((r) => {
  if (!r.ok) throw new Error(`/meta.json: ${r.status} ${r.statusText}`);
  return r.json();
}).catch((e) => {
  showMessage(`The server could not read the folder: ${e.message}`);
  throw e;
});

const L = meta.box_nm;
const N = meta.num_molecules;
const K = meta.frames;
$('folder').textContent = meta.folder;
status.dataset.spheres = N;
status.dataset.frames = K;
status.textContent = `${N.toLocaleString('en')} spheres, ${K.toLocaleString('en')} frames`;

// ---- scene: z is height, as in the simulation --------------------------------------------
const renderer = new THREE.WebGLRenderer({ antialias: true });
renderer.setPixelRatio(window.devicePixelRatio);
renderer.setSize(window.innerWidth, window.innerHeight);
$('scene').appendChild(renderer.domElement);

const scene = new THREE.Scene();
scene.background = new THREE.Color('#15181d');
scene.add(new THREE.HemisphereLight('#ffffff', '#404040', 2.2));
const sun = new THREE.DirectionalLight('#ffffff', 1.6);
sun.position.set(0.4 * L, -0.8 * L, 2 * L);
scene.add(sun);

const camera = new THREE.PerspectiveCamera(35, window.innerWidth / window.innerHeight, L * 0.01, L * 50);
camera.up.set(0, 0, 1);
camera.position.set(2.1 * L, -1.6 * L, 1.5 * L);
const controls = new OrbitControls(camera, renderer.domElement);
controls.target.set(L / 2, L / 2, L / 2);
controls.update();

const box = new THREE.LineSegments(new THREE.EdgesGeometry(new THREE.BoxGeometry(L, L, L)),
  new THREE.LineBasicMaterial({ color: '#6b7280' }));
box.position.set(L / 2, L / 2, L / 2);
scene.add(box);

function plane(z, colour, opacity) {
  const mesh = new THREE.Mesh(new THREE.PlaneGeometry(L, L), new THREE.MeshBasicMaterial({
    color: colour, transparent: true, opacity, side: THREE.DoubleSide, depthWrite: false }));
  mesh.position.set(L / 2, L / 2, z);
  scene.add(mesh);
  const edge = new THREE.LineSegments(new THREE.EdgesGeometry(mesh.geometry), new THREE.LineBasicMaterial({ color: colour }));
  edge.position.copy(mesh.position);
  scene.add(edge);
}
if (meta.walls) {
  // Thermal walls warm, specular ones cold.
  const wallColour = meta.thermal_walls ? '#c0603a' : '#5a7fa8';
  plane(0, wallColour, 0.35);
  plane(L, wallColour, 0.12);
}
if (meta.metal_z_nm !== null) plane(meta.metal_z_nm, '#d8dde3', 0.28);

const segments = N <= 5000 ? 20 : N <= 50000 ? 12 : 8;
const spheres = new THREE.InstancedMesh(new THREE.SphereGeometry(1, segments, Math.ceil(segments * 0.75)),
  new THREE.MeshLambertMaterial(), N);
spheres.instanceMatrix.setUsage(THREE.DynamicDrawUsage);
// Spheres cross the periodic faces from frame to frame: bounds computed once would cull them.
spheres.frustumCulled = false;
spheres.count = 0;
{
  const m = spheres.instanceMatrix.array;
  for (let i = 0; i < N; i++) {
    const r = meta.diameter_nm[i] / 2;
    m.set([r, 0, 0, 0, 0, r, 0, 0, 0, 0, r, 0, 0, 0, 0, 1], 16 * i);
  }
  const black = new THREE.Color(0, 0, 0);
  for (let i = 0; i < N; i++) spheres.setColorAt(i, black);
}
scene.add(spheres);

let renderQueued = false;
function requestRender() {
  if (renderQueued) return;
  renderQueued = true;
  requestAnimationFrame(() => {
    renderQueued = false;
    renderer.render(scene, camera);
  });
}
controls.addEventListener('change', requestRender);
window.addEventListener('resize', () => {
  camera.aspect = window.innerWidth / window.innerHeight;
  camera.updateProjectionMatrix();
  renderer.setSize(window.innerWidth, window.innerHeight);
  requestRender();
});

if (K === 0) {
  showMessage(`Nothing to show: ${meta.message}.`);
  status.dataset.frame = '';
  requestRender();
} else {
  startViewer();
}

// ---- frames ------------------------------------------------------------------------------
function startViewer() {
  const frameBytes = 24 * N;
  const cacheFrames = Math.max(2, Math.floor(CACHE_BYTES / frameBytes));
  const cache = new Map();
  const pending = new Map();
  let current = 0;
  let shown = -1;
  let inFlight = 0;
  let speedScale = 0;
  const colour = new THREE.Color();

  function load(k) {
    if (cache.has(k)) return Promise.resolve(cache.get(k));
    if (!pending.has(k)) {
      pending.set(k, fetch(`/frame/${k}`).then((r) => {
        if (!r.ok) throw new Error(`/frame/${k}: ${r.status} ${r.statusText}`);
        return r.arrayBuffer();
      }).then((buffer) => {
        const data = new Float32Array(buffer);
        if (data.length !== 6 * N) throw new Error(`/frame/${k}: ${data.length} values, expected ${6 * N}`);
        cache.set(k, data);
        evict();
        $('loaded').textContent = `${cache.size} of ${K} frames in memory`;
        return data;
      }).catch((e) => {
        showMessage(`Could not load frame ${k}: ${e.message}`);
        throw e;
      }).finally(() => pending.delete(k)));
    }
    return pending.get(k);
  }

  function evict() {
    while (cache.size > cacheFrames) {
      let farthest = -1;
      for (const k of cache.keys()) if (farthest < 0 || ahead(k) > ahead(farthest)) farthest = k;
      cache.delete(farthest);
    }
  }

  // How far frame k lies ahead of the slider, going forward and wrapping as playing does.
  function ahead(k) {
    return (k - current + K) % K;
  }

  function pump() {
    while (inFlight < FETCHES_AT_ONCE) {
      let next = -1;
      for (let d = 0; d < Math.min(K, cacheFrames); d++) {
        const k = (current + d) % K;
        if (!cache.has(k) && !pending.has(k)) { next = k; break; }
      }
      if (next < 0) return;
      inFlight++;
      load(next).catch(() => {}).finally(() => { inFlight--; pump(); });
    }
  }

  function paint(data) {
    const mode = colourSelect.value;
    const legend = $('legend');
    if (mode === 'species') {
      for (let i = 0; i < N; i++) spheres.setColorAt(i, colour.set(SPECIES_COLOURS[meta.species[i] % SPECIES_COLOURS.length]));
      const counts = new Array(meta.num_species).fill(0);
      for (const s of meta.species) counts[s]++;
      legend.innerHTML = counts.map((n, s) => `<span style="background:${SPECIES_COLOURS[s % SPECIES_COLOURS.length]}"></span>`
        + `${SPECIES_NAMES[s] ?? s} (${n.toLocaleString('en')}, ${meta.diameter_nm[meta.species.indexOf(s)]?.toPrecision(3) ?? '–'} nm)`).join('');
    } else if (mode === 'speed') {
      for (let i = 0; i < N; i++) {
        const v = Math.hypot(data[6 * i + 3], data[6 * i + 4], data[6 * i + 5]);
        spheres.setColorAt(i, ramp(v / speedScale, colour));
      }
      legend.innerHTML = `speed 0 <span class="bar"></span> ${speedScale.toPrecision(3)} m/s`;
    } else {
      for (let i = 0; i < N; i++) spheres.setColorAt(i, ramp(data[6 * i + 2] / L, colour));
      legend.innerHTML = `height 0 <span class="bar"></span> ${L.toPrecision(3)} nm`;
    }
    const bar = legend.querySelector('.bar');
    if (bar) bar.style.background = `linear-gradient(to right, ${RAMP.map((c) => `#${c.getHexString()}`).join(', ')})`;
    spheres.instanceColor.needsUpdate = true;
  }

  function draw(k) {
    const data = cache.get(k);
    if (speedScale === 0) {
      // Twice the root-mean-square speed of the first frame drawn, kept for all frames so that
      // colours compare across time.
      let sum = 0;
      for (let i = 0; i < N; i++) sum += data[6 * i + 3] ** 2 + data[6 * i + 4] ** 2 + data[6 * i + 5] ** 2;
      speedScale = 2 * Math.sqrt(sum / N) || 1;
    }
    const m = spheres.instanceMatrix.array;
    for (let i = 0; i < N; i++) {
      m[16 * i + 12] = data[6 * i];
      m[16 * i + 13] = data[6 * i + 1];
      m[16 * i + 14] = data[6 * i + 2];
    }
    spheres.count = N;
    spheres.instanceMatrix.needsUpdate = true;
    paint(data);
    shown = k;
    status.dataset.frame = k;
    status.dataset.time = meta.times[k];
    $('time').textContent = `frame ${k} of ${K - 1}, t = ${formatTime(meta.times[k])}`;
    requestRender();
  }

  function show(k) {
    current = k;
    slider.value = k;
    if (cache.has(k)) {
      draw(k);
    } else {
      $('time').textContent = `frame ${k} of ${K - 1}: loading…`;
      load(k).then(() => { if (current === k) draw(k); }).catch(() => {});
    }
    pump();
  }

  let timer = null;
  function setPlaying(on) {
    clearInterval(timer);
    timer = on ? setInterval(() => {
      const next = (current + 1) % K;
      if (shown === current && cache.has(next)) show(next);
    }, PLAY_INTERVAL_MS) : null;
    playButton.textContent = on ? 'Pause' : 'Play';
  }

  slider.max = K - 1;
  slider.disabled = false;
  playButton.disabled = K < 2;
  slider.addEventListener('input', () => show(Number(slider.value)));
  playButton.addEventListener('click', () => setPlaying(timer === null));
  colourSelect.addEventListener('change', () => {
    if (shown >= 0 && cache.has(shown)) {
      paint(cache.get(shown));
      requestRender();
    }
  });
  show(0);
}
