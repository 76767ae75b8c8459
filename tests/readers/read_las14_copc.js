// Reads every field of the LAS 1.4 (point format 6) survey file with the
// npm package copc, a LAS reader nobody here wrote, and checks the header
// against the records and the records against the CSV of the same run.
// Usage: node read_las14_copc.js SAMPLE_DIR EPSG_CODE
// Exit 0: all as expected; 1: a mismatch; 77: the reader is not installed.
'use strict';
const fs = require('fs');
const path = require('path');
const {createRequire} = require('module');

const deps = process.env.POINTFALL_READERS_DIR || '';
let copc;
try {
  copc = createRequire(path.join(deps, 'node_modules', 'x.js'))('copc');
} catch (e) {
  console.log(`SKIP: copc is not installed in ${deps} (run tools/install-deps.sh --tests): ${e.message}`);
  process.exit(77);
}
const {Las} = copc;

const dir = process.argv[2];
const epsg = process.argv[3];
const lasPath = path.join(dir, 'survey14.las');
const bytes = new Uint8Array(fs.readFileSync(lasPath));

let failures = 0;
function check(ok, what) {
  if (!ok) {
    if (failures < 30) console.log(`MISMATCH: ${what}`);
    failures++;
  }
}

(async () => {
  const h = Las.Header.parse(bytes.subarray(0, 375));
  check(h.majorVersion === 1 && h.minorVersion === 4, `version ${h.majorVersion}.${h.minorVersion}`);
  check(h.headerLength === 375, `header length ${h.headerLength}`);
  check(h.pointDataRecordFormat === 6, `point format ${h.pointDataRecordFormat}`);
  check(h.pointDataRecordLength === 30, `record length ${h.pointDataRecordLength}`);
  check(h.generatingSoftware.startsWith('Pointfall '), `generating software '${h.generatingSoftware}'`);
  check(h.systemIdentifier === 'SIMULATION', `system identifier '${h.systemIdentifier}'`);
  check(h.fileSourceId === 0, `file source ID ${h.fileSourceId}`);
  check(h.globalEncoding === (1 | 16), `global encoding ${h.globalEncoding} (adjusted GPS time and WKT bits)`);
  check(h.scale.every((s) => s === 0.001), `scale ${h.scale}`);
  check(h.offset.every((o) => o % 1000 === 0), `offsets ${h.offset} are whole kilometres`);
  check(h.waveformDataOffset === 0 && h.evlrOffset === 0 && h.evlrCount === 0, 'no waveforms, no extended VLRs');
  // The legacy counts must be zero in formats 6 to 10.
  const legacy = Las.Header.parse(Object.assign(new Uint8Array(375), bytes.subarray(0, 375), {[25]: 2}));
  check(legacy.pointCount === 0 && legacy.pointCountByReturn.every((c) => c === 0), 'legacy counts are 0');

  // The coordinate system record.
  const vlrs = await Las.Vlr.walk(lasPath, h);
  check(vlrs.length === 1 && h.vlrCount === 1, `${vlrs.length} VLRs`);
  const wktRecord = Las.Vlr.find(vlrs, 'LASF_Projection', 2112);
  check(wktRecord !== undefined, 'the OGC WKT record (LASF_Projection, 2112)');
  if (wktRecord) {
    const text = Buffer.from(bytes.subarray(wktRecord.contentOffset, wktRecord.contentOffset + wktRecord.contentLength))
                     .toString('latin1');
    check(text.endsWith('\0'), 'the WKT is null-terminated');
    check(text.includes(`AUTHORITY["EPSG","${epsg}"]`) || text.includes(`ID["EPSG",${epsg}]`),
          `the WKT names EPSG ${epsg}: ${text.slice(0, 80)}...`);
  }
  check(h.pointDataOffset === 375 + 54 + (wktRecord ? wktRecord.contentLength : 0), `point offset ${h.pointDataOffset}`);

  // Records.
  const view = Las.View.create(bytes.subarray(h.pointDataOffset), h);
  const n = view.pointCount;
  check(n === h.pointCount, `records ${n}, header count ${h.pointCount}`);
  check(h.pointCountByReturn[0] === n && h.pointCountByReturn.slice(1).every((c) => c === 0),
        `by-return counts ${h.pointCountByReturn}`);
  const get = {};
  for (const d of ['X', 'Y', 'Z', 'Intensity', 'ReturnNumber', 'NumberOfReturns', 'Synthetic', 'KeyPoint', 'Withheld',
                   'Overlap', 'ScannerChannel', 'ScanDirectionFlag', 'EdgeOfFlightLine', 'Classification', 'UserData',
                   'ScanAngle', 'PointSourceId', 'GpsTime']) {
    get[d] = view.getter(d);
  }

  const lines = fs.readFileSync(path.join(dir, 'survey14.csv'), 'latin1').split('\n');
  check(lines[0] === 'x,y,z,gps_time,intensity,classification,flight_line,scan_angle_deg,return_number,number_of_returns',
        `CSV header '${lines[0]}'`);
  check(lines.length - 2 === n && lines[lines.length - 1] === '', `CSV lines ${lines.length - 2}, records ${n}`);

  const min = [Infinity, Infinity, Infinity], max = [-Infinity, -Infinity, -Infinity];
  let forward = 0, edges = 0, previousTime = -Infinity;
  const classes = new Set(), sources = new Set();
  for (let i = 0; i < n; ++i) {
    const p = [get.X(i), get.Y(i), get.Z(i)];
    for (let a = 0; a < 3; ++a) {
      min[a] = Math.min(min[a], p[a]);
      max[a] = Math.max(max[a], p[a]);
    }
    const c = lines[i + 1].split(',');
    for (let a = 0; a < 3; ++a) check(Math.abs(p[a] - Number(c[a])) <= 0.0005 + 1e-7, `point ${i} axis ${a}: ${p[a]} vs ${c[a]}`);
    const t = get.GpsTime(i);
    check(Math.abs(t - Number(c[3])) <= 0.5e-6 + 1e-7, `point ${i} time ${t} vs ${c[3]}`);
    check(t >= previousTime, `point ${i}: time goes back`);
    previousTime = t;
    check(get.Intensity(i) === Number(c[4]), `point ${i} intensity ${get.Intensity(i)} vs ${c[4]}`);
    check(get.Classification(i) === Number(c[5]), `point ${i} class ${get.Classification(i)} vs ${c[5]}`);
    check(get.PointSourceId(i) === Number(c[6]), `point ${i} flight line ${get.PointSourceId(i)} vs ${c[6]}`);
    check(Math.abs(get.ScanAngle(i) - Number(c[7])) <= 0.003 + 1e-9, `point ${i} scan angle ${get.ScanAngle(i)} vs ${c[7]}`);
    check(get.ReturnNumber(i) === 1 && get.NumberOfReturns(i) === 1 && c[8] === '1' && c[9] === '1',
          `point ${i} return 1 of 1`);
    check(get.Synthetic(i) + get.KeyPoint(i) + get.Withheld(i) + get.Overlap(i) + get.ScannerChannel(i) +
              get.UserData(i) === 0,
          `point ${i} flags, channel and user data are 0`);
    forward += get.ScanDirectionFlag(i);
    edges += get.EdgeOfFlightLine(i);
    classes.add(get.Classification(i));
    sources.add(get.PointSourceId(i));
  }
  // The bounds are the extents of the stored coordinates.
  for (let a = 0; a < 3; ++a) {
    check(h.min[a] === min[a] && h.max[a] === max[a], `axis ${a} bounds ${h.min[a]}..${h.max[a]}, stored ${min[a]}..${max[a]}`);
  }
  // The sweep goes both ways about equally often and turns now and then.
  check(forward > 0.3 * n && forward < 0.7 * n, `${forward} of ${n} points on a forward sweep`);
  check(edges > 0 && edges < 0.05 * n, `${edges} edge points`);
  check(classes.has(2) && classes.has(6), `classes ${[...classes]}`);
  check(sources.size > 1, `flight lines ${[...sources]}`);

  console.log(`${n} points, ${failures} mismatches`);
  process.exit(failures === 0 ? 0 : 1);
})().catch((e) => {
  console.log(`FAILED: ${e.stack}`);
  process.exit(1);
});
