// Reads sample.las with @loaders.gl/las, a LAS reader nobody here wrote.
// Usage: node read_las_loaders.mjs SAMPLE_DIR
// Exit 0: all as expected; 1: a mismatch; 77: the reader is not installed.
import {createRequire} from 'node:module';
import {readFileSync} from 'node:fs';
import path from 'node:path';

const require = createRequire(import.meta.url);
const expected = require('./expected_sample.js');
const deps = process.env.POINTFALL_READERS_DIR;

let core, las;
try {
  const req = createRequire(path.join(deps, 'node_modules', 'x.js'));
  core = req('@loaders.gl/core');
  las = req('@loaders.gl/las');
} catch (e) {
  console.log(`SKIP: @loaders.gl/las is not installed in ${deps} (run tools/install-deps.sh --tests): ${e.message}`);
  process.exit(77);
}

let failures = 0;
function check(ok, what) {
  if (!ok) {
    console.log(`MISMATCH: ${what}`);
    failures++;
  }
}
const near = (a, b, tol = 1e-6) => Math.abs(a - b) <= tol;

const bytes = readFileSync(path.join(process.argv[2], 'sample.las'));
const data = await core.parse(bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.byteLength),
                              las.LASLoader, {worker: false, las: {fp64: true}});

const positions = data.attributes.POSITION.value;
const n = positions.length / 3;
check(n === expected.lasPoints.length, `point count ${n}, expected ${expected.lasPoints.length}`);
check(data.header.vertexCount === expected.pointCount,
      `header vertexCount ${data.header.vertexCount}, expected ${expected.pointCount}`);
expected.lasPoints.forEach((p, i) => {
  for (let k = 0; k < 3; k++) {
    const got = positions[3 * i + k];
    check(near(got, p[k]), `point ${i} axis ${k}: read ${got}, expected ${p[k]}`);
  }
});
// The header as the reader parsed it.
const hd = data.loaderData;
const b = expected.bounds;
check(hd.pointsOffset === 227 && hd.pointsFormatId === 0 && hd.pointsStructSize === 20,
      `offset ${hd.pointsOffset}, format ${hd.pointsFormatId}, record length ${hd.pointsStructSize}`);
check(hd.pointsCount === expected.pointCount, `header point count ${hd.pointsCount}`);
check(hd.scale.every((s) => s === 0.01) && hd.offset.every((o) => o === 0), `scale ${hd.scale}, offset ${hd.offset}`);
check(near(hd.mins[0], b.minX) && near(hd.mins[1], b.minY) && near(hd.mins[2], b.minZ),
      `header minima ${hd.mins}, expected ${[b.minX, b.minY, b.minZ]}`);
check(near(hd.maxs[0], b.maxX) && near(hd.maxs[1], b.maxY) && near(hd.maxs[2], b.maxZ),
      `header maxima ${hd.maxs}, expected ${[b.maxX, b.maxY, b.maxZ]}`);
// The box the reader computes from the records lies inside the header's.
const box = data.header.boundingBox;  // [[minX, minY, minZ], [maxX, maxY, maxZ]]
for (let k = 0; k < 3; k++) {
  check(box[0][k] >= hd.mins[k] - 1e-9 && box[1][k] <= hd.maxs[k] + 1e-9, `records' box ${box} outside the header's`);
}
const cls = data.attributes.classification && data.attributes.classification.value;
if (cls) check(Array.from(cls).every((c) => c === 1), `classification ${Array.from(cls)}, expected all 1`);
const intensity = data.attributes.intensity && data.attributes.intensity.value;
if (intensity) check(Array.from(intensity).every((v) => v === 0), `intensity ${Array.from(intensity)}, expected 0`);

if (failures) {
  console.log(`${failures} mismatch(es) reading sample.las with @loaders.gl/las`);
  process.exit(1);
}
console.log(`@loaders.gl/las read ${n} points, coordinates and bounds as written`);
